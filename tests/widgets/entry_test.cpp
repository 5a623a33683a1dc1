// Numeric entry boxes driven with key and mouse events the way the operator
// uses them on the form: commit on Enter and on leaving the box, undo of
// unparsable entries, key filters, the length limit, limits and events.
#include "iAnalogOutput.h"
#include "iIntegerOutput.h"

#include "errors.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A window with the form's three boxes and one more field to move the focus to.
class EntryBoxes : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto* layout = new QVBoxLayout(&window);
        out1 = new TiAnalogOutput;
        out1->SetValueMin(-110);
        out1->SetValueMax(110);
        out1->SetPrecision(2);
        out1->SetMaxLength(6);
        out2 = new TiAnalogOutput;
        out2->SetValueMin(-9999);
        out2->SetValueMax(9999);
        out2->SetPrecision(2);
        out2->SetMaxLength(6);
        period = new TiIntegerOutput;
        period->SetValue(2);
        other = new QLineEdit;
        for (QWidget* w : { static_cast<QWidget*>(out1), static_cast<QWidget*>(out2),
                 static_cast<QWidget*>(period), static_cast<QWidget*>(other) })
            layout->addWidget(w);
        for (TiEditCustom* box : { static_cast<TiEditCustom*>(out1), static_cast<TiEditCustom*>(out2),
                 static_cast<TiEditCustom*>(period) })
            box->OnChange = [this](QObject* sender) { events.push_back(name_of(sender) + ":OnChange"); };
        out1->OnChangeUser = [this](QObject*) { events.push_back("out1:OnChangeUser"); };
        out1->OnBeforeChange
            = [this](QObject*, double, double&, bool&) { events.push_back("out1:OnBeforeChange"); };
        out1->OnBeforeUserChange
            = [this](QObject*, double, double&, bool&) { events.push_back("out1:OnBeforeUserChange"); };
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        events.clear();
    }

    std::string name_of(QObject* sender) const
    {
        return sender == out1 ? "out1" : sender == out2 ? "out2" : sender == period ? "period" : "?";
    }

    // Gives a box the focus with a click, selects everything and types.
    static void type_into(TiEditCustom* box, const QString& keys)
    {
        QTest::mouseClick(box->editor(), Qt::LeftButton);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, keys);
    }

    static void enter(TiEditCustom* box) { QTest::keyClick(box, Qt::Key_Return); }

    // Declared before the window: closing the window at teardown commits the
    // focused box, which still records its events.
    std::vector<std::string> events;
    QWidget window;
    TiAnalogOutput* out1 = nullptr;
    TiAnalogOutput* out2 = nullptr;
    TiIntegerOutput* period = nullptr;
    QLineEdit* other = nullptr;
};

} // namespace

TEST_F(EntryBoxes, TypedValueAboveTheLimitCommitsAsTheLimit)
{
    EXPECT_EQ(out1->Text(), QStringLiteral("0.00"));
    type_into(out1, QStringLiteral("150"));
    EXPECT_EQ(out1->Text(), QStringLiteral("150"));
    EXPECT_EQ(out1->Value(), 0) << "typing alone must not change the value";
    enter(out1);
    EXPECT_EQ(out1->Text(), QStringLiteral("110.00"));
    EXPECT_EQ(out1->Value(), 110);
    EXPECT_EQ(out1->editor()->selectedText(), QStringLiteral("110.00"));
    const std::vector<std::string> expected
        = { "out1:OnBeforeUserChange", "out1:OnBeforeChange", "out1:OnChange", "out1:OnChangeUser" };
    EXPECT_EQ(events, expected);
}

TEST_F(EntryBoxes, UnparsableEntryIsUndone)
{
    out1->SetValue(12.5);
    out1->SetBeepOnError(true);
    events.clear();
    type_into(out1, QStringLiteral("-"));
    EXPECT_EQ(out1->Text(), QStringLiteral("-"));
    const int beeps = out1->beeps();
    enter(out1);
    EXPECT_EQ(out1->Text(), QStringLiteral("12.50"));
    EXPECT_EQ(out1->Value(), 12.5);
    EXPECT_EQ(out1->beeps(), beeps + 1);
    EXPECT_EQ(out1->editor()->selectedText(), QStringLiteral("12.50"));
    EXPECT_TRUE(events.empty());

    // Without UndoOnError the parse error is raised.
    out1->SetUndoOnError(false);
    type_into(out1, QStringLiteral("-"));
    EXPECT_THROW(out1->Commit(), EConvertError);
    EXPECT_EQ(out1->Value(), 12.5);
}

TEST_F(EntryBoxes, MaxLengthStopsTypingButNotCode)
{
    type_into(out2, QStringLiteral("1234567"));
    EXPECT_EQ(out2->Text(), QStringLiteral("123456"));
    EXPECT_EQ(out2->beeps(), 1);
    // With part of the text selected the key replaces it.
    QTest::keyClick(out2, Qt::Key_Left, Qt::ShiftModifier);
    QTest::keyClicks(out2, QStringLiteral("9"));
    EXPECT_EQ(out2->Text(), QStringLiteral("123459"));
    EXPECT_EQ(out2->beeps(), 1);

    out2->SetValue(9999);
    EXPECT_EQ(out2->Text(), QStringLiteral("9999.00"));
}

TEST_F(EntryBoxes, SameNumberInAnotherFormCommitsWithoutChange)
{
    out1->SetValue(5);
    events.clear();
    type_into(out1, QStringLiteral("5"));
    enter(out1);
    EXPECT_EQ(out1->Text(), QStringLiteral("5.00"));
    EXPECT_TRUE(events.empty());
}

TEST_F(EntryBoxes, IntegerBoxRefusesLettersAndMinus)
{
    period->SetBeepOnError(true);
    type_into(period, QStringLiteral("a-3b.5"));
    EXPECT_EQ(period->Text(), QStringLiteral("35"));
    EXPECT_EQ(period->beeps(), 4);
    enter(period);
    EXPECT_EQ(period->Value(), 35);
    EXPECT_EQ(events, std::vector<std::string> { "period:OnChange" });
}

TEST_F(EntryBoxes, PastedLettersAreUndoneAtCommit)
{
    QApplication::clipboard()->setText(QStringLiteral("12ab"));
    QTest::mouseClick(period->editor(), Qt::LeftButton);
    QTest::keyClick(period, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(period, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(period->Text(), QStringLiteral("12ab"));
    enter(period);
    EXPECT_EQ(period->Text(), QStringLiteral("2"));
    EXPECT_EQ(period->Value(), 2);
    EXPECT_TRUE(events.empty());

    // A paste is cut to the room left by MaxLength; a selection counts as room.
    QApplication::clipboard()->setText(QStringLiteral("98765432"));
    QTest::mouseClick(out2->editor(), Qt::LeftButton);
    QTest::keyClick(out2, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(out2, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(out2->Text(), QStringLiteral("987654"));
    QTest::keyClick(out2, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(out2->Text(), QStringLiteral("987654"));
}

TEST_F(EntryBoxes, ValueFromCodeRaisesOnChangeOnly)
{
    period->SetValue(7);
    period->SetValue(7);
    EXPECT_EQ(period->Text(), QStringLiteral("7"));
    out1->SetValue(-200);
    EXPECT_EQ(out1->Value(), -110);
    const std::vector<std::string> expected = { "period:OnChange", "out1:OnBeforeChange", "out1:OnChange" };
    EXPECT_EQ(events, expected);
}

TEST_F(EntryBoxes, LeavingTheBoxCommits)
{
    type_into(out1, QStringLiteral("50"));
    QTest::mouseClick(other, Qt::LeftButton);
    ASSERT_TRUE(other->hasFocus());
    EXPECT_EQ(out1->Value(), 50);
    EXPECT_EQ(out1->Text(), QStringLiteral("50.00"));
    EXPECT_EQ(events.back(), "out1:OnChangeUser");
}

TEST_F(EntryBoxes, DeletingAFocusedBoxWithTypedTextIsSafe)
{
    type_into(out2, QStringLiteral("12"));
    ASSERT_TRUE(out2->editor()->hasFocus());
    delete out2;
    out2 = nullptr;
    QApplication::processEvents();
    EXPECT_TRUE(events.empty());
}

TEST_F(EntryBoxes, EscapeAndCtrlZRestoreTheCommittedText)
{
    out2->SetValue(21.5);
    for (auto [key, mods] : { std::pair { Qt::Key_Escape, Qt::KeyboardModifiers() },
             std::pair { Qt::Key_Z, Qt::KeyboardModifiers(Qt::ControlModifier) } }) {
        type_into(out2, QStringLiteral("77"));
        QTest::keyClick(out2, key, mods);
        EXPECT_EQ(out2->Text(), QStringLiteral("21.50"));
        EXPECT_EQ(out2->editor()->selectedText(), QStringLiteral("21.50"));
        EXPECT_EQ(out2->Value(), 21.5);
    }
}

TEST_F(EntryBoxes, EditingKeysAndMouse)
{
    out2->SetValue(1234);
    QTest::mouseDClick(out2->editor(), Qt::LeftButton);
    EXPECT_EQ(out2->editor()->selectedText(), QStringLiteral("1234.00"));
    // A click puts the caret where it is and clears the selection.
    QTest::mouseClick(out2->editor(), Qt::LeftButton, {}, QPoint(2, out2->editor()->height() / 2));
    EXPECT_FALSE(out2->editor()->hasSelectedText());
    QTest::keyClick(out2, Qt::Key_Home);
    QTest::keyClick(out2, Qt::Key_Delete);
    QTest::keyClick(out2, Qt::Key_End);
    QTest::keyClick(out2, Qt::Key_Backspace);
    EXPECT_EQ(out2->Text(), QStringLiteral("234.0"));
    QTest::keyClick(out2, Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(out2->editor()->selectedText(), QStringLiteral("234.0"));
    QTest::keyClick(out2, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("234.0"));
    EXPECT_EQ(out2->Text(), QString());
    QTest::keyClicks(out2, QStringLiteral("8.25"));
    QTest::keyClick(out2, Qt::Key_Enter);
    EXPECT_EQ(out2->Value(), 8.25);
}

TEST_F(EntryBoxes, ContextMenuItemsFollowTheState)
{
    auto items = [](QMenu* menu) {
        std::string s;
        for (QAction* a : menu->actions()) {
            if (a->isSeparator()) {
                s += '-';
                continue;
            }
            s += a->isEnabled() ? '+' : '_';
            s += a->text().toStdString();
        }
        return s;
    };
    QApplication::clipboard()->clear();
    out1->SetValue(3);
    QTest::mouseClick(out1->editor(), Qt::LeftButton);
    QTest::keyClick(out1, Qt::Key_End);
    std::unique_ptr<QMenu> clean(out1->create_context_menu());
    EXPECT_EQ(items(clean.get()), "_Apply_Undo-_Cut_Copy_Paste_Delete-+Select All");

    QTest::keyClick(out1, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(out1, Qt::Key_C, Qt::ControlModifier);
    std::unique_ptr<QMenu> selected(out1->create_context_menu());
    EXPECT_EQ(items(selected.get()), "_Apply_Undo-+Cut+Copy+Paste+Delete-_Select All");

    QTest::keyClicks(out1, QStringLiteral("42"));
    std::unique_ptr<QMenu> dirty(out1->create_context_menu());
    EXPECT_EQ(items(dirty.get()), "+Apply+Undo-_Cut_Copy+Paste_Delete-+Select All");
    dirty->actions().at(0)->trigger(); // "Apply"
    EXPECT_EQ(out1->Value(), 42);
    EXPECT_EQ(events.back(), "out1:OnChangeUser");
}

TEST_F(EntryBoxes, BeforeChangeMayAlterOrRefuse)
{
    out2->OnBeforeChange = [](QObject*, double old_value, double& new_value, bool& can_change) {
        if (new_value < 0)
            can_change = false;
        else if (old_value == 0)
            new_value *= 2;
    };
    out2->SetValue(-5);
    EXPECT_EQ(out2->Value(), 0);
    EXPECT_EQ(out2->Text(), QStringLiteral("0.00"));
    out2->SetValue(6000); // doubled, then limited again
    EXPECT_EQ(out2->Value(), 9999);
}

TEST(AnalogOutput, UnitsPrecisionAndLimits)
{
    TiAnalogOutput box;
    box.SetPrecision(1);
    box.SetUnitsText(QStringLiteral(" °C"));
    box.SetValue(25);
    EXPECT_EQ(box.Text(), QStringLiteral("25.0 °C"));
    // Units typed in another case are removed before the number is read.
    QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(&box, QStringLiteral("30.5°c"));
    EXPECT_EQ(box.Text(), QStringLiteral("30.5°c"));
    QTest::keyClick(&box, Qt::Key_Return);
    EXPECT_EQ(box.Value(), 30.5);
    EXPECT_EQ(box.Text(), QStringLiteral("30.5 °C"));

    box.SetPrecision(3);
    EXPECT_EQ(box.Text(), QStringLiteral("30.500 °C"));
    EXPECT_EQ(box.Value(), 30.5);
    box.SetPrecision(0);
    QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(&box, QStringLiteral("4.7"));
    EXPECT_EQ(box.Text(), QStringLiteral("47")) << "no decimal point without decimals";

    box.SetValueMax(20);
    EXPECT_EQ(box.Value(), 20) << "a new limit applies to the current value at once";
    box.SetFilterStyle(ifisNone);
    QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(&box, QStringLiteral("x"));
    EXPECT_EQ(box.Text(), QStringLiteral("x"));
}

TEST(IntegerOutput, FormatsAndLeadingZeros)
{
    TiIntegerOutput box;
    box.SetMaxLength(4);
    box.SetValue(-5);
    EXPECT_EQ(box.Text(), QStringLiteral("-5"));
    box.SetLeadingZeros(true);
    EXPECT_EQ(box.Text(), QStringLiteral("-005"));
    box.SetLeadingZeros(false);
    box.SetFormatStyle(iifsHex);
    box.SetValue(255);
    EXPECT_EQ(box.Text(), QStringLiteral("FF"));
    QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(&box, QStringLiteral("1g0"));
    QTest::keyClick(&box, Qt::Key_Return);
    EXPECT_EQ(box.Value(), 16);
    box.SetFormatStyle(iifsBinary);
    EXPECT_EQ(box.Text(), QStringLiteral("10000"));
}
