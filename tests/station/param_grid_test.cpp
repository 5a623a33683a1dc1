// The parameter grid as the window uses it: fixed part, column layout by
// address, the address of a column, and a rendered picture of the page.
#include "errors.h"
#include "param_grid.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace {

class ParamGridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        grid.reset(create_param_grid(nullptr));
        strgrid_init(*grid);
        grid->resize(900, 720);
    }
    std::unique_ptr<TStringGrid> grid;
};

TEST_F(ParamGridTest, ShapeBeforeTheFirstLayout)
{
    EXPECT_EQ(grid->objectName(), "StringGrid1");
    EXPECT_EQ(grid->RowCount(), 412);
    EXPECT_EQ(grid->ColCount(), 3);
    EXPECT_EQ(grid->FixedRows(), 1);
    EXPECT_EQ(grid->FixedCols(), 2);
    EXPECT_EQ(grid->ColWidths(0), 40);
    EXPECT_EQ(grid->ColWidths(1), 220);
    EXPECT_EQ(grid->ColWidths(2), 128);
    EXPECT_TRUE(grid->Editing());
    EXPECT_TRUE(grid->RangeSelect());
    EXPECT_EQ(grid->Cells(0, 0), "");
    EXPECT_EQ(grid->Cells(1, 0), "命令");
    EXPECT_EQ(grid->Cells(2, 0), "返回命令");
}

TEST_F(ParamGridTest, RowNumbersAreThreeCharactersRightAligned)
{
    const struct {
        int row;
        const char* text;
    } cases[] = { { 1, "  1" }, { 9, "  9" }, { 10, " 10" }, { 99, " 99" }, { 100, "100" }, { 411, "411" } };
    for (const auto& c : cases)
        EXPECT_EQ(grid->Cells(0, c.row), c.text) << c.row;
    for (int row = 1; row <= 411; ++row) {
        const QString text = grid->Cells(0, row);
        ASSERT_EQ(text.size(), 3) << row;
        EXPECT_EQ(text.trimmed().toInt(), row);
    }
}

TEST_F(ParamGridTest, NamesByRow)
{
    const struct {
        int code;
        const char* name;
    } cases[] = { { 0, "手动功率MP" }, { 40, "程序段数Pno" }, { 51, "SP1" }, { 410, "t180" } };
    for (const auto& c : cases)
        EXPECT_EQ(grid->Cells(1, c.code + 1), QString::fromUtf8(c.name)) << c.code;
    EXPECT_EQ(grid->Cells(1, 41), "程序段数Pno");
    EXPECT_EQ(grid->Cells(1, 52), "SP1");
    EXPECT_EQ(grid->Cells(1, 411), "t180");
}

TEST_F(ParamGridTest, LayoutTitlesOneColumnPerAddressInSlotOrder)
{
    layout_value_columns(*grid, { 1, 4, 12 });
    ASSERT_EQ(grid->ColCount(), 5);
    EXPECT_EQ(grid->Cells(2, 0), "1#仪表");
    EXPECT_EQ(grid->Cells(3, 0), "4#仪表");
    EXPECT_EQ(grid->Cells(4, 0), "12#仪表");
    // Address 12 has slot 3: its values go to column 4, whose title names it.
    EXPECT_EQ(param_grid_column_of_slot(3), 4);
    EXPECT_EQ(value_column_address(*grid, param_grid_column_of_slot(3)), 12);
    EXPECT_EQ(value_column_address(*grid, 2), 1);
    // The fixed part is untouched.
    EXPECT_EQ(grid->Cells(1, 0), "命令");
    EXPECT_EQ(grid->Cells(1, 41), "程序段数Pno");
    EXPECT_EQ(grid->ColWidths(4), 128);

    // A later layout with fewer addresses drops the surplus columns, and
    // the marks of the old layout: a column may now belong to another address.
    grid->setCellMark(2, 5, QColor(255, 150, 150), QStringLiteral("核对不符"));
    layout_value_columns(*grid, { 7 });
    EXPECT_FALSE(grid->CellMarkColor(2, 5).isValid());
    EXPECT_EQ(grid->ColCount(), 3);
    EXPECT_EQ(grid->Cells(2, 0), "7#仪表");
    EXPECT_EQ(grid->Cells(3, 0), "");
}

TEST_F(ParamGridTest, LayoutWithoutAddressesKeepsTheFixedColumns)
{
    layout_value_columns(*grid, {});
    EXPECT_EQ(grid->ColCount(), 2);
    EXPECT_EQ(grid->FixedCols(), 2);
    EXPECT_FALSE(grid->showEditor());
    layout_value_columns(*grid, { 3, 90 });
    EXPECT_EQ(grid->FixedCols(), 2);
    EXPECT_EQ(grid->Col(), 2);
    EXPECT_EQ(grid->Cells(3, 0), "90#仪表");
}

TEST_F(ParamGridTest, ColumnWithoutAddressCannotBeAttributed)
{
    // Before the first layout column 2 is titled "返回命令".
    try {
        value_column_address(*grid, 2);
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'返回命令' 不是整数");
    }
    EXPECT_THROW(value_column_address(*grid, 7), EConvertError); // no such column
}

// Renders the page with a dozen value columns scrolled to the right. The
// fixed columns must still show the row numbers and names; the picture is
// written for a person to look at (PARAM_GRID_PNG names the file).
TEST_F(ParamGridTest, RenderScrolledRight)
{
    layout_value_columns(*grid, { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12 });
    for (int col = 2; col < grid->ColCount(); ++col)
        for (int row = 1; row <= 411; ++row)
            grid->setCells(col, row, QString::number(row * 0.25 + col, 'f', 2));
    grid->setCells(8, 11, QStringLiteral("Hand"));
    grid->setCells(8, 23, QStringLiteral("Pt100/1000"));
    grid->setCells(8, 24, QStringLiteral("四位"));
    grid->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(grid.get()));
    grid->setLeftCol(7);
    grid->setTopRow(1);

    const QImage image = grid->grab().toImage();
    const QString path = qEnvironmentVariableIsSet("PARAM_GRID_PNG") ? qEnvironmentVariable("PARAM_GRID_PNG")
                                                                     : QStringLiteral("param_grid.png");
    ASSERT_TRUE(image.save(path));

    // Fixed columns keep their place: row 11's name is drawn in column 1
    // (dark pixels inside its cell), and the first value column on view is 7.
    EXPECT_EQ(grid->LeftCol(), 7);
    ASSERT_GE(grid->VisibleRowCount(), 24);
    const QRect name = grid->cellRect(1, 11).translated(grid->viewport()->pos());
    EXPECT_EQ(name.left(), grid->viewport()->x() + 41);
    const QColor fixed_face = grid->palette().color(QPalette::Button);
    int ink = 0;
    for (int x = name.left(); x <= name.right(); ++x)
        for (int y = name.top(); y <= name.bottom(); ++y)
            if (QColor(image.pixel(x, y)) != fixed_face)
                ++ink;
    EXPECT_GT(ink, 50);
    EXPECT_TRUE(grid->cellRect(2, 11).isEmpty());
    EXPECT_EQ(grid->cellRect(7, 11).left(), 40 + 1 + 220 + 1);
}

} // namespace
