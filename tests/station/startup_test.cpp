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
// baud, 2 s), the port is opened and the deviation pages appear, without a word.
TEST_F(StartUp, WithoutSettingsFileTheFormsValuesStandAndThePortOpens)
{
    const PtyAdapter adapter(*this);
    ASSERT_TRUE(adapter.linked);
    TForm1& f = make_form();
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_TRUE(f.SComm1_485->is_open());
    EXPECT_EQ(f.SComm1_485->CommName(), "com1");
    EXPECT_EQ(f.SComm1_485->BaudRate(), 19200u);
    EXPECT_EQ(f.ComboBox1->currentText(), "COM1");
    EXPECT_EQ(f.ComboBox2->currentText(), "19200");
    EXPECT_EQ(f.Timer1->Interval(), 2000);
    EXPECT_TRUE(f.PageControl2->isTabVisible(f.PageControl2->indexOf(f.TabSheet1)));
    EXPECT_TRUE(f.PageControl2->isTabVisible(f.PageControl2->indexOf(f.TabSheet11)));
    EXPECT_TRUE(f.port_device_label->text().contains(QString::fromLatin1(adapter.slave.c_str())));
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

// No device behind the port at start: one message naming it, and the station
// keeps watching for it.
TEST_F(StartUp, APortThatIsNotThereIsReportedOnceAndWatched)
{
    TForm1& f = make_form();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("Error opening serial port")) << errors[0].toStdString();
    EXPECT_FALSE(f.SComm1_485->is_open());
    EXPECT_TRUE(f.port_wanted);
    EXPECT_TRUE(f.reconnect_timer->isActive());
    EXPECT_FALSE(f.PageControl2->isTabVisible(f.PageControl2->indexOf(f.TabSheet1)));
}

TEST_F(StartUp, SettingsSelectPortBaudAndPeriod)
{
    // Lines beyond the third are ignored; only the first 8 characters of a line count.
    write_settings({"3", "1", "5", "garbage"});
    // com4 names a device that is not there: the open fails after the settings
    // were applied, whatever serial ports this machine has.
    ASSERT_TRUE(QFile::link(dir.filePath("no-such-device"), dir.filePath("com4")));
    TForm1& f = make_form();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith("Error opening serial port")) << errors[0].toStdString();
    EXPECT_EQ(f.ComboBox1->currentText(), "COM4");
    EXPECT_EQ(f.ComboBox2->currentText(), "9600");
    EXPECT_EQ(f.Edit1->text(), "3");
    EXPECT_EQ(f.Edit2->text(), "1");
    EXPECT_EQ(f.iIntegerOutput1->Value(), 5);
    EXPECT_EQ(f.Timer1->Interval(), 5000);
    EXPECT_EQ(f.SComm1_485->CommName(), "com4");
    EXPECT_EQ(f.SComm1_485->BaudRate(), 9600u);
}

TEST_F(StartUp, SavedPeriodOfTwoStillSetsTheInterval)
{
    write_settings({"0", "2", "2"});
    TForm1& f = make_form();
    EXPECT_EQ(f.Timer1->Interval(), 2000);
    EXPECT_EQ(f.iIntegerOutput1->Value(), 2);
}

// A line that is no number keeps its default and is named with the file and
// the line; the other lines apply and the port still opens.
TEST_F(StartUp, ANonIntegerLineKeepsItsDefaultAndThePortStillOpens)
{
    write_settings({"0", "x1", "5"});
    const PtyAdapter adapter(*this);
    ASSERT_TRUE(adapter.linked);
    TForm1& f = make_form();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], QStringLiteral("设置文件 %1 第 2 行 'x1' 不是整数，该项使用默认值").arg(dir.filePath("save.txt")));
    EXPECT_EQ(f.Edit2->text(), "x1");
    EXPECT_EQ(f.ComboBox2->currentText(), "19200");
    EXPECT_EQ(f.iIntegerOutput1->Value(), 5);
    EXPECT_TRUE(f.SComm1_485->is_open());
    f.close();
}

TEST_F(StartUp, ClosingClosesThePortAndSavesTheSettings)
{
    write_settings({"0", "2", "2"});
    const PtyAdapter adapter(*this);
    ASSERT_TRUE(adapter.linked);
    TForm1& f = make_form();
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    ASSERT_TRUE(f.SComm1_485->is_open());
    EXPECT_TRUE(f.PageControl2->isTabVisible(f.PageControl2->indexOf(f.TabSheet1)));
    f.iIntegerOutput1->SetValue(7);
    EXPECT_EQ(f.Timer1->Interval(), 7000);
    // Changing the period alone does not save it; closing does.
    EXPECT_EQ(read_file(dir.filePath("save.txt")), QByteArray("0\r\n2\r\n2\r\n"));
    f.close();
    EXPECT_FALSE(f.SComm1_485->is_open());
    EXPECT_EQ(read_file(dir.filePath("save.txt")), QByteArray("0\r\n2\r\n7\r\n"));
}

TEST_F(StartUp, MissingDatabaseStopsTheWindowBeingCreated)
{
    ASSERT_TRUE(QFile::remove(dir.filePath("control_db.sqlite")));
    try {
        TForm1 f;
        ADD_FAILURE() << "the window was created without its database";
    } catch (const EDatabaseError& e) {
        const QString message = QString::fromUtf8(e.what());
        EXPECT_TRUE(message.contains("control_db.sqlite")) << e.what();
        EXPECT_TRUE(message.contains(dir.path())) << e.what();
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("control_db.sqlite")));
}

TEST_F(StartUp, CommandMonitorKeepsTheNewestLines)
{
    TForm1& f = make_form();
    f.send_pause_ms = 0;
    const std::string frame("\x81\x81\xA4\x00\x00\x00\xA5\x00", 8);
    for (int i = 0; i < TForm1::kMemoLines + 50; ++i)
        f.scomm485_write_command(frame, RequestKind::Poll);
    EXPECT_EQ(f.Memo1->blockCount(), TForm1::kMemoLines);
}

// An index past its list (a baud-rate index of 7) takes the form's default,
// with a message naming the file and the line; the port still opens, and
// closing saves a usable index, not -1.
TEST_F(StartUp, AnIndexPastItsListTakesTheDefaultAndIsNamed)
{
    write_settings({"0", "7", "5"});
    const PtyAdapter adapter(*this);
    ASSERT_TRUE(adapter.linked);
    TForm1& f = make_form();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], QStringLiteral("设置文件 %1 第 2 行 '7' 超出范围，该项使用默认值").arg(dir.filePath("save.txt")));
    EXPECT_EQ(f.ComboBox2->currentText(), "19200");
    EXPECT_EQ(f.SComm1_485->BaudRate(), 19200u);
    EXPECT_TRUE(f.SComm1_485->is_open());
    f.close();
    EXPECT_EQ(read_file(dir.filePath("save.txt")), QByteArray("0\r\n2\r\n5\r\n"));
}

// The port given for one start is not saved; a port the operator then picks is.
TEST_F(StartUp, APortForOneStartIsNotSavedButTheOperatorsChoiceIs)
{
    write_settings({"3", "1", "5"});
    for (const bool operator_picks : { false, true }) {
        SCOPED_TRACE(operator_picks ? "operator picks COM6" : "closed as started");
        auto form = std::make_unique<TForm1>(nullptr, QStringLiteral("COM2"), QString());
        EXPECT_EQ(form->ComboBox1->currentText(), "COM2");
        if (operator_picks)
            form->ComboBox1->setCurrentIndex(5); // raises the change handler, which saves
        form->close();
        form.reset();
        EXPECT_EQ(read_file(dir.filePath("save.txt")), operator_picks ? QByteArray("5\r\n1\r\n5\r\n") : QByteArray("3\r\n1\r\n5\r\n"));
        EXPECT_FALSE(QFile::exists(dir.filePath("station.ini")));
    }
}
