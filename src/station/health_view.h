#pragma once
// The bus-health view: one row per address that has been asked something,
// with its requests, replies, unanswered requests, bad check nibbles, voided
// (late or ambiguous) replies, mean reply time and the age of its last reply.
#include "bus_health.h"

#include <QDialog>

class QLabel;
class QTableWidget;

class HealthView : public QDialog {
    Q_OBJECT
public:
    explicit HealthView(QWidget* parent = nullptr);
    // Shows the counters as they stand at `now`.
    void refresh(const BusHealth& health, BusHealth::Clock::time_point now);
    QTableWidget* table() const { return table_; }

private:
    QTableWidget* table_;
    QLabel* summary_;
};
