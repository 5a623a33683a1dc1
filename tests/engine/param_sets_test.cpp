// Parameter sets on the engine: a set put into a column, what a copy refuses
// before it sends anything, and the reads of an inspection.
#include "engine_fixture.h"

#include "errors.h"
#include "frame_codec.h"
#include "param_set.h"
#include "run_timers.h"

#include <map>
#include <optional>

namespace {

class ParamSets : public EngineFixture {
protected:
    Engine& open()
    {
        Engine& e = start_engine();
        for (int a : { 3, 5 })
            addr_enabled[a] = 1;
        e.param_table.layout({ 3, 5 });
        QObject::connect(
            &e, &Engine::inspection_done, [this](int id, bool complete, const std::map<int, ParamSet>& sets) {
                inspections.push_back({ id, complete, sets });
            });
        return e;
    }
    // Ticks the inspection to its end; `answer` gives the word for a read
    // of (address, code), or nothing for no reply.
    void run_inspection(const std::function<std::optional<int>(int, int)>& answer)
    {
        for (int t = 0; t < 400 && engine().iTimers1->Enabled(7); ++t) {
            const size_t before = frames.size();
            engine().iTimers1->OnTimer(7)();
            if (frames.size() == before)
                continue;
            const auto* f = reinterpret_cast<const std::uint8_t*>(frames.back().data());
            const int address = f[0] - 0x80;
            const int code = ((f[2] & 1) << 8) | f[3];
            if (const auto word = answer(address, code))
                inject(param_reply(*word));
            else
                engine().settle_replies();
        }
    }

    struct Inspection {
        int id;
        bool complete;
        std::map<int, ParamSet> sets;
    };
    std::vector<Inspection> inspections;
};

} // namespace

// A set goes into its target's column at the target's decimal places, and
// the cells it fills lose their verification marks; no other column changes.
TEST_F(ParamSets, PutSetFillsTheTargetColumnOnly)
{
    Engine& e = open();
    dec_places[5] = 2;
    e.param_table.set_cell(5, 35, QStringLiteral("5"));
    ParamSet set;
    set.address = 3;
    set.decimal_places = 1;
    set.values = { { 4, -125.5f }, { 13, 345.0f }, { 29, 1.0f } };
    e.put_set(5, set);
    EXPECT_EQ(e.params().cell(5, 5), "-125.50"); // at the target's two places
    EXPECT_EQ(e.params().cell(5, 14), "345");
    EXPECT_EQ(e.params().cell(5, 30), "rELy");
    EXPECT_EQ(e.params().cell(5, 35), "5");
    EXPECT_EQ(e.params().cell(3, 5), ""); // instrument 3's column is not touched
    std::vector<int> cleared;
    for (const CellMark& m : marks) {
        EXPECT_EQ(m.address, 5);
        EXPECT_EQ(m.kind, CellMark::Kind::None);
        cleared.push_back(m.row);
    }
    EXPECT_EQ(cleared, (std::vector<int> { 5, 14, 30 }));
    EXPECT_TRUE(frames.empty());

    // No column, no set.
    e.request([&] { e.put_set(7, set); }, "参数");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].refusal);
    EXPECT_EQ(messages[0].text, "地址 7 在参数表中没有数据列，请先巡扫或遍读；未导入");
}

// A copy checks every value for every target before it sends anything, and
// refuses one address for several instruments.
TEST_F(ParamSets, CopyRefusesBeforeSendingAnything)
{
    Engine& e = open();
    ParamSet set;
    set.address = 3;
    set.decimal_places = 2;
    set.values = { { 4, -125.25f }, { 34, 3.0f }, { 35, 9600.0f } };
    dec_places[5] = 1;
    ParamSet to_seven; // moves its target to 7, where an instrument is polled
    to_seven.address = 7;
    to_seven.values = { { 34, 7.0f }, { 35, 9600.0f } };
    const struct {
        const char* name;
        ParamSet set;
        std::vector<int> targets;
        bool with_address;
        const char* says;
    } cases[] = {
        { "no target", set, {}, false, "请选择至少一台目标仪表" },
        { "empty set", ParamSet {}, { 3 }, false, "参数集中没有参数" },
        { "one address for two", set, { 3, 5 }, true, "同一通讯地址不能写入多台仪表" },
        { "finer than a target holds", set, { 3, 5 }, false,
            "仪表 5：下限报警LoAL '-125.25' 比该参数的分辨率（0.1）更精细" },
        { "no such address", set, { 91 }, false, "目标地址 91 超出仪表地址范围" },
        { "its address polled", to_seven, { 5 }, true, "地址 7 上已有仪表在巡检，两台仪表不能占用同一地址" },
    };
    addr_enabled[7] = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            e.start_copy(c.set, c.targets, c.with_address);
            ADD_FAILURE() << "started";
        } catch (const EStationError& err) {
            EXPECT_NE(std::string(err.what()).find(c.says), std::string::npos) << err.what();
        }
        EXPECT_FALSE(e.iTimers1->Enabled(6));
        EXPECT_FALSE(e.run_busy());
    }
    EXPECT_TRUE(frames.empty());
    EXPECT_TRUE(e.Timer1->Enabled());
}

// An inspection reads each instrument's fixed codes, then the program
// segments its code 40 asks for, without touching the table or ai_para; it
// reports what it read, nothing for an instrument that did not answer, and
// an inspection stopped half way as incomplete. Polling resumes either way.
TEST_F(ParamSets, InspectionReportsWhatItReadAndWhenItWasStopped)
{
    Engine& e = open();
    const QVariant stored_before = db_value(QStringLiteral("SELECT no3 FROM ai_para WHERE id = 14"));

    // Instrument 3 answers with one program segment; 5 is silent.
    e.start_inspection({ 3, 5 }, 7);
    EXPECT_TRUE(e.iTimers1->Enabled(7));
    EXPECT_FALSE(e.Timer1->Enabled());
    EXPECT_EQ(run.status, "请稍候，读入数据...");
    run_inspection([](int address, int code) -> std::optional<int> {
        if (address != 3)
            return std::nullopt;
        return code == 40 ? 1 : code == 13 ? 600 : 0;
    });
    EXPECT_FALSE(e.iTimers1->Enabled(7));
    EXPECT_TRUE(e.Timer1->Enabled());
    EXPECT_EQ(frames.size(), 52u + 2u + 52u); // 3: codes 1..52 and one segment pair; 5: 1..52
    ASSERT_EQ(inspections.size(), 1u);
    EXPECT_EQ(inspections[0].id, 7);
    EXPECT_TRUE(inspections[0].complete);
    ASSERT_EQ(inspections[0].sets.count(3), 1u);
    EXPECT_EQ(inspections[0].sets.count(5), 0u);
    const ParamSet& read = inspections[0].sets.at(3);
    EXPECT_EQ(read.values.size(), 54u);
    EXPECT_EQ(read.values.at(13), 600.0f);
    EXPECT_EQ(read.values.at(40), 1.0f);
    EXPECT_EQ(e.params().cell(3, 14), ""); // the table is left as it was
    EXPECT_EQ(db_value(QStringLiteral("SELECT no3 FROM ai_para WHERE id = 14")), stored_before);
    EXPECT_EQ(run.status, "数据上载完成");

    e.start_inspection({ 3 }, 8);
    for (int t = 0; t < 5; ++t) {
        e.iTimers1->OnTimer(7)();
        e.settle_replies();
    }
    e.stop_runs();
    ASSERT_EQ(inspections.size(), 2u);
    EXPECT_EQ(inspections[1].id, 8);
    EXPECT_FALSE(inspections[1].complete);
    EXPECT_TRUE(inspections[1].sets.empty());
    EXPECT_TRUE(e.Timer1->Enabled());
    EXPECT_TRUE(messages.empty()) << said();
}
