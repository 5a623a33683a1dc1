#pragma once
// A fixture folder standing in for /sys and /dev: ttys with or without
// hardware behind them, device files, and /dev/serial/by-id links.
#include "port_list.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>

class DeviceTree {
public:
    DeviceTree()
        : root_(std::filesystem::temp_directory_path() / ("device_tree_" + std::to_string(::getpid()) + "_"
                                                          + std::to_string(counter()++)))
    {
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "sys" / "class" / "tty");
        std::filesystem::create_directories(root_ / "dev" / "serial" / "by-id");
    }
    ~DeviceTree() { std::filesystem::remove_all(root_); }
    DeviceTree(const DeviceTree&) = delete;
    DeviceTree& operator=(const DeviceTree&) = delete;

    DeviceRoots roots() const { return { (root_ / "sys").string(), (root_ / "dev").string() }; }
    std::string dev(const std::string& name) const { return (root_ / "dev" / name).string(); }

    // A tty in sysfs: `hardware` gives it a device link, `type` a serial-core
    // type attribute (UARTs), `node` a device file in /dev, or a link to
    // `node_target` (a pseudo-terminal standing in for the device).
    void tty(const std::string& name, bool hardware, std::optional<std::string> type = std::nullopt,
             bool node = true, const std::string& node_target = {})
    {
        const auto dir = root_ / "sys" / "class" / "tty" / name;
        std::filesystem::create_directories(dir);
        if (hardware)
            std::filesystem::create_directories(dir / "device");
        if (type)
            std::ofstream(dir / "type") << *type << "\n";
        if (node && node_target.empty())
            std::ofstream(root_ / "dev" / name).put('\0');
        else if (node)
            std::filesystem::create_symlink(node_target, root_ / "dev" / name);
    }
    // A stable name as udev makes it: a relative link to the kernel name.
    std::string by_id(const std::string& id, const std::string& kernel_name)
    {
        const auto link = root_ / "dev" / "serial" / "by-id" / id;
        std::filesystem::create_symlink("../../" + kernel_name, link);
        return link.string();
    }
    // The device is unplugged: its tty, its device file and its stable name go.
    void unplug(const std::string& kernel_name, const std::string& id)
    {
        std::filesystem::remove_all(root_ / "sys" / "class" / "tty" / kernel_name);
        std::filesystem::remove(root_ / "dev" / kernel_name);
        std::filesystem::remove(root_ / "dev" / "serial" / "by-id" / id);
    }

private:
    static int& counter()
    {
        static int n = 0;
        return n;
    }
    std::filesystem::path root_;
};
