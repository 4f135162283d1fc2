#include "TestSupport.h"

#include "cppmicroservices/BundleContext.h"
#include "cppmicroservices/Constants.h"
#include "cppmicroservices/ServiceFactory.h"
#include "cppmicroservices/ServiceObjects.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

using namespace cppmicroservices;

namespace {

struct ICounter {
    virtual ~ICounter() = default;
};
struct Counter final : ICounter {};

class SlowSingletonFactory final : public ServiceFactory {
public:
    std::atomic<int> gets{0};
    std::atomic<int> ungets{0};
    InterfaceMapConstPtr GetService(Bundle const&, ServiceRegistrationBase const&) override {
        ++gets;
        std::this_thread::yield();
        return MakeInterfaceMap<ICounter>(std::make_shared<Counter>());
    }
    void UngetService(Bundle const&, ServiceRegistrationBase const&,
                      InterfaceMapConstPtr const&) override {
        ++ungets;
    }
};

} // namespace

TEST(Concurrency, RegistryOperationsFromManyThreadsStayConsistent) {
    fwtest::RunningFramework fw;
    auto context = fw.framework.GetBundleContext();
    auto factory = std::make_shared<SlowSingletonFactory>();
    auto factoryReg = context.RegisterService<ICounter>(
        ToFactory(factory), {{Constants::SERVICE_SCOPE, Constants::SCOPE_SINGLETON}});
    auto factoryRef = context.GetServiceReference<ICounter>();

    constexpr int threads = 6;
    constexpr int rounds = 200;
    std::latch start(threads);
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < rounds; ++i) {
                // Register, find, use and withdraw a service of one's own...
                auto reg = context.RegisterService<ICounter>(std::make_shared<Counter>(),
                                                             {{"owner", t}, {"round", i}});
                auto mine = context.GetServiceReferences<ICounter>(
                    "(&(owner=" + std::to_string(t) + ")(round=" + std::to_string(i) + "))");
                if (mine.size() != 1 || !context.GetService(mine[0])) {
                    ++failures;
                }
                // ...while sharing the factory's singleton with everyone.
                auto shared = context.GetServiceObjects(factoryRef).GetService();
                if (!shared) {
                    ++failures;
                }
                reg.Unregister();
            }
        });
    }
    for (auto& w : workers) {
        w.join();
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(context.GetServiceReferences<ICounter>().size(), 1u); // only the factory's
    EXPECT_EQ(factory->gets.load(), factory->ungets.load()); // every object made was given back
    EXPECT_GE(factory->gets.load(), 1);
}

TEST(Concurrency, ConcurrentInstallsOfOneLocationGiveOneBundle) {
    fwtest::RunningFramework fw;
    auto context = fw.framework.GetBundleContext();
    constexpr int threads = 4;
    std::latch start(threads);
    std::vector<long> ids(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            start.arrive_and_wait();
            ids[t] = context.InstallBundles(FWTEST_PLAIN_PATH).at(0).GetBundleId();
        });
    }
    for (auto& w : workers) {
        w.join();
    }
    for (long id : ids) {
        EXPECT_EQ(id, ids.front());
    }
    EXPECT_EQ(context.GetBundles().size(), 2u);
}
