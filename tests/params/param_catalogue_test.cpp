#include "param_catalogue.h"
#include "param_text.h"

#include <gtest/gtest.h>

#include <set>

TEST(ParamCatalogue, NamesByCode)
{
    const struct {
        int code;
        const char* name;
    } cases[] = {{0, "手动功率MP"}, {1, "当前程序段Step"}, {10, "运行状态Srun"}, {40, "程序段数Pno"},
                 {42, "高级功能AF"}, {43, "EP1"},          {50, "EP8"},          {51, "SP1"},
                 {52, "t1"},        {59, "SP5"},          {60, "t5"},           {63, "SP7"},
                 {74, "t12"},       {409, "SP180"},       {410, "t180"}};
    for (const auto& c : cases)
        EXPECT_EQ(param_name(c.code), c.name) << c.code;
    EXPECT_EQ(param_name(-1), "");
    EXPECT_EQ(param_name(411), "");
}

TEST(ParamCatalogue, EveryCodeHasADistinctName)
{
    std::set<std::string> names;
    for (int code = 0; code <= kLastParamCode; ++code) {
        const std::string name = param_name(code);
        EXPECT_FALSE(name.empty()) << code;
        names.insert(name);
    }
    EXPECT_EQ(names.size(), static_cast<size_t>(kParamCount));
}

TEST(ParamCatalogue, TextClasses)
{
    for (int code : {9, 10, 11, 12, 22, 23, 28, 29, 30, 36, 41})
        EXPECT_EQ(param_text_class(code), TextClass::Enumerated) << code;
    for (int code : {1, 2, 8, 13, 14, 15, 16, 17, 18, 19, 20, 27, 31, 32, 34, 35, 40, 42})
        EXPECT_EQ(param_text_class(code), TextClass::Integer) << code;
    for (int code : {3, 4, 5, 6, 7, 21, 24, 25, 26, 33, 37, 38, 39, 43, 50, 51, 410})
        EXPECT_EQ(param_text_class(code), TextClass::Decimal) << code;
    EXPECT_EQ(param_text_class(0), TextClass::ManualPower);
    EXPECT_EQ(param_words(22).size(), 18u);
    EXPECT_EQ(param_words(22)[12], "Ω");
    EXPECT_EQ(param_words(23)[0], "五位");
}

TEST(ParamClamp, RangesOfTheCatalogue)
{
    const struct {
        int code;
        float in;
        float out;
    } cases[] = {
        {2, 950, 908},       {2, -501, 0},         {2, -500, -500},     {2, 908, 908},
        {13, 0, 1},          {13, 40000, 32000},   {13, 32000, 32000},  {7, 100, 99.99f},
        {7, 0, 0.0001f},     {21, 1e9f, 99.99f},   {21, -5, 0.0001f},   {59, -50000, -50000},
        {0, 150, 100},       {0, -1, 0},           {26, 61, 60},        {26, -61, -60},
        {34, 91, 90},        {40, 200, 179},       {42, 11220, 11219},  {43, 1e6f, 1e6f},
        {3, -3000.5f, -3000}, {3, 9999, 9999},     {31, -111, -110},    {35, 19201, 19200},
    };
    for (const auto& c : cases)
        EXPECT_EQ(clamp_param(c.code, c.in), c.out) << "code " << c.code << " value " << c.in;
}
