#include "../FrameworkTestUtil.h"

#include "cppmicroservices/Constants.h"
#include "cppmicroservices/ServiceFactory.h"
#include "cppmicroservices/ServiceObjects.h"

#include <tripwire/testsupport/Thrown.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <latch>
#include <thread>

using namespace cppmicroservices;
using namespace tripwire::testsupport;

namespace {

struct IWidget {
    virtual ~IWidget() = default;
};
struct Widget final : IWidget {};

InterfaceMapConstPtr AWidget() {
    return MakeInterfaceMap<IWidget>(std::make_shared<Widget>());
}

/// Counts calls; `make` decides what GetService returns.
class CountingFactory final : public ServiceFactory {
public:
    std::function<InterfaceMapConstPtr()> make = AWidget;
    std::atomic<int> gets{0};
    std::atomic<int> ungets{0};
    bool throwOnUnget = false;
    std::mutex mutex;
    std::vector<long> getBundles, ungetBundles;
    InterfaceMapConstPtr GetService(Bundle const& bundle, ServiceRegistrationBase const&) override {
        ++gets;
        {
            std::lock_guard lock(mutex);
            getBundles.push_back(bundle.GetBundleId());
        }
        return make();
    }
    void UngetService(Bundle const& bundle, ServiceRegistrationBase const&,
                      InterfaceMapConstPtr const&) override {
        ++ungets;
        std::lock_guard lock(mutex);
        ungetBundles.push_back(bundle ? bundle.GetBundleId() : -1);
        if (throwOnUnget) {
            throw std::runtime_error("unget failed");
        }
    }
};

ServiceProperties Scope(std::string const& scope) {
    return {{Constants::SERVICE_SCOPE, scope}};
}

} // namespace

class ServiceFactoryTest : public ::testing::Test {
protected:
    fwtest::RunningFramework fw;
    BundleContext context = fw.framework.GetBundleContext();
    std::shared_ptr<CountingFactory> factory = std::make_shared<CountingFactory>();
};

TEST_F(ServiceFactoryTest, SingletonIsMadeOnFirstUseAndGivenBackWhenTheLastUserReleasesIt) {
    auto reg =
        context.RegisterService<IWidget>(ToFactory(factory), Scope(Constants::SCOPE_SINGLETON));
    auto ref = context.GetServiceReference<IWidget>();
    EXPECT_EQ(factory->gets, 0); // nothing made at registration
    EXPECT_EQ(any_cast<std::string>(ref.GetProperty(Constants::SERVICE_SCOPE)), "singleton");
    auto a = context.GetService(ref);
    auto b = context.GetServiceObjects(ref).GetService();
    ASSERT_TRUE(a);
    EXPECT_EQ(a, b);
    EXPECT_EQ(factory->gets, 1);
    a.reset();
    EXPECT_EQ(factory->ungets, 0);
    b.reset();
    EXPECT_EQ(factory->ungets, 1);
    auto c = context.GetService(ref); // made anew after the give-back
    EXPECT_EQ(factory->gets, 2);
    reg.Unregister(); // gives back what is still in use, once
    EXPECT_EQ(factory->ungets, 2);
    c.reset();
    EXPECT_EQ(factory->ungets, 2);
}

TEST_F(ServiceFactoryTest, BundleScopeMakesOneObjectPerBundleAndIsTheDefault) {
    auto reg = context.RegisterService<IWidget>(ToFactory(factory));
    auto ref = context.GetServiceReference<IWidget>();
    EXPECT_EQ(any_cast<std::string>(ref.GetProperty(Constants::SERVICE_SCOPE)), "bundle");
    auto plain = context.InstallBundles(FWTEST_PLAIN_PATH).at(0);
    plain.Start();
    auto other = plain.GetBundleContext();
    auto mine = context.GetService(ref);
    auto mineAgain = context.GetService(ref);
    auto theirs = other.GetService(other.GetServiceReference<IWidget>());
    EXPECT_EQ(mine, mineAgain);
    EXPECT_NE(mine, theirs);
    EXPECT_EQ(factory->gets, 2);
    EXPECT_EQ(factory->getBundles, (std::vector<long>{0, plain.GetBundleId()}));
    // A stopping bundle gives back what it got, even if it still holds pointers.
    plain.Stop();
    EXPECT_EQ(factory->ungets, 1);
    EXPECT_EQ(factory->ungetBundles, (std::vector<long>{plain.GetBundleId()}));
    theirs.reset();
    EXPECT_EQ(factory->ungets, 1); // not given back twice
}

TEST_F(ServiceFactoryTest, FailingOrRecursiveFactoriesYieldEmptyPointersAndFrameworkErrors) {
    auto reg =
        context.RegisterService<IWidget>(ToFactory(factory), Scope(Constants::SCOPE_SINGLETON));
    auto ref = context.GetServiceReference<IWidget>();
    // Throwing, giving nothing, giving a map without IWidget.
    std::vector<std::function<InterfaceMapConstPtr()>> const failing = {
        []() -> InterfaceMapConstPtr { throw std::runtime_error("factory exploded"); },
        [] { return InterfaceMapConstPtr(); },
        [] { return std::make_shared<InterfaceMap const>(); },
    };
    for (auto const& make : failing) {
        factory->make = make;
        EXPECT_EQ(context.GetServiceObjects(ref).GetService(), nullptr);
    }
    const auto errors = fw.TakeErrors();
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(whatThrown([&] { std::rethrow_exception(errors[0].GetThrowable()); }),
              "factory exploded");
    EXPECT_EQ(errors[0].GetBundle(), fw.framework);
    EXPECT_NE(errors[2].GetMessage().find(us_service_interface_iid<IWidget>()), std::string::npos);
    // The framework's log stream has it too.
    EXPECT_NE(fw.log.str().find("factory exploded"), std::string::npos);
    EXPECT_EQ(factory->ungets, 0);
    // A recursive call from the factory is refused instead of deadlocking.
    std::shared_ptr<IWidget> inner;
    factory->make = [&] {
        inner = context.GetService(ref);
        return AWidget();
    };
    factory->throwOnUnget = true;                // a failing give-back is reported, not thrown
    EXPECT_NE(context.GetService(ref), nullptr); // a later success is not blocked
    EXPECT_EQ(inner, nullptr);
    EXPECT_EQ(factory->ungets, 1);
    const auto more = fw.TakeErrors();
    ASSERT_EQ(more.size(), 2u);
    EXPECT_EQ(thrown<ServiceException>([&] { std::rethrow_exception(more[0].GetThrowable()); })
                  .value()
                  .GetType(),
              ServiceException::FACTORY_RECURSION);
}

TEST_F(ServiceFactoryTest, RegistryOperationsAndInstallsFromManyThreadsStayConsistent) {
    auto factoryReg =
        context.RegisterService<IWidget>(ToFactory(factory), Scope(Constants::SCOPE_SINGLETON));
    auto factoryRef = context.GetServiceReference<IWidget>();
    constexpr int threads = 6;
    constexpr int rounds = 200;
    std::latch start(threads);
    std::atomic<int> failures{0};
    std::vector<long> installed(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            start.arrive_and_wait();
            installed[t] = context.InstallBundles(FWTEST_PLAIN_PATH).at(0).GetBundleId();
            for (int i = 0; i < rounds; ++i) {
                // Register, find, use and withdraw a service of one's own...
                auto reg = context.RegisterService<IWidget>(std::make_shared<Widget>(),
                                                            {{"owner", t}, {"round", i}});
                auto mine = context.GetServiceReferences<IWidget>(
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
    // Installs of one location give one bundle.
    EXPECT_EQ(std::ranges::count(installed, installed.front()), threads);
    EXPECT_EQ(context.GetBundles().size(), 2u);
    EXPECT_EQ(context.GetServiceReferences<IWidget>().size(), 1u); // only the factory's
    EXPECT_EQ(factory->gets.load(), factory->ungets.load()); // every object made was given back
    EXPECT_GE(factory->gets.load(), 1);
}
