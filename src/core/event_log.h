#pragma once
// The station's event log: every error message and every link and storage
// event, one timestamped line each, in a file beside the database and on
// standard error. The file is bounded: past max_bytes it is renamed to
// <name>.1 (older ones move up to <name>.<keep>, the oldest is dropped) and a
// new one is started, so months of running keep at most keep + 1 files.
//
// Thread safety: every function may be called from any thread; lines are
// written whole and in the order the calls took the log's lock.
#include <cstddef>
#include <string>

namespace event_log {

inline constexpr std::size_t kDefaultMaxBytes = 1024 * 1024;
inline constexpr int kDefaultKeep = 4;

// Starts writing to `path` (appending). Until opened, or when the file cannot
// be opened, lines go to standard error only. Returns whether the file opened.
bool open(const std::string& path, std::size_t max_bytes = kDefaultMaxBytes, int keep = kDefaultKeep);
void close();
// The file in use; empty when none.
std::string path();

// "2026-12-10 04:21:55.123 [串口] 串口 com1 已断开": local time, the topic, the text.
void write(const std::string& topic, const std::string& text);

// Whether lines also go to standard error (on by default; tests turn it off).
void set_echo(bool on);

} // namespace event_log
