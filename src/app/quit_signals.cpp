#include "quit_signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A signal handler may do almost nothing: it writes one byte to a socket that
// the main thread watches, and the work happens there.
int signal_fds[2] = { -1, -1 };

extern "C" void on_quit_signal(int)
{
    const char byte = 1;
    (void)!::write(signal_fds[0], &byte, 1);
}

} // namespace

void install_quit_signals(std::function<void()> on_signal)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signal_fds) != 0)
        return; // the default action (termination) stays
    ::fcntl(signal_fds[0], F_SETFL, O_NONBLOCK);
    auto* notifier = new QSocketNotifier(signal_fds[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [on_signal = std::move(on_signal)] {
        char bytes[16];
        (void)!::read(signal_fds[1], bytes, sizeof bytes);
        on_signal();
    });
    struct sigaction action = {};
    action.sa_handler = on_quit_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : { SIGTERM, SIGINT, SIGHUP })
        ::sigaction(sig, &action, nullptr);
}
