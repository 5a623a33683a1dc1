#pragma once
// The station's command line: --help, --version, --workdir DIR, --port NAME,
// --mqtt URL, --headless.
#include <QString>
#include <QStringList>

#include <optional>

struct CommandLine {
    // Relative paths are made absolute against the working directory.
    QString workdir; // the data folder to use; empty: chosen as usual
    QString port; // the port to open at start; empty: the one save.txt names
    QString mqtt; // the broker to publish to in this run; empty: as station.ini says
    bool headless = false; // the engine alone, without a window or a display
};

// Whether the arguments ask for the headless service (before any
// application object exists: it decides which one to make).
bool wants_headless(int argc, char** argv);

// Answers --help and --version (printed on standard output) and reports
// anything else it cannot accept on standard error; returns the exit code
// then. Otherwise returns nothing and fills `options`. `arguments` is the
// command line without the options the window toolkit takes for itself.
std::optional<int> parse_command_line(const QStringList& arguments, CommandLine* options);

// Answers --help and --version before the window toolkit starts, so that
// they work without a display: returns the exit code when it answered, and
// nothing otherwise. Options it does not know (the toolkit's own, such as
// -platform) are left for parse_command_line.
std::optional<int> answer_help_or_version(int& argc, char** argv);
