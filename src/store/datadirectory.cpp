#include "datadirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace {
// The system's program directories are no place for data, even for root, who may write there.
bool isSystemProgramDirectory(const QString &path)
{
    static const QStringList system = {QStringLiteral("/bin"), QStringLiteral("/sbin"),
                                       QStringLiteral("/usr/bin"), QStringLiteral("/usr/sbin"),
                                       QStringLiteral("/usr/local/bin"),
                                       QStringLiteral("/usr/local/sbin")};
    return system.contains(QDir::cleanPath(path)) ||
           system.contains(QFileInfo(path).canonicalFilePath());
}
} // namespace

QString dataDirectoryBeside(const QString &programDir)
{
    // Qt asks access(2) here, so a read-only file system counts as unwritable even for root.
    const QFileInfo beside(programDir);
    if (beside.isDir() && beside.isWritable() && beside.isExecutable() &&
        !isSystemProgramDirectory(beside.absoluteFilePath()))
        return QDir::cleanPath(beside.absoluteFilePath());

    // The XDG rule: a relative XDG_DATA_HOME is invalid and ignored.
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty() || QDir::isRelativePath(dataHome))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    const QString path = QDir::cleanPath(dataHome + QStringLiteral("/datalogger"));
    QDir().mkpath(path);
    return path;
}

QString dataDirectory()
{
    return dataDirectoryBeside(QCoreApplication::applicationDirPath());
}
