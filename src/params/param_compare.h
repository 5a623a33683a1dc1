#pragma once
// Two parameter sets side by side: every code either holds, with its value
// texts and whether the two differ.
#include "param_set.h"

#include <optional>
#include <string>
#include <vector>

struct CompareRow {
    int code = 0;
    std::optional<std::string> a; // value text (set_value_text); none when the set lacks the code
    std::optional<std::string> b;
    bool differs = false; // a code only one set holds differs too
};

struct Comparison {
    std::vector<CompareRow> rows; // ascending code
    int differing = 0;
};

// Each value is shown at its own set's decimal places; two values differ when
// they differ at the resolution both can show (set_values_differ).
Comparison compare_param_sets(const ParamSet& a, const ParamSet& b);
