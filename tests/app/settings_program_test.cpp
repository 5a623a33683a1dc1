// The station program with settings files it cannot use, and with a port
// given on its command line.
#include "station_program.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

// save.txt and station.ini both spoiled the same way: start-up goes on with
// the defaults and names each file and what is wrong with it (never waiting
// on a FIFO); on the way out save.txt is saved, replacing what was there,
// except a directory, which is not replaced and is said so.
TEST(DamagedSettings, StartUpGoesOnWithTheDefaultsAndAMessageAndTheSaveWorks)
{
    struct Case {
        const char* name;
        std::function<void(const QString& path, bool ini)> make;
        QString save_txt_says, station_ini_says;
        QByteArray saved; // save.txt after the close; empty: not saved
    };
    const QByteArray defaults("0\r\n2\r\n2\r\n"); // COM1, 19200 baud, 2 s
    const Case cases[] = {
        { "an unparsable line",
            [](const QString& p, bool ini) {
                write_file(p, ini ? QByteArray("# by hand\n[resume]\nenabled=false\n") : QByteArray("3\r\nx9\r\n5\r\n"));
            },
            QStringLiteral("第 2 行 'x9' 不是整数"), QStringLiteral("第 1 行“# by hand”无法解析"), "3\r\n2\r\n5\r\n" },
        { "a FIFO", [](const QString& p, bool) { ASSERT_EQ(::mkfifo(QFile::encodeName(p).constData(), 0644), 0); },
            QStringLiteral("管道（FIFO）"), QStringLiteral("管道（FIFO）"), defaults },
        { "a directory", [](const QString& p, bool) { ASSERT_TRUE(QDir().mkdir(p)); }, QStringLiteral("目录"),
            QStringLiteral("目录"), {} },
        { "50 MB",
            [](const QString& p, bool) {
                QFile f(p);
                ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                ASSERT_TRUE(f.resize(50 * 1024 * 1024)); // zeros: no line of either file reads
            },
            QStringLiteral("第 1 行"), QStringLiteral("超过上限"), defaults },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ASSERT_TRUE(prepare_workdir(dir));
        const QString save = dir.filePath(QStringLiteral("save.txt"));
        const QString ini = dir.filePath(QStringLiteral("station.ini"));
        c.make(save, false);
        c.make(ini, true);
        StationProgram station(dir.path(), {});
        ASSERT_TRUE(station.started());
        // Started (the window's start-up ran) and said what it could not use.
        const QStringList said { QStringLiteral("启动，数据库"), QStringLiteral("设置文件 %1").arg(save),
            QStringLiteral("设置文件 %1").arg(ini), c.save_txt_says, c.station_ini_says };
        EXPECT_TRUE(station.wait_for_stderr(said, 30000)) << station.stderr_text().toStdString();
        EXPECT_EQ(station.stop(20000), 0);
        if (!c.saved.isEmpty()) {
            EXPECT_TRUE(QFileInfo(save).isFile());
            EXPECT_EQ(file_bytes(save), c.saved);
        } else {
            EXPECT_TRUE(QFileInfo(save).isDir());
            EXPECT_TRUE(station.stderr_text().contains(QStringLiteral("设置文件 %1 写入失败：该名称是一个目录").arg(save)))
                << station.stderr_text().toStdString();
        }
    }
}

// --port is for one start: whatever port it names (a fixed name, a device
// path), save.txt and station.ini are as they were after the station has run
// and closed.
TEST(OneStartPort, LeavesSaveTxtAndStationIniAsTheyWere)
{
    const QByteArray save_txt("16\r\n1\r\n5\r\n");
    const QByteArray station_ini("[port]\ndevice=/dev/serial/by-id/usb-plant-line1\n\n[resume]\nenabled=false\n");
    for (const QString& port : { QStringLiteral("COM3"), QStringLiteral("/dev/ttyS29") }) {
        SCOPED_TRACE(port.toStdString());
        QTemporaryDir dir;
        ASSERT_TRUE(prepare_workdir(dir));
        write_file(dir.filePath(QStringLiteral("save.txt")), save_txt);
        write_file(dir.filePath(QStringLiteral("station.ini")), station_ini);
        StationProgram station(dir.path(), { QStringLiteral("--port"), port });
        ASSERT_TRUE(station.started());
        // It tried the port it was given (there is no such device here).
        const QString name = port.startsWith(QLatin1Char('/')) ? port : port.toLower();
        EXPECT_TRUE(station.wait_for_stderr({ QStringLiteral("启动，数据库"), name }, 30000))
            << station.stderr_text().toStdString();
        EXPECT_EQ(station.stop(20000), 0);
        EXPECT_EQ(file_bytes(dir.filePath(QStringLiteral("save.txt"))), save_txt);
        EXPECT_EQ(file_bytes(dir.filePath(QStringLiteral("station.ini"))), station_ini);
    }
}
