#include "publisher.h"

#include "event_log.h"
#include "messages.h"
#include "mqtt_config.h"

#include <mosquitto.h>

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

void init_library()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// What the library's result code means, for the operator.
std::string failure_text(int rc, int saved_errno)
{
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        return std::strerror(saved_errno);
    case MOSQ_ERR_EAI:
        return "找不到该主机";
    case MOSQ_ERR_TLS:
        return "TLS 握手失败（证书不受信任或与主机名不符）";
    case MOSQ_ERR_KEEPALIVE:
        return "服务器无响应";
    case MOSQ_ERR_CONN_LOST:
        return "连接中断";
    default:
        return mosquitto_strerror(rc);
    }
}

// Why the broker refused the connection (its CONNACK code).
std::string refusal_text(int code)
{
    switch (code) {
    case 4:
        return "用户名或密码错误";
    case 5:
        return "未获授权（用户名或密码错误）";
    case 2:
        return "客户端标识被拒绝（检查站点标识）";
    default:
        return mosquitto_connack_string(code);
    }
}

} // namespace

MqttPublisher::MqttPublisher(const MqttConfig& config)
    : MqttPublisher(config, Options {})
{
}

MqttPublisher::MqttPublisher(const MqttConfig& config, const Options& options)
    : config_(config)
    , options_(options)
    , status_topic_(Topics(config).status())
    , client_id_("ai_station-" + station_id(config).toStdString())
    , retry_(options.first_retry)
{
    init_library();
    wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    next_attempt_ = Clock::now();
    thread_ = std::thread([this] { run(); });
}

MqttPublisher::~MqttPublisher()
{
    stop_.store(true);
    const std::uint64_t one = 1;
    (void)!write(wake_fd_, &one, sizeof one);
    thread_.join();
    close(wake_fd_);
}

void MqttPublisher::publish(QByteArray topic, QByteArray payload)
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        // The publishing thread trims its own queue; this bound only holds
        // while it cannot take messages (a name look-up that hangs).
        if (incoming_.size() >= options_.capacity) {
            incoming_.pop_front();
            ++status_.dropped;
        }
        incoming_.push_back({ std::move(topic), std::move(payload) });
    }
}

MqttPublisher::Status MqttPublisher::status() const
{
    std::lock_guard<std::mutex> lock(mu_);
    Status s = status_;
    s.waiting += incoming_.size();
    return s;
}

std::string MqttPublisher::broker() const
{
    return config_.host.toStdString() + ":" + std::to_string(config_.port);
}

void MqttPublisher::note(const std::string& text)
{
    if (text == last_note_)
        return;
    last_note_ = text;
    event_log::write("MQTT", text);
}

void MqttPublisher::set_link(Link link, const std::string& reason)
{
    std::lock_guard<std::mutex> lock(mu_);
    status_.link = link;
    status_.reason = reason;
}

void MqttPublisher::take_incoming()
{
    std::deque<Message> taken;
    std::uint64_t dropped = 0;
    {
        std::lock_guard<std::mutex> lock(mu_);
        taken.swap(incoming_);
        dropped = status_.dropped;
    }
    for (Message& m : taken)
        outbox_.push_back({ std::move(m) });
    // Past the bound the oldest go, confirmed or not; a confirmation for one
    // of them later finds nothing to mark.
    std::uint64_t trimmed = 0;
    while (outbox_.size() > options_.capacity) {
        if (outbox_.front().mid != 0 && !outbox_.front().done)
            --in_flight_;
        outbox_.pop_front();
        ++trimmed;
    }
    {
        std::lock_guard<std::mutex> lock(mu_);
        status_.dropped += trimmed;
        dropped = status_.dropped;
        status_.waiting = outbox_.size();
    }
    // One line for the first drop and one per further hundred.
    if (dropped > dropped_logged_ && (dropped_logged_ == 0 || dropped / 100 > dropped_logged_ / 100)) {
        event_log::write("MQTT", "待发队列已满（" + std::to_string(options_.capacity) + " 条），已丢弃最早的 "
                + std::to_string(dropped) + " 条消息");
        dropped_logged_ = dropped;
    }
}

void MqttPublisher::begin_attempt()
{
    lost_ = false;
    connected_ = false;
    client_ = mosquitto_new(client_id_.c_str(), true, this);
    if (!client_) {
        fail(Link::Retrying, "无法创建 MQTT 客户端");
        return;
    }
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(client_, &MqttPublisher::on_connect);
    mosquitto_disconnect_callback_set(client_, &MqttPublisher::on_disconnect);
    mosquitto_publish_callback_set(client_, &MqttPublisher::on_publish);
    mosquitto_will_set(client_, status_topic_.constData(), static_cast<int>(kOffline.size()), kOffline.constData(), 1, true);
    // A password never goes in clear unless the settings allow it; settings
    // that would send one are refused before a publisher is made, and this
    // holds whoever makes one.
    if (!config_.tls && !config_.password.isEmpty() && !config_.allow_plain_password) {
        fail(Link::Refused, "密码不会在未加密的连接上发送（未启用 TLS，也未允许明文密码）");
        return;
    }
    if (!config_.user.isEmpty())
        mosquitto_username_pw_set(client_, config_.user.toUtf8().constData(),
            config_.password.isEmpty() ? nullptr : config_.password.toUtf8().constData());
    if (config_.tls) {
        int rc = MOSQ_ERR_SUCCESS;
        if (config_.ca_file.isEmpty())
            rc = mosquitto_int_option(client_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        else
            rc = mosquitto_tls_set(client_, config_.ca_file.toLocal8Bit().constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            fail(Link::Retrying, "TLS 设置无效（CA 文件 " + config_.ca_file.toStdString() + "）：" + mosquitto_strerror(rc));
            return;
        }
    }
    connect_deadline_ = Clock::now() + options_.connect_timeout;
    // The name look-up blocks this thread; the TCP and TLS handshakes go on in run().
    const int rc = mosquitto_connect_async(client_, config_.host.toUtf8().constData(), config_.port, options_.keepalive_s);
    if (rc != MOSQ_ERR_SUCCESS)
        fail(Link::Retrying, failure_text(rc, errno));
}

void MqttPublisher::fail(Link link, const std::string& reason)
{
    set_link(link, reason);
    if (link == Link::Refused)
        note("MQTT 服务器 " + broker() + " 拒绝连接：" + reason + "；请检查 MQTT 设置，消息暂存并稍后重试");
    else
        note("无法连接 MQTT 服务器 " + broker() + "：" + reason + "；消息暂存，稍后重试");
    end_attempt();
}

void MqttPublisher::end_attempt()
{
    if (client_) {
        mosquitto_destroy(client_);
        client_ = nullptr;
    }
    // What the broker did not confirm goes out again on the next connection.
    for (Entry& e : outbox_)
        e.mid = 0;
    in_flight_ = 0;
    connected_ = false;
    lost_ = false;
    after_failure_ = true;
    next_attempt_ = Clock::now() + retry_;
    retry_ = std::min(retry_ * 2, options_.retry_max);
}

void MqttPublisher::on_connect(mosquitto* m, void* self, int rc)
{
    auto* p = static_cast<MqttPublisher*>(self);
    if (rc != 0) {
        // The library closes the connection after this; run() ends the attempt.
        p->lost_ = true;
        p->set_link(Link::Refused, refusal_text(rc));
        p->note("MQTT 服务器 " + p->broker() + " 拒绝连接：" + refusal_text(rc) + "；请检查 MQTT 设置，消息暂存并稍后重试");
        return;
    }
    p->connected_ = true;
    p->retry_ = p->options_.first_retry;
    mosquitto_publish(m, nullptr, p->status_topic_.constData(), static_cast<int>(kOnline.size()), kOnline.constData(), 1, true);
    p->set_link(Link::Connected);
    std::string text = "已连接 MQTT 服务器 " + p->broker() + "，站点 " + station_id(p->config_).toStdString();
    if (p->after_failure_ && !p->outbox_.empty())
        text += "，补发暂存的 " + std::to_string(p->outbox_.size()) + " 条消息";
    p->last_note_.clear();
    p->note(text);
    p->after_failure_ = false;
}

void MqttPublisher::on_disconnect(mosquitto*, void* self, int rc)
{
    auto* p = static_cast<MqttPublisher*>(self);
    const int saved_errno = errno;
    if (p->lost_)
        return; // a refusal, already reported
    p->lost_ = true;
    if (p->stop_.load() && rc == MOSQ_ERR_SUCCESS)
        return; // our own disconnect at the close
    const std::string reason = failure_text(rc, saved_errno);
    p->set_link(Link::Retrying, reason);
    if (p->connected_)
        p->note("与 MQTT 服务器 " + p->broker() + " 的连接断开：" + reason + "；消息暂存，重连后按顺序发送");
    else
        p->note("无法连接 MQTT 服务器 " + p->broker() + "：" + reason + "；消息暂存，稍后重试");
}

void MqttPublisher::on_publish(mosquitto*, void* self, int mid)
{
    static_cast<MqttPublisher*>(self)->confirm(mid);
}

void MqttPublisher::confirm(int mid)
{
    Entry* found = nullptr;
    for (Entry& e : outbox_) {
        if (e.mid == mid && !e.done) {
            found = &e;
            break;
        }
        if (e.mid == 0 && !e.done)
            break; // handed-over entries lie before the first one not handed over
    }
    // At QoS 0 the library confirms a message while it is being handed over,
    // before its id is known here.
    if (!found)
        found = handing_;
    if (!found)
        return; // the status message, or one dropped meanwhile
    found->done = true;
    if (found->mid != 0 || found == handing_)
        --in_flight_;
    std::uint64_t confirmed = 0;
    while (!outbox_.empty() && outbox_.front().done) {
        outbox_.pop_front();
        ++confirmed;
    }
    std::lock_guard<std::mutex> lock(mu_);
    status_.sent += confirmed;
    status_.waiting = outbox_.size();
}

void MqttPublisher::hand_over()
{
    std::size_t i = 0;
    while (i < outbox_.size() && in_flight_ < options_.window && connected_ && !lost_) {
        if (outbox_[i].done || outbox_[i].mid != 0) {
            ++i;
            continue;
        }
        const Message& m = outbox_[i].message;
        const std::size_t before = outbox_.size();
        int mid = 0;
        ++in_flight_;
        handing_ = &outbox_[i];
        const int rc = mosquitto_publish(client_, &mid, m.topic.constData(), static_cast<int>(m.payload.size()),
            m.payload.constData(), config_.qos, false);
        handing_ = nullptr;
        if (rc != MOSQ_ERR_SUCCESS) {
            --in_flight_;
            return; // the connection is going; run() notices
        }
        // Confirmations during the call may have taken entries off the front,
        // this one among them.
        const std::size_t popped = before - outbox_.size();
        if (popped <= i && !outbox_[i - popped].done)
            outbox_[i - popped].mid = mid;
        i = i + 1 - popped;
    }
}

void MqttPublisher::run()
{
    // Publishing yields to polling: a thread of the batch class never takes
    // the processor from a thread when it wakes, only at the scheduler's
    // tick, and still gets its fair share. Failing that, it runs as usual.
    const sched_param batch {};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &batch);
    bool stopping = false;
    Clock::time_point stop_deadline;
    for (;;) {
        take_incoming();
        const Clock::time_point now = Clock::now();
        if (stop_.load() && !stopping) {
            stopping = true;
            stop_deadline = now + options_.close_flush;
        }
        if (stopping && (!connected_ || outbox_.empty() || now >= stop_deadline))
            break;
        if (!client_ && !stopping && now >= next_attempt_)
            begin_attempt();
        if (connected_)
            hand_over();

        const int sock = client_ ? mosquitto_socket(client_) : -1;
        pollfd fds[2] = { { wake_fd_, POLLIN, 0 }, { sock, POLLIN, 0 } };
        if (sock >= 0 && mosquitto_want_write(client_))
            fds[1].events |= POLLOUT;
        // Messages queued meanwhile are taken at the next turn: no wake-up
        // from publish(), see Options::pickup.
        Clock::time_point until = now + options_.pickup;
        if (!client_ && !stopping)
            until = std::min(until, next_attempt_);
        if (client_ && !connected_)
            until = std::min(until, connect_deadline_);
        if (stopping)
            until = std::min(until, stop_deadline);
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        ::poll(fds, sock >= 0 ? 2 : 1, static_cast<int>(std::max<long long>(wait, 0)) + (wait > 0 ? 1 : 0));
        if (fds[0].revents & POLLIN) {
            std::uint64_t n = 0;
            (void)!read(wake_fd_, &n, sizeof n);
        }
        if (client_ && sock >= 0) {
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR))
                mosquitto_loop_read(client_, 1);
            if (!lost_ && mosquitto_socket(client_) >= 0 && (fds[1].revents & POLLOUT))
                mosquitto_loop_write(client_, 1);
            if (!lost_ && mosquitto_socket(client_) >= 0)
                mosquitto_loop_misc(client_);
        }
        if (client_ && !connected_ && !lost_ && Clock::now() >= connect_deadline_) {
            fail(Link::Retrying, "连接超时");
            continue;
        }
        if (client_ && (lost_ || mosquitto_socket(client_) < 0))
            end_attempt();
    }
    finish();
}

void MqttPublisher::finish()
{
    if (client_ && connected_) {
        mosquitto_publish(client_, nullptr, status_topic_.constData(), static_cast<int>(kOffline.size()), kOffline.constData(), 1, true);
        mosquitto_disconnect(client_);
        // Write the status and the disconnect out, for at most half a second.
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(500);
        while (mosquitto_socket(client_) >= 0 && mosquitto_want_write(client_) && Clock::now() < deadline) {
            pollfd fd { mosquitto_socket(client_), POLLOUT, 0 };
            ::poll(&fd, 1, 50);
            mosquitto_loop_write(client_, 1);
        }
    }
    if (client_) {
        mosquitto_destroy(client_);
        client_ = nullptr;
    }
    take_incoming();
    if (!outbox_.empty())
        event_log::write("MQTT", "关闭时仍有 " + std::to_string(outbox_.size()) + " 条消息未能发送");
}
