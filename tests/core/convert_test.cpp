#include "convert.h"
#include "errors.h"

#include <gtest/gtest.h>

TEST(StrToInt, AcceptsBlanksSignAndDigits)
{
    const struct {
        const char* text;
        int value;
    } cases[] = {{"0", 0},          {"42", 42},          {"  7", 7},  {"-1", -1},
                 {"+15", 15},       {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1},
                 {"12345678", 12345678}};
    for (const auto& c : cases)
        EXPECT_EQ(str_to_int(c.text), c.value) << c.text;
}

TEST(StrToInt, RefusesEverythingElseWithTheRuntimeMessage)
{
    for (const char* text : {"", " ", "-", "1.5", "12a", "a", "7 ", "2147483648", "0x10", "1e3"}) {
        try {
            str_to_int(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' 不是整数");
        }
    }
}

TEST(StrToFloat, AcceptsDecimalAndExponentForms)
{
    const struct {
        const char* text;
        double value;
    } cases[] = {{"1", 1},         {"-3.25", -3.25}, {"+.5", 0.5},   {"5.", 5},
                 {"1e3", 1000},    {"2.5E-2", 0.025}, {" 150", 150}, {"0.0001", 0.0001}};
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(str_to_float(c.text), c.value) << c.text;
}

TEST(StrToFloat, RefusesEverythingElseWithTheRuntimeMessage)
{
    for (const char* text : {"", ".", "-", "1e", "1e+", "abc", "1,5", "inf", "nan", "0x1p3", "1.5 ", "1e999"}) {
        try {
            str_to_float(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "'" + std::string(text) + "' 不是数值");
        }
    }
}
