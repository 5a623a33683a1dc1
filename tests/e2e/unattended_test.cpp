// The station carrying on by itself: a first start without settings, a
// restart that resumes polling, a bus that goes away and comes back, and a
// database that is unavailable for a while, all without a click.
#include "e2e_fixture.h"

#include "health_view.h"

#include "row_queue.h"
#include "public_set.h"
#include "scomm.h"
#include "ttimer.h"
#include "station_db.h"
#include "station_settings.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QCheckBox>
#include <QGroupBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <mutex>

namespace {

// One logged row, or one poll answer of the simulator, by what identifies it.
struct Sample {
    int address = 0;
    long sv = 0, pv = 0; // instrument counts
    bool operator==(const Sample&) const = default;
};

class Unattended : public StationE2E {
protected:
    // The bus with three instruments, the process running, every poll answer
    // recorded; the station started on it (save.txt at 9600 baud unless
    // `settings` is false).
    void start_recording(bool settings = true)
    {
        const auto configure = [this](aisim::BusOptions& o) {
            o.on_reply = [this](const aisim::ReplyRecord& r) {
                if (r.code != 0)
                    return;
                std::lock_guard<std::mutex> lock(mu);
                answers.push_back({ r.address, r.sv, r.pv });
            };
        };
        if (settings) {
            start({ 1, 2, 5 }, 1, 10.0, configure);
        } else {
            start_bus({ 1, 2, 5 }, 10.0, configure);
            start_station();
        }
    }
    void scan()
    {
        StationE2E::scan(QStringLiteral("6"), 15000);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_EQ(form->roster.addresses, (std::vector<int> { 1, 2, 5 }));
    }
    // Rows of the log, read on the window's own connection.
    qint64 rows()
    {
        QSqlQuery q(form->database().connection());
        return q.exec(QStringLiteral("SELECT COUNT(*) FROM mea_tbl")) && q.next() ? q.value(0).toLongLong() : -1;
    }
    // The logged rows in log order, values turned back into counts.
    std::vector<Sample> logged()
    {
        std::vector<Sample> out;
        QSqlQuery q(form->database().connection());
        EXPECT_TRUE(q.exec(QStringLiteral("SELECT address, sv, pv FROM mea_tbl ORDER BY rowid")));
        while (q.next()) {
            const QString a = q.value(0).toString();
            const int address = a.left(a.indexOf(QLatin1Char('#'))).toInt();
            const double scale = std::pow(10.0, bus->state(address).decimal_places);
            out.push_back({ address, std::lround(q.value(1).toDouble() * scale), std::lround(q.value(2).toDouble() * scale) });
        }
        return out;
    }
    // Stops polling and waits until every reply is decided and written.
    void stop_polling()
    {
        on_engine([](Engine& e) { e.Timer1->setEnabled(false); });
        ASSERT_TRUE(until([&] { return on_engine([](Engine& e) { return !e.replies.pending() && !e.rows()->outage(); }); }, 15000));
    }
    bool port_open()
    {
        return on_engine([](Engine& e) { return e.SComm1_485->is_open(); });
    }
    bool outage()
    {
        return on_engine([](Engine& e) { return e.rows()->outage(); });
    }

    std::mutex mu;
    std::vector<Sample> answers;
};

} // namespace

TEST_F(Unattended, FirstStartWithoutSettingsOpensCom1AndShowsTheDeviationPages)
{
    start_recording(false);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(port_open());
    EXPECT_EQ(on_engine([](Engine& e) { return e.SComm1_485->BaudRate(); }), 19200u);
    EXPECT_TRUE(form->link.open);
    EXPECT_EQ(form->link.baud, 19200u);
    EXPECT_TRUE(form->PageControl2->isTabVisible(form->PageControl2->indexOf(form->TabSheet1)));
    EXPECT_TRUE(form->PageControl2->isTabVisible(form->PageControl2->indexOf(form->TabSheet11)));
    scan();
}

// After a restart in the same folder the remembered instruments are polled
// and logged with no click, with the decimal places the scan learnt.
TEST_F(Unattended, ARestartPollsTheRememberedInstrumentsWithoutAClick)
{
    start_recording();
    bus->set_param(5, 22, 9); // a Pt100 input: three decimal places
    scan();
    owned_form.reset(); // the power goes
    owned_host.reset();
    public_set_reset();
    start_station();
    ASSERT_EQ(form->roster.addresses, (std::vector<int> { 1, 2, 5 }));
    EXPECT_EQ(on_engine([](Engine&) { return dec_places_of(5); }), 3);
    const qint64 before = rows();
    ASSERT_TRUE(wait_for([&] { return rows() >= before + 6; }, 15000));
    stop_polling();
    const std::vector<Sample> got = logged();
    for (int a : { 1, 2, 5 })
        EXPECT_TRUE(std::any_of(got.begin(), got.end(), [a](const Sample& s) { return s.address == a; })) << a;
    // The values are the instruments' own, at their own scale.
    std::lock_guard<std::mutex> lock(mu);
    for (const Sample& s : got)
        EXPECT_NE(std::find(answers.begin(), answers.end(), s), answers.end()) << s.address;
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

// The bus goes away (the link is removed) and comes back at the same link:
// the station reopens the port and polling resumes within 10 s, no click.
TEST_F(Unattended, PollingResumesWhenTheBusComesBack)
{
    start_recording();
    scan();
    ASSERT_TRUE(wait_for([&] { return rows() >= 3; }, 10000));
    bus->stop();
    ASSERT_TRUE(until([&] { return !port_open(); }, 5000));
    EXPECT_FALSE(form->link.open);
    EXPECT_TRUE(form->status_link->text().contains(QStringLiteral("已断开"))) << form->status_link->text().toStdString();
    pump(2000);
    aisim::BusOptions options;
    options.addresses = { 1, 2, 5 };
    options.reply_delay_ms = 20;
    bus = std::make_unique<aisim::Bus>(options);
    bus->start_pty(dir.filePath(QStringLiteral("com1")).toStdString());
    const qint64 before = rows();
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(wait_for([&] { return rows() > before; }, 10000)) << "no row within 10 s of the bus coming back";
    std::cout << "[ unattended ] first row " << clock.elapsed() << " ms after the bus came back\n";
    EXPECT_TRUE(port_open());
    sync();
    EXPECT_TRUE(form->link.open);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

// The database unavailable for a while (another writer holding it for 10 s,
// or full until it gets room): every reply of that time is logged afterwards,
// in order, and polling never stops.
TEST_F(Unattended, NoRowIsLostWhileTheDatabaseIsUnavailable)
{
    struct Outage {
        const char* name;
        std::function<void()> begin;
        std::function<void()> end;
    };
    const QString holder = QStringLiteral("unattended_holder");
    const std::vector<Outage> outages = {
        { "held by another writer",
            [&] {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), holder);
                db.setDatabaseName(dir.filePath(QStringLiteral("control_db.sqlite")));
                ASSERT_TRUE(db.open());
                ASSERT_TRUE(QSqlQuery(db).exec(QStringLiteral("BEGIN EXCLUSIVE")));
            },
            [&] {
                {
                    QSqlDatabase db = QSqlDatabase::database(holder);
                    QSqlQuery(db).exec(QStringLiteral("COMMIT"));
                    db.close();
                }
                QSqlDatabase::removeDatabase(holder);
            } },
        { "full",
            [&] {
                // No page more than the file has, and the log's last page
                // filled up with rows of our own (taken out afterwards), so
                // that the station's next row needs a page it cannot get.
                // The page limit belongs to a connection: the engine's own,
                // on its thread.
                const bool full = on_engine([](Engine& e) {
                    QSqlQuery q(e.database()->connection());
                    if (!q.exec(QStringLiteral("PRAGMA page_count")) || !q.next())
                        return false;
                    const int pages = q.value(0).toInt();
                    if (!q.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(pages)))
                        return false;
                    while (q.exec(QStringLiteral("INSERT INTO mea_tbl (address) VALUES ('filler')"))) {
                    }
                    return true;
                });
                ASSERT_TRUE(full);
            },
            [&] {
                on_engine([](Engine& e) {
                    QSqlQuery q(e.database()->connection());
                    q.exec(QStringLiteral("PRAGMA max_page_count = 1000000000"));
                    q.exec(QStringLiteral("DELETE FROM mea_tbl WHERE address = 'filler'"));
                });
            } },
    };
    start_recording();
    scan();
    on_engine([](Engine& e) { e.rows()->set_retry_interval(500); });
    for (const Outage& o : outages) {
        SCOPED_TRACE(o.name);
        ASSERT_TRUE(wait_for([&] { return rows() >= 3; }, 10000));
        o.begin();
        ASSERT_FALSE(HasFatalFailure());
        const size_t answered_before = [&] {
            std::lock_guard<std::mutex> lock(mu);
            return answers.size();
        }();
        // Hold it for 10 s of polling; the database's trouble shows in the
        // status bar, not in message boxes.
        ASSERT_TRUE(until([&] { return outage(); }, 10000));
        pump(10000);
        sync();
        EXPECT_TRUE(form->status_storage->text().contains(QStringLiteral("数据库暂不可用")));
        {
            std::lock_guard<std::mutex> lock(mu);
            EXPECT_GT(answers.size(), answered_before + 5) << "polling went on";
        }
        o.end();
        ASSERT_TRUE(until([&] { return !outage(); }, 10000));
        // The status bar follows at the engine's next status report.
        EXPECT_TRUE(until([&] { return form->status_storage->text().isEmpty(); }, 3000))
            << form->status_storage->text().toStdString();
    }
    stop_polling();
    // Every poll answer the simulator gave since the scan is a row, in order.
    // (The log is read before taking `mu`: the bus calls on_reply holding its
    // own lock, which logged() takes through bus->state().)
    const std::vector<Sample> rows_logged = logged();
    std::lock_guard<std::mutex> lock(mu);
    EXPECT_EQ(rows_logged, answers);
    EXPECT_EQ(on_engine([](Engine& e) { return e.rows()->dropped(); }), 0u);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

// An instrument that has not answered for three sweeps is marked on its
// panel; the bus-health view lists it with its counters.
TEST_F(Unattended, AnInstrumentSilentForThreeSweepsIsMarkedOnItsPanel)
{
    start_recording();
    scan();
    on_engine([](Engine& e) { e.Timer1->setInterval(400); });
    form->addr_check[3]->click(); // nobody is at address 3
    sync();
    ASSERT_EQ(form->get_dis_pos(3), 3);
    ASSERT_TRUE(wait_for([&] { return form->silent_label[3]->isVisibleTo(form->panel_box[2]); }, 20000));
    EXPECT_FALSE(form->silent_label[1]->isVisibleTo(form->panel_box[0]));
    EXPECT_FALSE(form->silent_label[4]->isVisibleTo(form->panel_box[3]));
    EXPECT_GE(on_engine([](Engine& e) { return e.bus_health().address(3).timeouts; }), 3u);
    EXPECT_GT(on_engine([](Engine& e) { return e.bus_health().address(5).replies; }), 0u);
    form->show_health_view();
    QTableWidget* table = form->health_view->table();
    bool listed = false;
    int never_answered = 0;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QString state = table->item(row, 8)->text();
        if (table->item(row, 0)->text() == QStringLiteral("3"))
            listed = state == QStringLiteral("无应答");
        // The scan asked every address; one that never answered is not "正常".
        if (table->item(row, 2)->text() == QStringLiteral("0")) {
            ++never_answered;
            EXPECT_EQ(state, QStringLiteral("无应答")) << table->item(row, 0)->text().toStdString();
        } else {
            EXPECT_EQ(state, QStringLiteral("正常")) << table->item(row, 0)->text().toStdString();
        }
    }
    EXPECT_TRUE(listed);
    EXPECT_GT(never_answered, 1);
    // It answers again (an instrument put at 3): the mark goes.
    bus->add_instrument(3);
    ASSERT_TRUE(wait_for([&] { return !form->silent_label[3]->isVisibleTo(form->panel_box[2]); }, 10000));
}
