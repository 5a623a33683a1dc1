// Serial devices and port names on Linux, read from sysfs and /dev.
//
// A tty is a serial device when sysfs gives it a `device` link (virtual
// consoles, pseudo-terminals and other software ttys have none). The 8250
// driver also registers UART slots that have no chip behind them; sysfs
// reports those with `type` 0, and opening them fails or, worse, succeeds on
// nothing, so they are left out.
#include "port_list.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <system_error>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

bool entry_exists(const fs::path& p)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec));
}

bool target_exists(const fs::path& p)
{
    std::error_code ec;
    return fs::exists(p, ec);
}

// The first line of a small sysfs attribute, or nothing when it cannot be read.
std::optional<std::string> read_attribute(const fs::path& p)
{
    std::ifstream in(p);
    std::string line;
    if (!in || !std::getline(in, line))
        return std::nullopt;
    return line;
}

// True when sysfs shows hardware behind the tty `name`.
bool has_hardware(const DeviceRoots& roots, const std::string& name)
{
    const fs::path dir = fs::path(roots.sys) / "class" / "tty" / name;
    if (!entry_exists(dir / "device"))
        return false;
    // UART slots without a chip: the serial core reports type 0 (unknown).
    const auto type = read_attribute(dir / "type");
    return !type || *type != "0";
}

// Kernel name -> stable name under <dev>/serial/by-id (the first in name
// order when a device has several).
std::map<std::string, std::string> stable_names(const DeviceRoots& roots)
{
    std::map<std::string, std::string> names;
    const fs::path dir = fs::path(roots.dev) / "serial" / "by-id";
    std::error_code ec;
    std::vector<fs::path> links;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        links.push_back(it->path());
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links) {
        std::error_code read_ec;
        const fs::path target = fs::read_symlink(link, read_ec);
        if (!read_ec)
            names.emplace(target.filename().string(), link.string());
    }
    return names;
}

// Natural order: "ttyS2" < "ttyS10" < "ttyUSB0".
bool natural_less(const std::string& a, const std::string& b)
{
    auto split = [](const std::string& s) {
        std::size_t i = s.size();
        while (i > 0 && std::isdigit(static_cast<unsigned char>(s[i - 1])))
            --i;
        const std::string digits = s.substr(i);
        return std::make_pair(s.substr(0, i), digits.empty() ? -1L : std::stol(digits.substr(0, 9)));
    };
    return split(a) < split(b);
}

// N of "comN" (any case, N from 1 to 9999), or nothing for any other name.
std::optional<unsigned> com_number(const std::string& name)
{
    if (name.size() < 4 || name.size() > 7)
        return std::nullopt;
    for (int i = 0; i < 3; ++i) {
        if (std::tolower(static_cast<unsigned char>(name[static_cast<std::size_t>(i)])) != "com"[i])
            return std::nullopt;
    }
    unsigned n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return std::nullopt;
        n = n * 10 + static_cast<unsigned>(name[i] - '0');
    }
    if (n == 0)
        return std::nullopt;
    return n;
}

std::string canonical_or_same(const fs::path& p)
{
    std::error_code ec;
    const fs::path real = fs::canonical(p, ec);
    return ec ? p.string() : real.string();
}

PortTarget found(const fs::path& device)
{
    return { device.string(), canonical_or_same(device), {} };
}

PortTarget none(std::string why)
{
    return { {}, {}, std::move(why) };
}

} // namespace

std::vector<SerialDevice> list_serial_devices(const DeviceRoots& roots)
{
    const auto stable = stable_names(roots);
    std::vector<SerialDevice> devices;
    std::error_code ec;
    const fs::path class_dir = fs::path(roots.sys) / "class" / "tty";
    for (fs::directory_iterator it(class_dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!has_hardware(roots, name) || !entry_exists(fs::path(roots.dev) / name))
            continue;
        const auto by_id = stable.find(name);
        devices.push_back({ by_id != stable.end() ? by_id->second : (fs::path(roots.dev) / name).string(), name });
    }
    std::sort(devices.begin(), devices.end(),
        [](const SerialDevice& a, const SerialDevice& b) { return natural_less(a.kernel_name, b.kernel_name); });
    return devices;
}

PortTarget resolve_port(const std::string& name, const DeviceRoots& roots)
{
    if (name.empty())
        return none("没有选择串口");
    const auto n = com_number(name);
    if (!n) {
        struct stat st;
        if (::stat(name.c_str(), &st) != 0)
            return none(std::strerror(errno));
        return found(name);
    }
    const std::string link = "com" + std::to_string(*n);
    if (entry_exists(link)) {
        if (target_exists(link))
            return found(canonical_or_same(link));
        std::error_code ec;
        return none(fs::current_path(ec).string() + " 中的 " + link + " 指向 "
            + fs::read_symlink(link, ec).string() + "，该设备不存在");
    }
    const fs::path usb = fs::path(roots.dev) / ("ttyUSB" + std::to_string(*n - 1));
    if (entry_exists(usb))
        return found(usb);
    const std::string uart_name = "ttyS" + std::to_string(*n - 1);
    const fs::path uart = fs::path(roots.dev) / uart_name;
    const bool uart_file = entry_exists(uart);
    if (uart_file && has_hardware(roots, uart_name))
        return found(uart);
    std::error_code ec;
    return none("没有这个设备（" + fs::current_path(ec).string() + " 中没有 " + link + "，没有 " + usb.string()
        + (uart_file ? "，" + uart.string() + " 后面没有串口芯片）" : "，没有 " + uart.string() + "）"));
}
