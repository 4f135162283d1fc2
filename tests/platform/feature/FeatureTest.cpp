#include <atomic>
#include <foundation/feature/Feature.h>
#include <foundation/feature/management/process/DataPtr.h>
#include <gtest/gtest.h>
#include <thread>
#include <tripwire/testsupport/TempDirectory.h>

// A boolean flag class written the way clients of the library write theirs: constant
// initialisation, and a state record looked up once and cached in an atomic pointer.
namespace foundation::feature {
template <> class Feature<booleanFeatureKind> : public IFeature {
public:
    constexpr explicit Feature(std::string_view name) noexcept : IFeature(name) {}
    int getKind() const override { return booleanFeatureKind; }
    detail::State* getState() const override {
        if (auto* state = cache.load())
            return state;
        auto* state = management::process::getDataPtr(std::string(getName().data()));
        cache.exchange(state);
        return state;
    }
    detail::State* cached() const { return cache.load(); }

private:
    mutable std::atomic<detail::State*> cache{nullptr};
};
} // namespace foundation::feature

namespace {

using foundation::feature::Feature;
using foundation::feature::management::process::getDataPtr;
using tripwire::testsupport::ScopedVariable;

constinit Feature<0> installErrorFeature{"QSHInstallErrorTELX"};

TEST(FeatureFlag, SettingsAreReadAtEveryEvaluation) {
    // clang-format off
    const std::pair<std::optional<std::string>, bool> cases[] = {
        {std::nullopt, false}, {"", false}, {"QSHInstallErrorTELX", true},
        {" \tQSHInstallErrorTELX\n , Other", true}, {"QSHInstallErrorTELX = TRUE", true},
        // Unknown names, different case and near misses stay off.
        {"Other", false}, {"qshinstallerrortelx", false},
        {"QSHInstallErrorTELXExtra,QSHInstallError", false},
        // Switching off, and the last entry winning.
        {"QSHInstallErrorTELX = OFF ", false},
        {"QSHInstallErrorTELX,QSHInstallErrorTELX=off", false},
        {"QSHInstallErrorTELX=off,QSHInstallErrorTELX", true},
        // Malformed entries are skipped without hiding the valid ones around them.
        {",,=,=on,QSHInstallErrorTELX,", true}, {"QSHInstallErrorTELX=maybe", false},
        {"QSHInstallErrorTELX=on=off", false}, {"QSHInstallErrorTELX,QSHInstallErrorTELX=", true},
        {"QSH InstallErrorTELX", false}, {"QSHInstallErrorTELX\x01", false}};
    // clang-format on
    for (const auto& [settings, on] : cases) {
        ScopedVariable flags("QB_FEATURE_FLAGS", settings);
        EXPECT_EQ(static_cast<bool>(installErrorFeature), on) << settings.value_or("<unset>");
    }
}

// A flag class that breaks the contract gets a clear error instead of a wrong answer.
struct MisbehavingFeature : foundation::feature::IFeature {
    MisbehavingFeature(int kind, const char* record)
        : IFeature("QSHInstallErrorTELX"), kind(kind), record(record) {}
    int getKind() const override { return kind; }
    foundation::feature::detail::State* getState() const override {
        return record ? getDataPtr(record) : nullptr;
    }
    int kind;
    const char* record;
};

TEST(FeatureFlag, OneRecordPerNameThatStaysPutAndBrokenFlagClassesAreReported) {
    static constinit Feature<0> flag{"CacheProbeFlag"};
    ASSERT_EQ(flag.cached(), nullptr);
    ScopedVariable flags("QB_FEATURE_FLAGS", "CacheProbeFlag,QSHInstallErrorTELX,SomeOtherFlag");
    EXPECT_TRUE(flag);
    auto* record = getDataPtr("CacheProbeFlag");
    EXPECT_EQ(flag.cached(), record);
    EXPECT_NE(getDataPtr("cacheprobeflag"), record); // case-sensitive
    for (int i = 0; i < 5000; ++i)
        getDataPtr("Filler" + std::to_string(i));
    EXPECT_EQ(getDataPtr("CacheProbeFlag"), record);
    EXPECT_EQ(record->getName(), "CacheProbeFlag");
    EXPECT_THROW(getDataPtr(""), std::invalid_argument);

    EXPECT_TRUE(MisbehavingFeature(0, "QSHInstallErrorTELX"));
    for (const auto& [kind, name] : {std::pair<int, const char*>{3, "QSHInstallErrorTELX"},
                                     {0, nullptr},
                                     {0, "SomeOtherFlag"}})
        EXPECT_THROW((void)static_cast<bool>(MisbehavingFeature(kind, name)), std::logic_error);
}

TEST(FeatureFlag, OverlappingFirstEvaluationsShareOneRecord) {
    ScopedVariable flags("QB_FEATURE_FLAGS", "Race3, Race7");
    std::vector<std::unique_ptr<Feature<0>>> all;
    for (int i = 0; i < 10; ++i)
        all.push_back(std::make_unique<Feature<0>>(i == 3 ? "Race3" : i == 7 ? "Race7" : "RaceX"));
    std::atomic<int> on{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (const auto& feature : all)
                on += *feature ? 1 : 0;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(on.load(), 16);
    for (const auto& feature : all)
        EXPECT_EQ(feature->cached(), getDataPtr(std::string(feature->getName())));
}

} // namespace
