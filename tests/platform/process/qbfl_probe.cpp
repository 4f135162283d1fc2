// A child for the process tests: reports what it sees into a file, or ends in a chosen way.
//   qbfl_probe <report file> args              every argument after "args", NUL-terminated
//   qbfl_probe <report file> environ           every environment entry, NUL-terminated
//   qbfl_probe <report file> fds               the open descriptors, one a line
//   qbfl_probe <report file> session           "<pid> <session id> <has a terminal: 0|1>"
//   qbfl_probe <report file> stdio             for 0, 1, 2: "<fd> <device> <inode> <bytes read>"
//   qbfl_probe - exit <code>
//   qbfl_probe - signal <number>
//   qbfl_probe - sleep <milliseconds>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace {

FILE* openReport(const char* path) {
    FILE* report = std::fopen(path, "w");
    if (report == nullptr) {
        std::perror(path);
        std::exit(90);
    }
    return report;
}

void listDescriptors(FILE* report) {
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr) {
        std::exit(91);
    }
    const int own = dirfd(directory);
    const int reportDescriptor = fileno(report);
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        const int descriptor = std::atoi(entry->d_name);
        if (descriptor != own && descriptor != reportDescriptor) {
            std::fprintf(report, "%d\n", descriptor);
        }
    }
    closedir(directory);
}

void describeStdio(FILE* report) {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        struct stat info {};
        if (fstat(descriptor, &info) != 0) {
            std::fprintf(report, "%d closed\n", descriptor);
            continue;
        }
        long bytes = -1;
        if (descriptor == 0) {
            char buffer[256];
            bytes = 0;
            ssize_t got;
            while ((got = read(0, buffer, sizeof buffer)) > 0) {
                bytes += got;
            }
        }
        std::fprintf(report, "%d %lu %lu %ld\n", descriptor,
                     static_cast<unsigned long>(info.st_rdev),
                     static_cast<unsigned long>(info.st_ino), bytes);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return 99;
    }
    const std::string action = argv[2];
    const long number = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 0;
    if (action == "exit") {
        return static_cast<int>(number);
    }
    if (action == "signal") {
        std::signal(static_cast<int>(number), SIG_DFL);
        raise(static_cast<int>(number));
        return 98;
    }
    if (action == "sleep") {
        usleep(static_cast<useconds_t>(number * 1000));
        return 0;
    }

    FILE* report = openReport(argv[1]);
    if (action == "args") {
        for (int i = 3; i < argc; ++i) {
            std::fwrite(argv[i], 1, std::strlen(argv[i]) + 1, report);
        }
    } else if (action == "environ") {
        for (char** entry = environ; *entry != nullptr; ++entry) {
            std::fwrite(*entry, 1, std::strlen(*entry) + 1, report);
        }
    } else if (action == "fds") {
        listDescriptors(report);
    } else if (action == "session") {
        const int terminal = open("/dev/tty", O_RDONLY | O_NOCTTY);
        std::fprintf(report, "%d %d %d\n", static_cast<int>(getpid()), static_cast<int>(getsid(0)),
                     terminal >= 0 ? 1 : 0);
    } else if (action == "stdio") {
        describeStdio(report);
    } else {
        return 97;
    }
    return std::fclose(report) == 0 ? 0 : 96;
}
