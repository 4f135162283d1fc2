// Download of a large archive from the loopback server: KCIDownloader::fetchKCI on the libcurl
// client, next to `curl -s -o` of the same URL in the same run. Prints the ratio of the medians.
//
//   download_bench [--size-mib N] [google benchmark flags]
#include <foundation/httpclient/CurlHttpClient.h>
#include <halvexconnector/latestversion/kcidownloader/KCIDownloader.h>
#include <tripwire/testsupport/LoopbackServer.h>

#include <fl/filesystem/filesystem.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tripwire::testsupport::LoopbackServer;

struct Fixture {
    fs::path workDirectory;
    std::unique_ptr<LoopbackServer> server;
    std::string url;
};

Fixture* fixture = nullptr;

// Incompressible content, so that nothing on the way can take a shortcut.
void writeRandomFile(const fs::path& path, std::uint64_t bytes) {
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 generator(42);
    std::vector<std::uint64_t> block(1 << 17);
    for (std::uint64_t written = 0; written < bytes; written += block.size() * 8) {
        std::generate(block.begin(), block.end(), generator);
        const auto chunk = std::min<std::uint64_t>(block.size() * 8, bytes - written);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(chunk));
    }
}

void BM_FetchKCI(benchmark::State& state) {
    auto client = std::make_shared<foundation::httpclient::CurlHttpClient>();
    halvexconnector::latestversion::kcidownloader::KCIDownloader downloader(client);
    const fs::path target = fixture->workDirectory / "ours";
    for (auto _ : state) {
        const auto archive =
            downloader.fetchKCI(fixture->url, fl::filesystem::path_from_native(target));
        benchmark::DoNotOptimize(archive);
        state.PauseTiming();
        fs::remove_all(target);
        state.ResumeTiming();
    }
}

void BM_CurlCommand(benchmark::State& state) {
    const fs::path target = fixture->workDirectory / "curl.zip";
    const std::string command = "curl -s -o '" + target.string() + "' '" + fixture->url + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("curl failed");
            break;
        }
        state.PauseTiming();
        fs::remove(target);
        state.ResumeTiming();
    }
}

// Keeps the median real time of each benchmark while printing as usual.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> medians;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.aggregate_name == "median") {
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

std::uint64_t takeSizeMiB(int& argc, char** argv) {
    std::uint64_t mib = 256;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--size-mib") == 0) {
            mib = std::strtoull(argv[i + 1], nullptr, 10);
            std::copy(argv + i + 2, argv + argc, argv + i);
            argc -= 2;
            break;
        }
    }
    return mib;
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t mib = takeSizeMiB(argc, argv);
    Fixture data;
    data.workDirectory =
        fs::temp_directory_path() / ("download_bench." + std::to_string(::getpid()));
    fs::create_directories(data.workDirectory);
    writeRandomFile(data.workDirectory / "kci_bench.zip", mib << 20);
    data.server = std::make_unique<LoopbackServer>();
    data.server->addFileFromDisk("kci_bench.zip", data.workDirectory / "kci_bench.zip");
    data.url = data.server->fileUrl("kci_bench.zip");
    fixture = &data;

    benchmark::RegisterBenchmark("download/fetchKCI", BM_FetchKCI)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1)
        ->Repetitions(5);
    benchmark::RegisterBenchmark("download/curl -s -o", BM_CurlCommand)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1)
        ->Repetitions(5);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double ours = reporter.medians["download/fetchKCI"];
    const double baseline = reporter.medians["download/curl -s -o"];
    if (baseline > 0) {
        std::printf("\ndownload of %llu MiB: fetchKCI %.1f ms, curl -s -o %.1f ms, ratio %.3f "
                    "(target at most 1.10)\n",
                    static_cast<unsigned long long>(mib), ours, baseline, ours / baseline);
    }
    data.server.reset();
    fs::remove_all(data.workDirectory);
    return 0;
}
