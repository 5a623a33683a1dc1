#pragma once
// A pseudo-terminal standing in for a serial device: the station opens the
// slave, the test plays the far end on the master.
#include <QDeadlineTimer>
#include <QString>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

struct PtyPort {
    // `link`: a symlink to the slave made under that name (a port name in
    // the working directory, so that the station opens it as that port).
    explicit PtyPort(const QString& link = QString())
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return;
        slave = ::ptsname(master);
        if (link.isEmpty())
            return;
        ::unlink(link.toLocal8Bit().constData());
        linked = ::symlink(slave.c_str(), link.toLocal8Bit().constData()) == 0;
    }
    ~PtyPort()
    {
        if (master >= 0)
            ::close(master);
    }
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    // The bytes that arrive at the far end within `ms`, up to `count`.
    std::string read(size_t count, int ms) const
    {
        std::string got;
        QDeadlineTimer deadline(ms);
        while (got.size() < count && !deadline.hasExpired()) {
            pollfd p { master, POLLIN, 0 };
            if (::poll(&p, 1, 20) > 0 && (p.revents & POLLIN)) {
                char buf[64];
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, static_cast<size_t>(n));
            }
        }
        return got;
    }
    // The line speed the station set on the port.
    speed_t speed() const
    {
        termios t {};
        ::tcgetattr(master, &t);
        return ::cfgetospeed(&t);
    }
    int master = -1;
    std::string slave;
    bool linked = false;
};
