#pragma once

#include <telx/DataIdentification.h>
#include <telx/LoggingService.h>
#include <telx/TelxData.h>
#include <telx/TelxOption.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tripwire::test {

/// Sets (or unsets) one environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name(name) {
        if (const char* old = std::getenv(name)) {
            saved = old;
            hadValue = true;
        }
        set(value);
    }
    ~ScopedEnv() { set(hadValue ? saved.c_str() : nullptr); }
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
    std::string saved;
    bool hadValue = false;
};

/// A fresh directory, removed with its contents at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "telx-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& get() const { return path; }

private:
    std::filesystem::path path;
};

/// Each test writes its events into its own telemetry directory.
class TelemetryDirTest : public ::testing::Test {
public:
    static telx::DataIdentification identification(const std::string& eventKey = "HX_QSH_INSTALL") {
        telx::DataIdentification id;
        id.setProduct("HX");
        id.setAppComponent("HX_QSH");
        id.setEventKey(eventKey);
        return id;
    }

protected:
    std::filesystem::path telemetryDir() const { return temp.get() / "telemetry"; }
    std::filesystem::path eventFile() const { return telemetryDir() / "events.jsonl"; }

    static std::uint64_t log(const telx::TelxData& data,
                             const telx::TelxOption& option = telx::TelxOption::defaultOption) {
        return telx::LoggingService::getService().logData(identification(), data, option);
    }

    std::string fileText() const {
        std::ifstream in(eventFile(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
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

    std::vector<nlohmann::ordered_json> events() const {
        std::vector<nlohmann::ordered_json> result;
        for (const auto& line : lines()) {
            result.push_back(nlohmann::ordered_json::parse(line));
        }
        return result;
    }

    TempDir temp;
    ScopedEnv env{"QB_TELEMETRY_DIR", telemetryDir().c_str()};
};

} // namespace tripwire::test
