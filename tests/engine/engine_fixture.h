#pragma once
// An engine in a temporary data folder, which is also the working directory
// (as the station makes it: the serial layer looks for "comN" links there):
// a copy of the delivered database, a "com1" link to a device that does not
// exist (so no test opens a serial port of this machine unless it links one
// itself), no pause after a send, the event log in the folder. What the engine reports is collected: the
// frames it sends, the replies it shows, its messages, cell marks and run reports. Handlers are called
// directly instead of waiting for timers.
#include "engine.h"
#include "event_log.h"
#include "public_set.h"
#include "replies.h"
#include "row_queue.h"
#include "run_timers.h"
#include "scomm.h"
#include "station_db.h"
#include "ttimer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        old_cwd = QDir::currentPath();
        QDir::setCurrent(dir.path());
        public_set_reset();
        ASSERT_TRUE(QFile::copy(QString::fromUtf8(STATION_DB_TEMPLATE), path("control_db.sqlite")));
        QFile::setPermissions(path("control_db.sqlite"), QFile::ReadOwner | QFile::WriteOwner);
        ASSERT_TRUE(QFile::link(path("no-such-device"), path("com1")));
        event_log::set_echo(false);
        event_log::open(path("station.log").toStdString());
    }
    void TearDown() override
    {
        engine_.reset();
        event_log::close();
        event_log::set_echo(true);
        QDir::setCurrent(old_cwd);
    }

    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    // Removes the "com1" link, for a test that makes its own.
    void unlink_com1() { QFile::remove(path("com1")); }
    // Writes save.txt with the given lines, each ended by CR LF.
    void write_settings(const QStringList& lines)
    {
        QFile file(path("save.txt"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        for (const QString& line : lines)
            file.write((line + QStringLiteral("\r\n")).toUtf8());
    }
    QByteArray saved() const
    {
        QFile file(path("save.txt"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }

    // Makes and starts the engine (any engine of an earlier round goes
    // first, with its shared state); the reports of the start-up are
    // forgotten.
    Engine& start_engine(const std::function<void(Engine::Options&)>& configure = {})
    {
        if (engine_)
            stop_engine();
        Engine::Options options;
        options.data_dir = dir.path();
        options.send_pause_ms = 0;
        if (configure)
            configure(options);
        engine_ = std::make_unique<Engine>(options);
        Engine& e = *engine_;
        e.on_frame_sent = [this](const std::string& frame) { frames.push_back(frame); };
        QObject::connect(&e, &Engine::reply_shown, [this](const ReplyShown& r) { shown.push_back(r); });
        QObject::connect(&e, &Engine::message, [this](const EngineMessage& m) { messages.push_back(m); });
        QObject::connect(&e, &Engine::param_mark, [this](const CellMark& m) { marks.push_back(m); });
        QObject::connect(&e, &Engine::run_changed, [this](const RunShown& r) { run = r; });
        e.start();
        clear_reports();
        return e;
    }
    Engine& engine() { return *engine_; }
    // Closes and deletes the engine (it writes save.txt as it closes), with
    // the shared state it leaves, before a test prepares the next start.
    void stop_engine()
    {
        engine_.reset();
        public_set_reset();
    }
    void clear_reports()
    {
        frames.clear();
        shown.clear();
        messages.clear();
        marks.clear();
    }

    // Enables the addresses (as a scan would) and lays out their columns.
    void enable(const std::vector<int>& addresses)
    {
        for (int a : addresses)
            addr_enabled[a] = 1;
        engine_->param_table.layout(roster_addresses());
    }
    static std::vector<int> roster_addresses()
    {
        std::vector<int> list;
        for (int a = 0; a <= kMaxAddress; ++a)
            if (addr_enabled[a])
                list.push_back(a);
        return list;
    }

    // Opens a reply window by hand, for a test that does not send the request.
    void open_request(RequestKind kind, int address, int code, float value = 0)
    {
        LineRequest r;
        r.address = address;
        r.code = code;
        r.kind = kind;
        r.value = value;
        engine_->replies.request_sent(r, std::chrono::steady_clock::now());
    }
    // A 10-byte block arriving now, then every reply window decided at once.
    void inject(const ReplyBytes& reply)
    {
        engine_->SComm1_485ReceiveData(nullptr, as_block(reply), 10);
        engine_->settle_replies();
    }
    // A request of `kind` opened by hand and answered with `reply`.
    void answer(RequestKind kind, int address, int code, const ReplyBytes& reply, float value = 0)
    {
        open_request(kind, address, code, value);
        inject(reply);
    }

    // Messages as "source: text", in order; refusals marked.
    QStringList message_texts() const
    {
        QStringList out;
        for (const EngineMessage& m : messages)
            out << (m.refusal ? QStringLiteral("(拒绝) ") : QString()) + m.source + QStringLiteral(": ")
                    + m.text;
        return out;
    }
    std::string said() const { return message_texts().join(QLatin1Char('\n')).toStdString(); }
    // Whether a message contains `part`.
    bool message_has(const QString& part) const
    {
        for (const EngineMessage& m : messages)
            if (m.text.contains(part))
                return true;
        return false;
    }
    QString event_log_text() const
    {
        QFile file(path("station.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // Whether the event log holds `text` (which it writes on one line).
    bool in_event_log(QString text) const
    {
        return event_log_text().contains(text.replace(QLatin1Char('\n'), QStringLiteral(" / ")));
    }

    // The first column of every row `sql` gives, read on a connection of our own.
    QVariantList db_values(const QString& sql) const
    {
        QVariantList out;
        const QString name = QStringLiteral("engine_test_reader");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path("control_db.sqlite"));
            EXPECT_TRUE(db.open());
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
            while (q.next())
                out << q.value(0);
        }
        QSqlDatabase::removeDatabase(name);
        return out;
    }
    QVariant db_value(const QString& sql) const
    {
        const QVariantList all = db_values(sql);
        return all.isEmpty() ? QVariant() : all.front();
    }
    qint64 mea_rows() const { return db_value(QStringLiteral("SELECT COUNT(*) FROM mea_tbl")).toLongLong(); }

    QTemporaryDir dir;
    QString old_cwd;
    std::vector<std::string> frames;
    std::vector<ReplyShown> shown;
    std::vector<EngineMessage> messages;
    std::vector<CellMark> marks;
    RunShown run;

private:
    std::unique_ptr<Engine> engine_;
};

// Another program holding the database for writing: a second connection
// with an exclusive transaction open, on the thread that makes it.
struct DbHolder {
    explicit DbHolder(const QString& file, const QString& connection = QStringLiteral("holder"))
        : name(connection)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        ok = db.open() && QSqlQuery(db).exec(QStringLiteral("BEGIN EXCLUSIVE"));
    }
    void release()
    {
        if (!QSqlDatabase::contains(name))
            return;
        {
            QSqlDatabase db = QSqlDatabase::database(name);
            QSqlQuery(db).exec(QStringLiteral("COMMIT"));
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    ~DbHolder() { release(); }
    DbHolder(const DbHolder&) = delete;
    DbHolder& operator=(const DbHolder&) = delete;
    QString name;
    bool ok = false;
};
