#include "AppPaths.h"

#include <QCoreApplication>
#include <QDir>

namespace {
QString& overrideFolder() {
    static QString folder;
    return folder;
}
QString& dataFolder() {
    static QString folder;
    return folder;
}

QString& runtimeOverride() {
    static QString folder;
    return folder;
}
} // namespace

namespace AppPaths {

QString executableFolder() {
    QString folder = !overrideFolder().isEmpty() ? overrideFolder()
                     : !dataFolder().isEmpty()   ? dataFolder()
                                                 : QCoreApplication::applicationDirPath();
    folder = QDir::cleanPath(folder);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

QString filePath(const QString& fileName) {
    return executableFolder() + fileName;
}

QString chooseDataFolder(const QString& explicitFolder, const QString& executableFolder,
                         const QString& userDataFolder, const std::function<bool(const QString&)>& writable) {
    if (!explicitFolder.isEmpty())
        return QDir::cleanPath(QDir(explicitFolder).absolutePath());
    // A program installed under /usr keeps no data beside itself, also when the superuser runs it.
    const QString folder = QDir::cleanPath(executableFolder);
    const bool systemFolder = folder == u"/usr" || folder.startsWith(u"/usr/");
    if (!systemFolder && writable(folder))
        return folder;
    return QDir::cleanPath(userDataFolder);
}

bool setDataFolder(const QString& folder) {
    if (!QDir().mkpath(folder))
        return false;
    dataFolder() = folder;
    return true;
}

void setExecutableFolderOverride(const QString& folder) {
    overrideFolder() = folder;
}

QString runtimeFile(const QString& fileName) {
    const QString folder =
        runtimeOverride().isEmpty() ? QCoreApplication::applicationDirPath() : runtimeOverride();
    return QDir(folder).filePath(fileName);
}

void setRuntimeFolderOverride(const QString& folder) {
    runtimeOverride() = folder;
}

} // namespace AppPaths
