#include "errors.h"
#include "form1.h"
#include "param_grid.h"
#include "public_set.h"

#include <QLabel>
#include <string>

// The grid reports its editor's text when the editor opens, after each change
// and when it closes. A text that differs from the previous report is an edit
// in progress; the same text reported again is a committed edit and is queued.
void TForm1::StringGrid1SetEditText(int ACol, int ARow, const QString& Value)
{
    if (Value != Label72->text()) {
        Label72->setText(Value);
        return;
    }
    const int address = value_column_address(*StringGrid1, ACol);
    if (edit_count >= kEditQueueSize)
        throw EStationError("编辑队列已满（" + std::to_string(kEditQueueSize)
                            + " 项）：请先按“选择写”写入已排队的修改，本次修改未排队");
    edit_addr[edit_count] = address;
    edit_code[edit_count] = ARow - 1;
    edit_text[edit_count] = Value.toStdString();
    ++edit_count;
}
