#pragma once
// The MQTT bridge: hands messages to a broker through libmosquitto, on a
// thread of its own, so that nothing the broker does (away, slow, refusing)
// reaches the poll.
//
// Messages wait in one bounded queue, in order. While the broker is away they
// keep waiting (past `capacity` the oldest are dropped, counted and logged)
// and go out in order once a connection stands again. A connection is tried
// at once, then after 1, 2, 4 ... seconds, at most `retry_max` apart. Each
// connection announces "online" (retained) on the status topic and leaves
// "offline" as its last will; closing publishes "offline" itself, gives the
// queue up to `close_flush` to go out and disconnects.
//
// A message leaves the queue when the library reports it delivered: at QoS 1
// when the broker acknowledged it, at QoS 0 when it was written to the
// connection. What a lost connection left unconfirmed goes out again on the
// next one, so at QoS 1 nothing is lost while the station runs (a message the
// broker took just before the connection broke may arrive twice).
//
// The station subscribes to nothing: no message from the network reaches
// the station, let alone an instrument.
//
// Connects, losses, refusals and drops go to the event log, each once until
// the state changes (a broker away for an hour is one line, not a line per try).
//
// Thread contract: publish() and status() may be called from any thread; they
// take a lock the publishing thread holds only briefly (no system call unless
// it is contended) and never wait for the network. The publishing thread
// takes what publish() queued every Options::pickup. The destructor wakes and
// joins the publishing thread. libmosquitto is called only on the publishing
// thread.
#include "station_settings.h"

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

struct mosquitto;

class MqttPublisher {
public:
    using Clock = std::chrono::steady_clock;
    struct Options {
        std::size_t capacity = 10000; // messages waiting, at most
        std::chrono::milliseconds first_retry { 1000 };
        std::chrono::milliseconds retry_max { 10000 };
        std::chrono::milliseconds connect_timeout { 10000 };
        std::chrono::milliseconds close_flush { 2000 };
        int window = 64; // messages handed to the library and not yet confirmed
        int keepalive_s = 30;
        // How often the thread takes what publish() queued. publish() does not
        // wake the thread: waking another thread is a system call (and, in a
        // virtual machine, an interrupt between processors) that would cost the
        // reply being handled more than building its message does.
        std::chrono::milliseconds pickup { 50 };
    };

    enum class Link { Connecting, Connected, Retrying, Refused };
    struct Status {
        Link link = Link::Connecting;
        std::size_t waiting = 0; // queued and not yet confirmed
        std::uint64_t dropped = 0; // since the start
        std::uint64_t sent = 0; // confirmed, since the start
        std::string reason; // why the last try failed or was refused
    };

    // `config` must be usable (mqtt_config_problem empty).
    explicit MqttPublisher(const MqttConfig& config);
    MqttPublisher(const MqttConfig& config, const Options& options);
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Queues one message (not retained) for the configured QoS.
    void publish(QByteArray topic, QByteArray payload);
    Status status() const;
    const MqttConfig& config() const { return config_; }

private:
    struct Message {
        QByteArray topic;
        QByteArray payload;
    };
    struct Entry {
        Message message;
        int mid = 0; // the library's id while handed over, else 0
        bool done = false;
    };

    void run();
    void take_incoming();
    void begin_attempt();
    void end_attempt();
    void hand_over();
    void confirm(int mid);
    void finish();
    void fail(Link link, const std::string& reason);
    void set_link(Link link, const std::string& reason = {});
    void note(const std::string& text);
    std::string broker() const;

    static void on_connect(mosquitto* m, void* self, int rc);
    static void on_disconnect(mosquitto* m, void* self, int rc);
    static void on_publish(mosquitto* m, void* self, int mid);

    const MqttConfig config_;
    const Options options_;
    const QByteArray status_topic_;
    const std::string client_id_;
    int wake_fd_ = -1; // written by the destructor: stop now

    // Shared with the callers of publish() and status().
    mutable std::mutex mu_;
    std::deque<Message> incoming_;
    Status status_;
    std::atomic<bool> stop_ { false };

    // The publishing thread's own.
    std::deque<Entry> outbox_;
    int in_flight_ = 0;
    Entry* handing_ = nullptr; // the entry whose mosquitto_publish call is running
    mosquitto* client_ = nullptr;
    bool connected_ = false;
    bool lost_ = false;
    bool after_failure_ = false; // a try failed or a connection broke since the last connect
    Clock::time_point next_attempt_;
    Clock::time_point connect_deadline_;
    std::chrono::milliseconds retry_;
    std::string last_note_; // the state last written to the event log
    std::uint64_t dropped_logged_ = 0;

    std::thread thread_;
};
