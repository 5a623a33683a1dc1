// Bodies of the reader and writer threads. Every wait goes through the
// platform layer and watches the close event, so an idle port sleeps in the
// kernel with no timer.
#include "comm_threads.h"

#include "serial_platform.h"

#include <cstring>
#include <new>

CommBlock comm_make_block(const char* bytes, std::size_t length)
{
    CommBlock block(new (std::nothrow) char[length + 1]);
    if (!block)
        return nullptr;
    std::memcpy(block.get(), bytes, length);
    block[length] = 0;
    return block;
}

// ---------------------------------------------------------------- reader

TReadThread::TReadThread(CommPort* port, CommEvent* close_event, CommEndpoint* endpoint)
    : port_(port)
    , close_event_(close_event)
    , endpoint_(endpoint)
{
}

TReadThread::~TReadThread()
{
    join();
}

void TReadThread::start()
{
    thread_ = std::thread([this] { Execute(); });
}

void TReadThread::join()
{
    if (thread_.joinable())
        thread_.join();
}

void TReadThread::Execute()
{
    for (;;) {
        std::size_t count = 0;
        std::chrono::steady_clock::time_point started;
        const CommIo io = comm_read(port_, close_event_, buffer_, block_size, &count, &started);
        if (io == CommIo::stopped || io == CommIo::closed)
            break; // closed by CloseComm: end without a word
        if (io != CommIo::done) {
            comm_post(endpoint_, COMM_MSG_HANGUP, 0, 0);
            break;
        }
        // Line errors and modem changes are looked up whenever the reader
        // wakes; errors come with received bytes, so they are reported before
        // the block they spoiled.
        uint32_t errors = 0, modem = 0;
        comm_line_events(port_, &errors, &modem);
        if (errors != 0 && !comm_post(endpoint_, COMM_MSG_ERROR, 0, errors)) {
            comm_post(endpoint_, COMM_MSG_HANGUP, 0, 0);
            break;
        }
        if (modem != 0 && !comm_post(endpoint_, COMM_MSG_MODEM, 0, modem)) {
            comm_post(endpoint_, COMM_MSG_HANGUP, 0, 0);
            break;
        }
        if (!deliver(count, started))
            break;
    }
    comm_purge(port_, comm_purge_rx);
}

bool TReadThread::deliver(std::size_t count, std::chrono::steady_clock::time_point started)
{
    CommBlock block = comm_make_block(buffer_, count);
    if (!block
        || !comm_post(
            endpoint_, COMM_MSG_DATA, static_cast<unsigned short>(count), 0, std::move(block), started)) {
        comm_post(endpoint_, COMM_MSG_HANGUP, 0, 0);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- writer

TWriteThread::TWriteThread(CommPort* port, CommEvent* close_event, CommEndpoint* endpoint)
    : port_(port)
    , close_event_(close_event)
    , endpoint_(endpoint)
    , queue_event_(comm_event_create())
{
}

TWriteThread::~TWriteThread()
{
    join();
    if (queue_event_)
        comm_event_free(queue_event_);
}

void TWriteThread::start()
{
    thread_ = std::thread([this] { Execute(); });
}

void TWriteThread::join()
{
    if (thread_.joinable())
        thread_.join();
}

bool TWriteThread::post_write(unsigned short length, CommBlock block)
{
    std::lock_guard<std::mutex> lock(queue_mutex_);
    if (!queue_event_ || ended())
        return false;
    queue_.push_back(Message { COMM_MSG_WRITE, length, std::move(block) });
    comm_event_set(queue_event_);
    return true;
}

bool TWriteThread::take(Message* out)
{
    std::lock_guard<std::mutex> lock(queue_mutex_);
    if (queue_.empty()) {
        // Reset under the lock: a block queued after this sets it again.
        comm_event_reset(queue_event_);
        return false;
    }
    *out = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

void TWriteThread::Execute()
{
    run();
    // Under the queue's lock, so that SendData either sees the end or queues
    // before it (and the block is dropped unsent with the rest, as on close).
    std::lock_guard<std::mutex> lock(queue_mutex_);
    ended_.store(true, std::memory_order_release);
}

void TWriteThread::run()
{
    if (!queue_event_) {
        comm_post(endpoint_, COMM_MSG_HANGUP, 0, 0);
        comm_purge(port_, comm_purge_tx);
        return;
    }
    bool notify = true;
    for (;;) {
        Message msg;
        if (!take(&msg)) {
            if (notify && !comm_post(endpoint_, COMM_MSG_SEND_EMPTY, 0, 0)) {
                comm_post(endpoint_, COMM_MSG_HANGUP, 0, 0);
                break;
            }
            notify = false;
            const int woke = comm_event_wait_any(close_event_, queue_event_);
            if (woke == 0)
                break;
            if (woke == 1)
                continue;
            comm_post(endpoint_, COMM_MSG_HANGUP, 0, 0);
            break;
        }
        if (comm_event_is_set(close_event_))
            break; // taken but not processed; the block is released unsent
        if (msg.message != COMM_MSG_WRITE)
            continue;
        if (!write_block(msg.block.get(), msg.length))
            break;
        notify = true;
    }
    comm_purge(port_, comm_purge_tx);
}

bool TWriteThread::write_block(const char* bytes, std::size_t length)
{
    std::size_t offset = 0;
    while (offset < length) {
        std::size_t count = 0;
        const CommIo io = comm_write(port_, close_event_, bytes + offset, length - offset, &count);
        if (io == CommIo::stopped || io == CommIo::closed)
            return false; // the block is abandoned
        if (io != CommIo::done) {
            comm_post(endpoint_, COMM_MSG_HANGUP, 0, 0);
            return false;
        }
        offset += count;
    }
    return true;
}
