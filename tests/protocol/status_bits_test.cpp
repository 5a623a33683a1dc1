// The names of the status byte's alarm bits.
#include "status_bits.h"

#include <gtest/gtest.h>

namespace {

TEST(StatusBits, NamesTheAlarmBitsAsThePanelDoes)
{
    EXPECT_EQ(alarm_names(0), "");
    EXPECT_EQ(alarm_names(0x03), "");
    EXPECT_EQ(alarm_names(0xFF), "Rdy LdAL HdAL LoAL HIAL oraL");
    EXPECT_EQ(alarm_names((1 << 6) | (1 << 5)), "LoAL HIAL");
    EXPECT_EQ(alarm_name(1), "");
    EXPECT_EQ(alarm_name(8), "");
}

} // namespace
