#include "error_box.h"
#include "form1.h"
#include "param_grid.h"
#include "port_box.h"
#include "iAnalogOutput.h"
#include "iIntegerOutput.h"
#include "iPlot.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

namespace {

const QColor kSkyBlue(166, 202, 240);

template <class W>
W* make(QWidget* parent, const char* name, int x, int y, int w, int h)
{
    auto* widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

QLabel* make_label(QWidget* parent, const QString& name, const QString& text, int x, int y, int w = 60,
                   int h = 18)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(x, y, w, h);
    return label;
}

QPushButton* make_button(QWidget* parent, const char* name, const QString& caption, int x, int y, int w,
                         int h = 28)
{
    auto* b = make<QPushButton>(parent, name, x, y, w, h);
    b->setText(caption);
    return b;
}

QComboBox* make_combo(QWidget* parent, const char* name, const QStringList& items, const QString& text,
                      int x, int y, int w)
{
    auto* c = make<QComboBox>(parent, name, x, y, w, 24);
    c->setEditable(true);
    c->addItems(items);
    c->setCurrentIndex(-1);
    c->setEditText(text);
    return c;
}

QStringList number_items(int from, int to)
{
    QStringList items;
    for (int i = from; i <= to; ++i)
        items << QString::number(i);
    return items;
}

void paint_background(QWidget* w, const QColor& colour)
{
    w->setAutoFillBackground(true);
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, colour);
    w->setPalette(pal);
}

// The form's entry-box font: 19 pixels, bold (the box's height follows it).
QFont entry_font()
{
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPixelSize(19);
    f.setBold(true);
    return f;
}

// An entry box of the control group: two decimals, -limit..limit, at most 6 characters.
TiAnalogOutput* make_value_entry(QWidget* parent, const char* name, int x, int y, double limit)
{
    auto* box = make<TiAnalogOutput>(parent, name, x, y, 120, 26);
    box->setFont(entry_font());
    box->SetPrecision(2);
    box->SetValueMin(-limit);
    box->SetValueMax(limit);
    box->SetMaxLength(6);
    return box;
}

QWidget* add_page(QTabWidget* control, const char* name, const QString& caption)
{
    auto* page = new QWidget;
    page->setObjectName(QString::fromLatin1(name));
    control->addTab(page, caption);
    return page;
}

}  // namespace

void TForm1::build_layout()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("AI仪表集中监控站"));
    QFont form_font(QStringLiteral("MS Sans Serif"));
    form_font.setPixelSize(11);
    setFont(form_font);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    setCentralWidget(Panel1);

    build_regions();
    build_pages();
    build_main_panel();
    build_instrument_panels();
    build_charts();
    build_address_page();
    build_parameter_page();
    build_settings_page();
    build_control_group();
    build_status_strip();
    build_about_page();
    build_menu();
    build_status_bar();
    connect_handlers();
}

void TForm1::build_regions()
{
    GroupBox3 = make<QGroupBox>(Panel1, "GroupBox3", 0, -8, 273, 361);
    paint_background(GroupBox3, kSkyBlue);
    Panel3 = make<QFrame>(Panel1, "Panel3", 0, 356, 273, 57);
    Panel3->setFrameStyle(QFrame::Panel | QFrame::Raised);
    GroupBox4 = make<QGroupBox>(Panel1, "GroupBox4", 0, 416, 273, 305);
    paint_background(GroupBox4, kSkyBlue);

    Panel2 = make<QFrame>(Panel1, "Panel2", 380, 6, 537, 41);
    Panel2->setFrameStyle(QFrame::NoFrame);
    banner_label = new QLabel(QStringLiteral("AI仪表集中监控站"), Panel2);
    banner_label->setObjectName(QStringLiteral("banner_label"));
    banner_label->setGeometry(0, 0, 537, 41);
    banner_label->setAlignment(Qt::AlignCenter);
    QFont banner_font(QStringLiteral("楷体_GB2312"));
    banner_font.setPixelSize(37);
    banner_font.setBold(true);
    banner_label->setFont(banner_font);
    banner_label->setStyleSheet(QStringLiteral("color: rgb(0, 128, 0);"));

    PageControl1 = make<QTabWidget>(Panel1, "PageControl1", 272, 56, 737, 297);
    PageControl2 = make<QTabWidget>(Panel1, "PageControl2", 272, 352, 735, 370);
    QFont tab_font(QStringLiteral("楷体_GB2312"));
    tab_font.setPixelSize(21);
    // Eight Kai captions of 21 pixels must fit the lower control's 735 pixels.
    const QString tab_style = QStringLiteral("QTabBar::tab { padding: 3px 5px; }");
    for (QTabWidget* control : {PageControl1, PageControl2}) {
        control->tabBar()->setFont(tab_font);
        control->setStyleSheet(tab_style);
        control->setUsesScrollButtons(false);
    }
}

void TForm1::build_pages()
{
    TabSheet10 = add_page(PageControl1, "TabSheet10", QStringLiteral("在线AI"));
    TabSheet2 = add_page(PageControl1, "TabSheet2", QStringLiteral("读写参数"));
    TabSheet3 = add_page(PageControl1, "TabSheet3", QStringLiteral("系统设置"));
    TabSheet4 = add_page(PageControl1, "TabSheet4", QStringLiteral("数据显示1"));
    TabSheet6 = add_page(PageControl1, "TabSheet6", QStringLiteral("数据显示2"));
    TabSheet5 = add_page(PageControl1, "TabSheet5", QStringLiteral("数据显示3"));
    TabSheet12 = add_page(PageControl1, "TabSheet12", QStringLiteral("about"));

    TabSheet7 = add_page(PageControl2, "TabSheet7", QStringLiteral("波形0-3"));
    TabSheet8 = add_page(PageControl2, "TabSheet8", QStringLiteral("波形4-7"));
    TabSheet9 = add_page(PageControl2, "TabSheet9", QStringLiteral("波形8-11"));
    TabSheet13 = add_page(PageControl2, "TabSheet13", QStringLiteral("数据浏览"));
    TabSheet14 = add_page(PageControl2, "TabSheet14", QStringLiteral("仪表参数"));
    TabSheet1 = add_page(PageControl2, "TabSheet1", QStringLiteral("偏差0-3"));
    TabSheet11 = add_page(PageControl2, "TabSheet11", QStringLiteral("偏差4-7"));
    TabSheet15 = add_page(PageControl2, "TabSheet15", QStringLiteral("偏差8-11"));

    // The two deviation pages appear once the port has been opened at start-up.
    PageControl2->setTabVisible(PageControl2->indexOf(TabSheet1), false);
    PageControl2->setTabVisible(PageControl2->indexOf(TabSheet11), false);
    // The form opens on these two pages; start-up switches the upper one.
    PageControl1->setCurrentWidget(TabSheet4);
    PageControl2->setCurrentWidget(TabSheet15);
}

void TForm1::build_address_page()
{
    // Nine group boxes of ten address boxes: GroupBox35 holds 0..9, GroupBox43 80..89.
    for (int g = 0; g < 9; ++g) {
        auto* box = new QGroupBox(TabSheet10);
        box->setObjectName(QStringLiteral("GroupBox%1").arg(35 + g));
        box->setGeometry(4 + g * 66, 4, 62, 228);
        address_groups[static_cast<size_t>(g)] = box;
        for (int i = 0; i < 10; ++i) {
            const int address = g * 10 + i;
            auto* check = new QCheckBox(QString::number(address), box);
            check->setObjectName(QStringLiteral("CheckBox%1").arg(address + 1));
            check->setGeometry(10, 10 + i * 21, 48, 20);
            addr_check[static_cast<size_t>(address)] = check;
        }
    }
    make_label(TabSheet10, QStringLiteral("Label_limit"), QStringLiteral("地址上限"), 604, 20, 120);
    ComboBox10 = make_combo(TabSheet10, "ComboBox10", number_items(1, 90), QStringLiteral("8"), 604, 42, 110);
    Button_scan = make_button(TabSheet10, "Button_scan", QStringLiteral(" 巡     扫"), 604, 90, 110, 40);
}

void TForm1::build_parameter_page()
{
    StringGrid1 = create_param_grid(TabSheet2);
    StringGrid1->setGeometry(2, 2, 604, 256);
    StringGrid1->OnSetEditText = guarded(
        [this](int col, int row, const QString& text) { StringGrid1SetEditText(col, row, text); });
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
        if (PageControl1->widget(index) == TabSheet2)
            run_guarded([this] { TabSheet2Show(); });
    });
    const int x = 612;
    Button3 = make_button(TabSheet2, "Button3", QStringLiteral("遍读"), x, 2, 110, 24);
    Button1 = make_button(TabSheet2, "Button1", QStringLiteral("读一列"), x, 28, 110, 24);
    Button4 = make_button(TabSheet2, "Button4", QStringLiteral("停止"), x, 54, 110, 24);
    Button14 = make_button(TabSheet2, "Button14", QStringLiteral("写一列"), x, 80, 110, 24);
    Button12 = make_button(TabSheet2, "Button12", QStringLiteral("选择写"), x, 106, 110, 24);
    build_param_set_buttons(x, 136);
    Label15 = make_label(TabSheet2, QStringLiteral("Label15"), QStringLiteral("等待"), x, 188, 120, 30);
    Label15->setWordWrap(true);
    Label67 = make_label(TabSheet2, QStringLiteral("Label67"), QString(), x, 218, 120, 16);
    run_progress = make<QProgressBar>(TabSheet2, "run_progress", x, 236, 110, 16);
    run_progress->setRange(0, 1);
    run_progress->setValue(0);
    run_progress->setTextVisible(true);
    // What the last write's read-backs came to; the whole list in its tooltip.
    verify_label = make_label(TabSheet2, QStringLiteral("verify_label"), QString(), x, 252, 120, 16);
    Label72 = make_label(TabSheet2, QStringLiteral("Label72"), QStringLiteral("Label73"), x, 246, 60);
    Label72->setVisible(false);
}

void TForm1::build_settings_page()
{
    GroupBox8 = make<QGroupBox>(TabSheet3, "GroupBox8", 4, 4, 200, 168);
    GroupBox8->setTitle(QStringLiteral("串口"));
    make_label(GroupBox8, QStringLiteral("Label_port"), QStringLiteral("串口"), 10, 26, 50);
    // COM1 .. COM15, com16, then the serial devices of this machine.
    port_box = make<PortBox>(GroupBox8, "ComboBox1", 70, 22, 110, 24);
    port_box->setEditable(true);
    port_box->setCurrentIndex(0);
    port_box->refresh_devices();
    ComboBox1 = port_box;
    make_label(GroupBox8, QStringLiteral("Label_baud"), QStringLiteral("波特率"), 10, 60, 50);
    ComboBox2 = make_combo(GroupBox8, "ComboBox2", {QStringLiteral("4800"), QStringLiteral("9600"),
                                                    QStringLiteral("19200")},
                           QStringLiteral("19200"), 70, 56, 110);
    ComboBox2->setCurrentIndex(2);
    port_device_label = make_label(GroupBox8, QStringLiteral("port_device_label"), QString(), 10, 88, 180, 76);
    port_device_label->setWordWrap(true);
    port_device_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    port_device_label->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* files = make<QGroupBox>(TabSheet3, "GroupBox_data_folder", 4, 176, 200, 78);
    files->setTitle(QStringLiteral("数据文件夹"));
    data_folder_label = make_label(files, QStringLiteral("data_folder_label"), QString(), 8, 20, 184, 54);
    data_folder_label->setWordWrap(true);
    data_folder_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    data_folder_label->setTextInteractionFlags(Qt::TextSelectableByMouse);

    GroupBox5 = make<QGroupBox>(TabSheet3, "GroupBox5", 208, 4, 250, 250);
    GroupBox5->setTitle(QStringLiteral("仪表"));
    make_label(GroupBox5, QStringLiteral("Label_old"), QStringLiteral("原地址"), 10, 26, 50);
    ComboBox8 = make_combo(GroupBox5, "ComboBox8", number_items(0, 90), QStringLiteral("0"), 64, 22, 70);
    make_label(GroupBox5, QStringLiteral("Label_new"), QStringLiteral("新地址"), 10, 56, 50);
    ComboBox4 = make_combo(GroupBox5, "ComboBox4", number_items(0, 90), QStringLiteral("1"), 64, 52, 70);
    Button15 = make_button(GroupBox5, "Button15", QStringLiteral("写地址"), 144, 34, 96);
    auto* baud_entry = make<QGroupBox>(GroupBox5, "GroupBox_baud_entry", 10, 84, 124, 56);
    baud_entry->setTitle(QStringLiteral("波特率输入"));
    ComboBox5 = make_combo(baud_entry, "ComboBox5", {QStringLiteral("4800"), QStringLiteral("9600"),
                                                     QStringLiteral("19200")},
                           QStringLiteral("19200"), 8, 22, 108);
    ComboBox5->setCurrentIndex(2);
    Button16 = make_button(GroupBox5, "Button16", QStringLiteral("写波特率"), 144, 100, 96);
    make_label(GroupBox5, QStringLiteral("Label_period"), QStringLiteral("采样周期"), 10, 160, 60);
    iIntegerOutput1 = make<TiIntegerOutput>(GroupBox5, "iIntegerOutput1", 74, 152, 70, 24);
    iIntegerOutput1->setFont(entry_font());
    iIntegerOutput1->SetValue(2);
    make_label(GroupBox5, QStringLiteral("Label_seconds"), QStringLiteral("秒"), 150, 160, 30);
    resume_check = new QCheckBox(QStringLiteral("重新启动后恢复巡检"), GroupBox5);
    resume_check->setObjectName(QStringLiteral("resume_check"));
    resume_check->setGeometry(10, 196, 230, 24);
    resume_check->setToolTip(QStringLiteral("启动时不经巡扫，直接巡检上次找到的仪表"));
    confirm_check = new QCheckBox(QStringLiteral("发送命令前确认"), GroupBox5);
    confirm_check->setObjectName(QStringLiteral("confirm_check"));
    confirm_check->setGeometry(10, 222, 230, 24);
    confirm_check->setToolTip(QStringLiteral("运行、手动、停止、给定值、手动调功和写地址、写波特率发送前先询问"));
    confirm_check->setChecked(true);

    GroupBox12 = make<QGroupBox>(TabSheet3, "GroupBox12", 462, 4, 266, 250);
    GroupBox12->setTitle(QStringLiteral("命令监测"));
    make_label(GroupBox12, QStringLiteral("Label_sent"), QStringLiteral("发送"), 8, 20, 60);
    Memo1 = make<QPlainTextEdit>(GroupBox12, "Memo1", 8, 38, 250, 70);
    make_label(GroupBox12, QStringLiteral("Label_received"), QStringLiteral("接收"), 8, 112, 60);
    Memo2 = make<QPlainTextEdit>(GroupBox12, "Memo2", 8, 130, 250, 70);
    for (QPlainTextEdit* memo : {Memo1, Memo2}) {
        memo->setReadOnly(true);
        // A line per request and per reply: over months of polling an unbounded
        // log would eat the memory; the newest lines are what an operator reads.
        memo->setMaximumBlockCount(kMemoLines);
        memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    }
    Edit1 = make<QLineEdit>(GroupBox12, "Edit1", 8, 210, 120, 24);
    Edit2 = make<QLineEdit>(GroupBox12, "Edit2", 138, 210, 120, 24);
}

void TForm1::build_control_group()
{
    Button5 = make_button(GroupBox4, "Button5", QStringLiteral("RUN/HOLD"), 12, 24, 80, 32);
    Button6 = make_button(GroupBox4, "Button6", QStringLiteral("HAND"), 96, 24, 80, 32);
    Button7 = make_button(GroupBox4, "Button7", QStringLiteral("STOP"), 180, 24, 80, 32);
    iAnalogOutput1 = make_value_entry(GroupBox4, "iAnalogOutput1", 12, 84, 110);
    Button8 = make_button(GroupBox4, "Button8", QStringLiteral("手动调功"), 150, 80, 110, 32);
    iAnalogOutput2 = make_value_entry(GroupBox4, "iAnalogOutput2", 12, 134, 9999);
    Button9 = make_button(GroupBox4, "Button9", QStringLiteral("给定值"), 150, 130, 110, 32);
    make_label(GroupBox4, QStringLiteral("Label_ctrl_addr"), QStringLiteral("控制地址"), 12, 190, 70);
    ComboBox7 = make_combo(GroupBox4, "ComboBox7", {}, QStringLiteral("0"), 90, 186, 80);
    // The chart covers its page; the box sits in its title row, right of the
    // chart's toolbar, so that every toolbar button stays reachable.
    const QRect toolbar = iPlot[4]->toolbar_rect().translated(iPlot[4]->pos());
    ComboBox6 = make_combo(TabSheet11, "ComboBox6", {}, QString(), toolbar.right() + 10, toolbar.top() - 3, 80);
}

void TForm1::build_status_strip()
{
    make_kai_label(Panel3, QStringLiteral("Label_comm"), QStringLiteral("通讯状态"), 34, 8);
    make_kai_label(Panel3, QStringLiteral("Label_addr_caption"), QStringLiteral("地址"), 124, 4);
    Label28 = make_label(Panel3, QStringLiteral("Label28"), QStringLiteral("0"), 124, 30, 50, 22);
    make_kai_label(Panel3, QStringLiteral("Label_seg_caption"), QStringLiteral("程序段"), 190, 4);
    Label16 = make_label(Panel3, QStringLiteral("Label16"), QStringLiteral("1"), 190, 30, 60, 22);
    QFont big = Label28->font();
    big.setPixelSize(16);
    big.setBold(true);
    Label28->setFont(big);
    Label16->setFont(big);
}

void TForm1::build_menu()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    auto add = [this](QMenu* menu, const char* name, const QString& text, void (TForm1::*handler)(QObject*)) {
        QAction* action = menu->addAction(text);
        action->setObjectName(QString::fromLatin1(name));
        if (handler)
            connect(action, &QAction::triggered, this,
                    [this, handler, action] { run_guarded([&] { (this->*handler)(action); }); });
        return action;
    };
    QMenu* settings = bar->addMenu(QStringLiteral("系统设置"));
    settings->setObjectName(QStringLiteral("N1"));
    add(settings, "N2", QStringLiteral("设置"), &TForm1::N2Click);
    add(settings, "N5", QStringLiteral("地址寻扫"), &TForm1::N5Click);
    add(settings, "N6", QStringLiteral("给定值"), nullptr);
    QAction* health_item = settings->addAction(QStringLiteral("总线状态"));
    health_item->setObjectName(QStringLiteral("health_item"));
    connect(health_item, &QAction::triggered, this, [this] { run_guarded([this] { show_health_view(); }); });
    QAction* mqtt_item = settings->addAction(QStringLiteral("MQTT 发布"));
    mqtt_item->setObjectName(QStringLiteral("mqtt_item"));
    connect(mqtt_item, &QAction::triggered, this, [this] { run_guarded([this] { show_mqtt_dialog(); }); });

    QMenu* params = bar->addMenu(QStringLiteral("读写参数"));
    params->setObjectName(QStringLiteral("N7"));
    add(params, "N8", QStringLiteral("读写命令"), nullptr);
    add(params, "N9", QStringLiteral("读参数"), &TForm1::N9Click);
    add_param_set_actions(params);

    QMenu* display = bar->addMenu(QStringLiteral("显示"));
    display->setObjectName(QStringLiteral("N4"));
    add(display, "N141", QStringLiteral("数据显示1"), &TForm1::N141Click);
    add(display, "N581", QStringLiteral("数据显示2"), &TForm1::N581Click);
    add(display, "N9121", QStringLiteral("数据显示3"), &TForm1::N9121Click);
    QAction* messages_item = display->addAction(QStringLiteral("消息"));
    messages_item->setObjectName(QStringLiteral("messages_item"));
    connect(messages_item, &QAction::triggered, this, [this] { run_guarded([this] { show_message_list(); }); });
    QAction* commands_item = display->addAction(QStringLiteral("控制命令记录"));
    commands_item->setObjectName(QStringLiteral("commands_item"));
    connect(commands_item, &QAction::triggered, this, [this] { run_guarded([this] { show_command_list(); }); });
    QAction* history_item = display->addAction(QStringLiteral("历史曲线"));
    history_item->setObjectName(QStringLiteral("history_item"));
    connect(history_item, &QAction::triggered, this, [this] { run_guarded([this] { show_history_view(); }); });

    // Clicking the top item "帮助" itself shows the about page; its items open too.
    help_menu = bar->addMenu(QStringLiteral("帮助"));
    help_menu->setObjectName(QStringLiteral("about1"));
    connect(help_menu, &QMenu::aboutToShow, this, [this] { run_guarded([this] { about1Click(help_menu); }); });
    add(help_menu, "N11", QStringLiteral("帮助"), &TForm1::N11Click);
    add(help_menu, "N10", QStringLiteral("关于"), &TForm1::N10Click);

    QAction* exit_item = bar->addAction(QStringLiteral("退出"));
    exit_item->setObjectName(QStringLiteral("N3"));
    connect(exit_item, &QAction::triggered, this, [this, exit_item] { run_guarded([&] { N3Click(exit_item); }); });
}

void TForm1::connect_click(QPushButton* button, void (TForm1::*handler)(QObject*))
{
    connect(button, &QPushButton::clicked, this,
            [this, button, handler] { run_guarded([&] { (this->*handler)(button); }); });
}

void TForm1::connect_handlers()
{
    for (int a = 0; a < 12; ++a) {
        QCheckBox* box = addr_check[static_cast<size_t>(a)];
        connect(box, &QCheckBox::clicked, this, [this, box] { run_guarded([&] { checkbox_change(box); }); });
    }
    connect_click(Button_scan, &TForm1::Button_scanClick);
    // The address limit counts once the operator commits it; a typed text
    // never becomes an item of its list (a refused one would stay there).
    ComboBox10->setInsertPolicy(QComboBox::NoInsert);
    connect(ComboBox10->lineEdit(), &QLineEdit::editingFinished, this,
        [this] { run_guarded([this] { ComboBox10Commit(); }); });
    connect(ComboBox10, &QComboBox::activated, this, [this] { run_guarded([this] { ComboBox10Commit(); }); });
    connect_run_handlers();
    connect_control_handlers();
}
