// A second station on a port another program holds: it says which process
// holds it. The window shows the message and the port closed and goes on;
// the headless service says it on standard error and exits with status 1.
#include "station_program.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// A pseudo-terminal whose far end this test process holds as a station
// would: open and locked.
struct HeldPort {
    HeldPort()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return;
        device = ::ptsname(master);
        slave = ::open(device.c_str(), O_RDWR | O_NOCTTY);
        held = slave >= 0 && ::flock(slave, LOCK_EX | LOCK_NB) == 0;
    }
    ~HeldPort()
    {
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
    }
    int master = -1;
    int slave = -1;
    std::string device;
    bool held = false;
};

} // namespace

TEST(PortHeld, TheStationSaysWhichProcessHoldsThePort)
{
    HeldPort port;
    ASSERT_TRUE(port.held);
    const QString holder = QStringLiteral("进程 %1").arg(::getpid());
    for (const bool headless : { true, false }) {
        SCOPED_TRACE(headless ? "headless" : "window");
        QTemporaryDir dir;
        ASSERT_TRUE(prepare_workdir(dir));
        write_file(dir.filePath(QStringLiteral("save.txt")), "0\r\n1\r\n2\r\n");
        ASSERT_TRUE(QFile::link(QString::fromStdString(port.device), dir.filePath(QStringLiteral("com1"))));
        StationProgram station(dir.path(), headless ? QStringList { QStringLiteral("--headless") } : QStringList {});
        ASSERT_TRUE(station.started());
        EXPECT_TRUE(station.wait_for_stderr({ QStringLiteral("已被其他程序占用"), holder }, 30000))
            << station.stderr_text().toStdString();
        if (headless) {
            ASSERT_TRUE(station.wait_exit(30000)) << "the service went on without its port";
            EXPECT_EQ(station.stop(1000), 1);
        } else {
            // The window goes on with the port shown closed, and closes as usual.
            EXPECT_TRUE(station.running());
            EXPECT_EQ(station.stop(20000), 0);
        }
    }
}
