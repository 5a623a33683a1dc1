#include "param_table.h"

#include <algorithm>

void ParamTable::layout(const std::vector<int>& addresses)
{
    columns_ = addresses;
    for (auto it = cells_.begin(); it != cells_.end();) {
        if (std::find(columns_.begin(), columns_.end(), it->first) == columns_.end())
            it = cells_.erase(it);
        else
            ++it;
    }
    for (int address : columns_)
        cells_[address]; // a new column starts empty
}

bool ParamTable::has_column(int address) const { return cells_.count(address) != 0; }

QString ParamTable::cell(int address, int row) const
{
    const auto it = cells_.find(address);
    if (it == cells_.end() || row < 1 || row > kParamRows)
        return {};
    return it->second[static_cast<std::size_t>(row)];
}

void ParamTable::set_cell(int address, int row, const QString& text)
{
    const auto it = cells_.find(address);
    if (it == cells_.end() || row < 1 || row > kParamRows)
        return;
    QString& cell = it->second[static_cast<std::size_t>(row)];
    if (cell == text)
        return;
    cell = text;
    note(address, row, text);
}

void ParamTable::touch(int address, int row)
{
    const auto it = cells_.find(address);
    if (it == cells_.end() || row < 1 || row > kParamRows)
        return;
    note(address, row, it->second[static_cast<std::size_t>(row)]);
}

void ParamTable::note(int address, int row, const QString& text)
{
    const auto key = std::make_pair(address, row);
    if (const auto c = change_index_.find(key); c != change_index_.end()) {
        changes_[c->second].text = text;
        return;
    }
    change_index_[key] = changes_.size();
    changes_.push_back({ address, row, text });
}

std::vector<ParamTable::Change> ParamTable::take_changes()
{
    change_index_.clear();
    return std::exchange(changes_, {});
}
