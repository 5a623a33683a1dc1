#pragma once
// The settings file save.txt in the working directory: three CR LF lines of
// plain decimal integers: the port index (0..15), the baud-rate index (0..2)
// and the sampling period in seconds.
#include <QString>
#include <QStringList>

#include <functional>

inline const QString kSettingsFileName = QStringLiteral("save.txt");

// Where each line goes when the file is read. Any member may be left empty.
// A setter returns false when the value is out of range for its target (a
// baud-rate index past the list): the target then keeps its default and the
// line is reported.
struct SettingsTargets {
    std::function<void(const QString&)> show_port_text; // line 1 -> Edit1
    std::function<bool(int)> set_port_index; // line 1 -> ComboBox1
    std::function<void(const QString&)> show_baud_text; // line 2 -> Edit2
    std::function<bool(int)> set_baud_index; // line 2 -> ComboBox2
    std::function<bool(int)> set_period; // line 3 -> iIntegerOutput1
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
// integer, or whose value its target refuses, is not applied (its target
// keeps its default) and is named in the result with the file and the line;
// the other lines still apply. A missing file is a first start, not an
// error: nothing is applied and nothing reported. A name that is no regular
// file (a directory, a FIFO: never waited on) or a file that cannot be read
// is reported and nothing applied. Never throws.
SettingsReadResult read_settings(const QString& path, const SettingsTargets& targets);

// Rewrites `path` with the three lines, each ended by CR LF. The new content is
// written to a temporary file in the same directory, flushed to disk and then
// renamed over `path`, so a failure leaves the previous file as it was.
// Throws EInOutError with the runtime's message on any failure, and a second
// line naming the file and the reason.
void file_save(const QString& path, int port_index, int baud_index, int period);

// Replaces `path` with `content` the same way (temporary file in the same
// folder, flushed, renamed over it; a FIFO or another non-directory in its
// place is replaced, a directory is not). The new file has `mode` (e.g.
// 0600), or, when `mode` is negative, the permissions of the regular file it
// replaces (0666 less the umask for a new one). Throws EInOutError as
// file_save.
void replace_file(const QString& path, const QByteArray& content, int mode = -1);

// "不是普通文件，而是一个目录" and so on, for a file mode (st_mode).
QString file_kind_text(unsigned mode);

// The runtime's input/output message for a system error number.
QString in_out_message(int errno_value);
// The reason in words, for the operator ("文件不存在", ...).
QString in_out_reason(int errno_value);
