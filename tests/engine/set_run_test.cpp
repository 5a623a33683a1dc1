// The steps of the set run: what a copy writes where, and where the program
// segments of an inspection go.
#include "set_run.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using Step = std::tuple<int, int, bool, int>; // address, code, write, instrument

std::vector<Step> flat(const std::vector<SetStep>& steps)
{
    std::vector<Step> out;
    for (const SetStep& s : steps)
        out.emplace_back(s.address, s.code, s.write, s.instrument);
    return out;
}

} // namespace

TEST(SetRun, CopyWritesEveryTargetInTurnWithAddressAndBaudRateOnlyWhenAsked)
{
    ParamSet set;
    set.values = { { 35, 19200.0f }, { 4, -125.0f }, { 34, 9.0f }, { 13, 600.0f } };
    EXPECT_EQ(flat(copy_steps(set, { 2, 5 }, false)),
              (std::vector<Step> { { 2, 4, true, 2 }, { 2, 13, true, 2 }, { 5, 4, true, 5 }, { 5, 13, true, 5 } }));
    // The address goes last but one, and the baud rate to the new address.
    EXPECT_EQ(flat(copy_steps(set, { 2 }, true)),
              (std::vector<Step> { { 2, 4, true, 2 }, { 2, 13, true, 2 }, { 2, 34, true, 2 }, { 9, 35, true, 2 } }));
    EXPECT_EQ(copy_steps(set, { 2 }, true)[2].value, 9.0f);
}

TEST(SetRun, SegmentReadsFollowTheirInstrumentsFixedCodes)
{
    std::vector<SetStep> steps = inspection_steps(1);
    const std::vector<SetStep> second = inspection_steps(4);
    steps.insert(steps.end(), second.begin(), second.end());
    ASSERT_EQ(steps.size(), 104u);
    EXPECT_EQ(steps.front().code, 1);
    EXPECT_EQ(steps[51].code, 52);
    add_segment_reads(steps, 45, 1, 56); // two segments: t2 is code 56
    ASSERT_EQ(steps.size(), 108u);
    EXPECT_EQ(flat({ steps[51], steps[52], steps[55], steps[56] }),
              (std::vector<Step> { { 1, 52, false, 1 }, { 1, 53, false, 1 }, { 1, 56, false, 1 }, { 4, 1, false, 4 } }));
    // Never where the run has passed already: an answer that comes late
    // puts its reads next.
    std::vector<SetStep> late = inspection_steps(1);
    late.insert(late.end(), second.begin(), second.end());
    add_segment_reads(late, 60, 1, 54);
    ASSERT_EQ(late.size(), 106u);
    EXPECT_EQ(flat({ late[59], late[60], late[61], late[62] }),
              (std::vector<Step> { { 4, 8, false, 4 }, { 1, 53, false, 1 }, { 1, 54, false, 1 }, { 4, 9, false, 4 } }));
}
