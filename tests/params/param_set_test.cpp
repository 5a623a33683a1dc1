#include "param_compare.h"
#include "param_set.h"

#include <gtest/gtest.h>

TEST(ParamSet, MnemonicIsTheLatinEndOfTheName)
{
    EXPECT_EQ(param_mnemonic(4), "LoAL");
    EXPECT_EQ(param_mnemonic(33), "OEF"); // "OPH有效范围OEF"
    EXPECT_EQ(param_mnemonic(37), "SPL"); // "SV下限SPL"
    EXPECT_EQ(param_mnemonic(13), "AI-P:P");
    EXPECT_EQ(param_mnemonic(51), "SP1");
    EXPECT_EQ(param_mnemonic(410), "t180");
}

TEST(ParamSet, ValueTextAtTheParametersResolution)
{
    const struct {
        int code;
        float value;
        int dec;
        const char* text;
    } cases[] = {
        { 4, -125.0f, 2, "-125.00" }, // five-digit class: dec decimals
        { 4, -125.0f, 1, "-125.0" },
        { 4, 0.05f, 1, "0.1" }, // rounded to whole steps, halves away from zero
        { 4, -0.04f, 1, "0.0" },
        { 7, 0.0001f, 4, "0.0001" },
        { 25, 1300.0f, 0, "1300" },
        { 51, 49999.99f, 2, "49999.99" }, // program set point beyond 9999 counts
        { 52, 12.5f, 3, "12.5" }, // program time: tenths whatever the decimal places
        { 13, 345.4f, 2, "345" }, // integer class
        { 2, -500.0f, 2, "-500" },
        { 45, 7.0f, 3, "7" }, // EP3: a plain word on the line
        { 22, 9.0f, 2, "Pt100/1000" }, // enumerated: the word
        { 22, 12.0f, 2, "Ω" },
        { 9, 7.0f, 2, "7" }, // a value without a word stays a number
    };
    for (const auto& c : cases)
        EXPECT_EQ(set_value_text(c.code, c.value, c.dec), c.text) << "code " << c.code << " value " << c.value;
}

TEST(ParamCompare, DifferingCodesAreMarkedAndCounted)
{
    ParamSet a;
    a.decimal_places = 2;
    a.values = { { 4, -100.0f }, { 13, 345.0f }, { 22, 2.0f }, { 29, 1.0f } };
    ParamSet b;
    b.decimal_places = 2;
    b.values = { { 4, -125.5f }, { 13, 345.0f }, { 29, 1.0f }, { 52, 12.5f } };
    const Comparison c = compare_param_sets(a, b);
    ASSERT_EQ(c.rows.size(), 5u);
    EXPECT_EQ(c.differing, 3);
    struct Row {
        int code;
        const char* a;
        const char* b;
        bool differs;
    };
    const Row expected[] = {
        { 4, "-100.00", "-125.50", true },
        { 13, "345", "345", false },
        { 22, "K", nullptr, true }, // in one set only
        { 29, "rELy", "rELy", false },
        { 52, nullptr, "12.5", true },
    };
    for (size_t i = 0; i < c.rows.size(); ++i) {
        SCOPED_TRACE("code " + std::to_string(expected[i].code));
        EXPECT_EQ(c.rows[i].code, expected[i].code);
        EXPECT_EQ(c.rows[i].a.value_or("(none)"), expected[i].a ? expected[i].a : "(none)");
        EXPECT_EQ(c.rows[i].b.value_or("(none)"), expected[i].b ? expected[i].b : "(none)");
        EXPECT_EQ(c.rows[i].differs, expected[i].differs);
    }
}

// Sets of instruments with different decimal places are compared at the
// resolution both can show: a value the coarser one holds the same way is no
// difference.
TEST(ParamCompare, DifferentDecimalPlacesCompareAtTheCoarserResolution)
{
    ParamSet fine;
    fine.decimal_places = 2;
    fine.values = { { 3, 12.34f }, { 4, 12.36f }, { 13, 5.0f } };
    ParamSet coarse;
    coarse.decimal_places = 1;
    coarse.values = { { 3, 12.3f }, { 4, 12.3f }, { 13, 5.0f } };
    const Comparison c = compare_param_sets(fine, coarse);
    ASSERT_EQ(c.rows.size(), 3u);
    EXPECT_FALSE(c.rows[0].differs);
    EXPECT_EQ(*c.rows[0].a, "12.34");
    EXPECT_EQ(*c.rows[0].b, "12.3");
    EXPECT_TRUE(c.rows[1].differs); // 12.36 shows as 12.4 at one place
    EXPECT_EQ(c.differing, 1);
    EXPECT_EQ(compare_param_sets(ParamSet {}, ParamSet {}).rows.size(), 0u);
}
