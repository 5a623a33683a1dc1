// Serial ports on Linux: termios for the line, poll() on the port together
// with an eventfd for every wait, so that an idle port costs no wake-ups.
// This is the only file of the station that talks to the tty layer.
#include "posix_serial.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, never negative, clipped to what poll takes.
int remaining_ms(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

int clip_ms(uint64_t ms)
{
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

struct BaudEntry {
    uint32_t rate;
    speed_t code;
};

const BaudEntry baud_table[] = {
    { 50, B50 },
    { 75, B75 },
    { 110, B110 },
    { 134, B134 },
    { 150, B150 },
    { 200, B200 },
    { 300, B300 },
    { 600, B600 },
    { 1200, B1200 },
    { 1800, B1800 },
    { 2400, B2400 },
    { 4800, B4800 },
    { 9600, B9600 },
    { 19200, B19200 },
    { 38400, B38400 },
    { 57600, B57600 },
    { 115200, B115200 },
    { 230400, B230400 },
    { 460800, B460800 },
    { 500000, B500000 },
    { 576000, B576000 },
    { 921600, B921600 },
    { 1000000, B1000000 },
    { 1152000, B1152000 },
    { 1500000, B1500000 },
    { 2000000, B2000000 },
    { 2500000, B2500000 },
    { 3000000, B3000000 },
    { 3500000, B3500000 },
    { 4000000, B4000000 },
};

bool baud_code(uint32_t rate, speed_t* code)
{
    for (const auto& e : baud_table) {
        if (e.rate == rate) {
            *code = e.code;
            return true;
        }
    }
    return false;
}

// Modem-line ioctls are answered with ENOTTY or EINVAL by pseudo-terminals
// and by some USB adapters: those lines simply do not exist there.
bool modem_lines_missing(int err)
{
    return err == ENOTTY || err == EINVAL;
}

bool set_modem_line(int fd, int bit, int control)
{
    // 1 = held on, 0 = held off; handshake and toggle modes are left to the
    // driver (CRTSCTS) or unsupported, so the line is not touched for them.
    if (control != 0 && control != 1)
        return true;
    int bits = bit;
    if (ioctl(fd, control == 1 ? TIOCMBIS : TIOCMBIC, &bits) == 0)
        return true;
    return modem_lines_missing(errno);
}

} // namespace

// The driver's line counters as last seen; changes against them are the line
// errors and modem changes to report.
static void remember_counts(CommPort* port, const serial_icounter_struct& ic)
{
    port->last_frame = ic.frame;
    port->last_overrun = ic.overrun;
    port->last_parity = ic.parity;
    port->last_brk = ic.brk;
    port->last_buf_overrun = ic.buf_overrun;
    port->last_rng = ic.rng;
    port->last_dcd = ic.dcd;
}

// Who holds a device: the flock on its inode in /proc/locks, and the
// holder's program name. "进程 1234（ai_station）"; empty when it cannot be
// told (TIOCEXCL alone leaves no trace, /proc may be hidden).
static std::string lock_holder(const std::string& device)
{
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0)
        return {};
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 2413 00:19:30 0 EOF"; a lock someone
        // waits for is marked "->" and holds nothing.
        std::istringstream in(line);
        std::string id, kind, mode, access, pid, where;
        if (!(in >> id >> kind))
            continue;
        if (kind == "->")
            continue;
        if (kind != "FLOCK" || !(in >> mode >> access >> pid >> where))
            continue;
        // "MAJ:MIN:INODE", device numbers in hex, the inode in decimal; read
        // with from_chars, which knows no locale.
        unsigned maj = 0, min = 0;
        unsigned long long inode = 0;
        const char* p = where.data();
        const char* end = where.data() + where.size();
        auto field = [&](auto& value, int base, bool last) {
            const auto r = std::from_chars(p, end, value, base);
            if (r.ec != std::errc() || (last ? r.ptr != end : (r.ptr == end || *r.ptr != ':')))
                return false;
            p = last ? r.ptr : r.ptr + 1;
            return true;
        };
        if (!field(maj, 16, false) || !field(min, 16, false) || !field(inode, 10, true))
            continue;
        if (maj != major(st.st_dev) || min != minor(st.st_dev) || inode != st.st_ino)
            continue;
        std::ifstream comm_file("/proc/" + pid + "/comm");
        std::string program;
        std::getline(comm_file, program);
        return "进程 " + pid + (program.empty() ? std::string() : "（" + program + "）");
    }
    return {};
}

CommPort* comm_open(const std::string& device, CommOpenError* error, std::string* detail)
{
    *error = CommOpenError::none;
    // Non-blocking: every wait goes through poll() with the close event.
    // O_NOCTTY: the port must never become the station's controlling terminal.
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        *detail = std::strerror(err);
        if (err == ENOENT || err == ENODEV || err == ENXIO || err == ENOTDIR)
            *error = CommOpenError::no_such_port;
        else if (err == EBUSY) {
            *error = CommOpenError::busy;
            if (const std::string holder = lock_holder(device); !holder.empty())
                *detail = "由" + holder + "打开";
        }
        else if (err == EACCES || err == EPERM)
            *error = CommOpenError::permission;
        else
            *error = CommOpenError::other;
        return nullptr;
    }
    // TIOCEXCL makes later open() calls fail with EBUSY, but not for a process
    // with CAP_SYS_ADMIN (root), and it cannot see an opener that came first.
    // An advisory flock closes both gaps between programs that take it, which
    // includes every other instance of this station.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *detail = std::strerror(errno);
        *error = CommOpenError::busy;
        if (const std::string holder = lock_holder(device); !holder.empty())
            *detail = "由" + holder + "打开";
        ::close(fd);
        return nullptr;
    }
    // Fails with ENOTTY on something that is not a terminal; comm_is_serial
    // reports that case.
    (void)ioctl(fd, TIOCEXCL);
    auto* port = new CommPort;
    port->fd = fd;
    serial_icounter_struct ic {};
    if (ioctl(fd, TIOCGICOUNT, &ic) == 0) {
        port->has_counters = true;
        remember_counts(port, ic);
    }
    return port;
}

bool comm_is_serial(CommPort* port)
{
    termios t;
    return tcgetattr(port->fd, &t) == 0;
}

bool comm_setup(CommPort*, std::size_t, std::size_t)
{
    // The Linux tty layer sizes its own buffers (4096 bytes of line-discipline
    // input, more in the driver); there is nothing to ask for.
    return true;
}

void comm_close(CommPort* port)
{
    // The exclusive flag lives on the tty, which for a pseudo-terminal
    // outlives this descriptor; clear it so the next open is not refused.
    (void)ioctl(port->fd, TIOCNXCL);
    ::close(port->fd); // also drops the flock
    delete port;
}

void comm_purge(CommPort* port, unsigned what)
{
    // A pending read or write needs no abort here: the threads' waits also
    // watch the close event.
    if ((what & comm_purge_rx) && (what & comm_purge_tx))
        tcflush(port->fd, TCIOFLUSH);
    else if (what & comm_purge_rx)
        tcflush(port->fd, TCIFLUSH);
    else if (what & comm_purge_tx)
        tcflush(port->fd, TCOFLUSH);
}

bool comm_apply_line(CommPort* port, const CommLineSettings& s)
{
    // Start from the driver's record so that what the component does not
    // manage (other control characters, driver flags) keeps its value.
    termios t;
    if (tcgetattr(port->fd, &t) != 0)
        return false;

    // Raw binary input: no line editing, no signals, no CR/NL translation, no
    // stripping of the eighth bit, breaks read as a 0 byte.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR
        | ICRNL | IXON | IXOFF | IXANY | IUCLC | IMAXBEL);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    // Receiver on; modem control lines do not gate open or input.
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);

    // Parity errors: with INPCK and neither IGNPAR nor PARMRK the kernel
    // hands a bad byte on as 0, which is the replacement the component
    // offers with its default replacement character.
    if (s.parity_check)
        t.c_iflag |= INPCK;
    // XON/XOFF: IXOFF lets the port send XOFF/XON when its input fills,
    // IXON makes it obey XOFF/XON from the far end.
    if (s.inx_xon_xoff)
        t.c_iflag |= IXOFF;
    if (s.outx_xon_xoff)
        t.c_iflag |= IXON;
    // Linux has one switch for hardware handshake in both directions.
    if (s.outx_cts_flow || s.rts_control == 2)
        t.c_cflag |= CRTSCTS;

    switch (s.byte_size) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    default:
        t.c_cflag |= CS8;
        break;
    }
    switch (s.parity) {
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    case 3:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break; // mark
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break; // space
    default:
        break;
    }
    // One and a half stop bits: UARTs send 1.5 when two are asked for with
    // 5 data bits, so both codes above one set CSTOPB.
    if (s.stop_bits != 0)
        t.c_cflag |= CSTOPB;

    t.c_cc[VSTART] = static_cast<cc_t>(s.xon_char);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.xoff_char);
    // Reads never block (O_NONBLOCK); block cutting is done in comm_read.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    // A rate the driver does not know keeps the previous one; everything else
    // is applied all the same, so the line is always raw.
    speed_t code;
    const bool rate_known = baud_code(s.baud_rate, &code);
    if (rate_known) {
        cfsetispeed(&t, code);
        cfsetospeed(&t, code);
    }
    bool ok = tcsetattr(port->fd, TCSANOW, &t) == 0 && rate_known;
    port->drop_nul.store(s.ignore_null_char, std::memory_order_relaxed);

    ok = set_modem_line(port->fd, TIOCM_DTR, s.dtr_control) && ok;
    ok = set_modem_line(port->fd, TIOCM_RTS, s.rts_control) && ok;
    return ok;
}

bool comm_apply_timeouts(CommPort* port, const CommTimeouts& t)
{
    port->read_interval.store(t.read_interval, std::memory_order_relaxed);
    port->read_multiplier.store(t.read_multiplier, std::memory_order_relaxed);
    port->read_constant.store(t.read_constant, std::memory_order_relaxed);
    port->write_multiplier.store(t.write_multiplier, std::memory_order_relaxed);
    port->write_constant.store(t.write_constant, std::memory_order_relaxed);
    return true;
}

CommIo comm_read(CommPort* port, CommEvent* close_event, char* buffer, std::size_t size, std::size_t* count,
    Clock::time_point* first_byte)
{
    *count = 0;
    if (port->hangup_pending) {
        port->hangup_pending = false;
        return CommIo::hangup;
    }
    const uint32_t interval = port->read_interval.load(std::memory_order_relaxed);
    const uint64_t total = uint64_t(port->read_multiplier.load(std::memory_order_relaxed)) * size
        + port->read_constant.load(std::memory_order_relaxed);
    // An interval of 0xFFFFFFFF with no total limit means "return what is
    // there"; it still waits for the first byte so that the reader sleeps.
    const bool return_at_once = interval == UINT32_MAX && total == 0;
    const bool drop_nul = port->drop_nul.load(std::memory_order_relaxed);

    std::size_t n = 0;
    bool got_byte = false;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(total);

    auto hung_up = [&]() {
        if (n == 0)
            return CommIo::hangup;
        port->hangup_pending = true;
        *count = n;
        return CommIo::done;
    };

    for (;;) {
        int timeout = -1;
        if (!got_byte) {
            if (total != 0)
                timeout = remaining_ms(deadline);
        } else if (return_at_once) {
            timeout = 0;
        } else if (interval != 0) {
            timeout = clip_ms(interval);
            if (total != 0 && remaining_ms(deadline) < timeout)
                timeout = remaining_ms(deadline);
        } else if (total != 0) {
            timeout = remaining_ms(deadline);
        }

        pollfd fds[2] = { { close_event->fd, POLLIN, 0 }, { port->fd, POLLIN, 0 } };
        const int rc = poll(fds, 2, timeout);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            return CommIo::failed;
        }
        if (fds[0].revents & POLLIN)
            return CommIo::stopped; // the read is abandoned with what it had
        if (rc == 0) {
            if (n > 0) {
                *count = n;
                return CommIo::done;
            }
            // The total limit ran out with nothing read: start a new read.
            got_byte = false;
            deadline = Clock::now() + std::chrono::milliseconds(total);
            continue;
        }
        const short ev = fds[1].revents;
        if (ev & POLLNVAL)
            return CommIo::closed;
        if (ev & POLLIN) {
            const ssize_t r = ::read(port->fd, buffer + n, size - n);
            if (r > 0) {
                std::size_t kept = static_cast<std::size_t>(r);
                if (drop_nul) {
                    char* p = buffer + n;
                    kept = 0;
                    for (ssize_t i = 0; i < r; ++i) {
                        if (p[i] != 0)
                            p[kept++] = p[i];
                    }
                }
                if (!got_byte && first_byte)
                    *first_byte = Clock::now();
                n += kept;
                got_byte = true;
                if (n == size) {
                    *count = n;
                    return CommIo::done;
                }
                continue;
            }
            if (r == 0)
                return hung_up(); // input was reported but the line is gone
            if (errno == EAGAIN || errno == EINTR)
                continue;
            if (errno == EBADF)
                return CommIo::closed;
            if (errno == EIO)
                return hung_up(); // USB adapter removed, far end of a pty closed
            return CommIo::failed;
        }
        if (ev & (POLLHUP | POLLERR))
            return hung_up();
    }
}

CommIo comm_write(
    CommPort* port, CommEvent* close_event, const char* buffer, std::size_t size, std::size_t* count)
{
    *count = 0;
    const uint64_t total = uint64_t(port->write_multiplier.load(std::memory_order_relaxed)) * size
        + port->write_constant.load(std::memory_order_relaxed);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(total);
    std::size_t sent = 0;
    while (sent < size) {
        const ssize_t w = ::write(port->fd, buffer + sent, size - sent);
        if (w > 0) {
            sent += static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno != EAGAIN) {
            *count = sent;
            if (errno == EBADF)
                return CommIo::closed;
            if (errno == EIO)
                return CommIo::hangup;
            return CommIo::failed;
        }
        // The driver's output queue is full (or output is held by XOFF):
        // sleep until it takes more, the time-out runs out, or close.
        const int timeout = total != 0 ? remaining_ms(deadline) : -1;
        pollfd fds[2] = { { close_event->fd, POLLIN, 0 }, { port->fd, POLLOUT, 0 } };
        const int rc = poll(fds, 2, timeout);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            *count = sent;
            return CommIo::failed;
        }
        if (fds[0].revents & POLLIN) {
            *count = sent;
            return CommIo::stopped;
        }
        if (rc == 0)
            break; // write time-out: report what went out
        if (fds[1].revents & POLLNVAL) {
            *count = sent;
            return CommIo::closed;
        }
        if ((fds[1].revents & (POLLHUP | POLLERR)) && !(fds[1].revents & POLLOUT)) {
            *count = sent;
            return CommIo::hangup;
        }
    }
    *count = sent;
    return CommIo::done;
}

void comm_line_events(CommPort* port, uint32_t* errors, uint32_t* modem)
{
    *errors = 0;
    *modem = 0;
    if (!port->has_counters)
        return;
    serial_icounter_struct ic {};
    if (ioctl(port->fd, TIOCGICOUNT, &ic) != 0)
        return;
    if (ic.buf_overrun != port->last_buf_overrun)
        *errors |= comm_error_rx_overflow;
    if (ic.overrun != port->last_overrun)
        *errors |= comm_error_overrun;
    if (ic.parity != port->last_parity)
        *errors |= comm_error_parity;
    if (ic.frame != port->last_frame)
        *errors |= comm_error_frame;
    if (ic.brk != port->last_brk)
        *errors |= comm_error_break;
    if (ic.rng != port->last_rng)
        *modem |= comm_modem_ring;
    if (ic.dcd != port->last_dcd)
        *modem |= comm_modem_carrier;
    remember_counts(port, ic);
}

CommEvent* comm_event_create()
{
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    auto* event = new CommEvent;
    event->fd = fd;
    return event;
}

void comm_event_set(CommEvent* event)
{
    const uint64_t one = 1;
    ssize_t rc;
    do {
        rc = ::write(event->fd, &one, sizeof one);
    } while (rc < 0 && errno == EINTR);
}

void comm_event_reset(CommEvent* event)
{
    uint64_t value;
    ssize_t rc;
    do {
        rc = ::read(event->fd, &value, sizeof value);
    } while (rc < 0 && errno == EINTR);
}

bool comm_event_is_set(CommEvent* event)
{
    pollfd fd = { event->fd, POLLIN, 0 };
    return poll(&fd, 1, 0) == 1 && (fd.revents & POLLIN);
}

void comm_event_free(CommEvent* event)
{
    ::close(event->fd);
    delete event;
}

int comm_event_wait_any(CommEvent* first, CommEvent* second)
{
    pollfd fds[2] = { { first->fd, POLLIN, 0 }, { second->fd, POLLIN, 0 } };
    for (;;) {
        const int rc = poll(fds, 2, -1);
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            return -1;
        if (fds[0].revents & POLLIN)
            return 0;
        if (fds[1].revents & POLLIN)
            return 1;
        return -1;
    }
}
