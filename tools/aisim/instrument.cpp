#include "instrument.h"

#include <algorithm>
#include <cmath>

namespace aisim {

namespace {

constexpr int input_dec_table[18] = { 3, 2, 2, 2, 2, 2, 2, 2, 2, 3, 2, 2, 3, 4, 2, 2, 2, 2 };

// Process: first-order lag toward ambient + gain * delayed output, so full
// output settles at 425 degrees; a dead time of ten seconds.
constexpr double process_gain = 4.0; // degrees per percent of output
constexpr double time_constant = 120.0; // seconds
constexpr double dead_time = 10.0; // seconds
constexpr double sub_step = 0.1; // seconds of process time per integration step

struct Range {
    double min;
    double max;
};

// Ranges the instrument accepts for codes 0..42; a write outside is refused.
constexpr Range ranges[43] = {
    { -110, 110 },
    { 0, 180 },
    { -500, 908 },
    { -3000, 9999 },
    { -3000, 9999 },
    { -3000, 9999 },
    { -3000, 9999 },
    { 0.0001, 99.99 },
    { 0, 4444 },
    { 0, 3 },
    { 0, 2 },
    { 0, 3 },
    { 0, 2 },
    { 1, 32000 },
    { 1, 32000 },
    { 1, 32000 },
    { 0, 100 },
    { 1, 32000 },
    { 1, 32000 },
    { 1, 32000 },
    { 0, 100 },
    { 0.0001, 99.99 },
    { 0, 17 },
    { 0, 2 },
    { -3000, 9999 },
    { -3000, 9999 },
    { -60, 60 },
    { 0, 100 },
    { 0, 3 },
    { 0, 4 },
    { 0, 2 },
    { -110, 110 },
    { -110, 110 },
    { -3000, 9999 },
    { 0, 90 },
    { 0, 19200 },
    { 0, 4 },
    { -3000, 9999 },
    { -3000, 9999 },
    { 0, 600 },
    { 0, 179 },
    { 0, 4 },
    { 0, 11219 },
};

// Factory settings of codes 0..50, in engineering units.
constexpr double defaults[51] = {
    0, // 0 manual output, percent
    1, // 1 current program segment
    0, // 2 parameter lock
    2000, -100, 2000, 2000, // 3..6 HIAL LoAL HdAL LdAL: out of the way
    0.5, // 7 alarm hysteresis
    3412, // 8 alarm outputs
    0, state_run, 0, 0, // 9 CtrL JPID, 10 run, 11 PAF, 12 At off
    600, 80, 1, 2, // 13..16 P, I (s), D (s), control period
    600, 80, 1, 2, // 17..20 auxiliary loop
    0.3, // 21 control hysteresis
    2, 1, // 22 input K thermocouple, 23 display
    -100, 1300, 0, // 24..26 SCL SCH SCb
    0, 0, 0, 0, // 27 FILt, 28 Fru, 29 Opt, 30 AuT
    0, 100, 1300, // 31 OPL, 32 OPH, 33 OEF
    0, 9600, 0, // 34 address (set by the constructor), 35 baud, 36 Et
    -100, 1300, 0, // 37 SPL, 38 SPH, 39 SPr
    0, 0, 10000, // 40 Pno, 41 PonP, 42 AF: manual output allowed
    0, 0, 0, 0, 0, 0, 0, 0, // 43..50 EP1..EP8
};

long power10(int n)
{
    long r = 1;
    while (n-- > 0)
        r *= 10;
    return r;
}

} // namespace

int input_decimal_places(int input_type)
{
    return input_type >= 0 && input_type < 18 ? input_dec_table[input_type] : 2;
}

Instrument::Instrument(int address)
    : dead_line_(static_cast<size_t>(dead_time / sub_step), 0.0)
{
    dec_ = input_decimal_places(static_cast<int>(defaults[22]));
    for (int c = 0; c <= 50; ++c)
        store(c, std::lround(defaults[c] * static_cast<double>(scale(c))));
    store(51, std::lround(100.0 * static_cast<double>(scale(51)))); // SP1 = SV without a program
    p_[34] = address;
    update_setpoint();
    update_alarms();
}

long Instrument::scale(int code) const
{
    switch (value_class(code)) {
    case ValueClass::manual_output:
        return 100;
    case ValueClass::five_digit:
    case ValueClass::set_point:
        return power10(dec_);
    case ValueClass::time:
        return 10;
    case ValueClass::plain:
        break;
    }
    return 1;
}

void Instrument::store(int code, long scaled)
{
    const ValueClass k = value_class(code);
    if (k == ValueClass::five_digit || k == ValueClass::set_point)
        scaled = std::clamp<long>(scaled, -5000000, 5000000);
    p_[code] = scaled;
}

void Instrument::set_decimal_places(int dec)
{
    dec = std::clamp(dec, 0, 4);
    const int old = dec_;
    for (int c = 0; c < param_count; ++c) {
        const ValueClass k = value_class(c);
        if (k == ValueClass::five_digit || k == ValueClass::set_point)
            store(c, std::lround(static_cast<double>(p_[c]) * std::pow(10.0, dec - old)));
    }
    dec_ = dec;
    update_setpoint();
    update_alarms();
}

double Instrument::param(int code) const
{
    return static_cast<double>(p_[code]) / static_cast<double>(scale(code));
}

void Instrument::set_param(int code, double value)
{
    if (code == 10) {
        set_run_state(static_cast<int>(std::lround(value)));
        return;
    }
    if (code == 1) {
        p_[1] = std::max(1L, std::lround(value));
        seg_elapsed_ = 0;
    } else if (code == 22) {
        p_[22] = std::lround(value);
        set_decimal_places(input_decimal_places(static_cast<int>(p_[22])));
    } else {
        store(code, std::lround(value * static_cast<double>(scale(code))));
    }
    update_setpoint();
    update_alarms();
}

bool Instrument::in_range(int code, double value) const
{
    if (code > 42)
        return true;
    // One step of the stored resolution either side: the station rounds up
    // (99.99 with no decimal places goes out as 100), and a limit such as
    // 0.0001 cannot be held with fewer than four decimal places.
    const double tolerance = 1.0 / static_cast<double>(scale(code)) - 1e-9;
    return value >= ranges[code].min - tolerance && value <= ranges[code].max + tolerance;
}

int16_t Instrument::read_word(int code) const
{
    long w = 0;
    switch (value_class(code)) {
    case ValueClass::manual_output:
        // A program instrument reports its current segment, negated; any
        // other reports its manual output in tenths of a percent.
        w = p_[40] > 0 ? -p_[1] : std::lround(static_cast<double>(p_[0]) / 10.0);
        break;
    case ValueClass::five_digit:
    case ValueClass::set_point:
        w = five_digit_encode(p_[code]);
        break;
    case ValueClass::time:
    case ValueClass::plain:
        w = p_[code];
        break;
    }
    return static_cast<int16_t>(std::clamp<long>(w, -32768, 32767));
}

WriteOutcome Instrument::write_word(int code, int16_t word)
{
    WriteOutcome out;
    long scaled = word;
    const ValueClass k = value_class(code);
    if (k == ValueClass::five_digit || k == ValueClass::set_point || k == ValueClass::time)
        scaled = five_digit_decode(word, 0);
    if (code == 2 && word >= 500 && word <= 500 + max_address) {
        out.new_address = word - 500;
    } else if (code == 2 && word >= 601 && word <= 603) {
        static constexpr int rates[3] = { 19200, 9600, 4800 };
        out.new_baud = rates[word - 601];
    } else if (code == 35 && (word == 4800 || word == 9600 || word == 19200)) {
        out.new_baud = word;
    } else if (code == 34 && word >= 0 && word <= max_address) {
        out.new_address = word;
    }
    if (out.new_address >= 0) {
        p_[34] = out.new_address;
        out.applied = true;
        return out;
    }
    if (out.new_baud > 0) {
        p_[35] = out.new_baud;
        out.applied = true;
        return out;
    }
    const double value = static_cast<double>(scaled) / static_cast<double>(scale(code));
    if (!in_range(code, value) || code == 34 || code == 35)
        return out;
    if (code == 1 || code == 10 || code == 22)
        set_param(code, value);
    else
        store(code, scaled);
    update_setpoint();
    update_alarms();
    out.applied = true;
    return out;
}

ReplyFields Instrument::reply_fields(int code) const
{
    const double f = static_cast<double>(power10(dec_));
    ReplyFields r;
    r.sv = std::lround(sv_ * f);
    r.pv = std::lround(pv() * f);
    r.mv = std::lround(mv_ * 100.0);
    r.status = status_;
    r.param = read_word(code);
    return r;
}

double Instrument::pv() const
{
    if (sensor_break_)
        return param(25);
    return temp_ + param(26);
}

void Instrument::set_sensor_break(bool on)
{
    sensor_break_ = on;
    update_alarms();
}

void Instrument::set_pv(double pv)
{
    temp_ = pv - param(26);
    last_pv_ = this->pv();
    update_alarms();
}

void Instrument::set_run_state(int state)
{
    if (state < state_run || state > state_hand)
        return;
    if (state == state_stop) {
        // Stopping rewinds the program to its first segment.
        p_[1] = 1;
        seg_elapsed_ = 0;
    }
    if (state == state_run && p_[10] != state_run)
        integral_ = mv_; // bumpless: the integral term takes over the present output
    p_[10] = state;
    update_setpoint();
    update_alarms();
}

void Instrument::update_setpoint()
{
    const long n = p_[40];
    double sv;
    if (n <= 0) {
        sv = param(51);
    } else {
        const int k = static_cast<int>(std::clamp<long>(p_[1], 1, n));
        const double sp = param(49 + 2 * k);
        const double minutes = param(50 + 2 * k);
        // Segment k ramps from its set point to the next segment's over its
        // time; the last segment holds its set point.
        if (k < n && minutes > 0) {
            const double frac = std::clamp(seg_elapsed_ / (minutes * 60.0), 0.0, 1.0);
            sv = sp + (param(51 + 2 * k) - sp) * frac;
        } else {
            sv = sp;
        }
    }
    sv_ = std::clamp(sv, std::min(param(37), param(38)), std::max(param(37), param(38)));
}

void Instrument::update_alarms()
{
    const double v = pv();
    const double sv = sv_;
    const double hys = param(7);
    uint8_t s = status_ & (bit_ldal | bit_hdal | bit_loal | bit_hial);
    auto track = [&s](uint8_t bit, double x, double limit, double hysteresis) {
        if (x > limit)
            s |= bit;
        else if (x < limit - hysteresis)
            s &= static_cast<uint8_t>(~bit);
    };
    track(bit_hial, v, param(3), hys);
    track(bit_loal, -v, -param(4), hys);
    track(bit_hdal, v - sv, param(5), hys);
    track(bit_ldal, sv - v, param(6), hys);
    if (sensor_break_ || v > param(25) || v < param(24))
        s |= bit_over_range;
    if (p_[10] == state_stop)
        s |= bit_ready;
    status_ = s;
}

void Instrument::control(double dt)
{
    const double v = pv();
    const double lo = std::min(param(31), param(32));
    const double hi = std::max(param(31), param(32));
    switch (p_[10]) {
    case state_stop:
        mv_ = 0;
        integral_ = 0;
        break;
    case state_hand:
        mv_ = std::clamp(param(0), lo, hi);
        break;
    default: {
        const double e = sv_ - v;
        if (p_[9] == 3) { // on/off control with the control hysteresis
            const double hys = param(21);
            if (v < sv_ - hys)
                onoff_high_ = true;
            else if (v > sv_ + hys)
                onoff_high_ = false;
            mv_ = onoff_high_ ? hi : lo;
            break;
        }
        const double kp = 1000.0 / static_cast<double>(std::max(1L, p_[13]));
        const double ti = static_cast<double>(std::max(1L, p_[14]));
        const double td = static_cast<double>(std::max(0L, p_[15]));
        const double di = kp * e * dt / ti;
        integral_ += di;
        double u = kp * e + integral_ - kp * td * (v - last_pv_) / dt;
        if ((u > hi && di > 0) || (u < lo && di < 0)) {
            integral_ -= di; // no wind-up while the output is saturated
            u -= di;
        }
        integral_ = std::clamp(integral_, lo, hi);
        mv_ = std::clamp(u, lo, hi);
        break;
    }
    }
    last_pv_ = v;
}

void Instrument::step(double dt)
{
    step_rest_ += dt;
    while (step_rest_ >= sub_step) {
        step_rest_ -= sub_step;
        const long n = p_[40];
        if (p_[10] == state_run && n > 0) {
            seg_elapsed_ += sub_step;
            for (long guard = 0; guard < n; ++guard) {
                const int k = static_cast<int>(std::clamp<long>(p_[1], 1, n));
                const double length = param(50 + 2 * k) * 60.0;
                if (seg_elapsed_ < length)
                    break;
                seg_elapsed_ -= length;
                p_[1] = k % n + 1; // after the last segment the program starts again
            }
        }
        update_setpoint();
        control(sub_step);
        const double delayed = dead_line_[dead_pos_];
        dead_line_[dead_pos_] = mv_;
        dead_pos_ = (dead_pos_ + 1) % dead_line_.size();
        temp_ += (ambient + process_gain * delayed - temp_) / time_constant * sub_step;
        update_alarms();
    }
}

} // namespace aisim
