// The publisher against a real Mosquitto broker on a free loopback port:
// order and completeness at both QoS levels, a broker that goes away and
// comes back, a queue that overflows, refused credentials, TLS, the status.
#include "publisher.h"

#include "event_log.h"
#include "mqtt_broker.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

class Publisher : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        event_log::set_echo(false);
        ASSERT_TRUE(event_log::open(dir.filePath(QStringLiteral("station.log")).toStdString()));
    }
    void TearDown() override
    {
        event_log::close();
        event_log::set_echo(true);
    }

    MqttConfig config(const MqttBroker& broker, int qos = 1) const
    {
        MqttConfig c;
        c.enabled = true;
        c.host = QStringLiteral("127.0.0.1");
        c.port = broker.port();
        c.prefix = QStringLiteral("t");
        c.station = QStringLiteral("s1");
        c.qos = qos;
        return c;
    }
    // Quick retries, so that a test sees several of them.
    static MqttPublisher::Options quick()
    {
        MqttPublisher::Options o;
        o.first_retry = 100ms;
        o.retry_max = 400ms;
        return o;
    }
    // The event log's MQTT lines.
    QStringList log_lines() const
    {
        QFile f(dir.filePath(QStringLiteral("station.log")));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList out;
        for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n')))
            if (line.contains(QStringLiteral("[MQTT]")))
                out << line;
        return out;
    }
    int lines_with(const QString& text) const { return static_cast<int>(log_lines().filter(text).size()); }

    static bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }
    static void publish_numbered(MqttPublisher& p, int from, int to)
    {
        for (int i = from; i < to; ++i)
            p.publish(QByteArrayLiteral("t/s1/1/measurement"), QByteArray::number(i));
    }
    // The payloads received, as numbers.
    static std::vector<int> numbers(const std::vector<MqttSubscriber::Message>& messages)
    {
        std::vector<int> out;
        for (const auto& m : messages)
            if (m.topic == "t/s1/1/measurement")
                out.push_back(m.payload.toInt());
        return out;
    }
    static std::vector<int> range(int from, int to)
    {
        std::vector<int> out;
        for (int i = from; i < to; ++i)
            out.push_back(i);
        return out;
    }
    static auto has(std::size_t n)
    {
        return [n](const std::vector<MqttSubscriber::Message>& m) { return numbers(m).size() >= n; };
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(Publisher, DeliversEveryMessageOnceInOrderAtEitherQos)
{
    MqttBroker broker;
    ASSERT_TRUE(broker.start());
    for (int qos : { 0, 1 }) {
        SCOPED_TRACE(qos);
        MqttSubscriber sub(broker.port(), "t/#");
        ASSERT_TRUE(sub.wait_subscribed(5000));
        {
            MqttPublisher p(config(broker, qos));
            publish_numbered(p, 0, 2000);
            ASSERT_TRUE(sub.wait(has(2000), 20000)) << numbers(sub.messages()).size();
            EXPECT_TRUE(wait_until([&] { return p.status().waiting == 0; }, 5s));
            EXPECT_EQ(p.status().sent, 2000u);
            EXPECT_EQ(p.status().link, MqttPublisher::Link::Connected);
        }
        std::this_thread::sleep_for(200ms); // anything late would show now
        const auto got = sub.messages();
        EXPECT_EQ(numbers(got), range(0, 2000));
        // "online" when it connected, "offline" when it closed; both retained.
        std::vector<std::string> status;
        for (const auto& m : got)
            if (m.topic == "t/s1/status" && !m.retained) // not the last run's, kept by the broker
                status.push_back(m.payload.toStdString());
        EXPECT_EQ(status, (std::vector<std::string> { "online", "offline" }));
    }
    MqttSubscriber late(broker.port(), "t/s1/status");
    ASSERT_TRUE(late.wait([](const auto& m) { return !m.empty(); }, 5000));
    EXPECT_EQ(late.messages().front().payload, QByteArray("offline"));
    EXPECT_TRUE(late.messages().front().retained);
}

// The broker stops and comes back: what was published meanwhile waits and
// arrives afterwards, in order and once; the log has one line for the loss
// and one for the failing tries, however many there were.
TEST_F(Publisher, MessagesWaitWhileTheBrokerIsAwayAndFollowInOrder)
{
    MqttBroker::Options persistent;
    persistent.persistence = true; // the subscriber's session survives the restart
    MqttBroker broker(persistent);
    ASSERT_TRUE(broker.start());
    auto sub = std::make_unique<MqttSubscriber>(broker.port(), "t/#", "away-test");
    ASSERT_TRUE(sub->wait_subscribed(5000));
    MqttPublisher p(config(broker), quick());
    publish_numbered(p, 0, 10);
    ASSERT_TRUE(sub->wait(has(10), 5000));
    // Confirmed before the broker goes: a message in flight at that moment
    // may rightly arrive twice at QoS 1.
    ASSERT_TRUE(wait_until([&] { return p.status().sent == 10; }, 5s));
    ASSERT_TRUE(sub->sync(5000)); // and acknowledged by the subscriber

    broker.stop();
    ASSERT_TRUE(wait_until([&] { return p.status().link == MqttPublisher::Link::Retrying; }, 5s));
    publish_numbered(p, 10, 300);
    std::this_thread::sleep_for(2s); // several tries
    EXPECT_EQ(p.status().waiting, 290u);
    EXPECT_EQ(p.status().link, MqttPublisher::Link::Retrying);
    EXPECT_EQ(lines_with(QStringLiteral("连接断开")), 1) << log_lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines_with(QStringLiteral("无法连接")), 1) << log_lines().join(QLatin1Char('\n')).toStdString();

    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(sub->wait(has(300), 15000)) << numbers(sub->messages()).size();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(numbers(sub->messages()), range(0, 300));
    EXPECT_EQ(p.status().dropped, 0u);
    EXPECT_EQ(lines_with(QStringLiteral("补发暂存的")), 1);
}

// Past its bound the queue drops the oldest, counts them and says so; the
// survivors go out in order once the broker is back.
TEST_F(Publisher, AFullQueueDropsTheOldestAndCountsThem)
{
    // The subscriber's session is kept across the broker's restart, so that
    // it gets everything the publisher sends on reconnecting.
    MqttBroker::Options persistent;
    persistent.persistence = true;
    MqttBroker broker(persistent);
    ASSERT_TRUE(broker.start());
    MqttSubscriber sub(broker.port(), "t/#", "full-test");
    ASSERT_TRUE(sub.wait_subscribed(5000));
    broker.stop();

    MqttPublisher::Options o = quick();
    o.capacity = 100;
    MqttPublisher p(config(broker), o);
    ASSERT_TRUE(wait_until([&] { return p.status().link == MqttPublisher::Link::Retrying; }, 5s));
    // One at a time, as rows come: 250 past the bound.
    for (int i = 0; i < 350; ++i) {
        publish_numbered(p, i, i + 1);
        if (i % 10 == 0)
            std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(wait_until([&] { return p.status().dropped == 250; }, 5s)) << p.status().dropped;
    EXPECT_EQ(p.status().waiting, 100u);
    // Said when it began and once per further hundred, not per message: at
    // most three lines, the last with a count past 200 (the log is written
    // by the publishing thread when it next takes the queue).
    const auto last_logged = [&] {
        const QStringList drops = log_lines().filter(QStringLiteral("已丢弃最早的"));
        const QRegularExpressionMatch count
            = QRegularExpression(QStringLiteral("最早的 (\\d+) 条")).match(drops.isEmpty() ? QString() : drops.back());
        return count.hasMatch() ? count.captured(1).toInt() : 0;
    };
    ASSERT_TRUE(wait_until([&] { return last_logged() >= 200; }, 5s)) << log_lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_LE(last_logged(), 250);
    EXPECT_LE(log_lines().filter(QStringLiteral("已丢弃最早的")).size(), 3) << log_lines().join(QLatin1Char('\n')).toStdString();

    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(sub.wait(has(100), 15000)) << numbers(sub.messages()).size();
    ASSERT_TRUE(wait_until([&] { return p.status().waiting == 0; }, 5s));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(numbers(sub.messages()), range(250, 350));
}

// Wrong credentials: refused, said once in the log however often it is
// tried, shown in the status; the right ones then deliver.
TEST_F(Publisher, RefusedCredentialsAreReportedOnce)
{
    MqttBroker::Options secured;
    secured.user = QStringLiteral("station");
    secured.password = QStringLiteral("right");
    MqttBroker broker(secured);
    ASSERT_TRUE(broker.start());
    MqttConfig c = config(broker);
    c.user = QStringLiteral("station");
    c.password = QStringLiteral("wrong");
    c.allow_plain_password = true; // this broker has no TLS
    {
        MqttPublisher p(c, quick());
        publish_numbered(p, 0, 5);
        ASSERT_TRUE(wait_until([&] { return p.status().link == MqttPublisher::Link::Refused; }, 5s));
        std::this_thread::sleep_for(1500ms); // several more tries
        EXPECT_EQ(p.status().link, MqttPublisher::Link::Refused);
        EXPECT_TRUE(QString::fromStdString(p.status().reason).contains(QStringLiteral("用户名或密码")))
            << p.status().reason;
        EXPECT_EQ(p.status().waiting, 5u);
        EXPECT_GE(broker.log().count(QStringLiteral("not authorised")), 3) << "tried only once";
    }
    EXPECT_EQ(lines_with(QStringLiteral("拒绝连接")), 1) << log_lines().join(QLatin1Char('\n')).toStdString();

    // The broker takes the user with the right password, and no one anonymous.
    c.password = QStringLiteral("right");
    MqttPublisher p(c, quick());
    EXPECT_TRUE(wait_until([&] { return p.status().link == MqttPublisher::Link::Connected; }, 5s));
    c.user.clear();
    MqttPublisher anonymous(c, quick());
    EXPECT_TRUE(wait_until([&] { return anonymous.status().link == MqttPublisher::Link::Refused; }, 5s));
}

// A password without TLS that the settings do not allow to go in clear is
// never sent: the publisher refuses before connecting, and says why.
TEST_F(Publisher, APasswordIsNotSentInClearUnlessAllowed)
{
    MqttBroker::Options secured;
    secured.user = QStringLiteral("station");
    secured.password = QStringLiteral("right");
    MqttBroker broker(secured);
    ASSERT_TRUE(broker.start());
    MqttConfig c = config(broker);
    c.user = QStringLiteral("station");
    c.password = QStringLiteral("right");
    {
        MqttPublisher p(c, quick());
        ASSERT_TRUE(wait_until([&] { return p.status().link == MqttPublisher::Link::Refused; }, 5s));
        EXPECT_TRUE(QString::fromStdString(p.status().reason).contains(QStringLiteral("未加密"))) << p.status().reason;
    }
    EXPECT_FALSE(broker.log().contains(QStringLiteral("ai_station-"))) << broker.log().toStdString(); // no CONNECT
    c.allow_plain_password = true;
    MqttPublisher allowed(c, quick());
    EXPECT_TRUE(wait_until([&] { return allowed.status().link == MqttPublisher::Link::Connected; }, 5s));
    EXPECT_TRUE(wait_until([&] { return broker.log().contains(QStringLiteral("u'station'")); }, 5s))
        << broker.log().toStdString();
}

// TLS with the CA file given: delivered. Without it the broker's certificate
// is not trusted, and the status says TLS.
TEST_F(Publisher, TlsTrustsTheGivenAuthorityOnly)
{
    MqttBroker::Options tls;
    tls.tls = true;
    MqttBroker broker(tls);
    ASSERT_TRUE(broker.start());
    MqttConfig c = config(broker);
    c.host = QStringLiteral("localhost");
    c.tls = true;
    {
        MqttPublisher untrusted(c, quick()); // the system's authorities
        ASSERT_TRUE(wait_until([&] { return !untrusted.status().reason.empty(); }, 30s)) << static_cast<int>(untrusted.status().link);
        EXPECT_NE(untrusted.status().link, MqttPublisher::Link::Connected);
        EXPECT_TRUE(QString::fromStdString(untrusted.status().reason).contains(QStringLiteral("TLS")))
            << untrusted.status().reason;
    }
    c.ca_file = broker.ca_file();
    MqttPublisher p(c, quick());
    publish_numbered(p, 0, 3);
    EXPECT_TRUE(wait_until([&] { return p.status().sent == 3; }, 5s)) << p.status().reason;
    EXPECT_EQ(p.status().link, MqttPublisher::Link::Connected);
}
