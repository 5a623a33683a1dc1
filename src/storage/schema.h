#pragma once
// The version of the database layout and its upgrade in place.
//
// Version 0 is the delivered layout (ai_para and mea_tbl, data/schema.sql).
// Every later version is one step that adds to it; a step never changes or
// drops what programs reading ai_para and mea_tbl rely on. The version is
// SQLite's user_version. At start the station brings the file up to the
// newest version: every step it lacks runs in ONE write transaction together
// with the new version number, so an upgrade that fails or is interrupted
// leaves the file as it was (the journal restores it), and one that commits
// leaves it whole at the newest version. To add a version, append a step to
// the list in schema.cpp.
#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <vector>

struct SchemaStep {
    int version; // the version the file has after this step
    const char* what; // what the step adds, for messages
    std::vector<const char*> statements;
    // The tables the step creates: a file that says it has this version or a
    // later one and lacks one of them is damaged.
    std::vector<const char*> tables = {};
};

// The station's steps, in version order (1, 2, ...).
const std::vector<SchemaStep>& schema_steps();
int latest_schema_version(const std::vector<SchemaStep>& steps = schema_steps());

// The file's version. Throws EDatabaseError.
int schema_version(const QSqlDatabase& db);

// Runs the steps above the file's version, in order, in one transaction
// taken with the write lock (BEGIN IMMEDIATE): the version is read again
// under the lock, since another program may have upgraded the file since.
// Either every step and the new version are committed, or nothing is: on any
// failure the transaction is rolled back. A file newer than the last step is
// refused: this program does not know what the newer layout expects of it.
// Throws EDatabaseError naming `file` (the file name and folder for the
// operator), the version and the driver's reason.
//
// `before` is called once, under the write lock and before the first step,
// with the version the file has (the caller copies the file aside); what it
// throws ends the upgrade with nothing changed. `starting` is called before
// each step that runs: a step that indexes or summarises the log takes
// minutes on years of rows, and the caller tells the operator so rather than
// leave the screen empty.
using SchemaStepNotice = std::function<void(const SchemaStep&)>;
using SchemaUpgradeStart = std::function<void(int from_version)>;
void upgrade_schema(const QSqlDatabase& db, const QString& file,
    const std::vector<SchemaStep>& steps = schema_steps(), const SchemaStepNotice& starting = {},
    const SchemaUpgradeStart& before = {});
