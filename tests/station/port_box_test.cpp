// The port selector with the serial devices of a fixture tree: the fixed
// names keep their places, the devices follow and are listed again when the
// list opens, a chosen device is remembered by its path, and a port given at
// start opens or says why it cannot.
#include "device_tree.h"
#include "port_box.h"
#include "serial_fixture.h"
#include "station_settings.h"

#include <QFile>
#include <QLabel>

#include <string>

namespace {

class PortBoxTest : public SerialSettings {
protected:
    void SetUp() override
    {
        SerialSettings::SetUp();
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
    EXPECT_EQ(f.SComm1_485->CommName(), "com1") << "listing changes no setting";

    // Choosing the adapter opens it under its stable name and remembers it by path.
    f.port_box->setCurrentIndex(17);
    ASSERT_TRUE(errors.isEmpty()) << errors_text().toStdString();
    EXPECT_EQ(f.SComm1_485->CommName(), stable);
    EXPECT_TRUE(frame_arrives(f, adapter));
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
    EXPECT_TRUE(f.SComm1_485->is_open());

    // Back on a fixed name, the device is forgotten.
    f.port_box->setCurrentIndex(0);
    EXPECT_EQ(f.SComm1_485->CommName(), "com1");
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
        ASSERT_TRUE(f.SComm1_485->is_open());
        f.close();
        owned_form.reset();
    }
    ASSERT_EQ(saved(), "17\r\n1\r\n3\r\n");
    // The new window lists this machine's devices, not the fixture's.
    TForm1& f = make_form();
    ASSERT_TRUE(errors.isEmpty()) << errors_text().toStdString();
    EXPECT_EQ(f.SComm1_485->CommName(), stable);
    EXPECT_TRUE(frame_arrives(f, adapter));

    // Without the remembered path, an index past the fixed names names no
    // port: the default (COM1) stands, and the file and the line are named.
    f.close();
    owned_form.reset();
    ASSERT_TRUE(QFile::remove(dir.filePath(kStationSettingsFileName)));
    errors.clear();
    TForm1& again = make_form();
    EXPECT_EQ(again.port_box->currentIndex(), 0);
    EXPECT_EQ(again.SComm1_485->CommName(), "com1");
    EXPECT_TRUE(errors.join(QLatin1Char('\n')).contains(
        QStringLiteral("设置文件 %1 第 1 行 '17' 超出范围，该项使用默认值").arg(dir.filePath(QStringLiteral("save.txt")))))
        << errors_text().toStdString();
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
          { QStringLiteral("Error opening serial port\n串口 /dev/serial/by-id/usb-unplugged-if00-port0（无此设备）"),
            QStringLiteral("No such file or directory") } },
        { "COM name with no device", "COM9", 8, false,
          { QStringLiteral("Error opening serial port\n串口 com9（无此设备）"), QStringLiteral("no such device"), dir.path() } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        owned_form.reset();
        errors.clear();
        owned_form = std::make_unique<TForm1>(nullptr, QString::fromStdString(c.port));
        TForm1& f = *owned_form;
        if (c.index >= 0)
            EXPECT_EQ(f.port_box->currentIndex(), c.index);
        else
            EXPECT_EQ(f.port_box->currentText(), QString::fromStdString(c.port));
        EXPECT_EQ(f.SComm1_485->is_open(), c.opens);
        if (c.opens) {
            EXPECT_TRUE(errors.isEmpty()) << errors_text().toStdString();
            continue;
        }
        ASSERT_EQ(errors.size(), 1);
        for (const QString& m : c.error_mentions)
            EXPECT_TRUE(errors[0].contains(m)) << errors[0].toStdString() << " lacks " << m.toStdString();
        EXPECT_TRUE(f.port_device_label->text().contains(QStringLiteral("无此设备"))) << f.port_device_label->text().toStdString();
        EXPECT_TRUE(f.port_device_label->text().endsWith(QStringLiteral("（未打开）")));
    }
}

} // namespace
