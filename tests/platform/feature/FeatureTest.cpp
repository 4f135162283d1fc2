#include <atomic>
#include <foundation/feature/Feature.h>
#include <foundation/feature/management/process/DataPtr.h>
#include <gtest/gtest.h>
#include <thread>
#include <tripwire/testsupport/TempDirectory.h>

namespace {

using foundation::feature::detail::State;
using foundation::feature::management::process::getDataPtr;
using tripwire::testsupport::ScopedVariable;

// A flag class as clients write theirs; `kind` and `record` let it break the contract.
struct Flag : foundation::feature::IFeature {
    explicit Flag(const char* name, int kind = 0) : Flag(name, kind, name) {}
    Flag(const char* name, int kind, const char* record)
        : IFeature(name), kind(kind), record(record) {}
    int getKind() const override { return kind; }
    State* getState() const override { return record ? getDataPtr(record) : nullptr; }
    int kind;
    const char* record;
};

TEST(FeatureFlag, SettingsAreReadAtEveryEvaluationAndBrokenFlagClassesAreReported) {
    const std::string f = "QSHInstallErrorTELX";
    // clang-format off
    const std::pair<std::optional<std::string>, bool> cases[] = {{std::nullopt, false},
        {"", false}, {f, true}, {" \t" + f + "\n , Other", true}, {f + " = TRUE", true},
        {f + "Extra,QSHInstall", false}, {"qshinstallerrortelx", false}, {f + " = OFF ", false},
        {f + "," + f + "=off", false}, {f + "=off," + f, true}, {",,=,=on," + f + ",", true},
        {f + "=maybe", false}, {f + "," + f + "=", true}, {"QSH InstallErrorTELX", false},
        {f + "\x01", false}};
    // clang-format on
    const Flag installError(f.c_str());
    for (const auto& [settings, on] : cases) {
        ScopedVariable flags("QB_FEATURE_FLAGS", settings);
        EXPECT_EQ(static_cast<bool>(installError), on) << settings.value_or("<unset>");
    }
    EXPECT_NE(getDataPtr("cacheprobeflag"), getDataPtr("CacheProbeFlag"));
    EXPECT_THROW(getDataPtr(""), std::invalid_argument);
    ScopedVariable flags("QB_FEATURE_FLAGS", "QSHInstallErrorTELX,SomeOtherFlag");
    for (const auto& [kind, name] : {std::pair<int, const char*>{3, "QSHInstallErrorTELX"},
                                     {0, nullptr},
                                     {0, "SomeOtherFlag"}})
        EXPECT_THROW((void)static_cast<bool>(Flag("QSHInstallErrorTELX", kind, name)),
                     std::logic_error);
}

// Enough names that the registry grows while records are handed out: none may move.
TEST(FeatureFlag, OverlappingFirstEvaluationsShareOneRecordThatStaysPut) {
    ScopedVariable flags("QB_FEATURE_FLAGS", "Race3, Race7");
    std::vector<std::string> names;
    for (int i = 0; i < 3000; ++i)
        names.push_back("Race" + std::to_string(i));
    std::atomic<int> on{0};
    std::vector<std::vector<State*>> seen(8);
    std::vector<std::thread> threads;
    for (auto& mine : seen)
        threads.emplace_back([&] {
            for (const auto& name : names) {
                on += Flag(name.c_str()) ? 1 : 0;
                mine.push_back(getDataPtr(name));
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(on.load(), 16);
    for (const auto& mine : seen)
        EXPECT_EQ(mine, seen[0]);
    EXPECT_EQ(getDataPtr(names[0]), seen[0][0]);
}

} // namespace
