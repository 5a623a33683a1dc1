// The main panel, the twelve instrument panels and their widget tables, the
// slot rule and the alarm LEDs.
#include "form1.h"
#include "icolors.h"
#include "iLabel.h"
#include "iLedRectangle.h"
#include "iLedRound.h"
#include "iSevenSegmentAnalog.h"
#include "ifonts.h"
#include "status_bits.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QCheckBox>
#include <QComboBox>
#include <QSignalBlocker>

#include <algorithm>

namespace {

// The form's segment colour 65408: red 128, green 255, blue 0.
constexpr TColor kSegmentColor = 65408;

struct SlotWidgets {
    const char* box;
    int sv, pv, mv, val;  // iSevenSegmentAnalogN
    int first_led;        // iLedRectangleN .. N+5
    int run_led;          // iLedRoundN
    int number_label, segment_label;  // LabelN
};

// Slot 1..12 in order: slots 1-4 on 数据显示1, 5-8 on 数据显示2, 9-12 on 数据显示3.
const SlotWidgets kSlots[12] = {
    {"GroupBox9", 1, 2, 3, 5, 7, 2, 75, 77},      {"GroupBox2", 6, 7, 8, 10, 13, 3, 22, 79},
    {"GroupBox10", 11, 12, 13, 15, 19, 4, 23, 81}, {"GroupBox11", 16, 17, 18, 20, 25, 5, 24, 82},
    {"GroupBox14", 21, 22, 23, 24, 31, 6, 25, 83}, {"GroupBox16", 25, 26, 27, 28, 37, 7, 30, 84},
    {"GroupBox18", 29, 30, 31, 32, 43, 8, 34, 87}, {"GroupBox20", 33, 34, 35, 36, 49, 9, 36, 88},
    {"GroupBox23", 37, 38, 39, 40, 61, 11, 78, 89}, {"GroupBox30", 41, 42, 43, 44, 67, 12, 40, 90},
    {"GroupBox32", 45, 46, 47, 48, 73, 13, 42, 91}, {"GroupBox1", 4, 9, 14, 19, 55, 10, 43, 92},
};

QString name_of(const char* prefix, int n) { return QString::fromLatin1(prefix) + QString::number(n); }

TiSevenSegmentAnalog* make_display(QWidget* parent, const QString& name, int digits, int segment_size)
{
    auto* d = new TiSevenSegmentAnalog(parent);
    d->setObjectName(name);
    d->SetAutoSize(false);
    d->SetDigitCount(digits);
    d->SetSegmentSize(segment_size);
    d->SetSegmentColor(tcolor(kSegmentColor));
    d->SetShowOffSegments(false);
    d->SetBorderStyle(ibsLowered);
    d->SetBackGroundColor(Qt::black);
    return d;
}

QLabel* caption(QWidget* parent, const QString& text, int x, int y, int w = 40, int h = 18)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("caption_") + text);
    label->setGeometry(x, y, w, h);
    return label;
}

}  // namespace

TiLabel* make_kai_label(QWidget* parent, const QString& name, const QString& text, int x, int y)
{
    auto* label = new TiLabel(parent);
    label->setObjectName(name);
    label->setFont(kai_caption_font());
    label->SetCaption(text);
    label->move(x, y);
    return label;
}

void TForm1::build_main_panel()
{
    const char* captions[] = {"SV", "PV", "MV", "Time"};
    const char* names[] = {"iSevenSegmentAnalog_sv", "iSevenSegmentAnalog_pv", "iSevenSegmentAnalog_mv",
                           "iSevenSegmentAnalog_val"};
    const int digits[] = {6, 6, 5, 7};
    TiSevenSegmentAnalog** displays[] = {&iSevenSegmentAnalog_sv, &iSevenSegmentAnalog_pv,
                                         &iSevenSegmentAnalog_mv, &iSevenSegmentAnalog_val};
    QFont big_caption = font();
    big_caption.setPixelSize(16);
    big_caption.setBold(true);
    for (int i = 0; i < 4; ++i) {
        const int y = 22 + i * 64;
        caption(GroupBox3, QString::fromLatin1(captions[i]), 8, y + 14, 44, 20)->setFont(big_caption);
        *displays[i] = make_display(GroupBox3, QString::fromLatin1(names[i]), digits[i], 2);
        const QSize size = (*displays[i])->preferred_size();
        (*displays[i])->setGeometry(52, y, size.width(), size.height());
    }
    iSevenSegmentAnalog_sv->setToolTip(QStringLiteral("测量值"));
    main_stale_label = new QLabel(GroupBox3);
    main_stale_label->setObjectName(QStringLiteral("main_stale_label"));
    main_stale_label->setGeometry(52, 8, 215, 14);
    main_stale_label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    main_stale_label->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0); font-weight: bold;"));
    main_stale_label->setVisible(false);

    for (int k = 0; k < kAlarmBitCount; ++k) {
        auto* led = new TiLedRectangle(GroupBox3);
        led->setObjectName(name_of("iLedRectangle", k + 1));
        led->SetActiveColor(tcolor(clRed));
        led->setGeometry(20 + k * 42, 290, 20, 20);
        main_alarm_led[static_cast<size_t>(k)] = led;
        const std::string_view name = alarm_name(kFirstAlarmBit + k);
        auto* label = caption(GroupBox3, QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())),
                              9 + k * 42, 314, 42);
        label->setAlignment(Qt::AlignHCenter);
    }

    iLedRound1 = new TiLedRound(Panel3);
    iLedRound1->setObjectName(QStringLiteral("iLedRound1"));
    iLedRound1->SetActiveColor(tcolor(clRed));
    iLedRound1->setGeometry(6, 6, 25, 25);
}

void TForm1::build_instrument_panels()
{
    QWidget* pages[3] = {TabSheet4, TabSheet6, TabSheet5};
    for (int p = 0; p < 3; ++p) {
        const char* rows[] = {"SV", "PV", "MV", p == 0 ? "Time" : "VAL", "ALM"};
        for (int r = 0; r < 5; ++r)
            caption(pages[p], QString::fromLatin1(rows[r]), 2, 24 + r * 40 + (r == 4 ? 8 : 0), 34);
    }
    for (int s = 1; s <= 12; ++s) {
        const SlotWidgets& w = kSlots[s - 1];
        QWidget* page = pages[(s - 1) / 4];
        auto* box = new QGroupBox(page);
        box->setObjectName(QString::fromLatin1(w.box));
        box->setGeometry(38 + ((s - 1) % 4) * 172, 0, 153, 257);
        box->setVisible(false);
        const int numbers[] = {w.sv, w.pv, w.mv, w.val};
        const int digits[] = {6, 6, 5, 6};
        for (int i = 0; i < 4; ++i) {
            auto* d = make_display(box, name_of("iSevenSegmentAnalog", numbers[i]), digits[i], 1);
            d->setGeometry(8, 12 + i * 40, 137, 41);
            if (i < 2)
                d->SetPrecision(3);
            if (i == 3)
                d->SetShowSign(false);
        }
        auto* leds = new QGroupBox(box);
        leds->setObjectName(QStringLiteral("GroupBox_alarm_%1").arg(s));
        leds->setGeometry(8, 172, 137, 30);
        for (int k = 0; k < 6; ++k) {
            auto* led = new TiLedRectangle(leds);
            led->setObjectName(name_of("iLedRectangle", w.first_led + k));
            led->SetActiveColor(tcolor(clRed));
            led->setGeometry(6 + k * 21, 6, 20, 20);
        }
        make_kai_label(box, QStringLiteral("caption_地址"), QStringLiteral("地址"), 8, 206);
        auto* number = new QLabel(QStringLiteral("0"), box);
        number->setObjectName(name_of("Label", w.number_label));
        number->setGeometry(8, 230, 46, 20);
        make_kai_label(box, QStringLiteral("caption_程序段"), QStringLiteral("程序段"), 56, 206);
        auto* segment = new QLabel(QStringLiteral("1"), box);
        segment->setObjectName(name_of("Label", w.segment_label));
        segment->setGeometry(56, 230, 40, 20);
        auto* silent = new QLabel(QStringLiteral("无应答"), box);
        silent->setObjectName(QStringLiteral("silent_label_%1").arg(s));
        silent->setGeometry(30, 0, 118, 13);
        silent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        silent->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0); font-weight: bold;"));
        silent->setToolTip(QStringLiteral("连续三轮巡检没有应答，或串口未打开：所示为最后收到的数值"));
        silent->setVisible(false);
        silent_label[static_cast<size_t>(s)] = silent;
        auto* run_lamp = new TiLedRound(box);
        run_lamp->setObjectName(name_of("iLedRound", w.run_led));
        run_lamp->setToolTip(QStringLiteral("运行状态"));
        run_lamp->SetActiveColor(tcolor(clRed));
        run_lamp->setGeometry(122, 214, 25, 25);
    }
}

void TForm1::init_isevensegmentanlaog()
{
    for (int s = 1; s <= 12; ++s) {
        const SlotWidgets& w = kSlots[s - 1];
        auto display = [this](int n) {
            return findChild<TiSevenSegmentAnalog*>(name_of("iSevenSegmentAnalog", n));
        };
        sv_disp[static_cast<size_t>(s)] = display(w.sv);
        pv_disp[static_cast<size_t>(s)] = display(w.pv);
        mv_disp[static_cast<size_t>(s)] = display(w.mv);
        val_disp[static_cast<size_t>(s)] = display(w.val);
        for (int k = 1; k <= 6; ++k)
            alarm_led[static_cast<size_t>((s - 1) * 6 + k)]
                = findChild<TiLedRectangle*>(name_of("iLedRectangle", w.first_led + k - 1));
        run_led[static_cast<size_t>(s)] = findChild<TiLedRound*>(name_of("iLedRound", w.run_led));
        panel_label[static_cast<size_t>(s)] = findChild<QLabel*>(name_of("Label", w.number_label));
        segment_label[static_cast<size_t>(s)] = findChild<QLabel*>(name_of("Label", w.segment_label));
        panel_box[static_cast<size_t>(s - 1)] = findChild<QGroupBox*>(QString::fromLatin1(w.box));
    }
}

int TForm1::get_dis_pos(int address) const
{
    int n = 0;
    for (int a : roster.addresses)
        if (a <= address)
            ++n;
    return n;
}

bool gethexbit(std::uint8_t value, int bit)
{
    if (bit < 0 || bit > 7)
        return false;
    return (static_cast<std::uint8_t>(value << (7 - bit)) & 0x80) != 0;
}

void TForm1::dis_alarm(int panel, std::uint8_t alarm)
{
    if (panel < 0 || panel > 11)
        return;
    for (int k = 1; k <= 6; ++k)
        alarm_led[static_cast<size_t>(panel * 6 + k)]->SetActive(gethexbit(alarm, k + 1));
}

void TForm1::set_comm_led(bool lit) { iLedRound1->SetActive(lit); }

void TForm1::show_reply(const ReplyShown& r)
{
    // The main panel shows every valid reply.
    main_panel_address = r.address;
    if (r.arrived.isValid())
        last_reply_at[r.address] = r.arrived;
    iSevenSegmentAnalog_sv->SetPrecision(r.sv_precision);
    iSevenSegmentAnalog_pv->SetPrecision(r.pv_precision);
    iSevenSegmentAnalog_sv->SetValue(r.sv);
    iSevenSegmentAnalog_pv->SetValue(r.pv);
    iSevenSegmentAnalog_mv->SetValue(r.mv);
    iSevenSegmentAnalog_val->SetValue(r.val);
    for (int k = 0; k < 6; ++k)
        main_alarm_led[static_cast<size_t>(k)]->SetActive(gethexbit(r.alarm, k + 2));

    const bool panel = r.slot >= 1 && r.slot <= 12;
    const auto slot = static_cast<size_t>(r.slot);
    if (r.has_segment) {
        Label16->setText(r.segment);
        if (panel)
            segment_label[slot]->setText(r.segment);
    }
    if (r.run_state >= 0 && panel) {
        TiLedRound* led = run_led[slot];
        if (r.run_state == 0) {
            led->SetActiveColor(tcolor(clRed));
            led->SetActive(true);
        } else if (r.run_state == 1) {
            led->SetActive(false);
        } else {
            led->SetActiveColor(tcolor(clGreen));
            led->SetActive(true);
        }
    }
    if (r.kind != RequestKind::Poll)
        return;
    // A poll reads code 0: its value is the manual output MP.
    const bool first = control_values.find(r.address) == control_values.end();
    control_values[r.address] = { r.sv, static_cast<double>(r.val) };
    bool number = false;
    if (first && ComboBox7->currentText().trimmed().toInt(&number) == r.address && number)
        load_control_values(r.address);
    plot_reply(r);
    if (!panel)
        return;
    sv_disp[slot]->SetPrecision(r.sv_precision);
    pv_disp[slot]->SetPrecision(r.pv_precision);
    sv_disp[slot]->SetValue(r.sv);
    mv_disp[slot]->SetValue(r.mv);
    pv_disp[slot]->SetValue(r.pv);
    dis_alarm(r.slot - 1, r.alarm);
    val_disp[slot]->SetValue(r.val);
    panel_label[slot]->setText(QString::number(r.address));
}

void TForm1::show_roster(const RosterShown& shown)
{
    roster = shown;
    // The boxes tick what is polled; during a scan they are locked.
    std::array<bool, 90> ticked {};
    for (int a : shown.addresses)
        if (a >= 0 && a < 90)
            ticked[static_cast<size_t>(a)] = true;
    for (size_t a = 0; a < addr_check.size(); ++a) {
        const QSignalBlocker blocker(addr_check[a]);
        addr_check[a]->setChecked(ticked[a]);
    }
    for (QGroupBox* group : address_groups)
        group->setEnabled(!shown.scanning);
    // A window that comes after the start lists what the engine polls.
    if (ComboBox7->count() == 0 && !shown.scanning)
        for (int a : shown.addresses)
            add_found_address(a);
    const int panels = std::min(shown.inst_count, 12);
    for (int k = 0; k < 12; ++k)
        panel_box[static_cast<size_t>(k)]->setVisible(k < panels);
    if (shown.relabel)
        for (int k = 0; k < panels; ++k)
            panel_label[static_cast<size_t>(k + 1)]->setText(QString::number(k) + QStringLiteral("#仪表"));
    show_silence(status.silent);
    // A restarted station shows the last hours of what it polls at once.
    if (!charts_preloaded && !shown.addresses.empty() && !shown.scanning) {
        charts_preloaded = true;
        preload_charts();
    }
}

namespace {

// "无应答，12 秒前": why the values are old, and how old.
QString stale_text(bool open, const std::map<int, QDateTime>& seen, int address, const QDateTime& now)
{
    const QString why = open ? QStringLiteral("无应答") : QStringLiteral("已断开");
    const auto it = seen.find(address);
    if (it == seen.end())
        return why;
    const qint64 s = std::max<qint64>(0, it->second.secsTo(now));
    const QString age = s < 120 ? QStringLiteral("%1 秒").arg(s)
        : s < 7200             ? QStringLiteral("%1 分钟").arg(s / 60)
                               : QStringLiteral("%1 小时").arg(s / 3600);
    return why + QStringLiteral("，") + age + QStringLiteral("前");
}

} // namespace

void TForm1::set_displays_live(const std::vector<TiSevenSegmentAnalog*>& displays, bool live)
{
    const QColor colour = live ? tcolor(kSegmentColor) : QColor(110, 110, 110);
    for (TiSevenSegmentAnalog* d : displays)
        if (d->SegmentColor() != colour)
            d->SetSegmentColor(colour);
}

// A panel whose instrument has not answered its last three polls, and every
// panel while the port is not open, shows its last values greyed, with why
// and how old they are.
void TForm1::show_silence(const std::vector<int>& silent)
{
    const QDateTime now = QDateTime::currentDateTime();
    const auto is_silent = [&](int address) {
        return !link.open || std::find(silent.begin(), silent.end(), address) != silent.end();
    };
    for (size_t s = 1; s <= 12; ++s) {
        const bool polled = s <= roster.addresses.size();
        const int address = polled ? roster.addresses[s - 1] : -1;
        const bool stale = polled && is_silent(address);
        silent_label[s]->setVisible(stale);
        if (stale)
            silent_label[s]->setText(stale_text(link.open, last_reply_at, address, now));
        set_displays_live({ sv_disp[s], pv_disp[s], mv_disp[s], val_disp[s] }, !stale);
    }
    const bool main_stale = main_panel_address >= 0 && is_silent(main_panel_address);
    main_stale_label->setVisible(main_stale);
    if (main_stale)
        main_stale_label->setText(QStringLiteral("仪表 %1 ").arg(main_panel_address)
            + stale_text(link.open, last_reply_at, main_panel_address, now) + QStringLiteral("的数值"));
    set_displays_live({ iSevenSegmentAnalog_sv, iSevenSegmentAnalog_pv, iSevenSegmentAnalog_mv,
                          iSevenSegmentAnalog_val },
        !main_stale);
}
