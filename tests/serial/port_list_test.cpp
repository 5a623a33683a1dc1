// The serial devices found in a fixture tree standing in for /sys and /dev,
// and what port names stand for.
#include "device_tree.h"
#include "errors.h"
#include "port_list.h"
#include "scomm.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Runs the test in a temporary working directory, where comN links live.
class PortNames : public ::testing::Test {
protected:
    void SetUp() override
    {
        old_cwd_ = fs::current_path();
        cwd_ = fs::temp_directory_path() / ("port_names_" + std::to_string(::getpid()));
        fs::remove_all(cwd_);
        fs::create_directories(cwd_);
        fs::current_path(cwd_);
    }
    void TearDown() override
    {
        fs::current_path(old_cwd_);
        fs::remove_all(cwd_);
    }
    fs::path old_cwd_, cwd_;
    DeviceTree tree;
};

TEST_F(PortNames, DevicesWithHardwareAreListedByStableNameInNaturalOrder)
{
    tree.tty("ttyUSB0", true);
    const std::string ftdi = tree.by_id("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
    tree.tty("ttyUSB1", true); // no stable name
    tree.tty("ttyACM0", true);
    const std::string acm = tree.by_id("usb-Arduino_Uno_7543-if00", "ttyACM0");
    tree.tty("ttyS0", true, "4"); // a 16550A
    tree.tty("ttyS1", true, "0"); // a slot without a chip
    tree.tty("ttyS10", true, "4");
    tree.tty("ttyS2", true, "4");
    tree.tty("tty1", false); // virtual console
    tree.tty("ttyUSB2", true, std::nullopt, false); // no device file (yet)

    std::vector<std::pair<std::string, std::string>> listed;
    for (const SerialDevice& d : list_serial_devices(tree.roots()))
        listed.emplace_back(d.kernel_name, d.path);
    const std::vector<std::pair<std::string, std::string>> expected = {
        { "ttyACM0", acm },
        { "ttyS0", tree.dev("ttyS0") },
        { "ttyS2", tree.dev("ttyS2") },
        { "ttyS10", tree.dev("ttyS10") },
        { "ttyUSB0", ftdi },
        { "ttyUSB1", tree.dev("ttyUSB1") },
    };
    EXPECT_EQ(listed, expected);
}

TEST_F(PortNames, AMissingTreeListsNothing)
{
    EXPECT_TRUE(list_serial_devices({ "/nonexistent/sys", "/nonexistent/dev" }).empty());
}

TEST_F(PortNames, NamesResolveToLinksThenUsbThenUartsOrToNothingWithTheReason)
{
    fs::create_symlink("/dev/null", "com3");
    fs::create_symlink((cwd_ / "gone").string(), "com5");
    tree.tty("ttyUSB0", true);
    tree.tty("ttyS1", true, "0"); // com2: a UART slot without a chip
    tree.tty("ttyS3", true, "4"); // com4: a real UART
    const std::string stable = tree.by_id("usb-FTDI_X-if00-port0", "ttyUSB0");

    struct Case {
        const char* name;
        std::string device; // "" = no device
        std::string node;
        std::vector<std::string> reason_mentions;
    };
    const std::string here = cwd_.string();
    const Case cases[] = {
        { "com3", "/dev/null", "/dev/null", {} },
        { "COM3", "/dev/null", "/dev/null", {} },
        { "com1", tree.dev("ttyUSB0"), tree.dev("ttyUSB0"), {} },
        { "com4", tree.dev("ttyS3"), tree.dev("ttyS3"), {} },
        { "com2", "", "", { "com2", here, tree.dev("ttyUSB1"), tree.dev("ttyS1") + " 后面没有串口芯片" } },
        { "com7", "", "", { "com7", tree.dev("ttyUSB6"), "没有 " + tree.dev("ttyS6") } },
        { "com5", "", "", { "com5", (cwd_ / "gone").string(), "该设备不存在" } },
        { stable.c_str(), stable, tree.dev("ttyUSB0"), {} },
        { "/dev/serial/by-id/usb-unplugged", "", "", { "No such file or directory" } },
        { "com0", "", "", { "No such file or directory" } }, // not a port number: a path
        { "comport", "", "", { "No such file or directory" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PortTarget t = resolve_port(c.name, tree.roots());
        EXPECT_EQ(t.device, c.device);
        EXPECT_EQ(t.node, c.node);
        EXPECT_EQ(t.why_none.empty(), !c.device.empty()) << t.why_none;
        for (const std::string& m : c.reason_mentions)
            EXPECT_NE(t.why_none.find(m), std::string::npos) << t.why_none << " lacks " << m;
    }
}

TEST_F(PortNames, OpeningANameWithoutDeviceSaysSoAndOpensNothing)
{
    for (const char* name : { "com99", "/dev/serial/by-id/usb-unplugged" }) {
        SCOPED_TRACE(name);
        TSComm comm;
        comm.SetCommName(name);
        try {
            comm.OpenComm();
            ADD_FAILURE() << "opened";
        } catch (const ECommsError& e) {
            const std::string text = e.what();
            EXPECT_EQ(text.rfind(std::string("无法打开串口\n串口 ") + name + "（无此设备）：设备不存在", 0), 0u)
                << text;
        }
        EXPECT_FALSE(comm.is_open());
    }
}

} // namespace
