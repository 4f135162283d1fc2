#include "JsonlLoggingService.h"

#include "Directory.h"
#include "EventFile.h"
#include "EventLine.h"

#include <telx/util/DateTime.h>
#include <telx/util/Location.h>

#include <pthread.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace telx::detail {
namespace {

void requireField(const std::string& value, const char* field) {
    if (value.empty()) {
        throw std::invalid_argument(std::string("telx: the event's ") + field + " is not set");
    }
}

} // namespace

JsonlLoggingService& JsonlLoggingService::instance() {
    // Deliberately leaked: other libraries may log from their static destructors at exit.
    static JsonlLoggingService* const service = new JsonlLoggingService;
    return *service;
}

JsonlLoggingService::JsonlLoggingService() {
    // A forked child must not inherit a mutex held by another thread, and numbers its own events
    // from 1.
    pthread_atfork(&beforeFork, &afterForkInParent, &afterForkInChild);
}

void JsonlLoggingService::beforeFork() {
    instance().mutex.lock();
}

void JsonlLoggingService::afterForkInParent() {
    instance().mutex.unlock();
}

void JsonlLoggingService::afterForkInChild() {
    instance().lastSequence = 0;
    instance().mutex.unlock();
}

std::uint64_t JsonlLoggingService::logData(const DataIdentification& identification,
                                           const TelxData& data, const TelxOption& option) {
    requireField(identification.getProduct(), "product");
    requireField(identification.getAppComponent(), "application component");
    requireField(identification.getEventKey(), "event key");

    const auto dir = util::getTelemetryDirectory();
    createPrivateDirectories(dir);

    std::lock_guard lock(mutex);
    LockedEventFile file(dir / "events.jsonl");
    const EventHeader header{lastSequence + 1, ::getpid(), util::getDateTimeWithMilliSec()};
    file.append(formatEventLine(header, identification, data), option.isDurable());
    lastSequence = header.sequence;
    return header.sequence;
}

} // namespace telx::detail
