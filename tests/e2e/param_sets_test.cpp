// Parameter sets against the simulated bus: every write read back, sets
// through files, instruments compared and one set copied to several.
#include "e2e_fixture.h"

#include "frame_codec.h"
#include "iAnalogOutput.h"
#include "run_timers.h"
#include "param_catalogue.h"
#include "param_compare.h"
#include "param_set_dialogs.h"
#include "param_set_file.h"
#include "param_source_box.h"
#include "param_grid.h"
#include "scomm.h"
#include "string_grid.h"
#include "ttimer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <cstdio>
#include <map>

namespace {

class ParamSetsE2E : public StationE2E {
protected:
    // The station on the bus with shorter ticks and pause than its own (as in
    // the other run tests: a reply is in after ~60 ms of a 150 ms tick), the
    // instruments found by a scan.
    void start_and_scan(std::vector<int> addresses)
    {
        start(std::move(addresses), 0);
        on_engine([](Engine& e) {
            e.send_pause_ms = 60;
            e.SComm1_485->SetReadIntervalTimeout(20);
            for (int k = 1; k <= 7; ++k)
                e.iTimers1->SetInterval(k, 150);
        });
        // The frames as the engine reports them, queued to the test's thread.
        QObject::connect(&engine(), &Engine::frame_sent, &receiver, [this](const QByteArray& f, int) {
            const auto* b = reinterpret_cast<const std::uint8_t*>(f.constData());
            frames.push_back({ b[0] - 0x80, ((b[2] & 1) << 8) | b[3], (b[2] & 0xFE) == kWriteCommand });
        });
        scan(QStringLiteral("4"), 10000);
    }
    bool run_on(int k)
    {
        return on_engine([k](Engine& e) { return e.iTimers1->Enabled(k); });
    }
    // Reads every enabled instrument's table into the grid (and ai_para).
    void read_all()
    {
        form->Button3->click();
        ASSERT_TRUE(until([&] { return !run_on(1) && !replies_pending(); }, 60000));
        ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    }
    // Runs a column write of `address` to its end; returns its seconds.
    double write_column(int address)
    {
        form->ComboBox7->setEditText(QString::number(address));
        frames.clear();
        QElapsedTimer clock;
        clock.start();
        form->Button14->click();
        EXPECT_TRUE(until([&] { return !run_on(2) && !replies_pending(); }, 60000));
        return static_cast<double>(clock.elapsed()) / 1000.0;
    }
    // The rows of the grid column of `address` that carry a verification mark.
    std::vector<int> marked_rows(int address) const
    {
        std::vector<int> rows;
        const int col = value_column_of(*form->StringGrid1, address);
        for (int row = 1; row < form->StringGrid1->RowCount(); ++row)
            if (form->StringGrid1->CellMarkColor(col, row).isValid())
                rows.push_back(row);
        return rows;
    }

    struct Frame {
        int address;
        int code;
        bool write;
    };
    // A cell edited as the grid reports an edit (committed: reported twice).
    void edit(int col, int row, const QString& text)
    {
        for (int i = 0; i < 2; ++i)
            form->StringGrid1->OnSetEditText(col, row, text);
    }

    QObject receiver; // lives on the test's thread
    std::vector<Frame> frames;
};

} // namespace

// A column write of 52 codes reads every code back on the tick after its write
// (not the address and the baud rate) and reports them verified. An
// instrument that keeps its old value of one code has that code marked and
// listed, and nothing else; so has a set value command it ignores.
TEST_F(ParamSetsE2E, ColumnWriteIsReadBackCodeByCodeAndARefusedValueIsCaught)
{
    start_and_scan({ 1 });
    read_all();
    const double seconds = write_column(1);
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    int writes = 0, readbacks = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].address, 1);
        if (frames[i].write) {
            ++writes;
            continue;
        }
        ++readbacks;
        ASSERT_GT(i, 0u);
        EXPECT_TRUE(frames[i - 1].write && frames[i - 1].code == frames[i].code) << "read of code " << frames[i].code;
    }
    EXPECT_EQ(writes, 52);
    EXPECT_EQ(readbacks, 50);
    EXPECT_EQ(form->Label15->text(), "数据下载完成");
    EXPECT_EQ(form->verify_label->text(), "核对 50 项全部相符");
    EXPECT_EQ(form->verify_label->toolTip(), "写入 52 项，读回核对 50 项，全部相符");
    EXPECT_TRUE(marked_rows(1).empty());
    EXPECT_EQ(listed_with(QStringLiteral("写一列：仪表 1 写入 52 项")).size(), 1) << listed().join(QLatin1Char('\n')).toStdString();
    std::printf("[figures] verified column write: %d writes, %d read-backs, %.1f s at 150 ms ticks\n", writes,
                readbacks, seconds);

    // The instrument now keeps its LoAL whatever is written to it.
    bus->ignore_writes(1, 4);
    const int col = value_column_of(*form->StringGrid1, 1);
    edit(col, 5, QStringLiteral("-125.00"));
    write_column(1);
    // The run's result is a message in the list, not a box: nobody waits for it.
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    const QStringList result = listed_with(QStringLiteral("写一列：写入 52 项，核对不符 1 项: LoAL 写 -125.00 读回 -100.00"));
    ASSERT_EQ(result.size(), 1) << listed().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(form->Label15->text(), "数据下载未完成");
    EXPECT_EQ(form->verify_label->text(), "核对不符 1 项");
    EXPECT_EQ(marked_rows(1), std::vector<int> { 5 });
    EXPECT_EQ(form->StringGrid1->CellHint(col, 5), "写入 -125.00，读回 -100.00：核对不符");
    EXPECT_DOUBLE_EQ(bus->param(1, 4), -100.0);
    std::printf("[figures] refused LoAL: listed \"%s\"\n", result[0].toUtf8().constData());

    // A set value the instrument ignores.
    bus->ignore_writes(1, 51);
    form->iAnalogOutput2->SetValue(150.0);
    form->ComboBox7->setEditText(QStringLiteral("1"));
    form->Button9->click();
    ASSERT_TRUE(until([&] { return !listed_with(QStringLiteral("给定值：仪表 1")).isEmpty(); }, 5000));
    EXPECT_EQ(listed_with(QStringLiteral("给定值：仪表 1")),
        QStringList { QStringLiteral("控制: 给定值：仪表 1 核对不符，SP1 写 150.00 读回 100.00") });
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

// Exported, one value edited in the file, imported and written: exactly that
// parameter changes on the instrument, and nothing on the other one.
TEST_F(ParamSetsE2E, ExportEditImportAndWriteChangesExactlyThatParameter)
{
    start_and_scan({ 1, 2 });
    bus->set_param(1, 13, 345); // values of several classes away from the defaults
    bus->set_param(1, 29, 1);
    bus->set_param(1, 21, 25.6);
    read_all();
    // The grid column and the stored set hold the same set after a read.
    EXPECT_EQ(compare_param_sets(form->grid_column_set(1), form->stored_set(1)).differing, 0);

    const QString path = dir.filePath(QStringLiteral("instrument1.csv"));
    const std::string said = form->export_param_set(true, 1, path);
    EXPECT_NE(said.find("已导出仪表 1 的 52 项参数"), std::string::npos) << said;
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(file.readAll());
    file.close();
    const QString line = QStringLiteral("\r\n4,下限报警LoAL,-100.00\r\n");
    ASSERT_TRUE(text.contains(line)) << text.toStdString();
    text.replace(line, QStringLiteral("\r\n4,下限报警LoAL,-125.50\r\n"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text.toUtf8());
    file.close();

    const std::map<int, double> before1 = snapshot(*bus, 1);
    const std::map<int, double> before2 = snapshot(*bus, 2);
    const std::string imported = form->import_param_set(path, 1);
    EXPECT_NE(imported.find("导入 52 项参数到 1#仪表 列"), std::string::npos) << imported;
    const int col = value_column_of(*form->StringGrid1, 1);
    sync();
    EXPECT_EQ(form->StringGrid1->Cells(col, 5), "-125.50");
    write_column(1);
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    std::map<int, double> expected1 = before1;
    expected1[4] = -125.5;
    EXPECT_EQ(snapshot(*bus, 1), expected1);
    EXPECT_EQ(snapshot(*bus, 2), before2);
    EXPECT_EQ(form->verify_label->text(), "核对 50 项全部相符");
}

// An instrument read now against a file: the comparison view shows the codes
// that differ, counts them and can show them alone; the read leaves the grid
// and ai_para as they were.
TEST_F(ParamSetsE2E, InstrumentNowAgainstAFileShowsTheDifferences)
{
    start_and_scan({ 1 });
    read_all();
    const QString path = dir.filePath(QStringLiteral("saved.csv"));
    form->export_param_set(false, 1, path);
    bus->set_param(1, 13, 777); // changed at the instrument's keys
    bus->set_param(1, 4, -50);
    const ParamSet stored = form->stored_set(1);
    const int col = value_column_of(*form->StringGrid1, 1);
    const QString p_cell = form->StringGrid1->Cells(col, 14);

    form->CompareSetsClick(nullptr);
    auto* view = form->findChild<ParamCompareDialog*>();
    ASSERT_NE(view, nullptr);
    view->side_a->set_kind(SetSourceKind::Instrument);
    view->side_b->set_kind(SetSourceKind::File);
    view->side_b->set_path(path);
    view->findChild<QPushButton*>(QStringLiteral("compare_button"))->click();
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(wait_for([&] { return !view->count_label()->text().isEmpty(); }, 30000));
    EXPECT_EQ(view->count_label()->text(), "共 52 项，不同 2 项");
    QTableWidget* table = view->table();
    std::vector<int> differing;
    for (int row = 0; row < table->rowCount(); ++row)
        if (table->item(row, 2)->font().bold())
            differing.push_back(table->item(row, 0)->text().toInt());
    EXPECT_EQ(differing, (std::vector<int> { 4, 13 }));
    EXPECT_EQ(table->horizontalHeaderItem(2)->text(), "仪表 1（现读）");
    EXPECT_EQ(table->horizontalHeaderItem(3)->text(), "文件 saved.csv");
    view->differences_only()->setChecked(true);
    int shown = 0;
    for (int row = 0; row < table->rowCount(); ++row)
        shown += table->isRowHidden(row) ? 0 : 1;
    EXPECT_EQ(shown, 2);
    // Reading for a comparison leaves the grid and the stored set alone.
    sync();
    EXPECT_EQ(form->StringGrid1->Cells(col, 14), p_cell);
    EXPECT_EQ(compare_param_sets(form->stored_set(1), stored).differing, 0);
    EXPECT_TRUE(on_engine([](Engine& e) { return e.Timer1->Enabled(); }));
    view->close();
}

// One set written to two instruments in one run, every write read back, with
// a summary per address; an instrument that keeps one value is named for it.
TEST_F(ParamSetsE2E, CopyWritesOneSetToSeveralInstrumentsEachVerified)
{
    start_and_scan({ 1, 2, 3 });
    bus->set_param(1, 13, 345);
    bus->set_param(1, 4, -50);
    bus->set_param(1, 29, 2);
    bus->ignore_writes(3, 13);
    // Only instrument 1's column is read.
    const int col = value_column_of(*form->StringGrid1, 1);
    edit(col, 41, QStringLiteral("0"));
    form->ComboBox7->setEditText(QStringLiteral("1"));
    form->Button1->click();
    ASSERT_TRUE(run_on(4));
    ASSERT_TRUE(until([&] { return !run_on(4) && !replies_pending(); }, 30000));
    const ParamSet set = form->grid_column_set(1);
    ASSERT_EQ(set.values.size(), 52u);
    const std::map<int, double> before1 = snapshot(*bus, 1);
    const std::map<int, double> before3 = snapshot(*bus, 3);

    frames.clear();
    // As the copy dialog's OK asks it.
    host().post([set](Engine& e) { e.start_copy(set, { 2, 3 }, false); }, "参数");
    ASSERT_TRUE(run_on(6));
    ASSERT_TRUE(until([&] { return !run_on(6) && !replies_pending(); }, 90000));
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    const QStringList summary = listed_with(QStringLiteral("复制参数集："));
    ASSERT_EQ(summary.size(), 1) << listed().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(summary[0].toStdString(), "参数: 复制参数集：\n仪表 2：写入 50 项，读回核对 50 项，全部相符\n"
                                        "仪表 3：写入 50 项，核对不符 1 项: AI-P:P 写 345 读回 600");
    int writes = 0;
    for (const Frame& f : frames) {
        writes += f.write ? 1 : 0;
        EXPECT_NE(f.code, 34);
        EXPECT_NE(f.code, 35);
    }
    EXPECT_EQ(writes, 100);
    for (int code = 1; code <= 52; ++code) {
        if (code == 34 || code == 35)
            continue;
        SCOPED_TRACE("code " + std::to_string(code));
        EXPECT_EQ(bus->param(2, code), before1.at(code));
        EXPECT_EQ(bus->param(3, code), code == 13 ? before3.at(13) : before1.at(code));
    }
    EXPECT_EQ(bus->param(2, 34), 2);
    EXPECT_EQ(snapshot(*bus, 1), before1);
    EXPECT_EQ(form->Label15->text(), "数据下载未完成");
    std::printf("[figures] copy to 2 and 3: %d writes, summary \"%s\"\n", writes, summary[0].toUtf8().constData());
}
