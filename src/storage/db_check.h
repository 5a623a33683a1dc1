#pragma once
// Judging a database file before anything is written to it.
//
// The station writes to its database (WAL journal, layout upgrades, rows), so
// a file that is not the station's own, or not in a state the station can
// use, must be recognised while it is still untouched: a refused file keeps
// every byte, and no -wal or -shm file is left beside it.
//
// The check reads the file's header itself, then opens it read-only and asks
// SQLite for the tables and their columns through PRAGMA table_info (a quoted
// name in a query that names no column reads as a string and would pass).
// A file in WAL mode without a -wal beside it is opened "immutable", because
// a read-only connection to a WAL file otherwise creates -wal and -shm and
// leaves them. A -journal left by a write that was cut short (a station killed
// during an upgrade) is rolled back first, as SQLite does for any writer that
// opens the file: that restores the file's last committed state.
#include "schema.h"

#include <QString>

#include <vector>

// Checks that `path` is a database of this station's layout that it may
// write: a regular, non-empty SQLite file; not newer than `steps` know; with
// the tables ai_para (id, MyDTL, no0..no89) and mea_tbl (date, time, address,
// sv, pv, mv, val, alm) as tables, not views, and the tables its version's
// steps created; ai_para readable whole; before an upgrade, an intact file
// (PRAGMA quick_check, which reads every page: the upgrade reads the whole
// log anyway); readable and writable by this process, in a folder it may
// write. Returns the layout version. Throws EDatabaseError naming the file,
// its folder and the reason in words, with SQLite's own text as a detail.
int check_station_db(const QString& path, const std::vector<SchemaStep>& steps = schema_steps());

// The file a layout upgrade copies the database to first: "<path>.bak-v<N>",
// N being the version the file had.
QString db_upgrade_copy_path(const QString& path, int from_version);

// "无法打开数据库 <file>（目录 <folder>）：<reason>", then "详细信息：<detail>"
// on a line of its own when there is one.
QString db_refusal_text(const QString& path, const QString& reason, const QString& detail = {});
