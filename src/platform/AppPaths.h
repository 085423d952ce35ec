#pragma once

#include <QString>

#include <functional>

// The program's files (the catalogue, the settings, the reports and the backups) live in its data
// folder: the executable's own folder, whatever the working directory is, unless the program was
// started with another one (see chooseDataFolder).
namespace AppPaths {

QString executableFolder();                // the data folder, with a trailing slash
QString filePath(const QString& fileName); // executableFolder() + fileName

// The data folder: `explicitFolder` when given (--data DIR); otherwise the executable's folder
// when it can be written and is not under /usr, as a portable copy has it; otherwise the user's
// data folder, as for a program installed from a package or where the user cannot write.
QString chooseDataFolder(const QString& explicitFolder, const QString& executableFolder,
                         const QString& userDataFolder, const std::function<bool(const QString&)>& writable);
// Sets the data folder for the run (creating it when missing); false when it cannot be made.
bool setDataFolder(const QString& folder);

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
