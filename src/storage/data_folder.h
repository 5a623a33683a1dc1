#pragma once
// Which folder holds the station's files (control_db.sqlite, save.txt and
// station.ini), and the database created there from the installed template
// on first start.
//
// A folder chosen on the command line wins. Otherwise the working directory
// is used when it holds control_db.sqlite, as when the station is started in
// the folder it has always run in; else the station's own data folder in the
// user's data home ($XDG_DATA_HOME/ai_station, by default
// ~/.local/share/ai_station).
#include <QString>
#include <QStringList>

struct DataFolderRequest {
    QString chosen_dir; // from the command line; empty when none was given
    QString working_dir;
    QString user_data_dir;
    QStringList templates; // candidate template files, in order of preference
};

struct DataFolder {
    QString path; // absolute
    // Set when the database was copied from this template just now.
    QString created_from;
};

// Picks the folder as described above, creates it when missing and, when it
// holds no control_db.sqlite, copies the first existing template there
// (writable by the user, and complete or not at all). Throws EDatabaseError
// naming the file, the folders and the templates looked for when the folder
// cannot be made or no template can be copied.
DataFolder prepare_data_folder(const DataFolderRequest& request);

// Where an installed station keeps its template: <program folder>/../share/
// ai_station/control_db.sqlite first (any installation prefix), then, for a
// program run from its build tree, the database the build wrote there, then
// the system data folders.
QStringList installed_template_paths();

// The station's own data folder in the user's data home.
QString user_data_folder();
