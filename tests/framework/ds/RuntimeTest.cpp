// The runtime bundle from the staged tree, driving the components of the test bundles inside a
// real framework.
#include "../FrameworkTestUtil.h"
#include "bundle/IGreeter.hpp"
#include "probe/DsProbe.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <latch>
#include <set>

using namespace cppmicroservices;
using dsprobe::Summary;
using dstest::IGreeter;

namespace {

class DsRuntime : public ::testing::Test {
protected:
    void SetUp() override {
        dsprobe::Reset();
        const char* stage = std::getenv("TRIPWIRE_STAGE_DIR");
        ASSERT_NE(stage, nullptr) << "TRIPWIRE_STAGE_DIR is not set";
        runtime =
            context.InstallBundles(std::string(stage) + "/lib/libDeclarativeServices.so").at(0);
        testBundle = context.InstallBundles(DS_TEST_BUNDLE).at(0);
    }
    ServiceReference<IGreeter> component(const std::string& name) {
        auto refs = context.GetServiceReferences<IGreeter>("(component.name=" + name + ")");
        return refs.size() == 1 ? refs[0] : ServiceReference<IGreeter>();
    }
    std::vector<std::string> takeErrors() {
        std::vector<std::string> texts;
        for (const FrameworkEvent& event : fw.TakeErrors()) {
            const auto error = event.GetThrowable();
            texts.push_back(event.GetMessage() + (error ? " | " + fwtest::Describe(error) : ""));
        }
        return texts;
    }
    const bool testBundleWasLoaded = fwtest::IsLoaded(DS_TEST_BUNDLE);
    fwtest::RunningFramework fw;
    BundleContext context = fw.framework.GetBundleContext();
    Bundle runtime;
    Bundle testBundle;
};

// The runtime also takes on bundles that started before it.
TEST_F(DsRuntime, RegistersEveryEnabledComponentAndMakesOnlyImmediateOnesAtOnce) {
    testBundle.Start();
    EXPECT_FALSE(component("greeter"));
    runtime.Start();
    if (!testBundleWasLoaded) {
        EXPECT_FALSE(fwtest::IsLoaded(DS_TEST_BUNDLE))
            << "a delayed component's code was loaded early";
    }
    std::set<std::string> names;
    for (const auto& ref : context.GetServiceReferences<IGreeter>()) {
        names.insert(any_cast<std::string>(ref.GetProperty("component.name")));
        EXPECT_EQ(ref.GetBundle(), testBundle) << "a component's service belongs to its bundle";
    }
    EXPECT_EQ(names,
              (std::set<std::string>{"greeter", "missing", "null_factory", "throwing_ctor",
                                     "throwing_activate", "throwing_deactivate", "incomplete"}));
    EXPECT_EQ(Summary("Greeter"), "");
    // An immediate component (a Greeter of the eager bundle) is made as soon as its bundle starts.
    Bundle eager = context.InstallBundles(DS_EAGER_BUNDLE).at(0);
    eager.Start();
    EXPECT_EQ(Summary("Greeter"), "activate:1 ctor:1 new:1");
    auto eagerRef = component("dstest::Greeter");
    ASSERT_TRUE(eagerRef);
    EXPECT_EQ(context.GetService(eagerRef)->Greet("you"), "hello you");
    eager.Stop();
    EXPECT_EQ(Summary("Greeter"), "activate:1 ctor:1 deactivate:1 delete:1 dtor:1 new:1");
    EXPECT_TRUE(takeErrors().empty());
}

// Requests from different bundles reach the component separately, and here at once. The
// framework's stop goes the way of the last part: the bundles, then the runtime.
TEST_F(DsRuntime, ConcurrentRequestsShareOneInstanceThatOnlyAStopDisposes) {
    runtime.Start();
    testBundle.Start();
    auto ref = component("greeter");
    ASSERT_TRUE(ref);
    std::vector<BundleContext> requesters = {context, testBundle.GetBundleContext(),
                                             runtime.GetBundleContext()};
    constexpr int threads = 6;
    std::latch go(threads);
    std::vector<std::future<std::shared_ptr<IGreeter>>> requests;
    for (int i = 0; i < threads; ++i)
        requests.push_back(std::async(std::launch::async, [&, i] {
            go.arrive_and_wait();
            return requesters[i % requesters.size()].GetService(ref);
        }));
    std::set<std::shared_ptr<IGreeter>> got;
    for (auto& request : requests)
        got.insert(request.get());
    ASSERT_EQ(got.size(), 1u);
    // With every user gone the instance stays.
    IGreeter* raw = got.begin()->get();
    got.clear();
    auto greeter = context.GetService(ref);
    ASSERT_TRUE(greeter);
    EXPECT_EQ(greeter.get(), raw);
    // The bundle got its own context before its code ran, and the component its bundle's.
    EXPECT_EQ(Summary("Greeter"), "activate:1 ctor:1 new:1");
    EXPECT_EQ(Summary("Seen"),
              "componentName=greeter:1 contextBundle=ds_test_bundle:1 ownBundle=ds_test_bundle:1");
    EXPECT_TRUE(takeErrors().empty());
    ASSERT_TRUE(context.GetService(component("throwing_deactivate")));
    testBundle.Stop();
    // Disposing of the component instance leaves the object to whoever still holds it; a
    // throwing hook still disposes.
    EXPECT_EQ(Summary("Greeter"), "activate:1 ctor:1 deactivate:1 delete:1 new:1");
    EXPECT_EQ(Summary("ThrowingDeactivate"),
              "activate:1 ctor:1 deactivate:1 delete:1 dtor:1 new:1");
    EXPECT_EQ(greeter->Greet("after"), "hello after");
    greeter.reset();
    EXPECT_EQ(Summary("Greeter"), "activate:1 ctor:1 deactivate:1 delete:1 dtor:1 new:1");
    EXPECT_TRUE(context.GetServiceReferences<IGreeter>().empty());
    testBundle.Start();
    ASSERT_TRUE(context.GetService(component("greeter")));
    runtime.Stop();
    EXPECT_EQ(Summary("Greeter"), "activate:2 ctor:2 deactivate:2 delete:2 dtor:2 new:2");
    EXPECT_TRUE(context.GetServiceReferences<IGreeter>().empty());
    // A bundle that starts while the runtime is stopped gets no components.
    testBundle.Stop();
    testBundle.Start();
    EXPECT_TRUE(context.GetServiceReferences<IGreeter>().empty());
}

TEST_F(DsRuntime, EachFailedCreationGivesAnEmptyServiceAndOneError) {
    runtime.Start();
    testBundle.Start();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"missing", "NewInstance_dstest_Missing"},
        {"null_factory", "NewInstance_dstest_NullFactory"},
        {"throwing_ctor", "constructor refused"},
        {"throwing_activate", "activation refused"},
        {"incomplete", "dstest::INotProvided"},
    };
    for (const auto& [name, detail] : cases) {
        for (int attempt = 1; attempt <= 2; ++attempt) {
            auto ref = component(name);
            ASSERT_TRUE(ref) << name;
            EXPECT_EQ(context.GetService(ref), nullptr) << name;
            auto errors = takeErrors();
            ASSERT_EQ(errors.size(), 1u) << name << " attempt " << attempt;
            EXPECT_NE(errors[0].find(detail), std::string::npos) << errors[0];
        }
    }
    // Whatever was created on the way is disposed of, with no Deactivate for a failed Activate.
    EXPECT_EQ(Summary("NullFactory"), "new:2");
    EXPECT_EQ(Summary("ThrowingCtor"), "ctor:2 delete:2 dtor:2 new:2");
    EXPECT_EQ(Summary("ThrowingActivate"), "activate:2 ctor:2 delete:2 dtor:2 new:2");
    EXPECT_EQ(Summary("Incomplete"), "activate:2 ctor:2 deactivate:2 delete:2 dtor:2 new:2");
    // The bundle's other components are unaffected.
    auto greeter = context.GetService(component("greeter"));
    ASSERT_TRUE(greeter);
    EXPECT_EQ(greeter->Greet("still"), "hello still");
}

} // namespace
