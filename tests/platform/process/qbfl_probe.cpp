// A child for the process tests: reports what it sees into a file, or ends in a chosen way.
//   <report> args|environ  its arguments after the action, or its environment, NUL-ended
//   <report> fds           its open descriptors, one a line
//   <report> session       "<pid> <session id> <has a terminal: 0|1>"
//   <report> stdio         "<device> <inode>" for 0, 1 and 2, after draining standard input
//   - exit|signal|sleep N  exits with N, raises signal N, or sleeps N ms
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

int main(int argc, char** argv) {
    if (argc < 3)
        return 99;
    const std::string action = argv[2];
    const int number = argc > 3 ? std::atoi(argv[3]) : 0;
    if (action == "exit")
        return number;
    if (action == "signal") {
        std::signal(number, SIG_DFL);
        raise(number);
        return 98;
    }
    if (action == "sleep")
        return usleep(static_cast<useconds_t>(number) * 1000);
    FILE* report = std::fopen(argv[1], "w");
    if (report == nullptr)
        return 90;
    if (action == "args" || action == "environ") {
        for (char** entry = action == "args" ? argv + 3 : environ; *entry != nullptr; ++entry)
            std::fwrite(*entry, 1, std::strlen(*entry) + 1, report);
    } else if (action == "fds") {
        DIR* directory = opendir("/proc/self/fd");
        while (const dirent* entry = directory ? readdir(directory) : nullptr) {
            const int fd = std::atoi(entry->d_name);
            if (entry->d_name[0] != '.' && fd != dirfd(directory) && fd != fileno(report))
                std::fprintf(report, "%d\n", fd);
        }
        if (directory)
            closedir(directory);
    } else if (action == "session") {
        const int terminal = open("/dev/tty", O_RDONLY | O_NOCTTY);
        std::fprintf(report, "%d %d %d\n", getpid(), getsid(0), terminal >= 0 ? 1 : 0);
    } else if (action == "stdio") {
        char buffer[256];
        while (read(0, buffer, sizeof buffer) > 0) {
        }
        for (int fd = 0; fd <= 2; ++fd) {
            struct stat info {};
            fstat(fd, &info);
            std::fprintf(report, "%lu %lu\n", static_cast<unsigned long>(info.st_rdev),
                         static_cast<unsigned long>(info.st_ino));
        }
    } else {
        return 97;
    }
    return std::fclose(report) == 0 ? 0 : 96;
}
