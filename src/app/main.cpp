#include "AppPaths.h"
#include "Program.h"
#include "TenemarkApplication.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>
#include <malloc.h>

using namespace Qt::StringLiterals;

namespace {

// "--data DIR" or "--data=DIR" names the data folder; nothing else is read from the command line.
bool dataFolderArgument(const QStringList& args, QString* folder) {
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == u"--data") {
            if (i + 1 >= args.size())
                return false;
            *folder = args[i + 1];
        } else if (args[i].startsWith(u"--data=")) {
            *folder = args[i].mid(7);
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Photographs are read and decoded in blocks of megabytes: hand such blocks back to the system
    // once freed, so that the memory of a large item does not stay with the process.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    TenemarkApplication app(argc, argv);
    QString explicitFolder;
    if (!dataFolderArgument(QCoreApplication::arguments(), &explicitFolder)) {
        std::fputs("tenemark: --data needs a folder\n", stderr);
        return 2;
    }
    const QString folder = AppPaths::chooseDataFolder(
        explicitFolder, QCoreApplication::applicationDirPath(),
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation),
        [](const QString& dir) { return QFileInfo(dir).isWritable(); });
    if (!AppPaths::setDataFolder(folder)) {
        std::fprintf(stderr, "tenemark: cannot create the data folder %s\n", qPrintable(folder));
        return 1;
    }
    Program program;
    if (!program.start())
        return 1;
    return app.exec();
}
