#include "port_box.h"

#include <QAbstractItemView>
#include <QFileInfo>
#include <QSignalBlocker>

namespace {

// The device file a path leads to, for telling two names of one device apart.
QString device_file(const QString& path)
{
    const QString real = QFileInfo(path).canonicalFilePath();
    return real.isEmpty() ? path : real;
}

} // namespace

PortBox::PortBox(QWidget* parent) : QComboBox(parent)
{
    QStringList names;
    for (int i = 1; i < kFixedCount; ++i)
        names << QStringLiteral("COM%1").arg(i);
    names << QStringLiteral("com%1").arg(kFixedCount);
    addItems(names);
}

void PortBox::refresh_devices()
{
    const QSignalBlocker blocker(this);
    const int selected = currentIndex();
    const QString kept = selected >= kFixedCount ? itemText(selected) : QString();
    const QString text = currentText();
    while (count() > kFixedCount)
        removeItem(count() - 1);
    for (const SerialDevice& device : list_serial_devices(roots_)) {
        const QString path = QString::fromStdString(device.path);
        addItem(path);
        setItemData(count() - 1, QString::fromStdString(device.kernel_name), Qt::ToolTipRole);
    }
    int index = selected;
    if (!kept.isEmpty()) {
        index = findText(kept, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index < 0)
            index = add_device(kept);
    }
    setCurrentIndex(index);
    setEditText(text);
    // The open list shows every item, and stable names (long) whole.
    setMaxVisibleItems(count());
    view()->setMinimumWidth(view()->sizeHintForColumn(0) + 24);
}

std::string PortBox::port_name(int index) const
{
    if (index < 0 || index >= count())
        return {};
    if (index < kFixedCount)
        return "com" + std::to_string(index + 1);
    return itemText(index).toStdString();
}

int PortBox::select_port(const QString& name)
{
    const QSignalBlocker blocker(this);
    int index = -1;
    for (int i = 0; i < kFixedCount && index < 0; ++i)
        if (itemText(i).compare(name, Qt::CaseInsensitive) == 0)
            index = i;
    for (int i = kFixedCount; i < count() && index < 0; ++i)
        if (itemText(i) == name || device_file(itemText(i)) == device_file(name))
            index = i;
    if (index < 0)
        index = add_device(name);
    setCurrentIndex(index);
    return index;
}

int PortBox::add_device(const QString& path)
{
    addItem(path);
    return count() - 1;
}

void PortBox::showPopup()
{
    refresh_devices();
    QComboBox::showPopup();
}
