#pragma once
// The page 报警一览: the alarms the engine lists as active or not yet
// acknowledged, one line each (unacknowledged first, newest first within a
// state, coloured by state, the unacknowledged ones flashing), the shelved
// ones in a list of their own below, and the operator's buttons. The page
// decides nothing: each button becomes a request to the engine.
#include "engine_reports.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <functional>
#include <set>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

class ActiveAlarmModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColAddress, ColAlarm, ColRaised, ColCleared, ColState, ColUser, ColCount, ColumnCount };
    using QAbstractTableModel::QAbstractTableModel;

    void set_lines(std::vector<AlarmLine> lines);
    const std::vector<AlarmLine>& lines() const { return lines_; }
    // The flash phase: unacknowledged lines show their colour when on and
    // the plain background when off.
    void set_flash(bool on);
    bool flash() const { return flash_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The background of a line of `state` (the flash phase on).
    static QColor state_colour(AlarmState state);

private:
    std::vector<AlarmLine> lines_;
    bool flash_ = true;
};

class ActiveAlarmPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFlashMs = 500;

    explicit ActiveAlarmPage(QWidget* parent = nullptr);

    void show_alarms(const AlarmsShown& alarms);

    QTableView* table() const { return table_; }
    QTableView* shelved_table() const { return shelved_table_; }
    ActiveAlarmModel* model() const { return model_; }
    ActiveAlarmModel* shelved_model() const { return shelved_model_; }
    QPushButton* ack_button() const { return ack_; }
    QPushButton* ack_all_button() const { return ack_all_; }
    QPushButton* silence_button() const { return silence_; }
    QPushButton* shelve_button() const { return shelve_; }
    QPushButton* unshelve_button() const { return unshelve_; }
    QLabel* summary() const { return summary_; }
    QLineEdit* quiet_edit() const { return quiet_edit_; }
    QPushButton* quiet_button() const { return quiet_apply_; }
    // Toggles the flash phase (the page's timer; tests call it).
    void flash_tick();
    // Asks for the reason and the length of a shelve of the selected alarm
    // and emits shelve_requested; the dialog is replaceable for tests.
    std::function<bool(const AlarmLine& line, int& hours, QString& reason)> ask_shelve;

Q_SIGNALS:
    void acknowledge_requested(int address, const QString& alarm);
    void acknowledge_all_requested();
    void silence_requested();
    void shelve_requested(int address, const QString& alarm, int hours, const QString& reason);
    void unshelve_requested(int address, const QString& alarm);
    // The addresses whose alarms are listed but not sounded.
    void quiet_requested(const std::set<int>& addresses);

private:
    const AlarmLine* selected(QTableView* table, ActiveAlarmModel* model) const;
    void update_buttons();
    bool default_ask_shelve(const AlarmLine& line, int& hours, QString& reason);

    ActiveAlarmModel* model_;
    ActiveAlarmModel* shelved_model_;
    QTableView* table_;
    QTableView* shelved_table_;
    QLabel* summary_;
    QPushButton* ack_;
    QPushButton* ack_all_;
    QPushButton* silence_;
    QPushButton* shelve_;
    QPushButton* unshelve_;
    QLineEdit* quiet_edit_;
    QPushButton* quiet_apply_;
    QLabel* quiet_hint_;
    QTimer* flash_timer_;
    bool sounding_ = false;
};
