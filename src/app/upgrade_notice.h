#pragma once
// Shown while the database's layout is upgraded before the window exists: on a
// log of years the new index and summary take minutes, and an empty screen
// would look like a hang. What ran goes to the event log.
#include "schema.h"

#include <QElapsedTimer>
#include <QStringList>

#include <memory>

class QLabel;

class UpgradeNotice {
public:
    UpgradeNotice();
    ~UpgradeNotice();
    void starting(const SchemaStep& step);
    // Writes what ran and how long it took; closes the notice.
    void finish();

private:
    std::unique_ptr<QLabel> label_;
    QStringList lines_;
    QElapsedTimer clock_;
};
