// Numbers under a comma-decimal desktop: the station reads and writes them
// with a point whatever the language. The German locale is generated for the
// test (localedef into a temporary folder, found through LOCPATH), so it runs
// on a machine that has no locale but C.
#include "convert.h"
#include "errors.h"
#include "form_fixture.h"
#include "frame_codec.h"
#include "iAnalogOutput.h"
#include "measurement_model.h"
#include "param_grid.h"
#include "param_text.h"
#include "run_timers.h"
#include "string_grid.h"

#include <QComboBox>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class CommaDecimalDesktop : public FormFixture {
protected:
    static void SetUpTestSuite()
    {
        locale_dir = new QTemporaryDir;
        const std::string target = locale_dir->filePath(QStringLiteral("de_DE.UTF-8")).toStdString();
        const std::string command = "localedef -i de_DE -f UTF-8 '" + target + "' >/dev/null 2>&1";
        generated = std::system(command.c_str()) == 0;
        setenv("LOCPATH", locale_dir->path().toLocal8Bit().constData(), 1);
    }
    static void TearDownTestSuite()
    {
        unsetenv("LOCPATH");
        delete locale_dir;
        locale_dir = nullptr;
    }
    void SetUp() override
    {
        FormFixture::SetUp();
        ASSERT_TRUE(generated) << "localedef could not generate de_DE.UTF-8 (package locales)";
        old_c_locale = std::setlocale(LC_ALL, nullptr);
        ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
        ASSERT_STREQ(std::localeconv()->decimal_point, ",");
        old_qt_locale = QLocale();
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    void TearDown() override
    {
        QLocale::setDefault(old_qt_locale);
        std::setlocale(LC_ALL, old_c_locale.c_str());
        FormFixture::TearDown();
    }

    static inline QTemporaryDir* locale_dir = nullptr;
    static inline bool generated = false;
    std::string old_c_locale;
    QLocale old_qt_locale;
};

std::string hex(const std::string& frame)
{
    return to_hex(reinterpret_cast<const std::uint8_t*>(frame.data()), static_cast<int>(frame.size()));
}

} // namespace

TEST_F(CommaDecimalDesktop, TextsAndNumbersKeepThePoint)
{
    EXPECT_EQ(decimal_text(25.6, 2), "25.60");
    EXPECT_EQ(decimal_text(12346.0, 2), "1.235E+4");
    EXPECT_EQ(integer_text(-12.0), "-12");
    EXPECT_EQ(param_value_text(4, 150.5f, 1), "150.50");
    EXPECT_DOUBLE_EQ(str_to_float("150.5"), 150.5);
    EXPECT_DOUBLE_EQ(str_to_float("-2.5E-2"), -0.025);
    for (const char* text : { "150.5abc", "150,5", "1e999" })
        EXPECT_THROW(str_to_float(text), EConvertError) << text;
    EXPECT_DOUBLE_EQ(str_to_float("1e-400"), 0.0);
    // The log's dates and times as the station writes them, not the desktop's.
    const QVariant stored(QStringLiteral("2026-12-10 09:15:02.250"));
    EXPECT_EQ(MeasurementModel::display_text(MeasurementModel::ColDate, stored), QStringLiteral("2026-12-10"));
    EXPECT_EQ(MeasurementModel::display_text(MeasurementModel::ColTime, stored), QStringLiteral("09:15:02"));
}

// The commands and the column write take what the operator typed with a point.
TEST_F(CommaDecimalDesktop, CommandsAndTheColumnWriteSendTheTypedValues)
{
    TForm1& f = make_form();
    errors.clear();
    Engine& e = engine();
    std::vector<std::string> frames;
    e.on_frame_sent = [&](const std::string& frame) { frames.push_back(hex(frame)); };
    addr_enabled[1] = 1;
    e.param_table.layout({ 1 });
    Q_EMIT e.param_columns({ 1 });
    f.ComboBox7->setEditText(QStringLiteral("1"));
    for (int code = 1; code <= 52; ++code)
        e.param_table.set_cell(1, code + 1, QStringLiteral("1"));
    e.param_table.set_cell(1, 4, QStringLiteral("12.5")); // code 3
    e.param_table.set_cell(1, 35, QStringLiteral("1")); // its address
    e.param_table.set_cell(1, 41, QStringLiteral("0")); // Pno
    e.param_table.set_cell(1, 43, QStringLiteral("10000")); // AF
    Q_EMIT e.param_cells(e.param_table.take_changes());

    // Typed into the entry boxes as the operator would, then sent.
    const auto type = [](TiEditCustom* box, const QString& keys) {
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, keys);
        QTest::keyClick(box, Qt::Key_Return);
    };
    type(f.iAnalogOutput1, QStringLiteral("55.5"));
    type(f.iAnalogOutput2, QStringLiteral("123.45"));
    dec_places[1] = 2;
    f.Button8->click(); // manual output: 55.5 x 100 = 5550 = 0x15AE
    f.Button9->click(); // set value: 12345 counts, five-digit code 10234 = 0x27FA
    ASSERT_EQ(frames.size(), 2u) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(frames[0], "81818600AE158700");
    EXPECT_EQ(frames[1], "81818633FA278733");
    e.settle_replies();

    // A cell typed into the grid with a point, committed as the grid reports
    // it (the editor's text, then the same text again), and the column written.
    const int col = value_column_of(*f.StringGrid1, 1);
    ASSERT_EQ(col, 2);
    for (int i = 0; i < 2; ++i)
        f.StringGrid1->OnSetEditText(col, 8, QStringLiteral("0.3")); // code 7
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(e.param_table.cell(1, 8), QStringLiteral("0.3"));

    frames.clear();
    dec_places[1] = 1;
    e.first_scan_done = true;
    f.Button14->setEnabled(true);
    f.Button14->click();
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    for (int t = 0; t < 200 && e.iTimers1->Enabled(2); ++t) {
        e.iTimers1->OnTimer(2)();
        const std::uint8_t reply[10] = {}; // all zero: a valid reply
        e.SComm1_485ReceiveData(nullptr, reinterpret_cast<const char*>(reply), 10);
        e.settle_replies();
    }
    // The writes, without their read-backs.
    std::erase_if(frames, [](const std::string& frame) { return frame.substr(4, 2) != "86"; });
    EXPECT_EQ(frames.size(), 52u) << errors.join(QLatin1Char('\n')).toStdString();
    if (frames.size() >= 7) {
        EXPECT_EQ(frames[2], "818186037D008703"); // code 3: 12.5 with one decimal, 125
        EXPECT_EQ(frames[6], "8181860703008707"); // code 7: 0.3 with one decimal, 3
    }
}
