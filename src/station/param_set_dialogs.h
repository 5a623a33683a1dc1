#pragma once
// The dialogs of the parameter-set actions: comparing two sets side by side,
// and copying one set to several instruments.
#include "param_compare.h"

#include <QDialog>
#include <functional>
#include <utility>
#include <vector>

class ParamSourceBox;
class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;

class ParamCompareDialog : public QDialog {
    Q_OBJECT
public:
    // `addresses`: the instruments offered; `address` the one chosen at first.
    ParamCompareDialog(const std::vector<int>& addresses, int address, QWidget* parent = nullptr);

    ParamSourceBox* side_a = nullptr;
    ParamSourceBox* side_b = nullptr;
    // Called when "比较" is pressed (run through the error box guard).
    std::function<void()> on_compare;

    // The rows of the comparison, the differing values highlighted, and the count.
    void show_comparison(const QString& a_title, const QString& b_title, const Comparison& comparison);
    // A line above the table ("正在读取仪表 3 的参数…").
    void show_status(const QString& text);
    void set_comparing(bool busy);

    QTableWidget* table() const { return table_; }
    QLabel* count_label() const { return count_label_; }
    QLabel* status_label() const { return status_label_; }
    QCheckBox* differences_only() const { return differences_only_; }

private:
    void apply_filter();

    QTableWidget* table_ = nullptr;
    QLabel* count_label_ = nullptr;
    QLabel* status_label_ = nullptr;
    QCheckBox* differences_only_ = nullptr;
    QPushButton* compare_button_ = nullptr;
    std::vector<bool> row_differs_;
};

class ParamCopyDialog : public QDialog {
    Q_OBJECT
public:
    ParamCopyDialog(const std::vector<int>& addresses, int address, QWidget* parent = nullptr);

    ParamSourceBox* source_box = nullptr;
    std::vector<int> targets() const;
    bool with_address_and_baud() const;
    // Run by "开始复制": what it throws is shown and the dialog stays open
    // with its choices, so the operator corrects them rather than starting
    // over.
    std::function<void()> check;
    void accept() override;

private:
    std::vector<std::pair<int, QCheckBox*>> target_boxes_;
    QCheckBox* address_and_baud_ = nullptr;
};
