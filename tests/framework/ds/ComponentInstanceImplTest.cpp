// The pieces of the runtime on their own: the component instance glue and the metadata reader.
#include "cppmicroservices/servicecomponent/detail/ComponentInstanceImpl.hpp"
#include "ComponentContextImpl.hpp"
#include "ComponentMetadata.hpp"
#include "cppmicroservices/servicecomponent/ComponentException.hpp"

#include <gtest/gtest.h>

using namespace cppmicroservices;
namespace cs = cppmicroservices::service::component;
using cppmicroservices::scrimpl::ParseScrMetadata;
using cs::ComponentContext;
using cs::detail::Binder;
using cs::detail::ComponentInstanceImpl;
using nlohmann::json;

namespace {

// The runtime's own context, with the properties every component gets.
std::shared_ptr<ComponentContext> Context() {
    return std::make_shared<cppmicroservices::scrimpl::ComponentContextImpl>(
        BundleContext(), ServiceReferenceU(),
        std::unordered_map<std::string, Any>{{"component.name", Any(std::string("fake"))}});
}

struct IFirst {
    virtual ~IFirst() = default;
    virtual int First() = 0;
};
struct ISecond {
    virtual ~ISecond() = default;
    virtual int Second() = 0;
};

// Logs its hooks and its binder's calls; each hook must get the instance's context.
struct Hooked final : IFirst, ISecond {
    explicit Hooked(const std::shared_ptr<AnyMap>& props)
        : name(any_cast<std::string>(props->at("component.name"))) {}
    int First() override { return 1; }
    int Second() override { return 2; }
    void Activate(const std::shared_ptr<ComponentContext>& c) { log += c ? "activate;" : "?"; }
    void Deactivate(const std::shared_ptr<ComponentContext>& c) { log += c ? "deactivate;" : "?"; }
    void Modified(const std::shared_ptr<ComponentContext>&, const std::shared_ptr<AnyMap>& props) {
        log += "modified " + any_cast<std::string>(props->at("component.name")) + ";";
    }
    std::string name, log;
};

// Look-alike hooks with the wrong signatures are no hooks: the runtime never calls them.
struct LookAlike {
    bool Activate(const std::shared_ptr<ComponentContext>&);
    void Deactivate(int);
    void Modified(const std::shared_ptr<ComponentContext>&);
};
static_assert(!cs::detail::HasActivateHook<LookAlike> &&
              !cs::detail::HasDeactivateHook<LookAlike> && !cs::detail::HasModifiedHook<LookAlike>);

struct RecordingBinder final : Binder<Hooked> {
    RecordingBinder() : Binder<Hooked>("ref") {}
    void Bind(const std::shared_ptr<void>& svc, const std::shared_ptr<Hooked>& c) override {
        c->log += svc ? "bind-svc;" : "bind-null;";
    }
    void UnBind(const std::shared_ptr<void>&, const std::shared_ptr<Hooked>& c) override {
        c->log += "unbind-svc;";
    }
    void Bind(const std::shared_ptr<ComponentContext>&, const std::shared_ptr<Hooked>& c) override {
        c->log += "bind;";
    }
    void Unbind(const std::shared_ptr<ComponentContext>&,
                const std::shared_ptr<Hooked>& c) override {
        c->log += "unbind;";
    }
};

TEST(ComponentInstanceImpl, CallsTheHooksAndBindersAndPublishesEachInterfaceAsItsOwnBase) {
    using HookedInstance = ComponentInstanceImpl<Hooked, std::tuple<IFirst, ISecond>>;
    std::weak_ptr<Hooked> watch;
    {
        std::unique_ptr<cs::detail::ComponentInstance> base(
            new HookedInstance({}, {std::make_shared<RecordingBinder>()}));
        auto& instance = static_cast<HookedInstance&>(*base);
        EXPECT_EQ(instance.GetInterfaceMap(), nullptr); // nothing to publish before creation
        instance.CreateInstance(Context());
        auto obj = instance.GetInstance();
        ASSERT_TRUE(obj);
        EXPECT_EQ(obj->name, "fake"); // the constructor got the properties
        instance.BindReferences(Context());
        instance.Activate();
        EXPECT_TRUE(instance.DoesModifiedMethodExist());
        instance.Modified();
        // Binders are reached by reference name.
        instance.InvokeBindMethod("ref", std::make_shared<int>(1));
        instance.InvokeUnbindMethod("ref", nullptr);
        EXPECT_THROW(instance.InvokeBindMethod("unknown", nullptr), std::out_of_range);
        instance.Deactivate();
        instance.UnbindReferences();
        EXPECT_EQ(obj->log, "bind;activate;modified fake;bind-svc;unbind-svc;deactivate;unbind;");
        auto map = instance.GetInterfaceMap();
        ASSERT_TRUE(map);
        ASSERT_EQ(map->size(), 2u);
        // Each entry must point at the right base sub-object, not at the start of the object.
        EXPECT_EQ(static_cast<IFirst*>(map->at(us_service_interface_iid<IFirst>()).get())->First(),
                  1);
        auto second = map->at(us_service_interface_iid<ISecond>());
        EXPECT_EQ(static_cast<ISecond*>(second.get())->Second(), 2);
        EXPECT_EQ(second.get(), static_cast<ISecond*>(obj.get()));
        EXPECT_FALSE(map->contains("org.cppmicroservices.factory"));
        // Each call gives a fresh map, so one caller's changes never show in another's.
        EXPECT_NE(instance.GetInterfaceMap(), map);
        watch = obj;
    }
    EXPECT_TRUE(watch.expired()); // destroyed through the base
    EXPECT_FALSE(ComponentInstanceImpl<LookAlike>().DoesModifiedMethodExist());
    // Components are enabled by their manifest only.
    EXPECT_THROW(Context()->EnableComponent("x"), cs::ComponentException);
    EXPECT_THROW(Context()->DisableComponent("x"), cs::ComponentException);
}

// Valid metadata, with defaults and flags, is what the runtime tests' bundles declare.
TEST(ComponentMetadata, ABadComponentIsDroppedAndTheOthersKept) {
    const json svc = {{"interfaces", {"I"}}};
    auto meta = ParseScrMetadata(json{
        {"version", 1},
        {"components",
         json::array({
             {{"implementation-class", "Good"}, {"name", "good"}, {"service", svc}},
             {{"name", "no class"}, {"service", svc}},
             {{"implementation-class", ""}},
             {{"implementation-class", "S"}, {"service", {{"interfaces", json::array()}}}},
             {{"implementation-class", "S"},
              {"service", {{"interfaces", {"I"}}, {"scope", "bundle"}}}},
             {{"implementation-class", "S"}, {"service", {{"interfaces", {42}}}}},
             {{"implementation-class", "S"}, {"enabled", "yes"}, {"service", svc}},
             {{"implementation-class", "R"}, {"references", {{{"name", "r"}}}}, {"service", svc}},
             {{"implementation-class", "Other"}, {"name", "good"}, {"service", svc}},
             {{"implementation-class", "NoService"}},
             "not an object",
         })}});
    ASSERT_EQ(meta.components.size(), 1u);
    EXPECT_EQ(meta.components[0].name, "good");
    ASSERT_EQ(meta.errors.size(), 10u);
    // Errors say which component and why, so the bundle's author can find the fault.
    EXPECT_NE(meta.errors[0].find("component 1"), std::string::npos);
    EXPECT_NE(meta.errors[0].find("implementation-class"), std::string::npos);
    EXPECT_NE(meta.errors[3].find("bundle"), std::string::npos);
    EXPECT_NE(meta.errors[7].find("already named"), std::string::npos);
}

} // namespace
