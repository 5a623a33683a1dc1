// The address page over a real engine on the test's thread: the address
// limit checked when the operator commits it, the address boxes, and a scan
// started from the window with its finds shown. The engine's handlers are
// called directly instead of waiting for its timers.
#include "form_fixture.h"
#include "frame_codec.h"
#include "message_list.h"
#include "param_text.h"
#include "replies.h"
#include "run_timers.h"
#include "station_db.h"
#include "string_grid.h"
#include "ttimer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <functional>
#include <string>
#include <vector>

namespace {

class AddressPage : public FormFixture {
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        f = &make_form();
        errors.clear();
        engine().on_frame_sent = [this](const std::string& frame) { frames.push_back(frame); };
    }
    // Types `text` into the address limit box and presses Enter.
    void commit_limit(const QString& text)
    {
        f->ComboBox10->setEditText(text);
        QTest::keyClick(f->ComboBox10->lineEdit(), Qt::Key_Return);
    }
    // Runs the scan tick by tick (through the engine's guard, as its timer
    // does) to its end; a probe of an address is answered when `answers`
    // says so. The window then gets the table's cells (sent once per event).
    void scan_to_the_end(const std::function<bool(int)>& answers)
    {
        for (int guard = 0; scan_active && guard < 200; ++guard) {
            engine().iTimers1->OnTimer(3)();
            if (scan_active && cur_addr >= 0 && answers(cur_addr)) {
                engine().SComm1_485ReceiveData(nullptr, as_block(reply_counts(0, 0, 0, 0, 0)), 10);
            }
            engine().settle_replies();
        }
        ASSERT_EQ(scan_active, 0);
        QCoreApplication::processEvents();
    }
    int visible_panels() const
    {
        int n = 0;
        for (QGroupBox* box : f->panel_box)
            n += box->isVisibleTo(box->parentWidget()) ? 1 : 0;
        return n;
    }
    static QStringList items(const QComboBox* box)
    {
        QStringList out;
        for (int i = 0; i < box->count(); ++i)
            out << box->itemText(i);
        return out;
    }

    TForm1* f = nullptr;
    std::vector<std::string> frames;
};

std::string poll_frame(int address) { return make_read_frame(static_cast<std::uint8_t>(address), 0); }

} // namespace

// An empty or non-numeric limit, or one outside 1..90, is refused at the box
// in Chinese when committed; the box shows the last good limit again and the
// engine keeps it and keeps polling up to it.
TEST_F(AddressPage, AddressLimitIsCheckedWhenCommittedAndABadOneChangesNothing)
{
    commit_limit(QStringLiteral("20"));
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(engine().address_limit(), 20);
    const int items = f->ComboBox10->count();
    addr_enabled[15] = 1; // above the default limit 8, below 20

    for (const char* typed : { "", " ", "abc", "8a", "1.5", "0", "91", "-3" }) {
        SCOPED_TRACE(std::string("'") + typed + "'");
        errors.clear();
        frames.clear();
        commit_limit(QString::fromUtf8(typed));
        ASSERT_EQ(errors.size(), 1) << errors.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(errors[0],
            QStringLiteral("地址上限 '%1' 不是 1 到 90 之间的整数，仍为 20").arg(QString::fromUtf8(typed).trimmed()));
        EXPECT_EQ(f->ComboBox10->currentText(), QStringLiteral("20"));
        EXPECT_EQ(f->ComboBox10->count(), items) << "a refused text became an item of the list";
        EXPECT_EQ(engine().address_limit(), 20);
        // Polling goes on, still up to 20: the next sweep reaches address 15.
        EXPECT_TRUE(engine().Timer1->Enabled());
        for (int tick = 0; tick < 3 && frames.empty(); ++tick)
            engine().Timer1Timer();
        EXPECT_EQ(frames, std::vector<std::string> { poll_frame(15) });
        engine().settle_replies();
    }
    // Choosing an item of the list commits it.
    errors.clear();
    f->ComboBox10->setCurrentIndex(f->ComboBox10->findText(QStringLiteral("12")));
    Q_EMIT f->ComboBox10->activated(f->ComboBox10->currentIndex());
    EXPECT_EQ(engine().address_limit(), 12);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

// 巡扫 with a limit that is no number starts nothing: the box is refused
// once, the engine goes on polling what it polled.
TEST_F(AddressPage, ScanWithALimitThatIsNoNumberStartsNothing)
{
    f->addr_check[2]->click();
    ASSERT_EQ(addr_enabled[2], 1);
    for (const char* limit : { "8a", "", " " }) {
        SCOPED_TRACE(std::string("'") + limit + "'");
        errors.clear();
        frames.clear();
        f->ComboBox10->setEditText(QString::fromLatin1(limit));
        f->Button_scan->click();
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].startsWith(QStringLiteral("地址上限"))) << errors[0].toStdString();
        EXPECT_EQ(scan_active, 0);
        EXPECT_FALSE(engine().iTimers1->Enabled(3));
        EXPECT_TRUE(engine().Timer1->Enabled());
        EXPECT_TRUE(f->addr_check[2]->isChecked());
        for (QGroupBox* g : f->address_groups)
            EXPECT_TRUE(g->isEnabled());
        EXPECT_TRUE(frames.empty());
        EXPECT_EQ(f->ComboBox10->currentText(), QStringLiteral("8"));
    }
}

// A box of addresses 0..11 ticked before any scan: the engine polls it, the
// window shows it ticked but lays out no panel.
TEST_F(AddressPage, BoxTickedBeforeAnyScanIsPolledWithoutAPanel)
{
    f->addr_check[3]->click();
    EXPECT_TRUE(f->addr_check[3]->isChecked());
    EXPECT_EQ(f->roster.addresses, std::vector<int> { 3 });
    EXPECT_EQ(visible_panels(), 0);
    engine().Timer1Timer();
    EXPECT_EQ(frames, std::vector<std::string> { poll_frame(3) });
    f->addr_check[3]->click();
    EXPECT_TRUE(f->roster.addresses.empty());
    EXPECT_FALSE(f->addr_check[3]->isChecked());
}

// A scan from the window: the boxes are locked while it runs, and its finds
// are ticked, get panels, join both address lists and get grid columns
// holding their stored sets; the runs become possible. A box changed later
// relabels the panels; a second scan lists its finds again.
TEST_F(AddressPage, ScanFromTheWindowShowsWhatItFound)
{
    engine().store_parameter(4, 5, 123); // a stored set the end of the scan loads
    f->Button_scan->click();
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(scan_active, 1);
    EXPECT_TRUE(f->roster.scanning);
    for (QGroupBox* g : f->address_groups)
        EXPECT_FALSE(g->isEnabled());
    EXPECT_FALSE(f->Button_scan->isEnabled());
    scan_to_the_end([](int a) { return a == 1 || a == 4; });
    ASSERT_FALSE(HasFatalFailure());
    std::vector<std::string> probes;
    for (int a = 0; a < 8; ++a)
        probes.push_back(make_read_frame(static_cast<std::uint8_t>(a), 22));
    EXPECT_EQ(frames, probes);

    for (QGroupBox* g : f->address_groups)
        EXPECT_TRUE(g->isEnabled());
    for (int a = 0; a < 90; ++a)
        EXPECT_EQ(f->addr_check[static_cast<size_t>(a)]->isChecked(), a == 1 || a == 4) << a;
    EXPECT_EQ(visible_panels(), 2);
    EXPECT_EQ(items(f->ComboBox6), (QStringList { QStringLiteral("1"), QStringLiteral("4") }));
    EXPECT_EQ(items(f->ComboBox7), (QStringList { QStringLiteral("1"), QStringLiteral("4") }));
    ASSERT_EQ(f->StringGrid1->ColCount(), 4);
    EXPECT_EQ(f->StringGrid1->Cells(2, 0), QStringLiteral("1#仪表"));
    EXPECT_EQ(f->StringGrid1->Cells(3, 0), QStringLiteral("4#仪表"));
    EXPECT_EQ(f->StringGrid1->Cells(3, 6), QString::fromStdString(param_value_text(5, 123, dec_places[4])));
    for (QPushButton* b : { f->Button3, f->Button12, f->Button14, f->Button_scan })
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
    // The end of the scan is a message in the list, not a box.
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(f->message_list->tree()->topLevelItem(0)->text(MessageList::ColText),
        QStringLiteral("巡扫结束，找到仪表 1, 4"));

    f->addr_check[6]->click();
    EXPECT_EQ(visible_panels(), 3);
    for (size_t k = 0; k < 3; ++k)
        EXPECT_EQ(f->panel_label[k + 1]->text(), QString::number(k) + QStringLiteral("#仪表"));
    for (int a : { 6, 4, 1 })
        f->addr_check[static_cast<size_t>(a)]->click();
    EXPECT_EQ(visible_panels(), 0);

    frames.clear();
    f->Button_scan->click();
    scan_to_the_end([](int a) { return a == 1 || a == 4; });
    ASSERT_FALSE(HasFatalFailure());
    const QStringList twice { QStringLiteral("1"), QStringLiteral("4"), QStringLiteral("1"), QStringLiteral("4") };
    EXPECT_EQ(items(f->ComboBox6), twice);
    EXPECT_EQ(items(f->ComboBox7), twice);
    EXPECT_EQ(visible_panels(), 2);
}
