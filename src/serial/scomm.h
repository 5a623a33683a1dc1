#pragma once
// TSComm: the station's serial port. It keeps the line settings, opens the
// port exclusively, runs a reader and a writer thread, queues blocks to send
// without waiting for the line and raises its events on the main thread.
//
// Threads: every member function (constructor, destructor, OpenComm,
// CloseComm, SendData, setters) belongs to the main thread, and every event is
// raised there, one at a time, in the order the threads posted them. The
// reader and writer never touch the component: they get the port, the close
// event and the notification endpoint when they start and answer only by
// posting messages to the endpoint.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct CommPort;
struct CommEvent;
class CommEndpoint;
class TReadThread;
class TWriteThread;

enum class TDtrControl { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };
enum class TByteSize { _5, _6, _7, _8 };
enum class TParity { None, Odd, Even, Mark, Space };
enum class TStopBits { _1, _1_5, _2 };

// Line-error flags carried by OnReceiveError.
enum : uint32_t {
    CE_RXOVER = 0x01,
    CE_OVERRUN = 0x02,
    CE_RXPARITY = 0x04,
    CE_FRAME = 0x08,
    CE_BREAK = 0x10,
};

class TSComm;
// Buffer holds BufferLength bytes followed by one 0 byte; it is valid only
// while the handler runs, so a handler copies whatever it keeps.
using TReceiveDataEvent
    = std::function<void(TSComm* Sender, const char* Buffer, unsigned short BufferLength)>;
using TReceiveErrorEvent = std::function<void(TSComm* Sender, uint32_t EventMask)>;
// ModemEvent: 4 = ring indicator, 8 = carrier detect, 12 = both.
using TModemStateChangeEvent = std::function<void(TSComm* Sender, uint32_t ModemEvent)>;
using TCommNotifyEvent = std::function<void(TSComm* Sender)>;
using TSendDataEmptyEvent = std::function<void(TSComm* Sender)>;

// The device a port name opens (resolve_port in port_list.h: "comN" becomes
// a "comN" file or link in the working directory, else /dev/ttyUSB<N-1>, else
// a UART at /dev/ttyS<N-1>); the name itself when it stands for no device.
std::string resolve_port_name(const std::string& comm_name);

class TSComm {
public:
    TSComm();
    // Closes the port if the owner has not (the threads must not outlive the
    // component), then releases the notification endpoint.
    ~TSComm();
    TSComm(const TSComm&) = delete;
    TSComm& operator=(const TSComm&) = delete;

    // Throws ECommsError with the reason when the port cannot be opened; a
    // name that stands for no device says so with the name and what was
    // looked for, instead of opening something else.
    void OpenComm();
    // Stops both threads (queued blocks are dropped unsent) and closes the
    // port; does nothing when closed.
    void CloseComm();
    // Queues a copy of the bytes for the writer; true = queued, not sent.
    // False when the port is closed, the writer has ended after a failed
    // write, or Length is 0.
    bool SendData(const char* Buffer, unsigned short Length);

    bool is_open() const { return port_ != nullptr; }
    // Whether the last OpenComm failed because another program holds the
    // port, and the reason the last OpenComm gave (empty after a success).
    bool last_open_busy() const { return last_open_busy_; }
    const std::string& last_open_error() const { return last_open_error_; }
    // The device the last successful OpenComm opened (kept after a close or
    // hang-up, when the name may no longer resolve to it); empty before.
    const std::string& opened_device() const { return opened_device_; }
    // The device CommName stands for now (what the settings page shows).
    std::string resolved_device() const;

    // Published properties. Setters of line settings and time-outs do nothing
    // on the current value; otherwise they store it and, while open, apply the
    // whole set of line settings (or time-outs) to the port. CommName and
    // Parity are only stored: they take effect at the next OpenComm.
    const std::string& CommName() const { return comm_name_; }
    void SetCommName(const std::string& value) { comm_name_ = value; }
    uint32_t BaudRate() const { return baud_rate_; }
    void SetBaudRate(uint32_t value);
    bool ParityCheck() const { return parity_check_; }
    void SetParityCheck(bool value);
    bool Outx_CtsFlow() const { return outx_cts_flow_; }
    void SetOutx_CtsFlow(bool value);
    bool Outx_DsrFlow() const { return outx_dsr_flow_; }
    void SetOutx_DsrFlow(bool value);
    TDtrControl DtrControl() const { return dtr_control_; }
    void SetDtrControl(TDtrControl value);
    bool DsrSensitivity() const { return dsr_sensitivity_; }
    void SetDsrSensitivity(bool value);
    bool TxContinueOnXoff() const { return tx_continue_on_xoff_; }
    void SetTxContinueOnXoff(bool value);
    bool Outx_XonXoffFlow() const { return outx_xon_xoff_flow_; }
    void SetOutx_XonXoffFlow(bool value);
    bool Inx_XonXoffFlow() const { return inx_xon_xoff_flow_; }
    void SetInx_XonXoffFlow(bool value);
    bool ReplaceWhenParityError() const { return replace_when_parity_error_; }
    void SetReplaceWhenParityError(bool value);
    bool IgnoreNullChar() const { return ignore_null_char_; }
    void SetIgnoreNullChar(bool value);
    TRtsControl RtsControl() const { return rts_control_; }
    void SetRtsControl(TRtsControl value);
    uint16_t XonLimit() const { return xon_limit_; }
    void SetXonLimit(uint16_t value);
    uint16_t XoffLimit() const { return xoff_limit_; }
    void SetXoffLimit(uint16_t value);
    TByteSize ByteSize() const { return byte_size_; }
    void SetByteSize(TByteSize value);
    TParity Parity() const { return parity_; }
    void SetParity(TParity value) { parity_ = value; }
    TStopBits StopBits() const { return stop_bits_; }
    void SetStopBits(TStopBits value);
    char XonChar() const { return xon_char_; }
    void SetXonChar(char value);
    char XoffChar() const { return xoff_char_; }
    void SetXoffChar(char value);
    char ReplacedChar() const { return replaced_char_; }
    void SetReplacedChar(char value);
    uint32_t ReadIntervalTimeout() const { return read_interval_timeout_; }
    void SetReadIntervalTimeout(uint32_t value);
    uint32_t ReadTotalTimeoutMultiplier() const { return read_total_timeout_multiplier_; }
    void SetReadTotalTimeoutMultiplier(uint32_t value);
    uint32_t ReadTotalTimeoutConstant() const { return read_total_timeout_constant_; }
    void SetReadTotalTimeoutConstant(uint32_t value);
    uint32_t WriteTotalTimeoutMultiplier() const { return write_total_timeout_multiplier_; }
    void SetWriteTotalTimeoutMultiplier(uint32_t value);
    uint32_t WriteTotalTimeoutConstant() const { return write_total_timeout_constant_; }
    void SetWriteTotalTimeoutConstant(uint32_t value);

    // Events; each is raised only when assigned.
    TReceiveDataEvent OnReceiveData;
    TReceiveErrorEvent OnReceiveError;
    TModemStateChangeEvent OnModemStateChange;
    TCommNotifyEvent OnRequestHangup;
    TSendDataEmptyEvent OnSendDataEmpty;

    // The endpoint's handler (main thread): turns one posted message into its
    // event. `block` is released by the caller after this returns; `started`
    // is when the first byte of a data block arrived.
    void HandleCommMessage(int message, unsigned short wparam, uint32_t lparam, const char* block,
        std::chrono::steady_clock::time_point started = {});
    // During OnReceiveData: when the first byte of the block arrived (steady
    // clock), so that a reply can be told from a late one by its timing.
    std::chrono::steady_clock::time_point BlockStarted() const { return block_started_; }

private:
    void open_port();
    // Undoes a partly done OpenComm and throws ECommsError(message).
    [[noreturn]] void abandon_open(const char* message);
    void ApplyCommState();
    void ApplyCommTimeouts();
    template <typename T> void set_line(T& member, T value);
    template <typename T> void set_timeout(T& member, T value);

    std::unique_ptr<TReadThread> read_thread_;
    std::unique_ptr<TWriteThread> write_thread_;
    CommPort* port_ = nullptr;
    CommEvent* close_event_ = nullptr;
    std::unique_ptr<CommEndpoint> endpoint_;
    std::chrono::steady_clock::time_point block_started_ {};
    std::string opened_device_;
    bool last_open_busy_ = false;
    std::string last_open_error_;

    std::string comm_name_ = "COM2";
    uint32_t baud_rate_ = 9600;
    bool parity_check_ = false;
    bool outx_cts_flow_ = false;
    bool outx_dsr_flow_ = false;
    TDtrControl dtr_control_ = TDtrControl::DtrEnable;
    bool dsr_sensitivity_ = false;
    bool tx_continue_on_xoff_ = true;
    bool outx_xon_xoff_flow_ = true;
    bool inx_xon_xoff_flow_ = true;
    bool replace_when_parity_error_ = false;
    bool ignore_null_char_ = false;
    TRtsControl rts_control_ = TRtsControl::RtsEnable;
    uint16_t xon_limit_ = 500;
    uint16_t xoff_limit_ = 500;
    TByteSize byte_size_ = TByteSize::_8;
    TParity parity_ = TParity::None;
    TStopBits stop_bits_ = TStopBits::_1;
    char xon_char_ = 0x11;
    char xoff_char_ = 0x13;
    char replaced_char_ = 0x00;
    uint32_t read_interval_timeout_ = 100;
    uint32_t read_total_timeout_multiplier_ = 0;
    uint32_t read_total_timeout_constant_ = 0;
    uint32_t write_total_timeout_multiplier_ = 0;
    uint32_t write_total_timeout_constant_ = 0;
};
