// Extraction of a large kci archive: extractKCIAndReturnVersion next to `bsdtar -xf` and
// `unzip -q` of the same archive in the same run.
//
//   extract_bench [--size-mib N] [--files N] [--work-dir DIR] [google benchmark flags]
//
// The work directory defaults to /dev/shm where it exists: on a disk file system, creating
// thousands of files right after deleting as many makes the kernel's inode allocation the
// largest and most erratic cost, for every extractor alike, and hides the extractors' own work.
#include "BenchSupport.h"

#include <fl/filesystem/path_conversion.h>
#include <halvexconnector/latestversion/kciextractor/KCIExtractor.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

struct Entry {
    const char* name;
    void (*function)(benchmark::State&);
};

namespace fs = std::filesystem;
using tripwire::bench::runShell;
using tripwire::bench::shellQuoted;

struct Fixture {
    fs::path archive;
    fs::path workDirectory;
};

Fixture* fixture = nullptr;

// The machine is shared: CPU time (user and system) is what each extractor itself costs,
// whoever else runs.
using tripwire::bench::cpuSeconds;

void BM_Extract(benchmark::State& state) {
    const auto archive = fl::filesystem::path_from_native(fixture->archive);
    const fs::path extracted = fixture->workDirectory / "kci_bench.extracted";
    for (auto _ : state) {
        const double cpuBefore = cpuSeconds(RUSAGE_SELF);
        const auto result =
            halvexconnector::latestversion::kciextractor::extractKCIAndReturnVersion(archive);
        if (result.second.empty()) {
            state.SkipWithError("no installer extracted");
            break;
        }
        state.counters["cpu_s"] = cpuSeconds(RUSAGE_SELF) - cpuBefore;
        state.PauseTiming();
        fs::remove_all(extracted);
        state.ResumeTiming();
    }
}

void runCommand(benchmark::State& state, const std::string& command, const fs::path& output) {
    for (auto _ : state) {
        state.PauseTiming();
        fs::create_directories(output);
        state.ResumeTiming();
        const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
        if (!runShell(command)) {
            state.SkipWithError("command failed");
            break;
        }
        state.counters["cpu_s"] = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
        state.PauseTiming();
        fs::remove_all(output);
        state.ResumeTiming();
    }
}

void BM_Bsdtar(benchmark::State& state) {
    const fs::path output = fixture->workDirectory / "bsdtar";
    runCommand(state,
               "bsdtar -xf " + shellQuoted(fixture->archive.string()) + " -C " +
                   shellQuoted(output.string()),
               output);
}

void BM_Unzip(benchmark::State& state) {
    const fs::path output = fixture->workDirectory / "unzip";
    runCommand(state,
               "unzip -q " + shellQuoted(fixture->archive.string()) + " -d " +
                   shellQuoted(output.string()),
               output);
}

std::string takeText(int& argc, char** argv, const char* name, const std::string& fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            std::string value = argv[i + 1];
            std::copy(argv + i + 2, argv + argc, argv + i);
            argc -= 2;
            return value;
        }
    }
    return fallback;
}

std::uint64_t takeOption(int& argc, char** argv, const char* name, std::uint64_t fallback) {
    return std::strtoull(takeText(argc, argv, name, std::to_string(fallback)).c_str(), nullptr, 10);
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t mib = takeOption(argc, argv, "--size-mib", 256);
    const auto files = static_cast<unsigned>(takeOption(argc, argv, "--files", 2000));
    const std::string base =
        takeText(argc, argv, "--work-dir",
                 fs::is_directory("/dev/shm") && ::access("/dev/shm", W_OK) == 0
                     ? "/dev/shm"
                     : fs::temp_directory_path().string());
    tripwire::bench::TempDirectory work("extract_bench", base);
    Fixture data{tripwire::bench::makeKciArchive(work.path() / "kci_bench.zip", mib << 20, files),
                 work.path()};
    fixture = &data;

    for (const Entry& entry :
         {Entry{"extract/extractKCIAndReturnVersion", BM_Extract},
          Entry{"extract/bsdtar -xf", BM_Bsdtar}, Entry{"extract/unzip -q", BM_Unzip}}) {
        benchmark::RegisterBenchmark(entry.name, entry.function)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(1)
            ->Repetitions(7)
            ->ReportAggregatesOnly(true);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fixture = nullptr;
    return 0;
}
