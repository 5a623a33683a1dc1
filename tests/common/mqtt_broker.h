#pragma once
// A real Mosquitto broker for a test: started on a free loopback port with its
// configuration (and, when asked, its password file, TLS certificate and
// persistence store) in a temporary folder, stopped when the object goes.
// And a subscriber that records what the broker delivers.
#include <mosquitto.h>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QThread>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// A TCP port on 127.0.0.1 that nothing listens on at the moment of asking.
inline int free_loopback_port()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

inline bool port_accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// Starts `program` with `arguments` by fork and exec. Not QProcess: its
// child shares the parent's memory until exec, which a ThreadSanitizer build
// takes for the parent's own doings (false races, then death).
inline pid_t spawn(const QString& program, const QStringList& arguments)
{
    std::vector<std::string> words { program.toStdString() };
    for (const QString& a : arguments)
        words.push_back(a.toStdString());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// Waits up to `ms` for `pid` to end; whether it did.
inline bool reap(pid_t pid, int ms)
{
    QDeadlineTimer deadline(ms);
    do {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD))
            return true;
        QThread::msleep(10);
    } while (!deadline.hasExpired());
    return false;
}

class MqttBroker {
public:
    struct Options {
        QString user; // with a password: anonymous clients are refused
        QString password;
        bool tls = false; // a certificate for "localhost" signed by ca_file()
        bool persistence = false; // sessions and retained messages survive a restart
    };

    MqttBroker()
        : MqttBroker(Options())
    {
    }
    explicit MqttBroker(const Options& options)
        : options_(options)
        , port_(free_loopback_port())
    {
        QStringList conf { QStringLiteral("listener %1 127.0.0.1").arg(port_),
            // Started as root, the broker would otherwise change to a user that
            // cannot read this folder.
            QStringLiteral("user root"), QStringLiteral("log_dest file %1").arg(path("broker.log")),
            QStringLiteral("log_type all"), QStringLiteral("max_queued_messages 100000") };
        if (options_.user.isEmpty()) {
            conf << QStringLiteral("allow_anonymous true");
        } else {
            run(QStringLiteral("mosquitto_passwd"),
                { QStringLiteral("-b"), QStringLiteral("-c"), path("passwd"), options_.user, options_.password });
            QFile::setPermissions(path("passwd"), QFile::ReadOwner | QFile::WriteOwner);
            conf << QStringLiteral("allow_anonymous false") << QStringLiteral("password_file %1").arg(path("passwd"));
        }
        if (options_.persistence)
            conf << QStringLiteral("persistence true") << QStringLiteral("persistence_location %1/").arg(dir_.path());
        if (options_.tls) {
            make_certificates();
            conf << QStringLiteral("cafile %1").arg(ca_file()) << QStringLiteral("certfile %1").arg(path("server.crt"))
                 << QStringLiteral("keyfile %1").arg(path("server.key"));
        }
        QFile f(path("mosquitto.conf"));
        if (f.open(QIODevice::WriteOnly))
            f.write((conf.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    }
    ~MqttBroker() { stop(); }

    // Starts the broker and waits until it takes connections.
    bool start()
    {
        pid_ = spawn(program(QStringLiteral("mosquitto")), { QStringLiteral("-c"), path("mosquitto.conf") });
        if (pid_ <= 0)
            return false;
        QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired()) {
            if (port_accepts(port_))
                return true;
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) { // it gave up (see broker.log)
                pid_ = 0;
                return false;
            }
            QThread::msleep(20);
        }
        return false;
    }
    // Stops it as a service manager would (SIGTERM) and waits for it.
    void stop()
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        if (!reap(pid_, 5000)) {
            ::kill(pid_, SIGKILL);
            reap(pid_, 2000);
        }
        pid_ = 0;
    }

    int port() const { return port_; }
    QString ca_file() const { return path("ca.crt"); }
    QString log() const
    {
        QFile f(path("broker.log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private:
    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    static QString program(const QString& name)
    {
        const QString found = QStandardPaths::findExecutable(name);
        if (!found.isEmpty())
            return found;
        return QStandardPaths::findExecutable(name, { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin") });
    }
    static void run(const QString& name, const QStringList& arguments)
    {
        const pid_t pid = spawn(program(name), arguments);
        if (pid > 0)
            reap(pid, 30000);
    }
    // A certificate authority and a server certificate for localhost.
    void make_certificates()
    {
        const QString openssl = QStringLiteral("openssl");
        run(openssl, { QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
            QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
            QStringLiteral("/CN=test CA"), QStringLiteral("-keyout"), path("ca.key"), QStringLiteral("-out"), ca_file() });
        run(openssl, { QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"), QStringLiteral("-nodes"),
            QStringLiteral("-subj"), QStringLiteral("/CN=localhost"), QStringLiteral("-keyout"), path("server.key"),
            QStringLiteral("-out"), path("server.csr") });
        QFile ext(path("server.ext"));
        if (ext.open(QIODevice::WriteOnly))
            ext.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n");
        ext.close();
        run(openssl, { QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), path("server.csr"),
            QStringLiteral("-CA"), ca_file(), QStringLiteral("-CAkey"), path("ca.key"), QStringLiteral("-CAcreateserial"),
            QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"), path("server.ext"),
            QStringLiteral("-out"), path("server.crt") });
    }

    Options options_;
    QTemporaryDir dir_;
    int port_;
    pid_t pid_ = 0;
};

// Records every message the broker delivers on `filter`, at QoS 1, on
// libmosquitto's own thread. `session`: a client id whose subscription the
// broker keeps while the subscriber is away (messages meanwhile wait for it).
class MqttSubscriber {
public:
    struct Message {
        std::string topic;
        QByteArray payload;
        bool retained = false;
    };

    MqttSubscriber(int port, const std::string& filter, const std::string& session = {})
        : filter_(filter)
    {
        mosquitto_lib_init();
        client_ = mosquitto_new(session.empty() ? nullptr : session.c_str(), session.empty(), this);
        mosquitto_connect_callback_set(client_, [](mosquitto* m, void* self, int rc) {
            if (rc == 0)
                mosquitto_subscribe(m, nullptr, static_cast<MqttSubscriber*>(self)->filter_.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* self, int, int, const int*) {
            auto* s = static_cast<MqttSubscriber*>(self);
            std::lock_guard<std::mutex> lock(s->mu_);
            s->subscribed_ = true;
            s->cv_.notify_all();
        });
        mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
            auto* s = static_cast<MqttSubscriber*>(self);
            std::lock_guard<std::mutex> lock(s->mu_);
            s->messages_.push_back({ m->topic, QByteArray(static_cast<const char*>(m->payload), m->payloadlen), m->retain });
            s->cv_.notify_all();
        });
        mosquitto_publish_callback_set(client_, [](mosquitto*, void* self, int) {
            auto* s = static_cast<MqttSubscriber*>(self);
            std::lock_guard<std::mutex> lock(s->mu_);
            ++s->acknowledged_;
            s->cv_.notify_all();
        });
        mosquitto_reconnect_delay_set(client_, 1, 1, false);
        mosquitto_connect_async(client_, "127.0.0.1", port, 30);
        mosquitto_loop_start(client_);
    }
    ~MqttSubscriber()
    {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }

    bool wait_subscribed(int ms)
    {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return subscribed_; });
    }
    // Waits until the broker has taken this subscriber's acknowledgements of
    // every message received so far. The library sends them from its own
    // thread after handing a message over; a broker stopped before it reads
    // them delivers those messages again to a kept session. A message of
    // ours acknowledged by the broker comes after them on the connection.
    bool sync(int ms)
    {
        int before = 0;
        {
            std::lock_guard<std::mutex> lock(mu_);
            before = acknowledged_;
        }
        if (mosquitto_publish(client_, nullptr, "test-sync", 0, nullptr, 1, false) != MOSQ_ERR_SUCCESS)
            return false;
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return acknowledged_ > before; });
    }
    // Waits until the messages so far satisfy `done`.
    bool wait(const std::function<bool(const std::vector<Message>&)>& done, int ms)
    {
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return done(messages_); });
    }
    std::vector<Message> messages()
    {
        std::lock_guard<std::mutex> lock(mu_);
        return messages_;
    }

private:
    std::string filter_;
    mosquitto* client_ = nullptr;
    std::mutex mu_;
    std::condition_variable cv_;
    bool subscribed_ = false;
    int acknowledged_ = 0; // our own messages the broker confirmed
    std::vector<Message> messages_;
};
