#include "cppmicroservices/servicecomponent/detail/ComponentInstanceImpl.hpp"

#include <gtest/gtest.h>

using namespace cppmicroservices;
namespace cs = cppmicroservices::service::component;
using cs::ComponentContext;
using cs::detail::Binder;
using cs::detail::ComponentInstanceImpl;

namespace {

class FakeContext final : public ComponentContext {
public:
    std::unordered_map<std::string, Any> GetProperties() const override {
        return {{"component.name", Any(std::string("fake"))}};
    }
    BundleContext GetBundleContext() const override { return {}; }
    Bundle GetUsingBundle() const override { return {}; }
    void EnableComponent(const std::string&) override {}
    void DisableComponent(const std::string&) override {}
    ServiceReferenceBase GetServiceReference() const override { return ServiceReferenceU(); }

protected:
    std::shared_ptr<void> LocateService(const std::string&, const std::string&) const override {
        return nullptr;
    }
    std::vector<std::shared_ptr<void>> LocateServices(const std::string&,
                                                      const std::string&) const override {
        return {};
    }
};

struct IFirst {
    virtual ~IFirst() = default;
    virtual int First() = 0;
};
struct ISecond {
    virtual ~ISecond() = default;
    virtual int Second() = 0;
};

// Logs its hooks; each must get the instance's context.
struct Hooked final : IFirst, ISecond {
    int First() override { return 1; }
    int Second() override { return 2; }
    void Activate(const std::shared_ptr<ComponentContext>& c) { log += c ? "activate;" : "?"; }
    void Deactivate(const std::shared_ptr<ComponentContext>& c) { log += c ? "deactivate;" : "?"; }
    void Modified(const std::shared_ptr<ComponentContext>&, const std::shared_ptr<AnyMap>& props) {
        log += "modified " + any_cast<std::string>(props->at("component.name")) + ";";
    }
    std::string log;
};

// A configuration constructor, and look-alike hooks with the wrong signatures: none of them may
// be called.
struct LookAlike final : IFirst {
    explicit LookAlike(const std::shared_ptr<AnyMap>& props)
        : name(any_cast<std::string>(props->at("component.name"))) {}
    int First() override { return 0; }
    bool Activate(const std::shared_ptr<ComponentContext>&) { return called = true; }
    void Deactivate(int) { called = true; }
    void Modified(const std::shared_ptr<ComponentContext>&) { called = true; }
    bool called = false;
    std::string name;
};

struct RecordingBinder final : Binder<LookAlike> {
    RecordingBinder() : Binder<LookAlike>("ref") {}
    void Bind(const std::shared_ptr<void>& svc, const std::shared_ptr<LookAlike>&) override {
        log += svc ? "bind-svc;" : "bind-null;";
    }
    void UnBind(const std::shared_ptr<void>&, const std::shared_ptr<LookAlike>&) override {
        log += "unbind-svc;";
    }
    void Bind(const std::shared_ptr<ComponentContext>&,
              const std::shared_ptr<LookAlike>& comp) override {
        log += comp ? "bind;" : "bind-nothing;";
    }
    void Unbind(const std::shared_ptr<ComponentContext>&,
                const std::shared_ptr<LookAlike>&) override {
        log += "unbind;";
    }
    std::string log;
};

TEST(ComponentInstanceImpl, CallsTheHooksWithItsContextAndPublishesEachInterfaceAsItsOwnBase) {
    ComponentInstanceImpl<Hooked, std::tuple<IFirst, ISecond>> instance;
    instance.CreateInstance(std::make_shared<FakeContext>());
    auto obj = instance.GetInstance();
    ASSERT_TRUE(obj);
    instance.Activate();
    EXPECT_TRUE(instance.DoesModifiedMethodExist());
    instance.Modified();
    instance.Deactivate();
    EXPECT_EQ(obj->log, "activate;modified fake;deactivate;");
    auto map = instance.GetInterfaceMap();
    ASSERT_TRUE(map);
    ASSERT_EQ(map->size(), 2u);
    // Each entry must point at the right base sub-object, not at the start of the object.
    EXPECT_EQ(static_cast<IFirst*>(map->at(us_service_interface_iid<IFirst>()).get())->First(), 1);
    auto second = map->at(us_service_interface_iid<ISecond>());
    EXPECT_EQ(static_cast<ISecond*>(second.get())->Second(), 2);
    EXPECT_EQ(second.get(), static_cast<ISecond*>(obj.get()));
    EXPECT_FALSE(map->contains("org.cppmicroservices.factory"));
    // Each call gives a fresh map, so one caller's changes never show in another's.
    EXPECT_NE(instance.GetInterfaceMap(), map);
}

TEST(ComponentInstanceImpl, OtherClassesAreUsableAndHooksWithOtherSignaturesIgnored) {
    using LookAlikeInstance = ComponentInstanceImpl<LookAlike, std::tuple<IFirst>>;
    auto binder = std::make_shared<RecordingBinder>();
    std::weak_ptr<LookAlike> watch;
    {
        std::unique_ptr<cs::detail::ComponentInstance> base(new LookAlikeInstance({}, {binder}));
        auto& instance = static_cast<LookAlikeInstance&>(*base);
        EXPECT_EQ(instance.GetInterfaceMap(), nullptr); // nothing to publish before creation
        instance.CreateInstance(std::make_shared<FakeContext>());
        EXPECT_FALSE(instance.DoesModifiedMethodExist());
        instance.Activate();
        instance.Modified();
        instance.Deactivate();
        watch = instance.GetInstance();
        EXPECT_FALSE(watch.lock()->called);
        EXPECT_EQ(watch.lock()->name, "fake"); // the constructor got the properties
        // Binders are reached by reference name.
        instance.BindReferences(std::make_shared<FakeContext>());
        instance.InvokeBindMethod("ref", std::make_shared<int>(1));
        instance.InvokeUnbindMethod("ref", nullptr);
        instance.UnbindReferences();
        EXPECT_EQ(binder->log, "bind;bind-svc;unbind-svc;unbind;");
        EXPECT_THROW(instance.InvokeBindMethod("unknown", nullptr), std::out_of_range);
    }
    EXPECT_TRUE(watch.expired()); // destroyed through the base
}

} // namespace
