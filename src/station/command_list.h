#pragma once
// The dialog "控制命令记录": the newest commands sent to instruments, as
// command_log holds them (time, address, command, value, result), newest
// first, read on the window's own connection and read again whenever the
// log changes while it is shown.
#include <QDialog>

class CommandLog;
class QLabel;
class QTableWidget;

class CommandList : public QDialog {
    Q_OBJECT
public:
    static constexpr int kRows = 500;
    static constexpr int ColTime = 0, ColAddress = 1, ColCommand = 2, ColValue = 3, ColResult = 4;

    explicit CommandList(CommandLog& log, QWidget* parent = nullptr);
    // Reads the log again; a failure is shown in the dialog, not raised.
    void refresh();
    QTableWidget* table() const { return table_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    CommandLog& log_;
    QTableWidget* table_;
    QLabel* note_;
};
