#pragma once
// SIGTERM, SIGINT and SIGHUP (shutdown, logout, Ctrl+C, kill) end the station
// the way closing its window does, instead of killing it mid-write.
#include <functional>

// Installs the handlers; `on_signal` then runs on the main thread, from the
// event loop that is running when the signal arrives (also a modal box's).
void install_quit_signals(std::function<void()> on_signal);
