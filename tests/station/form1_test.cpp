#include "alarm_page.h"
#include "form_fixture.h"
#include "help_window.h"
#include "iAnalogOutput.h"
#include "iIntegerOutput.h"
#include "iLabel.h"
#include "iLedRectangle.h"
#include "iLedRound.h"
#include "iPlot.h"
#include "ifonts.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList captions(QTabWidget* control)
{
    QStringList list;
    for (int i = 0; i < control->count(); ++i)
        list << control->widget(i)->objectName() + QLatin1Char('=') + control->tabText(i);
    return list;
}

QAction* action(TForm1& form, const char* name)
{
    return form.findChild<QAction*>(QString::fromLatin1(name));
}

using Form1Test = FormFixture;

}  // namespace

TEST_F(Form1Test, PagesInTabOrderWithTheirCaptions)
{
    TForm1& form = make_form();
    EXPECT_EQ(form.objectName(), "Form1");
    EXPECT_EQ(captions(form.PageControl1),
              (QStringList{"TabSheet10=在线AI", "TabSheet2=读写参数", "TabSheet3=系统设置", "TabSheet4=数据显示1",
                           "TabSheet6=数据显示2", "TabSheet5=数据显示3", "TabSheet12=about",
                           "TabSheet_alarm=报警记录", "TabSheet_active=报警一览"}));
    EXPECT_EQ(captions(form.PageControl2),
              (QStringList{"TabSheet7=波形0-3", "TabSheet8=波形4-7", "TabSheet9=波形8-11", "TabSheet13=数据浏览",
                           "TabSheet14=仪表参数", "TabSheet1=偏差0-3", "TabSheet11=偏差4-7",
                           "TabSheet15=偏差8-11"}));
    // Start-up has switched the upper control; the lower one stays where the form opened it.
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet10);
    EXPECT_EQ(form.PageControl2->currentWidget(), form.TabSheet15);
    EXPECT_EQ(form.size(), QSize(1030, 800));
    EXPECT_FALSE(form.Button3->isEnabled());
    EXPECT_FALSE(form.Button12->isEnabled());
    EXPECT_FALSE(form.Button14->isEnabled());
    EXPECT_TRUE(form.Button1->isEnabled());
    EXPECT_TRUE(form.Button4->isEnabled());
}

TEST_F(Form1Test, RegionsAtTheirPlaces)
{
    TForm1& form = make_form();
    EXPECT_EQ(form.GroupBox3->geometry(), QRect(0, -8, 273, 361));
    EXPECT_EQ(form.Panel3->geometry(), QRect(0, 356, 273, 57));
    EXPECT_EQ(form.GroupBox4->geometry(), QRect(0, 416, 273, 305));
    EXPECT_EQ(form.Panel2->geometry(), QRect(380, 6, 537, 41));
    EXPECT_EQ(form.PageControl1->geometry(), QRect(272, 56, 737, 297));
    EXPECT_EQ(form.PageControl2->geometry(), QRect(272, 352, 735, 370));
}

TEST_F(Form1Test, AddressBoxesTenToAGroup)
{
    TForm1& form = make_form();
    for (int a = 0; a < 90; ++a) {
        QCheckBox* box = form.addr_check[static_cast<size_t>(a)];
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->objectName(), QStringLiteral("CheckBox%1").arg(a + 1));
        EXPECT_EQ(box->text(), QString::number(a));
        EXPECT_FALSE(box->isChecked());
        EXPECT_EQ(box->parent()->objectName(), QStringLiteral("GroupBox%1").arg(35 + a / 10));
    }
    EXPECT_EQ(form.Button_scan->text(), " 巡     扫");
}

TEST_F(Form1Test, MenuItemsSwitchPages)
{
    TForm1& form = make_form();
    errors.clear();
    const struct {
        const char* item;
        QWidget* TForm1::*page;
    } cases[] = {{"N2", &TForm1::TabSheet3},    {"N5", &TForm1::TabSheet10},  {"N9", &TForm1::TabSheet2},
                 {"N141", &TForm1::TabSheet4},  {"N581", &TForm1::TabSheet6}, {"N9121", &TForm1::TabSheet5},
                 {"N10", &TForm1::TabSheet12}};
    for (const auto& c : cases) {
        form.PageControl1->setCurrentWidget(form.TabSheet3 == form.*c.page ? form.TabSheet4 : form.TabSheet3);
        action(form, c.item)->trigger();
        EXPECT_EQ(form.PageControl1->currentWidget(), form.*c.page) << c.item;
    }
    // The two items without a handler change nothing.
    for (const char* item : {"N6", "N8"}) {
        form.PageControl1->setCurrentWidget(form.TabSheet4);
        form.PageControl2->setCurrentWidget(form.TabSheet7);
        action(form, item)->trigger();
        EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet4) << item;
        EXPECT_EQ(form.PageControl2->currentWidget(), form.TabSheet7) << item;
    }
    // Opening the top item "帮助" shows the about page.
    form.PageControl1->setCurrentWidget(form.TabSheet4);
    Q_EMIT form.help_menu->aboutToShow();
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet12);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(Form1Test, HelpWindowIsModelessAndReused)
{
    TForm1& form = make_form();
    form.show();
    action(form, "N11")->trigger();
    ASSERT_NE(form.help, nullptr);
    Thelp* first = form.help;
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->windowTitle(), "帮助");
    EXPECT_EQ(first->size(), QSize(696, 480));
    EXPECT_EQ(first->Panel1->geometry(), QRect(8, 8, 649, 345));
    EXPECT_FALSE(first->isModal());
    first->close();
    action(form, "N11")->trigger();
    EXPECT_EQ(form.help, first);
    EXPECT_TRUE(first->isVisible());
    // Escape closes it, and so does its button.
    first->activateWindow();
    QTest::keyClick(first, Qt::Key_Escape);
    EXPECT_FALSE(first->isVisible());
    action(form, "N11")->trigger();
    ASSERT_TRUE(first->isVisible());
    first->close_button->click();
    EXPECT_FALSE(first->isVisible());
}

TEST_F(Form1Test, AboutPageDecodesItsJpeg)
{
    TForm1& form = make_form();
    ASSERT_FALSE(form.about_picture->pixmap().isNull());
    EXPECT_EQ(form.about_picture->pixmap().size(), QSize(497, 257));
    EXPECT_EQ(form.about_badge->pixmap().size(), QSize(161, 161));
    EXPECT_TRUE(form.about_badge->pixmap().hasAlphaChannel());
    // The program's name and version under the picture.
    const auto* name = form.TabSheet12->findChild<QLabel*>(QStringLiteral("about_name"));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->text(), QStringLiteral("AI仪表集中监控站　版本 ") + QStringLiteral(STATION_VERSION));
    // Data that is not a JPEG gives an empty picture instead of a failure.
    EXPECT_TRUE(decode_jpeg(QByteArray("not a jpeg")).isNull());
    EXPECT_TRUE(decode_jpeg(QByteArray()).isNull());
}

// Every pixel of every chart toolbar button can be clicked: on each page that
// holds a chart, the widget under each pixel is the chart itself.
TEST_F(Form1Test, NoWidgetCoversAChartToolbar)
{
    TForm1& form = make_form();
    for (QWidget* page : {form.TabSheet1, form.TabSheet11})
        form.PageControl2->setTabVisible(form.PageControl2->indexOf(page), true);
    form.show();
    for (TiPlot* plot : form.iPlot) {
        form.PageControl2->setCurrentWidget(plot->parentWidget());
        QCoreApplication::processEvents();
        ASSERT_TRUE(plot->isVisible()) << plot->objectName().toStdString();
        int buttons = 0;
        for (int b = 0; b < TiPlot::tbCount; ++b) {
            const QRect r = plot->tool_button_rect(TiPlot::ToolButton(b));
            if (r.isEmpty())
                continue;
            ++buttons;
            QStringList covering;
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x) {
                    QWidget* w = form.childAt(plot->mapTo(&form, QPoint(x, y)));
                    if (w == plot)
                        continue;
                    // Named by the nearest widget with a name (a box's inner editor has none).
                    while (w && w->objectName().isEmpty())
                        w = w->parentWidget();
                    const QString name = w ? w->objectName() : QStringLiteral("nothing");
                    if (!covering.contains(name))
                        covering << name;
                }
            EXPECT_TRUE(covering.isEmpty()) << plot->objectName().toStdString() << " button " << b
                                            << " covered by " << covering.join(QLatin1Char(' ')).toStdString();
        }
        EXPECT_EQ(buttons, TiPlot::tbCount) << "pause, zoom in and out, tracking, span, save";
    }
}

// The captions, lamps and entry boxes look as the form draws them.
TEST_F(Form1Test, CaptionsLampsAndEntryBoxesHaveTheFormsLook)
{
    TForm1& form = make_form();
    // Captions: TiLabel in Kai, 20 pixels, bold.
    const struct {
        const char* text;
        int count;
    } captions[] = {{"地址", 13}, {"程序段", 13}, {"通讯状态", 1}};
    const QString kai = QFontInfo(QFont(QString::fromUtf8(kai_font_family))).family();
    for (const auto& c : captions) {
        int found = 0;
        for (TiLabel* label : form.findChildren<TiLabel*>()) {
            if (label->Caption() != QString::fromUtf8(c.text))
                continue;
            ++found;
            EXPECT_EQ(QFontInfo(label->font()).family(), kai) << c.text;
            EXPECT_EQ(label->font().pixelSize(), 20) << c.text;
            EXPECT_TRUE(label->font().bold()) << c.text;
        }
        EXPECT_EQ(found, c.count) << c.text;
        for (QLabel* plain : form.findChildren<QLabel*>()) {
            if (!form.alarm_page->isAncestorOf(plain)) { // its filter says "地址" in the dialog font
                EXPECT_NE(plain->text(), QString::fromUtf8(c.text)) << "a plain label still says " << c.text;
            }
        }
    }
    // Lamps: round 25 x 25, rectangles 20 x 20.
    const QList<TiLedRound*> rounds = form.findChildren<TiLedRound*>();
    EXPECT_EQ(rounds.size(), 13);
    for (TiLedRound* led : rounds)
        EXPECT_EQ(led->size(), QSize(25, 25)) << led->objectName().toStdString();
    const QList<TiLedRectangle*> rects = form.findChildren<TiLedRectangle*>();
    EXPECT_EQ(rects.size(), 78);
    for (TiLedRectangle* led : rects)
        EXPECT_EQ(led->size(), QSize(20, 20)) << led->objectName().toStdString();
    // Entry boxes: 19 pixels, bold.
    for (QWidget* box : std::initializer_list<QWidget*>{form.iAnalogOutput1, form.iAnalogOutput2, form.iIntegerOutput1}) {
        EXPECT_EQ(box->font().pixelSize(), 19) << box->objectName().toStdString();
        EXPECT_TRUE(box->font().bold()) << box->objectName().toStdString();
    }
}
