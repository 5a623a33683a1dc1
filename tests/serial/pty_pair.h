#pragma once
// A pseudo-terminal pair for the serial tests: the component opens the slave
// path, the test plays the far end on the master.
#include <string>

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slave_path() const { return slave_; }
    int master() const { return master_; }
    bool ok() const { return master_ >= 0; }

    void write(const std::string& bytes);
    // Reads until `count` bytes came or `timeout_ms` passed without a byte.
    std::string read(std::size_t count, int timeout_ms = 2000);
    // Everything that arrives until the line has been quiet for `quiet_ms`.
    std::string drain(int quiet_ms = 200);
    void close_master();

private:
    int master_ = -1;
    std::string slave_;
};

// Number of open descriptors of this process.
int open_fd_count();
