// aisim: a bus of simulated AI-series instruments on a pseudo-terminal or a
// serial device. Prints the device path and one line per instrument, runs
// until SIGINT or SIGTERM (or --duration), then prints one JSON line of
// statistics.
#include "aisim.h"
#include "instrument.h"

#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <sstream>
#include <string>
#include <time.h>

namespace {

const char* usage_text
    = "usage: aisim (--link DIR/comN | --device PATH) [options]\n"
      "  --link PATH          create a pseudo-terminal and a symlink PATH to it\n"
      "  --device PATH        serve a real serial device instead\n"
      "  --baud N             line rate of the device: 4800, 9600 or 19200 (default 9600)\n"
      "  --instruments LIST   addresses, e.g. 1,2,3,5 (default 1)\n"
      "  --speed X            process seconds per real second (default 1; 0 freezes)\n"
      "  --reply-delay MS     delay before each reply (default 30)\n"
      "  --set A:CODE=VALUE   set a parameter of address A, engineering units, in order\n"
      "  --ignore-write A:CODE  address A answers writes to CODE but keeps its value\n"
      "  --drop P --corrupt P --split P --late P --noise P --sensor-break P\n"
      "                       fault probabilities per reply (0..1)\n"
      "  --seed N             seed of the fault draws (default 1)\n"
      "  --duration S         stop after S seconds (default: run until a signal)\n"
      "  --trace              log every request and reply in hex on stderr\n"
      "  --reply-log FILE     append one line per reply given: address,code,sv,pv,mv,status,param,decimals\n"
      "                       (sv, pv in instrument counts, mv in hundredths), for checking a station's log\n";

[[noreturn]] void usage(const std::string& why)
{
    std::fprintf(stderr, "aisim: %s\n%s", why.c_str(), usage_text);
    std::exit(2);
}

// Numbers are read with a point whatever the locale, and nothing may follow them.
double number(const char* opt, const std::string& text)
{
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+')
        ++first;
    double v = 0;
    const auto r = std::from_chars(first, last, v);
    if (text.empty() || r.ec != std::errc() || r.ptr != last)
        usage(std::string(opt) + ": not a number: '" + text + "'");
    return v;
}

double probability(const char* opt, const std::string& text)
{
    const double p = number(opt, text);
    if (p < 0 || p > 1)
        usage(std::string(opt) + ": probability outside 0..1");
    return p;
}

struct Setting {
    int address;
    int code;
    double value;
};

aisim::IgnoredWrite parse_ignored_write(const std::string& s)
{
    const auto colon = s.find(':');
    if (colon == std::string::npos)
        usage("--ignore-write wants ADDRESS:CODE, got '" + s + "'");
    const double a = number("--ignore-write", s.substr(0, colon));
    const double c = number("--ignore-write", s.substr(colon + 1));
    if (a < 0 || a > 90 || a != static_cast<int>(a) || c < 0 || c > 410 || c != static_cast<int>(c))
        usage("--ignore-write: no address 0..90 and code 0..410 in '" + s + "'");
    return { static_cast<int>(a), static_cast<int>(c) };
}

Setting parse_setting(const std::string& s)
{
    const auto colon = s.find(':');
    const auto eq = s.find('=');
    if (colon == std::string::npos || eq == std::string::npos || eq < colon)
        usage("--set wants ADDRESS:CODE=VALUE, got '" + s + "'");
    const double a = number("--set", s.substr(0, colon));
    const double c = number("--set", s.substr(colon + 1, eq - colon - 1));
    if (c < 0 || c > 410 || c != static_cast<int>(c))
        usage("--set: no parameter code " + s.substr(colon + 1, eq - colon - 1));
    return { static_cast<int>(a), static_cast<int>(c), number("--set", s.substr(eq + 1)) };
}

const char* state_name(int s)
{
    static const char* names[] = { "run", "StoP", "Hand" };
    return s >= 0 && s <= 2 ? names[s] : "?";
}

} // namespace

int main(int argc, char** argv)
{
    aisim::BusOptions opt;
    std::string link, device;
    std::vector<Setting> settings;
    double duration = 0;
    bool trace = false;
    std::string reply_log;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                usage(a + " needs a value");
            return argv[++i];
        };
        if (a == "--link")
            link = value();
        else if (a == "--device")
            device = value();
        else if (a == "--baud") {
            const double b = number("--baud", value());
            if (b != 4800 && b != 9600 && b != 19200)
                usage("--baud must be 4800, 9600 or 19200");
            opt.baud = static_cast<int>(b);
        } else if (a == "--instruments") {
            opt.addresses.clear();
            std::stringstream ss(value());
            std::string item;
            while (std::getline(ss, item, ',')) {
                const double n = number("--instruments", item);
                if (n < 0 || n > 90 || n != static_cast<int>(n))
                    usage("--instruments: address outside 0..90: " + item);
                opt.addresses.push_back(static_cast<int>(n));
            }
        } else if (a == "--speed") {
            opt.speed = number("--speed", value());
            if (opt.speed < 0)
                usage("--speed must not be negative");
        } else if (a == "--reply-delay") {
            const double ms = number("--reply-delay", value());
            if (ms < 0)
                usage("--reply-delay must not be negative");
            opt.reply_delay_ms = static_cast<int>(ms);
        } else if (a == "--set")
            settings.push_back(parse_setting(value()));
        else if (a == "--ignore-write")
            opt.ignored_writes.push_back(parse_ignored_write(value()));
        else if (a == "--drop")
            opt.faults.drop = probability("--drop", value());
        else if (a == "--corrupt")
            opt.faults.corrupt = probability("--corrupt", value());
        else if (a == "--split")
            opt.faults.split = probability("--split", value());
        else if (a == "--late")
            opt.faults.late = probability("--late", value());
        else if (a == "--noise")
            opt.faults.noise = probability("--noise", value());
        else if (a == "--sensor-break")
            opt.faults.sensor_break = probability("--sensor-break", value());
        else if (a == "--seed")
            opt.seed = static_cast<uint64_t>(number("--seed", value()));
        else if (a == "--duration")
            duration = number("--duration", value());
        else if (a == "--trace")
            trace = true;
        else if (a == "--reply-log")
            reply_log = value();
        else if (a == "--help" || a == "-h") {
            std::fputs(usage_text, stdout);
            return 0;
        } else
            usage("unknown option " + a);
    }
    if (link.empty() == device.empty())
        usage("give exactly one of --link and --device");
    std::FILE* replies = nullptr;
    if (!reply_log.empty()) {
        replies = std::fopen(reply_log.c_str(), "a");
        if (!replies)
            usage("--reply-log: cannot open " + reply_log);
        // Called on the bus thread, one reply at a time.
        opt.on_reply = [replies](const aisim::ReplyRecord& r) {
            std::fprintf(replies, "%d,%d,%ld,%ld,%ld,%d,%d,%d\n", r.address, r.code, r.sv, r.pv, r.mv, r.status,
                r.param, r.decimal_places);
            std::fflush(replies);
        };
    }
    if (trace)
        opt.trace = [](const std::string& line) {
            std::fprintf(stderr, "%s\n", line.c_str());
            std::fflush(stderr);
        };

    // Block the stop signals in every thread; main waits for them below.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        aisim::Bus bus(opt);
        for (const Setting& s : settings)
            bus.set_param(s.address, s.code, s.value);
        if (!link.empty())
            bus.start_pty(link);
        else
            bus.start_device(device);
        std::printf("device %s%s%s\n", bus.device_path().c_str(), link.empty() ? "" : " link ", link.c_str());
        for (int address : bus.addresses()) {
            const aisim::InstrumentState s = bus.state(address);
            std::printf(
                "instrument %d: input %d, %d decimal places, %s, SV %.*f, PV %.*f, segments %d, %d baud\n",
                s.address, s.input_type, s.decimal_places, state_name(s.run_state), s.decimal_places, s.sv,
                s.decimal_places, s.pv, s.segments, s.baud);
        }
        std::fflush(stdout);

        if (duration > 0) {
            timespec ts { static_cast<time_t>(duration),
                static_cast<long>((duration - static_cast<double>(static_cast<time_t>(duration))) * 1e9) };
            sigtimedwait(&stop_signals, nullptr, &ts);
        } else {
            int sig = 0;
            sigwait(&stop_signals, &sig);
        }
        bus.stop();
        if (replies)
            std::fclose(replies);
        std::printf("%s\n", bus.stats().to_json().c_str());
        std::fflush(stdout);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "aisim: %s\n", e.what());
        return 1;
    }
    return 0;
}
