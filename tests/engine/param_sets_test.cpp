// Parameter sets on the window without a line: import into a column, the
// stored set, and what a copy refuses before it sends anything.
#include "form_fixture.h"

#include "errors.h"
#include "param_grid.h"
#include "param_set_dialogs.h"
#include "param_set_file.h"
#include "param_source_box.h"
#include "station_db.h"
#include "string_grid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

class ParamSets : public FormFixture {
protected:
    TForm1& open()
    {
        TForm1& f = make_form();
        errors.clear();
        f.send_pause_ms = 0;
        f.on_frame_sent = [this](const std::string&) { ++sent; };
        for (int a : { 3, 5 })
            addr_enabled[a] = 1;
        layout_value_columns(*f.StringGrid1, { 3, 5 });
        return f;
    }
    QString write_file(const ParamSet& set)
    {
        const QString path = dir.filePath(QStringLiteral("set.csv"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(param_set_file_text(set, {})));
        return path;
    }
    int sent = 0;
};

} // namespace

// A file of another instrument goes into a column without its address, which
// would move this instrument onto the other's; the imported cells lose their
// old verification marks.
TEST_F(ParamSets, ImportIntoAnotherInstrumentsColumnKeepsItsAddress)
{
    TForm1& f = open();
    dec_places[5] = 2;
    f.StringGrid1->setCells(3, 35, QStringLiteral("5"));
    f.StringGrid1->setCells(3, 5, QStringLiteral("0.00"));
    f.StringGrid1->setCellMark(3, 5, QColor(255, 150, 150), QStringLiteral("核对不符"));
    ParamSet set;
    set.address = 3;
    set.decimal_places = 1;
    set.values = { { 4, -125.5f }, { 13, 345.0f }, { 29, 1.0f }, { 34, 3.0f } };
    const std::string said = f.import_param_set(write_file(set), 5);
    EXPECT_NE(said.find("导入 3 项参数到 5#仪表 列"), std::string::npos) << said;
    EXPECT_NE(said.find("通讯地址（代码 34）未导入"), std::string::npos) << said;
    EXPECT_EQ(f.StringGrid1->Cells(3, 5), "-125.50"); // at the target's two places
    EXPECT_EQ(f.StringGrid1->Cells(3, 14), "345");
    EXPECT_EQ(f.StringGrid1->Cells(3, 30), "rELy");
    EXPECT_EQ(f.StringGrid1->Cells(3, 35), "5");
    EXPECT_FALSE(f.StringGrid1->CellMarkColor(3, 5).isValid());
    EXPECT_EQ(f.StringGrid1->Cells(2, 5), ""); // instrument 3's column is not touched
}

// What the target cannot hold refuses the whole file, and the column stays
// as it was; so does an address without a column.
TEST_F(ParamSets, ImportRefusesWhatTheTargetCannotTake)
{
    TForm1& f = open();
    dec_places[5] = 0;
    f.StringGrid1->setCells(3, 14, QStringLiteral("600"));
    ParamSet set;
    set.address = 5;
    set.decimal_places = 1;
    set.values = { { 4, -125.5f }, { 13, 345.0f } };
    const QString path = write_file(set);
    try {
        f.import_param_set(path, 5);
        ADD_FAILURE() << "imported";
    } catch (const EStationError& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("不能导入仪表 5（0 位小数）"), std::string::npos) << what;
        EXPECT_NE(what.find("第 8 行：（代码 4 下限报警LoAL）'-125.5' 比该参数的分辨率（1）更精细"), std::string::npos)
            << what;
    }
    EXPECT_EQ(f.StringGrid1->Cells(3, 14), "600");
    EXPECT_THROW(f.import_param_set(path, 7), EStationError);
}

// The stored set runs up to the program segments its Pno asks for.
TEST_F(ParamSets, StoredSetFollowsItsSegmentCount)
{
    TForm1& f = open();
    EXPECT_THROW(f.stored_set(90), EStationError); // no field for address 90
    EXPECT_EQ(f.stored_set(3).values.size(), 52u);
    f.db->store_parameter(3, 4, -125.5f);
    f.db->store_parameter(3, 40, 1.0f);
    f.db->store_parameter(3, 54, 30.0f); // t2: within one segment's codes
    f.db->store_parameter(3, 56, 40.0f); // t3: beyond them
    const ParamSet set = f.stored_set(3);
    EXPECT_EQ(set.address, 3);
    ASSERT_EQ(set.values.size(), 54u);
    EXPECT_EQ(set.values.at(4), -125.5f);
    EXPECT_EQ(set.values.at(54), 30.0f);
}

// A copy checks every value for every target before it sends anything, and
// refuses one address for several instruments.
TEST_F(ParamSets, CopyRefusesBeforeSendingAnything)
{
    TForm1& f = open();
    ParamSet set;
    set.address = 3;
    set.decimal_places = 2;
    set.values = { { 4, -125.25f }, { 34, 3.0f }, { 35, 9600.0f } };
    dec_places[5] = 1;
    const struct {
        const char* name;
        std::vector<int> targets;
        bool with_address;
        const char* says;
    } cases[] = {
        { "no target", {}, false, "请选择至少一台目标仪表" },
        { "one address for two", { 3, 5 }, true, "同一通讯地址不能写入多台仪表" },
        { "finer than a target holds", { 3, 5 }, false, "仪表 5：下限报警LoAL '-125.25' 比该参数的分辨率（0.1）更精细" },
        { "no such address", { 91 }, false, "目标地址 91 超出仪表地址范围" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            f.start_copy(set, c.targets, c.with_address);
            ADD_FAILURE() << "started";
        } catch (const EStationError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
        EXPECT_FALSE(f.iTimers1->Enabled(6));
    }
    EXPECT_EQ(sent, 0);
    EXPECT_TRUE(f.Timer1->Enabled());
}

// Reading an instrument that does not answer, or a read stopped half way,
// compares nothing and says why; polling resumes either way.
TEST_F(ParamSets, ComparisonWithoutAnInstrumentsAnswerSaysWhy)
{
    TForm1& f = open();
    f.CompareSetsClick(nullptr);
    auto* view = f.findChild<ParamCompareDialog*>();
    ASSERT_NE(view, nullptr);
    view->side_a->set_kind(SetSourceKind::Instrument);
    view->side_b->set_kind(SetSourceKind::Database);
    QPushButton* compare = view->findChild<QPushButton*>(QStringLiteral("compare_button"));
    compare->click();
    ASSERT_TRUE(f.iTimers1->Enabled(7));
    EXPECT_FALSE(compare->isEnabled());
    for (int t = 0; t < 200 && f.iTimers1->Enabled(7); ++t) {
        f.iTimers1->OnTimer(7)(nullptr);
        f.settle_replies();
    }
    EXPECT_FALSE(f.iTimers1->Enabled(7));
    EXPECT_EQ(sent, 52);
    EXPECT_EQ(view->status_label()->text(), "仪表 3 没有应答，未比较");
    EXPECT_TRUE(view->count_label()->text().isEmpty());
    EXPECT_TRUE(f.Timer1->Enabled());

    compare->click();
    for (int t = 0; t < 5; ++t)
        f.iTimers1->OnTimer(7)(nullptr);
    f.Button4Click(nullptr);
    EXPECT_EQ(view->status_label()->text(), "读取已停止，未比较");
    EXPECT_TRUE(compare->isEnabled());
    EXPECT_TRUE(f.Timer1->Enabled());
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(ParamSets, SourceBoxSaysWhatIsMissing)
{
    ParamSourceBox box(QStringLiteral("甲"), { SetSourceKind::GridColumn, SetSourceKind::File }, { 1, 2 }, 2);
    EXPECT_EQ(box.source().address, 2);
    box.findChild<QComboBox*>(QStringLiteral("source_address"))->setEditText(QStringLiteral("95"));
    EXPECT_THROW(box.source(), EStationError);
    box.set_kind(SetSourceKind::File);
    EXPECT_THROW(box.source(), EStationError); // no file chosen
    box.set_path(QStringLiteral("/tmp/a.csv"));
    EXPECT_EQ(box.source().path, "/tmp/a.csv");
    EXPECT_EQ(source_title(box.source()), "文件 a.csv");

    ParamCopyDialog copy({ 1, 2, 5 }, 1);
    const auto boxes = copy.findChildren<QCheckBox*>();
    for (QCheckBox* b : boxes)
        if (b->text() == "2#仪表" || b->text() == "5#仪表")
            b->setChecked(true);
    EXPECT_EQ(copy.targets(), (std::vector<int> { 2, 5 }));
    EXPECT_FALSE(copy.with_address_and_baud());
}
