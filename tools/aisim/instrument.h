#pragma once
// One simulated instrument: its 411-entry parameter table, a heated process
// under PID (or on/off) control, run states, program segments and alarm bits.
// Not thread-safe: the bus serialises every access under its own lock.
#include "wire.h"

#include <array>
#include <cstdint>
#include <vector>

namespace aisim {

// Run state values of code 10.
enum : int { state_run = 0, state_stop = 1, state_hand = 2 };

// Status byte bits. Ready is set while the instrument is stopped (StoP):
// ready to run. Over range: sensor break, or PV outside SCL..SCH.
enum : uint8_t {
    bit_ready = 1 << 2,
    bit_ldal = 1 << 3,
    bit_hdal = 1 << 4,
    bit_loal = 1 << 5,
    bit_hial = 1 << 6,
    bit_over_range = 1 << 7,
};

// Decimal places by input type 0..17 (code 22).
int input_decimal_places(int input_type);

struct WriteOutcome {
    bool applied = false;
    int new_address = -1; // 500 + n written to code 2 (or n to code 34)
    int new_baud = 0; // 601 / 602 / 603 written to code 2 (or a rate to code 35)
};

class Instrument {
public:
    explicit Instrument(int address);

    int address() const { return p_[34]; }
    int baud() const { return p_[35]; }
    int decimal_places() const { return dec_; }
    // Keeps every parameter's engineering value; the station learns the
    // decimal places from the input type, so tests that change one alone
    // can make the two disagree on purpose.
    void set_decimal_places(int dec);

    // Engineering values: degrees for set points and limits, percent for
    // outputs, minutes for program times, plain integers otherwise.
    double param(int code) const;
    void set_param(int code, double value);

    // Wire side.
    int16_t read_word(int code) const;
    WriteOutcome write_word(int code, int16_t word);
    ReplyFields reply_fields(int code) const;

    // Process state.
    double sv() const { return sv_; }
    double pv() const; // as measured: shifted by SCb, pinned on a sensor break
    double mv() const { return mv_; }
    int run_state() const { return p_[10]; }
    int segment() const { return p_[1]; }
    double segment_elapsed() const { return seg_elapsed_; } // process seconds
    uint8_t status() const { return status_; }
    bool sensor_break() const { return sensor_break_; }
    void set_sensor_break(bool on);
    void set_pv(double pv); // moves the process temperature so that pv() reads pv
    void set_run_state(int state);

    // Advances the process by dt seconds of process time.
    void step(double dt);

    static constexpr double ambient = 25.0;

private:
    long scale(int code) const;
    bool in_range(int code, double value) const;
    void store(int code, long scaled);
    void update_setpoint();
    void update_alarms();
    void control(double dt);

    std::array<long, param_count> p_ {}; // scaled integers (see scale())
    int dec_ = 2;
    double temp_ = ambient; // true process temperature
    double sv_ = 0;
    double mv_ = 0;
    double integral_ = 0;
    double last_pv_ = ambient;
    bool onoff_high_ = false;
    bool sensor_break_ = false;
    uint8_t status_ = 0;
    double seg_elapsed_ = 0;
    double step_rest_ = 0;
    std::vector<double> dead_line_; // MV samples delayed by the dead time
    size_t dead_pos_ = 0;
};

} // namespace aisim
