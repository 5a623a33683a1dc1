#include "scomm.h"

#include "comm_threads.h"
#include "errors.h"
#include "port_list.h"
#include "serial_platform.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <atomic>
#include <system_error>

namespace {

const QEvent::Type comm_event_type = static_cast<QEvent::Type>(QEvent::registerEventType());

// One posted message; the block, if any, is released with the event.
class CommMessageEvent : public QEvent {
public:
    CommMessageEvent(int message, unsigned short wparam, uint32_t lparam, CommBlock block,
        std::chrono::steady_clock::time_point started)
        : QEvent(comm_event_type)
        , message_(message)
        , wparam_(wparam)
        , lparam_(lparam)
        , block_(std::move(block))
        , started_(started)
    {
    }

    void dispatch(TSComm* comm)
    {
        comm->HandleCommMessage(message_, wparam_, lparam_, block_.get(), started_);
        block_.reset(); // the block lives only as long as the handler
    }

private:
    int message_;
    unsigned short wparam_;
    uint32_t lparam_;
    CommBlock block_;
    std::chrono::steady_clock::time_point started_;
};

// The fixed message first; the second line names the port, the device it
// resolved to and the reason.
[[noreturn]] void open_failed(
    const char* message, const std::string& comm_name, const std::string& device, const std::string& reason)
{
    throw ECommsError(std::string(message) + "\n串口 " + comm_name + "（" + device + "）：" + reason);
}

} // namespace

// The notification endpoint: an object of the main thread whose posted events
// are served by the main event loop, in posting order.
//
// Qt's own queue hands each event from the posting thread to the main thread,
// but its locks are not visible to the thread sanitizer (Qt is not built
// with it). The release/acquire pair on `posted_` states the same ordering in
// code the sanitizer sees; it costs one atomic add per message.
class CommEndpoint : public QObject {
public:
    explicit CommEndpoint(TSComm* comm)
        : comm_(comm)
    {
    }
    // Undelivered events are deleted by ~QObject, after this body.
    ~CommEndpoint() override { (void)posted_.load(std::memory_order_acquire); }

    void post(CommMessageEvent* event)
    {
        posted_.fetch_add(1, std::memory_order_release);
        QCoreApplication::postEvent(this, event);
    }

protected:
    void customEvent(QEvent* event) override
    {
        (void)posted_.load(std::memory_order_acquire);
        if (event->type() == comm_event_type)
            static_cast<CommMessageEvent*>(event)->dispatch(comm_);
    }

private:
    TSComm* comm_;
    std::atomic<unsigned> posted_ { 0 };
};

bool comm_post(CommEndpoint* endpoint, int message, unsigned short wparam, uint32_t lparam, CommBlock block,
    std::chrono::steady_clock::time_point started)
{
    auto* event = new (std::nothrow) CommMessageEvent(message, wparam, lparam, std::move(block), started);
    if (!event)
        return false;
    endpoint->post(event);
    return true;
}

std::string resolve_port_name(const std::string& comm_name)
{
    const PortTarget target = resolve_port(comm_name);
    return target.device.empty() ? comm_name : target.device;
}

TSComm::TSComm()
    : endpoint_(std::make_unique<CommEndpoint>(this))
{
}

TSComm::~TSComm()
{
    CloseComm();
    // Deleting the endpoint drops its undelivered events and their blocks.
}

std::string TSComm::resolved_device() const
{
    return resolve_port_name(comm_name_);
}

void TSComm::OpenComm()
{
    last_open_busy_ = false;
    last_open_error_.clear();
    try {
        open_port();
    } catch (const ECommsError& e) {
        last_open_error_ = e.what();
        throw;
    }
}

void TSComm::open_port()
{
    if (port_)
        open_failed("串口已经打开", comm_name_, opened_device_, "已经打开，正在使用");

    const PortTarget target = resolve_port(comm_name_);
    if (target.device.empty())
        open_failed("无法打开串口", comm_name_, "无此设备", "设备不存在（" + target.why_none + "）");
    const std::string& device = target.device;
    CommOpenError why;
    std::string detail;
    CommPort* port = comm_open(device, &why, &detail);
    if (!port) {
        switch (why) {
        case CommOpenError::no_such_port:
            open_failed("无法打开串口", comm_name_, device, "设备不存在（" + detail + "）");
        case CommOpenError::busy:
            last_open_busy_ = true;
            open_failed(
                "无法打开串口", comm_name_, device, "已被其他程序占用（" + detail + "）");
        case CommOpenError::permission:
            open_failed("无法打开串口", comm_name_, device,
                "没有读写权限（" + detail
                    + "）。用户需加入 dialout 组：sudo usermod -aG dialout $USER，然后重新登录");
        default:
            open_failed("无法打开串口", comm_name_, device, detail);
        }
    }
    if (!comm_is_serial(port)) {
        comm_close(port);
        open_failed("该设备不是串口", comm_name_, device, "不是串口设备");
    }
    if (!comm_setup(port, 4096, 4096)) {
        comm_close(port);
        open_failed("Cannot setup comm buffer", comm_name_, device, "无法设置收发缓冲区");
    }
    port_ = port;
    opened_device_ = device;
    comm_purge(port_, comm_purge_rx | comm_purge_tx);
    ApplyCommTimeouts();
    ApplyCommState();

    close_event_ = comm_event_create();
    if (!close_event_)
        abandon_open("Unable to create event");

    // Thread priorities are left as they are: raising them needs privileges
    // the station does not have, and the driver buffers input meanwhile.
    try {
        read_thread_ = std::make_unique<TReadThread>(port_, close_event_, endpoint_.get());
    } catch (...) {
        abandon_open("Unable to create read thread");
    }
    try {
        write_thread_ = std::make_unique<TWriteThread>(port_, close_event_, endpoint_.get());
    } catch (...) {
        abandon_open("Unable to create write thread");
    }
    try {
        read_thread_->start();
    } catch (const std::system_error&) {
        abandon_open("Unable to create read thread");
    }
    try {
        write_thread_->start();
    } catch (const std::system_error&) {
        abandon_open("Unable to create write thread");
    }
}

void TSComm::abandon_open(const char* message)
{
    // Ends a thread already started (the close event wakes it), releases what
    // the open had taken and reports the failure.
    if (close_event_)
        comm_event_set(close_event_);
    write_thread_.reset();
    read_thread_.reset();
    if (close_event_) {
        comm_event_free(close_event_);
        close_event_ = nullptr;
    }
    comm_close(port_);
    port_ = nullptr;
    open_failed(message, comm_name_, resolved_device(), "系统资源不足，无法创建串口的线程或事件");
}

void TSComm::CloseComm()
{
    if (!port_)
        return;
    comm_event_set(close_event_);
    comm_purge(port_, comm_purge_rx);
    read_thread_.reset(); // waits for the reader to end
    comm_purge(port_, comm_purge_tx);
    write_thread_.reset(); // waits for the writer; its queue is dropped unsent
    comm_event_free(close_event_);
    close_event_ = nullptr;
    comm_close(port_);
    port_ = nullptr;
}

bool TSComm::SendData(const char* Buffer, unsigned short Length)
{
    // A writer that ended (a failed write) sends nothing more until the port
    // is opened again: refuse instead of queueing blocks for nobody.
    if (!write_thread_ || write_thread_->ended() || Length == 0)
        return false;
    CommBlock block = comm_make_block(Buffer, Length);
    if (!block)
        return false;
    return write_thread_->post_write(Length, std::move(block));
}

void TSComm::HandleCommMessage(int message, unsigned short wparam, uint32_t lparam, const char* block,
    std::chrono::steady_clock::time_point started)
{
    switch (message) {
    case COMM_MSG_DATA:
        block_started_ = started;
        if (OnReceiveData)
            OnReceiveData(this, block, wparam);
        break;
    case COMM_MSG_ERROR:
        if (OnReceiveError)
            OnReceiveError(this, lparam);
        break;
    case COMM_MSG_HANGUP:
        if (OnRequestHangup)
            OnRequestHangup(this);
        break;
    case COMM_MSG_MODEM:
        if (OnModemStateChange)
            OnModemStateChange(this, lparam);
        break;
    case COMM_MSG_SEND_EMPTY:
        if (OnSendDataEmpty)
            OnSendDataEmpty(this);
        break;
    default:
        break;
    }
}

void TSComm::ApplyCommState()
{
    CommLineSettings s;
    s.baud_rate = baud_rate_;
    s.parity_check = parity_check_;
    s.outx_cts_flow = outx_cts_flow_;
    s.outx_dsr_flow = outx_dsr_flow_;
    switch (dtr_control_) {
    case TDtrControl::DtrEnable:
        s.dtr_control = 1;
        break;
    case TDtrControl::DtrDisable:
        s.dtr_control = 0;
        break;
    case TDtrControl::DtrHandshake:
        s.dtr_control = 2;
        break;
    }
    s.dsr_sensitivity = dsr_sensitivity_;
    s.tx_continue_on_xoff = tx_continue_on_xoff_;
    s.outx_xon_xoff = outx_xon_xoff_flow_;
    s.inx_xon_xoff = inx_xon_xoff_flow_;
    s.replace_on_parity_error = replace_when_parity_error_;
    s.ignore_null_char = ignore_null_char_;
    switch (rts_control_) {
    case TRtsControl::RtsEnable:
        s.rts_control = 1;
        break;
    case TRtsControl::RtsDisable:
        s.rts_control = 0;
        break;
    case TRtsControl::RtsHandshake:
        s.rts_control = 2;
        break;
    case TRtsControl::RtsTransmissionAvailable:
        s.rts_control = 3;
        break;
    }
    s.xon_limit = xon_limit_;
    s.xoff_limit = xoff_limit_;
    s.byte_size = static_cast<int>(byte_size_) + 5;
    s.parity = static_cast<int>(parity_);
    s.stop_bits = static_cast<int>(stop_bits_);
    s.xon_char = xon_char_;
    s.xoff_char = xoff_char_;
    s.replaced_char = replaced_char_;
    // A refused value keeps the driver's previous one; not reported.
    (void)comm_apply_line(port_, s);
}

void TSComm::ApplyCommTimeouts()
{
    CommTimeouts t;
    t.read_interval = read_interval_timeout_;
    t.read_multiplier = read_total_timeout_multiplier_;
    t.read_constant = read_total_timeout_constant_;
    t.write_multiplier = write_total_timeout_multiplier_;
    t.write_constant = write_total_timeout_constant_;
    (void)comm_apply_timeouts(port_, t);
}

template <typename T> void TSComm::set_line(T& member, T value)
{
    if (member == value)
        return;
    member = value;
    if (port_)
        ApplyCommState();
}

template <typename T> void TSComm::set_timeout(T& member, T value)
{
    if (member == value)
        return;
    member = value;
    if (port_)
        ApplyCommTimeouts();
}

void TSComm::SetBaudRate(uint32_t value)
{
    set_line(baud_rate_, value);
}
void TSComm::SetParityCheck(bool value)
{
    set_line(parity_check_, value);
}
void TSComm::SetOutx_CtsFlow(bool value)
{
    set_line(outx_cts_flow_, value);
}
void TSComm::SetOutx_DsrFlow(bool value)
{
    set_line(outx_dsr_flow_, value);
}
void TSComm::SetDtrControl(TDtrControl value)
{
    set_line(dtr_control_, value);
}
void TSComm::SetDsrSensitivity(bool value)
{
    set_line(dsr_sensitivity_, value);
}
void TSComm::SetTxContinueOnXoff(bool value)
{
    set_line(tx_continue_on_xoff_, value);
}
void TSComm::SetOutx_XonXoffFlow(bool value)
{
    set_line(outx_xon_xoff_flow_, value);
}
void TSComm::SetInx_XonXoffFlow(bool value)
{
    set_line(inx_xon_xoff_flow_, value);
}
void TSComm::SetReplaceWhenParityError(bool value)
{
    set_line(replace_when_parity_error_, value);
}
void TSComm::SetIgnoreNullChar(bool value)
{
    set_line(ignore_null_char_, value);
}
void TSComm::SetRtsControl(TRtsControl value)
{
    set_line(rts_control_, value);
}
void TSComm::SetXonLimit(uint16_t value)
{
    set_line(xon_limit_, value);
}
void TSComm::SetXoffLimit(uint16_t value)
{
    set_line(xoff_limit_, value);
}
void TSComm::SetByteSize(TByteSize value)
{
    set_line(byte_size_, value);
}
void TSComm::SetStopBits(TStopBits value)
{
    set_line(stop_bits_, value);
}
void TSComm::SetXonChar(char value)
{
    set_line(xon_char_, value);
}
void TSComm::SetXoffChar(char value)
{
    set_line(xoff_char_, value);
}
void TSComm::SetReplacedChar(char value)
{
    set_line(replaced_char_, value);
}
void TSComm::SetReadIntervalTimeout(uint32_t value)
{
    set_timeout(read_interval_timeout_, value);
}
void TSComm::SetReadTotalTimeoutMultiplier(uint32_t value)
{
    set_timeout(read_total_timeout_multiplier_, value);
}
void TSComm::SetReadTotalTimeoutConstant(uint32_t value)
{
    set_timeout(read_total_timeout_constant_, value);
}
void TSComm::SetWriteTotalTimeoutMultiplier(uint32_t value)
{
    set_timeout(write_total_timeout_multiplier_, value);
}
void TSComm::SetWriteTotalTimeoutConstant(uint32_t value)
{
    set_timeout(write_total_timeout_constant_, value);
}
