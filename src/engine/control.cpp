// Control commands to one instrument, and the address and baud-rate writes.
#include "engine.h"

#include "codec_state.h"
#include "convert.h"
#include "errors.h"
#include "public_set.h"
#include "roster.h"

namespace {

// An address must name an instrument on the line; a frame carries it in one
// byte, so anything else would reach the wrong instrument.
int checked_address(int address, const char* what)
{
    if (address < 0 || address > kMaxAddress)
        throw EStationError(std::string(what) + " " + std::to_string(address) + " 超出仪表地址范围 0..90，未发送");
    return address;
}

// A command or a set-up write takes the line and the request state (cur_addr,
// cur_code, para_value) that a run or the scan works with. The window's
// buttons are off meanwhile, but a request posted before the window heard
// of the run reaches the engine all the same: it is refused here.
void refuse_during_run(const Engine& engine)
{
    if (engine.run_busy())
        throw EStationError("另一项操作正在进行，请等它结束后再发送命令，未发送");
}

// The name a command has on its button, for the journal.
QString command_name(int code, float value)
{
    if (code == 0)
        return QStringLiteral("手动调功");
    if (code == 51)
        return QStringLiteral("给定值");
    if (code == 10 && value == 0)
        return QStringLiteral("RUN/HOLD");
    if (code == 10 && value == 1)
        return QStringLiteral("STOP");
    if (code == 10 && value == 2)
        return QStringLiteral("HAND");
    return QStringLiteral("写参数 %1").arg(code);
}

} // namespace

// A value of the instrument's column of the parameter table: its own column,
// never another instrument's.
float Engine::read_param_value(int address, int row) const
{
    if (!param_table.has_column(address))
        throw EStationError("地址 " + std::to_string(address)
                            + " 在参数表中没有数据列，请先巡扫或遍读；命令未发送");
    return static_cast<float>(str_to_float(param_table.cell(address, row).toStdString()));
}

// Sends a control command. The flags go up only now, when the frame goes out:
// a command refused before (a bad address or cell) leaves nothing behind.
void Engine::send_command(int address, int code, float value)
{
    ctrl_cmd_pending = 1;
    cur_addr = address;
    cur_slot = static_cast<byte_t>(roster::slot_of(address));
    cur_code = code;
    para_value = value;
    write_pending = 1;
    expect_command_readback(address, code, value);
    record_command(address, code, RequestKind::Command, command_name(code, value),
        code == 10 ? std::nullopt : std::optional<double>(value));
    scomm485_write_command(make_write_frame(static_cast<std::uint8_t>(address), code, value), RequestKind::Command);
}

void Engine::run_hold(int address)
{
    refuse_during_run(*this);
    checked_address(address, "控制地址");
    const float segments = read_param_value(address, 41);
    button9_allowed = !(segments > 0);
    report_run();
    send_command(address, 10, 0);
}

void Engine::hand(int address)
{
    refuse_during_run(*this);
    // Enabled first, so that a failing address or cell leaves it enabled.
    button8_allowed = true;
    report_run();
    checked_address(address, "控制地址");
    const float advanced = read_param_value(address, 43);
    if (advanced < 10000) {
        button8_allowed = false;
        report_run();
    }
    if (advanced > 9999)
        send_command(address, 10, 2);
}

void Engine::stop_instrument(int address)
{
    refuse_during_run(*this);
    send_command(checked_address(address, "控制地址"), 10, 1);
}

void Engine::manual_output(int address, double value)
{
    refuse_during_run(*this);
    checked_address(address, "控制地址");
    const float advanced = read_param_value(address, 43);
    if (!(advanced > 9999))
        throw EStationError("仪表 " + std::to_string(address) + " 的高级功能AF 为 "
                            + QString::number(advanced, 'g', 7).toStdString() + "（小于 10000，不能手动调功），未发送");
    send_command(address, 0, static_cast<float>(value));
}

void Engine::set_value(int address, double value)
{
    refuse_during_run(*this);
    checked_address(address, "控制地址");
    const float segments = read_param_value(address, 41);
    if (segments != 0)
        throw EStationError("仪表 " + std::to_string(address) + " 运行程序（程序段数Pno 为 "
                            + QString::number(segments, 'g', 7).toStdString() + "），给定值未发送");
    send_command(address, 51, static_cast<float>(value));
}

// --- Instrument set-up writes ----------------------------------------------

void Engine::write_address(int old_address, int new_address)
{
    refuse_during_run(*this);
    checked_address(new_address, "新地址");
    checked_address(old_address, "原地址");
    if (new_address == old_address)
        throw EStationError("新地址与原地址相同（" + std::to_string(old_address) + "），未发送");
    check_address_free(new_address, "设置", "写地址未发送", [this, old_address, new_address] {
        refuse_during_run(*this);
        cur_code = 2;
        para_value = static_cast<float>(new_address + 500);
        write_pending = 1;
        setup_write_pending = true;
        cur_addr = old_address;
        record_command(old_address, 2, RequestKind::SetupWrite, QStringLiteral("写通讯地址"), new_address);
        scomm485_write_command(
            make_write_frame(static_cast<std::uint8_t>(cur_addr), 2, para_value), RequestKind::SetupWrite);
    });
}

void Engine::write_baud(int old_address, int baud_index)
{
    refuse_during_run(*this);
    if (baud_index < 0 || baud_index > 2)
        throw EStationError("请在“波特率输入”中选择 4800、9600 或 19200，未发送");
    checked_address(old_address, "原地址");
    cur_code = 2;
    write_pending = 1;
    setup_write_pending = true;
    static const float values[] = { 603, 602, 601 };
    para_value = values[baud_index];
    cur_addr = old_address;
    static const int rates[] = { 4800, 9600, 19200 };
    record_command(old_address, 2, RequestKind::SetupWrite, QStringLiteral("写波特率"), rates[baud_index]);
    scomm485_write_command(make_write_frame(static_cast<std::uint8_t>(cur_addr), 2, para_value), RequestKind::SetupWrite);
}
