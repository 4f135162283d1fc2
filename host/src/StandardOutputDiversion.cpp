#include "StandardOutputDiversion.h"

#include <cstdio>
#include <iostream>

#include <fcntl.h>
#include <unistd.h>

namespace tripwire_host {

namespace {

void flushStandardOutput() {
    std::cout.flush();
    std::fflush(stdout);
}

} // namespace

StandardOutputDiversion::StandardOutputDiversion() {
    flushStandardOutput();
    savedOutput = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (savedOutput >= 0 && ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        ::close(savedOutput);
        savedOutput = -1;
    }
}

StandardOutputDiversion::~StandardOutputDiversion() {
    if (savedOutput < 0) {
        return;
    }
    flushStandardOutput();
    ::dup2(savedOutput, STDOUT_FILENO);
    ::close(savedOutput);
}

} // namespace tripwire_host
