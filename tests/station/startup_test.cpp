#include "form_fixture.h"

#include "iIntegerOutput.h"
#include "iLedRound.h"
#include "iPlot.h"
#include "iSevenSegmentAnalog.h"
#include "errors.h"
#include "param_grid.h"
#include "scomm.h"
#include "ttimer.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using StartUp = FormFixture;

namespace {

QByteArray read_file(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

TEST_F(StartUp, WithoutSettingsFileTheWindowOpensWithPortClosed)
{
    TForm1& f = make_form();
    ASSERT_EQ(errors.size(), 1);
    // The runtime's message, then the file and the reason.
    EXPECT_EQ(errors[0].section(QLatin1Char('\n'), 0, 0), "File not found");
    EXPECT_TRUE(errors[0].section(QLatin1Char('\n'), 1).contains(dir.filePath(QStringLiteral("save.txt"))))
        << errors[0].toStdString();
    EXPECT_FALSE(f.SComm1_485->is_open());
    // Everything before the settings step is set up.
    EXPECT_EQ(f.StringGrid1->Cells(1, 41), "程序段数Pno");
    EXPECT_EQ(f.StringGrid1->Cells(0, 1), "  1");
    for (int s = 1; s <= 12; ++s) {
        ASSERT_NE(f.sv_disp[static_cast<size_t>(s)], nullptr);
        EXPECT_FALSE(f.panel_box[static_cast<size_t>(s - 1)]->isVisible());
    }
    EXPECT_EQ(f.iPlot[0]->TitleText(), "实时温度曲线");
    EXPECT_EQ(f.iPlot[5]->TitleText(), "实时偏差曲线");
    EXPECT_EQ(cur_addr, -1);
    EXPECT_EQ(reply_ok, 1);
    EXPECT_FALSE(f.iLedRound1->Active());
    // The deviation pages 0-3 and 4-7 appear only once the port has been opened.
    EXPECT_FALSE(f.PageControl2->isTabVisible(f.PageControl2->indexOf(f.TabSheet1)));
    EXPECT_FALSE(f.PageControl2->isTabVisible(f.PageControl2->indexOf(f.TabSheet11)));
    // Polling ticks at the design period of 2 s but nothing is enabled, so nothing is sent.
    EXPECT_TRUE(f.Timer1->Enabled());
    EXPECT_EQ(f.Timer1->Interval(), 2000);
    int sent = 0;
    f.on_frame_sent = [&](const std::string&) { ++sent; };
    f.send_pause_ms = 0;
    f.Timer1Timer(nullptr);
    EXPECT_EQ(sent, 0);
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

TEST_F(StartUp, NonIntegerLineStopsBeforeThePortIsOpened)
{
    write_settings({"0", "x1", "2"});
    TForm1& f = make_form();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0].section(QLatin1Char('\n'), 0, 0), "'x1' is not a valid integer value");
    EXPECT_TRUE(errors[0].contains(QStringLiteral("save.txt"))) << errors[0].toStdString();
    EXPECT_EQ(f.Edit2->text(), "x1");
    EXPECT_FALSE(f.SComm1_485->is_open());
}

TEST_F(StartUp, ClosingClosesThePortAndSavesTheSettings)
{
    write_settings({"0", "2", "2"});
    // A pseudo-terminal stands in for the adapter so that the port really opens.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    ASSERT_TRUE(QFile::link(QString::fromLatin1(ptsname(master)), dir.filePath("com1")));
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
    ::close(master);
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
