#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Hands a document or a web address to an outside program and returns at once. The started
// program runs on its own; whether it starts or not is never reported and changes nothing here.
namespace ShellLaunch {

enum class Opener {
    Spreadsheet,   // LibreOffice Calc, importing the file as an HTML table
    WordProcessor, // LibreOffice Writer
    Default,       // the desktop's handler for the file or address
};

void openDocument(Opener opener, const QString& filePath);
void openAddress(const QString& address);

// The command that would start `opener` on `target` with the programs found on PATH now;
// an empty program when none is there.
struct Command {
    QString program;
    QStringList arguments;
};
Command command(Opener opener, const QString& target);

} // namespace ShellLaunch

// While recording, launches are kept in a list instead of being started, so that tests of the
// windows that call them never start a real program.
namespace ShellLaunchTestSeam {

struct Launch {
    ShellLaunch::Opener opener;
    QString target;
};

void setRecording(bool on);
const QList<Launch>& launches();
void clear();

} // namespace ShellLaunchTestSeam
