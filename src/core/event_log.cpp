#include "event_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>

namespace event_log {

namespace {

struct Log {
    std::mutex mu;
    std::ofstream file;
    std::string path;
    std::size_t size = 0;
    std::size_t max_bytes = kDefaultMaxBytes;
    int keep = kDefaultKeep;
    bool echo = true;
};

Log& log()
{
    static Log instance;
    return instance;
}

std::string timestamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local {};
    localtime_r(&t, &local);
    char buf[32];
    const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    char out[40];
    std::snprintf(out, sizeof out, "%.*s.%03d", static_cast<int>(n), buf, static_cast<int>(ms));
    return out;
}

// Moves <path>.k to <path>.k+1 from the oldest down, the current file to
// <path>.1, and opens a new current file. Called with the lock held.
void rotate(Log& l)
{
    namespace fs = std::filesystem;
    l.file.close();
    std::error_code ec;
    fs::remove(l.path + "." + std::to_string(l.keep), ec);
    for (int k = l.keep - 1; k >= 1; --k)
        fs::rename(l.path + "." + std::to_string(k), l.path + "." + std::to_string(k + 1), ec);
    if (l.keep >= 1)
        fs::rename(l.path, l.path + ".1", ec);
    else
        fs::remove(l.path, ec);
    l.file.open(l.path, std::ios::app | std::ios::binary);
    l.size = 0;
}

} // namespace

bool open(const std::string& path, std::size_t max_bytes, int keep)
{
    Log& l = log();
    std::lock_guard<std::mutex> lock(l.mu);
    l.file.close();
    l.path = path;
    l.max_bytes = max_bytes;
    l.keep = keep < 0 ? 0 : keep;
    l.file.open(path, std::ios::app | std::ios::binary);
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    l.size = ec ? 0 : static_cast<std::size_t>(size);
    if (!l.file)
        l.path.clear();
    return static_cast<bool>(l.file);
}

void close()
{
    Log& l = log();
    std::lock_guard<std::mutex> lock(l.mu);
    l.file.close();
    l.path.clear();
}

std::string path()
{
    Log& l = log();
    std::lock_guard<std::mutex> lock(l.mu);
    return l.path;
}

void set_echo(bool on)
{
    Log& l = log();
    std::lock_guard<std::mutex> lock(l.mu);
    l.echo = on;
}

void write(const std::string& topic, const std::string& text)
{
    // One line per event: a line break inside a message is kept as " / ".
    std::string body = text;
    for (std::size_t p = body.find('\n'); p != std::string::npos; p = body.find('\n', p))
        body.replace(p, 1, " / ");
    const std::string line = timestamp() + " [" + topic + "] " + body + "\n";
    Log& l = log();
    std::lock_guard<std::mutex> lock(l.mu);
    if (l.echo)
        std::cerr << line << std::flush;
    if (!l.file.is_open())
        return;
    if (l.size > 0 && l.size + line.size() > l.max_bytes)
        rotate(l);
    l.file << line << std::flush;
    l.size += line.size();
}

} // namespace event_log
