#include "browser_pages.h"
#include "csv_export.h"
#include "measurement_model.h"
#include "param_table_model.h"
#include "station_db.h"
#include "storage_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSqlError>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

namespace {

class BrowserTest : public StorageDir {
protected:
    // n rows with sv = rowid + 0.125, pv = rowid / 1000, one per second from
    // 2026-01-01 00:00:00.
    void fill_log(int n)
    {
        exec(QStringLiteral(
            "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < %1) "
            "INSERT INTO mea_tbl (\"date\", \"time\", address, sv, pv, mv, val, alm) "
            "SELECT strftime('%Y-%m-%d %H:%M:%f', '2026-01-01', '+' || (i - 1) || ' seconds'), "
            "strftime('%Y-%m-%d %H:%M:%f', '2026-01-01', '+' || (i - 1) || ' seconds'), "
            "(i % 90) || '#仪表', i + 0.125, i / 1000.0, 12.5, 3, i % 256 FROM s")
                 .arg(n));
    }
};

TEST_F(BrowserTest, MeasurementPageIsLazyAndJumpsToTheLastRow)
{
    fill_log(20000);
    StationDb db(dir());
    MeasurementPage page(db);
    page.resize(700, 300);
    page.show();
    QApplication::processEvents();
    MeasurementModel* m = page.model();
    EXPECT_EQ(m->rowCount(), 20000);
    EXPECT_LE(m->block_fetches(), 1) << "opening the page read more than the rows on screen";
    page.navigator()->last();
    QApplication::processEvents();
    EXPECT_EQ(page.records()->current_record(), 19999);
    // The view holds only the rows on screen, the last one among them.
    EXPECT_LT(page.grid()->model()->rowCount(), 100);
    EXPECT_EQ(page.grid()->model()->data(page.grid()->currentIndex()).toString(),
        m->data(m->index(19999, page.grid()->currentIndex().column())).toString());
    EXPECT_LE(m->block_fetches(), 3);
    // The last row shows with its field formats.
    auto text = [&](int row, int col) { return m->data(m->index(row, col)).toString(); };
    EXPECT_EQ(text(19999, MeasurementModel::ColSv), QStringLiteral("20000.13"));
    EXPECT_EQ(text(19999, MeasurementModel::ColPv), QStringLiteral("20.000"));
    EXPECT_EQ(text(19999, MeasurementModel::ColMv), QStringLiteral("12.50"));
    EXPECT_EQ(text(19999, MeasurementModel::ColVal), QStringLiteral("3.00"));
    // The status byte shows as the names of its alarm bits (32: bit 5).
    EXPECT_EQ(text(19999, MeasurementModel::ColAlm), QStringLiteral("LoAL"));
    EXPECT_EQ(
        m->data(m->index(19999, MeasurementModel::ColAlm), Qt::ToolTipRole).toString(), QStringLiteral("32"));
    EXPECT_EQ(text(19999, MeasurementModel::ColAddress), QStringLiteral("20#仪表"));
    const QDateTime t(QDate(2026, 1, 1), QTime(5, 33, 19));
    EXPECT_EQ(text(19999, MeasurementModel::ColDate), t.date().toString(QStringLiteral("yyyy-MM-dd")));
    EXPECT_EQ(text(19999, MeasurementModel::ColTime), QStringLiteral("05:33:19"));
    // The columns show their widest values whole.
    const QFontMetrics fm = page.grid()->fontMetrics();
    EXPECT_GE(page.grid()->columnWidth(MeasurementModel::ColPv), fm.horizontalAdvance(QStringLiteral("-1999.000")) + 6);
    EXPECT_GE(page.grid()->columnWidth(MeasurementModel::ColSv), fm.horizontalAdvance(QStringLiteral("20000.13")) + 6);
    EXPECT_GE(page.grid()->columnWidth(MeasurementModel::ColDate), fm.horizontalAdvance(QStringLiteral("2026-12-10")) + 6);
    page.navigator()->prior();
    EXPECT_EQ(page.records()->current_record(), 19998);
    page.navigator()->first();
    EXPECT_EQ(page.records()->current_record(), 0);
    page.navigator()->prior();
    EXPECT_EQ(page.records()->current_record(), 0);
    page.navigator()->next();
    EXPECT_EQ(page.records()->current_record(), 1);
    EXPECT_EQ(page.grid()->objectName(), QStringLiteral("DBGrid5"));
    EXPECT_EQ(page.navigator()->objectName(), QStringLiteral("DBNavigator2"));
    EXPECT_EQ(page.objectName(), QStringLiteral("TabSheet13"));
    QStringList heads;
    for (int c = 0; c < m->columnCount(); ++c)
        heads << m->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(heads.join(QLatin1Char(',')), QStringLiteral("date,time,address,sv,pv,mv,val,alm"));
}

TEST_F(BrowserTest, AppendedRowsShowWithoutMovingTheCurrentRow)
{
    fill_log(1000);
    StationDb db(dir());
    MeasurementPage page(db);
    page.resize(700, 300);
    page.show();
    MeasurementModel* m = page.model();
    page.records()->go_to_record(500);
    const int top = page.records()->top_record();
    // Touch the last block before the append, so a stale cache would show.
    EXPECT_EQ(m->data(m->index(999, MeasurementModel::ColSv)).toString(), QStringLiteral("1000.13"));
    for (int i = 0; i < 3; ++i)
        db.append_measurement({ QDateTime::currentDateTime(), 7, 55.5 + i, 1, 2, 3, 4 });
    QApplication::processEvents();
    EXPECT_EQ(m->rowCount(), 1003);
    EXPECT_EQ(page.records()->current_record(), 500);
    EXPECT_EQ(page.records()->top_record(), top);
    EXPECT_EQ(page.records()->scroll_bar()->maximum() + page.records()->rows_on_screen(), 1003);
    EXPECT_EQ(m->data(m->index(1002, MeasurementModel::ColSv)).toString(), QStringLiteral("57.50"));
    EXPECT_EQ(m->data(m->index(1002, MeasurementModel::ColAddress)).toString(), QStringLiteral("7#仪表"));

    // An empty log takes its first row the same way.
    exec(QStringLiteral("DELETE FROM mea_tbl"));
    m->refresh();
    EXPECT_EQ(m->rowCount(), 0);
    db.append_measurement({ QDateTime::currentDateTime(), 1, 9, 1, 2, 3, 4 });
    EXPECT_EQ(m->rowCount(), 1);
    EXPECT_EQ(m->data(m->index(0, MeasurementModel::ColSv)).toString(), QStringLiteral("9.00"));
}

TEST_F(BrowserTest, WalStaysBoundedWhileThePageIsBrowsedDuringAppends)
{
    fill_log(5000);
    StationDb db(dir());
    {
        QSqlQuery q(db.connection());
        ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA wal_autocheckpoint=100")));
    }
    MeasurementPage page(db);
    page.resize(700, 300);
    page.show();
    page.records()->go_to_record(2500);
    QApplication::processEvents();
    const QString wal = db_path() + QStringLiteral("-wal");
    qint64 biggest = 0;
    for (int i = 0; i < 1500; ++i) {
        db.append_measurement({ QDateTime::currentDateTime(), i % 90, 1, 2, 3, 4, 5 });
        if (i % 50 == 0) {
            // Browse: move around and read rows, as the operator would.
            page.records()->go_to_record((i * 37) % 5000);
            QApplication::processEvents();
        }
        biggest = std::max(biggest, QFileInfo(wal).size());
    }
    // 1500 commits without checkpoints would make the WAL several MB; with
    // checkpoints every 100 pages it stays near 100 pages of 4 KiB.
    EXPECT_LT(biggest, 2 * 1024 * 1024) << biggest;
}

// Answers the pages' questions and records them.
struct Prompts {
    Prompts()
        : saved(OperatorPrompts::instance())
    {
        OperatorPrompts::instance().ask = [this](QWidget*, const QString&, const QString& text) {
            asked << text;
            return answer;
        };
        OperatorPrompts::instance().tell
            = [this](QWidget*, const QString&, const QString& text) { told << text; };
    }
    ~Prompts() { OperatorPrompts::instance() = saved; }
    OperatorPrompts saved;
    bool answer = false;
    QStringList asked;
    QStringList told;
};

// The measurement page over the working database, shown, with the
// questions answered by `prompts`.
struct ShownLog {
    explicit ShownLog(const QString& dir)
        : db(dir)
        , page(db)
    {
        page.resize(700, 300);
        page.show();
    }
    // Makes (record, column) the grid's current cell.
    void select(int record, int column)
    {
        page.records()->go_to_record(record);
        QTableView* grid = page.grid();
        grid->setCurrentIndex(grid->model()->index(record - page.records()->top_record(), column));
    }
    StationDb db;
    Prompts prompts;
    MeasurementPage page;
};

bool editor_open(const QTableView* grid)
{
    for (const QWidget* w : grid->viewport()->findChildren<QWidget*>())
        if (w->isVisible())
            return true;
    return false;
}

// The log is a record: typing on it, with any key that would open an editor
// on an ordinary grid, changes nothing and leaves no trace.
TEST_F(BrowserTest, LogRefusesEditsWithoutTheEditStep)
{
    fill_log(10);
    ShownLog log(dir());
    QTableView* grid = log.page.grid();
    MeasurementModel* m = log.page.model();
    log.select(4, MeasurementModel::ColPv);
    grid->setFocus();
    const QModelIndex cell = grid->currentIndex();
    for (int key : { int(Qt::Key_9), int(Qt::Key_F2), int(Qt::Key_Return) }) {
        QKeyEvent press(
            QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_9 ? QStringLiteral("9") : QString());
        QApplication::sendEvent(grid, &press);
        QApplication::processEvents();
        EXPECT_FALSE(editor_open(grid)) << "key " << key << " opened an editor";
        if (QWidget* editor = grid->indexWidget(cell))
            ADD_FAILURE() << "editor " << editor->metaObject()->className();
        if (auto* line = qobject_cast<QLineEdit*>(QApplication::focusWidget())) {
            line->setText(QStringLiteral("999"));
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(line, &enter);
        }
    }
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(cell).center());
    QApplication::processEvents();
    EXPECT_FALSE(editor_open(grid)) << "a double click opened an editor";
    log.page.navigator()->next();
    QApplication::processEvents();
    EXPECT_FALSE(m->setData(m->index(4, MeasurementModel::ColPv), QStringLiteral("999")));
    EXPECT_EQ(query(QStringLiteral("SELECT pv FROM mea_tbl WHERE rowid = 5")).front().toDouble(), 0.005);
    EXPECT_EQ(query(QStringLiteral("SELECT count(*) FROM mea_audit")).front().toInt(), 0);
    EXPECT_TRUE(log.prompts.asked.isEmpty());
}

// Editing takes the navigator's edit button and a yes to the question that
// shows the old and the new value; every edit made leaves a row in mea_audit.
TEST_F(BrowserTest, EditTakesTheEditButtonAndAConfirmationAndLeavesATrace)
{
    fill_log(10);
    ShownLog log(dir());
    Prompts& prompts = log.prompts;
    MeasurementModel* m = log.page.model();
    auto edit_sv = [&](const QString& typed) {
        log.select(4, MeasurementModel::ColSv);
        log.page.navigator()->findChild<QToolButton*>(QStringLiteral("nbEdit"))->click();
        QApplication::processEvents();
        auto* line = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        if (!line)
            return false;
        line->setText(typed);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(line, &enter);
        // The delegate commits in a queued call, and the question comes in
        // another after it.
        QApplication::processEvents();
        QApplication::processEvents();
        return true;
    };
    auto stored_sv
        = [&] { return query(QStringLiteral("SELECT sv FROM mea_tbl WHERE rowid = 5")).front().toDouble(); };

    // Answered no: nothing changes.
    ASSERT_TRUE(edit_sv(QStringLiteral("77.5"))) << "the edit button opens an editor";
    ASSERT_EQ(prompts.asked.size(), 1);
    EXPECT_TRUE(prompts.asked[0].contains(QStringLiteral("5.13"))) << prompts.asked[0].toStdString();
    EXPECT_TRUE(prompts.asked[0].contains(QStringLiteral("77.50"))) << prompts.asked[0].toStdString();
    EXPECT_EQ(stored_sv(), 5.125);
    EXPECT_EQ(m->data(m->index(4, MeasurementModel::ColSv)).toString(), QStringLiteral("5.13"));
    EXPECT_EQ(m->armed_row(), -1) << "one edit per press of the button";

    // A text that is no number is refused without a question.
    ASSERT_TRUE(edit_sv(QStringLiteral("abc")));
    EXPECT_EQ(prompts.asked.size(), 1);

    // Answered yes: stored, with its trace.
    prompts.answer = true;
    ASSERT_TRUE(edit_sv(QStringLiteral("77.5")));
    EXPECT_EQ(prompts.asked.size(), 2);
    EXPECT_EQ(stored_sv(), 77.5);
    EXPECT_EQ(m->data(m->index(4, MeasurementModel::ColSv)).toString(), QStringLiteral("77.50"));
    QSqlQuery q(log.db.connection());
    ASSERT_TRUE(
        q.exec(QStringLiteral("SELECT changed_at, row_id, field, old_value, new_value FROM mea_audit")));
    ASSERT_TRUE(q.next());
    EXPECT_TRUE(db_timestamp_from_text(q.value(0).toString()).isValid());
    EXPECT_EQ(q.value(1).toLongLong(), 5);
    EXPECT_EQ(q.value(2).toString(), QStringLiteral("sv"));
    EXPECT_EQ(q.value(3).toDouble(), 5.125);
    EXPECT_EQ(q.value(4).toDouble(), 77.5);
    EXPECT_FALSE(q.next()) << "one trace per changed field";
    q.finish();

    // The armed row is the only one: another row refuses the same edit.
    m->arm_edit(4);
    EXPECT_FALSE(m->setData(m->index(3, MeasurementModel::ColSv), QStringLiteral("1")));
    m->arm_edit(-1);
}

TEST_F(BrowserTest, FollowsTheNewestRowWhenAsked)
{
    fill_log(100);
    StationDb db(dir());
    MeasurementPage page(db);
    page.resize(700, 300);
    page.show();
    page.records()->go_to_record(10);
    db.append_measurement({ QDateTime::currentDateTime(), 7, 1, 2, 3, 4, 5 });
    EXPECT_EQ(page.records()->current_record(), 10) << "the operator's place is kept by default";
    page.follow_box()->setChecked(true);
    db.append_measurement({ QDateTime::currentDateTime(), 7, 1, 2, 3, 4, 5 });
    EXPECT_EQ(page.records()->current_record(), 101);
    EXPECT_EQ(page.records()->top_record() + page.records()->rows_on_screen(), 102);
}

TEST_F(BrowserTest, PageExportTellsHowManyRowsItWrote)
{
    fill_log(10);
    StationDb db(dir());
    Prompts prompts;
    MeasurementPage page(db);
    page.export_bar()->bom_box()->setChecked(true);
    QSignalSpy done(page.export_job(), &CsvExportJob::finished);
    ASSERT_TRUE(page.start_export(file("page.csv")));
    ASSERT_TRUE(done.wait(10000));
    ASSERT_EQ(prompts.told.size(), 1);
    EXPECT_TRUE(prompts.told[0].contains(QStringLiteral("已导出 10 条测量记录")))
        << prompts.told[0].toStdString();
    EXPECT_TRUE(prompts.told[0].contains(file("page.csv"))) << prompts.told[0].toStdString();
    QFile f(file("page.csv"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().startsWith("\xEF\xBB\xBF"));
}

TEST_F(BrowserTest, ParamPageShowsTheTableAndFollowsStores)
{
    exec(QStringLiteral("UPDATE ai_para SET no0 = 2.5, no6 = 1.23456 WHERE id = 3"));
    StationDb db(dir());
    ParamPage page(db);
    page.resize(800, 300);
    page.show();
    QApplication::processEvents();
    ParamTableModel* m = page.model();
    ASSERT_EQ(m->rowCount(), 411);
    ASSERT_EQ(m->columnCount(), 92);
    EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), QStringLiteral("序号"));
    EXPECT_EQ(m->headerData(1, Qt::Horizontal).toString(), QStringLiteral("参数"));
    EXPECT_EQ(m->headerData(2, Qt::Horizontal).toString(), QStringLiteral("no0"));
    EXPECT_EQ(m->headerData(91, Qt::Horizontal).toString(), QStringLiteral("no89"));
    EXPECT_EQ(page.grid()->columnWidth(0), 30);
    EXPECT_EQ(page.grid()->columnWidth(1), 120);
    EXPECT_EQ(m->data(m->index(3, 1)).toString(), QStringLiteral("上限报警HiAL"));
    // Display "#0.000" everywhere; the editor shows no0..no5, no86, no89 plain.
    const struct {
        int address;
        const char* shown;
        const char* edited;
    } cells[] = { { 0, "2.500", "2.5" }, { 6, "1.235", "1.235" }, { 5, "0.000", "0" } };
    for (const auto& c : cells) {
        const QModelIndex i = m->index(2, ParamTableModel::kFirstValueColumn + c.address);
        EXPECT_EQ(m->data(i, Qt::DisplayRole).toString(), QString::fromLatin1(c.shown)) << c.address;
        EXPECT_EQ(m->data(i, Qt::EditRole).toString(), QString::fromLatin1(c.edited)) << c.address;
    }
    EXPECT_FALSE(m->flags(m->index(0, 0)).testFlag(Qt::ItemIsEditable));
    // A store while the page is open shows at once.
    db.store_parameter(12, 40, 6.0f);
    EXPECT_EQ(
        m->data(m->index(40, ParamTableModel::kFirstValueColumn + 12)).toString(), QStringLiteral("6.000"));
    // An edit is written when the cursor leaves its row.
    page.grid()->setCurrentIndex(m->index(10, 5));
    EXPECT_TRUE(m->setData(m->index(10, 5), QStringLiteral("-4.25")));
    EXPECT_EQ(query(QStringLiteral("SELECT no3 FROM ai_para WHERE id = 11")).front().toDouble(), 0.0);
    page.navigator()->next();
    EXPECT_EQ(query(QStringLiteral("SELECT no3 FROM ai_para WHERE id = 11")).front().toDouble(), -4.25);
    EXPECT_EQ(page.objectName(), QStringLiteral("TabSheet14"));
    EXPECT_EQ(page.grid()->objectName(), QStringLiteral("DBGrid6"));
    EXPECT_EQ(page.navigator()->objectName(), QStringLiteral("DBNavigator1"));
}

TEST(DbGrid1, HasThreeTitledColumnsAndNoRows)
{
    std::unique_ptr<QTableView> g(make_dbgrid1());
    EXPECT_EQ(g->objectName(), QStringLiteral("DBGrid1"));
    ASSERT_EQ(g->model()->columnCount(), 3);
    EXPECT_EQ(g->model()->rowCount(), 0);
    const struct {
        const char* title;
        int width;
    } cols[] = { { "段数", 102 }, { "设置值(C)", 147 }, { "时间(s)", 160 } };
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(g->model()->headerData(c, Qt::Horizontal).toString(), QString::fromUtf8(cols[c].title));
        EXPECT_EQ(g->columnWidth(c), cols[c].width);
    }
}

} // namespace

namespace {

// The record grid over a long model: keys, wheel and scroll bar move in
// record numbers, the view keeps a screenful of rows and its column widths.
TEST_F(BrowserTest, RecordGridScrollsAndMovesOverTheWholeLog)
{
    fill_log(3000);
    StationDb db(dir());
    MeasurementPage page(db);
    page.resize(700, 300);
    page.show();
    QApplication::processEvents();
    RecordGrid* g = page.records();
    QTableView* v = page.grid();
    const int width0 = v->columnWidth(0);
    const int screen = g->rows_on_screen();
    ASSERT_GT(screen, 3);
    g->go_to_record(0);
    auto key = [&](int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QKeyEvent press(QEvent::KeyPress, k, mods);
        QApplication::sendEvent(v, &press);
    };
    const struct {
        int key;
        Qt::KeyboardModifiers mods;
        int record;
    } moves[] = { { Qt::Key_Down, Qt::NoModifier, 1 }, { Qt::Key_PageDown, Qt::NoModifier, 1 + screen },
        { Qt::Key_Up, Qt::NoModifier, screen }, { Qt::Key_End, Qt::ControlModifier, 2999 },
        { Qt::Key_Down, Qt::NoModifier, 2999 }, { Qt::Key_PageUp, Qt::NoModifier, 2999 - screen },
        { Qt::Key_Home, Qt::ControlModifier, 0 }, { Qt::Key_Up, Qt::NoModifier, 0 } };
    for (const auto& mv : moves) {
        key(mv.key, mv.mods);
        EXPECT_EQ(g->current_record(), mv.record) << mv.key;
        // The current record is always on screen and is the view's current row.
        EXPECT_GE(g->current_record(), g->top_record());
        EXPECT_LT(g->current_record(), g->top_record() + screen);
        EXPECT_EQ(v->currentIndex().row(), g->current_record() - g->top_record());
    }
    // The scroll bar moves the screen, not the current record.
    g->scroll_bar()->setValue(1234);
    EXPECT_EQ(g->top_record(), 1234);
    EXPECT_EQ(g->current_record(), 0);
    EXPECT_FALSE(v->currentIndex().isValid());
    EXPECT_EQ(v->model()->data(v->model()->index(0, MeasurementModel::ColSv)).toString(),
        QStringLiteral("1235.13"));
    QWheelEvent wheel(QPointF(10, 10), v->viewport()->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, -120),
        Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(v->viewport(), &wheel);
    EXPECT_EQ(g->top_record(), 1237);
    EXPECT_EQ(v->columnWidth(0), width0);
    // Clicking a row of the view makes it the current record.
    v->setCurrentIndex(v->model()->index(2, 1));
    EXPECT_EQ(g->current_record(), 1239);
}

} // namespace
