#include "AppPaths.h"

#include <QCoreApplication>
#include <QDir>

namespace {
QString& overrideFolder() {
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
    QString folder = overrideFolder().isEmpty() ? QCoreApplication::applicationDirPath() : overrideFolder();
    folder = QDir::cleanPath(folder);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

QString filePath(const QString& fileName) {
    return executableFolder() + fileName;
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
