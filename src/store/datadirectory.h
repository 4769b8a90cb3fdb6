// Where the logger keeps its data sets: beside the program when that directory can be written
// (a build tree, an unpacked copy), otherwise in the user's data directory (a program installed
// in /usr/bin).
#pragma once

#include <QString>

// programDir itself when it is a directory this process can create files in and not one of the
// system's program directories (/usr/bin and the like, which root could write); otherwise
// $XDG_DATA_HOME/datalogger (~/.local/share/datalogger without an absolute XDG_DATA_HOME),
// created when missing. A directory that cannot be created is still returned: the store then
// reports why it cannot open its files there.
QString dataDirectoryBeside(const QString &programDir);

// dataDirectoryBeside(QCoreApplication::applicationDirPath()).
QString dataDirectory();
