// The bus thread: frames requests out of the byte stream, lets the addressed
// instruments answer after the reply delay, injects faults, and keeps every
// instrument's process running on the (possibly sped-up) clock.
#include "aisim.h"
#include "instrument.h"
#include "line.h"
#include "wire.h"

#include <algorithm>
#include <charconv>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <optional>
#include <poll.h>
#include <random>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace aisim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr auto gap_after_late = milliseconds(150); // > the station's 100 ms block time-out
constexpr auto split_gap = milliseconds(150);
constexpr double max_catch_up = 3600.0; // process seconds stepped at most per wake-up

struct Out {
    Clock::time_point at;
    std::vector<uint8_t> bytes;
    int new_baud = 0; // device only: switch the line after what precedes
    // Goes out next_gap after this one has actually been written, so that a
    // busy moment of the bus thread cannot close the gap.
    std::shared_ptr<Out> next;
    Clock::duration next_gap {};
    bool ends_reply = false; // the last byte of a reply (counted in the statistics)
};

Out& tail(Out& o)
{
    return o.next ? tail(*o.next) : o;
}

std::string hex(const uint8_t* p, size_t n)
{
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

} // namespace

std::string Stats::to_json() const
{
    char b[640];
    std::snprintf(b, sizeof b,
        "{\"requests\":%" PRIu64 ",\"replies\":%" PRIu64 ",\"unanswered\":%" PRIu64
        ",\"discarded_bytes\":%" PRIu64 ",\"writes\":%" PRIu64 ",\"writes_refused\":%" PRIu64
        ",\"writes_ignored\":%" PRIu64
        ",\"address_changes\":%" PRIu64 ",\"baud_changes\":%" PRIu64 ",\"faults\":{\"drop\":%" PRIu64
        ",\"corrupt\":%" PRIu64 ",\"split\":%" PRIu64 ",\"late\":%" PRIu64 ",\"noise\":%" PRIu64
        ",\"sensor_break\":%" PRIu64 "}}",
        requests, replies, unanswered, discarded_bytes, writes, writes_refused, writes_ignored, address_changes,
        baud_changes,
        faults.drop, faults.corrupt, faults.split, faults.late, faults.noise, faults.sensor_break);
    return b;
}

struct Bus::Impl {
    BusOptions opt;
    mutable std::mutex mu; // guards everything below up to the line
    std::vector<std::unique_ptr<Instrument>> inst;
    std::vector<Clock::time_point> break_until; // per instrument; min() = no timed break
    Faults faults;
    std::vector<IgnoredWrite> ignored;
    Stats st;
    std::mt19937_64 rng;
    Clock::time_point last_advance;

    // Owned by the bus thread while it runs.
    Line line;
    int line_baud = 9600;
    int wake[2] = { -1, -1 };
    std::thread thread;
    std::atomic<bool> stopping { false };
    Clock::time_point t0;
    std::vector<uint8_t> rx;
    Clock::time_point last_rx;
    std::vector<Out> outq; // ordered by time
    std::optional<std::vector<uint8_t>> held; // a late reply waiting for the next request
    Clock::time_point line_free;
    std::vector<std::string> trace_lines;

    Instrument& find(int address) const
    {
        for (auto& i : inst)
            if (i->address() == address)
                return *i;
        throw std::out_of_range("no instrument at address " + std::to_string(address));
    }

    void add(int address)
    {
        if (address < 0 || address > max_address)
            throw std::invalid_argument("address out of 0..90: " + std::to_string(address));
        for (auto& i : inst)
            if (i->address() == address)
                throw std::invalid_argument("two instruments at address " + std::to_string(address));
        inst.push_back(std::make_unique<Instrument>(address));
        inst.back()->set_param(35, opt.baud); // instruments start at the line's rate
        break_until.push_back(Clock::time_point::min());
    }

    void advance_clock(Clock::time_point now)
    {
        const double real = std::chrono::duration<double>(now - last_advance).count();
        last_advance = now;
        for (size_t k = 0; k < inst.size(); ++k) {
            if (break_until[k] != Clock::time_point::min() && now >= break_until[k]) {
                break_until[k] = Clock::time_point::min();
                inst[k]->set_sensor_break(false);
            }
        }
        if (opt.speed <= 0 || real <= 0)
            return;
        const double dt = std::min(real * opt.speed, max_catch_up);
        for (auto& i : inst)
            i->step(dt);
    }

    double seconds(Clock::time_point t) const { return std::chrono::duration<double>(t - t0).count(); }

    void trace(Clock::time_point t, const char* dir, const uint8_t* p, size_t n, const std::string& note)
    {
        if (!opt.trace)
            return;
        // Fixed-point with a point whatever the locale of the process using the bus.
        char b[32];
        auto r = std::to_chars(b, b + sizeof b - 1, seconds(t), std::chars_format::fixed, 6);
        std::string stamp(b, r.ec == std::errc() ? r.ptr : b);
        if (stamp.size() < 11)
            stamp.insert(0, 11 - stamp.size(), ' ');
        trace_lines.push_back(stamp + " " + dir + " " + hex(p, n) + (note.empty() ? "" : "  " + note));
    }

    void schedule(Out o)
    {
        auto pos = std::upper_bound(
            outq.begin(), outq.end(), o.at, [](Clock::time_point t, const Out& x) { return t < x.at; });
        outq.insert(pos, std::move(o));
    }

    double byte_seconds() const { return 10.0 / line_baud; } // 8N1: ten bit times per byte

    // One well-formed request; called with the lock held.
    void handle(const Request& r, const uint8_t* frame, Clock::time_point now)
    {
        ++st.requests;
        const auto at = now + milliseconds(opt.reply_delay_ms);
        std::optional<Out> late_out;
        if (held) {
            // The late reply goes out now that the next request is on the line;
            // this request's own reply follows as a separate block.
            late_out = Out { at, std::move(*held), 0, nullptr, {}, true };
            held.reset();
        }
        auto emit = [&](Out o) {
            if (late_out && !late_out->next) {
                late_out->next = std::make_shared<Out>(std::move(o));
                late_out->next_gap = gap_after_late;
            } else {
                schedule(std::move(o));
            }
        };
        bool answered = false;
        for (size_t k = 0; k < inst.size(); ++k) {
            Instrument& in = *inst[k];
            if (in.address() != r.address || (!line.is_pty && in.baud() != line_baud))
                continue;
            answered = true;
            std::string note;
            int new_baud = 0;
            const bool ignored_write = r.write
                && std::any_of(ignored.begin(), ignored.end(),
                    [&](const IgnoredWrite& w) { return w.address == in.address() && w.code == r.code; });
            if (ignored_write) {
                ++st.writes_ignored;
                note = "write ignored";
            } else if (r.write) {
                const int old_address = in.address();
                const WriteOutcome w = in.write_word(r.code, r.value);
                if (!w.applied) {
                    ++st.writes_refused;
                    note = "write refused";
                } else {
                    ++st.writes;
                    if (w.new_address >= 0 && w.new_address != old_address) {
                        ++st.address_changes;
                        note = "address -> " + std::to_string(w.new_address);
                    }
                    if (w.new_baud > 0) {
                        ++st.baud_changes;
                        new_baud = w.new_baud;
                        note = "baud -> " + std::to_string(w.new_baud);
                    }
                }
            }
            std::uniform_real_distribution<double> u(0.0, 1.0);
            const double u_break = u(rng), u_drop = u(rng), u_corrupt = u(rng), u_split = u(rng),
                         u_late = u(rng), u_noise = u(rng);
            if (u_break < faults.sensor_break) {
                ++st.faults.sensor_break;
                in.set_sensor_break(true);
                if (break_until[k] != Clock::time_point::max())
                    break_until[k] = now
                        + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(faults.sensor_break_seconds));
            }
            const ReplyFields fields = in.reply_fields(r.code);
            auto reply = encode_reply(fields);
            std::vector<uint8_t> bytes(reply.begin(), reply.end());
            std::optional<Out> head;
            if (u_drop < faults.drop) {
                ++st.faults.drop;
                note += note.empty() ? "dropped" : ", dropped";
            } else {
                if (opt.on_reply)
                    opt.on_reply(ReplyRecord { r.address, r.code, fields.sv, fields.pv, fields.mv, fields.status,
                        fields.param, in.decimal_places() });
                if (u_corrupt < faults.corrupt) {
                    ++st.faults.corrupt;
                    const int flip = 1 + static_cast<int>(rng() % 15);
                    bytes[9] = static_cast<uint8_t>(bytes[9] ^ (flip << 4));
                }
                if (u_late < faults.late) {
                    ++st.faults.late;
                    held = bytes;
                } else if (u_split < faults.split) {
                    ++st.faults.split;
                    const size_t cut = 1 + rng() % (reply_size - 1);
                    head = Out { at, std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut), 0, nullptr,
                        {} };
                    head->next = std::make_shared<Out>(Out {
                        at, std::vector<uint8_t>(bytes.begin() + cut, bytes.end()), 0, nullptr, {}, true });
                    head->next_gap = split_gap;
                } else {
                    head = Out { at, bytes, 0, nullptr, {}, true };
                }
            }
            if (new_baud > 0 && !line.is_pty) {
                // The line changes rate once the reply is out (or at once when
                // there is none to send now).
                Out change { at, {}, new_baud, nullptr, {} };
                if (head) {
                    tail(*head).next = std::make_shared<Out>(std::move(change));
                } else {
                    schedule(std::move(change));
                }
            }
            if (head)
                emit(std::move(*head));
            if (u_noise < faults.noise) {
                ++st.faults.noise;
                std::vector<uint8_t> junk(1 + rng() % 6);
                for (auto& b : junk)
                    b = static_cast<uint8_t>(rng());
                schedule({ now + milliseconds(rng() % 300), junk, 0, nullptr, {}, false });
            }
            trace(now, ">", frame, request_size, note);
        }
        if (late_out)
            schedule(std::move(*late_out));
        if (!answered) {
            ++st.unanswered;
            trace(now, ">", frame, request_size, "no instrument");
        }
    }

    void take_bytes(const uint8_t* p, size_t n, Clock::time_point now)
    {
        const double gap = std::max(0.010, 4 * byte_seconds());
        if (!rx.empty() && std::chrono::duration<double>(now - last_rx).count() > gap) {
            // Silence ends a frame: a partial request is dropped, as on a real bus.
            st.discarded_bytes += rx.size();
            rx.clear();
        }
        last_rx = now;
        rx.insert(rx.end(), p, p + n);
        size_t pos = 0;
        while (rx.size() - pos >= request_size) {
            if (auto r = parse_request(rx.data() + pos)) {
                handle(*r, rx.data() + pos, now);
                pos += request_size;
            } else {
                ++st.discarded_bytes;
                ++pos; // resynchronise byte by byte
            }
        }
        rx.erase(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(pos));
    }

    void send_due(Clock::time_point now)
    {
        while (!outq.empty() && outq.front().at <= now && line_free <= now) {
            Out o = std::move(outq.front());
            outq.erase(outq.begin());
            if (o.next) {
                o.next->at = std::max(o.next->at, now + o.next_gap);
                schedule(std::move(*o.next));
            }
            if (o.new_baud > 0) {
                try {
                    set_line_baud(line, o.new_baud);
                    line_baud = o.new_baud;
                } catch (const std::exception& e) {
                    std::lock_guard lock(mu);
                    trace(now, "!", nullptr, 0, e.what());
                }
                continue;
            }
            write_all(line.fd, o.bytes.data(), o.bytes.size());
            line_free = now
                + std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(byte_seconds() * static_cast<double>(o.bytes.size())));
            std::lock_guard lock(mu);
            if (o.ends_reply)
                ++st.replies;
            trace(now, "<", o.bytes.data(), o.bytes.size(), "");
        }
    }

    void run()
    {
        uint8_t buf[512];
        while (!stopping.load()) {
            auto now = Clock::now();
            int timeout = 50;
            if (!outq.empty()) {
                const auto next = std::max(outq.front().at, line_free);
                const auto ms = std::chrono::duration_cast<milliseconds>(next - now).count() + 1;
                timeout = static_cast<int>(std::clamp<long long>(ms, 0, 50));
            }
            pollfd fds[2] = { { line.fd, POLLIN, 0 }, { wake[0], POLLIN, 0 } };
            const int pr = poll(fds, 2, timeout);
            if (fds[1].revents)
                break;
            now = Clock::now();
            {
                std::lock_guard lock(mu);
                advance_clock(now);
                if (pr > 0 && (fds[0].revents & POLLIN)) {
                    const ssize_t n = read(line.fd, buf, sizeof buf);
                    if (n > 0)
                        take_bytes(buf, static_cast<size_t>(n), now);
                }
            }
            if (pr > 0 && (fds[0].revents & (POLLHUP | POLLERR)) && !(fds[0].revents & POLLIN))
                std::this_thread::sleep_for(milliseconds(50)); // device gone: do not spin
            send_due(Clock::now());
            if (opt.trace) {
                std::vector<std::string> lines;
                {
                    std::lock_guard lock(mu);
                    lines.swap(trace_lines);
                }
                for (auto& l : lines)
                    opt.trace(l);
            }
        }
    }

    void start()
    {
        if (pipe(wake) != 0)
            throw std::runtime_error("pipe failed");
        t0 = Clock::now();
        line_free = t0;
        {
            std::lock_guard lock(mu);
            last_advance = t0;
        }
        stopping = false;
        thread = std::thread([this] { run(); });
    }
};

Bus::Bus(BusOptions options)
    : d_(std::make_unique<Impl>())
{
    d_->opt = std::move(options);
    d_->faults = d_->opt.faults;
    d_->ignored = d_->opt.ignored_writes;
    d_->rng.seed(d_->opt.seed);
    d_->line_baud = d_->opt.baud;
    d_->last_advance = Clock::now();
    for (int a : d_->opt.addresses)
        d_->add(a);
}

Bus::~Bus()
{
    stop();
}

void Bus::start_pty(const std::string& link)
{
    if (d_->line.fd >= 0)
        throw std::logic_error("bus already started");
    d_->line = open_pty(link);
    d_->start();
}

void Bus::start_device(const std::string& path)
{
    if (d_->line.fd >= 0)
        throw std::logic_error("bus already started");
    d_->line = open_device(path, d_->opt.baud);
    d_->start();
}

void Bus::stop()
{
    if (d_->thread.joinable()) {
        d_->stopping = true;
        const char c = 1;
        if (write(d_->wake[1], &c, 1) < 0) {
            // The flag alone ends the loop within one poll period.
        }
        d_->thread.join();
    }
    for (int& fd : d_->wake) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    close_line(d_->line);
}

std::string Bus::device_path() const
{
    return d_->line.path;
}

std::vector<int> Bus::addresses() const
{
    std::lock_guard lock(d_->mu);
    std::vector<int> r;
    for (auto& i : d_->inst)
        r.push_back(i->address());
    return r;
}

void Bus::add_instrument(int address)
{
    std::lock_guard lock(d_->mu);
    d_->add(address);
}

InstrumentState Bus::state(int address) const
{
    std::lock_guard lock(d_->mu);
    const Instrument& i = d_->find(address);
    InstrumentState s;
    s.address = i.address();
    s.decimal_places = i.decimal_places();
    s.input_type = static_cast<int>(i.param(22));
    s.run_state = i.run_state();
    s.segment = i.segment();
    s.segments = static_cast<int>(i.param(40));
    s.baud = i.baud();
    s.sv = i.sv();
    s.pv = i.pv();
    s.mv = i.mv();
    s.status = i.status();
    s.sensor_break = i.sensor_break();
    return s;
}

static void check_code(int code)
{
    if (code < 0 || code >= param_count)
        throw std::out_of_range("no parameter code " + std::to_string(code));
}

double Bus::param(int address, int code) const
{
    check_code(code);
    std::lock_guard lock(d_->mu);
    return d_->find(address).param(code);
}

void Bus::set_param(int address, int code, double value)
{
    check_code(code);
    std::lock_guard lock(d_->mu);
    d_->find(address).set_param(code, value);
}

void Bus::set_run_state(int address, int state)
{
    std::lock_guard lock(d_->mu);
    d_->find(address).set_run_state(state);
}

void Bus::set_pv(int address, double pv)
{
    std::lock_guard lock(d_->mu);
    d_->find(address).set_pv(pv);
}

void Bus::set_decimal_places(int address, int dec)
{
    std::lock_guard lock(d_->mu);
    d_->find(address).set_decimal_places(dec);
}

void Bus::set_sensor_break(int address, bool on)
{
    std::lock_guard lock(d_->mu);
    Instrument& in = d_->find(address);
    for (size_t k = 0; k < d_->inst.size(); ++k)
        if (d_->inst[k].get() == &in)
            d_->break_until[k] = on ? Clock::time_point::max() : Clock::time_point::min();
    in.set_sensor_break(on);
}

void Bus::advance(double seconds)
{
    std::lock_guard lock(d_->mu);
    for (auto& i : d_->inst)
        i->step(seconds);
}

void Bus::set_faults(const Faults& faults)
{
    std::lock_guard lock(d_->mu);
    d_->faults = faults;
}

void Bus::ignore_writes(int address, int code, bool ignore)
{
    std::lock_guard lock(d_->mu);
    auto& list = d_->ignored;
    list.erase(std::remove_if(list.begin(), list.end(),
                   [&](const IgnoredWrite& w) { return w.address == address && w.code == code; }),
        list.end());
    if (ignore)
        list.push_back({ address, code });
}

Stats Bus::stats() const
{
    std::lock_guard lock(d_->mu);
    return d_->st;
}

} // namespace aisim
