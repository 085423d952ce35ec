#include "ShellLaunch.h"

#include <QProcess>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace {

bool& recording() {
    static bool on = false;
    return on;
}

QList<ShellLaunchTestSeam::Launch>& recorded() {
    static QList<ShellLaunchTestSeam::Launch> list;
    return list;
}

QString findOffice() {
    for (const QString& name : {u"soffice"_s, u"libreoffice"_s}) {
        const QString path = QStandardPaths::findExecutable(name);
        if (!path.isEmpty())
            return path;
    }
    return QString();
}

void start(ShellLaunch::Opener opener, const QString& target) {
    if (recording()) {
        recorded().append({opener, target});
        return;
    }
    const ShellLaunch::Command c = ShellLaunch::command(opener, target);
    if (c.program.isEmpty())
        return;
    // Detached: the program outlives this call and nobody waits for it. A failed start is
    // deliberately ignored.
    QProcess process;
    process.setProgram(c.program);
    process.setArguments(c.arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    (void)process.startDetached();
}

} // namespace

namespace ShellLaunch {

Command command(Opener opener, const QString& target) {
    if (opener != Opener::Default) {
        const QString office = findOffice();
        if (!office.isEmpty()) {
            // The import filter decides the module: Calc reads the page as a table.
            const QString filter =
                opener == Opener::Spreadsheet ? u"HTML (StarCalc)"_s : u"HTML (StarWriter)"_s;
            return {office, {u"--infilter="_s + filter, target}};
        }
    }
    const QString desktopOpen = QStandardPaths::findExecutable(u"xdg-open"_s);
    if (desktopOpen.isEmpty())
        return {};
    return {desktopOpen, {target}};
}

void openDocument(Opener opener, const QString& filePath) {
    start(opener, filePath);
}

void openAddress(const QString& address) {
    start(Opener::Default, address);
}

} // namespace ShellLaunch

namespace ShellLaunchTestSeam {

void setRecording(bool on) {
    recording() = on;
}

const QList<Launch>& launches() {
    return recorded();
}

void clear() {
    recorded().clear();
}

} // namespace ShellLaunchTestSeam
