#pragma once
// The serial component's two worker threads and the messages they exchange.
//
// Thread contract: TReadThread's body is the only code that reads the port;
// TWriteThread's body the only code that writes it. Each gets the port, the
// close event and the notification endpoint from OpenComm and uses nothing
// else of the component. They report only by posting messages to the
// endpoint, which the main thread turns into events. The writer's queue
// (post_write) is the one structure shared under a lock: the main thread
// appends, the writer takes.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

struct CommPort;
struct CommEvent;
class CommEndpoint;

// Messages to the notification endpoint (from the threads) and to the
// writer's own queue (from SendData). COMM_MSG_WRITE and COMM_MSG_DATA share
// a number; they travel in different queues.
enum : int {
    COMM_MSG_DATA = 1025,
    COMM_MSG_ERROR = 1026,
    COMM_MSG_HANGUP = 1027,
    COMM_MSG_MODEM = 1028,
    COMM_MSG_SEND_EMPTY = 1029,
    COMM_MSG_WRITE = 1025,
};

// A block travelling in a message: the bytes, then one 0 byte.
using CommBlock = std::unique_ptr<char[]>;
CommBlock comm_make_block(const char* bytes, std::size_t length);

// Queues a message for the main thread; the block, if any, goes with it.
// Returns false when it could not be queued.
// `started` travels with a data block: when its first byte arrived.
bool comm_post(CommEndpoint* endpoint, int message, unsigned short wparam, uint32_t lparam,
    CommBlock block = nullptr, std::chrono::steady_clock::time_point started = {});

class TReadThread {
public:
    static constexpr std::size_t block_size = 2048;
    TReadThread(CommPort* port, CommEvent* close_event, CommEndpoint* endpoint);
    ~TReadThread();
    // Starts the body; throws std::system_error when no thread can be made.
    void start();
    // Waits until the body has ended (CloseComm signals the close event first).
    void join();

private:
    void Execute();
    bool deliver(std::size_t count, std::chrono::steady_clock::time_point started);

    CommPort* port_;
    CommEvent* close_event_;
    CommEndpoint* endpoint_;
    char buffer_[block_size];
    std::thread thread_;
};

class TWriteThread {
public:
    TWriteThread(CommPort* port, CommEvent* close_event, CommEndpoint* endpoint);
    ~TWriteThread();
    void start();
    void join();
    // Called by SendData on the main thread: appends a block to the queue.
    // False when the queue cannot take it or the body has ended (after a
    // failed write nothing queued would ever be sent).
    bool post_write(unsigned short length, CommBlock block);
    // True once the body has returned, for whatever reason.
    bool ended() const { return ended_.load(std::memory_order_acquire); }

private:
    struct Message {
        int message;
        unsigned short length;
        CommBlock block;
    };
    void Execute();
    void run();
    bool take(Message* out);
    bool write_block(const char* bytes, std::size_t length);

    CommPort* port_;
    CommEvent* close_event_;
    CommEndpoint* endpoint_;
    CommEvent* queue_event_; // set while the queue holds messages
    std::mutex queue_mutex_;
    std::deque<Message> queue_;
    std::atomic<bool> ended_ { false };
    std::thread thread_;
};
