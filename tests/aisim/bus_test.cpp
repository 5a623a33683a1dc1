#include "aisim.h"
#include "wire.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace aisim;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

namespace {

// Plays the station: raw port, and blocks cut by 100 ms of silence.
class Client {
public:
    explicit Client(const std::string& path)
    {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd_ < 0)
            return;
        termios t {};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~Client()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    template <size_t N> void send(const std::array<uint8_t, N>& f)
    {
        ASSERT_EQ(write(fd_, f.data(), N), static_cast<ssize_t>(N));
    }
    // The next block: bytes up to 100 ms of silence, waiting at most wait_ms
    // for the first byte. Empty when nothing came.
    Bytes block(int wait_ms = 400)
    {
        Bytes got;
        int timeout = wait_ms;
        for (;;) {
            pollfd p { fd_, POLLIN, 0 };
            if (poll(&p, 1, timeout) <= 0)
                return got;
            uint8_t b[256];
            const ssize_t n = read(fd_, b, sizeof b);
            if (n <= 0)
                return got;
            if (got.empty())
                first_at = Clock::now();
            got.insert(got.end(), b, b + n);
            timeout = 100;
        }
    }
    Clock::time_point first_at;

private:
    int fd_ = -1;
};

Bytes bytes(std::initializer_list<int> l)
{
    Bytes b;
    for (int x : l)
        b.push_back(static_cast<uint8_t>(x));
    return b;
}

class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/aisim_test_XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string path;
};

BusOptions frozen(std::vector<int> addresses)
{
    BusOptions o;
    o.addresses = std::move(addresses);
    o.speed = 0;
    return o;
}

template <class Pred> bool wait_for(Pred pred, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pred();
}

// Default instrument, two decimal places: SV 100.00, PV 25.00, MV 0, status 0.
const Bytes idle_reply = bytes({ 0x4C, 0x1D, 0x10, 0x27, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0 });

} // namespace

TEST(SimBus, AnswersOnlyWellFormedRequestsForItsInstruments)
{
    TempDir dir;
    Bus bus(frozen({ 1, 3 }));
    bus.start_pty(dir.path + "/com1");
    ASSERT_TRUE(fs::is_symlink(dir.path + "/com1"));
    Client c(dir.path + "/com1");
    ASSERT_TRUE(c.ok());

    c.send(build_read(1, 0));
    EXPECT_EQ(c.block(), idle_reply);
    c.send(build_read(2, 0)); // nobody at 2
    EXPECT_TRUE(c.block().empty());
    auto bad = build_read(3, 0);
    bad[6] ^= 1; // checksum
    c.send(bad);
    EXPECT_TRUE(c.block().empty());
    bad = build_read(3, 0);
    bad[1] = 0x81; // address bytes differ
    c.send(bad);
    EXPECT_TRUE(c.block().empty());

    // Garbage in front of a good request does not hide it.
    c.send(std::array<uint8_t, 3> { 0x13, 0x83, 0x00 });
    c.send(build_read(3, 0));
    EXPECT_EQ(c.block(), idle_reply);

    const Stats s = bus.stats();
    EXPECT_EQ(s.requests, 3u);
    EXPECT_EQ(s.replies, 2u);
    EXPECT_EQ(s.unanswered, 1u);
    EXPECT_GE(s.discarded_bytes, 16u + 3u);
    bus.stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path + "/com1")));
}

TEST(SimBus, ApiAndWireSeeTheSameParameters)
{
    TempDir dir;
    Bus bus(frozen({ 7 }));
    bus.start_pty(dir.path + "/com4");
    Client c(dir.path + "/com4");
    bus.set_decimal_places(7, 1);
    bus.set_param(7, 51, 123.4);
    bus.set_run_state(7, 2);
    bus.set_param(7, 0, 55.0);
    bus.advance(1); // Hand: the output follows the manual output
    bus.set_pv(7, 120.0);
    bus.set_param(7, 3, 0.7); // HIAL 0.7 below PV: bit 6
    bus.set_param(7, 6, 100); // LdAL far away
    c.send(build_read(7, 3));
    // SV 123.4, PV 120.0, MV 55.00, HIAL bit, parameter word 7 (0.7 with one decimal).
    const Bytes want = bytes({ 0x22, 0x00, 0xD2, 0x04, 0x7C, 0x15, 0x40, 0x07, 0x00, 0xD0 });
    EXPECT_EQ(c.block(), want);

    // A write from the wire shows through the API, and its reply carries the new value.
    c.send(build_write(7, 4, -125)); // LoAL -12.5
    const Bytes r = c.block();
    ASSERT_EQ(r.size(), 10u);
    EXPECT_TRUE(reply_check_ok(r.data()));
    EXPECT_EQ(static_cast<int16_t>(r[7] | (r[8] << 8)), -125);
    EXPECT_DOUBLE_EQ(bus.param(7, 4), -12.5);
    EXPECT_EQ(bus.stats().writes, 1u);

    bus.set_sensor_break(7, true);
    c.send(build_read(7, 0));
    const Bytes b = c.block();
    ASSERT_EQ(b.size(), 10u);
    EXPECT_TRUE(b[6] & 0x80);
    EXPECT_DOUBLE_EQ(bus.state(7).pv, 1300.0);
    EXPECT_THROW(bus.state(8), std::out_of_range);
}

// An instrument told to ignore writes to a code answers them with the value
// it keeps; its other codes, and other instruments, take their writes.
TEST(SimBus, IgnoredWritesAreAnsweredButNotApplied)
{
    TempDir dir;
    BusOptions o = frozen({ 7, 8 });
    o.ignored_writes = { { 7, 4 } };
    Bus bus(o);
    bus.start_pty(dir.path + "/com2");
    Client c(dir.path + "/com2");
    ASSERT_TRUE(c.ok());
    bus.set_decimal_places(7, 1);
    bus.set_decimal_places(8, 1);
    const auto word = [](const Bytes& r) { return r.size() == 10 ? static_cast<int16_t>(r[7] | (r[8] << 8)) : 0; };

    c.send(build_write(7, 4, -1250)); // LoAL -125.0: kept at -100.0
    EXPECT_EQ(word(c.block()), -1000);
    c.send(build_write(7, 3, 1500)); // HIAL 150.0
    EXPECT_EQ(word(c.block()), 1500);
    c.send(build_write(8, 4, -1250));
    EXPECT_EQ(word(c.block()), -1250);
    EXPECT_DOUBLE_EQ(bus.param(7, 4), -100.0);
    EXPECT_DOUBLE_EQ(bus.param(7, 3), 150.0);
    EXPECT_DOUBLE_EQ(bus.param(8, 4), -125.0);
    EXPECT_EQ(bus.stats().writes_ignored, 1u);
    EXPECT_EQ(bus.stats().writes, 2u);

    bus.ignore_writes(7, 4, false);
    bus.ignore_writes(8, 3);
    c.send(build_write(7, 4, -1250));
    EXPECT_EQ(word(c.block()), -1250);
    c.send(build_write(8, 3, 1500));
    EXPECT_EQ(word(c.block()), 20000 / 10 + 9000); // HIAL 2000.0 kept: 20000 counts, five-digit
    EXPECT_EQ(bus.stats().writes_ignored, 2u);
}

TEST(SimBus, FaultsShapeTheReplies)
{
    TempDir dir;
    Bus bus(frozen({ 1 }));
    bus.start_pty(dir.path + "/com1");
    Client c(dir.path + "/com1");

    Faults f;
    f.drop = 1;
    bus.set_faults(f);
    c.send(build_read(1, 0));
    EXPECT_TRUE(c.block().empty());

    f = {};
    f.corrupt = 1;
    bus.set_faults(f);
    c.send(build_read(1, 0));
    Bytes r = c.block();
    ASSERT_EQ(r.size(), 10u);
    EXPECT_FALSE(reply_check_ok(r.data()));
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 9), Bytes(idle_reply.begin(), idle_reply.begin() + 9));

    f = {};
    f.split = 1;
    bus.set_faults(f);
    c.send(build_read(1, 0));
    const Bytes part1 = c.block();
    const auto t1 = c.first_at;
    const Bytes part2 = c.block();
    ASSERT_FALSE(part1.empty());
    ASSERT_FALSE(part2.empty());
    Bytes joined = part1;
    joined.insert(joined.end(), part2.begin(), part2.end());
    EXPECT_EQ(joined, idle_reply);
    EXPECT_GE(c.first_at - t1, std::chrono::milliseconds(100));

    // A late reply comes only after the next request, as a block of its own,
    // followed by the reply to that request.
    f = {};
    f.late = 1;
    bus.set_faults(f);
    c.send(build_read(1, 0));
    EXPECT_TRUE(c.block().empty());
    f = {};
    bus.set_faults(f);
    bus.set_param(1, 51, 50.0);
    c.send(build_read(1, 0));
    EXPECT_EQ(c.block(), idle_reply);
    r = c.block();
    ASSERT_EQ(r.size(), 10u);
    EXPECT_EQ(r[2] | (r[3] << 8), 5000); // the later request's SV

    f = {};
    f.noise = 1;
    bus.set_faults(f);
    c.send(build_read(1, 0));
    Bytes all = c.block();
    for (Bytes more = c.block(); !more.empty(); more = c.block())
        all.insert(all.end(), more.begin(), more.end());
    EXPECT_GT(all.size(), 10u);

    const Stats s = bus.stats();
    EXPECT_EQ(s.faults.drop, 1u);
    EXPECT_EQ(s.faults.corrupt, 1u);
    EXPECT_EQ(s.faults.split, 1u);
    EXPECT_EQ(s.faults.late, 1u);
    EXPECT_EQ(s.faults.noise, 1u);
    // Every reply that reached the line counts once, split and late included;
    // the dropped one does not.
    EXPECT_EQ(s.replies, 5u);
}

TEST(SimBus, SeededFaultsRepeat)
{
    // Same seed and the same requests: the same replies are dropped.
    auto pattern = [](uint64_t seed) {
        TempDir dir;
        BusOptions o = frozen({ 1 });
        o.seed = seed;
        o.reply_delay_ms = 5;
        o.faults.drop = 0.5;
        Bus bus(o);
        bus.start_pty(dir.path + "/com1");
        Client c(dir.path + "/com1");
        std::string seen;
        for (int i = 0; i < 16; ++i) {
            c.send(build_read(1, 0));
            seen += c.block(400).empty() ? '-' : 'R';
        }
        return seen;
    };
    const std::string a = pattern(42);
    EXPECT_EQ(a, pattern(42));
    EXPECT_NE(a.find('-'), std::string::npos);
    EXPECT_NE(a.find('R'), std::string::npos);
}

TEST(SimBus, ProcessRunsOnTheSpedUpClock)
{
    BusOptions o;
    o.addresses = { 1 };
    o.speed = 100;
    Bus bus(o);
    bus.start_pty();
    EXPECT_TRUE(wait_for([&] { return bus.state(1).pv > 40.0; }, std::chrono::seconds(20)));
    bus.set_run_state(1, 1);
    EXPECT_TRUE(wait_for(
        [&] { return bus.state(1).mv == 0.0 && (bus.state(1).status & 0x04); }, std::chrono::seconds(5)));
}

TEST(SimProgram, CommandLineBusReplaysFramesByteForByte)
{
    TempDir dir;
    const std::string link = dir.path + "/com1";
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    std::vector<std::string> args
        = { AISIM_EXE, "--link", link, "--instruments", "1,3", "--speed", "0", "--set", "3:51=80", "--ignore-write",
              "3:51" };
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, AISIM_EXE, &fa, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);

    ASSERT_TRUE(wait_for([&] { return fs::exists(link); }, std::chrono::seconds(10)));
    {
        Client c(link);
        ASSERT_TRUE(c.ok());
        // Address 3, SV 80.00, PV 25.00: A = 5500, B = 8000.
        const Bytes poll3 = bytes({ 0x7C, 0x15, 0x40, 0x1F, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0 });
        c.send(build_read(3, 0));
        EXPECT_EQ(c.block(), poll3);
        c.send(build_read(1, 22)); // input type K
        EXPECT_EQ(c.block(), bytes({ 0x4C, 0x1D, 0x10, 0x27, 0x00, 0x00, 0x00, 0x02, 0x00, 0xA0 }));
        // SV 90.00 to address 3, which ignores writes to code 51: answered,
        // and the polls below still show SV 80.00.
        c.send(build_write(3, 51, 9000));
        EXPECT_EQ(c.block().size(), 10u);
        // Write 512 to code 2 at address 3: it answers, then lives at 12.
        c.send(std::array<uint8_t, 8> { 0x83, 0x83, 0x86, 0x02, 0x00, 0x02, 0x89, 0x02 });
        EXPECT_EQ(c.block(), poll3);
        c.send(build_read(3, 0));
        EXPECT_TRUE(c.block().empty());
        c.send(build_read(12, 0));
        EXPECT_EQ(c.block(), poll3);
    }
    kill(pid, SIGTERM);
    std::string text;
    char buf[512];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
    EXPECT_NE(text.find("instrument 3:"), std::string::npos) << text;
    EXPECT_NE(text.find("\"requests\":6,\"replies\":5,\"unanswered\":1"), std::string::npos) << text;
    EXPECT_NE(text.find("\"writes\":1,\"writes_refused\":0,\"writes_ignored\":1"), std::string::npos) << text;
    EXPECT_NE(text.find("\"address_changes\":1"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}
