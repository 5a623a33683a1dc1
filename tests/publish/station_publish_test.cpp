// The whole station publishing to a real Mosquitto broker while it polls the
// simulated bus on a pseudo-terminal: the log and the broker agree row for
// row, a broker away for 30 s costs nothing, wrong credentials are said once,
// and the retained status ends "offline" however the station ends.
#include "event_loop.h"
#include "form_fixture.h"
#include "mqtt_broker.h"
#include "publisher.h"

#include "aisim.h"
#include "row_queue.h"
#include "ttimer.h"
#include "station_db.h"
#include "station_settings.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <iostream>

namespace {

// One measurement, as logged or as published.
struct Row {
    QDateTime when; // UTC
    int address = 0;
    double sv = 0, pv = 0, mv = 0, val = 0;
    int status = 0;
    bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Row& r)
{
    return os << r.when.toString(Qt::ISODateWithMs).toStdString() << " #" << r.address << " sv " << r.sv << " pv "
              << r.pv << " mv " << r.mv << " val " << r.val << " status " << r.status;
}

// One alarm transition, as logged or as published.
struct Transition {
    QDateTime when;
    int address = 0;
    QString alarm;
    bool raised = false;
    bool operator==(const Transition&) const = default;
};

QJsonObject json(const QByteArray& payload) { return QJsonDocument::fromJson(payload).object(); }

QDateTime utc(const QString& iso) { return QDateTime::fromString(iso, Qt::ISODateWithMs).toUTC(); }

// Writes save.txt (COM1, 9600 baud, `period` s) and station.ini (the
// addresses to resume polling, the MQTT settings) into `dir`.
void prepare_folder(const QString& dir, const std::vector<int>& addresses, const MqttConfig& mqtt, int period = 1)
{
    QFile save(QDir(dir).filePath(QStringLiteral("save.txt")));
    if (save.open(QIODevice::WriteOnly))
        save.write(QStringLiteral("0\r\n1\r\n%1\r\n").arg(period).toUtf8());
    StationSettings settings(dir);
    settings.set_addresses(addresses);
    settings.set_mqtt(mqtt);
}

std::unique_ptr<aisim::Bus> start_bus(const QString& dir, const std::vector<int>& addresses)
{
    aisim::BusOptions o;
    o.addresses = addresses;
    o.speed = 10;
    o.reply_delay_ms = 20;
    auto bus = std::make_unique<aisim::Bus>(o);
    bus->start_pty(QDir(dir).filePath(QStringLiteral("com1")).toStdString());
    return bus;
}

class StationPublish : public FormFixture {
protected:
    MqttConfig mqtt(const MqttBroker& broker) const
    {
        MqttConfig c;
        c.enabled = true;
        c.host = QStringLiteral("127.0.0.1");
        c.port = broker.port();
        c.prefix = QStringLiteral("plant");
        c.station = QStringLiteral("line1");
        return c;
    }
    // The station polling addresses 1, 2 and 5 once a second, publishing with `config`.
    void start(const MqttConfig& config)
    {
        unlink_com1();
        prepare_folder(dir.path(), { 1, 2, 5 }, config);
        bus = start_bus(dir.path(), { 1, 2, 5 });
        form = &make_form(true); // the engine on its own thread, as in the station
        ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    }
    void TearDown() override
    {
        FormFixture::TearDown();
        if (bus)
            bus->stop();
    }

    std::vector<Row> logged()
    {
        std::vector<Row> out;
        QSqlQuery q(form->database().connection());
        EXPECT_TRUE(q.exec(QStringLiteral("SELECT \"date\", address, sv, pv, mv, val, alm FROM mea_tbl ORDER BY rowid")));
        while (q.next()) {
            const QString a = q.value(1).toString();
            out.push_back({ db_timestamp_from_text(q.value(0).toString()).toUTC(),
                a.left(a.indexOf(QLatin1Char('#'))).toInt(), q.value(2).toDouble(), q.value(3).toDouble(),
                q.value(4).toDouble(), q.value(5).toDouble(), q.value(6).toInt() });
        }
        return out;
    }
    qint64 logged_count()
    {
        QSqlQuery q(form->database().connection());
        return q.exec(QStringLiteral("SELECT COUNT(*) FROM mea_tbl")) && q.next() ? q.value(0).toLongLong() : -1;
    }
    // The measurements received, in the order they came; each one's topic
    // names the station and the address its payload carries.
    static std::vector<Row> received(MqttSubscriber& sub)
    {
        std::vector<Row> out;
        for (const auto& m : sub.messages()) {
            if (!QByteArray::fromStdString(m.topic).endsWith("/measurement"))
                continue;
            const QJsonObject o = json(m.payload);
            const Row r { utc(o.value(QStringLiteral("time")).toString()), o.value(QStringLiteral("address")).toInt(),
                o.value(QStringLiteral("sv")).toDouble(), o.value(QStringLiteral("pv")).toDouble(),
                o.value(QStringLiteral("mv")).toDouble(), o.value(QStringLiteral("val")).toDouble(),
                o.value(QStringLiteral("status")).toInt() };
            EXPECT_EQ(m.topic, "plant/line1/" + std::to_string(r.address) + "/measurement");
            out.push_back(r);
        }
        return out;
    }
    static std::size_t measurements(MqttSubscriber& sub) { return received(sub).size(); }
    // Stops polling and waits until every reply is decided and written.
    void stop_polling()
    {
        host().call([](Engine& e) { e.Timer1->setEnabled(false); });
        ASSERT_TRUE(wait_for([&] { return !engine_says([](Engine& e) { return e.replies.pending() || e.rows()->outage(); }); },
            15000));
    }
    // A question to the engine, asked on its own thread.
    bool engine_says(const std::function<bool(Engine&)>& question)
    {
        bool answer = false;
        host().call([&](Engine& e) { answer = question(e); });
        return answer;
    }
    int log_lines_with(const QString& text) const
    {
        QFile f(dir.filePath(QStringLiteral("station.log")));
        if (!f.open(QIODevice::ReadOnly))
            return -1;
        return static_cast<int>(QString::fromUtf8(f.readAll()).split(QLatin1Char('\n')).filter(text).size());
    }
    // The log agrees with the broker: every row once, in order, same values.
    void expect_every_row_published_once(MqttSubscriber& sub)
    {
        const std::vector<Row> rows = logged();
        ASSERT_TRUE(wait_for([&] { return measurements(sub) >= rows.size(); }, 15000))
            << measurements(sub) << " of " << rows.size();
        pump(300); // a duplicate would show now
        const std::vector<Row> got = received(sub);
        ASSERT_EQ(got.size(), rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i)
            ASSERT_EQ(got[i], rows[i]) << "row " << i;
    }

    std::unique_ptr<aisim::Bus> bus;
    TForm1* form = nullptr;
};

} // namespace

// Rows that waited for the database (held by another writer for a while)
// are published once like the others, and every alarm that came or went is
// published as logged.
TEST_F(StationPublish, EveryLoggedRowAndAlarmIsPublishedOnceWithItsValues)
{
    MqttBroker broker;
    ASSERT_TRUE(broker.start());
    MqttSubscriber sub(broker.port(), "plant/#");
    ASSERT_TRUE(sub.wait_subscribed(5000));
    start(mqtt(broker));
    bus->set_param(2, 3, -50); // HIAL below the process value: raised
    ASSERT_TRUE(wait_for([&] { return logged_count() >= 6; }, 20000));
    EXPECT_TRUE(form->status_mqtt->text().startsWith(QStringLiteral("MQTT 已连接")))
        << form->status_mqtt->text().toStdString();

    // Another writer holds the database for 4 s.
    const QString holder = QStringLiteral("publish_holder");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), holder);
        db.setDatabaseName(dir.filePath(QStringLiteral("control_db.sqlite")));
        ASSERT_TRUE(db.open());
        ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("BEGIN EXCLUSIVE")));
        ASSERT_TRUE(wait_for([&] { return engine_says([](Engine& e) { return e.rows()->waiting() >= 2; }); }, 10000));
        pump(2000);
        QSqlQuery(db).exec(QStringLiteral("COMMIT"));
        db.close();
    }
    QSqlDatabase::removeDatabase(holder);
    ASSERT_TRUE(wait_for([&] { return !engine_says([](Engine& e) { return e.rows()->outage(); }); }, 10000));
    bus->set_param(2, 3, 3000); // HIAL back above: cleared
    const qint64 before = logged_count();
    ASSERT_TRUE(wait_for([&] { return logged_count() >= before + 6; }, 20000));
    stop_polling();
    expect_every_row_published_once(sub);

    std::vector<Transition> logged_alarms;
    QSqlQuery q(form->database().connection());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT \"time\", address, alarm, raised FROM alarm_log ORDER BY id")));
    while (q.next())
        logged_alarms.push_back({ db_timestamp_from_text(q.value(0).toString()).toUTC(), q.value(1).toInt(),
            q.value(2).toString(), q.value(3).toBool() });
    std::vector<Transition> published;
    for (const auto& m : sub.messages()) {
        if (!QByteArray::fromStdString(m.topic).endsWith("/alarm"))
            continue;
        const QJsonObject o = json(m.payload);
        published.push_back({ utc(o.value(QStringLiteral("time")).toString()), o.value(QStringLiteral("address")).toInt(),
            o.value(QStringLiteral("alarm")).toString(), o.value(QStringLiteral("raised")).toBool() });
    }
    EXPECT_EQ(published, logged_alarms);
    for (bool raised : { true, false })
        EXPECT_TRUE(std::any_of(published.begin(), published.end(), [&](const Transition& t) {
            return t.address == 2 && t.alarm == QStringLiteral("HIAL") && t.raised == raised;
        })) << "HIAL " << (raised ? "raised" : "cleared") << " not published";
}

// The broker is stopped for 30 s and started again: polling goes on at its
// pace meanwhile, and every row of that time arrives afterwards, in order.
TEST_F(StationPublish, ABrokerAwayFor30SecondsLosesNothingAndPollingGoesOn)
{
    MqttBroker::Options persistent;
    persistent.persistence = true; // the test's subscription outlives the restart
    MqttBroker broker(persistent);
    ASSERT_TRUE(broker.start());
    MqttSubscriber sub(broker.port(), "plant/#", "outage-watcher");
    ASSERT_TRUE(sub.wait_subscribed(5000));
    start(mqtt(broker));
    ASSERT_TRUE(wait_for([&] { return measurements(sub) >= 3; }, 20000));
    // The broker goes between two rows, with nothing unacknowledged either
    // way: at QoS 1 a message in flight at that moment may rightly arrive
    // twice, and that is not what this test is about.
    const std::size_t seen = measurements(sub);
    ASSERT_TRUE(wait_for([&] { return measurements(sub) > seen; }, 5000));
    ASSERT_TRUE(sub.sync(5000));
    ASSERT_TRUE(wait_for([&] { return engine_says([](Engine& e) { return e.mqtt_waiting() == 0; }); }, 5000));

    broker.stop();
    const QDateTime stopped = QDateTime::currentDateTimeUtc();
    pump(30000);
    const QString shown = form->status_mqtt->text();
    EXPECT_TRUE(shown.contains(QStringLiteral("重连中")) && shown.contains(QStringLiteral("条等待")))
        << shown.toStdString();
    ASSERT_TRUE(broker.start());
    const QDateTime restarted = QDateTime::currentDateTimeUtc();
    const qint64 at_restart = logged_count();
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(wait_for([&] { return static_cast<qint64>(measurements(sub)) >= at_restart; }, 20000));
    std::cout << "[ publish ] the outage's rows arrived " << clock.elapsed() << " ms after the broker came back\n";
    stop_polling();
    expect_every_row_published_once(sub);

    // Polling went on: a sweep of three instruments and its closing tick
    // log three rows every four seconds, never more than 2 s apart.
    std::vector<QDateTime> during;
    for (const Row& r : logged())
        if (r.when >= stopped && r.when <= restarted)
            during.push_back(r.when);
    EXPECT_GE(during.size(), 20u);
    for (std::size_t i = 1; i < during.size(); ++i)
        EXPECT_LE(during[i - 1].msecsTo(during[i]), 3000) << "polling paused before row " << i;
    EXPECT_EQ(log_lines_with(QStringLiteral("连接断开")), 1);
}

// Wrong credentials: one clear line in the event log however often the
// station tries, the reason in the status bar, and polling goes on.
TEST_F(StationPublish, WrongCredentialsAreSaidOnceAndPollingGoesOn)
{
    MqttBroker::Options secured;
    secured.user = QStringLiteral("station");
    secured.password = QStringLiteral("right");
    MqttBroker broker(secured);
    ASSERT_TRUE(broker.start());
    MqttConfig c = mqtt(broker);
    c.user = QStringLiteral("station");
    c.password = QStringLiteral("wrong");
    c.allow_plain_password = true; // this broker has no TLS
    start(c);
    ASSERT_TRUE(wait_for([&] { return log_lines_with(QStringLiteral("拒绝连接")) == 1; }, 10000));
    const qint64 before = logged_count();
    pump(8000); // tries after 1, 2 and 4 s
    EXPECT_GE(broker.log().count(QStringLiteral("not authorised")), 3);
    EXPECT_EQ(log_lines_with(QStringLiteral("拒绝连接")), 1);
    EXPECT_GE(logged_count() - before, 5) << "polling stopped";
    EXPECT_TRUE(form->status_mqtt->text().contains(QStringLiteral("用户名或密码"))) << form->status_mqtt->text().toStdString();
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

// The station as a program of its own, started with --mqtt (station.ini has
// publishing off: the command line wins for the run). Killed, the broker
// publishes its last will; closed by SIGTERM, it says "offline" itself.
// Either way the retained status ends "offline".
TEST(StationProgram, RetainedStatusIsOnlineWhileRunningAndOfflineAfterItEnds)
{
    MqttBroker broker;
    ASSERT_TRUE(broker.start());
    for (const bool kill : { true, false }) {
        SCOPED_TRACE(kill ? "SIGKILL" : "SIGTERM");
        QTemporaryDir dir;
        ASSERT_TRUE(QFile::copy(QStringLiteral(STATION_DB_TEMPLATE), dir.filePath(QStringLiteral("control_db.sqlite"))));
        MqttConfig file_config;
        file_config.station = QStringLiteral("child");
        prepare_folder(dir.path(), { 1 }, file_config);
        auto bus = start_bus(dir.path(), { 1 });
        MqttSubscriber sub(broker.port(), "plant/#");
        ASSERT_TRUE(sub.wait_subscribed(5000));

        // Started by fork and exec (mqtt_broker.h), not QProcess, so that a
        // ThreadSanitizer build of this test can watch it.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        const pid_t station = spawn(QStringLiteral(AI_STATION_BIN),
            { QStringLiteral("--workdir"), dir.path(), QStringLiteral("--mqtt"),
                QStringLiteral("mqtt://127.0.0.1:%1/plant").arg(broker.port()) });
        ASSERT_GT(station, 0);
        bool ended = false;
        const auto end_station = qScopeGuard([&] { // whatever fails below, it does not outlive the test
            if (!ended) {
                ::kill(station, SIGKILL);
                reap(station, 5000);
            }
        });
        const auto status_is = [&](const char* text) {
            return [text](const std::vector<MqttSubscriber::Message>& m) {
                return std::any_of(m.begin(), m.end(), [&](const auto& x) {
                    return x.topic == "plant/child/status" && x.payload == text;
                });
            };
        };
        ASSERT_TRUE(sub.wait(status_is("online"), 20000));
        ASSERT_TRUE(sub.wait([](const auto& m) {
            return std::any_of(m.begin(), m.end(), [](const auto& x) { return x.topic == "plant/child/1/measurement"; });
        }, 20000)) << "nothing measured";
        {
            MqttSubscriber late(broker.port(), "plant/child/status");
            ASSERT_TRUE(late.wait([](const auto& m) { return !m.empty(); }, 5000));
            EXPECT_EQ(late.messages().front().payload, QByteArray("online"));
            EXPECT_TRUE(late.messages().front().retained);
        }
        ::kill(station, kill ? SIGKILL : SIGTERM);
        ended = reap(station, 15000);
        ASSERT_TRUE(ended);
        EXPECT_TRUE(sub.wait(status_is("offline"), 10000));
        MqttSubscriber late(broker.port(), "plant/child/status");
        ASSERT_TRUE(late.wait([](const auto& m) { return !m.empty(); }, 5000));
        EXPECT_EQ(late.messages().front().payload, QByteArray("offline"));
        EXPECT_TRUE(late.messages().front().retained);
        bus->stop();
    }
}

// An alarm's messages carry its state, in the order it went through them:
// raised, acknowledged, shelved, unshelved, cleared; raised again and
// cleared unacknowledged. Each action of the operator's is published as it
// is logged, with the same state.
TEST_F(StationPublish, AlarmMessagesCarryEachStateInOrder)
{
    MqttBroker broker;
    ASSERT_TRUE(broker.start());
    MqttSubscriber sub(broker.port(), "plant/#");
    ASSERT_TRUE(sub.wait_subscribed(5000));
    start(mqtt(broker));
    const auto listed_as = [&](const QString& state) {
        return wait_for([&] {
            return engine_says([&](Engine& e) {
                const AlarmLine* l = e.alarm_board.find(2, QStringLiteral("HIAL"));
                return l ? alarm_state_key(l->state()) == state : state == QStringLiteral("cleared");
            });
        }, 20000);
    };
    bus->set_param(2, 3, -50); // HIAL below the process value: raised
    ASSERT_TRUE(listed_as(QStringLiteral("active_unacked")));
    host().call([](Engine& e) { e.acknowledge_alarm(2, QStringLiteral("HIAL"), QStringLiteral("zhang")); });
    host().call([](Engine& e) { e.shelve_alarm(2, QStringLiteral("HIAL"), 1, QStringLiteral("调试"), QStringLiteral("zhang")); });
    host().call([](Engine& e) { e.unshelve_alarm(2, QStringLiteral("HIAL"), QStringLiteral("zhang")); });
    bus->set_param(2, 3, 3000); // above: cleared, acknowledged, gone
    ASSERT_TRUE(listed_as(QStringLiteral("cleared")));
    bus->set_param(2, 3, -50);
    ASSERT_TRUE(listed_as(QStringLiteral("active_unacked")));
    bus->set_param(2, 3, 3000);
    ASSERT_TRUE(listed_as(QStringLiteral("cleared_unacked")));
    stop_polling();

    const QStringList expected { "active_unacked", "active_acked ack", "shelved shelve", "active_acked unshelve",
        "cleared", "active_unacked", "cleared_unacked" };
    QStringList published;
    ASSERT_TRUE(wait_for([&] {
        published.clear();
        for (const auto& m : sub.messages()) {
            if (m.topic != "plant/line1/2/alarm")
                continue;
            const QJsonObject o = json(m.payload);
            if (o.value(QStringLiteral("alarm")).toString() != QStringLiteral("HIAL"))
                continue;
            const QString action = o.value(QStringLiteral("action")).toString();
            published << o.value(QStringLiteral("state")).toString() + (action.isEmpty() ? QString() : QLatin1Char(' ') + action);
            if (!action.isEmpty()) {
                EXPECT_EQ(o.value(QStringLiteral("user")).toString(), QStringLiteral("zhang"));
            }
        }
        return published.size() >= expected.size();
    }, 15000)) << published.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(published, expected);

    QStringList logged;
    QSqlQuery q(form->database().connection());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT state || coalesce(' ' || action, '') FROM alarm_log "
                                      "WHERE address = 2 AND alarm = 'HIAL' ORDER BY id")));
    while (q.next())
        logged << q.value(0).toString();
    EXPECT_EQ(logged, expected);
}

// The service without a window logs each alarm's state in its event log and
// publishes it, as the window's station does.
TEST_F(StationPublish, TheHeadlessServiceLogsAndPublishesAlarmStates)
{
    MqttBroker broker;
    ASSERT_TRUE(broker.start());
    QTemporaryDir folder;
    ASSERT_TRUE(QFile::copy(QStringLiteral(STATION_DB_TEMPLATE), folder.filePath(QStringLiteral("control_db.sqlite"))));
    MqttConfig file_config;
    file_config.station = QStringLiteral("svc");
    prepare_folder(folder.path(), { 1 }, file_config);
    auto sim = start_bus(folder.path(), { 1 });
    sim->set_param(1, 3, -50); // HIAL below the process value
    MqttSubscriber sub(broker.port(), "plant/#");
    ASSERT_TRUE(sub.wait_subscribed(5000));
    const pid_t station = spawn(QStringLiteral(AI_STATION_BIN),
        { QStringLiteral("--headless"), QStringLiteral("--workdir"), folder.path(), QStringLiteral("--mqtt"),
            QStringLiteral("mqtt://127.0.0.1:%1/plant").arg(broker.port()) });
    ASSERT_GT(station, 0);
    bool ended = false;
    const auto end_station = qScopeGuard([&] {
        if (!ended) {
            ::kill(station, SIGKILL);
            reap(station, 5000);
        }
    });
    EXPECT_TRUE(sub.wait([](const auto& m) {
        return std::any_of(m.begin(), m.end(), [](const auto& x) {
            if (x.topic != "plant/svc/1/alarm")
                return false;
            const QJsonObject o = json(x.payload);
            return o.value(QStringLiteral("alarm")).toString() == QStringLiteral("HIAL")
                && o.value(QStringLiteral("state")).toString() == QStringLiteral("active_unacked");
        });
    }, 20000)) << "HIAL active_unacked not published";
    ::kill(station, SIGTERM);
    ended = reap(station, 15000);
    ASSERT_TRUE(ended);
    sim->stop();
    QFile log(folder.filePath(QStringLiteral("station.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(log.readAll()).contains(QStringLiteral("1# HIAL 报警出现（报警未确认 active_unacked）")));
}
