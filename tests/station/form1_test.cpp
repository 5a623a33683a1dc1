#include "form_fixture.h"
#include "help_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>

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
                           "TabSheet6=数据显示2", "TabSheet5=数据显示3", "TabSheet12=about"}));
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
}

TEST_F(Form1Test, AboutPageDecodesItsJpeg)
{
    TForm1& form = make_form();
    ASSERT_FALSE(form.about_picture->pixmap().isNull());
    EXPECT_EQ(form.about_picture->pixmap().size(), QSize(497, 257));
    EXPECT_EQ(form.about_badge->pixmap().size(), QSize(161, 161));
    EXPECT_TRUE(form.about_badge->pixmap().hasAlphaChannel());
    // Data that is not a JPEG gives an empty picture instead of a failure.
    EXPECT_TRUE(decode_jpeg(QByteArray("not a jpeg")).isNull());
    EXPECT_TRUE(decode_jpeg(QByteArray()).isNull());
}
