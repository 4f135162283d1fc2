#include "../FrameworkTestUtil.h"

#include "cppmicroservices/Constants.h"
#include "cppmicroservices/LDAPFilter.h"
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

struct IFoo {
    virtual ~IFoo() = default;
    virtual int Value() const = 0;
};
struct IBar {
    virtual ~IBar() = default;
};
struct Foo final : IFoo, IBar {
    explicit Foo(int v) : v(v) {}
    int Value() const override { return v; }
    int v;
};

InterfaceMapConstPtr AFoo() {
    return MakeInterfaceMap<IFoo>(std::make_shared<Foo>(0));
}

/// Counts calls; `make` decides what GetService returns.
struct CountingFactory final : ServiceFactory {
    std::function<InterfaceMapConstPtr()> make = AFoo;
    std::atomic<int> gets{0}, ungets{0};
    bool throwOnUnget = false;
    std::mutex mutex;
    std::vector<long> getBundles, ungetBundles;
    InterfaceMapConstPtr GetService(Bundle const& bundle, ServiceRegistrationBase const&) override {
        ++gets;
        std::lock_guard lock(mutex);
        getBundles.push_back(bundle.GetBundleId());
        return make();
    }
    void UngetService(Bundle const& bundle, ServiceRegistrationBase const&,
                      InterfaceMapConstPtr const&) override {
        ++ungets;
        std::lock_guard lock(mutex);
        ungetBundles.push_back(bundle ? bundle.GetBundleId() : -1);
        if (throwOnUnget)
            throw std::runtime_error("unget failed");
    }
};

} // namespace

class ServiceRegistryTest : public ::testing::Test {
protected:
    fwtest::RunningFramework fw;
    BundleContext context = fw.framework.GetBundleContext();
    std::shared_ptr<CountingFactory> factory = std::make_shared<CountingFactory>();
    ServiceProperties const singleton{{Constants::SERVICE_SCOPE, Constants::SCOPE_SINGLETON}};
};

TEST_F(ServiceRegistryTest, ReferencesCarryFrameworkPropertiesAndAreFoundByNameOrFilter) {
    auto first = context.RegisterService<IFoo>(std::make_shared<Foo>(1));
    auto second = context.RegisterService<IFoo, IBar>(std::make_shared<Foo>(2),
                                                      {{"tag", std::string("two")}});
    auto refs = context.GetServiceReferences<IFoo>();
    ASSERT_EQ(refs.size(), 2u);
    EXPECT_EQ(
        any_cast<std::vector<std::string>>(refs[1].GetProperty(Constants::OBJECTCLASS)).size(), 2u);
    EXPECT_EQ(any_cast<std::string>(refs[0].GetProperty(Constants::SERVICE_SCOPE)),
              Constants::SCOPE_SINGLETON);
    EXPECT_EQ(any_cast<std::string>(refs[1].GetProperty("TAG")), "two");
    // New properties replace the old, except the framework's own keys.
    auto const id = any_cast<long>(refs[1].GetProperty(Constants::SERVICE_ID));
    second.SetProperties({{"b", 2}, {Constants::SERVICE_ID, 999L}});
    EXPECT_TRUE(refs[1].GetProperty("tag").Empty());
    EXPECT_EQ(any_cast<long>(refs[1].GetProperty(Constants::SERVICE_ID)), id);
    first.Unregister();
    context.RegisterService<IBar>(std::make_shared<Foo>(8)).Unregister();
    auto const fooId = us_service_interface_iid<IFoo>();
    auto const barId = us_service_interface_iid<IBar>();
    EXPECT_EQ(fooId, "(anonymous namespace)::IFoo"); // the demangled name
    EXPECT_TRUE(us_service_interface_iid<void>().empty());
    EXPECT_EQ(context.GetServiceReferences(fooId, "(b>=2)").size(), 1u);
    EXPECT_TRUE(context.GetServiceReferences(fooId, "(b>=3)").empty());
    EXPECT_TRUE(context.GetServiceReferences("no::Such").empty());
    EXPECT_EQ(context.GetServiceReferences("").size(), 1u); // every service
    EXPECT_THROW(context.GetServiceReferences(fooId, "(b>=2"), std::invalid_argument);
    // Typed references convert to the interfaces the service offers.
    ServiceReferenceU untyped = context.GetServiceReferences(barId).at(0);
    EXPECT_EQ(untyped.GetInterfaceId(), barId);
    EXPECT_TRUE(untyped.IsConvertibleTo(fooId));
    EXPECT_FALSE(untyped.IsConvertibleTo("no::Such"));
    ServiceReference<IFoo> typed(untyped);
    ASSERT_TRUE(typed);
    EXPECT_EQ(typed.GetInterfaceId(), fooId);
    EXPECT_EQ(context.GetService(typed)->Value(), 2);
    struct IOther {
        virtual ~IOther() = default;
    };
    ServiceReference<IOther> notOffered(untyped);
    EXPECT_FALSE(notOffered);
    EXPECT_TRUE(LDAPFilter("(b=2)").Match(typed));
    // "::I" is I of the global namespace; colons alone name nothing, not "every service".
    EXPECT_EQ(context.GetServiceReference("::" + fooId).GetInterfaceId(), fooId);
    EXPECT_TRUE(context.GetServiceReferences("::").empty());
    // Keys that differ only in case would make a case-insensitive lookup ambiguous.
    EXPECT_THROW(context.RegisterService<IFoo>(std::make_shared<Foo>(5), {{"k", 1}, {"K", 2}}),
                 std::runtime_error);
    EXPECT_THROW(second.SetProperties({{"k", 1}, {"K", 2}}), std::invalid_argument);
    EXPECT_EQ(context.GetServiceReferences(fooId).size(), 1u);
}

TEST_F(ServiceRegistryTest, HigherRankingThenLowerIdComesFirst) {
    // The rankings of services 0, 1, ... registered in this order (none: Any()), the order listed.
    std::pair<std::vector<Any>, std::vector<int>> const cases[] = {
        {{Any(), Any(50)}, {1, 0}},
        {{Any(3), Any(3), Any(-1), Any(4)}, {3, 0, 1, 2}},
        {{Any(std::string("9")), Any(-1), Any(2L), Any(0.5)}, {2, 0, 3, 1}}, // non-int: 0
    };
    for (auto const& [rankings, order] : cases) {
        std::vector<ServiceRegistration<IFoo>> regs;
        for (int i = 0; i < static_cast<int>(rankings.size()); ++i)
            regs.push_back(context.RegisterService<IFoo>(
                std::make_shared<Foo>(i),
                rankings[i].Empty()
                    ? ServiceProperties{}
                    : ServiceProperties{{Constants::SERVICE_RANKING, rankings[i]}}));
        std::vector<int> listed;
        auto refs = context.GetServiceReferences<IFoo>();
        for (auto const& ref : refs)
            listed.push_back(context.GetService(ref)->Value());
        EXPECT_EQ(listed, order);
        EXPECT_EQ(context.GetServiceReference<IFoo>(), refs.front());
        std::sort(refs.begin(), refs.end()); // ascending: the best ranked is the greatest
        EXPECT_EQ(context.GetService(refs.back())->Value(), order.front());
        EXPECT_LT(ServiceReferenceU(), refs.front()); // an invalid reference is the least
        for (auto& reg : regs)
            reg.Unregister();
    }
    auto low = context.RegisterService<IFoo>(std::make_shared<Foo>(1));
    auto high = context.RegisterService<IFoo>(std::make_shared<Foo>(2));
    low.SetProperties({{Constants::SERVICE_RANKING, 1}}); // a new ranking reorders at once
    EXPECT_EQ(context.GetService(context.GetServiceReference<IFoo>())->Value(), 1);
}

TEST_F(ServiceRegistryTest, ObjectsAndInterfaceMapsAreHandedOutAndSurviveUnregistering) {
    auto reg = context.RegisterService<IFoo>(std::make_shared<Foo>(5));
    auto ref = reg.GetReference();
    auto held = context.GetService(ref);
    auto objects = context.GetServiceObjects(ref); // a plain service: the one registered object
    EXPECT_EQ(objects.GetService(), held);
    reg.Unregister();
    EXPECT_FALSE(ref);
    EXPECT_FALSE(ref.GetBundle());
    EXPECT_TRUE(context.GetServiceReferences<IFoo>().empty());
    EXPECT_EQ(context.GetService(ServiceReferenceBase(ref)), nullptr);
    EXPECT_EQ(held->Value(), 5); // still usable by whoever holds it
    EXPECT_THROW(reg.Unregister(), std::logic_error);
    EXPECT_THROW(reg.GetReference(), std::logic_error);
    // An interface map registers the object under each interface; bad maps are rejected.
    auto foo = std::make_shared<Foo>(9);
    auto mapReg =
        context.RegisterService(MakeInterfaceMap<IFoo, IBar>(foo), {{"k", std::string("v")}});
    auto barRef = mapReg.GetReference(us_service_interface_iid<IBar>());
    InterfaceMapConstPtr got = context.GetService(ServiceReferenceU(barRef));
    EXPECT_EQ(ExtractInterface<IFoo>(got)->Value(), 9);
    EXPECT_THROW(context.RegisterService(std::make_shared<InterfaceMap const>()),
                 std::invalid_argument);
    EXPECT_THROW(context.RegisterService(InterfaceMapConstPtr()), std::invalid_argument);
    auto nullObject = std::make_shared<InterfaceMap>();
    (*nullObject)["x::IFoo"] = nullptr;
    EXPECT_THROW(context.RegisterService(nullObject), std::invalid_argument);
}

TEST_F(ServiceRegistryTest, FactoryObjectsAreMadeOnFirstUsePerScopeAndGivenBackByTheLastUser) {
    auto reg = context.RegisterService<IFoo>(ToFactory(factory), singleton);
    auto ref = context.GetServiceReference<IFoo>();
    EXPECT_EQ(factory->gets, 0); // nothing made at registration
    EXPECT_EQ(any_cast<std::string>(ref.GetProperty(Constants::SERVICE_SCOPE)), "singleton");
    auto a = context.GetService(ref);
    auto b = context.GetServiceObjects(ref).GetService();
    ASSERT_TRUE(a);
    EXPECT_EQ(a, b);
    a.reset();
    EXPECT_EQ(factory->ungets, 0);
    b.reset();
    EXPECT_EQ(factory->ungets, 1);
    auto c = context.GetService(ref); // made anew after the give-back
    reg.Unregister();                 // gives back what is still in use, once
    c.reset();
    EXPECT_EQ(factory->gets, 2);
    EXPECT_EQ(factory->ungets, 2);
    // Bundle scope, the default: one object per bundle.
    factory = std::make_shared<CountingFactory>();
    reg = context.RegisterService<IFoo>(ToFactory(factory));
    ref = context.GetServiceReference<IFoo>();
    EXPECT_EQ(any_cast<std::string>(ref.GetProperty(Constants::SERVICE_SCOPE)), "bundle");
    auto plain = context.InstallBundles(FWTEST_PLAIN_PATH).at(0);
    plain.Start();
    auto other = plain.GetBundleContext();
    auto mine = context.GetService(ref);
    auto mineAgain = context.GetService(ref);
    auto theirs = other.GetService(other.GetServiceReference<IFoo>());
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

TEST_F(ServiceRegistryTest, FailingOrRecursiveFactoriesGiveEmptyPointersAndErrors) {
    auto reg = context.RegisterService<IFoo>(ToFactory(factory), singleton);
    auto ref = context.GetServiceReference<IFoo>();
    // Throwing, giving nothing, giving a map without IFoo.
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
    EXPECT_NE(errors[2].GetMessage().find(us_service_interface_iid<IFoo>()), std::string::npos);
    // The framework's log stream has it too.
    EXPECT_NE(fw.log.str().find("factory exploded"), std::string::npos);
    EXPECT_EQ(factory->ungets, 0);
    // A recursive call from the factory is refused instead of deadlocking.
    std::shared_ptr<IFoo> inner;
    factory->make = [&] {
        inner = context.GetService(ref);
        return AFoo();
    };
    factory->throwOnUnget = true;                // a failing give-back is reported, not thrown
    EXPECT_NE(context.GetService(ref), nullptr); // a later success is not blocked
    EXPECT_EQ(inner, nullptr);
    EXPECT_EQ(factory->ungets, 1);
    const auto more = fw.TakeErrors();
    ASSERT_EQ(more.size(), 2u);
    auto const recursion =
        thrown<ServiceException>([&] { std::rethrow_exception(more[0].GetThrowable()); });
    EXPECT_EQ(recursion->GetType(), ServiceException::FACTORY_RECURSION);
}

TEST_F(ServiceRegistryTest, RegistryOperationsAndInstallsFromManyThreadsStayConsistent) {
    auto factoryReg = context.RegisterService<IFoo>(ToFactory(factory), singleton);
    auto factoryRef = context.GetServiceReference<IFoo>();
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
                auto reg = context.RegisterService<IFoo>(std::make_shared<Foo>(t),
                                                         {{"owner", t}, {"round", i}});
                auto mine = context.GetServiceReferences<IFoo>(
                    "(&(owner=" + std::to_string(t) + ")(round=" + std::to_string(i) + "))");
                failures += mine.size() != 1 || !context.GetService(mine[0]);
                // ...while sharing the factory's singleton with everyone.
                failures += !context.GetServiceObjects(factoryRef).GetService();
                reg.Unregister();
            }
        });
    }
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(failures, 0);
    // Installs of one location give one bundle.
    EXPECT_EQ(std::ranges::count(installed, installed.front()), threads);
    EXPECT_EQ(context.GetBundles().size(), 2u);
    EXPECT_EQ(context.GetServiceReferences<IFoo>().size(), 1u); // only the factory's
    EXPECT_EQ(factory->gets.load(), factory->ungets.load());    // every object made was given back
}
