#include "PtyBridge.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace merival::test {

PtyBridge::~PtyBridge() {
    Stop();
}

bool PtyBridge::OpenEnd(End& end) {
    end.master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (end.master < 0 || ::grantpt(end.master) != 0 || ::unlockpt(end.master) != 0) {
        return false;
    }
    const char* name = ::ptsname(end.master);
    if (name == nullptr) {
        return false;
    }
    end.name = QString::fromLocal8Bit(name);
    end.slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (end.slave < 0) {
        return false;
    }
    termios tio{};
    ::tcgetattr(end.slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(end.slave, TCSANOW, &tio);
    return true;
}

void PtyBridge::CloseEnd(End& end) {
    for (int* fd : {&end.slave, &end.master}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

bool PtyBridge::Start() {
    if (!OpenEnd(a_) || !OpenEnd(b_) || ::pipe(wake_) != 0) {
        return false;
    }
    thread_ = std::thread([this] { Run(); });
    return true;
}

void PtyBridge::Stop() {
    if (thread_.joinable()) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
        thread_.join();
    }
    for (int* fd : {&wake_[0], &wake_[1]}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    CloseEnd(a_);
    CloseEnd(b_);
}

void PtyBridge::Run() {
    pollfd fds[3] = {{wake_[0], POLLIN, 0}, {a_.master, POLLIN, 0}, {b_.master, POLLIN, 0}};
    char buffer[4096];
    while (true) {
        if (::poll(fds, 3, -1) < 0) {
            continue;
        }
        if (fds[0].revents != 0) {
            return;
        }
        const std::pair<int, int> routes[] = {{1, b_.master}, {2, a_.master}};
        for (const auto& [index, to] : routes) {
            if (fds[index].revents & POLLIN) {
                const ssize_t n = ::read(fds[index].fd, buffer, sizeof buffer);
                for (ssize_t done = 0; n > 0 && done < n;) {
                    const ssize_t w = ::write(to, buffer + done, static_cast<size_t>(n - done));
                    if (w <= 0) {
                        break;
                    }
                    done += w;
                }
            }
        }
    }
}

}  // namespace merival::test
