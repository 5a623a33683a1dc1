#pragma once
// The Linux realisation of serial_platform.h: what a port and an event are
// here. Only posix_serial.cpp includes this header.
#include "serial_platform.h"

#include <atomic>

struct CommPort {
    int fd = -1;
    // Time-outs are written by the main thread (setters while open) and read
    // by the reader and writer during each operation.
    std::atomic<uint32_t> read_interval { 100 };
    std::atomic<uint32_t> read_multiplier { 0 };
    std::atomic<uint32_t> read_constant { 0 };
    std::atomic<uint32_t> write_multiplier { 0 };
    std::atomic<uint32_t> write_constant { 0 };
    // The kernel has no option to drop received NUL bytes; the reader does it.
    std::atomic<bool> drop_nul { false };

    // Reader only: a hang-up met after some bytes of a read had arrived is
    // reported by the next read, once those bytes have been delivered.
    bool hangup_pending = false;
    // Reader only (the first snapshot is taken before the reader starts):
    // the driver's line counters at the previous look, when it keeps them.
    bool has_counters = false;
    int last_frame = 0, last_overrun = 0, last_parity = 0, last_brk = 0, last_buf_overrun = 0;
    int last_rng = 0, last_dcd = 0;
};

struct CommEvent {
    int fd = -1; // an eventfd: readable while set
};
