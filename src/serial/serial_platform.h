#pragma once
// The operations the serial component and its two threads need from the
// operating system. This header names no system type: posix_serial.cpp
// realises it on Linux, and a file for another system would realise the same
// declarations and be chosen by the build instead.
//
// Thread contract: comm_open .. comm_close, comm_apply_* and comm_purge are
// called by the main thread only. comm_read belongs to the reader thread and
// comm_write to the writer thread while they run; both return when the close
// event is signalled. Events may be set from any thread.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

struct CommPort; // an open serial port
struct CommEvent; // a manual-reset event that can be waited on with the port

// Line settings as the component's properties give them.
struct CommLineSettings {
    uint32_t baud_rate = 9600;
    bool parity_check = false;
    bool outx_cts_flow = false;
    bool outx_dsr_flow = false;
    int dtr_control = 1; // 0 off, 1 on, 2 handshake
    bool dsr_sensitivity = false;
    bool tx_continue_on_xoff = true;
    bool outx_xon_xoff = false;
    bool inx_xon_xoff = true;
    bool replace_on_parity_error = false;
    bool ignore_null_char = false;
    int rts_control = 1; // 0 off, 1 on, 2 handshake, 3 on while sending
    uint16_t xon_limit = 500;
    uint16_t xoff_limit = 500;
    int byte_size = 8; // 5..8
    int parity = 0; // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stop_bits = 0; // 0 one, 1 one and a half, 2 two
    char xon_char = 0x11;
    char xoff_char = 0x13;
    char replaced_char = 0;
};

// Read and write time-outs in milliseconds. A read of n bytes ends when n
// bytes have arrived; or, once a byte has arrived, when no further byte follows
// within read_interval; or when read_multiplier * n + read_constant runs out
// (both 0: no total limit). Writes end when every byte is out or when
// write_multiplier * n + write_constant runs out (both 0: no limit).
struct CommTimeouts {
    uint32_t read_interval = 100;
    uint32_t read_multiplier = 0;
    uint32_t read_constant = 0;
    uint32_t write_multiplier = 0;
    uint32_t write_constant = 0;
};

enum class CommOpenError { none, no_such_port, busy, permission, other };

// Opens the device exclusively for reading and writing. On failure returns
// nullptr and says why in *error (and the system's text in *detail).
CommPort* comm_open(const std::string& device, CommOpenError* error, std::string* detail);
// True when the open handle is a serial line.
bool comm_is_serial(CommPort* port);
// Sizes the driver's queues; false when refused.
bool comm_setup(CommPort* port, std::size_t in_queue, std::size_t out_queue);
void comm_close(CommPort* port);

enum CommPurge : unsigned { comm_purge_rx = 1, comm_purge_tx = 2 };
// Drops buffered input and/or output.
void comm_purge(CommPort* port, unsigned what);

// Both replace the whole set; false when the driver refused part of it (what
// it refused keeps its previous value).
bool comm_apply_line(CommPort* port, const CommLineSettings& settings);
bool comm_apply_timeouts(CommPort* port, const CommTimeouts& timeouts);

enum class CommIo {
    done, // *count bytes transferred (a read: at least one)
    stopped, // the close event was signalled
    closed, // the port was closed under the caller
    hangup, // the line went away (device removed, far end closed)
    failed, // any other failure
};

// Reads up to `size` bytes, completing by the time-out rules. A read whose
// total limit runs out before a byte arrives starts again, so `done` always
// carries bytes. When the line goes away after some bytes of a read arrived,
// those come back as `done` and the next call reports the hang-up.
// *first_byte (when given) is the steady-clock time the first byte was seen.
CommIo comm_read(CommPort* port, CommEvent* close_event, char* buffer, std::size_t size, std::size_t* count,
    std::chrono::steady_clock::time_point* first_byte = nullptr);
// Writes up to `size` bytes; *count says how many went out before the write
// time-outs ran out (all of them when none are set).
CommIo comm_write(
    CommPort* port, CommEvent* close_event, const char* buffer, std::size_t size, std::size_t* count);

// Line errors and modem-line changes accumulated since the previous call.
// `errors` uses the component's flag values (comm_error_*), `modem` the modem
// event bits (4 ring, 8 carrier). Both stay 0 where the driver keeps no
// counters (pseudo-terminals).
enum : uint32_t {
    comm_error_rx_overflow = 0x01,
    comm_error_overrun = 0x02,
    comm_error_parity = 0x04,
    comm_error_frame = 0x08,
    comm_error_break = 0x10,
};
enum : uint32_t { comm_modem_ring = 4, comm_modem_carrier = 8 };
void comm_line_events(CommPort* port, uint32_t* errors, uint32_t* modem);

// Manual-reset events. comm_event_create returns nullptr on failure.
CommEvent* comm_event_create();
void comm_event_set(CommEvent* event);
void comm_event_reset(CommEvent* event);
bool comm_event_is_set(CommEvent* event);
void comm_event_free(CommEvent* event);
// Sleeps without time limit until one of the two is set; returns 0 or 1 (the
// first wins when both are), or -1 when the wait itself failed.
int comm_event_wait_any(CommEvent* first, CommEvent* second);
