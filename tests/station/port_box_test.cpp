// The port selector with the serial devices of a fixture tree: the fixed
// names keep their places, the devices follow and are listed again when the
// list opens, a chosen device is remembered by its path, and a port given at
// start opens or says why it cannot.
#include "device_tree.h"
#include "form_fixture.h"
#include "port_box.h"
#include "pty_port.h"
#include "scomm.h"
#include "station_settings.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>

#include <termios.h>

#include <string>

namespace {

class PortBoxTest : public FormFixture {
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        ASSERT_TRUE(com1.linked);
        ASSERT_GE(adapter.master, 0);
        // A USB adapter with a stable name; the pseudo-terminal plays its device file.
        tree.tty("ttyUSB0", true, std::nullopt, true, adapter.slave);
        stable = tree.by_id("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
        tree.tty("ttyACM0", true);
        write_settings({ QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("3") });
    }
    // The items from `from` on, one per line.
    static std::string items(const QComboBox* box, int from = 0)
    {
        std::string texts;
        for (int i = from; i < box->count(); ++i)
            texts += box->itemText(i).toStdString() + "\n";
        return texts;
    }
    static void open_list(PortBox* box)
    {
        box->showPopup();
        box->hidePopup();
    }
    QString errors_text() const { return errors.join(QLatin1Char('\n')); }
    QByteArray saved() const
    {
        QFile file(dir.filePath(QStringLiteral("save.txt")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    // A frame the engine sends now reaches the port's far end.
    bool frame_arrives(const PtyPort& port)
    {
        const std::string frame = "\x81\x81\xA4\x00\x00\x00\xA5\x00";
        engine().SComm1_485->SendData(frame.data(), static_cast<unsigned short>(frame.size()));
        return port.read(frame.size(), 2000) == std::string(frame.data(), frame.size());
    }
    const TSComm& comm() { return *engine().SComm1_485; }

    PtyPort com1 { dir.filePath(QStringLiteral("com1")) };
    PtyPort adapter;
    DeviceTree tree;
    std::string stable;
};

std::string fixed_names()
{
    std::string names;
    for (int i = 1; i <= 15; ++i)
        names += "COM" + std::to_string(i) + "\n";
    return names + "com16\n";
}

TEST_F(PortBoxTest, DevicesFollowTheFixedNamesAndAreListedWhenTheListOpens)
{
    TForm1& f = make_form();
    ASSERT_TRUE(errors.isEmpty()) << errors_text().toStdString();
    EXPECT_EQ(f.data_folder_label->text(), QDir::toNativeSeparators(dir.path()));
    f.port_box->set_device_roots(tree.roots());
    open_list(f.port_box);
    EXPECT_EQ(items(f.port_box), fixed_names() + tree.dev("ttyACM0") + "\n" + stable + "\n");
    EXPECT_EQ(comm().CommName(), "com1") << "listing changes no setting";

    // Choosing the adapter opens it under its stable name and remembers it by path.
    f.port_box->setCurrentIndex(17);
    ASSERT_TRUE(errors.isEmpty()) << errors_text().toStdString();
    EXPECT_EQ(comm().CommName(), stable);
    EXPECT_TRUE(frame_arrives(adapter));
    EXPECT_EQ(f.port_device_label->text(), QString::fromStdString(stable + " → " + adapter.slave) + QStringLiteral("（已打开）"));
    EXPECT_EQ(saved(), "17\r\n1\r\n3\r\n");
    EXPECT_EQ(StationSettings(dir.path()).port_device(), QString::fromStdString(stable));

    // Unplugged: listed again, the chosen device keeps its place and the port
    // is not touched; a new device shows up.
    tree.unplug("ttyUSB0", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    tree.tty("ttyUSB1", true);
    open_list(f.port_box);
    EXPECT_EQ(items(f.port_box, 16), tree.dev("ttyACM0") + "\n" + tree.dev("ttyUSB1") + "\n" + stable + "\n");
    EXPECT_EQ(f.port_box->currentText(), QString::fromStdString(stable));
    EXPECT_TRUE(comm().is_open());

    // Back on a fixed name, the device is forgotten.
    f.port_box->setCurrentIndex(0);
    EXPECT_EQ(comm().CommName(), "com1");
    EXPECT_EQ(saved(), "0\r\n1\r\n3\r\n");
    EXPECT_EQ(StationSettings(dir.path()).port_device(), QString());
    EXPECT_TRUE(errors.isEmpty()) << errors_text().toStdString();
}

TEST_F(PortBoxTest, AChosenDeviceIsOpenedAgainAfterARestartWhereverItIsListed)
{
    {
        TForm1& f = make_form();
        f.port_box->set_device_roots(tree.roots());
        open_list(f.port_box);
        f.port_box->setCurrentIndex(f.port_box->findText(QString::fromStdString(stable)));
        ASSERT_TRUE(comm().is_open());
        f.close();
    }
    ASSERT_EQ(saved(), "17\r\n1\r\n3\r\n");
    // The new window lists this machine's devices, not the fixture's.
    TForm1& f = make_form();
    ASSERT_TRUE(errors.isEmpty()) << errors_text().toStdString();
    EXPECT_EQ(comm().CommName(), stable);
    EXPECT_TRUE(frame_arrives(adapter));

    // Without the remembered path, an index past the fixed names names no
    // port: the default (COM1) stands, and the file and the line are named.
    f.close();
    ASSERT_TRUE(QFile::remove(dir.filePath(kStationSettingsFileName)));
    errors.clear();
    TForm1& again = make_form();
    EXPECT_EQ(again.port_box->currentIndex(), 0);
    EXPECT_EQ(comm().CommName(), "com1");
    EXPECT_FALSE(listed_with(QStringLiteral("设置文件 %1 第 1 行 '17' 超出范围，该项使用默认值")
                                 .arg(dir.filePath(QStringLiteral("save.txt"))))
                     .isEmpty())
        << listed().join(QLatin1Char('\n')).toStdString();
}

TEST_F(PortBoxTest, APortGivenAtStartOpensOrSaysWhyItCannot)
{
    struct Case {
        const char* name;
        std::string port;
        int index; // selected item; -1: a device added after the listed ones
        bool opens;
        QStringList error_mentions;
    };
    const Case cases[] = {
        { "fixed name in any case", "com1", 0, true, {} },
        { "stable device name", stable, -1, true, {} },
        { "unplugged adapter", "/dev/serial/by-id/usb-unplugged-if00-port0", -1, false,
          { QStringLiteral("无法打开串口\n串口 /dev/serial/by-id/usb-unplugged-if00-port0（无此设备）"),
            QStringLiteral("No such file or directory") } },
        { "COM name with no device", "COM9", 8, false,
          { QStringLiteral("无法打开串口\n串口 com9（无此设备）"), QStringLiteral("没有这个设备"), dir.path() } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        TForm1& f = make_form(false, [&](Engine::Options& o) { o.start_port = QString::fromStdString(c.port); });
        // Not a box: the operator asked for nothing; the list says it.
        EXPECT_TRUE(errors.isEmpty()) << errors_text().toStdString();
        const QStringList said = listed_with(QStringLiteral("未能打开"));
        if (c.index >= 0)
            EXPECT_EQ(f.port_box->currentIndex(), c.index);
        else
            EXPECT_EQ(f.port_box->currentText(), QString::fromStdString(c.port));
        EXPECT_EQ(comm().is_open(), c.opens);
        if (c.opens) {
            EXPECT_TRUE(said.isEmpty()) << said.join(QLatin1Char('\n')).toStdString();
            continue;
        }
        ASSERT_EQ(said.size(), 1) << listed().join(QLatin1Char('\n')).toStdString();
        for (const QString& m : c.error_mentions)
            EXPECT_TRUE(said[0].contains(m)) << said[0].toStdString() << " lacks " << m.toStdString();
        EXPECT_TRUE(f.port_device_label->text().contains(QStringLiteral("无此设备"))) << f.port_device_label->text().toStdString();
        EXPECT_TRUE(f.port_device_label->text().endsWith(QStringLiteral("（未打开）")));
    }
}

} // namespace

namespace {

// The port and baud-rate boxes over pseudo-terminals linked as com1, com10
// and com16: each choice reaches the engine, which closes, saves and reopens.
class SerialBoxes : public FormFixture {
protected:
    QByteArray saved() const
    {
        QFile file(dir.filePath(QStringLiteral("save.txt")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    bool frame_arrives(const PtyPort& port)
    {
        const std::string frame = "\x81\x81\xA4\x00\x00\x00\xA5\x00";
        engine().SComm1_485->SendData(frame.data(), static_cast<unsigned short>(frame.size()));
        return port.read(frame.size(), 2000) == std::string(frame.data(), frame.size());
    }
    const TSComm& comm() { return *engine().SComm1_485; }
};

} // namespace

TEST_F(SerialBoxes, PortItemsAndTypedTextsReachTheEngine)
{
    PtyPort com1(dir.filePath(QStringLiteral("com1")));
    PtyPort com10(dir.filePath(QStringLiteral("com10")));
    PtyPort com16(dir.filePath(QStringLiteral("com16")));
    ASSERT_TRUE(com1.linked && com10.linked && com16.linked);
    write_settings({ QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("3") });
    TForm1& f = make_form();
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(comm().is_open());

    const struct {
        const char* item;
        const char* name;
        const PtyPort* port;
        const char* saved;
    } choices[] = { { "COM10", "com10", &com10, "9\r\n1\r\n3\r\n" }, { "com16", "com16", &com16, "15\r\n1\r\n3\r\n" } };
    for (const auto& c : choices) {
        SCOPED_TRACE(c.item);
        f.ComboBox1->setCurrentIndex(f.ComboBox1->findText(QString::fromLatin1(c.item)));
        EXPECT_EQ(comm().CommName(), c.name);
        EXPECT_TRUE(comm().is_open());
        EXPECT_TRUE(frame_arrives(*c.port));
        EXPECT_EQ(saved(), c.saved);
        EXPECT_TRUE(f.port_device_label->text().startsWith(QString::fromLatin1(c.name) + QStringLiteral(" → ")))
            << f.port_device_label->text().toStdString();
        EXPECT_TRUE(f.port_device_label->text().endsWith(QStringLiteral("（已打开）")));
    }

    // Typing an item's text selects it; a text that is no item keeps the port
    // but still closes, saves and reopens.
    f.ComboBox1->setEditText(QStringLiteral("COM1"));
    EXPECT_EQ(comm().CommName(), "com1");
    EXPECT_EQ(saved(), "0\r\n1\r\n3\r\n");
    f.ComboBox1->setEditText(QStringLiteral("COM1x"));
    EXPECT_EQ(comm().CommName(), "com1");
    EXPECT_TRUE(frame_arrives(com1));
    // Enter does not make the typed text an item.
    const int items = f.ComboBox1->count();
    QTest::keyClick(f.ComboBox1->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(f.ComboBox1->count(), items);
    EXPECT_EQ(comm().CommName(), "com1");

    // The baud rate: a listed rate closes, saves and reopens at that rate; a
    // text typed half-way is no choice yet.
    f.ComboBox1->setEditText(QStringLiteral("COM1"));
    f.ComboBox2->setCurrentIndex(2);
    EXPECT_EQ(comm().BaudRate(), 19200u);
    EXPECT_EQ(com1.speed(), static_cast<speed_t>(B19200));
    EXPECT_EQ(saved(), "0\r\n2\r\n3\r\n");
    EXPECT_TRUE(frame_arrives(com1));
    f.ComboBox2->setEditText(QStringLiteral("96"));
    EXPECT_EQ(comm().BaudRate(), 19200u);
    EXPECT_TRUE(f.status_link->text().contains(QStringLiteral("19200 bps"))) << f.status_link->text().toStdString();
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

// Choosing the item the port box already shows reopens the port: after a
// failed open the operator may pick the same port again.
TEST_F(SerialBoxes, RechoosingTheCurrentPortItemReopensIt)
{
    TForm1& f = make_form(); // "com1" names no device: the open fails
    ASSERT_FALSE(comm().is_open());
    unlink_com1();
    PtyPort com1(dir.filePath(QStringLiteral("com1")));
    ASSERT_TRUE(com1.linked);
    // The box reports a choice of the current item only through `activated`.
    Q_EMIT f.ComboBox1->activated(f.ComboBox1->currentIndex());
    EXPECT_TRUE(comm().is_open());
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(f.PageControl2->isTabVisible(f.PageControl2->indexOf(f.TabSheet1)));
    EXPECT_TRUE(f.status_link->text().startsWith(QStringLiteral("已打开"))) << f.status_link->text().toStdString();
    EXPECT_TRUE(frame_arrives(com1));
}
