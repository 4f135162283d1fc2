#include "reaper.h"

#include "children.h"

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace foundation::core::process::detail {

namespace {

// Without a process descriptor for every child the reaper looks at its children this often.
constexpr int sweepIntervalMs = 200;

struct Orphan {
    pid_t pid;
    int descriptor;
};

// One thread for the whole process, started on the first adoption. It is never stopped: it only
// sleeps in poll while it has nothing to do, and it must stay usable for processes destroyed
// during static destruction, so the object is deliberately never destroyed.
class Reaper {
public:
    static Reaper& instance() {
        static Reaper* const reaper = new Reaper();
        return *reaper;
    }

    void adopt(pid_t pid, int descriptor) noexcept {
        {
            const std::lock_guard guard(lock);
            try {
                orphans.push_back({pid, descriptor});
            } catch (...) {
                // Out of memory: one last look. A child still running then stays unreaped until
                // this process ends.
                reapIfEnded({pid, descriptor});
                return;
            }
            if (!started) {
                try {
                    std::thread([this] { run(); }).detach();
                    started = true;
                } catch (...) {
                    // The child stays listed; the next adoption tries to start the thread again.
                }
            }
        }
        wake();
    }

private:
    Reaper() : wakeDescriptor(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    void wake() noexcept {
        if (wakeDescriptor >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] auto written = ::write(wakeDescriptor, &one, sizeof one);
        }
    }

    static bool reapIfEnded(const Orphan& orphan) noexcept {
        int status = 0;
        pid_t result;
        do {
            result = ::waitpid(orphan.pid, &status, WNOHANG);
        } while (result < 0 && errno == EINTR);
        if (result == 0) {
            return false;
        }
        // Ended, or no longer ours to wait for (someone else reaped it).
        forgetChild(orphan.pid);
        if (orphan.descriptor >= 0) {
            ::close(orphan.descriptor);
        }
        return true;
    }

    void run() noexcept {
        std::vector<pollfd> watched;
        while (true) {
            bool blind = wakeDescriptor < 0;
            watched.clear();
            if (wakeDescriptor >= 0) {
                watched.push_back({wakeDescriptor, POLLIN, 0});
            }
            {
                const std::lock_guard guard(lock);
                for (const auto& orphan : orphans) {
                    if (orphan.descriptor >= 0) {
                        watched.push_back({orphan.descriptor, POLLIN, 0});
                    } else {
                        blind = true;
                    }
                }
            }
            ::poll(watched.data(), watched.size(), blind ? sweepIntervalMs : -1);
            if (wakeDescriptor >= 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] auto got = ::read(wakeDescriptor, &count, sizeof count);
            }
            sweep();
        }
    }

    void sweep() noexcept {
        const std::lock_guard guard(lock);
        std::erase_if(orphans, [](const Orphan& orphan) { return reapIfEnded(orphan); });
    }

    std::mutex lock;
    std::vector<Orphan> orphans;
    bool started = false;
    const int wakeDescriptor;
};

} // namespace

void adoptChild(pid_t pid, int descriptor) noexcept {
    Reaper::instance().adopt(pid, descriptor);
}

} // namespace foundation::core::process::detail
