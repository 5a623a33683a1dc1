// Widget gallery: the seven-segment displays, lamps, captions and entry boxes
// with the settings of the station's main window, side by side, so their look
// can be checked by eye. With --screenshot <file.png> it saves the window and
// exits.
#include "iAnalogOutput.h"
#include "iIntegerOutput.h"
#include "iLabel.h"
#include "iLedRectangle.h"
#include "iLedRound.h"
#include "iSevenSegmentAnalog.h"
#include "icolors.h"
#include "ifonts.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

namespace {

TiLabel* kai_label(const QString& caption)
{
    auto* label = new TiLabel;
    label->setFont(kai_caption_font());
    label->SetCaption(caption);
    return label;
}

// A display as the form sets it: form colour, off segments hidden, lowered border.
TiSevenSegmentAnalog* display(int digits, int precision, double value, int segment_size, bool sign = true)
{
    auto* d = new TiSevenSegmentAnalog;
    d->SetSegmentColor(tcolor(65408));
    d->SetShowOffSegments(false);
    d->SetBorderStyle(ibsLowered);
    d->SetDigitCount(digits);
    d->SetPrecision(precision);
    d->SetSegmentSize(segment_size);
    d->SetShowSign(sign);
    d->SetValue(value);
    return d;
}

TiLedRectangle* alarm_led(bool lit)
{
    auto* led = new TiLedRectangle;
    led->SetActiveColor(tcolor(clRed));
    led->SetActive(lit);
    led->setFixedSize(20, 20);
    return led;
}

TiLedRound* round_led(TColor colour, bool lit)
{
    auto* led = new TiLedRound;
    led->SetActiveColor(tcolor(colour));
    led->SetInactiveColor(QColor(64, 0, 0));
    led->SetActive(lit);
    led->setFixedSize(25, 25);
    return led;
}

QWidget* main_panel()
{
    auto* box = new QGroupBox(QStringLiteral("主面板 (SegmentSize 2)"));
    auto* grid = new QGridLayout(box);
    const struct {
        const char* caption;
        int digits, precision;
        double value;
    } rows[] = { { "SV", 6, 1, 250.0 }, { "PV", 6, 1, 248.7 }, { "MV", 5, 0, 56 }, { "Time", 7, 1, -12.5 } };
    int row = 0;
    for (const auto& r : rows) {
        grid->addWidget(kai_label(QString::fromUtf8(r.caption)), row, 0);
        grid->addWidget(display(r.digits, r.precision, r.value, 2), row, 1, 1, 7, Qt::AlignLeft);
        ++row;
    }
    const char* alarms[] = { "Rdy", "LdAL", "HdAL", "LoAL", "HIAL", "oraL" };
    grid->addWidget(kai_label(QStringLiteral("ALM")), row, 0);
    for (int k = 0; k < 6; ++k) {
        auto* cell = new QVBoxLayout;
        cell->addWidget(alarm_led(k == 0 || k == 4), 0, Qt::AlignHCenter);
        auto* caption = new QLabel(QString::fromUtf8(alarms[k]));
        caption->setAlignment(Qt::AlignHCenter);
        cell->addWidget(caption);
        grid->addLayout(cell, row, 1 + k);
    }
    ++row;
    auto* status = new QHBoxLayout;
    status->addWidget(round_led(clRed, true));
    status->addWidget(kai_label(QStringLiteral("通讯状态")));
    status->addSpacing(16);
    status->addWidget(kai_label(QStringLiteral("地址")));
    status->addWidget(kai_label(QStringLiteral("12")));
    status->addSpacing(16);
    status->addWidget(kai_label(QStringLiteral("程序段")));
    status->addWidget(kai_label(QStringLiteral("3")));
    status->addStretch();
    grid->addLayout(status, row, 0, 1, 8);
    return box;
}

// One instrument panel: four fixed-size displays, six alarm lamps, address,
// program segment and the run-state lamp.
QWidget* instrument_panel(const QString& title, double sv, double pv, int mv, double val, int alarm_bits,
    TColor run_colour, bool running)
{
    auto* box = new QGroupBox(title);
    box->setFixedSize(153, 257);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(8, 4, 8, 4);
    column->setSpacing(0);
    const struct {
        int digits, precision;
        double value;
        bool sign;
    } rows[] = { { 6, 3, sv, true }, { 6, 3, pv, true }, { 5, 0, double(mv), true }, { 6, 2, val, false } };
    for (const auto& r : rows) {
        auto* d = display(r.digits, r.precision, r.value, 1, r.sign);
        d->SetAutoSize(false);
        d->SetSegmentMargin(3);
        d->setFixedSize(137, 41);
        column->addWidget(d);
    }
    auto* leds = new QHBoxLayout;
    for (int k = 0; k < 6; ++k)
        leds->addWidget(alarm_led((alarm_bits >> (k + 2)) & 1));
    column->addSpacing(4);
    column->addLayout(leds);
    auto* bottom = new QGridLayout;
    bottom->addWidget(kai_label(QStringLiteral("地址")), 0, 0);
    bottom->addWidget(kai_label(QStringLiteral("程序段")), 0, 1);
    bottom->addWidget(kai_label(QStringLiteral("1")), 1, 0);
    bottom->addWidget(kai_label(QStringLiteral("2")), 1, 1);
    bottom->addWidget(round_led(run_colour, running), 0, 2, 2, 1);
    column->addLayout(bottom);
    return box;
}

QWidget* lamps()
{
    auto* box = new QGroupBox(QStringLiteral("Lamps"));
    auto* grid = new QGridLayout(box);
    const struct {
        const char* caption;
        TColor colour;
        bool lit;
    } rows[] = { { "red lit", clRed, true }, { "red unlit", clRed, false }, { "yellow lit", clYellow, true },
        { "yellow unlit", clYellow, false }, { "green lit", clGreen, true },
        { "green unlit", clGreen, false } };
    int col = 0;
    for (const auto& r : rows) {
        grid->addWidget(round_led(r.colour, r.lit), 0, col, Qt::AlignHCenter);
        auto* rect = alarm_led(r.lit);
        rect->SetActiveColor(tcolor(r.colour));
        grid->addWidget(rect, 1, col, Qt::AlignHCenter);
        auto* caption = new QLabel(QString::fromUtf8(r.caption));
        caption->setAlignment(Qt::AlignHCenter);
        grid->addWidget(caption, 2, col);
        ++col;
    }
    return box;
}

QWidget* displays_edge_cases()
{
    auto* box = new QGroupBox(QStringLiteral("Overflow, sign, off segments"));
    auto* grid = new QGridLayout(box);
    const struct {
        const char* caption;
        double value;
        bool show_off;
    } rows[] = { { "999.9996", 999.9996, false }, { "-1000", -1000, false },
        { "-3.2, off segments shown", -3.2, true } };
    int row = 0;
    for (const auto& r : rows) {
        grid->addWidget(new QLabel(QString::fromUtf8(r.caption)), row, 0);
        auto* d = display(6, 3, r.value, 1);
        d->SetShowOffSegments(r.show_off);
        grid->addWidget(d, row, 1, Qt::AlignLeft);
        ++row;
    }
    return box;
}

QWidget* entry_boxes()
{
    auto* box = new QGroupBox(QStringLiteral("Entry boxes"));
    auto* grid = new QGridLayout(box);
    QFont bold;
    bold.setPixelSize(19);
    bold.setBold(true);

    auto* out1 = new TiAnalogOutput;
    out1->setObjectName(QStringLiteral("iAnalogOutput1"));
    out1->setFont(bold);
    out1->SetPrecision(2);
    out1->SetValueMin(-110);
    out1->SetValueMax(110);
    out1->SetMaxLength(6);
    out1->SetValue(45.5);
    auto* out2 = new TiAnalogOutput;
    out2->setObjectName(QStringLiteral("iAnalogOutput2"));
    out2->setFont(bold);
    out2->SetPrecision(2);
    out2->SetValueMin(-9999);
    out2->SetValueMax(9999);
    out2->SetMaxLength(6);
    out2->SetValue(9999);
    auto* period = new TiIntegerOutput;
    period->setObjectName(QStringLiteral("iIntegerOutput1"));
    period->setFont(bold);
    period->SetValue(2);

    const std::pair<const char*, TiEditCustom*> rows[]
        = { { "手动输出 (±110)", out1 }, { "设定值 (±9999)", out2 }, { "采样周期 (s)", period } };
    int row = 0;
    for (const auto& [caption, edit] : rows) {
        grid->addWidget(new QLabel(QString::fromUtf8(caption)), row, 0);
        grid->addWidget(edit, row, 1);
        ++row;
    }
    return box;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    install_font_substitutions();

    QString screenshot;
    const QStringList args = QApplication::arguments();
    const int at = args.indexOf(QStringLiteral("--screenshot"));
    if (at >= 0 && at + 1 < args.size())
        screenshot = args.at(at + 1);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Widget gallery"));
    auto* top = new QHBoxLayout(&window);
    auto* left = new QVBoxLayout;
    left->addWidget(main_panel());
    left->addWidget(displays_edge_cases());
    left->addWidget(lamps());
    left->addWidget(entry_boxes());
    left->addStretch();
    top->addLayout(left);
    top->addWidget(
        instrument_panel(QStringLiteral("1#仪表"), 25.4, 24.95, 37, 1.5, 0xFC, clRed, true), 0, Qt::AlignTop);
    top->addWidget(instrument_panel(QStringLiteral("2#仪表"), -3.2, 999.9996, 0, 12.34, 0x84, clGreen, true),
        0, Qt::AlignTop);
    top->addWidget(
        instrument_panel(QStringLiteral("3#仪表"), 0, 0, 0, 0, 0x00, clYellow, false), 0, Qt::AlignTop);
    window.show();
    window.setFocus();

    if (!screenshot.isEmpty()) {
        QTimer::singleShot(200, &window, [&] {
            const bool ok = window.grab().save(screenshot);
            QApplication::exit(ok ? 0 : 1);
        });
    }
    return app.exec();
}
