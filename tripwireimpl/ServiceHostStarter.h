#pragma once

#include "halvexconnector/tripwire/Enumerations.h"

#include <halvexconnector/serviceprocess/client_lifetime/ServiceProcessKeepAlive.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace halvexconnector::tripwireimpl {

// How long and how often a service start looks for a running agent. The defaults are the
// production values; the unit tests shorten them.
struct StartPolling {
    // Polling gives up once more than this has elapsed.
    std::chrono::milliseconds limit{60'000};
    // Interval while at most `shortPhase` has elapsed; the service host usually comes up then.
    std::chrono::milliseconds shortInterval{100};
    std::chrono::milliseconds shortPhase{1'000};
    // Interval afterwards.
    std::chrono::milliseconds longInterval{1'000};
};

// Brings a mode's services up: the standard mode's service host under a keep-alive, waited for
// by polling its lock root until the component is deactivated; any other mode's launcher.
// Safe to use from several threads at once.
class ServiceHostStarter {
public:
    explicit ServiceHostStarter(StartPolling polling = {}) : polling(polling) {}

    // The start operation: the mode's installation must be there; the standard mode then starts
    // the service host (startServiceHostWithTiming), any other mode runs the installation's
    // launcher detached and judges by its exit status.
    tripwire::InstallConnectorResult start(tripwire::HALVEXServicesMode mode);

    // ensureServiceHostRunning, then the startup-timing event with the times taken around it.
    bool startServiceHostWithTiming();

    // Revives the keep-alive when it has failed for good, then looks for a running agent under
    // the standard lock root until one shows up (true), the polling limit passes or the starter
    // is deactivated (false).
    bool ensureServiceHostRunning();

    // A deactivated starter wakes and stops every wait, and lets the service host go.
    void activate();
    void deactivate();

private:
    // Replaces a keep-alive that has failed for good by a newly started one. Serialised so that
    // concurrent starts never launch two service processes for one failure.
    void reviveKeepAliveIfFailed();

    // Sleeps until the next poll is due. False when the starter is (or becomes) deactivated.
    bool waitForNextPoll(std::chrono::milliseconds elapsed);

    const StartPolling polling;
    serviceprocess::client_lifetime::ServiceProcessKeepAlive keepAlive;
    std::mutex keepAliveMutex;
    bool stopFlag = false;
    std::condition_variable wakeUpCondition;
    std::mutex stateMutex;
};

} // namespace halvexconnector::tripwireimpl
