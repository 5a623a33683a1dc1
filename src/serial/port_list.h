#pragma once
// The serial devices present on this machine, and the device a port name
// stands for. On Linux both come from sysfs (/sys/class/tty) and /dev, with
// the stable /dev/serial/by-id names that udev gives USB adapters; the roots
// are parameters so that a fixture folder can stand in for the system.
#include <string>
#include <vector>

// Where the system's device tree is read from.
struct DeviceRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
};

// One serial device present now.
struct SerialDevice {
    // What to open and show: <dev>/serial/by-id/<name> when udev made a stable
    // name for the device, else <dev>/<kernel_name>.
    std::string path;
    std::string kernel_name; // ttyUSB0, ttyACM0, ttyS0, ttyAMA0 ...
};

// USB serial adapters, USB modems (ACM) and UARTs with hardware behind them,
// in natural order of their kernel names (ttyS2 before ttyS10). Virtual
// consoles, pseudo-terminals and the UART slots the kernel reserves without
// hardware (type 0 in sysfs) are not serial devices. An unreadable tree gives
// an empty list.
std::vector<SerialDevice> list_serial_devices(const DeviceRoots& roots = {});

// The device a port name stands for.
struct PortTarget {
    std::string device; // what to open; empty when the name stands for no device
    std::string node; // the device file behind `device` (links followed)
    std::string why_none; // when `device` is empty: why, naming what was looked for
};

// "comN" (any case, N from 1): a file or link "comN" in the working directory
// wins (a user links it to any device; the simulator links it to its
// pseudo-terminal); otherwise <dev>/ttyUSB<N-1> when present; otherwise
// <dev>/ttyS<N-1> when a UART is behind it; otherwise no device.
// Any other name is a path: it stands for itself when it exists.
PortTarget resolve_port(const std::string& name, const DeviceRoots& roots = {});
