// The parameter runs and the edit queue on the engine: each run driven tick
// by tick through the handler its timer calls (a failing tick becomes a
// message), with the sends recorded and the replies injected into the
// receive handler. The parameter table stands where the grid's cells stood.
#include "engine_fixture.h"

#include "errors.h"
#include "frame_codec.h"
#include "param_catalogue.h"
#include "param_set.h"
#include "run_texts.h"

#include <map>
#include <optional>
#include <tuple>

using EditQueue = EngineFixture;

TEST_F(EditQueue, EditIsQueuedWithAddressCodeAndText)
{
    Engine& e = start_engine();
    e.param_table.layout({ 1, 4, 12 });
    e.edit_cell(12, 5, QStringLiteral("150"));
    ASSERT_EQ(edit_count, 1);
    EXPECT_EQ(edit_addr[0], 12);
    EXPECT_EQ(edit_code[0], 4);
    EXPECT_EQ(edit_text[0], "150");
    EXPECT_EQ(e.params().cell(12, 5), QStringLiteral("150"));
    EXPECT_TRUE(messages.empty()) << said();
}

// An edit of an address without a column, or one the queue has no room for,
// is refused: nothing is queued and the message says why.
TEST_F(EditQueue, EditWithoutAColumnOrRoomIsRefused)
{
    Engine& e = start_engine();
    e.param_table.layout({ 3 });
    e.request([&] { e.edit_cell(7, 5, QStringLiteral("7")); }, "参数");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].refusal);
    EXPECT_EQ(messages[0].text, QStringLiteral("地址 7 在参数表中没有数据列，修改未排队"));
    EXPECT_EQ(edit_count, 0);

    for (int i = 0; i < kEditQueueSize; ++i)
        e.edit_cell(3, 4, QString::number(i));
    ASSERT_EQ(edit_count, kEditQueueSize);
    EXPECT_THROW(e.edit_cell(3, 4, QStringLiteral("5")), EStationError);
    EXPECT_EQ(edit_count, kEditQueueSize);
    EXPECT_EQ(edit_text[kEditQueueSize - 1], std::to_string(kEditQueueSize - 1));
    EXPECT_EQ(e.params().cell(3, 4), QString::number(kEditQueueSize - 1)); // the refused text is not put in
}

// A text the row cannot take is refused with one message naming the row,
// the text and the range; the cell keeps its value and nothing is queued.
TEST_F(EditQueue, ABadValueIsRefusedNamingTheRowTheTextAndTheRange)
{
    Engine& e = start_engine();
    e.param_table.layout({ 3 });
    e.param_table.set_cell(3, 5, QStringLiteral("-10.00"));
    const struct {
        const char* text;
        const char* says;
    } cases[] = {
        { "abc", "第 5 行（下限报警LoAL）'abc' 不是数值，可设范围 -3000 .. 9999，修改未排队，单元格恢复原值" },
        { "", "第 5 行（下限报警LoAL）'' 不是数值，可设范围 -3000 .. 9999，修改未排队，单元格恢复原值" },
        { "10000", "第 5 行（下限报警LoAL）'10000' 超出范围 -3000 .. 9999，修改未排队，单元格恢复原值" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        messages.clear();
        e.request([&] { e.edit_cell(3, 5, QString::fromUtf8(c.text)); }, "参数");
        ASSERT_EQ(messages.size(), 1u) << said();
        EXPECT_EQ(messages[0].text.toStdString(), c.says);
        EXPECT_EQ(e.params().cell(3, 5), QStringLiteral("-10.00"));
        EXPECT_EQ(edit_count, 0);
    }
}

// ---------------------------------------------------------------------------

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

class Runs : public EngineFixture {
protected:
    // One tick of channel k through the handler its timer calls (what it
    // throws becomes a message). Returns the request sent on it, if any.
    std::optional<Request> tick(int k)
    {
        const size_t before = frames.size();
        engine().iTimers1->OnTimer(k)();
        if (frames.size() == before)
            return std::nullopt;
        EXPECT_EQ(frames.size(), before + 1) << "one request per tick";
        return parse(frames.back());
    }
    void reply(int raw) { inject(param_reply(raw)); }
    // One enabled address with a column, chosen as the control address,
    // every cell holding a writable text (the address and baud-rate cells
    // what the instrument and the station have) and no program segments.
    void one_column(int address)
    {
        Engine& e = engine();
        addr_enabled[address] = 1;
        addr_slot[address] = 1;
        e.param_table.layout({ address });
        e.set_control_address(address);
        for (int code = 1; code <= kLastParamCode; ++code) {
            const auto& words = param_words(code);
            const ParamRange range = param_range(code);
            const float number = range.clamped && range.min > 0 ? range.min : 0;
            e.param_table.set_cell(address, code + 1,
                words.empty() ? QString::number(static_cast<double>(number))
                              : QString::fromStdString(words[0]));
        }
        e.param_table.set_cell(address, 35, QString::number(address));
        e.param_table.set_cell(address, 36, QString::number(e.serial()->BaudRate()));
    }
    // Ticks the column write to its end. Each write is answered with its
    // word and each read-back with the word written last (the instrument took
    // it), unless `silent_from` says from which write on (counted from 1)
    // nothing answers. Returns the writes.
    std::vector<Request> write_column(int silent_from = 0)
    {
        std::vector<Request> writes;
        for (int t = 0; t < 400 && engine().iTimers1->Enabled(2); ++t) {
            if (const auto r = tick(2)) {
                if (r->write)
                    writes.push_back(*r);
                if (silent_from == 0 || static_cast<int>(writes.size()) < silent_from)
                    reply(writes.back().word);
                else
                    engine().settle_replies();
            }
        }
        return writes;
    }
    bool polling() { return engine().Timer1->Enabled(); }
    // Messages that warn or report an error, as "source: text".
    QStringList problems() const
    {
        QStringList out;
        for (const EngineMessage& m : messages)
            if (m.level != EngineMessage::Level::Info)
                out << m.source + QStringLiteral(": ") + m.text;
        return out;
    }
    // The last mark of every cell marked, by (address, row).
    std::map<std::pair<int, int>, CellMark> last_marks() const
    {
        std::map<std::pair<int, int>, CellMark> out;
        for (const CellMark& m : marks)
            out[{ m.address, m.row }] = m;
        return out;
    }
};

} // namespace

TEST_F(Runs, ReadAllWalksTheAddressesTickByTick)
{
    Engine& e = start_engine();
    std::vector<int> columns;
    QObject::connect(&e, &Engine::param_columns, [&](const std::vector<int>& c) { columns = c; });
    addr_enabled[2] = addr_enabled[5] = 1;
    // Slots left stale by an earlier sweep must not misplace the replies.
    addr_slot[2] = 7;
    addr_slot[5] = 0;
    e.start_read_all();
    EXPECT_EQ(run.status, "请稍候，读入数据...");
    EXPECT_TRUE(run.busy);
    EXPECT_FALSE(polling());
    EXPECT_EQ(columns, (std::vector<int> { 2, 5 }));
    EXPECT_EQ(e.params().cell(5, 300), "0");

    using Sent = std::tuple<int, int, int>; // tick, address, code
    std::vector<Sent> seen, expected;
    for (int t = 3; t <= 55; ++t)
        expected.emplace_back(t, 2, t - 3);
    for (int t = 59; t <= 111; ++t)
        expected.emplace_back(t, 5, t - 59);
    for (int t = 1; t <= 112; ++t) {
        ASSERT_TRUE(e.iTimers1->Enabled(1)) << "run ended early, before tick " << t;
        const auto r = tick(1);
        if (r) {
            EXPECT_FALSE(r->write);
            seen.emplace_back(t, r->address, r->code);
            EXPECT_EQ(run.command, QStringLiteral("当前命令  ") + QString::number(r->code));
            reply(r->code == 0 || r->code == 40 ? 0 : r->address * 100 + r->code);
        }
        if (t == 55) {
            EXPECT_EQ(run.done, 53);
            EXPECT_EQ(run.total, 106);
        }
    }
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(e.iTimers1->Enabled(1));
    EXPECT_EQ(run.status, "数据上载完成");
    EXPECT_EQ(run.command, "");
    EXPECT_FALSE(run.busy);
    EXPECT_TRUE(polling());
    EXPECT_EQ(para_run_active, 0);
    EXPECT_EQ(run.done, run.total);
    // Replies landed in each address's column and in ai_para.
    EXPECT_EQ(e.params().cell(2, 14), "213");
    EXPECT_EQ(e.params().cell(5, 14), "513");
    EXPECT_EQ(e.params().cell(5, 43), "542");
    EXPECT_EQ(e.database()->load_param_column(2, 0).texts[13], "213");
    EXPECT_EQ(e.database()->load_param_column(5, 0).texts[42], "542");
    EXPECT_TRUE(messages.empty()) << said();
}

TEST_F(Runs, ReadAllWithNoEnabledAddressEndsOnItsFirstTick)
{
    Engine& e = start_engine();
    e.start_read_all();
    EXPECT_FALSE(tick(1));
    EXPECT_FALSE(e.iTimers1->Enabled(1));
    EXPECT_EQ(run.status, "数据上载完成");
    EXPECT_TRUE(polling());
}

TEST_F(Runs, ReadAllFollowsTheProgramSegmentCountOfTheReply)
{
    Engine& e = start_engine();
    addr_enabled[2] = 1;
    e.start_read_all();
    std::vector<int> codes;
    for (int t = 0; t < 200 && e.iTimers1->Enabled(1); ++t)
        if (const auto r = tick(1)) {
            codes.push_back(r->code);
            reply(r->code == 40 ? 3 : 0);
        }
    ASSERT_FALSE(e.iTimers1->Enabled(1));
    ASSERT_EQ(codes.size(), 59u);
    EXPECT_EQ(codes.front(), 0);
    EXPECT_EQ(codes.back(), 58); // "t4": the pair after the third segment
    EXPECT_EQ(e.params().cell(2, 41), "3");
}

TEST_F(Runs, ReadAllNeverAsksPastTheLastCatalogueCode)
{
    Engine& e = start_engine();
    addr_enabled[2] = 1;
    e.start_read_all();
    int last = -1;
    for (int t = 0; t < 600 && e.iTimers1->Enabled(1); ++t)
        if (const auto r = tick(1)) {
            last = r->code;
            reply(r->code == 40 ? 255 : 0);
        }
    EXPECT_FALSE(e.iTimers1->Enabled(1));
    EXPECT_EQ(last, kLastParamCode);
}

TEST_F(Runs, StopLeavesTheTableAsFilledAndRestartsPolling)
{
    Engine& e = start_engine();
    addr_enabled[2] = 1;
    e.start_read_all();
    for (int t = 0; t < 20; ++t)
        if (const auto r = tick(1))
            reply(r->code == 0 ? 0 : 1000 + r->code);
    e.stop_runs();
    EXPECT_FALSE(e.iTimers1->Enabled(1));
    EXPECT_EQ(run.status, "读入数据停止");
    EXPECT_FALSE(run.busy);
    EXPECT_TRUE(polling());
    EXPECT_EQ(para_run_active, 0);
    EXPECT_EQ(e.params().cell(2, 14), "1013"); // read before the stop
    EXPECT_EQ(e.params().cell(2, 20), "0"); // code 19 was never asked for
    EXPECT_EQ(e.params().cell(2, 43), "0");
}

TEST_F(Runs, ColumnWriteSendsEveryCodeWithAddressAndBaudRateLast)
{
    Engine& e = start_engine();
    one_column(3);
    e.param_table.set_cell(3, 3, "908"); // code 2 at the top of its range
    e.param_table.set_cell(3, 4, "9999"); // code 3
    e.param_table.set_cell(3, 30, "rELy"); // code 29: word 1
    e.param_table.set_cell(3, 53, "12.5"); // code 52, "t1"
    e.start_column_write(3);
    EXPECT_EQ(run.status, "请稍候，写入数据...");
    EXPECT_EQ(write_pending, 1);
    EXPECT_EQ(run.total, 102); // 52 writes, 50 read-backs
    write_column();
    // Every write but the address and the baud rate is read back on the next tick.
    using Step = std::pair<bool, int>; // write, code
    std::vector<Step> steps, expected;
    std::map<int, std::string> written;
    for (const std::string& frame : frames) {
        const Request r = parse(frame);
        EXPECT_EQ(r.address, 3);
        steps.emplace_back(r.write, r.code);
        if (r.write)
            written[r.code] = hex(frame);
    }
    for (int code = 1; code <= 52; ++code)
        if (code != 34 && code != 35) {
            expected.emplace_back(true, code);
            expected.emplace_back(false, code);
        }
    expected.emplace_back(true, 34);
    expected.emplace_back(true, 35);
    EXPECT_EQ(steps, expected);
    EXPECT_FALSE(e.iTimers1->Enabled(2));
    EXPECT_EQ(run.status, "数据下载完成");
    EXPECT_EQ(run.verify_text, "核对 50 项全部相符");
    EXPECT_EQ(run.verify_detail, "写入 52 项，读回核对 50 项，全部相符");
    EXPECT_TRUE(run.verify_clean);
    EXPECT_EQ(run.command, "");
    EXPECT_EQ(run.done, run.total);
    EXPECT_TRUE(polling());
    EXPECT_EQ(write_pending, 0);
    EXPECT_EQ(para_run_active, 0);
    EXPECT_EQ(written[2], "838386028C038902"); // 908
    EXPECT_EQ(written[3], "838386030F278903"); // 9999
    EXPECT_EQ(written[29], "8383861D0100891D"); // 1
    EXPECT_EQ(written[52], "838386347D008934"); // 125 tenths
    EXPECT_TRUE(problems().isEmpty()) << problems().join('\n').toStdString();
    EXPECT_TRUE(message_has("写一列：仪表 3 写入 52 项，读回核对 50 项，全部相符")) << said();
}

// A value the instrument cannot take, or a text that is no value, refuses
// the column write before anything is sent, naming the row, the text and
// the range.
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
        { 5, "abc", "'abc' 不是数值" },
        { 29, "relay", "'relay' 不是数值" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Engine& e = start_engine();
        one_column(3);
        e.param_table.set_cell(3, c.code + 1, QString::fromUtf8(c.text));
        e.request([&] { e.start_column_write(3); }, "参数");
        EXPECT_FALSE(tick(2));
        EXPECT_TRUE(frames.empty());
        EXPECT_FALSE(e.iTimers1->Enabled(2));
        EXPECT_FALSE(e.run_busy());
        EXPECT_TRUE(polling());
        EXPECT_EQ(write_pending, 0);
        ASSERT_EQ(messages.size(), 1u) << said();
        EXPECT_TRUE(messages[0].refusal);
        const QString text = messages[0].text;
        EXPECT_TRUE(text.startsWith(QStringLiteral("写一列未开始："))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("第 %1 行").arg(c.code + 1))) << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.says))) << text.toStdString();
    }
}

// A new address in the column moves the instrument: the baud rate that follows
// goes to the new address, and the end says where the instrument now is.
TEST_F(Runs, ColumnWriteFollowsANewAddressAndSaysSo)
{
    Engine& e = start_engine();
    one_column(3);
    e.param_table.set_cell(3, 35, "7");
    e.start_column_write(3);
    const std::vector<Request> writes = write_column();
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes[writes.size() - 2].code, 34);
    EXPECT_EQ(writes[writes.size() - 2].address, 3);
    EXPECT_EQ(writes[writes.size() - 2].word, 7);
    EXPECT_EQ(writes.back().code, 35);
    EXPECT_EQ(writes.back().address, 7);
    EXPECT_EQ(run.status, "数据下载完成");
    EXPECT_EQ(run.verify_detail, "写入 52 项，读回核对 50 项，全部相符"); // all under instrument 3
    ASSERT_EQ(problems().size(), 1) << said();
    EXPECT_TRUE(problems()[0].contains("由 3 改为 7")) << said();
}

// When the instrument stops answering, the run stops after three unanswered
// writes instead of reporting a complete download; unanswered writes at the
// end are named.
TEST_F(Runs, ColumnWriteEndsTruthfullyWhenTheInstrumentStopsAnswering)
{
    Engine& e = start_engine();
    one_column(3);
    e.start_column_write(3);
    const std::vector<Request> writes = write_column(10);
    EXPECT_EQ(writes.size(), 12u); // the tenth, eleventh and twelfth go unanswered, and their read-backs
    EXPECT_FALSE(e.iTimers1->Enabled(2));
    EXPECT_EQ(run.status, "读入数据停止");
    EXPECT_TRUE(polling());
    EXPECT_EQ(write_pending, 0);
    bool stopped_said = false;
    for (const EngineMessage& m : messages) {
        if (!m.text.startsWith(QStringLiteral("写一列停止")))
            continue;
        stopped_said = true;
        EXPECT_EQ(m.level, EngineMessage::Level::Error);
        EXPECT_TRUE(m.text.contains("连续 3 项写入没有得到确认的应答")) << m.text.toStdString();
        EXPECT_TRUE(m.text.contains("已发送 12 项，其中 9 项得到应答")) << m.text.toStdString();
    }
    EXPECT_TRUE(stopped_said) << said();

    // One reply lost on the way: the run goes on. A read-back that finds the
    // value confirms the write all the same; when the read-back goes
    // unanswered too, the write is named at the end.
    for (const bool readback_answered : { true, false }) {
        SCOPED_TRACE(readback_answered ? "read-back answered" : "read-back lost too");
        one_column(3); // the replies above wrote the instrument's answers into the column
        messages.clear();
        marks.clear();
        frames.clear();
        e.start_column_write(3);
        std::vector<Request> writes_sent;
        for (int t = 0; t < 400 && e.iTimers1->Enabled(2); ++t)
            if (const auto r = tick(2)) {
                if (r->write)
                    writes_sent.push_back(*r);
                if (r->code == 5 && (r->write || !readback_answered))
                    e.settle_replies();
                else
                    reply(writes_sent.back().word);
            }
        EXPECT_EQ(writes_sent.size(), 52u);
        if (readback_answered) {
            EXPECT_EQ(run.status, "数据下载完成");
            EXPECT_TRUE(problems().isEmpty()) << said();
            continue;
        }
        EXPECT_EQ(run.status, "数据下载未完成");
        // The read-back that went unanswered is said when it is decided, and
        // the end of the run names the write.
        ASSERT_EQ(problems().size(), 2) << said();
        EXPECT_TRUE(problems()[0].startsWith("参数: 参数未能核对：仪表 3 HdAL 写 0.000（")) << said();
        EXPECT_TRUE(problems()[1].contains(
            QString::fromStdString("1 项未得到确认（没有应答，或应答无法辨认）：" + param_name(5))))
            << said();
        EXPECT_TRUE(problems()[1].contains("未能核对 1 项: HdAL 写 0.000（")) << said();
        const CellMark mark = last_marks()[{ 3, 6 }];
        EXPECT_EQ(mark.kind, CellMark::Kind::Unverified);
        EXPECT_TRUE(mark.hint.startsWith("写入 0.000，未能读回核对：")) << mark.hint.toStdString();
        EXPECT_FALSE(run.verify_clean);
    }
}

// A value the instrument does not take is caught by its read-back: its cell
// is marked with both values, the end of the run lists it, and nothing else
// is marked. A reply that fails its check leaves a write unverified.
TEST_F(Runs, ColumnWriteMarksAndListsWhatTheInstrumentDoesNotHold)
{
    Engine& e = start_engine();
    one_column(3);
    dec_places[3] = 1;
    e.param_table.set_cell(3, 5, "-125.0"); // code 4, LoAL
    e.start_column_write(3);
    for (int t = 0; t < 400 && e.iTimers1->Enabled(2); ++t) {
        const auto r = tick(2);
        if (!r)
            continue;
        if (r->write) {
            reply(r->word);
        } else if (r->code == 4) {
            reply(-1000); // the instrument kept -100.0
        } else if (r->code == 13) {
            auto bytes = param_reply(1);
            bytes[9] ^= 0x10; // wrong check nibble
            inject(bytes);
        } else {
            reply(parse(frames[frames.size() - 2]).word); // the write just before
        }
    }
    EXPECT_EQ(run.status, "数据下载未完成");
    EXPECT_EQ(run.verify_text, "核对不符 1 项，未能核对 1 项");
    EXPECT_TRUE(message_has(
        "写入 52 项，核对不符 1 项: LoAL 写 -125.0 读回 -100.0，未能核对 1 项: AI-P:P 写 1（应答校验错）"))
        << said();
    const auto marked = last_marks();
    EXPECT_EQ(marked.at({ 3, 5 }).kind, CellMark::Kind::Mismatch);
    EXPECT_EQ(marked.at({ 3, 5 }).hint, "写入 -125.0，读回 -100.0：核对不符");
    EXPECT_EQ(marked.at({ 3, 14 }).kind, CellMark::Kind::Unverified);
    EXPECT_EQ(marked.at({ 3, 14 }).hint, "写入 1，未能读回核对：应答校验错");
    for (const auto& [cell, mark] : marked) {
        if (cell.second != 5 && cell.second != 14) {
            EXPECT_EQ(mark.kind, CellMark::Kind::None) << cell.second;
        }
    }

    // Written again and held this time: the marks go. (The replies put what
    // the instrument holds into the column: the hystereses' 0.0001 is 0 at
    // one decimal place, which cannot be written.)
    e.param_table.set_cell(3, 8, "0.1");
    e.param_table.set_cell(3, 22, "0.1");
    e.start_column_write(3);
    write_column();
    EXPECT_EQ(run.status, "数据下载完成");
    EXPECT_EQ(last_marks().at({ 3, 5 }).kind, CellMark::Kind::None);
    EXPECT_EQ(last_marks().at({ 3, 14 }).kind, CellMark::Kind::None);
}

// The set value and the manual output are read back as soon as their command
// is decided; what the instrument does not hold is marked and becomes a
// message. Run, hand and stop are no parameter writes and are not read back.
TEST_F(Runs, SetValueAndManualOutputCommandsAreReadBack)
{
    Engine& e = start_engine();
    one_column(3);
    dec_places[3] = 1;
    e.param_table.set_cell(3, 43, "10000"); // AF: manual output allowed; Pno is 0
    e.set_value(3, 123.4);
    ASSERT_EQ(frames.size(), 1u);
    reply(1234); // the command's reply: its window is decided, the read-back goes out
    ASSERT_EQ(frames.size(), 2u);
    const Request readback = parse(frames.back());
    EXPECT_FALSE(readback.write);
    EXPECT_EQ(readback.address, 3);
    EXPECT_EQ(readback.code, 51);
    reply(1234);
    EXPECT_TRUE(messages.empty()) << said();

    e.set_value(3, 123.4);
    reply(1000);
    reply(1000); // the read-back: the instrument kept 100.0
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].source, "控制");
    EXPECT_FALSE(messages[0].refusal);
    EXPECT_TRUE(messages[0].text.contains("给定值：仪表 3 核对不符，SP1 写 123.4 读回 100.0")) << said();
    EXPECT_EQ(last_marks().at({ 3, 52 }).hint, "写入 123.4，读回 100.0：核对不符");

    e.manual_output(3, 55.5);
    reply(0);
    e.settle_replies(); // the read-back goes unanswered
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[1].text.contains("手动调功：仪表 3 未能读回核对，MP 写 55.50（")) << said();

    frames.clear();
    e.stop_instrument(3);
    reply(1);
    EXPECT_EQ(frames.size(), 1u);
    EXPECT_EQ(messages.size(), 2u);
}

TEST_F(Runs, ColumnReadReadsCodesOneToTheLastSegmentPair)
{
    Engine& e = start_engine();
    one_column(3);
    e.param_table.set_cell(3, 41, "1");
    e.start_column_read();
    EXPECT_EQ(run.status, "请稍候，读入数据...");
    std::vector<int> codes;
    for (int t = 0; t < 100 && e.iTimers1->Enabled(4); ++t)
        if (const auto r = tick(4)) {
            EXPECT_FALSE(r->write);
            EXPECT_EQ(r->address, 3);
            codes.push_back(r->code);
            reply(r->code == 40 ? 1 : 7);
        }
    ASSERT_EQ(codes.size(), 54u);
    EXPECT_EQ(codes.front(), 1);
    EXPECT_EQ(codes.back(), 54);
    EXPECT_EQ(run.status, "数据上载完成");
    EXPECT_TRUE(polling());
    EXPECT_EQ(write_pending, 0);
    EXPECT_EQ(e.params().cell(3, 14), "7");
}

TEST_F(Runs, EditedCellIsWrittenBySelectedWriteAndTheQueueEmptied)
{
    Engine& e = start_engine();
    e.param_table.layout({ 1, 4, 12 });
    e.edit_cell(12, 5, "150");
    ASSERT_EQ(edit_count, 1);
    e.start_selected_write();
    EXPECT_FALSE(polling());
    EXPECT_TRUE(run.busy);
    const auto r = tick(5);
    ASSERT_TRUE(r);
    EXPECT_EQ(hex(frames.back()), "8C8C860496009204"); // address 12, code 4, 150
    EXPECT_EQ(write_pending, 1);
    reply(r->word);
    const auto readback = tick(5);
    ASSERT_TRUE(readback);
    EXPECT_FALSE(readback->write);
    EXPECT_EQ(readback->address, 12);
    EXPECT_EQ(readback->code, 4);
    EXPECT_TRUE(e.iTimers1->Enabled(5));
    reply(150);
    EXPECT_FALSE(tick(5));
    EXPECT_FALSE(e.iTimers1->Enabled(5));
    EXPECT_EQ(edit_count, 0);
    EXPECT_EQ(edit_next, 0);
    EXPECT_EQ(write_pending, 0);
    EXPECT_EQ(para_run_active, 0);
    EXPECT_TRUE(polling());
    EXPECT_FALSE(run.busy);
    EXPECT_EQ(run.verify_text, "核对 1 项全部相符");
    EXPECT_TRUE(problems().isEmpty()) << said();
}

TEST_F(Runs, SelectedWriteWithAnEmptyQueueEndsOnItsFirstTick)
{
    Engine& e = start_engine();
    e.start_selected_write();
    EXPECT_FALSE(tick(5));
    EXPECT_FALSE(e.iTimers1->Enabled(5));
    EXPECT_TRUE(polling());
    EXPECT_EQ(para_run_active, 0);
    EXPECT_TRUE(messages.empty()) << said();
}

TEST_F(Runs, SelectedWriteTakesWordsAndRefusesWhatItCannotWrite)
{
    Engine& e = start_engine();
    e.param_table.layout({ 3 });
    const std::vector<std::pair<int, const char*>> edits
        = { { 29, "rELy" }, { 4, "xyz" }, { 13, "0" }, { 29, "2" }, { 29, "relay" } };
    for (const auto& [code, text] : edits)
        e.request([&] { e.edit_cell(3, code + 1, QString::fromUtf8(text)); }, "参数");
    // What cannot be written is refused when the edit is committed.
    ASSERT_EQ(edit_count, 2);
    ASSERT_EQ(messages.size(), 3u);
    for (const EngineMessage& m : messages)
        EXPECT_TRUE(m.refusal);
    EXPECT_TRUE(messages[0].text.contains("第 5 行") && messages[0].text.contains("'xyz'")) << said();
    EXPECT_TRUE(messages[1].text.contains("'0' 超出范围 1 .. 32000")) << said();
    EXPECT_TRUE(messages[2].text.contains("'relay'")) << said();
    e.start_selected_write();
    std::vector<std::pair<int, int>> written; // code, word
    for (int t = 0; t < 10 && e.iTimers1->Enabled(5); ++t)
        if (const auto r = tick(5)) {
            if (r->write)
                written.emplace_back(r->code, r->word);
            reply(written.back().second);
        }
    const std::vector<std::pair<int, int>> expected = { { 29, 1 }, { 29, 2 } };
    EXPECT_EQ(written, expected);
    EXPECT_EQ(problems().size(), 3);
    EXPECT_EQ(edit_count, 0);
    EXPECT_TRUE(polling());
}

// The runs, the scan and the commands exclude each other: while one works,
// asking for another (or for a command, which would take the line and the
// run's request state) is refused with a message. "停止" ends whichever run
// is active, but not a scan.
TEST_F(Runs, ARunRefusesEveryOtherStartAndStopEndsIt)
{
    Engine& e = start_engine();
    one_column(3);
    ParamSet set;
    set.values = { { 4, 1.0f } };
    const std::vector<std::pair<const char*, std::function<void()>>> starters = {
        { "遍读", [&] { e.start_read_all(); } },
        { "读一列", [&] { e.start_column_read(); } },
        { "写一列", [&] { e.start_column_write(3); } },
        { "选择写", [&] { e.start_selected_write(); } },
        { "巡扫", [&] { e.start_scan(); } },
        { "复制", [&] { e.start_copy(set, { 3 }, false); } },
        { "比较", [&] { e.start_inspection({ 3 }, 1); } },
        { "导入", [&] { e.put_set(3, set); } },
        { "RUN/HOLD", [&] { e.run_hold(3); } },
        { "HAND", [&] { e.hand(3); } },
        { "STOP", [&] { e.stop_instrument(3); } },
        { "手动调功", [&] { e.manual_output(3, 10); } },
        { "给定值", [&] { e.set_value(3, 10); } },
        { "写地址", [&] { e.write_address(3, 4); } },
        { "写波特率", [&] { e.write_baud(3, 1); } },
    };
    struct Case {
        const char* name;
        std::function<void()> start;
        int channel;
    };
    const Case cases[] = {
        { "遍读", [&] { e.start_read_all(); }, 1 },
        { "读一列", [&] { e.start_column_read(); }, 4 },
        { "写一列", [&] { e.start_column_write(3); }, 2 },
        { "选择写", [&] { e.start_selected_write(); }, 5 },
        { "复制", [&] { e.start_copy(set, { 3 }, false); }, 6 },
        { "比较", [&] { e.start_inspection({ 3 }, 1); }, 7 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        one_column(3); // the read-all run before zeroed the column
        messages.clear();
        frames.clear();
        c.start();
        ASSERT_TRUE(e.iTimers1->Enabled(c.channel)) << said();
        ASSERT_TRUE(e.run_busy());
        for (const auto& [name, start] : starters) {
            SCOPED_TRACE(name);
            messages.clear();
            e.request(start, "操作");
            ASSERT_EQ(messages.size(), 1u) << "not refused";
            EXPECT_TRUE(messages[0].refusal);
            EXPECT_TRUE(messages[0].text.startsWith("另一项操作正在进行")) << said();
            for (int k : { 1, 2, 3, 4, 5, 6, 7 })
                EXPECT_EQ(e.iTimers1->Enabled(k), k == c.channel) << k;
        }
        EXPECT_TRUE(frames.empty());
        e.stop_runs();
        for (int k : { 1, 2, 4, 5, 6, 7 })
            EXPECT_FALSE(e.iTimers1->Enabled(k));
        EXPECT_FALSE(e.run_busy());
        EXPECT_EQ(run.status, "读入数据停止");
        EXPECT_TRUE(polling());
        EXPECT_EQ(para_run_active, 0);
        EXPECT_EQ(write_pending, 0);
    }

    // The scan: no run starts under it, and "停止" does not restart polling.
    e.start_scan();
    ASSERT_EQ(scan_active, 1);
    messages.clear();
    e.request([&] { e.start_read_all(); }, "参数");
    e.request([&] { e.stop_instrument(3); }, "控制");
    EXPECT_EQ(messages.size(), 2u) << said();
    e.stop_runs();
    EXPECT_FALSE(e.iTimers1->Enabled(1));
    EXPECT_TRUE(e.iTimers1->Enabled(3));
    EXPECT_FALSE(polling());
}

// A column run that cannot find its column or its segment count says why:
// the column write before it starts, the column read (which takes the
// control address afresh each tick) on its first tick, when polling restarts.
TEST_F(Runs, ColumnRunWithoutColumnOrSegmentCountEndsWithAMessage)
{
    struct Case {
        const char* name;
        std::optional<int> address; // the control address
        const char* pno; // the "程序段数Pno" cell
        const char* says;
    };
    const Case cases[] = {
        { "address without a column", 9, "0", "地址 9" },
        { "Pno not a whole number", 3, "2.5", "'2.5'" },
        { "Pno empty", 3, "", "''" },
        { "no control address", std::nullopt, "0", "控制地址不是仪表地址" },
    };
    for (int channel : { 4, 2 }) {
        for (const Case& c : cases) {
            if (channel == 2 && !c.address)
                continue; // a column write names its address
            SCOPED_TRACE(std::string(c.name) + (channel == 4 ? " (read)" : " (write)"));
            Engine& e = start_engine();
            one_column(3);
            e.set_control_address(c.address);
            e.param_table.set_cell(3, 41, QString::fromUtf8(c.pno));
            if (channel == 4)
                e.request([&] { e.start_column_read(); }, "参数");
            else
                e.request([&] { e.start_column_write(*c.address); }, "参数");
            EXPECT_FALSE(tick(channel));
            EXPECT_FALSE(e.iTimers1->Enabled(channel));
            EXPECT_FALSE(e.run_busy());
            EXPECT_TRUE(polling());
            EXPECT_EQ(para_run_active, 0);
            EXPECT_EQ(write_pending, 0);
            ASSERT_EQ(messages.size(), 1u) << said();
            EXPECT_EQ(messages[0].refusal, channel == 2);
            EXPECT_TRUE(messages[0].text.contains(QString::fromUtf8(c.says))) << said();
            if (channel == 4) {
                EXPECT_EQ(run.status, "读入数据停止");
            }
        }
    }
}
