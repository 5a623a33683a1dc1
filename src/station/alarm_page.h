#pragma once
// The alarm page: the alarm transitions of alarm_log, newest first, filtered
// by address and by days, with the count and a CSV export of everything the
// filter passes. It follows new transitions as they are logged.
#include "alarm_log.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QTableView;
class CsvExportBar;

class AlarmTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColTime, ColAddress, ColAlarm, ColState, ColumnCount };
    using QAbstractTableModel::QAbstractTableModel;

    void set_events(std::vector<AlarmEvent> events);
    const std::vector<AlarmEvent>& events() const { return events_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    std::vector<AlarmEvent> events_;
};

class AlarmPage : public QWidget {
    Q_OBJECT
public:
    // The page lists at most this many of the newest matching transitions;
    // the export writes them all.
    static constexpr int kShownRows = 2000;

    explicit AlarmPage(AlarmLog& log, QWidget* parent = nullptr);

    AlarmFilter filter() const;
    // Re-reads the list for the filter as it stands (also after each logged
    // transition while the page is shown).
    void refresh();

    QTableView* table() const { return table_; }
    AlarmTableModel* model() const { return model_; }
    QComboBox* address_box() const { return address_box_; }
    QCheckBox* range_box() const { return range_box_; }
    QDateEdit* from_edit() const { return from_edit_; }
    QDateEdit* to_edit() const { return to_edit_; }
    QLabel* count_label() const { return count_label_; }
    CsvExportBar* export_bar() const { return export_bar_; }

Q_SIGNALS:
    void database_error(const QString& message);

protected:
    void showEvent(QShowEvent* event) override;

private:
    AlarmLog& log_;
    AlarmTableModel* model_;
    QTableView* table_;
    QComboBox* address_box_;
    QCheckBox* range_box_;
    QDateEdit* from_edit_;
    QDateEdit* to_edit_;
    QLabel* count_label_;
    CsvExportBar* export_bar_;
    bool stale_ = true;
};
