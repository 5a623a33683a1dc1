#pragma once
// The parameter table the engine works on: one column of 411 value texts per
// instrument, the instrument's address naming it, in the order the columns
// are laid out (ascending addresses). Row = code + 1, as in the grid that
// shows it. The runs fill it from the line and the database, the operator's
// edits change it, and a column write sends what it holds.
//
// A column belongs to its address, never to a position: laying the columns
// out again keeps each address's texts, and a new address starts with
// empty cells, so no instrument ever sees another's values.
//
// Changes are collected until take_changes(): the engine sends them to the
// window as one batch per event.
#include <QString>

#include <array>
#include <map>
#include <utility>
#include <vector>

inline constexpr int kParamRows = 411; // rows 1..411, codes 0..410

class ParamTable {
public:
    struct Change {
        int address;
        int row;
        QString text;
    };

    // The columns, in order; a new layout keeps the texts of addresses it
    // still holds.
    void layout(const std::vector<int>& addresses);
    const std::vector<int>& addresses() const { return columns_; }
    bool has_column(int address) const;

    // The text of (address, row); "" for a row or address without a cell.
    QString cell(int address, int row) const;
    // Sets a cell of a laid-out column; a cell of another address or row is
    // dropped (no column, nothing to show it in).
    void set_cell(int address, int row, const QString& text);
    // Reports a cell as changed with the text it holds (a view that showed
    // another text, an edit refused, takes it back).
    void touch(int address, int row);

    // Changes since the last call, in order; the same cell changed twice
    // appears once with its last text.
    std::vector<Change> take_changes();
    bool changed() const { return !changes_.empty(); }

private:
    void note(int address, int row, const QString& text);
    std::vector<int> columns_;
    std::map<int, std::array<QString, kParamRows + 1>> cells_;
    std::vector<Change> changes_;
    std::map<std::pair<int, int>, std::size_t> change_index_;
};
