#include "instrument.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace aisim;

namespace {

// Steps the process in one-second slices until pred holds or the process
// time runs out; returns the process seconds used, or -1.
template <class Pred> double run_until(Instrument& in, double limit, Pred pred)
{
    for (double t = 0; t < limit; t += 1.0) {
        if (pred())
            return t;
        in.step(1.0);
    }
    return pred() ? limit : -1;
}

} // namespace

TEST(SimModel, RunHeatsToTheSetValueAndSettles)
{
    Instrument in(1);
    in.set_param(51, 100.0);
    ASSERT_EQ(in.run_state(), state_run);
    ASSERT_NEAR(in.pv(), Instrument::ambient, 1e-9);
    in.step(60);
    EXPECT_GT(in.mv(), 0.0);
    EXPECT_GT(in.pv(), 30.0);
    in.step(1800);
    EXPECT_NEAR(in.pv(), 100.0, 0.5);
    // Settled: ten more minutes stay within half a degree, and the output
    // holds what the ambient loss needs (75 degrees over ambient / 4 per %).
    for (int i = 0; i < 60; ++i) {
        in.step(10);
        ASSERT_NEAR(in.pv(), 100.0, 0.5);
    }
    EXPECT_NEAR(in.mv(), 75.0 / 4.0, 1.0);
    // The reply carries the same values with two decimal places.
    const ReplyFields f = in.reply_fields(0);
    EXPECT_EQ(f.sv, 10000);
    EXPECT_NEAR(static_cast<double>(f.pv), 10000.0, 50.0);
}

TEST(SimModel, StopCutsTheOutputAndThePvFalls)
{
    Instrument in(1);
    in.set_param(51, 200.0);
    in.step(1800);
    const double hot = in.pv();
    ASSERT_GT(hot, 190.0);
    in.set_run_state(state_stop);
    in.step(1);
    EXPECT_EQ(in.mv(), 0.0);
    EXPECT_TRUE(in.status() & bit_ready);
    in.step(600);
    EXPECT_EQ(in.mv(), 0.0);
    EXPECT_LT(in.pv(), hot - 50.0);
    EXPECT_GT(in.pv(), Instrument::ambient);
}

TEST(SimModel, HandDrivesTheManualOutputWithinTheOutputLimits)
{
    Instrument in(1);
    in.set_run_state(state_hand);
    in.set_param(0, 40.0);
    in.step(1);
    EXPECT_DOUBLE_EQ(in.mv(), 40.0);
    in.set_param(0, 110.0); // above OPH 100
    in.step(1);
    EXPECT_DOUBLE_EQ(in.mv(), 100.0);
    EXPECT_FALSE(in.status() & bit_ready);
}

TEST(SimModel, OnOffControlSwitchesBetweenTheOutputLimits)
{
    Instrument in(1);
    in.set_param(9, 3); // onOF
    in.set_param(51, 80.0);
    in.step(1);
    EXPECT_DOUBLE_EQ(in.mv(), 100.0);
    in.set_pv(90.0);
    in.step(0.1);
    EXPECT_DOUBLE_EQ(in.mv(), 0.0);
}

TEST(SimModel, ProgramAdvancesThroughItsSegments)
{
    Instrument in(1);
    in.set_param(40, 3);
    const double sp[3] = { 50, 150, 120 };
    const double minutes[3] = { 2, 1, 3 };
    for (int k = 1; k <= 3; ++k) {
        in.set_param(49 + 2 * k, sp[k - 1]);
        in.set_param(50 + 2 * k, minutes[k - 1]);
    }
    in.set_run_state(state_stop);
    in.set_run_state(state_run);
    EXPECT_EQ(in.segment(), 1);
    EXPECT_EQ(in.read_word(0), -1);
    EXPECT_DOUBLE_EQ(in.sv(), 50.0);
    in.step(60); // halfway through segment 1: ramping from SP1 to SP2
    EXPECT_EQ(in.segment(), 1);
    EXPECT_NEAR(in.sv(), 100.0, 0.5);
    in.step(61);
    EXPECT_EQ(in.segment(), 2);
    EXPECT_EQ(in.read_word(0), -2);
    in.step(60);
    EXPECT_EQ(in.segment(), 3);
    EXPECT_NEAR(in.sv(), 120.0, 1e-9); // the last segment holds its set point
    in.step(170);
    EXPECT_EQ(in.segment(), 3);
    in.step(20); // after the last segment the program starts again
    EXPECT_EQ(in.segment(), 1);
    // Stopping rewinds; while stopped the program does not advance.
    in.step(130);
    ASSERT_EQ(in.segment(), 2);
    in.set_run_state(state_stop);
    EXPECT_EQ(in.segment(), 1);
    in.step(600);
    EXPECT_EQ(in.segment(), 1);
}

TEST(SimModel, AlarmBitsFollowTheirLimits)
{
    Instrument in(1);
    in.set_param(51, 100.0);
    in.set_pv(120.0);
    EXPECT_EQ(in.status() & (bit_hial | bit_loal | bit_hdal | bit_ldal | bit_over_range), 0);
    in.set_param(3, 110.0); // high limit below PV
    EXPECT_TRUE(in.status() & bit_hial);
    in.set_pv(109.8); // inside the 0.5 hysteresis: still on
    EXPECT_TRUE(in.status() & bit_hial);
    in.set_pv(109.0);
    EXPECT_FALSE(in.status() & bit_hial);

    in.set_param(4, 50.0);
    in.set_pv(40.0);
    EXPECT_TRUE(in.status() & bit_loal);
    in.set_param(6, 30.0); // deviation low: SV - PV = 60 > 30
    EXPECT_TRUE(in.status() & bit_ldal);
    EXPECT_FALSE(in.status() & bit_hdal);
    in.set_param(5, 10.0);
    in.set_pv(115.0); // PV - SV = 15 > 10
    EXPECT_TRUE(in.status() & bit_hdal);
    EXPECT_FALSE(in.status() & bit_ldal);
    EXPECT_FALSE(in.status() & bit_loal);
}

TEST(SimModel, SensorBreakPinsPvAndSetsOverRange)
{
    Instrument in(1);
    in.set_pv(80.0);
    in.set_sensor_break(true);
    EXPECT_TRUE(in.status() & bit_over_range);
    EXPECT_DOUBLE_EQ(in.pv(), 1300.0);
    in.step(30);
    EXPECT_DOUBLE_EQ(in.pv(), 1300.0);
    EXPECT_DOUBLE_EQ(in.mv(), 0.0); // PV far above SV: the output closes
    in.set_sensor_break(false);
    EXPECT_FALSE(in.status() & bit_over_range);
    EXPECT_LT(in.pv(), 100.0);
}

TEST(SimModel, SetupWritesMoveAddressAndBaud)
{
    Instrument in(3);
    WriteOutcome w = in.write_word(2, 512);
    EXPECT_EQ(w.new_address, 12);
    EXPECT_EQ(in.address(), 12);
    EXPECT_EQ(in.param(2), 0.0); // the lock parameter itself is unchanged
    const struct {
        int word;
        int baud;
    } rates[] = { { 601, 19200 }, { 602, 9600 }, { 603, 4800 } };
    for (auto r : rates) {
        w = in.write_word(2, static_cast<int16_t>(r.word));
        EXPECT_EQ(w.new_baud, r.baud);
        EXPECT_EQ(in.baud(), r.baud);
        EXPECT_EQ(in.read_word(35), r.baud);
    }
    // An ordinary lock value is stored; one out of range is refused.
    EXPECT_TRUE(in.write_word(2, 808).applied);
    EXPECT_EQ(in.param(2), 808.0);
    EXPECT_FALSE(in.write_word(2, 950).applied);
    EXPECT_EQ(in.address(), 12);
}

TEST(SimModel, InputTypeSetsDecimalPlacesAndKeepsValues)
{
    Instrument in(1);
    in.set_param(51, 150.0);
    EXPECT_TRUE(in.write_word(22, 13).applied); // mA: four decimal places
    EXPECT_EQ(in.decimal_places(), 4);
    EXPECT_DOUBLE_EQ(in.param(51), 150.0);
    EXPECT_EQ(in.reply_fields(0).sv, 1500000);
    EXPECT_EQ(in.read_word(22), 13);
}
