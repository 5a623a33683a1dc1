#pragma once
// What the window and the headless service do alike before the engine runs:
// settle the data folder and work in it, open the event log there, and bring
// the database's layout up to date (telling the caller of each step, which
// can take minutes on a long log). A failure is said on standard error and
// in the event log as well as to the caller, who then stops.
#include "schema.h"

#include <QString>

struct StartRequest {
    QString workdir; // --workdir; empty: chosen as usual
    SchemaStepNotice upgrading; // told before each layout step runs
};

// Returns the data folder (the working directory from now on). Throws
// EStationError (or one of its kinds) with the reason in Chinese, after
// writing it to standard error and, when it is open, the event log.
QString prepare_start(const StartRequest& request);

// Says a start-up failure on standard error and in the event log.
void report_start_failure(const std::string& text);
