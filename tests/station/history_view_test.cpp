// The history view on database files copied from other stations: one of the
// current layout and one of the delivered layout (no index, no minute table)
// with the same rows draw the same chart, neither file is changed, and the
// span's rows of the chosen addresses are exported.
#include "chart_history.h"
#include "csv_export.h"
#include "errors.h"
#include "history_view.h"
#include "iPlot.h"
#include "station_db.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QImage>
#include <QListWidget>
#include <QPainter>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray file_hash(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

QImage drawn(const TiPlot& chart)
{
    QImage image(chart.size(), QImage::Format_RGB32);
    QPainter p(&image);
    chart.paint_plot(p, chart.size());
    return image;
}

class HistoryViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        // Three days of addresses 1, 2 and 5, one row each a minute, written
        // once through the station and once straight into a delivered file.
        for (int i = 0; i < 3 * 1440; ++i)
            for (int a : { 1, 2, 5 })
                rows.push_back({ start.addSecs(i * 60 + a), a, 100.0 * a, 20 + a * 10 + (i % 240) * 0.5, 10, 0, 0 });
        QDir(tmp.path()).mkpath(QStringLiteral("own"));
        QDir(tmp.path()).mkpath(QStringLiteral("new"));
        QDir(tmp.path()).mkpath(QStringLiteral("old"));
        for (const char* d : { "own", "new", "old" })
            ASSERT_TRUE(QFile::copy(QString::fromUtf8(STATION_DB_TEMPLATE), path(d)));
        for (const char* d : { "own", "new", "old" })
            QFile::setPermissions(path(d), QFile::ReadOwner | QFile::WriteOwner);
        {
            StationDb db(QFileInfo(path("new")).absolutePath());
            db.append_measurements(rows);
        }
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old_file"));
            db.setDatabaseName(path("old"));
            ASSERT_TRUE(db.open());
            QSqlQuery q(db);
            db.transaction();
            q.prepare(QStringLiteral("INSERT INTO mea_tbl VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
            for (const MeasurementRow& r : rows) {
                const QString t = db_timestamp_text(r.when);
                q.addBindValue(t);
                q.addBindValue(t);
                q.addBindValue(QStringLiteral("%1#仪表").arg(r.address));
                q.addBindValue(r.sv);
                q.addBindValue(r.pv);
                q.addBindValue(r.mv);
                q.addBindValue(r.val);
                q.addBindValue(r.alm);
                ASSERT_TRUE(q.exec());
            }
            db.commit();
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("old_file"));
        { StationDb own(QFileInfo(path("own")).absolutePath()); }
        for (const char* d : { "new", "old" })
            QFile::setPermissions(path(d), QFile::ReadOwner);
    }
    QString path(const char* dir) const
    {
        return QDir(tmp.path()).filePath(QString::fromLatin1(dir) + QStringLiteral("/control_db.sqlite"));
    }

    QTemporaryDir tmp;
    const QDateTime start { QDate(2026, 1, 10), QTime(6, 0) };
    std::vector<MeasurementRow> rows;
};

TEST_F(HistoryViewTest, CopiedDatabasesOfEitherLayoutDrawTheSameAndStayUntouched)
{
    const QByteArray new_hash = file_hash(path("new"));
    const QByteArray old_hash = file_hash(path("old"));
    HistoryView view(path("own"));
    EXPECT_TRUE(view.log_addresses().empty()) << "the station's own log is empty";
    QSignalSpy errors(&view, &HistoryView::database_error);

    QImage images[2];
    const char* files[] = { "new", "old" };
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(files[k]);
        view.open_file(path(files[k]));
        EXPECT_EQ(view.file_path(), path(files[k]));
        EXPECT_EQ(view.log_addresses(), (std::vector<int> { 1, 2, 5 }));
        EXPECT_EQ(view.chosen_addresses(), (std::vector<int> { 1, 2, 5 }));
        // Opened on the log's last 24 hours.
        const qint64 last = db_clock_ms(rows.back().when);
        EXPECT_EQ(view.span(), std::make_pair(last + 1 - 24 * 3'600'000, last + 1));
        view.choose_addresses({ 2, 5 });
        view.set_span(db_clock_ms(start) - 3'600'000, db_clock_ms(start.addDays(3)));
        images[k] = drawn(*view.chart());
        EXPECT_EQ(view.chart()->Channel(2)->TitleText(), QStringLiteral("5#"));
        EXPECT_FALSE(view.chart()->Channel(4)->Visible());
        // The PV of address 2 runs 40 .. 159.5: the Y axis spans it.
        EXPECT_LE(view.chart()->YAxis(0)->Min(), 50.0);
        EXPECT_GE(view.chart()->YAxis(0)->Max(), 200.0);
    }
    EXPECT_EQ(images[0], images[1]);
    // Curves drawn: the PV of the first chosen address in red.
    int red = 0;
    for (int y = 0; y < images[0].height(); ++y)
        for (int x = 0; x < images[0].width(); ++x)
            red += images[0].pixel(x, y) == qRgb(255, 0, 0) ? 1 : 0;
    EXPECT_GT(red, 600);
    EXPECT_EQ(file_hash(path("new")), new_hash);
    EXPECT_EQ(file_hash(path("old")), old_hash);

    // The cross-hair read-out over the log: the row nearest the mouse.
    const qint64 at = db_clock_ms(start.addSecs(1000 * 60 + 2));
    const TiPlot::Readout r = view.chart()->readout_at(chart_x(at));
    ASSERT_FALSE(r.values.empty());
    EXPECT_EQ(r.values[0].channel, 0);
    EXPECT_NEAR(r.values[0].y, 40 + (1000 % 240) * 0.5, 5.0) << "a row of that pixel column";

    // A file that is no database: refused, the view keeps its file.
    QFile junk(QDir(tmp.path()).filePath(QStringLiteral("junk.sqlite")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    EXPECT_THROW(view.open_file(junk.fileName()), EDatabaseError);
    EXPECT_EQ(view.file_path(), path("old"));
    EXPECT_EQ(errors.count(), 0);
}

TEST_F(HistoryViewTest, ExportsTheSpansRowsOfTheChosenAddressesAndSavesThePicture)
{
    HistoryView view(path("new"));
    view.choose_addresses({ 1, 5 });
    // Day two, 06:00 to 18:00.
    const qint64 from = db_clock_ms(start.addDays(1));
    const qint64 to = db_clock_ms(start.addDays(1).addSecs(12 * 3600));
    view.set_span(from, to);
    const QString csv = QDir(tmp.path()).filePath(QStringLiteral("span.csv"));
    // The bar tells the operator the count when done: collected here instead of a box.
    const OperatorPrompts prompts = OperatorPrompts::instance();
    QStringList told;
    OperatorPrompts::instance().tell = [&](QWidget*, const QString&, const QString& text) { told << text; };
    QSignalSpy done(view.export_bar()->job(), &CsvExportJob::finished);
    ASSERT_TRUE(view.start_export(csv));
    ASSERT_TRUE(done.wait(20000));
    ASSERT_TRUE(done.front().at(0).toBool()) << done.front().at(2).toString().toStdString();
    qint64 expected = 0;
    for (const MeasurementRow& r : rows) {
        const qint64 t = db_clock_ms(r.when);
        expected += (r.address == 1 || r.address == 5) && t >= from && t < to ? 1 : 0;
    }
    EXPECT_EQ(expected, 2 * 12 * 60);
    EXPECT_EQ(done.front().at(1).toLongLong(), expected);
    OperatorPrompts::instance() = prompts;
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told.front().contains(QString::number(expected)));
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray content = f.readAll();
    const QList<QByteArray> lines = content.split('\n');
    EXPECT_EQ(lines.size(), expected + 2); // header, rows, the empty piece after the last LF
    EXPECT_TRUE(lines[1].startsWith("2026-01-11,06:00:01,1#仪表,1,")) << lines[1].toStdString();
    EXPECT_FALSE(content.contains("2#仪表"));

    const QString png = QDir(tmp.path()).filePath(QStringLiteral("span.png"));
    QString why;
    ASSERT_TRUE(view.save_png(png, &why)) << why.toStdString();
    const QImage saved(png);
    EXPECT_EQ(saved.size(), view.chart()->size());
    EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32), drawn(*view.chart()));
}

} // namespace
