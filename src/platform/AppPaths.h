#pragma once

#include <QString>

// Files of the program live beside the executable, whatever the working directory is.
namespace AppPaths {

QString executableFolder();                // with a trailing slash
QString filePath(const QString& fileName); // executableFolder() + fileName

// Tests run the program's code against a folder of their own.
void setExecutableFolderOverride(const QString& folder);

// Helper programs and libraries that the program loads at run time (picture helpers, the scanner
// manager) sit beside the real executable; the data-folder override above does not move them.
QString runtimeFile(const QString& fileName);
// Tests whose executable lives elsewhere point this at the folder that holds them.
void setRuntimeFolderOverride(const QString& folder);

inline constexpr auto DatabaseFile = u"db.MyDB";
inline constexpr auto SettingsFile = u"kvarta.ini";
inline constexpr auto LayoutFile = u"fields.ini";
inline constexpr auto ApplicationTitle = u"Tenemark 1.0";

} // namespace AppPaths
