// A layout upgrade killed midway: the station program, upgrading a large log
// of the delivered layout, is killed (SIGKILL) at moments along the upgrade.
// Whatever the moment, the file is then either the old one with every row or
// the fully upgraded one with every row, and the copy made before the upgrade
// is beside it. Started again, the station finishes the upgrade.
#include "schema.h"
#include "station_program.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr int kRows = 400000;

// What matters of a database: its version, whether it is intact, its log
// (count and sums over every row) and, once upgraded, whether the minute
// summary covers every row and the tables of the upgrade are there.
struct State {
    int version = -1;
    QString integrity;
    QString log; // "count sums"
    qint64 minute_rows = -1; // rows the minute table counts; -1 before version 3
    int upgrade_tables = 0;
};

State state_of(const QString& path)
{
    State s;
    const QString name = QStringLiteral("inspect");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path); // read-write: a journal left by a killed writer is rolled back
        if (db.open()) {
            QSqlQuery q(db);
            const auto one = [&](const QString& sql) {
                return q.exec(sql) && q.next() ? q.value(0) : QVariant();
            };
            s.version = one(QStringLiteral("PRAGMA user_version")).toInt();
            s.integrity = one(QStringLiteral("PRAGMA integrity_check")).toString();
            s.log = one(QStringLiteral("SELECT count(*) || ' ' || total(rowid) || ' ' || total(sv) || ' ' || total(pv) "
                                       "|| ' ' || total(alm) || ' ' || max(\"time\") FROM mea_tbl"))
                        .toString();
            s.upgrade_tables = one(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                                  "name IN ('alarm_log', 'mea_audit', 'mea_minute')"))
                                   .toInt();
            if (s.version >= 3)
                s.minute_rows = one(QStringLiteral("SELECT total(n) FROM mea_minute")).toLongLong();
            q.finish();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return s;
}

void sql(const QString& path, const QString& statement)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(statement)) << q.lastError().text().toStdString();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("make"));
}

// The file and its journal (or WAL), copied to `to` under the same names, so that the
// state a killed run left can be looked at without changing what the next
// start of the station finds.
QString copy_as_left(const QString& db, const QTemporaryDir& to)
{
    const QString copy = to.filePath(QStringLiteral("control_db.sqlite"));
    QFile::remove(copy);
    QFile::remove(copy + QStringLiteral("-journal"));
    QFile::remove(copy + QStringLiteral("-wal"));
    QFile::copy(db, copy);
    for (const QString& beside : { QStringLiteral("-journal"), QStringLiteral("-wal") })
        if (QFileInfo::exists(db + beside))
            QFile::copy(db + beside, copy + beside);
    return copy;
}

} // namespace

TEST(InterruptedUpgrade, LeavesTheOldFileOrTheUpgradedOneAndTheCopyAside)
{
    // A log of the delivered layout (version 0), with a few minutes of rows
    // for each of seven instruments.
    QTemporaryDir source;
    const QString original = source.filePath(QStringLiteral("control_db.sqlite"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(STATION_DB_TEMPLATE), original));
    QFile::setPermissions(original, QFile::ReadOwner | QFile::WriteOwner);
    sql(original,
        QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                       "INSERT INTO mea_tbl SELECT strftime('%Y-%m-%d %H:%M:%S.000', 1700000000 + i / 7, 'unixepoch'), "
                       "strftime('%Y-%m-%d %H:%M:%S.000', 1700000000 + i / 7, 'unixepoch'), (i % 7) || '#仪表', "
                       "i * 0.5, i * 0.25, i % 100, 0, i % 256 FROM n")
            .arg(kRows));
    const State old = state_of(original);
    ASSERT_EQ(old.version, 0);
    ASSERT_TRUE(old.log.startsWith(QString::number(kRows) + QLatin1Char(' '))) << old.log.toStdString();

    const QString copy_line = QStringLiteral("升级结构前已把数据库（结构版本 0）复制为");
    struct Moment {
        const char* name;
        // Returns true when the moment has come; waited for with a deadline.
        std::function<bool(StationProgram&, const QString& db)> reached;
    };
    const Moment moments[] = {
        // The copy is made, the upgrade's transaction about to begin.
        { "after the copy", [&](StationProgram& s, const QString&) { return s.stderr_text().contains(copy_line); } },
        // Deep in the transaction: its journal is there and the new index
        // and summary have grown the file by megabytes.
        { "in the transaction",
            [&](StationProgram&, const QString& db) {
                return QFileInfo::exists(db + QStringLiteral("-journal"))
                    && QFileInfo(db).size() > QFileInfo(original).size() + 4 * 1024 * 1024;
            } },
        // Committed: the station goes on to the window.
        { "after the commit",
            [](StationProgram& s, const QString&) { return s.stderr_text().contains(QStringLiteral("升级完成")); } },
    };
    bool killed_in_transaction = false; // with its journal there, and rolled back
    for (const Moment& m : moments) {
        SCOPED_TRACE(m.name);
        QTemporaryDir dir;
        ASSERT_TRUE(prepare_workdir(dir));
        const QString db = dir.filePath(QStringLiteral("control_db.sqlite"));
        bool journal = false;
        ASSERT_TRUE(QFile::remove(db));
        ASSERT_TRUE(QFile::copy(original, db));
        {
            StationProgram station(dir.path(), {});
            ASSERT_TRUE(station.started());
            QDeadlineTimer deadline(120000);
            while (!m.reached(station, db) && !deadline.hasExpired() && station.running())
                QThread::msleep(2);
            ASSERT_TRUE(m.reached(station, db)) << station.stderr_text().toStdString();
            journal = QFileInfo::exists(db + QStringLiteral("-journal"));
            station.kill_now();
        }
        // The copy aside: the old file, whole.
        const QString copy = db + QStringLiteral(".bak-v0");
        ASSERT_TRUE(QFileInfo::exists(copy));
        const State copied = state_of(copy);
        EXPECT_EQ(copied.version, 0);
        EXPECT_EQ(copied.integrity, QStringLiteral("ok"));
        EXPECT_EQ(copied.log, old.log);
        // The file itself: the old one or the upgraded one, never between.
        QTemporaryDir look;
        const State left = state_of(copy_as_left(db, look));
        EXPECT_EQ(left.integrity, QStringLiteral("ok"));
        EXPECT_EQ(left.log, old.log);
        if (left.version == 0) {
            EXPECT_EQ(left.upgrade_tables, 0);
        } else {
            EXPECT_EQ(left.version, latest_schema_version());
            EXPECT_EQ(left.upgrade_tables, 3);
            EXPECT_EQ(left.minute_rows, kRows);
        }
        killed_in_transaction = killed_in_transaction || (journal && left.version == 0);
        if (std::string(m.name) == "after the commit") {
            EXPECT_EQ(left.version, latest_schema_version());
        }

        // Started again on what was left, the station finishes the upgrade.
        StationProgram again(dir.path(), {});
        EXPECT_TRUE(again.wait_for_stderr({ QStringLiteral("启动，数据库") }, 120000)) << again.stderr_text().toStdString();
        EXPECT_EQ(again.stop(20000), 0);
        const State done = state_of(db);
        EXPECT_EQ(done.version, latest_schema_version());
        EXPECT_EQ(done.log, old.log);
        EXPECT_EQ(done.minute_rows, kRows);
        EXPECT_EQ(done.integrity, QStringLiteral("ok"));
    }
    EXPECT_TRUE(killed_in_transaction) << "no run was killed while its upgrade was under way";
}
