// TSComm on pseudo-terminal pairs: the test writes and reads the master side
// as the instrument would.
#include "errors.h"
#include "pty_pair.h"
#include "scomm.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// What the events of one component reported, in order.
struct Recorder {
    std::vector<std::string> blocks;
    bool all_blocks_terminated = true;
    int empties = 0;
    int hangups = 0;
    std::vector<std::string> order; // "data", "hangup", "empty"

    void attach(TSComm& comm)
    {
        comm.OnReceiveData = [this](TSComm*, const char* buffer, unsigned short length) {
            blocks.emplace_back(buffer, length);
            if (buffer[length] != 0)
                all_blocks_terminated = false;
            order.push_back("data");
        };
        comm.OnSendDataEmpty = [this](TSComm*) {
            ++empties;
            order.push_back("empty");
        };
        comm.OnRequestHangup = [this](TSComm*) {
            ++hangups;
            order.push_back("hangup");
        };
    }
    std::size_t bytes() const
    {
        std::size_t n = 0;
        for (const auto& b : blocks)
            n += b.size();
        return n;
    }
    std::string joined() const
    {
        std::string all;
        for (const auto& b : blocks)
            all += b;
        return all;
    }
    std::vector<std::size_t> sizes() const
    {
        std::vector<std::size_t> s;
        for (const auto& b : blocks)
            s.push_back(b.size());
        return s;
    }
};

// Runs the event loop until `done` holds or the deadline passes.
template <typename Pred> bool wait_for(Pred done, int timeout_ms = 5000)
{
    return QTest::qWaitFor(done, timeout_ms);
}

// Lets events arrive for a while; used to show that nothing more comes.
void settle(int ms = 300)
{
    QTest::qWait(ms);
}

// The values the station's main window gives the component.
void station_settings(TSComm& comm, const std::string& device)
{
    comm.SetCommName(device);
    comm.SetBaudRate(19200);
    comm.SetOutx_XonXoffFlow(false);
}

// Bytes that a cooked terminal would change or act on: NUL, XON/XOFF, CR/NL,
// interrupt, end-of-file, erase, and high bytes.
std::string pattern(std::size_t n, int seed = 0)
{
    static const char special[] = { 0x00, 0x11, 0x13, 0x0d, 0x0a, 0x03, 0x04, 0x7f, '\xff', '\x80' };
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = i % 7 == 0 ? special[(i / 7 + seed) % sizeof special]
                          : static_cast<char>((i * 31 + seed) & 0xff);
    return s;
}

termios line_of(const PtyPair& pty)
{
    // On Linux the master's termios requests act on the slave's settings.
    termios t {};
    tcgetattr(pty.master(), &t);
    return t;
}

speed_t speed_of(const PtyPair& pty)
{
    const termios t = line_of(pty);
    return cfgetospeed(&t);
}

class SerialTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        station_settings(comm, pty.slave_path());
        rec.attach(comm);
    }
    void open_and_settle()
    {
        comm.OpenComm();
        ASSERT_TRUE(wait_for([&] { return rec.empties == 1; })); // the writer's first empty queue
    }
    PtyPair pty;
    TSComm comm;
    Recorder rec;
};

// ------------------------------------------------------------ block cutting

struct Chunk {
    std::size_t bytes;
    int pause_ms_after;
};

struct CutCase {
    const char* name;
    std::vector<Chunk> chunks;
    std::vector<std::size_t> expected;
};

TEST_F(SerialTest, ReceivedBytesAreCutIntoBlocksBySilenceOrSize)
{
    const CutCase cases[] = {
        { "one burst of 10", { { 10, 0 } }, { 10 } },
        { "150 ms pause inside", { { 5, 150 }, { 5, 0 } }, { 5, 5 } },
        { "two bursts 20 ms apart", { { 10, 20 }, { 10, 0 } }, { 20 } },
        { "5000 bytes without pause", { { 5000, 0 } }, { 2048, 2048, 904 } },
    };
    open_and_settle();
    int seed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.blocks.clear();
        std::string sent;
        for (const auto& chunk : c.chunks) {
            const std::string part = pattern(chunk.bytes, ++seed);
            pty.write(part);
            sent += part;
            if (chunk.pause_ms_after)
                std::this_thread::sleep_for(std::chrono::milliseconds(chunk.pause_ms_after));
        }
        ASSERT_TRUE(wait_for([&] { return rec.bytes() >= sent.size(); }));
        settle(); // no further block may follow
        EXPECT_EQ(rec.sizes(), c.expected);
        EXPECT_EQ(rec.joined(), sent); // raw: every byte as sent, NUL and control bytes included
        EXPECT_TRUE(rec.all_blocks_terminated);
    }
}

struct TimeoutCase {
    const char* name;
    uint32_t interval, multiplier, constant;
    std::vector<Chunk> chunks;
    std::vector<std::size_t> expected;
};

TEST_F(SerialTest, ReadTimeOutsDecideWhereABlockEnds)
{
    const TimeoutCase cases[] = {
        // No interval and no total limit: a read waits for its full 2048 bytes.
        { "no limits", 0, 0, 0, { { 10, 300 }, { 2038, 0 } }, { 2048 } },
        // Only a total limit: the read ends when it runs out.
        { "total limit only", 0, 0, 250, { { 10, 0 } }, { 10 } },
        // A longer interval joins what the station's 100 ms would cut.
        { "interval 400", 400, 0, 0, { { 5, 150 }, { 5, 0 } }, { 10 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        comm.CloseComm();
        rec = Recorder();
        rec.attach(comm);
        comm.SetReadIntervalTimeout(c.interval);
        comm.SetReadTotalTimeoutMultiplier(c.multiplier);
        comm.SetReadTotalTimeoutConstant(c.constant);
        open_and_settle();
        std::string sent;
        for (const auto& chunk : c.chunks) {
            const std::string part = pattern(chunk.bytes, 3);
            pty.write(part);
            sent += part;
            if (chunk.pause_ms_after)
                settle(chunk.pause_ms_after);
        }
        ASSERT_TRUE(wait_for([&] { return rec.bytes() >= sent.size(); }));
        settle();
        EXPECT_EQ(rec.sizes(), c.expected);
        EXPECT_EQ(rec.joined(), sent);
    }
}

TEST_F(SerialTest, IgnoreNullCharDropsReceivedNulBytes)
{
    comm.SetIgnoreNullChar(true);
    open_and_settle();
    pty.write(std::string("\x01\x00\x02\x00\x00\x03", 6));
    ASSERT_TRUE(wait_for([&] { return rec.bytes() >= 3; }));
    settle();
    EXPECT_EQ(rec.joined(), std::string("\x01\x02\x03"));
}

// ------------------------------------------------------------ sending

TEST_F(SerialTest, QueuedBlocksGoOutInOrderAndTheEmptyQueueIsReportedOnce)
{
    EXPECT_FALSE(comm.SendData("x", 1)) << "closed port";
    // Obeying XOFF from the far end lets the test hold the writer on purpose.
    comm.SetOutx_XonXoffFlow(true);
    open_and_settle();
    EXPECT_FALSE(comm.SendData("x", 0));

    // Stop the line, and know it is stopped: input is processed in order, so
    // once the marker behind the XOFF has been received the XOFF has acted.
    pty.write("\x13"
              "marker");
    ASSERT_TRUE(wait_for([&] { return rec.joined() == "marker"; }));

    const std::vector<std::string> blocks
        = { pattern(65535, 1), pattern(3, 2), pattern(1000, 3), pattern(65535, 4), pattern(10, 5) };
    std::string sent;
    for (const auto& b : blocks) {
        ASSERT_TRUE(comm.SendData(b.data(), static_cast<unsigned short>(b.size())));
        sent += b;
    }
    settle(100);
    EXPECT_EQ(rec.empties, 1) << "nothing can have been written yet";

    pty.write("\x11"); // XON: the writer goes on
    EXPECT_EQ(pty.read(sent.size()), sent);
    ASSERT_TRUE(wait_for([&] { return rec.empties == 2; }));
    settle();
    EXPECT_EQ(rec.empties, 2);
}

TEST_F(SerialTest, CloseDuringALongWriteDropsTheQueuedBlocks)
{
    open_and_settle();
    // The master reads nothing, so the pseudo-terminal fills and the writer
    // waits inside a write while the rest stays queued.
    std::string sent;
    for (int i = 0; i < 4; ++i) {
        const std::string b = pattern(65535, i);
        ASSERT_TRUE(comm.SendData(b.data(), static_cast<unsigned short>(b.size())));
        sent += b;
    }
    const std::string last = "LAST-BLOCK";
    ASSERT_TRUE(comm.SendData(last.data(), static_cast<unsigned short>(last.size())));
    settle(100);
    comm.CloseComm();
    EXPECT_FALSE(comm.is_open());
    EXPECT_FALSE(comm.SendData("x", 1));

    const std::string got = pty.drain();
    EXPECT_LT(got.size(), sent.size());
    EXPECT_EQ(got.find(last), std::string::npos);

    // Nothing of the old queue comes out after the port is opened again.
    rec = Recorder();
    rec.attach(comm);
    open_and_settle();
    EXPECT_EQ(pty.drain(), "");
}

// ------------------------------------------------------------ closing and hang-up

TEST_F(SerialTest, CloseWhileAReadIsPendingRaisesNoEvent)
{
    open_and_settle();
    // Idle read, then a read that has bytes but no 100 ms of silence yet.
    for (const bool with_bytes : { false, true }) {
        SCOPED_TRACE(with_bytes ? "partial block" : "idle");
        if (with_bytes)
            pty.write("12345");
        comm.CloseComm();
        settle();
        EXPECT_TRUE(rec.blocks.empty());
        EXPECT_EQ(rec.hangups, 0);
        EXPECT_EQ(rec.empties, 1);
        rec.empties = 0;
        open_and_settle();
    }
    comm.CloseComm();
    comm.CloseComm(); // closed: nothing to do
}

TEST_F(SerialTest, FarEndClosingGivesOneHangupAfterTheBytesThatCame)
{
    open_and_settle();
    pty.write("0123456789");
    // The kernel discards what the slave has not read yet when the master
    // closes, so close inside the 100 ms silence, once the reader has the bytes.
    std::this_thread::sleep_for(40ms);
    pty.close_master();
    ASSERT_TRUE(wait_for([&] { return rec.hangups == 1; }));
    settle();
    EXPECT_EQ(rec.hangups, 1);
    EXPECT_EQ(rec.order, (std::vector<std::string> { "empty", "data", "hangup" }));
    EXPECT_EQ(rec.joined(), "0123456789");
    EXPECT_TRUE(comm.is_open()) << "the component stays open until CloseComm";
}

// After a write fails the writer has ended: nothing queued would ever be
// sent, so SendData refuses instead of answering "queued".
TEST_F(SerialTest, SendingIsRefusedOnceTheWriterHasEnded)
{
    open_and_settle();
    pty.close_master();
    ASSERT_TRUE(wait_for([&] { return rec.hangups >= 1; }));
    // The next blocks meet the dead line; the first failed write ends the writer.
    ASSERT_TRUE(wait_for([&] { return !comm.SendData("x", 1); }));
    EXPECT_FALSE(comm.SendData("y", 1));
    EXPECT_TRUE(comm.is_open()) << "the component stays open until CloseComm";
}

TEST(SerialRecovery, CloseAndOpenRecoverWhenTheDeviceIsBack)
{
    // "com1" is a link in the working directory, as the simulator makes it.
    const auto old_cwd = std::filesystem::current_path();
    const auto dir = std::filesystem::temp_directory_path() / ("scomm_test_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);

    auto first = std::make_unique<PtyPair>();
    std::filesystem::create_symlink(first->slave_path(), "com1");
    TSComm comm;
    Recorder rec;
    rec.attach(comm);
    station_settings(comm, "com1");
    EXPECT_EQ(comm.resolved_device(), first->slave_path());
    comm.OpenComm();
    first->close_master(); // the adapter is pulled out
    ASSERT_TRUE(wait_for([&] { return rec.hangups == 1; }));

    PtyPair second; // it comes back, under another device name
    std::filesystem::remove("com1");
    std::filesystem::create_symlink(second.slave_path(), "com1");
    comm.CloseComm();
    comm.OpenComm();
    second.write("back");
    ASSERT_TRUE(wait_for([&] { return rec.joined() == "back"; }));
    ASSERT_TRUE(comm.SendData("ok", 2));
    EXPECT_EQ(second.read(2), "ok");
    comm.CloseComm();

    std::filesystem::current_path(old_cwd);
    std::filesystem::remove_all(dir);
}

// ------------------------------------------------------------ open errors

struct OpenErrorCase {
    const char* name;
    // Prepares the failure; returns what must be undone before the port can open.
    std::function<std::function<void()>(TSComm& comm, const std::string& slave)> provoke;
    const char* message; // the fixed first line
    const char* reason; // in the second line, after the port and its device
    bool stays_open;
};

TEST(SerialOpen, FailuresGiveTheirMessageAndLeaveNothingBehind)
{
    const OpenErrorCase cases[] = {
        { "already opened",
            [](TSComm& comm, const std::string&) {
                comm.OpenComm();
                return std::function<void()>([&comm] { comm.CloseComm(); });
            },
            "串口已经打开", "已经打开", true },
        { "no such port",
            [](TSComm& comm, const std::string&) {
                comm.SetCommName("/dev/no-such-serial-port");
                return std::function<void()>([] {});
            },
            "无法打开串口", "设备不存在", false },
        { "not a serial line",
            [](TSComm& comm, const std::string&) {
                comm.SetCommName("/dev/null");
                return std::function<void()>([] {});
            },
            "该设备不是串口", "不是串口设备", false },
        { "held by another component",
            [](TSComm&, const std::string& slave) {
                auto other = std::make_shared<TSComm>();
                other->SetCommName(slave);
                other->OpenComm();
                return std::function<void()>([other] { other->CloseComm(); });
            },
            "无法打开串口", "占用", false },
        { "held by another program",
            [](TSComm&, const std::string& slave) {
                const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
                EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
                return std::function<void()>([fd] { ::close(fd); });
            },
            "无法打开串口", "占用", false },
    };
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSComm comm;
        Recorder rec;
        rec.attach(comm);
        station_settings(comm, pty.slave_path());
        const int fds_before = open_fd_count();
        auto undo = c.provoke(comm, pty.slave_path());
        const int fds_provoked = open_fd_count();
        try {
            comm.OpenComm();
            ADD_FAILURE() << "OpenComm succeeded";
        } catch (const ECommsError& e) {
            const std::string text = e.what();
            const std::size_t eol = text.find('\n');
            EXPECT_EQ(text.substr(0, eol), c.message);
            ASSERT_NE(eol, std::string::npos) << text;
            const std::string second = text.substr(eol + 1);
            EXPECT_NE(second.find(comm.CommName()), std::string::npos) << text;
            EXPECT_NE(second.find(c.reason), std::string::npos) << text;
        }
        EXPECT_EQ(comm.is_open(), c.stays_open);
        EXPECT_EQ(open_fd_count(), fds_provoked) << "the failed open left a descriptor";
        if (c.stays_open) {
            pty.write("still");
            ASSERT_TRUE(wait_for([&] { return rec.joined() == "still"; }));
        }
        undo();
        EXPECT_EQ(open_fd_count(), fds_before);
        // The port opens again at once.
        comm.SetCommName(pty.slave_path());
        EXPECT_NO_THROW(comm.OpenComm());
        comm.CloseComm();
    }
}

TEST(SerialOpen, PermissionErrorNamesTheDialoutGroup)
{
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to drop to another user";
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_EQ(chmod(pty.slave_path().c_str(), 0600), 0);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    if (child == 0) {
        std::string text = "no error";
        if (setgid(65534) == 0 && setuid(65534) == 0) {
            TSComm comm;
            comm.SetCommName(pty.slave_path());
            try {
                comm.OpenComm();
            } catch (const ECommsError& e) {
                text = e.what();
            }
        }
        (void)!::write(out[1], text.data(), text.size());
        _exit(0);
    }
    ::close(out[1]);
    std::string text;
    char buf[512];
    ssize_t n;
    while ((n = ::read(out[0], buf, sizeof buf)) > 0)
        text.append(buf, static_cast<std::size_t>(n));
    ::close(out[0]);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(text.rfind("无法打开串口", 0), 0u) << text;
    EXPECT_NE(text.find("dialout"), std::string::npos) << text;
}

// ------------------------------------------------------------ line settings

TEST_F(SerialTest, OpenPutsTheLineInRawModeWithTheStationSettings)
{
    open_and_settle();
    const termios t = line_of(pty);
    EXPECT_EQ(cfgetospeed(&t), B19200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(t.c_iflag & (IXOFF | IXON | ICRNL | ISTRIP | INPCK), static_cast<tcflag_t>(IXOFF));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
}

TEST_F(SerialTest, LineSettersApplyTheWholeLineOnlyOnAChange)
{
    open_and_settle();
    comm.SetBaudRate(4800);
    EXPECT_EQ(speed_of(pty), B4800);

    // Someone else changes the line; the same value must not touch it...
    termios t = line_of(pty);
    cfsetospeed(&t, B9600);
    cfsetispeed(&t, B9600);
    ASSERT_EQ(tcsetattr(pty.master(), TCSANOW, &t), 0);
    comm.SetBaudRate(4800);
    EXPECT_EQ(speed_of(pty), B9600);
    // ...while any other change re-applies every setting, the rate included.
    comm.SetXonChar(0x12);
    EXPECT_EQ(speed_of(pty), B4800);
    EXPECT_EQ(line_of(pty).c_cc[VSTART], 0x12);

    // A rate the driver does not know keeps the old one.
    comm.SetBaudRate(12345);
    EXPECT_EQ(speed_of(pty), B4800);

    // Parity is only stored while open (a pseudo-terminal clears PARENB
    // itself, so PARODD is what shows the odd parity asked for)...
    comm.SetParity(TParity::Odd);
    EXPECT_EQ(line_of(pty).c_cflag & PARODD, 0u);
    // ...and goes to the line with the next full apply.
    comm.SetStopBits(TStopBits::_2);
    EXPECT_EQ(line_of(pty).c_cflag & (PARODD | CSTOPB), static_cast<tcflag_t>(PARODD | CSTOPB));

    // An unknown rate does not stop OpenComm either.
    comm.CloseComm();
    rec = Recorder();
    rec.attach(comm);
    open_and_settle();
    EXPECT_EQ(speed_of(pty), B4800);
}

TEST_F(SerialTest, CommNameWhileOpenTakesEffectAtTheNextOpen)
{
    PtyPair other;
    ASSERT_TRUE(other.ok());
    open_and_settle();
    comm.SetCommName(other.slave_path());
    pty.write("first");
    ASSERT_TRUE(wait_for([&] { return rec.joined() == "first"; }));
    comm.CloseComm();
    comm.OpenComm();
    other.write("second");
    ASSERT_TRUE(wait_for([&] { return rec.joined() == "firstsecond"; }));
}

} // namespace
