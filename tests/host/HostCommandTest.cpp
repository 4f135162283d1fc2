// The staged `tripwire` program run as a user runs it: output, JSON and exit status.
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace {

namespace stdfs = std::filesystem;

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string stageDir() {
    const char* dir = std::getenv("TRIPWIRE_STAGE_DIR");
    if (dir == nullptr || *dir == '\0') {
        throw std::runtime_error("TRIPWIRE_STAGE_DIR is not set");
    }
    return dir;
}

class HostProgram : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tripwire-host-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        scratch = pattern;
    }
    void TearDown() override { stdfs::remove_all(scratch); }

    // Runs the program with the arguments (shell words) in a clean log environment.
    ProgramRun run(const std::string& arguments, const std::string& program = "") {
        std::string exe = program.empty() ? stageDir() + "/bin/tripwire" : program;
        stdfs::path errFile = scratch / "stderr";
        std::string command = "env -u QB_LOG_MASK -u QB_LOG_FILE HOME='" + scratch.string() +
                              "' XDG_DATA_HOME='" + scratch.string() + "/data' '" + exe + "' " +
                              arguments + " 2>'" + errFile.string() + "'";
        ProgramRun result;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) {
            throw std::runtime_error("popen failed");
        }
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            result.out.append(buffer, n);
        }
        int status = ::pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::ifstream err(errFile);
        result.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
        return result;
    }

    stdfs::path scratch;
};

TEST_F(HostProgram, VersionNamesTheProgram) {
    ProgramRun r = run("--version");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("tripwire ", 0), 0u) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
}

TEST_F(HostProgram, InfoListsTheModuleBundleAndItsService) {
    ProgramRun r = run("info");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("com_quillbeck_tripwireimpl"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("qbtripwireimpl.so"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("halvexconnector::tripwire::ITripwire: registered"), std::string::npos)
        << r.out;
}

TEST_F(HostProgram, InfoAsJsonCarriesOperationModeAndResult) {
    ProgramRun r = run("--json --mode drive info");
    ASSERT_EQ(r.status, 0) << r.err;
    auto json = nlohmann::json::parse(r.out);
    EXPECT_EQ(json.at("operation"), "info");
    EXPECT_EQ(json.at("mode"), "DRIVE");
    EXPECT_EQ(json.at("result").at("ITripwire"), true);
    bool moduleListed = false;
    for (const auto& bundle : json.at("result").at("bundles")) {
        if (bundle.at("symbolicName") == "com_quillbeck_tripwireimpl") {
            moduleListed = true;
            EXPECT_TRUE(stdfs::exists(bundle.at("location").get<std::string>()));
        }
    }
    EXPECT_TRUE(moduleListed) << r.out;

    // Options may also follow the subcommand; an integer mode passes through as it is.
    auto other = nlohmann::json::parse(run("info --mode 7 --json").out);
    EXPECT_EQ(other.at("mode"), "7");
}

TEST_F(HostProgram, UsageErrorsExitWithTwoAndPrintNoResult) {
    for (const char* arguments :
         {"", "nonsense", "info --no-such-option", "--mode sideways info", "--mode 1x info",
          "--log-mask 0xZZ info", "--log-mask 0x1FFFFFFFF info"}) {
        ProgramRun r = run(arguments);
        EXPECT_EQ(r.status, 2) << "tripwire " << arguments << "\n" << r.out << r.err;
        EXPECT_TRUE(r.out.empty()) << "tripwire " << arguments << ": " << r.out;
        EXPECT_FALSE(r.err.empty()) << "tripwire " << arguments;
    }
}

TEST_F(HostProgram, AFailureToLoadTheModuleExitsWithThreeAndExplainsOnStandardError) {
    // A tree with the program and the libraries but no module.
    stdfs::create_directories(scratch / "tree/bin");
    stdfs::copy_file(stageDir() + "/bin/tripwire", scratch / "tree/bin/tripwire");
    stdfs::create_directory_symlink(stageDir() + "/lib", scratch / "tree/lib");

    ProgramRun r = run("info", (scratch / "tree/bin/tripwire").string());
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find("qbtripwireimpl.so"), std::string::npos) << r.err;
}

TEST_F(HostProgram, TheLogFileOptionCreatesTheFile) {
    stdfs::path logFile = scratch / "host.log";
    ProgramRun r = run("--log-file '" + logFile.string() + "' --log-mask 0 info");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(stdfs::exists(logFile));
}

} // namespace
