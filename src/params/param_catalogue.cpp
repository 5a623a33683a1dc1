#include "param_catalogue.h"

#include <array>

namespace {

struct Entry {
    const char* name;
    TextClass cls;
    bool clamped;
    float min;
    float max;
};

constexpr TextClass M = TextClass::ManualPower;
constexpr TextClass E = TextClass::Enumerated;
constexpr TextClass I = TextClass::Integer;
constexpr TextClass D = TextClass::Decimal;

// Codes 0..42. Codes 7 and 21 use the single-precision numbers nearest to
// 0.0001 and 99.99. Code 2's lower bound is handled apart (below -500 -> 0).
const std::array<Entry, 43> kNamed = {{
    {"手动功率MP", M, true, 0, 100},
    {"当前程序段Step", I, true, 0, 180},
    {"封锁参数Loc", I, true, -500, 908},
    {"上限报警HiAL", D, true, -3000, 9999},
    {"下限报警LoAL", D, true, -3000, 9999},
    {"偏差上限报警HdAL", D, true, -3000, 9999},
    {"偏差下限报警LdAL", D, true, -3000, 9999},
    {"报警回差AHYS", D, true, 0.0001f, 99.99f},
    {"报警定义AOP", I, true, 0, 4444},
    {"CtrL", E, true, 0, 3},
    {"运行状态Srun", E, true, 0, 2},
    {"上电PAF", E, true, 0, 3},
    {"自整定At", E, true, 0, 2},
    {"AI-P:P", I, true, 1, 32000},
    {"AI-T:I", I, true, 1, 32000},
    {"AI-R:D", I, true, 1, 32000},
    {"控制周期Ctl", I, true, 0, 100},
    {"AuiP:P", I, true, 1, 32000},
    {"AuiT:I", I, true, 1, 32000},
    {"AuiR:D", I, true, 1, 32000},
    {"辅助控制周期Ctl2", I, true, 0, 100},
    {"控制回差CHYS", D, true, 0.0001f, 99.99f},
    {"输入InP", E, true, 0, 17},
    {"显示dPt", E, true, 0, 2},
    {"输入下限SCL", D, true, -3000, 9999},
    {"输入上限SCH", D, true, -3000, 9999},
    {"输入平移修正SCb", D, true, -60, 60},
    {"输入数字滤波FILt", I, true, 0, 100},
    {"Fru", E, true, 0, 3},
    {"Opt", E, true, 0, 4},
    {"AuT", E, true, 0, 2},
    {"输出下限OPL", I, true, -110, 110},
    {"输出上限OPH", I, true, -110, 110},
    {"OPH有效范围OEF", D, true, -3000, 9999},
    {"通讯地址Addr", I, true, 0, 90},
    {"波特率bAud", I, true, 0, 19200},
    {"Et", E, true, 0, 4},
    {"SV下限SPL", D, true, -3000, 9999},
    {"SV上限SPH", D, true, -3000, 9999},
    {"升温速率限制SPr", D, true, 0, 600},
    {"程序段数Pno", I, true, 0, 179},
    {"上电模式PonP", E, true, 0, 4},
    {"高级功能AF", I, true, 0, 11219},
}};

const std::vector<std::string> kNoWords;

const std::vector<std::string>& words_for(int code)
{
    static const std::vector<std::string> w9 = {"JPID", "PoP", "SoP", "onOF"};
    static const std::vector<std::string> w10 = {"run", "StoP", "Hand"};
    static const std::vector<std::string> w11 = {"nonE", "RdY", "SPr", "PVSt"};
    static const std::vector<std::string> w12 = {"OFF", "ON", "FOFF"};
    static const std::vector<std::string> w22 = {"mv", "S",  "K",          "E",    "J",  "T",
                                                 "R",  "B",  "N",          "Pt100/1000", "Cu50", "Rf",
                                                 "Ω",  "mA", "V",          "W3",   "W5", "F2"};
    static const std::vector<std::string> w23 = {"五位", "四位", "三位"};
    static const std::vector<std::string> w28 = {"50C", "50F", "60C", "60F"};
    static const std::vector<std::string> w29 = {"SSr", "rELy", "mA", "PHA", "PHAd"};
    static const std::vector<std::string> w30 = {"SSr", "rELy", "mA"};
    static const std::vector<std::string> w36 = {"nonE", "ruSt", "SPI2", "PID2", "Dout"};
    static const std::vector<std::string> w41 = {"Cont", "StoP", "run1", "dASt", "HoLd"};
    switch (code) {
    case 9: return w9;
    case 10: return w10;
    case 11: return w11;
    case 12: return w12;
    case 22: return w22;
    case 23: return w23;
    case 28: return w28;
    case 29: return w29;
    case 30: return w30;
    case 36: return w36;
    case 41: return w41;
    default: return kNoWords;
    }
}

}  // namespace

bool is_param_code(int code) { return code >= 0 && code <= kLastParamCode; }

std::string param_name(int code)
{
    if (code >= 0 && code <= 42)
        return kNamed[static_cast<size_t>(code)].name;
    if (code >= 43 && code <= 50)
        return "EP" + std::to_string(code - 42);
    if (code >= 51 && code <= kLastParamCode) {
        // Segment k: set point at code 49 + 2k, time at code 50 + 2k.
        const int k = code % 2 == 1 ? (code - 49) / 2 : (code - 50) / 2;
        return (code % 2 == 1 ? "SP" : "t") + std::to_string(k);
    }
    return {};
}

TextClass param_text_class(int code)
{
    if (code >= 0 && code <= 42)
        return kNamed[static_cast<size_t>(code)].cls;
    return TextClass::Decimal;
}

ParamRange param_range(int code)
{
    if (code >= 0 && code <= 42) {
        const Entry& e = kNamed[static_cast<size_t>(code)];
        return {e.clamped, e.min, e.max};
    }
    return {};
}

const std::vector<std::string>& param_words(int code) { return words_for(code); }
