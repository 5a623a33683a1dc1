#include "form_fixture.h"
#include "errors.h"
#include "param_grid.h"

#include <QLabel>
#include <QTabWidget>

using EditQueue = FormFixture;

TEST_F(EditQueue, CommittedEditIsQueuedWithAddressCodeAndText)
{
    TForm1& f = make_form();
    layout_value_columns(*f.StringGrid1, {1, 4, 12});
    errors.clear();
    // The grid reports: open on the old text, each change, then the final text again.
    for (const char* text : {"0", "1", "15", "150", "150"})
        f.StringGrid1SetEditText(4, 5, QString::fromUtf8(text));
    ASSERT_EQ(edit_count, 1);
    EXPECT_EQ(edit_addr[0], 12);
    EXPECT_EQ(edit_code[0], 4);
    EXPECT_EQ(edit_text[0], "150");
    EXPECT_EQ(f.Label72->text(), "150");
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(EditQueue, ColumnWithoutAddressRefusesTheEdit)
{
    TForm1& f = make_form();
    f.StringGrid1SetEditText(2, 5, QStringLiteral("7"));
    EXPECT_THROW(
        {
            try {
                f.StringGrid1SetEditText(2, 5, QStringLiteral("7"));
            } catch (const EConvertError& e) {
                EXPECT_STREQ(e.what(), "'返回命令' is not a valid integer value");
                throw;
            }
        },
        EConvertError);
    EXPECT_EQ(edit_count, 0);
}

TEST_F(EditQueue, FullQueueRefusesFurtherEditsLoudly)
{
    TForm1& f = make_form();
    layout_value_columns(*f.StringGrid1, {3});
    for (int i = 0; i < kEditQueueSize; ++i) {
        const QString text = QString::number(i);
        f.StringGrid1SetEditText(2, 4, text);
        f.StringGrid1SetEditText(2, 4, text);
    }
    ASSERT_EQ(edit_count, kEditQueueSize);
    f.StringGrid1SetEditText(2, 4, QStringLiteral("x"));
    EXPECT_THROW(f.StringGrid1SetEditText(2, 4, QStringLiteral("x")), EStationError);
    EXPECT_EQ(edit_count, kEditQueueSize);
    EXPECT_EQ(edit_text[kEditQueueSize - 1], std::to_string(kEditQueueSize - 1));
}

TEST_F(EditQueue, ShowingTheParameterPageShowsTheStoredSets)
{
    TForm1& f = make_form();
    f.PageControl2->setCurrentWidget(f.TabSheet7);
    f.PageControl1->setCurrentWidget(f.TabSheet2);
    EXPECT_EQ(f.PageControl2->currentWidget(), f.TabSheet14);
}
