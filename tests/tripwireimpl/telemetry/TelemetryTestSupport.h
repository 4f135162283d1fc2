#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace halvexconnector::tripwireimpl::test {

using Json = nlohmann::ordered_json;

// Sets (nullptr: unsets) one environment variable, restoring it at the end.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name(name) {
        if (const char* old = std::getenv(name)) {
            saved = old;
        }
        set(value);
    }
    ~ScopedEnv() { set(saved ? saved->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void set(const char* value) {
        if (value != nullptr) {
            ::setenv(name.c_str(), value, 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }

private:
    std::string name;
    std::optional<std::string> saved;
};

// Each test sends its events into a telemetry directory of its own and starts with every flag
// off; events() reads back what reached the event file, keys in file order.
class TelemetryTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tripwire-telemetry-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        telemetryDir.set((root / "telemetry").c_str());
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    void setFlags(const char* value) { flags.set(value); }

    std::filesystem::path eventFile() const { return root / "telemetry" / "events.jsonl"; }

    std::vector<Json> events() const {
        std::vector<Json> result;
        std::ifstream in(eventFile());
        for (std::string line; std::getline(in, line);) {
            result.push_back(Json::parse(line));
        }
        return result;
    }

    static std::vector<std::string> keysOf(const Json& object) {
        std::vector<std::string> keys;
        for (const auto& item : object.items()) {
            keys.push_back(item.key());
        }
        return keys;
    }

    std::filesystem::path root;

private:
    ScopedEnv telemetryDir{"QB_TELEMETRY_DIR", nullptr};
    ScopedEnv flags{"QB_FEATURE_FLAGS", nullptr};
};

} // namespace halvexconnector::tripwireimpl::test
