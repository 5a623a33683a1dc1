// No address clash: a copy that writes the communication address, or the
// settings page's address write, is refused before anything is sent when
// the new address is polled or answers a probe; the instruments keep their
// addresses and the bus sees no write.
#include "e2e_fixture.h"

#include "param_set.h"
#include "param_set_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QTimer>

#include <QComboBox>
#include <QPushButton>

namespace {

class AddressClashE2E : public StationE2E {
protected:
    std::uint64_t bus_writes() const
    {
        const aisim::Stats s = bus->stats();
        return s.writes + s.writes_refused + s.writes_ignored;
    }
};

TEST_F(AddressClashE2E, CopyOrAddressWriteOntoATakenAddressIsRefusedAndNothingIsSent)
{
    // 1 and 3 are polled; 5 is on the bus but beyond the scanned range.
    start({ 1, 3, 5 }, 1);
    scan(QStringLiteral("4"), 15000);
    ASSERT_EQ(form->roster.addresses, (std::vector<int> { 1, 3 }));

    ParamSet set; // as taken from instrument 1: its address comes with it
    set.address = 1;
    set.decimal_places = 1;
    set.values = { { 4, -10.0f }, { 34, 1.0f }, { 35, 9600.0f } };
    ParamSet to_five = set;
    to_five.values[34] = 5.0f;

    const struct {
        const char* name;
        std::function<void()> act;
        const char* says;
    } cases[] = {
        { "copy of 1 onto 3, 1 polled",
            [&] { host().post([set](Engine& e) { e.start_copy(set, { 3 }, true); }, "参数"); },
            "地址 1 上已有仪表在巡检，两台仪表不能占用同一地址；复制未开始，未发送任何数据" },
        { "copy moving 3 to 5, 5 answers the probe",
            [&] { host().post([to_five](Engine& e) { e.start_copy(to_five, { 3 }, true); }, "参数"); },
            "地址 5 上已有仪表应答，两台仪表不能占用同一地址；复制未开始，未发送任何数据" },
        { "address write 3 -> 1",
            [&] {
                form->ComboBox8->setEditText(QStringLiteral("3"));
                form->ComboBox4->setEditText(QStringLiteral("1"));
                form->Button15->click();
            },
            "地址 1 上已有仪表在巡检，两台仪表不能占用同一地址；写地址未发送" },
        { "address write 3 -> 5",
            [&] {
                form->ComboBox8->setEditText(QStringLiteral("3"));
                form->ComboBox4->setEditText(QStringLiteral("5"));
                form->Button15->click();
            },
            "地址 5 上已有仪表应答，两台仪表不能占用同一地址；写地址未发送" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        c.act();
        ASSERT_TRUE(until([&] { return !errors.isEmpty(); }, 8000)) << listed().join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(errors.front().startsWith(QString::fromUtf8(c.says))) << errors.front().toStdString();
        EXPECT_FALSE(on_engine([](Engine& e) { return e.run_busy(); }));
    }
    EXPECT_EQ(bus_writes(), 0u);
    EXPECT_EQ(bus->addresses(), (std::vector<int> { 1, 3, 5 }));
    EXPECT_EQ(bus->stats().address_changes, 0u);
}

} // namespace

namespace {

// A copy the dialog's checks refuse leaves the dialog open with the
// operator's ticks, and nothing is sent.
TEST_F(AddressClashE2E, RefusedCopyKeepsTheDialogAndItsTicks)
{
    start({ 1, 3 }, 1);
    scan(QStringLiteral("4"), 15000);
    bool looked = false;
    QTimer::singleShot(200, form, [&] {
        auto* dialog = qobject_cast<ParamCopyDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        for (QCheckBox* box : dialog->findChildren<QCheckBox*>())
            box->setChecked(true); // both targets, and the address with them
        const std::vector<int> ticked = dialog->targets();
        ASSERT_EQ(ticked, (std::vector<int> { 1, 3 }));
        QPushButton* start_button = nullptr;
        for (QPushButton* b : dialog->findChildren<QPushButton*>())
            if (b->text() == QStringLiteral("开始复制"))
                start_button = b;
        ASSERT_NE(start_button, nullptr);
        start_button->click();
        looked = true;
        EXPECT_FALSE(errors.isEmpty());
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->targets(), ticked);
        EXPECT_TRUE(dialog->with_address_and_baud());
        dialog->reject();
    });
    form->copy_button->click();
    EXPECT_TRUE(looked);
    EXPECT_EQ(bus_writes(), 0u);
    EXPECT_FALSE(on_engine([](Engine& e) { return e.run_busy(); }));
}

} // namespace
