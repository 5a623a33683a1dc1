// The control group and the settings page's boxes over a real engine on the
// test's thread: what the operator typed is checked by the window before
// anything is asked of the engine, and a bad text sends nothing.
#include "form_fixture.h"
#include "frame_codec.h"
#include "iAnalogOutput.h"
#include "iIntegerOutput.h"
#include "ttimer.h"

#include <QComboBox>
#include <QPushButton>

#include <string>
#include <vector>

namespace {

class ControlView : public FormFixture {
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        f = &make_form();
        errors.clear();
        engine().on_frame_sent = [this](const std::string& frame) {
            frames.push_back(to_hex(reinterpret_cast<const std::uint8_t*>(frame.data()), static_cast<int>(frame.size())));
        };
        // Address 1 has a column that allows every command.
        addr_enabled[1] = 1;
        engine().param_table.layout({ 1 });
        engine().param_table.set_cell(1, 41, QStringLiteral("0"));
        engine().param_table.set_cell(1, 43, QStringLiteral("10000"));
    }
    TForm1* f = nullptr;
    std::vector<std::string> frames;
};

} // namespace

// A control address that is no number, or outside 0..90 (one byte carries it:
// 300 would reach address 44), is refused by the window for every command.
TEST_F(ControlView, BadControlAddressSendsNothing)
{
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        { "abc", "'abc' 不是整数" },
        { "1.5", "'1.5' 不是整数" },
        { "", "'' 不是整数" },
        { "300", "控制地址 300 超出仪表地址范围 0..90，未发送" },
        { "91", "控制地址 91 超出仪表地址范围 0..90，未发送" },
        { "-1", "控制地址 -1 超出仪表地址范围 0..90，未发送" },
    };
    for (const Case& c : cases) {
        for (QPushButton* button : { f->Button5, f->Button6, f->Button7, f->Button8, f->Button9, f->Button14 }) {
            SCOPED_TRACE(std::string(c.text) + " / " + button->objectName().toStdString());
            errors.clear();
            f->ComboBox7->setEditText(QString::fromUtf8(c.text));
            button->setEnabled(true); // 写一列 waits for a first scan otherwise
            button->click();
            EXPECT_EQ(errors, QStringList { QString::fromUtf8(c.message) });
            EXPECT_TRUE(frames.empty());
            EXPECT_EQ(ctrl_cmd_pending, 0);
            EXPECT_EQ(write_pending, 0);
            EXPECT_FALSE(engine().run_busy());
            EXPECT_EQ(engine().control_address(), std::nullopt);
        }
    }
    // The highest address a box may name goes out; the box's address is the
    // engine's control address.
    errors.clear();
    f->ComboBox7->setEditText(QStringLiteral("90"));
    EXPECT_EQ(engine().control_address(), std::optional<int>(90));
    f->Button7->click();
    EXPECT_EQ(frames, std::vector<std::string> { "DADA860A0100E00A" });
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

// The entry boxes' values travel with the command that sends them.
TEST_F(ControlView, CommandsSendWhatTheBoxesHold)
{
    f->ComboBox7->setEditText(QStringLiteral("1"));
    dec_places[1] = 2;
    f->iAnalogOutput1->SetValue(55.5);
    f->iAnalogOutput2->SetValue(123.45);
    const struct {
        QPushButton* button;
        const char* frame;
    } cases[] = {
        { f->Button5, "8181860A0000870A" }, // RUN/HOLD
        { f->Button6, "8181860A0200870A" }, // HAND
        { f->Button7, "8181860A0100870A" }, // STOP
        { f->Button8, "81818600AE158700" }, // manual output 55.5: 5550
        { f->Button9, "81818633FA278733" }, // set value 123.45: 12345, five-digit code 10234
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button->objectName().toStdString());
        frames.clear();
        c.button->click();
        EXPECT_EQ(frames, std::vector<std::string> { c.frame });
        engine().settle_replies();
    }
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

// The address and baud-rate writes: the window checks both address boxes and
// the rate before it asks the engine.
TEST_F(ControlView, SetUpWritesWithBadBoxesSendNothing)
{
    struct Case {
        const char* old_address;
        const char* new_address;
        int baud; // item of 波特率输入, -1 a typed text that is none
        const char* address_message;
        const char* baud_message;
    };
    const Case cases[] = {
        { "3", "x", 1, "'x' 不是整数", nullptr },
        { "3a", "12", 1, "'3a' 不是整数", "'3a' 不是整数" },
        { "3", "300", 1, "新地址 300 超出仪表地址范围 0..90，未发送", nullptr },
        { "256", "12", 1, "原地址 256 超出仪表地址范围 0..90，未发送", "原地址 256 超出仪表地址范围 0..90，未发送" },
        { "5", "12", -1, nullptr, "请在“波特率输入”中选择 4800、9600 或 19200，未发送" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.old_address) + " -> " + c.new_address);
        f->ComboBox8->setEditText(QString::fromUtf8(c.old_address));
        f->ComboBox4->setEditText(QString::fromUtf8(c.new_address));
        if (c.baud >= 0)
            f->ComboBox5->setCurrentIndex(c.baud);
        else
            f->ComboBox5->setEditText(QStringLiteral("1200"));
        const struct {
            QPushButton* button;
            const char* message;
        } writes[] = { { f->Button15, c.address_message }, { f->Button16, c.baud_message } };
        for (const auto& w : writes) {
            if (!w.message)
                continue;
            errors.clear();
            frames.clear();
            w.button->click();
            EXPECT_EQ(errors, QStringList { QString::fromUtf8(w.message) }) << w.button->objectName().toStdString();
            EXPECT_TRUE(frames.empty());
            EXPECT_EQ(write_pending, 0);
            EXPECT_FALSE(engine().setup_write_pending);
        }
    }
    // Typing an item's text exactly selects it.
    errors.clear();
    frames.clear();
    f->ComboBox8->setEditText(QStringLiteral("5"));
    f->ComboBox5->setEditText(QStringLiteral("9600"));
    f->Button16->click();
    EXPECT_EQ(frames, std::vector<std::string> { "858586025A028B02" });
    engine().settle_replies();
    frames.clear();
    f->ComboBox4->setEditText(QStringLiteral("12"));
    f->Button15->click();
    // The new address is probed first; nobody answers, then 512 goes to address 5.
    EXPECT_EQ(frames, std::vector<std::string> { "8C8CA4160000B016" });
    frames.clear();
    engine().settle_replies();
    EXPECT_EQ(frames, std::vector<std::string> { "8585860200028B02" });
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

// The sampling period box: a period under one second is refused at the box,
// which shows the engine's period again; a good one sets the poll interval.
TEST_F(ControlView, PeriodBoxRefusesLessThanOneSecond)
{
    f->iIntegerOutput1->SetValue(5);
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(engine().poll_period(), 5);
    EXPECT_EQ(engine().Timer1->Interval(), 5000);
    for (int bad : { 0, -3 }) {
        SCOPED_TRACE(bad);
        errors.clear();
        f->iIntegerOutput1->SetValue(bad);
        EXPECT_EQ(errors, QStringList { QStringLiteral("采样周期须为 1 秒或更长，仍为 5 秒") });
        EXPECT_EQ(f->iIntegerOutput1->Value(), 5);
        EXPECT_EQ(engine().poll_period(), 5);
        EXPECT_EQ(engine().Timer1->Interval(), 5000);
        EXPECT_TRUE(engine().Timer1->Enabled());
    }
    // One the engine refuses (more than a day) comes back as a refusal.
    errors.clear();
    f->iIntegerOutput1->SetValue(100000);
    EXPECT_EQ(errors, QStringList { QStringLiteral("采样周期须为 1 到 86400 秒，仍为 5 秒") });
    EXPECT_EQ(engine().Timer1->Interval(), 5000);
    EXPECT_EQ(f->iIntegerOutput1->Value(), 5) << "the box shows a period the engine does not use";
}
