#include "errors.h"
#include "param_text.h"

#include <gtest/gtest.h>

TEST(ParamText, WordsBothWaysExactly)
{
    EXPECT_EQ(param_value_text(22, 9, 0), "Pt100/1000");
    EXPECT_EQ(param_value_text(22, 11, 0), "Rf");
    EXPECT_EQ(enum_value(22, "Rf"), 11);
    EXPECT_EQ(enum_value(22, "Ω"), 12);
    EXPECT_EQ(param_value_text(29, 1, 0), "rELy");
    EXPECT_EQ(enum_value(29, "rELy"), 1);
    EXPECT_EQ(enum_value(23, "三位"), 2);
    EXPECT_EQ(enum_value(41, "HoLd"), 4);
    for (const char* text : {"rely", "RELY", " rELy", "rELy ", "", "1"})
        EXPECT_THROW(enum_value(29, text), EConvertError) << text;
    try {
        enum_value(10, "Run");
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'Run' is not a value of parameter 运行状态Srun");
    }
}

TEST(ParamText, EnumeratedRoundingHalfToEven)
{
    const struct {
        int code;
        float value;
        const char* text;
    } cases[] = {{10, 2.5f, "Hand"}, {10, 1.5f, "Hand"}, {10, 0.5f, "run"}, {10, -0.5f, "run"},
                 {10, 1.4f, "StoP"}, {9, 4, ""},         {9, -1, ""},       {9, 3, "onOF"},
                 {10, 2.6f, ""}};
    for (const auto& c : cases)
        EXPECT_EQ(param_value_text(c.code, c.value, 0), c.text) << c.code << " " << c.value;
}

TEST(ParamText, IntegerClass)
{
    EXPECT_EQ(param_value_text(40, 3.0f, 0), "3");
    EXPECT_EQ(param_value_text(35, 9600, 0), "9600");
    EXPECT_EQ(param_value_text(2, -12, 0), "-12");
    EXPECT_EQ(param_value_text(13, 2.5f, 0), "2");
    EXPECT_EQ(param_value_text(13, 3.5f, 0), "4");
    EXPECT_EQ(param_value_text(2, -0.5f, 0), "0");
}

TEST(ParamText, DecimalClass)
{
    const struct {
        double value;
        int digits;
        const char* text;
    } cases[] = {{25.6, 2, "25.60"},     {123.456, 2, "123.50"}, {12.3456, 4, "12.3500"},
                 {567.891, 3, "567.900"}, {-3.14159, 3, "-3.142"}, {150, 2, "150.00"},
                 {0.5, 4, "0.5000"},     {12, 3, "12.000"},     {0, 2, "0.00"},
                 {-0.001, 2, "0.00"},    {9999, 2, "9999.00"},  {-3000, 2, "-3000.00"},
                 {0.00012345, 4, "0.0001"}, {9.99996, 4, "10.0000"}};
    for (const auto& c : cases)
        EXPECT_EQ(decimal_text(c.value, c.digits), c.text) << c.value;
    // Integer part of more than four digits: scientific with four significant digits.
    EXPECT_EQ(decimal_text(12000, 2), "1.200E+4");
    EXPECT_EQ(decimal_text(-250000, 3), "-2.500E+5");
    EXPECT_EQ(decimal_text(9999.6, 2), "1.000E+4");
}

TEST(ParamText, DecimalDigitsFromDecimalPlaces)
{
    EXPECT_EQ(param_value_text(3, 150, 2), "150.00");
    EXPECT_EQ(param_value_text(3, 0.5f, 4), "0.5000");
    EXPECT_EQ(param_value_text(60, 12, 3), "12.000");
    EXPECT_EQ(param_value_text(3, 1.5f, 1), "1.50");
    EXPECT_EQ(param_value_text(3, 1.5f, 0), "1.50");
    EXPECT_EQ(param_value_text(3, 1.5f, 7), "1.50");
}

TEST(ParamText, TextToValueForWriting)
{
    EXPECT_EQ(param_text_to_value(29, "rELy"), 1);
    EXPECT_FLOAT_EQ(param_text_to_value(3, "123.45"), 123.45f);
    EXPECT_FLOAT_EQ(param_text_to_value(40, "3"), 3);
    try {
        param_text_to_value(3, "12,5");
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'12,5' 不是数值");
    }
    EXPECT_THROW(param_text_to_value(10, "2"), EConvertError);
}
