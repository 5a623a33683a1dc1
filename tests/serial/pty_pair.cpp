#include "pty_pair.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        close_master();
        return;
    }
    slave_ = ptsname(master_);
}

PtyPair::~PtyPair()
{
    close_master();
}

void PtyPair::close_master()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

void PtyPair::write(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

std::string PtyPair::read(std::size_t count, int timeout_ms)
{
    std::string out;
    char buf[4096];
    while (out.size() < count) {
        pollfd p = { master_, POLLIN, 0 };
        if (poll(&p, 1, timeout_ms) <= 0 || !(p.revents & POLLIN))
            break;
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

std::string PtyPair::drain(int quiet_ms)
{
    return read(std::string::npos, quiet_ms);
}

int open_fd_count()
{
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (!d)
        return -1;
    while (readdir(d) != nullptr)
        ++n;
    closedir(d);
    return n;
}
