#pragma once
// The version of the database layout and its upgrade in place.
//
// Version 0 is the delivered layout (ai_para and mea_tbl, data/schema.sql).
// Every later version is one step that adds to it; a step never changes or
// drops what programs reading ai_para and mea_tbl rely on. The version is
// SQLite's user_version. At start the station brings the file up to the
// newest version: each step runs in one write transaction together with the
// new version number, so an interrupted upgrade leaves the file at the last
// completed step with all its rows, and the next start goes on from there.
// To add a version, append a step to the list in schema.cpp.
#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <vector>

struct SchemaStep {
    int version; // the version the file has after this step
    const char* what; // what the step adds, for messages
    std::vector<const char*> statements;
};

// The station's steps, in version order (1, 2, ...).
const std::vector<SchemaStep>& schema_steps();
int latest_schema_version(const std::vector<SchemaStep>& steps = schema_steps());

// The file's version. Throws EDatabaseError.
int schema_version(const QSqlDatabase& db);

// Runs the steps above the file's version, in order. A file newer than the
// last step is refused: this program does not know what the newer layout
// expects of it. Throws EDatabaseError naming `file` (the file name and
// folder for the operator), the version and the driver's reason.
//
// `starting` is called before each step that runs: a step that indexes or
// summarises the log takes minutes on years of rows, and the caller tells the
// operator so rather than leave the screen empty.
using SchemaStepNotice = std::function<void(const SchemaStep&)>;
void upgrade_schema(const QSqlDatabase& db, const QString& file,
    const std::vector<SchemaStep>& steps = schema_steps(), const SchemaStepNotice& starting = {});
