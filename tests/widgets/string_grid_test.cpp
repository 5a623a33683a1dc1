// The grid widget itself: the edit report sequence, fixed cells, scrolling and
// selection, driven through real key and mouse events.
#include "string_grid.h"

#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>
#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

namespace {

using Report = std::tuple<int, int, QString>;

class StringGridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<QWidget>();
        window->resize(700, 440);
        grid = new TStringGrid(window.get());
        other = new QLineEdit(window.get());
        other->setGeometry(0, 410, 200, 24);
        grid->setRowCount(60);
        grid->setColCount(14);
        grid->setFixedCols(2);
        grid->setFixedRows(1);
        grid->setDefaultColWidth(100);
        grid->setColWidths(0, 40);
        grid->setColWidths(1, 200);
        grid->setEditing(true);
        grid->setRangeSelect(true);
        for (int c = 0; c < grid->ColCount(); ++c)
            for (int r = 0; r < grid->RowCount(); ++r)
                grid->setCells(c, r, QStringLiteral("c%1r%2").arg(c).arg(r));
        grid->OnSetEditText
            = [this](int col, int row, const QString& text) { reports.emplace_back(col, row, text); };
        grid->setGeometry(0, 0, 700, 400);
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        grid->setFocus();
    }

    void click(int col, int row)
    {
        const QRect rect = grid->cellRect(col, row);
        ASSERT_FALSE(rect.isEmpty()) << col << "," << row;
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rect.center());
    }

    void double_click(int col, int row)
    {
        const QRect rect = grid->cellRect(col, row);
        ASSERT_FALSE(rect.isEmpty()) << col << "," << row;
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, rect.center());
    }

    // Keys go wherever the keyboard focus is, as they would for the operator.
    void key(Qt::Key k, Qt::KeyboardModifiers mods = {})
    {
        QWidget* target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr);
        QTest::keyClick(target, k, mods);
    }
    void type(const char* text)
    {
        QWidget* target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr);
        QTest::keyClicks(target, QString::fromUtf8(text));
    }

    std::unique_ptr<QWidget> window;
    TStringGrid* grid = nullptr; // owned by window
    QLineEdit* other = nullptr; // another widget that can take the focus
    std::vector<Report> reports;
};

TEST_F(StringGridTest, TypingReportsOpenEachChangeAndClose)
{
    grid->setCells(3, 5, QStringLiteral("0"));
    click(3, 5);
    EXPECT_EQ(grid->Col(), 3);
    EXPECT_EQ(grid->Row(), 5);
    EXPECT_TRUE(reports.empty());

    type("150"); // the first key opens the editor and replaces the selected text
    ASSERT_TRUE(grid->EditorMode());
    EXPECT_EQ(QApplication::focusWidget(), grid->inplaceEditor());
    EXPECT_EQ(grid->Cells(3, 5), "150"); // the cell follows the editor as it changes
    key(Qt::Key_Return);

    const std::vector<Report> expected { { 3, 5, "0" }, { 3, 5, "1" }, { 3, 5, "15" }, { 3, 5, "150" },
        { 3, 5, "150" } };
    EXPECT_EQ(reports, expected);
    EXPECT_FALSE(grid->EditorMode());
    EXPECT_EQ(grid->Cells(3, 5), "150");
    EXPECT_EQ(QApplication::focusWidget(), grid);
}

TEST_F(StringGridTest, EditorOpenedAndClosedWithoutTypingReportsTheTextTwice)
{
    struct Case {
        const char* how;
        Qt::Key open;
        Qt::Key close;
    } cases[]
        = { { "F2, Enter", Qt::Key_F2, Qt::Key_Return }, { "Enter, Enter", Qt::Key_Return, Qt::Key_Enter } };
    for (const auto& c : cases) {
        reports.clear();
        click(4, 2);
        key(c.open);
        ASSERT_TRUE(grid->EditorMode()) << c.how;
        key(c.close);
        EXPECT_FALSE(grid->EditorMode()) << c.how;
        const std::vector<Report> expected { { 4, 2, "c4r2" }, { 4, 2, "c4r2" } };
        EXPECT_EQ(reports, expected) << c.how;
    }
}

TEST_F(StringGridTest, EscapeRestoresTheTextAndReportsIt)
{
    click(2, 3);
    key(Qt::Key_F2);
    key(Qt::Key_Backspace); // the whole text is selected on opening
    type("9");
    EXPECT_EQ(grid->Cells(2, 3), "9");
    key(Qt::Key_Escape);
    const std::vector<Report> expected { { 2, 3, "c2r3" }, { 2, 3, "" }, { 2, 3, "9" }, { 2, 3, "c2r3" } };
    EXPECT_EQ(reports, expected);
    EXPECT_EQ(grid->Cells(2, 3), "c2r3");
    EXPECT_FALSE(grid->EditorMode());
}

TEST_F(StringGridTest, LeavingTheCellClosesTheEditorWithItsText)
{
    // Down arrow: close, then move on.
    double_click(5, 4);
    ASSERT_TRUE(grid->EditorMode());
    key(Qt::Key_End);
    type("x");
    key(Qt::Key_Down);
    EXPECT_FALSE(grid->EditorMode());
    EXPECT_EQ(grid->Row(), 5);
    std::vector<Report> expected { { 5, 4, "c5r4" }, { 5, 4, "c5r4x" }, { 5, 4, "c5r4x" } };
    EXPECT_EQ(reports, expected);

    // A click on another cell.
    reports.clear();
    type("7");
    click(6, 8);
    expected = { { 5, 5, "c5r5" }, { 5, 5, "7" }, { 5, 5, "7" } };
    EXPECT_EQ(reports, expected);
    EXPECT_EQ(grid->Col(), 6);
    EXPECT_EQ(grid->Row(), 8);

    // Focus moving to another widget of the window.
    reports.clear();
    key(Qt::Key_F2);
    type("a");
    other->setFocus(Qt::MouseFocusReason);
    expected = { { 6, 8, "c6r8" }, { 6, 8, "a" }, { 6, 8, "a" } };
    EXPECT_EQ(reports, expected);
    EXPECT_FALSE(grid->EditorMode());
}

TEST_F(StringGridTest, FixedCellsAreNeitherCurrentNorEditable)
{
    click(3, 3);
    for (auto [col, row] : { std::pair { 0, 5 }, { 1, 5 }, { 4, 0 } }) {
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->cellRect(col, row).center());
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->cellRect(col, row).center());
        EXPECT_FALSE(grid->EditorMode()) << col << "," << row;
        EXPECT_EQ(grid->Col(), 3);
        EXPECT_EQ(grid->Row(), 3);
    }
    // Keyboard and setters stop at the first scrollable cell.
    key(Qt::Key_Left);
    key(Qt::Key_Left);
    key(Qt::Key_Up);
    key(Qt::Key_Up);
    key(Qt::Key_Up);
    EXPECT_EQ(grid->Col(), 2);
    EXPECT_EQ(grid->Row(), 1);
    grid->setCol(0);
    EXPECT_EQ(grid->Col(), 2);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(grid->Cells(1, 5), "c1r5");

    // A grid whose every column is fixed has nothing to edit.
    grid->setColCount(2);
    EXPECT_EQ(grid->FixedCols(), 2);
    EXPECT_FALSE(grid->hasCurrentCell());
    EXPECT_FALSE(grid->showEditor());
    key(Qt::Key_F2);
    type("1");
    EXPECT_TRUE(reports.empty());
    grid->setColCount(4);
    EXPECT_TRUE(grid->hasCurrentCell());
    EXPECT_TRUE(grid->showEditor());
}

TEST_F(StringGridTest, FixedColumnsStayWhileValueColumnsScroll)
{
    const QRect name_before = grid->cellRect(1, 7);
    const QRect first_value = grid->cellRect(2, 7);
    EXPECT_EQ(name_before.left(), 41);
    EXPECT_EQ(first_value.left(), 41 + 201);

    grid->setLeftCol(6);
    EXPECT_EQ(grid->LeftCol(), 6);
    EXPECT_EQ(grid->horizontalScrollBar()->value(), 4);
    EXPECT_EQ(grid->cellRect(1, 7), name_before);
    EXPECT_TRUE(grid->cellRect(2, 7).isEmpty()); // scrolled out of view
    EXPECT_EQ(grid->cellRect(6, 7).left(), first_value.left());

    // The scroll bar moves the same columns.
    grid->horizontalScrollBar()->setValue(1);
    EXPECT_EQ(grid->LeftCol(), 3);
    EXPECT_EQ(grid->cellRect(3, 7).left(), first_value.left());

    // Rows scroll under the fixed title row; the scroll position is clamped so
    // that the last row stays at the bottom.
    grid->setTopRow(20);
    EXPECT_EQ(grid->TopRow(), 20);
    EXPECT_EQ(grid->cellRect(4, 20).top(), grid->cellRect(4, 0).bottom() + 2);
    EXPECT_TRUE(grid->cellRect(4, 19).isEmpty());
    grid->setTopRow(1000);
    EXPECT_LT(grid->TopRow(), 59);
    EXPECT_EQ(grid->TopRow() + grid->VisibleRowCount(), 60);
    grid->setTopRow(-5);
    EXPECT_EQ(grid->TopRow(), 1);

    // Moving the current cell scrolls it into view.
    click(3, 3);
    key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(grid->Col(), 13);
    EXPECT_EQ(grid->Row(), 59);
    EXPECT_FALSE(grid->cellRect(13, 59).isEmpty());
    EXPECT_LE(grid->cellRect(13, 59).right(), grid->viewport()->width());
    key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(grid->LeftCol(), 2);
    EXPECT_EQ(grid->TopRow(), 1);
}

TEST_F(StringGridTest, EditorFollowsItsCellAndClosesWhenItScrollsAway)
{
    click(3, 4);
    key(Qt::Key_F2);
    type("5");
    grid->setTopRow(2);
    ASSERT_TRUE(grid->EditorMode());
    EXPECT_EQ(grid->inplaceEditor()->geometry(), grid->cellRect(3, 4));
    grid->setTopRow(10);
    EXPECT_FALSE(grid->EditorMode());
    const std::vector<Report> expected { { 3, 4, "c3r4" }, { 3, 4, "5" }, { 3, 4, "5" } };
    EXPECT_EQ(reports, expected);
    EXPECT_EQ(grid->Cells(3, 4), "5");
}

TEST_F(StringGridTest, RectangularSelection)
{
    click(3, 2);
    key(Qt::Key_Right, Qt::ShiftModifier);
    key(Qt::Key_Right, Qt::ShiftModifier);
    key(Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(grid->Selection(), (TGridRect { 3, 2, 5, 3 }));
    EXPECT_EQ(grid->Col(), 3); // the current cell stays where the selection began
    EXPECT_EQ(grid->Row(), 2);

    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier, grid->cellRect(2, 6).center());
    EXPECT_EQ(grid->Selection(), (TGridRect { 2, 2, 3, 6 }));

    // Dragging selects the rectangle between the press and the pointer.
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, grid->cellRect(4, 4).center());
    QMouseEvent move(QEvent::MouseMove, QPointF(grid->cellRect(6, 8).center()), QPointF(), Qt::NoButton,
        Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grid->viewport(), &move);
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, grid->cellRect(6, 8).center());
    EXPECT_EQ(grid->Selection(), (TGridRect { 4, 4, 6, 8 }));

    // A plain move collapses it.
    key(Qt::Key_Down);
    EXPECT_EQ(grid->Selection(), (TGridRect { 4, 5, 4, 5 }));
}

TEST_F(StringGridTest, CellsOutsideTheGridReadEmptyAndIgnoreWrites)
{
    grid->setCells(14, 1, "x");
    grid->setCells(-1, 1, "x");
    grid->setCells(2, 60, "x");
    EXPECT_EQ(grid->Cells(14, 1), "");
    EXPECT_EQ(grid->Cells(2, -1), "");
    // Growing keeps texts, shrinking drops the removed cells.
    grid->setColCount(16);
    EXPECT_EQ(grid->Cells(13, 3), "c13r3");
    EXPECT_EQ(grid->Cells(15, 3), "");
    EXPECT_EQ(grid->ColWidths(15), 100);
    grid->setColCount(3);
    grid->setColCount(5);
    EXPECT_EQ(grid->Cells(4, 3), "");
    EXPECT_EQ(grid->Cells(2, 3), "c2r3");
}

TEST_F(StringGridTest, ShrinkingAwayTheEditedColumnClosesTheEditorFirst)
{
    click(6, 2);
    key(Qt::Key_F2);
    type("42");
    grid->setColCount(4);
    EXPECT_FALSE(grid->EditorMode());
    const std::vector<Report> expected { { 6, 2, "c6r2" }, { 6, 2, "4" }, { 6, 2, "42" }, { 6, 2, "42" } };
    EXPECT_EQ(reports, expected);
    EXPECT_EQ(grid->Col(), 3);
}

// A marked cell paints its colour under its text and shows its hint as a
// tooltip; marks go with their cells when the grid shrinks.
TEST_F(StringGridTest, MarkedCellsShowTheirColourAndHint)
{
    const QColor red(255, 150, 150);
    grid->setCellMark(3, 2, red, QStringLiteral("写入 -125.00，读回 -100.00：核对不符"));
    grid->setCellMark(0, 2, red, QStringLiteral("fixed")); // fixed cells take no mark
    EXPECT_EQ(grid->CellMarkColor(3, 2), red);
    EXPECT_FALSE(grid->CellMarkColor(0, 2).isValid());
    EXPECT_FALSE(grid->CellMarkColor(4, 2).isValid());

    const QImage shot = grid->viewport()->grab().toImage();
    const QRect marked = grid->cellRect(3, 2);
    const QRect plain = grid->cellRect(4, 2);
    EXPECT_EQ(QColor(shot.pixel(marked.right() - 2, marked.top() + 2)), red);
    EXPECT_NE(QColor(shot.pixel(plain.right() - 2, plain.top() + 2)), red);

    QHelpEvent help(QEvent::ToolTip, marked.center(), grid->viewport()->mapToGlobal(marked.center()));
    QApplication::sendEvent(grid->viewport(), &help);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("写入 -125.00，读回 -100.00：核对不符"));

    grid->clearCellMark(3, 2);
    EXPECT_FALSE(grid->CellMarkColor(3, 2).isValid());
    grid->setCellMark(5, 2, red, QStringLiteral("x"));
    grid->setColCount(5);
    grid->setColCount(8);
    EXPECT_FALSE(grid->CellMarkColor(5, 2).isValid());
}

} // namespace
