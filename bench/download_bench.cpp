// Download of a large archive from the loopback server: KCIDownloader::fetchKCI on the libcurl
// client, with the digest the latest-version document gives, next to `curl -s -o` of the same
// URL alone, followed by a flush to disk, and followed by the same verification and flush. Also the
// peak resident set of a download process, for two archive sizes.
//
//   download_bench [--size-mib N] [google benchmark flags]
//   download_bench --download-peak URL DIR   (internal: one download, memory figures on stdout)
#include "BenchSupport.h"

#include <foundation/httpclient/CurlHttpClient.h>
#include <halvexconnector/latestversion/kcidownloader/KCIDownloader.h>
#include <tripwire/testsupport/LoopbackServer.h>

#include <fl/filesystem/path_conversion.h>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Entry {
    const char* name;
    void (*function)(benchmark::State&);
};

namespace fs = std::filesystem;
using tripwire::bench::runShell;
using tripwire::bench::shellQuoted;
using tripwire::testsupport::LoopbackServer;

struct Fixture {
    fs::path workDirectory;
    std::unique_ptr<LoopbackServer> server;
    std::string url;
    std::string sha256;
    std::string smallUrl;
};

Fixture* fixture = nullptr;

std::string sha256Of(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
    std::vector<char> buffer(1 << 20);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
        EVP_DigestUpdate(context, buffer.data(), static_cast<std::size_t>(in.gcount()));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    EVP_DigestFinal_ex(context, digest, &length);
    EVP_MD_CTX_free(context);
    std::string hex;
    char pair[3];
    for (unsigned i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

std::string withDigest(const std::string& url, const std::string& sha256) {
    return url + "#sha256=" + sha256;
}

void fetch(const std::string& url, const fs::path& directory) {
    auto client = std::make_shared<foundation::httpclient::CurlHttpClient>();
    halvexconnector::latestversion::kcidownloader::KCIDownloader downloader(client);
    benchmark::DoNotOptimize(downloader.fetchKCI(url, fl::filesystem::path_from_native(directory)));
}

// One download in this fresh process; prints "<resident KiB before> <peak KiB after>".
int downloadPeak(const std::string& url, const fs::path& directory) {
    const auto before = tripwire::bench::statusKiB("VmRSS");
    fetch(url, directory);
    const auto peak = tripwire::bench::statusKiB("VmHWM");
    std::printf("%llu %llu\n", static_cast<unsigned long long>(before),
                static_cast<unsigned long long>(peak));
    return 0;
}

void BM_FetchKCI(benchmark::State& state) {
    const fs::path target = fixture->workDirectory / "ours";
    const std::string url = withDigest(fixture->url, fixture->sha256);
    for (auto _ : state) {
        fetch(url, target);
        state.PauseTiming();
        fs::remove_all(target);
        state.ResumeTiming();
    }
}

// Without the digest: the transfer and the flush alone.
void BM_FetchKCINoDigest(benchmark::State& state) {
    const fs::path target = fixture->workDirectory / "ours-plain";
    for (auto _ : state) {
        fetch(fixture->url, target);
        state.PauseTiming();
        fs::remove_all(target);
        state.ResumeTiming();
    }
}

void runCommand(benchmark::State& state, const std::string& command, const fs::path& output) {
    for (auto _ : state) {
        if (!runShell(command)) {
            state.SkipWithError("command failed");
            break;
        }
        state.PauseTiming();
        fs::remove(output);
        state.ResumeTiming();
    }
}

void BM_Curl(benchmark::State& state) {
    const fs::path target = fixture->workDirectory / "curl.zip";
    runCommand(state,
               "curl -s -o " + shellQuoted(target.string()) + " " + shellQuoted(fixture->url),
               target);
}

// The unavoidable work alone: the transfer and making the file durable, nothing verified.
void BM_CurlDurable(benchmark::State& state) {
    const fs::path target = fixture->workDirectory / "curl-durable.zip";
    const std::string file = shellQuoted(target.string());
    runCommand(state, "curl -s -o " + file + " " + shellQuoted(fixture->url) + " && sync " + file,
               target);
}

// The same work as fetchKCI does with a digest: transfer, verify, make durable.
void BM_CurlVerifiedDurable(benchmark::State& state) {
    const fs::path target = fixture->workDirectory / "curl-verified.zip";
    const std::string file = shellQuoted(target.string());
    runCommand(state,
               "curl -s -o " + file + " " + shellQuoted(fixture->url) +
                   " && openssl dgst -sha256 -r " + file + " | grep -q '^" + fixture->sha256 +
                   "' && sync " + file,
               target);
}

// The same without the flush to disk: the difference to the above is what durability costs.
void BM_CurlVerified(benchmark::State& state) {
    const fs::path target = fixture->workDirectory / "curl-verified-only.zip";
    const std::string file = shellQuoted(target.string());
    runCommand(state,
               "curl -s -o " + file + " " + shellQuoted(fixture->url) +
                   " && openssl dgst -sha256 -r " + file + " | grep -q '^" + fixture->sha256 + "'",
               target);
}

void measurePeak(benchmark::State& state, const std::string& url, const char* name) {
    const fs::path target = fixture->workDirectory / name;
    for (auto _ : state) {
        std::istringstream figures(
            tripwire::bench::runThisProgram({"--download-peak", url, target.string()}));
        double before = 0, peak = 0;
        if (!(figures >> before >> peak)) {
            state.SkipWithError("the download process printed no figures");
            break;
        }
        state.SetIterationTime(1e-3);
        state.counters["rss_before_kib"] = before;
        state.counters["peak_kib"] = peak;
        fs::remove_all(target);
    }
}

void BM_PeakSmall(benchmark::State& state) {
    measurePeak(state, fixture->smallUrl, "peak-small");
}

void BM_PeakLarge(benchmark::State& state) {
    measurePeak(state, withDigest(fixture->url, fixture->sha256), "peak-large");
}

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
    if (argc == 4 && std::strcmp(argv[1], "--download-peak") == 0)
        return downloadPeak(argv[2], argv[3]);

    const std::uint64_t mib = takeSizeMiB(argc, argv);
    tripwire::bench::TempDirectory work("download_bench");
    Fixture data;
    data.workDirectory = work.path();
    const fs::path large = work.path() / "kci_bench.zip";
    const fs::path small = work.path() / "kci_small.zip";
    // The same seed: the small archive is the first quarter of the large one.
    tripwire::bench::writeRandomFile(large, mib << 20, 42);
    tripwire::bench::writeRandomFile(small, (mib << 20) / 4, 42);
    data.server = std::make_unique<LoopbackServer>();
    data.server->addFileFromDisk("kci_bench.zip", large);
    data.server->addFileFromDisk("kci_small.zip", small);
    data.url = data.server->fileUrl("kci_bench.zip");
    data.sha256 = sha256Of(large);
    data.smallUrl = withDigest(data.server->fileUrl("kci_small.zip"), sha256Of(small));
    fixture = &data;

    for (const Entry& entry :
         {Entry{"download/fetchKCI", BM_FetchKCI},
          Entry{"download/fetchKCI without digest", BM_FetchKCINoDigest},
          Entry{"download/curl -s -o", BM_Curl}, Entry{"download/curl -s -o, sync", BM_CurlDurable},
          Entry{"download/curl -s -o, sha256, sync", BM_CurlVerifiedDurable},
          Entry{"download/curl -s -o, sha256", BM_CurlVerified}}) {
        benchmark::RegisterBenchmark(entry.name, entry.function)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(1)
            ->Repetitions(9)
            ->ReportAggregatesOnly(true);
    }
    for (const Entry& entry : {Entry{"memory/download peak, quarter size", BM_PeakSmall},
                               Entry{"memory/download peak, full size", BM_PeakLarge}}) {
        benchmark::RegisterBenchmark(entry.name, entry.function)
            ->UseManualTime()
            ->Iterations(1)
            ->Repetitions(3)
            ->ReportAggregatesOnly(true);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    data.server.reset();
    fixture = nullptr;
    return 0;
}
