#pragma once
// The settings file save.txt in the working directory: three CR LF lines of
// plain decimal integers: the port index (0..15), the baud-rate index (0..2)
// and the sampling period in seconds.
#include <QString>

#include <functional>

inline const QString kSettingsFileName = QStringLiteral("save.txt");

// Where each line goes when the file is read. Any member may be left empty.
struct SettingsTargets {
    std::function<void(const QString&)> show_port_text; // line 1 -> Edit1
    std::function<void(int)> set_port_index; // line 1 -> ComboBox1
    std::function<void(const QString&)> show_baud_text; // line 2 -> Edit2
    std::function<void(int)> set_baud_index; // line 2 -> ComboBox2
    std::function<void(int)> set_period; // line 3 -> iIntegerOutput1
};

// Reads `path` line by line to its end. Of each line only the first 8
// characters count; line 1 is shown, then converted and applied; so is line 2;
// line 3 is converted and applied; further lines are read and ignored. Lines
// end at LF, a CR before it is dropped. The file is closed on return.
// Throws EInOutError ("File not found", "File access denied", "I/O error <n>")
// when the file cannot be read, and EConvertError
// ("'<text>' is not a valid integer value") at the first taken text that is
// not an integer; the lines before it have been applied by then. Each message
// has a second line naming the file (and the line) and the reason in words.
void read_settings(const QString& path, const SettingsTargets& targets);

// Rewrites `path` with the three lines, each ended by CR LF. The new content is
// written to a temporary file in the same directory, flushed to disk and then
// renamed over `path`, so a failure leaves the previous file as it was.
// Throws EInOutError with the runtime's message on any failure, and a second
// line naming the file and the reason.
void file_save(const QString& path, int port_index, int baud_index, int period);

// The runtime's input/output message for a system error number.
QString in_out_message(int errno_value);
// The reason in words, for the operator ("文件不存在", ...).
QString in_out_reason(int errno_value);
