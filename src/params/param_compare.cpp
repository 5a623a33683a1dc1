#include "param_compare.h"

#include <set>

Comparison compare_param_sets(const ParamSet& a, const ParamSet& b)
{
    std::set<int> codes;
    for (const auto& entry : a.values)
        codes.insert(entry.first);
    for (const auto& entry : b.values)
        codes.insert(entry.first);
    Comparison result;
    for (int code : codes) {
        CompareRow row;
        row.code = code;
        const auto in_a = a.values.find(code);
        const auto in_b = b.values.find(code);
        if (in_a != a.values.end())
            row.a = set_value_text(code, in_a->second, a.decimal_places);
        if (in_b != b.values.end())
            row.b = set_value_text(code, in_b->second, b.decimal_places);
        row.differs = !row.a || !row.b
            || set_values_differ(code, in_a->second, a.decimal_places, in_b->second, b.decimal_places);
        result.differing += row.differs ? 1 : 0;
        result.rows.push_back(std::move(row));
    }
    return result;
}
