// The station program given a database it must refuse: the file keeps every
// byte (no WAL switch, no -wal or -shm, no upgrade, no copy), the refusal
// names the file and the reason on standard error, in station.log and in the
// error box (the program waits in it until it is asked to stop), and the
// settings files are as they were after the program has ended.
#include "schema.h"
#include "station_program.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs statements on the file with a connection of the test's own.
void sql(const QString& path, const QStringList& statements)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("spoil"));
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        for (const QString& s : statements)
            ASSERT_TRUE(q.exec(s)) << s.toStdString() << ": " << q.lastError().text().toStdString();
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("spoil"));
}

// A log of `rows` rows, so that the table spans many pages.
QString rows_sql(int rows)
{
    return QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                          "INSERT INTO mea_tbl SELECT '2024-03-01 10:00:00.000', '2024-03-01 10:00:00.000', "
                          "(i % 7) || '#仪表', i * 0.5, i * 0.25, i % 100, 0, i % 256 FROM n")
        .arg(rows);
}

// Overwrites the next-to-last page of the file (a page of the log's rows,
// which were added last) with garbage.
void spoil_a_page(const QString& path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const qint64 page = 4096;
    ASSERT_EQ(f.size() % page, 0);
    ASSERT_GT(f.size() / page, 10);
    ASSERT_TRUE(f.seek(f.size() - 2 * page));
    f.write(QByteArray(page, '\x5A'));
}

} // namespace

TEST(DamagedDatabase, IsRefusedUntouchedWithItsReasonEverywhereAndNothingIsSaved)
{
    struct Case {
        const char* name;
        std::function<void(const QString& db)> spoil;
        QStringList reason; // what the message says besides the file and folder
        bool read_only = false;
        bool locked = false;
    };
    const QString latest = QString::number(latest_schema_version());
    const Case cases[] = {
        { "ai_para missing", [](const QString& p) { sql(p, { QStringLiteral("DROP TABLE ai_para") }); },
            { QStringLiteral("缺少表 ai_para") } },
        { "columns missing",
            [](const QString& p) {
                sql(p, { QStringLiteral("ALTER TABLE mea_tbl DROP COLUMN sv"),
                           QStringLiteral("ALTER TABLE mea_tbl DROP COLUMN alm") });
            },
            { QStringLiteral("表 mea_tbl 缺少字段 sv、alm") } },
        { "no \"time\" column",
            [](const QString& p) { sql(p, { QStringLiteral("ALTER TABLE mea_tbl RENAME COLUMN \"time\" TO zeit") }); },
            { QStringLiteral("表 mea_tbl 缺少字段 time") } },
        { "mea_tbl a view",
            [](const QString& p) {
                sql(p, { QStringLiteral("DROP TABLE mea_tbl"),
                           QStringLiteral("CREATE VIEW mea_tbl AS SELECT MyDTL AS \"date\", MyDTL AS \"time\", "
                                          "id AS address, no0 AS sv, no1 AS pv, no2 AS mv, no3 AS val, id AS alm "
                                          "FROM ai_para") });
            },
            { QStringLiteral("mea_tbl 是视图而不是表") } },
        { "a foreign SQLite file",
            [](const QString& p) {
                QFile::remove(p);
                sql(p, { QStringLiteral("CREATE TABLE notes (id INTEGER PRIMARY KEY, text TEXT)"),
                           QStringLiteral("INSERT INTO notes (text) VALUES ('not a station')") });
            },
            { QStringLiteral("不是本站的数据库") } },
        { "0 bytes", [](const QString& p) { write_file(p, {}); }, { QStringLiteral("文件是空的（0 字节）") } },
        { "a corrupt page",
            [](const QString& p) {
                sql(p, { rows_sql(20000) });
                spoil_a_page(p);
            },
            { QStringLiteral("文件已损坏") } },
        { "a newer layout",
            [&](const QString& p) {
                // As a newer station leaves it: in WAL mode, closed cleanly.
                sql(p, { QStringLiteral("PRAGMA user_version = %1").arg(latest_schema_version() + 1),
                           QStringLiteral("PRAGMA journal_mode = WAL") });
            },
            { QStringLiteral("结构版本为 %1").arg(latest_schema_version() + 1),
                QStringLiteral("只认识到版本 %1").arg(latest) } },
        { "read-only",
            [](const QString& p) { QFile::setPermissions(p, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther); },
            { QStringLiteral("只读") }, true },
        { "locked by another program", [](const QString&) {}, { QStringLiteral("被其他程序锁定") }, false, true },
    };
    const QByteArray save_txt("16\r\n1\r\n5\r\n");
    const QByteArray station_ini("[port]\ndevice=/dev/serial/by-id/usb-plant-line1\n\n[resume]\naddresses=1, 2\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ASSERT_TRUE(prepare_workdir(dir));
        const QString db = dir.filePath(QStringLiteral("control_db.sqlite"));
        c.spoil(db);
        ASSERT_FALSE(QFileInfo::exists(db + QStringLiteral("-wal")));
        write_file(dir.filePath(QStringLiteral("save.txt")), save_txt);
        write_file(dir.filePath(QStringLiteral("station.ini")), station_ini);
        const QByteArray before = file_bytes(db);

        // Another program holding the file for itself while the station starts.
        QSqlDatabase holder;
        if (c.locked) {
            holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
            holder.setDatabaseName(db);
            ASSERT_TRUE(holder.open());
            ASSERT_TRUE(QSqlQuery(holder).exec(QStringLiteral("BEGIN EXCLUSIVE")));
        }
        const bool as_nobody = c.read_only && ::geteuid() == 0; // root writes through permissions
        StationProgram station(dir.path(), {}, as_nobody);
        ASSERT_TRUE(station.started());
        QStringList said { QStringLiteral("无法打开数据库 control_db.sqlite（目录 %1）").arg(QDir::toNativeSeparators(dir.path())) };
        said << c.reason;
        const bool refused = station.wait_for_stderr(said, 30000);
        EXPECT_TRUE(refused) << station.stderr_text().toStdString();
        // The box: the program waits in it for the operator.
        EXPECT_TRUE(station.running());
        const QString log = QString::fromUtf8(file_bytes(dir.filePath(QStringLiteral("station.log"))));
        for (const QString& text : said)
            EXPECT_TRUE(log.contains(text)) << log.toStdString() << " lacks " << text.toStdString();
        EXPECT_FALSE(log.contains(QStringLiteral("启动，数据库"))) << "the station started";
        EXPECT_EQ(station.stop(20000), 1); // answered by the stop request: not started
        if (c.locked) {
            QSqlQuery(holder).exec(QStringLiteral("ROLLBACK"));
            holder.close();
            holder = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("holder"));
        }

        EXPECT_TRUE(file_bytes(db) == before) << "the refused file was changed";
        const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot);
        EXPECT_EQ(left, (QStringList { QStringLiteral("control_db.sqlite"), QStringLiteral("save.txt"),
                              QStringLiteral("station.ini"), QStringLiteral("station.log") }))
            << "files made beside the refused one";
        EXPECT_EQ(file_bytes(dir.filePath(QStringLiteral("save.txt"))), save_txt);
        EXPECT_EQ(file_bytes(dir.filePath(QStringLiteral("station.ini"))), station_ini);
    }
}
