// The steps of a set run: the writes of a copy, the reads of an inspection.
#include "set_run.h"

#include "param_verify.h"
#include "public_set.h"

#include <algorithm>

std::vector<SetStep> copy_steps(const ParamSet& set, const std::vector<int>& targets, bool with_address_and_baud)
{
    std::vector<SetStep> steps;
    for (int target : targets) {
        for (const auto& [code, value] : set.values)
            if (is_read_back(code))
                steps.push_back({ target, code, value, true, target });
        if (!with_address_and_baud)
            continue;
        int address = target;
        if (const auto it = set.values.find(34); it != set.values.end()) {
            steps.push_back({ address, 34, it->second, true, target });
            address = static_cast<int>(it->second);
        }
        if (const auto it = set.values.find(35); it != set.values.end())
            steps.push_back({ address, 35, it->second, true, target });
    }
    return steps;
}

std::vector<SetStep> inspection_steps(int address)
{
    std::vector<SetStep> steps;
    for (int code = kFirstSetCode; code <= run_code_base; ++code)
        steps.push_back({ address, code, 0, false, address });
    return steps;
}

void add_segment_reads(std::vector<SetStep>& steps, size_t from, int address, int last_code)
{
    size_t after = steps.size();
    for (size_t i = 0; i < steps.size(); ++i)
        if (steps[i].address == address)
            after = i + 1;
    after = std::clamp(after, std::min(from, steps.size()), steps.size());
    std::vector<SetStep> reads;
    for (int code = run_code_base + 1; code <= last_code; ++code)
        reads.push_back({ address, code, 0, false, address });
    steps.insert(steps.begin() + static_cast<std::ptrdiff_t>(after), reads.begin(), reads.end());
}
