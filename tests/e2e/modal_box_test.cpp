// A modal box of the window holds nothing up: while a box the window opened
// on a message of the engine waits for the operator, the engine on its own
// thread goes on polling, logs every answer at the time it arrived and sends
// a command asked for meanwhile.
#include "e2e_fixture.h"

#include "iAnalogOutput.h"
#include "param_grid.h"
#include "iSevenSegmentAnalog.h"
#include "station_db.h"
#include "station_settings.h"
#include "ttimer.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>

#include <cmath>
#include <map>
#include <mutex>

namespace {

qint64 now_ms() { return db_clock_ms(QDateTime::currentDateTime()); }

// One answer the simulator gave, and when (wall clock, as the log writes it).
struct Answer {
    aisim::ReplyRecord reply;
    qint64 at_ms = 0;
};

struct Row {
    int address = 0;
    double sv = 0, pv = 0;
    int alm = 0;
    qint64 at_ms = 0;
};

class ModalBox : public StationE2E {
protected:
    // Three instruments with one decimal place and set values far apart,
    // remembered from an earlier run, so that polling starts with the station.
    void start_polling()
    {
        write_settings({ QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("1") });
        {
            StationSettings settings(dir.path());
            settings.set_addresses(kAddresses);
            for (int a : kAddresses)
                settings.set_decimal_places(a, 1);
        }
        start_bus(kAddresses, 0, [this](aisim::BusOptions& o) {
            o.ignored_writes = { { 1, 51 } }; // instrument 1 keeps its set value
            o.on_reply = [this](const aisim::ReplyRecord& r) {
                std::lock_guard<std::mutex> lock(mu);
                answers.push_back({ r, now_ms() });
            };
        });
        for (int a : kAddresses) {
            bus->set_decimal_places(a, 1);
            bus->set_param(a, 51, 50.0 * a);
        }
        start_station();
        // Faster than the one second the settings allow, for more answers in the time.
        on_engine([](Engine& e) { e.Timer1->setInterval(450); });
    }
    // The rows of mea_tbl, read on a connection of the test's own.
    std::vector<Row> logged_rows() const
    {
        std::vector<Row> rows;
        const QString name = QStringLiteral("modal_box_test_reader");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(dir.filePath(QStringLiteral("control_db.sqlite")));
            EXPECT_TRUE(db.open());
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(QStringLiteral("SELECT address, sv, pv, alm, \"time\" FROM mea_tbl ORDER BY rowid")));
            while (q.next()) {
                const QString a = q.value(0).toString();
                rows.push_back({ a.left(a.indexOf(QLatin1Char('#'))).toInt(), q.value(1).toDouble(),
                    q.value(2).toDouble(), q.value(3).toInt(), db_clock_ms(q.value(4).toString()).value_or(-1) });
            }
        }
        QSqlDatabase::removeDatabase(name);
        return rows;
    }
    std::vector<Answer> answered()
    {
        std::lock_guard<std::mutex> lock(mu);
        return answers;
    }
    // Whether `rows` hold the poll answer `a`: its instrument's values, at the
    // time it arrived (about 20 ms after the simulator took the request).
    static bool logged(const std::vector<Row>& rows, const Answer& a)
    {
        const double scale = std::pow(10.0, a.reply.decimal_places);
        for (const Row& row : rows)
            if (row.address == a.reply.address && std::fabs(row.sv - a.reply.sv / scale) <= 0.5 / scale
                && std::fabs(row.pv - a.reply.pv / scale) <= 1.0 / scale && row.alm == a.reply.status
                && std::llabs(row.at_ms - a.at_ms) <= 150)
                return true;
        return false;
    }

    const std::vector<int> kAddresses { 1, 2, 3 };
    std::mutex mu;
    std::vector<Answer> answers; // every answer the simulator gave, in order
};

} // namespace

// The operator writes a set value that instrument 1 does not take: the
// read-back mismatch arises inside the engine's reply handling, and the window
// answers its message with a modal box that stays open for six seconds.
// Meanwhile a STOP is asked for through the window. While the box is still
// open, the STOP has reached the instrument and every poll answered since the
// box opened is in mea_tbl with the time it arrived; afterwards the window
// shows what the engine reported meanwhile.
TEST_F(ModalBox, TheWindowsModalBoxHoldsUpNoPollNoRowAndNoCommand)
{
    start_polling();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(until([&] { return logged_rows().size() >= 3; }, 10000));
    // Instrument 1 runs no program, so a set value may be written to it: the
    // operator's edit of its 程序段数Pno cell.
    const int col = value_column_of(*form->StringGrid1, 1);
    ASSERT_GT(col, 0);
    for (int i = 0; i < 2; ++i)
        form->StringGrid1->OnSetEditText(col, 41, QStringLiteral("0"));

    qint64 opened = 0, looked = 0, closed = 0;
    QString boxed;
    std::vector<Row> rows_while_open;
    int run_state_while_open = -1;
    // A box on the window's thread for the engine's message, as a window that
    // waits for its operator would show one.
    QObject::connect(&engine(), &Engine::message, form, [&](const EngineMessage& m) {
        if (opened || !m.text.contains(QStringLiteral("核对不符")))
            return;
        boxed = m.text;
        opened = now_ms();
        // The operator's STOP to address 2, asked through the window's engine
        // host while the box is open.
        QTimer::singleShot(1500, form, [&] {
            form->ComboBox7->setEditText(QStringLiteral("2"));
            form->Button7->click();
        });
        // What the engine did while the box was open, seen before it closes.
        QTimer::singleShot(6000, form, [&] {
            looked = now_ms();
            rows_while_open = logged_rows();
            run_state_while_open = bus->state(2).run_state;
            if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                box->done(QDialog::Accepted);
        });
        QMessageBox box(QMessageBox::Warning, QStringLiteral("消息"), m.text, QMessageBox::Ok, form);
        box.exec();
        closed = now_ms();
    });

    form->ComboBox7->setEditText(QStringLiteral("1"));
    form->iAnalogOutput2->SetValue(150.0);
    form->Button9->click();
    ASSERT_TRUE(wait_for([&] { return closed != 0; }, 20000)) << listed().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(boxed, QStringLiteral("给定值：仪表 1 核对不符，SP1 写 150.0 读回 50.0"));
    ASSERT_GE(looked - opened, 5500) << "the box was not modal for the time";
    ASSERT_GE(closed, looked);

    // The STOP went out while the box was open.
    EXPECT_EQ(run_state_while_open, 1);
    const std::vector<Answer> all = answered();
    int stops = 0;
    for (const Answer& a : all)
        if (a.reply.code == 10 && a.reply.address == 2 && a.at_ms > opened && a.at_ms < looked)
            ++stops;
    EXPECT_EQ(stops, 1);

    // Every poll answered while the box was open was already logged, up to
    // 1.5 s before the look: a reply's window is decided once nothing else
    // can arrive in it, which may take the next poll or two.
    int polled_while_open = 0;
    for (const Answer& a : all) {
        if (a.reply.code != 0 || a.at_ms <= opened || a.at_ms > looked - 1500)
            continue;
        ++polled_while_open;
        EXPECT_TRUE(logged(rows_while_open, a))
            << "answer of " << a.reply.address << " at " << a.at_ms - opened << " ms into the box is not in mea_tbl";
    }
    EXPECT_GE(polled_while_open, 6) << "polling did not go on while the box was open";

    // Polling stops; every answered poll of the whole run is one row.
    on_engine([](Engine& e) { e.Timer1->setEnabled(false); });
    ASSERT_TRUE(until([&] { return !replies_pending(); }, 5000));
    const std::vector<Row> rows = logged_rows();
    const std::vector<Answer> finally = answered();
    int polls = 0;
    for (const Answer& a : finally) {
        if (a.reply.code != 0)
            continue;
        ++polls;
        EXPECT_TRUE(logged(rows, a)) << "answer of " << a.reply.address << " at " << a.at_ms - opened << " ms";
    }
    EXPECT_EQ(static_cast<int>(rows.size()), polls);

    // The window has caught up: the panels show the instruments, the
    // mismatch is in the message list, and no box of the station's opened.
    for (size_t k = 0; k < kAddresses.size(); ++k)
        EXPECT_NEAR(form->sv_disp[k + 1]->Value(), 50.0 * kAddresses[k], 0.05) << kAddresses[k];
    EXPECT_EQ(listed_with(QStringLiteral("给定值：仪表 1 核对不符")).size(), 1) << listed().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}
