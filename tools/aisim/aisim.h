#pragma once
// Simulated bus of AI-series instruments, for the station's tests and demos.
//
// A Bus owns the instruments and serves them on a pseudo-terminal (with a
// link named like a station port, e.g. DIR/com1) or on a real serial device,
// from one background thread. Every member function may be called from any
// thread while the bus runs; they all take the bus's one lock. Functions that
// name an address throw std::out_of_range when no instrument answers there.
//
//     aisim::BusOptions o;
//     o.addresses = {1, 2, 3};
//     o.speed = 0; // process frozen: replies are reproducible
//     aisim::Bus bus(o);
//     bus.start_pty(dir + "/com1");
//     bus.set_param(1, 51, 150.0); // SV of address 1 (no program)
//     ... run the station against dir/com1 ...
//     bus.stop();
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace aisim {

// Probability per reply of each fault. Sensor break starts a break of
// sensor_break_seconds on the instrument that answers.
struct Faults {
    double drop = 0; // no reply
    double corrupt = 0; // wrong check nibble
    double split = 0; // reply cut in two by a 150 ms gap
    double late = 0; // reply held until the next request has gone out
    double noise = 0; // a burst of random bytes on the line
    double sensor_break = 0;
    double sensor_break_seconds = 10;
};

// One reply an instrument gave, in instrument counts, before any fault
// touched it (a dropped reply is not reported).
struct ReplyRecord {
    int address = 0;
    int code = 0;
    long sv = 0, pv = 0, mv = 0;
    uint8_t status = 0;
    int16_t param = 0;
    int decimal_places = 0;
};

// An instrument that answers writes to one code but keeps its value: the
// station's read-back must catch it.
struct IgnoredWrite {
    int address = 0;
    int code = 0;
};

struct BusOptions {
    std::vector<int> addresses { 1 };
    double speed = 1.0; // process seconds per real second; 0 freezes the process
    int reply_delay_ms = 30;
    int baud = 9600; // line rate of a real device (byte timing on both)
    Faults faults;
    std::vector<IgnoredWrite> ignored_writes;
    uint64_t seed = 1;
    // Called on the bus thread for every request and reply, one line each.
    std::function<void(const std::string&)> trace;
    // Called on the bus thread for every reply put on the line.
    std::function<void(const ReplyRecord&)> on_reply;
};

struct FaultCounts {
    uint64_t drop = 0, corrupt = 0, split = 0, late = 0, noise = 0, sensor_break = 0;
};

struct Stats {
    uint64_t requests = 0; // well-formed requests, any address
    uint64_t replies = 0; // replies put on the line (split and late ones included)
    uint64_t unanswered = 0; // well-formed requests for an address nobody holds
    uint64_t discarded_bytes = 0; // bytes that were not part of a well-formed request
    uint64_t writes = 0; // writes applied
    uint64_t writes_refused = 0; // writes outside the parameter's range
    uint64_t writes_ignored = 0; // writes answered but not applied (ignored_writes)
    uint64_t address_changes = 0;
    uint64_t baud_changes = 0;
    FaultCounts faults;
    std::string to_json() const; // one line
};

struct InstrumentState {
    int address = 0;
    int decimal_places = 0;
    int input_type = 0;
    int run_state = 0; // 0 run, 1 StoP, 2 Hand
    int segment = 0; // current program segment (1-based)
    int segments = 0; // Pno
    int baud = 0;
    double sv = 0, pv = 0, mv = 0;
    uint8_t status = 0;
    bool sensor_break = false;
};

class Bus {
public:
    explicit Bus(BusOptions options);
    ~Bus(); // stops the bus
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // Opens a pseudo-terminal and, when link is not empty, makes link a
    // symlink to it (replacing a stale symlink, never a regular file). Throws
    // std::runtime_error on failure.
    void start_pty(const std::string& link = {});
    // Serves a real serial device at options.baud, 8N1, no flow control.
    void start_device(const std::string& path);
    // Stops the thread, closes the line and removes the link. Idempotent.
    void stop();
    std::string device_path() const; // /dev/pts/N or the device

    std::vector<int> addresses() const; // current addresses, in the order created
    void add_instrument(int address);
    InstrumentState state(int address) const;
    // Parameters by code 0..410 in engineering units (see the parameter table).
    double param(int address, int code) const;
    void set_param(int address, int code, double value);
    void set_run_state(int address, int state);
    void set_pv(int address, double pv);
    void set_decimal_places(int address, int dec);
    void set_sensor_break(int address, bool on);
    // Advances every instrument's process by the given process seconds (on
    // top of the real-time clock, which does nothing when speed is 0).
    void advance(double seconds);

    void set_faults(const Faults& faults);
    // From now on the instrument at `address` answers writes to `code` but
    // keeps its value (or, with ignore false, applies them again).
    void ignore_writes(int address, int code, bool ignore = true);
    Stats stats() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace aisim
