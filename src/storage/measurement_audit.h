#pragma once
// Changing a logged measurement row leaves a trace: every changed field is
// written to mea_audit (when, the row's rowid, the field, the stored value
// before and after) in the same transaction as the change itself.
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include <vector>

struct FieldChange {
    QString field; // a mea_tbl field name, from MeasurementModel::field_name
    QVariant value;
};

// Applies the changes to the mea_tbl row `rowid` and records each one in
// mea_audit, all or nothing. A change to a value the field already holds is
// neither applied nor recorded. Returns the number of fields changed. Throws
// EDatabaseError naming `file_label` and the reason (also when the row is
// gone).
int update_measurement_audited(
    const QSqlDatabase& db, const QString& file_label, qint64 rowid, const std::vector<FieldChange>& changes);
