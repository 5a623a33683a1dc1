#include "event_loop.h"
#include "form_fixture.h"

#include "iIntegerOutput.h"
#include "iLedRound.h"
#include "iPlot.h"
#include "iSevenSegmentAnalog.h"
#include "errors.h"
#include "param_grid.h"
#include "scomm.h"
#include "ttimer.h"

#include <QLabel>
#include <QTimer>

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

class StartUp : public FormFixture {
protected:
    // A pseudo-terminal linked as "com1", standing in for an adapter so that
    // the port really opens.
    struct PtyAdapter {
        explicit PtyAdapter(StartUp& test)
        {
            master = posix_openpt(O_RDWR | O_NOCTTY);
            if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
                return;
            slave = ptsname(master);
            test.unlink_com1();
            linked = QFile::link(QString::fromStdString(slave), test.dir.filePath("com1"));
        }
        ~PtyAdapter()
        {
            if (master >= 0)
                ::close(master);
        }
        int master = -1;
        std::string slave;
        bool linked = false;
    };
};

namespace {

QByteArray read_file(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

// A first start has no settings file: the form's values stand (COM1, 19200
// baud, 2 s), the port is opened and the deviation pages appear, without a
// box; the list says which device opened.
TEST_F(StartUp, WithoutSettingsFileTheFormsValuesStandAndThePortOpens)
{
    const PtyAdapter adapter(*this);
    ASSERT_TRUE(adapter.linked);
    TForm1& f = make_form();
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_TRUE(engine().SComm1_485->is_open());
    EXPECT_EQ(engine().SComm1_485->CommName(), "com1");
    EXPECT_EQ(engine().SComm1_485->BaudRate(), 19200u);
    EXPECT_EQ(engine().Timer1->Interval(), 2000);
    EXPECT_TRUE(engine().Timer1->Enabled());
    EXPECT_EQ(f.ComboBox1->currentText(), "COM1");
    EXPECT_EQ(f.ComboBox2->currentText(), "19200");
    EXPECT_EQ(f.iIntegerOutput1->Value(), 2);
    EXPECT_TRUE(f.PageControl2->isTabVisible(f.PageControl2->indexOf(f.TabSheet1)));
    EXPECT_TRUE(f.PageControl2->isTabVisible(f.PageControl2->indexOf(f.TabSheet11)));
    EXPECT_TRUE(f.port_device_label->text().contains(QString::fromLatin1(adapter.slave.c_str())));
    EXPECT_TRUE(f.port_device_label->text().endsWith(QStringLiteral("（已打开）")));
    EXPECT_TRUE(f.status_link->text().startsWith(QStringLiteral("已打开  19200 bps"))) << f.status_link->text().toStdString();
    EXPECT_EQ(listed_with(QStringLiteral("已打开，波特率 19200")).size(), 1) << listed().join('\n').toStdString();
    EXPECT_TRUE(listed_with(QStringLiteral("未能打开")).isEmpty()) << listed().join('\n').toStdString();
    // Everything else is set up as always.
    EXPECT_EQ(f.StringGrid1->Cells(1, 41), "程序段数Pno");
    EXPECT_EQ(f.StringGrid1->Cells(0, 1), "  1");
    for (int s = 1; s <= 12; ++s) {
        ASSERT_NE(f.sv_disp[static_cast<size_t>(s)], nullptr);
        EXPECT_FALSE(f.panel_box[static_cast<size_t>(s - 1)]->isVisible());
    }
    EXPECT_EQ(f.iPlot[0]->TitleText(), "实时温度曲线");
    EXPECT_EQ(f.iPlot[5]->TitleText(), "实时偏差曲线");
    for (TiPlot* plot : f.iPlot) {
        EXPECT_EQ(plot->YAxis(0)->Title(), "温度值(℃)");
        EXPECT_EQ(plot->XAxis(0)->Title(), "采样时间(t)");
    }
    EXPECT_EQ(cur_addr, -1);
    EXPECT_EQ(reply_ok, 1);
    f.close();
}

// No device behind the port at start: one message in the list naming it (no
// box: nobody asked), the port shown closed, and the engine watching for the
// device: once it is there, the port opens by itself.
TEST_F(StartUp, APortThatIsNotThereIsListedOnceAndWatched)
{
    TForm1& f = make_form();
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    const QStringList port = listed_with(QStringLiteral("未能打开"));
    ASSERT_EQ(port.size(), 1) << listed().join('\n').toStdString();
    EXPECT_TRUE(port[0].startsWith(QStringLiteral("串口: 串口 com1 未能打开：无法打开串口"))) << port[0].toStdString();
    EXPECT_TRUE(event_log_text().contains(QStringLiteral("串口 com1 未能打开")));
    EXPECT_GE(f.message_list->unread(), 1);
    EXPECT_TRUE(f.status_messages->text().contains(QStringLiteral("未读")));
    EXPECT_FALSE(engine().SComm1_485->is_open());
    EXPECT_TRUE(engine().port_wanted);
    EXPECT_TRUE(f.port_device_label->text().endsWith(QStringLiteral("（未打开）")));
    EXPECT_TRUE(f.status_link->text().startsWith(QStringLiteral("未打开，等待设备"))) << f.status_link->text().toStdString();
    EXPECT_FALSE(f.PageControl2->isTabVisible(f.PageControl2->indexOf(f.TabSheet1)));

    const PtyAdapter adapter(*this);
    ASSERT_TRUE(adapter.linked);
    ASSERT_TRUE(wait_for([&] { return engine().SComm1_485->is_open(); }, 5000));
    EXPECT_TRUE(f.status_link->text().startsWith(QStringLiteral("已重新打开"))) << f.status_link->text().toStdString();
    EXPECT_TRUE(f.PageControl2->isTabVisible(f.PageControl2->indexOf(f.TabSheet1)));
    EXPECT_EQ(listed_with(QStringLiteral("未能打开")).size(), 1) << "the waiting is said once";
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(StartUp, SettingsSelectPortBaudAndPeriod)
{
    // Lines beyond the third are ignored; only the first 8 characters of a line count.
    write_settings({"3", "1", "5", "garbage"});
    // com4 names a device that is not there: the open fails after the settings
    // were applied, whatever serial ports this machine has.
    ASSERT_TRUE(QFile::link(dir.filePath("no-such-device"), dir.filePath("com4")));
    TForm1& f = make_form();
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    const QStringList port = listed_with(QStringLiteral("未能打开"));
    ASSERT_EQ(port.size(), 1) << listed().join('\n').toStdString();
    EXPECT_TRUE(port[0].contains(QStringLiteral("串口 com4 未能打开：无法打开串口"))) << port[0].toStdString();
    EXPECT_EQ(f.ComboBox1->currentText(), "COM4");
    EXPECT_EQ(f.ComboBox2->currentText(), "9600");
    EXPECT_EQ(f.Edit1->text(), "3");
    EXPECT_EQ(f.Edit2->text(), "1");
    EXPECT_EQ(f.iIntegerOutput1->Value(), 5);
    EXPECT_EQ(engine().Timer1->Interval(), 5000);
    EXPECT_EQ(engine().SComm1_485->CommName(), "com4");
    EXPECT_EQ(engine().SComm1_485->BaudRate(), 9600u);
    EXPECT_TRUE(f.status_link->text().contains(QStringLiteral("9600 bps"))) << f.status_link->text().toStdString();
}

TEST_F(StartUp, SavedPeriodOfTwoStillSetsTheInterval)
{
    write_settings({"0", "2", "2"});
    TForm1& f = make_form();
    EXPECT_EQ(engine().Timer1->Interval(), 2000);
    EXPECT_EQ(f.iIntegerOutput1->Value(), 2);
}

// A line that is no number keeps its default and is named, with the file and
// the line, in the list; the other lines apply and the port still opens.
TEST_F(StartUp, ANonIntegerLineKeepsItsDefaultAndThePortStillOpens)
{
    write_settings({"0", "x1", "5"});
    const PtyAdapter adapter(*this);
    ASSERT_TRUE(adapter.linked);
    TForm1& f = make_form();
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_EQ(listed_with(QStringLiteral("不是整数")),
        QStringList { QStringLiteral("设置: 设置文件 %1 第 2 行 'x1' 不是整数，该项使用默认值").arg(dir.filePath("save.txt")) });
    EXPECT_EQ(f.Edit2->text(), "x1");
    EXPECT_EQ(f.ComboBox2->currentText(), "19200");
    EXPECT_EQ(f.iIntegerOutput1->Value(), 5);
    EXPECT_TRUE(engine().SComm1_485->is_open());
    f.close();
}

TEST_F(StartUp, ClosingClosesThePortAndSavesTheSettings)
{
    write_settings({"0", "2", "2"});
    const PtyAdapter adapter(*this);
    ASSERT_TRUE(adapter.linked);
    TForm1& f = make_form();
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    ASSERT_TRUE(engine().SComm1_485->is_open());
    EXPECT_TRUE(f.PageControl2->isTabVisible(f.PageControl2->indexOf(f.TabSheet1)));
    f.iIntegerOutput1->SetValue(7);
    EXPECT_EQ(engine().Timer1->Interval(), 7000);
    // Changing the period alone does not save it; closing does.
    EXPECT_EQ(read_file(dir.filePath("save.txt")), QByteArray("0\r\n2\r\n2\r\n"));
    f.close();
    EXPECT_FALSE(engine().SComm1_485->is_open());
    EXPECT_EQ(read_file(dir.filePath("save.txt")), QByteArray("0\r\n2\r\n7\r\n"));
    EXPECT_TRUE(event_log_text().contains(QStringLiteral("关闭，串口已关闭")));
}

// Without its database neither the engine nor the window starts; the
// message names the file and the folder, and no empty file is made.
TEST_F(StartUp, MissingDatabaseStopsTheEngineAndTheWindow)
{
    ASSERT_TRUE(QFile::remove(dir.filePath("control_db.sqlite")));
    Engine::Options options;
    options.data_dir = dir.path();
    EngineHost host(options, false);
    const auto names_the_file = [&](const EDatabaseError& e) {
        const QString message = QString::fromUtf8(e.what());
        EXPECT_TRUE(message.contains("control_db.sqlite")) << e.what();
        EXPECT_TRUE(message.contains(dir.path())) << e.what();
    };
    try {
        host.start();
        ADD_FAILURE() << "the engine started without its database";
    } catch (const EDatabaseError& e) {
        names_the_file(e);
    }
    EXPECT_FALSE(host.engine()->started());
    try {
        TForm1 f(host);
        ADD_FAILURE() << "the window was created without its database";
    } catch (const EDatabaseError& e) {
        names_the_file(e);
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("control_db.sqlite")));
}

// An index past its list (a baud-rate index of 7) takes the default, with a
// message naming the file and the line; the port still opens, and closing
// saves a usable index, not -1.
TEST_F(StartUp, AnIndexPastItsListTakesTheDefaultAndIsNamed)
{
    write_settings({ "0", "7", "5" });
    const PtyAdapter adapter(*this);
    ASSERT_TRUE(adapter.linked);
    TForm1& f = make_form();
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_FALSE(listed_with(QStringLiteral("设置文件 %1 第 2 行 '7' 超出范围，该项使用默认值").arg(dir.filePath("save.txt")))
                     .isEmpty())
        << listed().join('\n').toStdString();
    EXPECT_EQ(f.ComboBox2->currentText(), "19200");
    EXPECT_EQ(engine().SComm1_485->BaudRate(), 19200u);
    EXPECT_TRUE(engine().SComm1_485->is_open());
    f.close();
    EXPECT_EQ(read_file(dir.filePath("save.txt")), QByteArray("0\r\n2\r\n5\r\n"));
}

// The port given for one start is not saved; a port the operator then picks is.
TEST_F(StartUp, APortForOneStartIsNotSavedButTheOperatorsChoiceIs)
{
    write_settings({ "3", "1", "5" });
    for (const bool operator_picks : { false, true }) {
        SCOPED_TRACE(operator_picks ? "operator picks COM6" : "closed as started");
        TForm1& f = make_form(false, [](Engine::Options& o) { o.start_port = QStringLiteral("COM2"); });
        EXPECT_EQ(f.ComboBox1->currentText(), "COM2");
        if (operator_picks)
            f.ComboBox1->setCurrentIndex(5); // raises the change handler, which saves
        f.close();
        EXPECT_EQ(read_file(dir.filePath("save.txt")),
            operator_picks ? QByteArray("5\r\n1\r\n5\r\n") : QByteArray("3\r\n1\r\n5\r\n"));
        EXPECT_FALSE(QFile::exists(dir.filePath("station.ini")) && read_file(dir.filePath("station.ini")).contains("device"));
    }
}
