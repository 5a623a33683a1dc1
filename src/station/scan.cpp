// The address page: the address boxes, the address limit and the scan
// button, and the found instruments joining the address lists.
#include "convert.h"
#include "engine.h"
#include "engine_host.h"
#include "errors.h"
#include "form1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSignalBlocker>

void TForm1::checkbox_change(QCheckBox* box)
{
    if (roster.scanning)
        return;
    for (int a = 0; a < 12; ++a) {
        if (addr_check[static_cast<size_t>(a)] == box) {
            const bool ticked = box->isChecked();
            ask([a, ticked](Engine& e) { e.checkbox_change(a, ticked); }, "地址");
        }
    }
}

void TForm1::Button_scanClick(QObject*)
{
    // The limit is the one the box last committed; a box holding no number
    // has been refused already and the engine keeps its last good value.
    ComboBox10Commit();
    ask([](Engine& e) { e.start_scan(); }, "巡扫");
}

// The address limit as the operator commits it (Enter, leaving the box, a
// chosen item): a whole number 1 .. 90, or refused at the box with the last
// good value restored.
void TForm1::ComboBox10Commit()
{
    const QString text = ComboBox10->currentText().trimmed();
    int limit = 0;
    try {
        limit = str_to_int(text.toStdString());
    } catch (const EConvertError&) {
        limit = -1;
    }
    if (limit < 1 || limit > 90) {
        const int kept = last_address_limit;
        {
            const QSignalBlocker blocker(ComboBox10);
            ComboBox10->setEditText(QString::number(kept));
        }
        throw EStationError("地址上限 '" + text.toStdString() + "' 不是 1 到 90 之间的整数，仍为 " + std::to_string(kept));
    }
    last_address_limit = limit;
    ask([limit](Engine& e) { e.set_address_limit(limit); }, "地址");
}

// Appends an item to an editable box without touching its text (adding the
// first item would otherwise select it and replace what the operator typed).
static void append_item(QComboBox* box, const QString& item)
{
    const QString text = box->currentText();
    const QSignalBlocker blocker(box);
    box->addItem(item);
    box->setCurrentIndex(-1);
    box->setEditText(text);
}

void TForm1::add_found_address(int address)
{
    append_item(ComboBox6, QString::number(address));
    append_item(ComboBox7, QString::number(address));
}
