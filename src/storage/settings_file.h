#pragma once
// The settings file save.txt in the working directory: three CR LF lines of
// plain decimal integers: the port index (0..15), the baud-rate index (0..2)
// and the sampling period in seconds.
#include <QString>
#include <QStringList>

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

// What reading the file found: whether it was there, and one message for each
// line that could not be taken (naming the file, the line and its text).
struct SettingsReadResult {
    bool found = false;
    QStringList problems;
};

// Reads the first three lines of `path` (at most the first 4 KiB of the file
// are looked at). Of each line only the first 8 characters count; line 1 is
// shown, then converted and applied; so is line 2; line 3 is converted and
// applied. Lines end at LF, a CR before it is dropped. A line that is not an
// integer is not applied (its target keeps its default) and is named in the
// result; the other lines still apply. A missing file is a first start, not
// an error: nothing is applied and nothing reported. A file that exists but
// cannot be read is reported and nothing applied. Never throws.
SettingsReadResult read_settings(const QString& path, const SettingsTargets& targets);

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
