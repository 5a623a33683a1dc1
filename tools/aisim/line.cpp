#include "line.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace aisim {

namespace {

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

speed_t speed_of(int baud)
{
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        throw std::runtime_error("unsupported baud rate " + std::to_string(baud));
    }
}

void make_raw(int fd, int baud)
{
    termios t {};
    if (tcgetattr(fd, &t) != 0)
        fail("tcgetattr");
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (baud > 0) {
        cfsetispeed(&t, speed_of(baud));
        cfsetospeed(&t, speed_of(baud));
    }
    if (tcsetattr(fd, TCSANOW, &t) != 0)
        fail("tcsetattr");
}

} // namespace

Line open_pty(const std::string& link)
{
    Line line;
    line.is_pty = true;
    line.fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (line.fd < 0)
        fail("posix_openpt");
    try {
        if (grantpt(line.fd) != 0)
            fail("grantpt");
        if (unlockpt(line.fd) != 0)
            fail("unlockpt");
        const char* name = ptsname(line.fd);
        if (name == nullptr)
            fail("ptsname");
        line.path = name;
        // Keep one slave descriptor open for the bus's lifetime: without it the
        // master reports a hang-up (and reads fail with EIO) whenever no client
        // has the port open, e.g. between the station's close and reopen. It is
        // also where the slave is put in raw mode, so that nothing we write is
        // echoed back to us before a client sets its own mode.
        line.held_slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (line.held_slave < 0)
            fail(std::string("open ") + name);
        make_raw(line.held_slave, 0);
        if (!link.empty()) {
            struct stat st { };
            if (lstat(link.c_str(), &st) == 0) {
                if (!S_ISLNK(st.st_mode)) {
                    errno = EEXIST;
                    fail(link + " exists and is not a symlink");
                }
                if (unlink(link.c_str()) != 0)
                    fail("unlink " + link);
            }
            if (symlink(name, link.c_str()) != 0)
                fail("symlink " + link);
            line.link = link;
        }
    } catch (...) {
        close_line(line);
        throw;
    }
    return line;
}

Line open_device(const std::string& path, int baud)
{
    Line line;
    line.path = path;
    line.fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (line.fd < 0)
        fail("open " + path);
    try {
        // TIOCEXCL alone does not stop a second opener running as root.
        if (flock(line.fd, LOCK_EX | LOCK_NB) != 0)
            fail(path + " is in use");
        make_raw(line.fd, baud);
        tcflush(line.fd, TCIOFLUSH);
    } catch (...) {
        close_line(line);
        throw;
    }
    return line;
}

void set_line_baud(const Line& line, int baud)
{
    tcdrain(line.fd);
    termios t {};
    if (tcgetattr(line.fd, &t) != 0)
        fail("tcgetattr");
    cfsetispeed(&t, speed_of(baud));
    cfsetospeed(&t, speed_of(baud));
    if (tcsetattr(line.fd, TCSANOW, &t) != 0)
        fail("tcsetattr");
}

void close_line(Line& line)
{
    if (!line.link.empty()) {
        // Remove the link only while it still points at our terminal.
        char target[256];
        const ssize_t n = readlink(line.link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == line.path)
            unlink(line.link.c_str());
        line.link.clear();
    }
    if (line.held_slave >= 0)
        close(line.held_slave);
    if (line.fd >= 0)
        close(line.fd);
    line.held_slave = -1;
    line.fd = -1;
}

bool write_all(int fd, const unsigned char* data, size_t size)
{
    size_t done = 0;
    int stalls = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN && stalls++ < 20) {
            pollfd p { fd, POLLOUT, 0 };
            poll(&p, 1, 50);
            continue;
        }
        return false;
    }
    return true;
}

} // namespace aisim
