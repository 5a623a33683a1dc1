#pragma once
// The simulator's end of the line: a pseudo-terminal master or a real serial
// device. The only file of the simulator that calls termios and the pty API.
#include <string>

namespace aisim {

struct Line {
    int fd = -1; // read requests from it, write replies to it
    int held_slave = -1; // pty only: our own slave descriptor (see open_pty)
    bool is_pty = false;
    std::string path; // /dev/pts/N or the device
    std::string link; // symlink we created, removed by close_line
};

// Throws std::runtime_error with the failing call's reason.
Line open_pty(const std::string& link);
Line open_device(const std::string& path, int baud);
void set_line_baud(const Line& line, int baud); // waits until pending output is sent
void close_line(Line& line);
// Writes all bytes (the descriptor is non-blocking); false on a hard error.
bool write_all(int fd, const unsigned char* data, size_t size);

} // namespace aisim
