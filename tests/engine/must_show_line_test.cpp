// The engine on its own thread against the simulated bus on a
// pseudo-terminal, in real time: messages that arise inside reply handling
// (a storage failure, a read-back mismatch) hold nothing up, even while the
// window that receives them does not answer at all.
#include "aisim.h"
#include "engine_host.h"
#include "event_log.h"
#include "event_loop.h"
#include "param_set.h"
#include "row_queue.h"
#include "station_db.h"
#include "station_settings.h"
#include "ttimer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// One answer the simulator gave, and when (wall clock, as the log writes it).
struct Answer {
    aisim::ReplyRecord reply;
    qint64 at_ms = 0;
};

struct Row {
    int address = 0;
    double sv = 0, pv = 0, mv = 0;
    int alm = 0;
    qint64 at_ms = 0;
};

qint64 now_ms()
{
    return db_clock_ms(QDateTime::currentDateTime());
}

// Another program holding the database for writing, on the test's thread.
struct Holder {
    explicit Holder(const QString& file)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        db.setDatabaseName(file);
        ok = db.open() && QSqlQuery(db).exec(QStringLiteral("BEGIN EXCLUSIVE"));
    }
    void release()
    {
        if (!QSqlDatabase::contains(QStringLiteral("holder")))
            return;
        {
            QSqlDatabase db = QSqlDatabase::database(QStringLiteral("holder"));
            QSqlQuery(db).exec(QStringLiteral("COMMIT"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    }
    ~Holder() { release(); }
    bool ok = false;
};

class EngineOnTheLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        old_cwd = QDir::currentPath();
        QDir::setCurrent(dir.path());
        ASSERT_TRUE(QFile::copy(QString::fromUtf8(STATION_DB_TEMPLATE), db_file()));
        QFile::setPermissions(db_file(), QFile::ReadOwner | QFile::WriteOwner);
        event_log::set_echo(false);
        event_log::open(file("station.log").toStdString());
    }
    void TearDown() override
    {
        host.reset();
        if (bus)
            bus->stop();
        event_log::close();
        event_log::set_echo(true);
        QDir::setCurrent(old_cwd);
    }
    QString file(const char* name) const { return QDir(dir.path()).filePath(QString::fromUtf8(name)); }
    QString db_file() const { return file("control_db.sqlite"); }

    // The simulator with `addresses` on a pseudo-terminal linked as com1, and
    // a station that remembers them, polls every second at 9600 baud.
    void start(const std::vector<int>& addresses, const std::function<void(aisim::BusOptions&)>& configure)
    {
        aisim::BusOptions options;
        options.addresses = addresses;
        options.speed = 0;
        options.reply_delay_ms = 20;
        options.on_reply = [this](const aisim::ReplyRecord& r) {
            std::lock_guard<std::mutex> lock(mu);
            answers.push_back({ r, now_ms() });
        };
        if (configure)
            configure(options);
        bus = std::make_unique<aisim::Bus>(options);
        bus->start_pty(file("com1").toStdString());
        {
            QFile save(file("save.txt"));
            ASSERT_TRUE(save.open(QIODevice::WriteOnly));
            save.write("0\r\n1\r\n1\r\n"); // COM1, 9600, one second
        }
        StationSettings settings(dir.path());
        settings.set_addresses(addresses);
        for (int a : addresses) {
            bus->set_decimal_places(a, 1);
            settings.set_decimal_places(a, 1);
        }
        Engine::Options o;
        o.data_dir = dir.path();
        host = std::make_unique<EngineHost>(o);
        Engine* e = host->engine();
        QObject::connect(e, &Engine::message, &receiver, [this](const EngineMessage& m) {
            messages.push_back(m);
            if (on_message)
                on_message(m);
        });
        QObject::connect(e, &Engine::measurement_appended, &receiver, [this] { ++rows_appended; });
        host->start();
    }

    bool said(const QString& part) const
    {
        for (const EngineMessage& m : messages)
            if (m.text.contains(part))
                return true;
        return false;
    }
    std::string all_said() const
    {
        std::string out;
        for (const EngineMessage& m : messages)
            out += (m.source + QStringLiteral(": ") + m.text + QLatin1Char('\n')).toStdString();
        return out;
    }
    std::vector<Row> logged_rows() const
    {
        std::vector<Row> rows;
        const QString name = QStringLiteral("line_test_reader");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(db_file());
            EXPECT_TRUE(db.open());
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(
                QStringLiteral("SELECT address, sv, pv, mv, alm, \"time\" FROM mea_tbl ORDER BY rowid")));
            while (q.next()) {
                const QString a = q.value(0).toString();
                rows.push_back({ a.left(a.indexOf(QLatin1Char('#'))).toInt(), q.value(1).toDouble(),
                    q.value(2).toDouble(), q.value(3).toDouble(), q.value(4).toInt(),
                    db_clock_ms(q.value(5).toString()).value_or(-1) });
            }
        }
        QSqlDatabase::removeDatabase(name);
        return rows;
    }
    size_t answer_count()
    {
        std::lock_guard<std::mutex> lock(mu);
        return answers.size();
    }
    QString event_log_text() const
    {
        QFile f(file("station.log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    QTemporaryDir dir;
    QString old_cwd;
    std::unique_ptr<aisim::Bus> bus;
    std::unique_ptr<EngineHost> host;
    QObject receiver; // lives on the test's thread: the engine's reports queue to it
    std::vector<EngineMessage> messages;
    std::function<void(const EngineMessage&)> on_message;
    int rows_appended = 0;
    std::mutex mu;
    std::vector<Answer> answers; // every answer the simulator gave, in order
};

} // namespace

// Polling three instruments at one second, the database is held by another
// program and a set value the instrument does not take is asked for. The
// storage failure and the read-back mismatch arise inside reply handling;
// the window, on getting the mismatch, asks for STOP and then does not
// answer for three seconds (as a window stuck in a modal box would). Every
// answered poll is logged at the time it arrived, the STOP goes out while
// the window is stuck, and both messages reach the window and the event log.
TEST_F(EngineOnTheLine, MessagesInsideReplyHandlingHoldNothingUp)
{
    const std::vector<int> addresses = { 1, 2, 3 };
    start(addresses, [](aisim::BusOptions& o) { o.ignored_writes = { { 1, 51 } }; });
    ASSERT_FALSE(HasFatalFailure());
    for (int a : addresses)
        bus->set_param(a, 51, 50.0 * a);
    // Address 1 runs no program, so a set value may be written to it.
    host->call([](Engine& e) {
        ParamSet set;
        set.values = { { 40, 0.0f } };
        e.put_set(1, set);
    });
    ASSERT_TRUE(wait_for([&] { return rows_appended >= 3; }, 10000)) << all_said();

    Holder holder(db_file());
    ASSERT_TRUE(holder.ok);
    qint64 stuck_from = 0, stuck_until = 0;
    on_message = [&](const EngineMessage& m) {
        if (stuck_from || !m.text.contains(QStringLiteral("核对不符")))
            return;
        stuck_from = now_ms();
        host->post([](Engine& e) { e.stop_instrument(3); }, "控制");
        // The window does nothing at all for three seconds: no event of its
        // thread is handled meanwhile.
        std::this_thread::sleep_for(3s);
        stuck_until = now_ms();
    };
    host->post([](Engine& e) { e.set_value(1, 150.0); }, "控制");
    ASSERT_TRUE(wait_for([&] { return stuck_until != 0; }, 15000)) << all_said();
    holder.release();
    ASSERT_TRUE(wait_for([&] { return said(QStringLiteral("数据库已恢复")); }, 10000)) << all_said();
    const size_t answered_then = answer_count();
    ASSERT_TRUE(wait_for([&] { return answer_count() >= answered_then + 3; }, 10000));

    // Polling stops; the last windows are decided; the engine closes.
    host->call([](Engine& e) { e.Timer1->setEnabled(false); });
    ASSERT_TRUE(wait_for(
        [&] {
            bool pending = true;
            host->call([&](Engine& e) { pending = e.replies.pending(); });
            return !pending;
        },
        5000));
    host->shutdown();

    std::vector<Answer> polls, stops;
    {
        std::lock_guard<std::mutex> lock(mu);
        for (const Answer& a : answers) {
            if (a.reply.code == 0)
                polls.push_back(a);
            if (a.reply.code == 10 && a.reply.address == 3)
                stops.push_back(a);
        }
    }
    // The STOP asked for meanwhile went out while the window was stuck.
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_GE(stops[0].at_ms, stuck_from);
    EXPECT_LT(stops[0].at_ms, stuck_until);
    EXPECT_EQ(bus->state(3).run_state, 1);
    // Polling went on meanwhile.
    int polled_when_stuck = 0;
    for (const Answer& a : polls)
        polled_when_stuck += a.at_ms > stuck_from && a.at_ms < stuck_until ? 1 : 0;
    EXPECT_GE(polled_when_stuck, 2);

    // Every answered poll is logged, in order, with the time it arrived.
    const std::vector<Row> rows = logged_rows();
    std::map<int, std::vector<Answer>> answered;
    std::map<int, std::vector<Row>> logged;
    for (const Answer& a : polls)
        answered[a.reply.address].push_back(a);
    for (const Row& r : rows)
        logged[r.address].push_back(r);
    ASSERT_EQ(rows.size(), polls.size());
    for (int address : addresses) {
        SCOPED_TRACE(address);
        ASSERT_EQ(logged[address].size(), answered[address].size());
        for (size_t k = 0; k < logged[address].size(); ++k) {
            const Row& row = logged[address][k];
            const aisim::ReplyRecord& r = answered[address][k].reply;
            const double scale = std::pow(10.0, r.decimal_places);
            EXPECT_NEAR(row.sv, static_cast<double>(r.sv) / scale, 0.5 / scale) << k;
            EXPECT_NEAR(row.pv, static_cast<double>(r.pv) / scale, 1.0 / scale) << k;
            EXPECT_EQ(row.alm, r.status) << k;
            // The reply arrives about 20 ms after the simulator took the
            // request; rows written after the lock keep that time.
            EXPECT_NEAR(
                static_cast<double>(row.at_ms), static_cast<double>(answered[address][k].at_ms), 150.0)
                << k;
        }
    }

    // Both messages reached the window and the event log.
    EXPECT_TRUE(said(QStringLiteral("数据库暂不可用"))) << all_said();
    EXPECT_TRUE(said(QStringLiteral("给定值：仪表 1 核对不符，SP1 写 150.0 读回 50.0"))) << all_said();
    const QString log = event_log_text();
    EXPECT_TRUE(log.contains(QStringLiteral("数据库暂不可用"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("给定值：仪表 1 核对不符，SP1 写 150.0 读回 50.0")))
        << log.toStdString();
}
