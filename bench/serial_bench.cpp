// Run by hand: build/bench/serial_bench
//   ReplyLatency: from the moment the far end has written a 10-byte reply
//   until OnReceiveData runs on the main thread. The block is cut after
//   100 ms of silence, so about 100 ms plus the hand-over is expected.
//   IdlePortCpu: CPU time of the whole process while the port is open and
//   nothing arrives for 10 s; the threads sleep in poll() with no timer.
#include "scomm.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Pty {
    int master = -1;
    std::string slave;
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            slave = ptsname(master);
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
    }
};

void open_station_port(TSComm& comm, const std::string& device)
{
    comm.SetCommName(device);
    comm.SetBaudRate(19200);
    comm.SetOutx_XonXoffFlow(false);
    int empties = 0;
    comm.OnSendDataEmpty = [&empties](TSComm*) { ++empties; };
    comm.OpenComm();
    while (empties == 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    comm.OnSendDataEmpty = nullptr;
}

void ReplyLatency(benchmark::State& state)
{
    Pty pty;
    TSComm comm;
    open_station_port(comm, pty.slave);
    QEventLoop loop;
    Clock::time_point received;
    comm.OnReceiveData = [&](TSComm*, const char*, unsigned short length) {
        if (length == 10) {
            received = Clock::now();
            loop.quit();
        }
    };
    const char reply[10] = { 0x20, 0x03, 0x58, 0x02, 0x00, 0x00, 0x01, 0x00, 0x0a, 0x5d };
    QTimer guard; // a lost block must not hang the run
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    std::vector<double> ms;
    for (auto _ : state) {
        received = {};
        if (::write(pty.master, reply, sizeof reply) != sizeof reply) {
            state.SkipWithError("write to the pseudo-terminal failed");
            break;
        }
        const Clock::time_point sent = Clock::now();
        guard.start(2000);
        loop.exec();
        guard.stop();
        if (received == Clock::time_point {}) {
            state.SkipWithError("no 10-byte block within 2 s");
            break;
        }
        const double seconds = std::chrono::duration<double>(received - sent).count();
        state.SetIterationTime(seconds);
        ms.push_back(seconds * 1000);
    }
    comm.CloseComm();
    if (!ms.empty()) {
        std::sort(ms.begin(), ms.end());
        state.counters["min_ms"] = ms.front();
        state.counters["median_ms"] = ms[ms.size() / 2];
        state.counters["max_ms"] = ms.back();
    }
}
BENCHMARK(ReplyLatency)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

double cpu_seconds(const rusage& u)
{
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void IdlePortCpu(benchmark::State& state)
{
    Pty pty;
    TSComm comm;
    open_station_port(comm, pty.slave);
    const int idle_ms = static_cast<int>(state.range(0));
    rusage before {}, after {};
    for (auto _ : state) {
        getrusage(RUSAGE_SELF, &before);
        QEventLoop loop;
        QTimer::singleShot(idle_ms, &loop, &QEventLoop::quit);
        loop.exec();
        getrusage(RUSAGE_SELF, &after);
    }
    comm.CloseComm();
    const double cpu = cpu_seconds(after) - cpu_seconds(before);
    state.counters["cpu_ms"] = cpu * 1000;
    state.counters["cpu_percent"] = 100.0 * cpu / (idle_ms / 1000.0);
    state.counters["context_switches"]
        = double((after.ru_nvcsw - before.ru_nvcsw) + (after.ru_nivcsw - before.ru_nivcsw));
}
BENCHMARK(IdlePortCpu)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
