#pragma once

#include <telx/LoggingService.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace tripwire::test {

/// Sets (nullptr: unsets) one environment variable, restoring it at the end.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name(name) {
        if (const char* old = std::getenv(name)) {
            saved = old;
        }
        set(value);
    }
    ~ScopedEnv() { set(saved ? saved->c_str() : nullptr); }
    void set(const char* value) {
        value ? ::setenv(name.c_str(), value, 1) : ::unsetenv(name.c_str());
    }

private:
    std::string name;
    std::optional<std::string> saved;
};

/// A fresh directory, removed with its contents at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "telx-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    const std::filesystem::path& get() const { return path; }

private:
    std::filesystem::path path;
};

inline telx::DataIdentification identification(const std::string& eventKey = "HX_QSH_INSTALL") {
    telx::DataIdentification id;
    id.setProduct("HX");
    id.setAppComponent("HX_QSH");
    id.setEventKey(eventKey);
    return id;
}

/// Each test writes its events into its own telemetry directory.
class TelemetryDirTest : public ::testing::Test {
protected:
    std::filesystem::path telemetryDir() const { return temp.get() / "telemetry"; }
    std::filesystem::path eventFile() const { return telemetryDir() / "events.jsonl"; }

    static std::uint64_t log(const telx::TelxData& data,
                             const telx::TelxOption& option = telx::TelxOption::defaultOption) {
        return telx::LoggingService::getService().logData(identification(), data, option);
    }

    std::string fileText() const {
        std::ostringstream text;
        text << std::ifstream(eventFile(), std::ios::binary).rdbuf();
        return text.str();
    }

    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        std::istringstream in(fileText());
        for (std::string line; std::getline(in, line);) {
            result.push_back(line);
        }
        return result;
    }

    nlohmann::ordered_json event(std::size_t index) const {
        return nlohmann::ordered_json::parse(lines().at(index));
    }

    TempDir temp;
    ScopedEnv env{"QB_TELEMETRY_DIR", telemetryDir().c_str()};
};

} // namespace tripwire::test
