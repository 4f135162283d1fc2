// The module inside a framework, as a host uses it: the two queries next to the file-system work
// they cannot avoid, the framework's start-up steps, one service lookup, and the memory that
// loading the module adds.
//
//   module_bench [--install-archive-mib N] [google benchmark flags]
//   module_bench --cold-start   (internal: one start-up in a fresh process, figures on stdout)
#include "BenchSupport.h"

#include <agent/control/AgentRegistration.h>
#include <agent/spf/externalprocessdiscovery/UserStorageRootOverride.h>
#include <fl/i18n/conversion.h>
#include <foundation/cppmicroservices/FrameworkAccess.h>
#include <halvexconnector/latestversion/installationdiscovery/LatestInstallFile.h>
#include <halvexconnector/tripwire/ITripwire.h>
#include <tripwire/InstallLayout.h>

#include "ServiceLookup.h"

#include <cppmicroservices/Bundle.h>
#include <cppmicroservices/BundleContext.h>
#include <cppmicroservices/Framework.h>
#include <cppmicroservices/FrameworkEvent.h>
#include <cppmicroservices/FrameworkFactory.h>

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace discovery = halvexconnector::latestversion::installationdiscovery;
using agent::spf::externalprocessdiscovery::UserStorageRootOverride;
using halvexconnector::tripwire::ITripwire;
using Clock = std::chrono::steady_clock;

std::string stageDirectory() {
    const char* fromEnvironment = std::getenv("TRIPWIRE_STAGE_DIR");
    return fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment
                                                                  : TRIPWIRE_BENCH_STAGE_DIR;
}

std::string declarativeServicesPath() {
    return stageDirectory() + "/" + tripwire::layout::declarativeServices;
}

std::string modulePath() {
    return stageDirectory() + "/" + tripwire::layout::moduleBundle;
}

class FolderOverride : public UserStorageRootOverride {
public:
    FolderOverride(const fs::path& storage, const fs::path& locks)
        : storage(storage.string()), locks(locks.string()) {}
    std::string description() const override { return "benchmark"; }
    fl::filesystem::basic_path firstFolderOverride() const override { return asPath(storage); }
    fl::filesystem::basic_path secondFolderOverride() const override { return asPath(locks); }

private:
    static fl::filesystem::basic_path asPath(const std::string& folder) {
        return {fl::i18n::utf8_to_ustring(folder), true};
    }
    std::string storage;
    std::string locks;
};

double microsecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void startBundles(cppmicroservices::BundleContext context, const std::string& location) {
    for (auto& bundle : context.InstallBundles(location))
        bundle.Start();
}

// One start-up in this fresh process, as a host does it; prints
// "<create µs> <install+start µs> <first GetService µs> <RSS added KiB>".
int coldStart() {
    const auto created = Clock::now();
    auto framework = std::make_shared<cppmicroservices::Framework>(
        cppmicroservices::FrameworkFactory().NewFramework());
    framework->Start();
    foundation::cppmicroservices::setFramework(framework);
    const double createUs = microsecondsSince(created);

    auto context = framework->GetBundleContext();
    const auto installed = Clock::now();
    startBundles(context, declarativeServicesPath());
    startBundles(context, modulePath());
    const double installUs = microsecondsSince(installed);

    const std::uint64_t residentBefore = tripwire::bench::statusKiB("VmRSS");
    const auto requested = Clock::now();
    auto service = context.GetService(context.GetServiceReference<ITripwire>());
    const double firstGetUs = microsecondsSince(requested);
    if (!service)
        return 1;
    const std::uint64_t residentAfter = tripwire::bench::statusKiB("VmRSS");

    std::printf("%.1f %.1f %.1f %llu\n", createUs, installUs, firstGetUs,
                static_cast<unsigned long long>(residentAfter - residentBefore));
    service.reset();
    foundation::cppmicroservices::clearFramework();
    framework->Stop();
    framework->WaitForStop(std::chrono::milliseconds::zero());
    return 0;
}

// Everything the steady-state benchmarks share: a framework with the module, an override
// service pointing at the benchmark's folders, four running agents and an installation.
struct Fixture {
    explicit Fixture(const fs::path& home)
        : storage(home / "storage"), locks(home / "locks"),
          framework(std::make_shared<cppmicroservices::Framework>(
              cppmicroservices::FrameworkFactory().NewFramework())) {
        framework->Start();
        foundation::cppmicroservices::setFramework(framework);
        auto context = framework->GetBundleContext();
        startBundles(context, declarativeServicesPath());
        startBundles(context, modulePath());
        overrideRegistration = context.RegisterService<UserStorageRootOverride>(
            std::make_shared<FolderOverride>(storage, locks));
        for (const char* name : {"ServiceHost", "Updater", "Indexer", "Notifier"})
            agents.emplace_back(locks, name);
        discovery::writeLatestInstallFile(
            storage, {"2026.12.0.1", "/opt/Quillbeck/ServiceHost", "/opt/Quillbeck/bin/launcher"});
        service = context.GetService(context.GetServiceReference<ITripwire>());
    }
    ~Fixture() {
        service.reset();
        overrideRegistration.Unregister();
        foundation::cppmicroservices::clearFramework();
        framework->Stop();
        framework->WaitForStop(std::chrono::milliseconds::zero());
    }

    fs::path storage;
    fs::path locks;
    std::shared_ptr<cppmicroservices::Framework> framework;
    cppmicroservices::ServiceRegistration<UserStorageRootOverride> overrideRegistration;
    std::vector<agent::control::AgentRegistration> agents;
    std::shared_ptr<ITripwire> service;
    fs::path localArchive;
};

Fixture* fixture = nullptr;

// The least work of the running query: list the lock root, probe each lock file once.
int countHeldLocks(const fs::path& lockRoot) {
    DIR* directory = ::opendir(lockRoot.c_str());
    if (directory == nullptr)
        return 0;
    int held = 0;
    while (const dirent* entry = ::readdir(directory)) {
        const std::size_t length = std::strlen(entry->d_name);
        if (length <= 5 || std::strcmp(entry->d_name + length - 5, ".lock") != 0)
            continue;
        const int fd = ::openat(::dirfd(directory), entry->d_name,
                                O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK)
            ++held;
        ::close(fd);
    }
    ::closedir(directory);
    return held;
}

// The least work of the installation query: read the description file and parse it.
bool readAndParse(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[4096];
    std::string content;
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        content.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return discovery::parseLatestInstallInfo(content).record.has_value();
}

void BM_Running(benchmark::State& state) {
    for (auto _ : state) {
        if (!fixture->service->areHALVEXServicesRunning(halvexconnector::tripwire::STANDARD)) {
            state.SkipWithError("no running agent seen");
            break;
        }
    }
}

void BM_RunningRaw(benchmark::State& state) {
    for (auto _ : state) {
        if (countHeldLocks(fixture->locks) != 4) {
            state.SkipWithError("expected four held locks");
            break;
        }
    }
}

void BM_Installation(benchmark::State& state) {
    const std::uint32_t required[4] = {2026, 1, 0, 0};
    for (auto _ : state) {
        if (fixture->service->checkHALVEXServicesInstallation(halvexconnector::tripwire::STANDARD,
                                                              required) !=
            halvexconnector::tripwire::INSTALLED) {
            state.SkipWithError("installation not seen");
            break;
        }
    }
}

void BM_InstallationRaw(benchmark::State& state) {
    const fs::path file = fixture->storage / std::string(discovery::kLatestInstallFileName);
    for (auto _ : state) {
        if (!readAndParse(file)) {
            state.SkipWithError("cannot read the description file");
            break;
        }
    }
}

void BM_Lookup(benchmark::State& state) {
    const cppmicroservices::LDAPFilter everyService;
    for (auto _ : state) {
        auto found =
            halvexconnector::tripwireimpl::getService<UserStorageRootOverride>(everyService);
        benchmark::DoNotOptimize(found.get());
        if (!found) {
            state.SkipWithError("no override service found");
            break;
        }
    }
}

// Install from a local kci archive with an installer that does nothing, in the mode that does not
// start the service host: copy, extraction, installer run, clean-up, event.
void BM_InstallFromLocalArchive(benchmark::State& state) {
    for (auto _ : state) {
        const double cpuBefore =
            tripwire::bench::cpuSeconds(RUSAGE_SELF) + tripwire::bench::cpuSeconds(RUSAGE_CHILDREN);
        const auto result = fixture->service->installAndStartHALVEXServices(
            halvexconnector::tripwire::DRIVE, "benchmark", boost::none, boost::none);
        state.counters["cpu_s"] = tripwire::bench::cpuSeconds(RUSAGE_SELF) +
                                  tripwire::bench::cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
        if (result != halvexconnector::tripwire::INSTALLED_AND_STARTED) {
            state.SkipWithError("the install attempt failed");
            break;
        }
    }
}

// The same steps in the shell: copy the archive into a working directory, extract it, run the
// installer with the same arguments, remove the working directory.
void BM_InstallShellBaseline(benchmark::State& state) {
    using tripwire::bench::shellQuoted;
    const fs::path work = fixture->storage / "shell-work";
    const std::string w = shellQuoted(work.string());
    const std::string command =
        "mkdir -p " + w + "/x && cp " + shellQuoted(fixture->localArchive.string()) + " " + w +
        "/kci.zip && bsdtar -xf " + w + "/kci.zip -C " + w + "/x && " + w +
        "/x/bin/setup -source " + shellQuoted(fixture->localArchive.parent_path().string()) +
        " -mode silent -triggeredby TRIPWIRE_benchmark && rm -rf " + w;
    for (auto _ : state) {
        const double cpuBefore = tripwire::bench::cpuSeconds(RUSAGE_CHILDREN);
        if (!tripwire::bench::runShell(command)) {
            state.SkipWithError("the shell baseline failed");
            break;
        }
        state.counters["cpu_s"] = tripwire::bench::cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    }
}

// Each repetition starts a fresh process: the module's library is loaded once per process, so
// only a new one shows the cost of the first request.
void BM_ColdStart(benchmark::State& state) {
    for (auto _ : state) {
        std::istringstream figures(tripwire::bench::runThisProgram({"--cold-start"}));
        double create = 0, install = 0, firstGet = 0, residentKiB = 0;
        if (!(figures >> create >> install >> firstGet >> residentKiB)) {
            state.SkipWithError("the start-up process printed no figures");
            break;
        }
        state.SetIterationTime((create + install + firstGet) / 1e6);
        state.counters["create_us"] = create;
        state.counters["install_start_us"] = install;
        state.counters["first_get_service_us"] = firstGet;
        state.counters["rss_added_kib"] = residentKiB;
    }
}

std::uint64_t takeSizeMiB(int& argc, char** argv, std::uint64_t fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--install-archive-mib") == 0) {
            const std::uint64_t mib = std::strtoull(argv[i + 1], nullptr, 10);
            std::copy(argv + i + 2, argv + argc, argv + i);
            argc -= 2;
            return mib;
        }
    }
    return fallback;
}

} // namespace

int main(int argc, char** argv) {
    // Everything on /dev/shm where it exists, as for the extraction benchmark: the file system's
    // inode allocation would otherwise swamp the extraction inside the install attempt.
    const std::uint64_t localArchiveMiB = takeSizeMiB(argc, argv, 64);
    const fs::path base = fs::is_directory("/dev/shm") && ::access("/dev/shm", W_OK) == 0
                              ? fs::path("/dev/shm")
                              : fs::temp_directory_path();
    tripwire::bench::TempDirectory home("module_bench", base);
    ::setenv("HOME", home.path().c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home.path() / "data").c_str(), 1);
    ::setenv("QB_TELEMETRY_DIR", (home.path() / "telemetry").c_str(), 1);
    ::unsetenv("QB_FEATURE_FLAGS");
    if (argc > 1 && std::strcmp(argv[1], "--cold-start") == 0)
        return coldStart();

    Fixture data(home.path());
    fixture = &data;
    // The local archive the install attempt finds before it would download anything.
    fs::create_directories(home.path() / "sources");
    data.localArchive = tripwire::bench::makeKciArchive(home.path() / "sources" / "kci_bench.zip",
                                                        localArchiveMiB << 20, 500);
    ::setenv("QB_RODUDED_OZOVIZAZ_INSTALL_SOURCES", (home.path() / "sources").c_str(), 1);
    const auto steady = [](const char* name, void (*function)(benchmark::State&)) {
        benchmark::RegisterBenchmark(name, function)
            ->Unit(benchmark::kMicrosecond)
            ->Repetitions(9)
            ->MinTime(0.05)
            ->ReportAggregatesOnly(true);
    };
    steady("running/areHALVEXServicesRunning", BM_Running);
    steady("running/raw listing and lock probes", BM_RunningRaw);
    steady("installation/checkHALVEXServicesInstallation", BM_Installation);
    steady("installation/raw read and parse", BM_InstallationRaw);
    steady("framework/getService lookup", BM_Lookup);
    for (const auto& [name, function] :
         {std::pair{"install/installAndStartHALVEXServices(DRIVE)", &BM_InstallFromLocalArchive},
          std::pair{"install/shell: cp, bsdtar -xf, installer, rm -rf",
                    &BM_InstallShellBaseline}}) {
        benchmark::RegisterBenchmark(name, function)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(1)
            ->Repetitions(9)
            ->ReportAggregatesOnly(true);
    }
    benchmark::RegisterBenchmark("framework/cold start", BM_ColdStart)
        ->Unit(benchmark::kMicrosecond)
        ->UseManualTime()
        ->Iterations(1)
        ->Repetitions(7)
        ->ReportAggregatesOnly(true);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fixture = nullptr;
    return 0;
}
