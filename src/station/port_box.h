#pragma once
// The port selector ComboBox1: the fixed names "COM1" .. "COM15", "com16"
// (items 0..15, the indexes save.txt stores), then the serial devices present
// on this machine, by their /dev/serial/by-id names where they have one. The
// devices are listed again each time the list is opened.
#include "port_list.h"

#include <QComboBox>
#include <string>

class PortBox : public QComboBox {
    Q_OBJECT
public:
    static constexpr int kFixedCount = 16;

    explicit PortBox(QWidget* parent = nullptr);

    // Where the devices are read from (tests point it at a fixture tree).
    void set_device_roots(const DeviceRoots& roots) { roots_ = roots; }

    // Lists the devices again. The selected item and the shown text stay,
    // a selected device that has gone stays in the list, and no change signal
    // is raised.
    void refresh_devices();

    // The port name item `index` opens: "com<index+1>" for the fixed names,
    // the device path for a device; "" for no item.
    std::string port_name(int index) const;

    // Selects the item a name stands for, without raising a change signal:
    // "COM3" and "com3" select the fixed name; a path selects the device
    // listed under it (or under the stable name that links to it), and is
    // added to the list when none is. Returns the selected index.
    int select_port(const QString& name);

    // Lists the devices again, then opens the list.
    void showPopup() override;

private:
    int add_device(const QString& path);

    DeviceRoots roots_;
};
