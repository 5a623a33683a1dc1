#pragma once
// The catalogue of the instruments' 411 parameter codes (0..410): name text,
// text class, write clamp and the word tables of the enumerated codes. Grid
// row = code + 1, database row id = code + 1.
#include <string>
#include <vector>

inline constexpr int kParamCount = 411;
inline constexpr int kLastParamCode = 410;

enum class TextClass { ManualPower, Enumerated, Integer, Decimal };

struct ParamRange {
    bool clamped = false;
    float min = 0;
    float max = 0;
};

bool is_param_code(int code);

// Name text of a code ("手动功率MP", "SP1", "t180"); empty outside 0..410.
std::string param_name(int code);

TextClass param_text_class(int code);

// Clamp range; codes 43..410 (and codes outside the catalogue) are not clamped.
ParamRange param_range(int code);

// Words of an enumerated code in value order; empty for other codes.
const std::vector<std::string>& param_words(int code);
