// Alarm transitions from sequences of status bytes, one table row per story.
#include "alarm_watch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr std::uint8_t kRdy = 1 << 2, kLdAL = 1 << 3, kLoAL = 1 << 5, kHIAL = 1 << 6, kOraL = 1 << 7;

struct Step {
    int address;
    std::uint8_t status;
    std::vector<AlarmTransition> want;
};

struct WatchCase {
    const char* name;
    std::vector<Step> steps;
};

const std::vector<WatchCase> kCases = {
    { "raise_hold_clear",
        { { 1, 0, {} }, { 1, kHIAL, { { 1, 6, true } } }, { 1, kHIAL, {} }, { 1, kHIAL, {} },
            { 1, 0, { { 1, 6, false } } }, { 1, 0, {} } } },
    { "two_at_once_then_one_clears",
        { { 3, 0, {} }, { 3, kHIAL | kOraL, { { 3, 6, true }, { 3, 7, true } } },
            { 3, kOraL, { { 3, 6, false } } }, { 3, kLoAL, { { 3, 5, true }, { 3, 7, false } } } } },
    { "first_reply_raises_what_it_carries_and_clears_nothing",
        { { 5, kRdy | kLdAL, { { 5, 2, true }, { 5, 3, true } } }, { 5, kRdy, { { 5, 3, false } } } } },
    { "bits_0_and_1_are_no_alarm",
        { { 2, 0x03, {} }, { 2, 0x01, {} }, { 2, 0x02 | kHIAL, { { 2, 6, true } } } } },
    { "addresses_are_watched_apart",
        { { 1, kHIAL, { { 1, 6, true } } }, { 2, kHIAL, { { 2, 6, true } } }, { 1, 0, { { 1, 6, false } } },
            { 2, kHIAL, {} } } },
    { "addresses_outside_the_tables_bring_nothing",
        { { -1, kHIAL, {} }, { 101, kHIAL, {} }, { 100, kHIAL, { { 100, 6, true } } } } },
};

class AlarmWatchTest : public ::testing::TestWithParam<WatchCase> { };

TEST_P(AlarmWatchTest, ReportsEachChangeOfEachBitOnce)
{
    AlarmWatch watch;
    int n = 0;
    for (const Step& s : GetParam().steps) {
        SCOPED_TRACE("step " + std::to_string(n++));
        EXPECT_EQ(watch.feed(s.address, s.status), s.want);
    }
}

INSTANTIATE_TEST_SUITE_P(Alarms, AlarmWatchTest, ::testing::ValuesIn(kCases),
    [](const auto& param_info) { return std::string(param_info.param.name); });

} // namespace
