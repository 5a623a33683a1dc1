#include "form_fixture.h"
#include "replies.h"

#include "errors.h"
#include "frame_codec.h"
#include "iAnalogOutput.h"
#include "iTimers.h"
#include "param_catalogue.h"
#include "param_grid.h"
#include "scomm.h"
#include "station_db.h"
#include "ttimer.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <map>
#include <optional>
#include <tuple>

using EditQueue = FormFixture;

TEST_F(EditQueue, CommittedEditIsQueuedWithAddressCodeAndText)
{
    TForm1& f = make_form();
    layout_value_columns(*f.StringGrid1, { 1, 4, 12 });
    errors.clear();
    // The grid reports: open on the old text, each change, then the final text again.
    for (const char* text : { "0", "1", "15", "150", "150" })
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
    layout_value_columns(*f.StringGrid1, { 3 });
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

// ---------------------------------------------------------------------------
// The runs, driven tick by tick through the handlers the timers call, with the
// sends recorded and the replies injected into the receive handler.

namespace {

struct Request {
    int address = -1;
    bool write = false;
    int code = -1;
    int word = 0; // the value word of a write
};

Request parse(const std::string& frame)
{
    auto b = [&](int i) { return static_cast<std::uint8_t>(frame[static_cast<size_t>(i)]); };
    Request r;
    r.address = b(0) - 0x80;
    r.write = b(2) < 0xA4;
    r.code = (b(2) - (r.write ? 0x86 : 0xA4)) * 256 + b(3);
    r.word = static_cast<std::int16_t>(b(4) | (b(5) << 8));
    return r;
}

std::string hex(const std::string& frame)
{
    return to_hex(reinterpret_cast<const std::uint8_t*>(frame.data()), static_cast<int>(frame.size()));
}

} // namespace

class Runs : public FormFixture {
protected:
    TForm1& open()
    {
        TForm1& f = make_form();
        errors.clear();
        f.send_pause_ms = 0;
        f.on_frame_sent = [this](const std::string& frame) { sent.push_back(frame); };
        return f;
    }
    // One tick of channel k through the handler its timer calls (errors go to
    // the error box). Returns the request sent on it, if any.
    std::optional<Request> tick(TForm1& f, int k)
    {
        const size_t before = sent.size();
        f.iTimers1->OnTimer(k)(nullptr);
        if (sent.size() == before)
            return std::nullopt;
        EXPECT_EQ(sent.size(), before + 1) << "one request per tick";
        return parse(sent.back());
    }
    static void reply(TForm1& f, int raw)
    {
        const auto bytes = param_reply(raw);
        answer(f, bytes.data());
    }
    // One enabled address with a value column (slot 1) chosen in ComboBox7,
    // every value cell holding a writable text (the address and baud-rate
    // cells what the instrument and the station have) and no program segments.
    static void one_column(TForm1& f, int address)
    {
        addr_enabled[address] = 1;
        addr_slot[address] = 1;
        layout_value_columns(*f.StringGrid1, { address });
        f.ComboBox7->setEditText(QString::number(address));
        for (int code = 1; code <= kLastParamCode; ++code) {
            const auto& words = param_words(code);
            const ParamRange range = param_range(code);
            const float number = range.clamped && range.min > 0 ? range.min : 0;
            f.StringGrid1->setCells(2, code + 1,
                words.empty() ? QString::number(static_cast<double>(number)) : QString::fromStdString(words[0]));
        }
        f.StringGrid1->setCells(2, 35, QString::number(address));
        f.StringGrid1->setCells(2, 36, QString::number(f.SComm1_485->BaudRate()));
    }
    // Ticks the column write to its end. Each write is answered with its
    // word and each read-back with the word written last (the instrument took
    // it), unless `silent_from` says from which write on (counted from 1)
    // nothing answers. Returns the writes.
    std::vector<Request> write_column(TForm1& f, int silent_from = 0)
    {
        std::vector<Request> writes;
        for (int t = 0; t < 400 && f.iTimers1->Enabled(2); ++t) {
            if (const auto r = tick(f, 2)) {
                if (r->write)
                    writes.push_back(*r);
                if (silent_from == 0 || static_cast<int>(writes.size()) < silent_from)
                    reply(f, writes.back().word);
                else
                    f.settle_replies();
            }
        }
        return writes;
    }
    static bool polling(TForm1& f) { return f.Timer1->Enabled(); }

    std::vector<std::string> sent;
};

TEST_F(Runs, ReadAllWalksTheAddressesTickByTick)
{
    TForm1& f = open();
    addr_enabled[2] = addr_enabled[5] = 1;
    // Slots left stale by an earlier sweep must not misplace the replies.
    addr_slot[2] = 7;
    addr_slot[5] = 0;
    f.Button3Click(nullptr);
    EXPECT_EQ(f.Label15->text(), "请稍候，读入数据...");
    EXPECT_FALSE(polling(f));
    ASSERT_EQ(f.StringGrid1->ColCount(), 4);
    EXPECT_EQ(f.StringGrid1->Cells(2, 0), "2#仪表");
    EXPECT_EQ(f.StringGrid1->Cells(3, 0), "5#仪表");
    EXPECT_EQ(f.StringGrid1->Cells(3, 300), "0");

    using Sent = std::tuple<int, int, int>; // tick, address, code
    std::vector<Sent> seen, expected;
    for (int t = 3; t <= 55; ++t)
        expected.emplace_back(t, 2, t - 3);
    for (int t = 59; t <= 111; ++t)
        expected.emplace_back(t, 5, t - 59);
    for (int t = 1; t <= 112; ++t) {
        ASSERT_TRUE(f.iTimers1->Enabled(1)) << "run ended early, before tick " << t;
        const auto r = tick(f, 1);
        if (r) {
            EXPECT_FALSE(r->write);
            seen.emplace_back(t, r->address, r->code);
            EXPECT_EQ(f.Label67->text(), QStringLiteral("当前命令  ") + QString::number(r->code));
            reply(f, r->code == 0 || r->code == 40 ? 0 : r->address * 100 + r->code);
        }
        if (t == 55) {
            EXPECT_EQ(f.run_progress->value(), 53);
            EXPECT_EQ(f.run_progress->maximum(), 106);
        }
    }
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(f.iTimers1->Enabled(1));
    EXPECT_EQ(f.Label15->text(), "数据上载完成");
    EXPECT_EQ(f.Label67->text(), "");
    EXPECT_TRUE(polling(f));
    EXPECT_EQ(para_run_active, 0);
    EXPECT_EQ(f.run_progress->value(), f.run_progress->maximum());
    // Replies landed in each address's column and in ai_para.
    EXPECT_EQ(f.StringGrid1->Cells(2, 14), "213");
    EXPECT_EQ(f.StringGrid1->Cells(3, 14), "513");
    EXPECT_EQ(f.StringGrid1->Cells(3, 43), "542");
    EXPECT_EQ(f.db->load_param_column(2, 0).texts[13], "213");
    EXPECT_EQ(f.db->load_param_column(5, 0).texts[42], "542");
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(Runs, ReadAllWithNoEnabledAddressEndsOnItsFirstTick)
{
    TForm1& f = open();
    f.Button3Click(nullptr);
    EXPECT_FALSE(tick(f, 1));
    EXPECT_FALSE(f.iTimers1->Enabled(1));
    EXPECT_EQ(f.Label15->text(), "数据上载完成");
    EXPECT_TRUE(polling(f));
}

TEST_F(Runs, ReadAllFollowsTheProgramSegmentCountOfTheReply)
{
    TForm1& f = open();
    addr_enabled[2] = 1;
    f.Button3Click(nullptr);
    std::vector<int> codes;
    for (int t = 0; t < 200 && f.iTimers1->Enabled(1); ++t)
        if (const auto r = tick(f, 1)) {
            codes.push_back(r->code);
            reply(f, r->code == 40 ? 3 : 0);
        }
    ASSERT_FALSE(f.iTimers1->Enabled(1));
    ASSERT_EQ(codes.size(), 59u);
    EXPECT_EQ(codes.front(), 0);
    EXPECT_EQ(codes.back(), 58); // "t4": the pair after the third segment
    EXPECT_EQ(f.StringGrid1->Cells(2, 41), "3");
}

TEST_F(Runs, ReadAllNeverAsksPastTheLastCatalogueCode)
{
    TForm1& f = open();
    addr_enabled[2] = 1;
    f.Button3Click(nullptr);
    int last = -1;
    for (int t = 0; t < 600 && f.iTimers1->Enabled(1); ++t)
        if (const auto r = tick(f, 1)) {
            last = r->code;
            reply(f, r->code == 40 ? 255 : 0);
        }
    EXPECT_FALSE(f.iTimers1->Enabled(1));
    EXPECT_EQ(last, kLastParamCode);
}

TEST_F(Runs, StopLeavesTheGridAsFilledAndRestartsPolling)
{
    TForm1& f = open();
    addr_enabled[2] = 1;
    f.Button3Click(nullptr);
    for (int t = 0; t < 20; ++t)
        if (const auto r = tick(f, 1))
            reply(f, r->code == 0 ? 0 : 1000 + r->code);
    f.Button4Click(nullptr);
    EXPECT_FALSE(f.iTimers1->Enabled(1));
    EXPECT_EQ(f.Label15->text(), "读入数据停止");
    EXPECT_TRUE(polling(f));
    EXPECT_EQ(para_run_active, 0);
    EXPECT_EQ(f.StringGrid1->Cells(2, 14), "1013"); // read before the stop
    EXPECT_EQ(f.StringGrid1->Cells(2, 20), "0"); // code 19 was never asked for
    EXPECT_EQ(f.StringGrid1->Cells(2, 43), "0");
}

TEST_F(Runs, ColumnWriteSendsEveryCodeWithAddressAndBaudRateLast)
{
    TForm1& f = open();
    one_column(f, 3);
    f.StringGrid1->setCells(2, 3, "908"); // code 2 at the top of its range
    f.StringGrid1->setCells(2, 4, "9999"); // code 3
    f.StringGrid1->setCells(2, 30, "rELy"); // code 29: word 1
    f.StringGrid1->setCells(2, 53, "12.5"); // code 52, "t1"
    f.Button14Click(nullptr);
    EXPECT_EQ(f.Label15->text(), "请稍候，写入数据...");
    EXPECT_EQ(write_pending, 1);
    EXPECT_EQ(f.run_progress->maximum(), 102); // 52 writes, 50 read-backs
    write_column(f);
    // Every write but the address and the baud rate is read back on the next tick.
    using Step = std::pair<bool, int>; // write, code
    std::vector<Step> steps, expected;
    std::map<int, std::string> frames;
    for (const std::string& frame : sent) {
        const Request r = parse(frame);
        EXPECT_EQ(r.address, 3);
        steps.emplace_back(r.write, r.code);
        if (r.write)
            frames[r.code] = hex(frame);
    }
    for (int code = 1; code <= 52; ++code)
        if (code != 34 && code != 35) {
            expected.emplace_back(true, code);
            expected.emplace_back(false, code);
        }
    expected.emplace_back(true, 34);
    expected.emplace_back(true, 35);
    EXPECT_EQ(steps, expected);
    EXPECT_FALSE(f.iTimers1->Enabled(2));
    EXPECT_EQ(f.Label15->text(), "数据下载完成");
    EXPECT_EQ(f.verify_label->text(), "核对 50 项全部相符");
    EXPECT_EQ(f.verify_label->toolTip(), "写入 52 项，读回核对 50 项，全部相符");
    EXPECT_EQ(f.Label67->text(), "");
    EXPECT_EQ(f.run_progress->value(), f.run_progress->maximum());
    EXPECT_TRUE(polling(f));
    EXPECT_EQ(write_pending, 0);
    EXPECT_EQ(para_run_active, 0);
    EXPECT_EQ(frames[2], "838386028C038902"); // 908
    EXPECT_EQ(frames[3], "838386030F278903"); // 9999
    EXPECT_EQ(frames[29], "8383861D0100891D"); // 1
    EXPECT_EQ(frames[52], "838386347D008934"); // 125 tenths
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

// A value the instrument cannot take, or a text that is no value, stops the
// column write before anything is sent, naming the row, the text and the range.
TEST_F(Runs, ColumnWriteRefusesAColumnWithAValueItCannotWrite)
{
    struct Case {
        int code;
        const char* text;
        const char* says;
    };
    const Case cases[] = {
        { 4, "1e40", "'1e40' 超出范围 -3000 .. 9999" }, // LoAL
        { 2, "950", "'950' 超出范围 -500 .. 908" },
        { 13, "0", "'0' 超出范围 1 .. 32000" },
        { 7, "100", "'100' 超出范围 0.0001 .. 99.99" },
        { 35, "38400", "'38400' 超出范围 0 .. 19200" },
        { 45, "40000", "'40000' 超出范围 -32768 .. 32767" }, // EP3: the value word
        { 52, "600000", "'600000' 超出范围 -500000 .. 500000" }, // t1
        { 5, "abc", "'abc' is not a valid floating point value" },
        { 29, "relay", "'relay' is not a valid floating point value" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        owned_form.reset();
        public_set_reset();
        TForm1& f = open();
        one_column(f, 3);
        f.StringGrid1->setCells(2, c.code + 1, QString::fromUtf8(c.text));
        errors.clear();
        sent.clear();
        f.first_scan_done = true;
        f.update_run_buttons();
        f.Button14->click();
        EXPECT_FALSE(tick(f, 2));
        EXPECT_TRUE(sent.empty());
        EXPECT_FALSE(f.iTimers1->Enabled(2));
        EXPECT_TRUE(polling(f));
        EXPECT_EQ(write_pending, 0);
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].contains(QStringLiteral("第 %1 行").arg(c.code + 1))) << errors[0].toStdString();
        EXPECT_TRUE(errors[0].contains(QString::fromUtf8(c.says))) << errors[0].toStdString();
    }
}

// A new address in the column moves the instrument: the baud rate that follows
// goes to the new address, and the end says where the instrument now is.
TEST_F(Runs, ColumnWriteFollowsANewAddressAndSaysSo)
{
    TForm1& f = open();
    one_column(f, 3);
    f.StringGrid1->setCells(2, 35, "7");
    f.Button14Click(nullptr);
    const std::vector<Request> writes = write_column(f);
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes[writes.size() - 2].code, 34);
    EXPECT_EQ(writes[writes.size() - 2].address, 3);
    EXPECT_EQ(writes[writes.size() - 2].word, 7);
    EXPECT_EQ(writes.back().code, 35);
    EXPECT_EQ(writes.back().address, 7);
    EXPECT_EQ(f.Label15->text(), "数据下载完成");
    EXPECT_EQ(f.verify_label->toolTip(), "写入 52 项，读回核对 50 项，全部相符"); // all under instrument 3
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("由 3 改为 7")) << errors[0].toStdString();
}

// When the instrument stops answering, the run stops after three unanswered
// writes instead of reporting a complete download; unanswered writes at the
// end are named.
TEST_F(Runs, ColumnWriteEndsTruthfullyWhenTheInstrumentStopsAnswering)
{
    TForm1& f = open();
    one_column(f, 3);
    f.Button14Click(nullptr);
    const std::vector<Request> writes = write_column(f, 10);
    EXPECT_EQ(writes.size(), 12u); // the tenth, eleventh and twelfth go unanswered, and their read-backs
    EXPECT_FALSE(f.iTimers1->Enabled(2));
    EXPECT_EQ(f.Label15->text(), "读入数据停止");
    EXPECT_TRUE(polling(f));
    EXPECT_EQ(write_pending, 0);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("连续 3 项写入没有得到确认的应答")) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains("已发送 12 项，其中 9 项得到应答")) << errors[0].toStdString();

    // One reply lost on the way: the run goes on. A read-back that finds the
    // value confirms the write all the same; when the read-back goes
    // unanswered too, the write is named at the end.
    for (const bool readback_answered : { true, false }) {
        SCOPED_TRACE(readback_answered ? "read-back answered" : "read-back lost too");
        one_column(f, 3); // the replies above wrote the instrument's answers into the column
        errors.clear();
        sent.clear();
        f.Button14Click(nullptr);
        std::vector<Request> writes_sent;
        for (int t = 0; t < 400 && f.iTimers1->Enabled(2); ++t)
            if (const auto r = tick(f, 2)) {
                if (r->write)
                    writes_sent.push_back(*r);
                if (r->code == 5 && (r->write || !readback_answered))
                    f.settle_replies();
                else
                    reply(f, writes_sent.back().word);
            }
        EXPECT_EQ(writes_sent.size(), 52u);
        if (readback_answered) {
            EXPECT_EQ(f.Label15->text(), "数据下载完成");
            EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
            continue;
        }
        EXPECT_EQ(f.Label15->text(), "数据下载未完成");
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].contains(QString::fromStdString("1 项未得到确认（没有应答，或应答无法辨认）：" + param_name(5))))
            << errors[0].toStdString();
        EXPECT_TRUE(errors[0].contains("未能核对 1 项: HdAL 写 0.000（")) << errors[0].toStdString();
        EXPECT_TRUE(f.StringGrid1->CellHint(2, 6).startsWith("写入 0.000，未能读回核对："));
    }
}

// A value the instrument does not take is caught by its read-back: its cell
// is marked with both values, the end of the run lists it, and nothing else
// is marked. A reply that fails its check leaves a write unverified.
TEST_F(Runs, ColumnWriteMarksAndListsWhatTheInstrumentDoesNotHold)
{
    TForm1& f = open();
    one_column(f, 3);
    dec_places[3] = 1;
    f.StringGrid1->setCells(2, 5, "-125.0"); // code 4, LoAL
    f.Button14Click(nullptr);
    for (int t = 0; t < 400 && f.iTimers1->Enabled(2); ++t) {
        const auto r = tick(f, 2);
        if (!r)
            continue;
        if (r->write) {
            reply(f, r->word);
        } else if (r->code == 4) {
            reply(f, -1000); // the instrument kept -100.0
        } else if (r->code == 13) {
            auto bytes = param_reply(1);
            bytes[9] ^= 0x10; // wrong check nibble
            answer(f, bytes.data());
        } else {
            reply(f, parse(sent[sent.size() - 2]).word); // the write just before
        }
    }
    EXPECT_EQ(f.Label15->text(), "数据下载未完成");
    EXPECT_EQ(f.verify_label->text(), "核对不符 1 项，未能核对 1 项");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(
        "写入 52 项，核对不符 1 项: LoAL 写 -125.0 读回 -100.0，未能核对 1 项: AI-P:P 写 1（应答校验错）"))
        << errors[0].toStdString();
    EXPECT_EQ(f.StringGrid1->CellHint(2, 5), "写入 -125.0，读回 -100.0：核对不符");
    EXPECT_EQ(f.StringGrid1->CellHint(2, 14), "写入 1，未能读回核对：应答校验错");
    EXPECT_NE(f.StringGrid1->CellMarkColor(2, 5), f.StringGrid1->CellMarkColor(2, 14));
    for (int row = 1; row <= 53; ++row) {
        if (row != 5 && row != 14) {
            EXPECT_FALSE(f.StringGrid1->CellMarkColor(2, row).isValid()) << row;
        }
    }

    // Written again and held this time: the marks go. (The replies put what
    // the instrument holds into the column: the hystereses' 0.0001 is 0 at
    // one decimal place, which cannot be written.)
    f.StringGrid1->setCells(2, 8, "0.1");
    f.StringGrid1->setCells(2, 22, "0.1");
    f.Button14Click(nullptr);
    write_column(f);
    EXPECT_EQ(f.Label15->text(), "数据下载完成");
    EXPECT_FALSE(f.StringGrid1->CellMarkColor(2, 5).isValid());
    EXPECT_FALSE(f.StringGrid1->CellMarkColor(2, 14).isValid());
}

// The set value and the manual output are read back as soon as their command
// is decided; what the instrument does not hold is marked and reported. Run,
// hand and stop are no parameter writes and are not read back.
TEST_F(Runs, SetValueAndManualOutputCommandsAreReadBack)
{
    TForm1& f = open();
    one_column(f, 3);
    dec_places[3] = 1;
    f.StringGrid1->setCells(2, 43, "10000"); // AF: manual output allowed; Pno is 0
    f.iAnalogOutput2->SetValue(123.4);
    f.Button9Click(nullptr);
    ASSERT_EQ(sent.size(), 1u);
    reply(f, 1234); // the command's reply: its window is decided, the read-back goes out
    ASSERT_EQ(sent.size(), 2u);
    const Request readback = parse(sent.back());
    EXPECT_FALSE(readback.write);
    EXPECT_EQ(readback.address, 3);
    EXPECT_EQ(readback.code, 51);
    reply(f, 1234);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();

    f.Button9Click(nullptr);
    reply(f, 1000);
    reply(f, 1000); // the read-back: the instrument kept 100.0
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("给定值：仪表 3 核对不符，SP1 写 123.4 读回 100.0")) << errors[0].toStdString();
    EXPECT_EQ(f.StringGrid1->CellHint(2, 52), "写入 123.4，读回 100.0：核对不符");

    f.iAnalogOutput1->SetValue(55.5);
    f.Button8Click(nullptr);
    reply(f, 0);
    f.settle_replies(); // the read-back goes unanswered
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors[1].contains("手动调功：仪表 3 未能读回核对，MP 写 55.50（")) << errors[1].toStdString();

    sent.clear();
    f.Button7Click(nullptr); // STOP
    reply(f, 1);
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(errors.size(), 2);
}

TEST_F(Runs, ColumnReadReadsCodesOneToTheLastSegmentPair)
{
    TForm1& f = open();
    one_column(f, 3);
    f.StringGrid1->setCells(2, 41, "1");
    f.Button1Click(nullptr);
    std::vector<int> codes;
    for (int t = 0; t < 100 && f.iTimers1->Enabled(4); ++t)
        if (const auto r = tick(f, 4)) {
            EXPECT_FALSE(r->write);
            codes.push_back(r->code);
            reply(f, r->code == 40 ? 1 : 7);
        }
    ASSERT_EQ(codes.size(), 54u);
    EXPECT_EQ(codes.front(), 1);
    EXPECT_EQ(codes.back(), 54);
    EXPECT_EQ(f.Label15->text(), "数据上载完成");
    EXPECT_TRUE(polling(f));
    EXPECT_EQ(write_pending, 0);
    EXPECT_EQ(f.StringGrid1->Cells(2, 14), "7");
}

TEST_F(Runs, EditedCellIsWrittenBySelectedWriteAndTheQueueEmptied)
{
    TForm1& f = open();
    layout_value_columns(*f.StringGrid1, { 1, 4, 12 });
    // As the grid reports an edit of code 4 in the column of address 12.
    for (const char* text : { "2000.00", "1", "15", "150", "150" })
        f.StringGrid1->OnSetEditText(4, 5, QString::fromUtf8(text));
    ASSERT_EQ(edit_count, 1);
    f.Button12Click(nullptr);
    EXPECT_FALSE(polling(f));
    const auto r = tick(f, 5);
    ASSERT_TRUE(r);
    EXPECT_EQ(hex(sent.back()), "8C8C860496009204"); // address 12, code 4, 150
    EXPECT_EQ(write_pending, 1);
    reply(f, r->word);
    const auto readback = tick(f, 5);
    ASSERT_TRUE(readback);
    EXPECT_FALSE(readback->write);
    EXPECT_EQ(readback->address, 12);
    EXPECT_EQ(readback->code, 4);
    EXPECT_TRUE(f.iTimers1->Enabled(5));
    reply(f, 150);
    EXPECT_FALSE(tick(f, 5));
    EXPECT_FALSE(f.iTimers1->Enabled(5));
    EXPECT_EQ(edit_count, 0);
    EXPECT_EQ(edit_next, 0);
    EXPECT_EQ(write_pending, 0);
    EXPECT_EQ(para_run_active, 0);
    EXPECT_TRUE(polling(f));
    EXPECT_EQ(f.verify_label->text(), "核对 1 项全部相符");
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(Runs, SelectedWriteWithAnEmptyQueueEndsOnItsFirstTick)
{
    TForm1& f = open();
    f.Button12Click(nullptr);
    EXPECT_FALSE(tick(f, 5));
    EXPECT_FALSE(f.iTimers1->Enabled(5));
    EXPECT_TRUE(polling(f));
    EXPECT_EQ(para_run_active, 0);
}

TEST_F(Runs, SelectedWriteTakesWordsAndRefusesWhatItCannotWrite)
{
    TForm1& f = open();
    layout_value_columns(*f.StringGrid1, { 3 });
    const std::vector<std::pair<int, const char*>> edits
        = { { 29, "rELy" }, { 4, "xyz" }, { 13, "0" }, { 29, "2" }, { 29, "relay" } };
    for (const auto& [code, text] : edits) {
        f.StringGrid1->OnSetEditText(2, code + 1, QString::fromUtf8(text));
        f.StringGrid1->OnSetEditText(2, code + 1, QString::fromUtf8(text));
    }
    // What cannot be written is refused when the edit is committed.
    ASSERT_EQ(edit_count, 2);
    ASSERT_EQ(errors.size(), 3);
    EXPECT_TRUE(errors[0].contains("第 5 行") && errors[0].contains("'xyz'")) << errors[0].toStdString();
    EXPECT_TRUE(errors[1].contains("'0' 超出范围 1 .. 32000")) << errors[1].toStdString();
    EXPECT_TRUE(errors[2].contains("'relay'")) << errors[2].toStdString();
    f.Button12Click(nullptr);
    std::vector<std::pair<int, int>> written; // code, word
    for (int t = 0; t < 10 && f.iTimers1->Enabled(5); ++t)
        if (const auto r = tick(f, 5)) {
            if (r->write)
                written.emplace_back(r->code, r->word);
            reply(f, written.back().second);
        }
    const std::vector<std::pair<int, int>> expected = { { 29, 1 }, { 29, 2 } };
    EXPECT_EQ(written, expected);
    EXPECT_EQ(errors.size(), 3);
    EXPECT_EQ(edit_count, 0);
    EXPECT_TRUE(polling(f));
}

// The runs, the scan and the commands exclude each other through the buttons;
// "停止" ends whichever run is active.
TEST_F(Runs, ARunDisablesWhatWouldStartAnotherAndStopEndsIt)
{
    TForm1& f = open();
    one_column(f, 3);
    EXPECT_FALSE(f.Button3->isEnabled()); // no scan has ended yet
    EXPECT_FALSE(f.Button12->isEnabled());
    EXPECT_FALSE(f.Button14->isEnabled());
    f.first_scan_done = true;
    f.update_run_buttons();
    const std::vector<QPushButton*> starters = { f.Button3, f.Button1, f.Button14, f.Button12, f.Button_scan,
        f.Button5, f.Button6, f.Button7, f.Button8, f.Button9, f.Button15, f.Button16 };
    struct Case {
        QPushButton* button;
        int channel;
    };
    for (const Case& c :
        { Case { f.Button3, 1 }, Case { f.Button1, 4 }, Case { f.Button14, 2 }, Case { f.Button12, 5 } }) {
        SCOPED_TRACE(c.button->objectName().toStdString());
        for (QPushButton* b : starters)
            ASSERT_TRUE(b->isEnabled()) << b->objectName().toStdString();
        one_column(f, 3); // the read-all run before zeroed the column
        c.button->click();
        ASSERT_TRUE(f.iTimers1->Enabled(c.channel)) << errors.join('\n').toStdString();
        for (QPushButton* b : starters)
            EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
        EXPECT_TRUE(f.Button4->isEnabled());
        // Even a direct call starts nothing while a run is active.
        f.Button3Click(nullptr);
        f.Button1Click(nullptr);
        for (int k : { 1, 2, 4, 5 })
            EXPECT_EQ(f.iTimers1->Enabled(k), k == c.channel);
        f.Button4->click();
        for (int k : { 1, 2, 4, 5 })
            EXPECT_FALSE(f.iTimers1->Enabled(k));
        EXPECT_EQ(f.Label15->text(), "读入数据停止");
        EXPECT_TRUE(polling(f));
        EXPECT_EQ(para_run_active, 0);
        EXPECT_EQ(write_pending, 0);
    }
    for (QPushButton* b : starters)
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();

    // The scan: no run starts under it, and "停止" does not restart polling.
    f.Button_scan->click();
    ASSERT_EQ(scan_active, 1);
    for (QPushButton* b : starters)
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    f.Button3Click(nullptr);
    f.Button4Click(nullptr);
    EXPECT_FALSE(f.iTimers1->Enabled(1));
    EXPECT_TRUE(f.iTimers1->Enabled(3));
    EXPECT_FALSE(polling(f));
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

// A column run that cannot find its column or its segment count ends at once,
// saying why, and polling restarts.
TEST_F(Runs, ColumnRunWithoutColumnOrSegmentCountEndsWithAMessage)
{
    struct Case {
        const char* name;
        const char* address; // ComboBox7
        const char* pno; // the "程序段数Pno" cell
        const char* says;
    };
    const Case cases[] = {
        { "address without a column", "9", "0", "地址 9" },
        { "Pno not a whole number", "3", "2.5", "'2.5'" },
        { "Pno empty", "3", "", "''" },
        { "address not a number", "x", "0", "'x' is not a valid integer value" },
    };
    for (int channel : { 4, 2 }) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (channel == 4 ? " (read)" : " (write)"));
            owned_form.reset();
            public_set_reset();
            TForm1& f = open();
            one_column(f, 3);
            f.ComboBox7->setEditText(QString::fromUtf8(c.address));
            f.StringGrid1->setCells(2, 41, QString::fromUtf8(c.pno));
            errors.clear();
            sent.clear();
            f.first_scan_done = true;
            f.update_run_buttons();
            (channel == 4 ? f.Button1 : f.Button14)->click();
            EXPECT_FALSE(tick(f, channel));
            EXPECT_FALSE(f.iTimers1->Enabled(channel));
            EXPECT_TRUE(polling(f));
            EXPECT_EQ(para_run_active, 0);
            EXPECT_EQ(write_pending, 0);
            ASSERT_EQ(errors.size(), 1);
            EXPECT_TRUE(errors[0].contains(QString::fromUtf8(c.says))) << errors[0].toStdString();
        }
    }
}
