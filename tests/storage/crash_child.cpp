// Helper of the crash test: appends measurement rows to the database in the
// directory given as argument, with sv = 1, 2, 3, ..., and after each append
// returns writes the row's number on its own line to stdout. Runs until killed.
#include "station_db.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    StationDb db(QString::fromLocal8Bit(argv[1]));
    for (long i = 1;; ++i) {
        db.append_measurement(
            { QDateTime::currentDateTime(), static_cast<int>(i % 90), static_cast<double>(i), 0, 0, 0, 0 });
        char line[32];
        const int n = std::snprintf(line, sizeof line, "%ld\n", i);
        if (::write(STDOUT_FILENO, line, static_cast<size_t>(n)) != n)
            return 1;
    }
}
