#include "JetConversion.h"

#include "AppError.h"
#include "AppPaths.h"
#include "Dialogs.h"
#include "JetFile.h"
#include "JetImport.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace JetConversion {

namespace {

constexpr int ShownNotes = 15;

// The new names stay after a power loss: the folder's entry is written to the disk.
void syncFolder(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

struct Outcome {
    std::optional<JetImportReport> report;
    QString failure;
    bool cancelled = false;
};

// Runs the conversion on a thread of its own while the progress window, shown once it lasts
// half a second, keeps painting and offers Cancel.
Outcome convert(QWidget* parent, const QString& from, const QString& to) {
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{0};
    std::atomic<bool> cancel{false};
    Outcome outcome;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        JetImport conversion(from, to);
        conversion.setProgress([&](qint64 rows, qint64 all) {
            done = rows;
            total = all;
        });
        conversion.setCancelCheck([&] { return cancel.load(); });
        try {
            outcome.report = conversion.run();
        } catch (const JetImport::Cancelled&) {
            outcome.cancelled = true;
        } catch (const AppError& e) {
            outcome.failure = e.text();
        } catch (const std::exception& e) {
            outcome.failure = QString::fromLocal8Bit(e.what());
        }
    }));
    QProgressDialog progress(u"Преобразование базы данных из формата Jet…"_s, u"Cancel"_s, 0, 1000, parent);
    progress.setObjectName(u"JetConversionProgress"_s);
    progress.setAccessibleName(u"Преобразование базы данных"_s);
    progress.setWindowTitle(QString::fromUtf16(AppPaths::ApplicationTitle));
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    progress.setMinimumDuration(500);
    QObject::connect(&progress, &QProgressDialog::canceled, [&] { cancel = true; });
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 all = total;
        if (all > 0 && !cancel)
            progress.setValue(int(done * 1000 / all));
    });
    QEventLoop loop;
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    tick.start(50);
    loop.exec();
    worker->wait();
    // Cancel pressed while the last rows were committed: the new file goes.
    if (cancel && outcome.report) {
        outcome.report.reset();
        outcome.cancelled = QFile::remove(to);
        if (!outcome.cancelled)
            outcome.failure = u"Не удалось удалить файл %1"_s.arg(QDir::toNativeSeparators(to));
    }
    return outcome;
}

} // namespace

bool isJetFile(const QString& databasePath) {
    return JetFile::hasSignature(databasePath);
}

bool offer(QWidget* parent, const QString& databasePath) {
    const Dialogs::Answer answer = Dialogs::askConfirmation(
        parent, u"Файл базы данных записан в формате Jet (Microsoft Access). Преобразовать его в формат этой "
                u"программы? Исходный файл сохранится как db.MyDB.jet."_s);
    if (answer != Dialogs::Answer::Yes)
        return false;
    const QString kept = databasePath + u".jet"_s;
    const QString converted = databasePath + u".converting"_s;
    if (QFileInfo::exists(kept))
        throw AppError(u"Файл %1 уже существует, и исходный файл нельзя сохранить под этим именем; "
                       u"база данных не преобразована"_s.arg(QDir::toNativeSeparators(kept)));
    // Left by a conversion that did not finish.
    QFile::remove(converted);
    QFile::remove(converted + u"-journal"_s);
    const Outcome outcome = convert(parent, databasePath, converted);
    if (outcome.cancelled)
        return false;
    if (!outcome.report)
        throw AppError(outcome.failure);
    if (!QFile::rename(databasePath, kept)) {
        QFile::remove(converted);
        throw AppError(u"Не удалось переименовать %1 в %2; база данных не преобразована"_s.arg(
            QDir::toNativeSeparators(databasePath), QDir::toNativeSeparators(kept)));
    }
    if (!QFile::rename(converted, databasePath)) {
        QFile::rename(kept, databasePath);
        QFile::remove(converted);
        throw AppError(
            u"Не удалось записать преобразованную базу данных как %1; исходный файл оставлен на месте"_s.arg(
                QDir::toNativeSeparators(databasePath)));
    }
    syncFolder(databasePath);
    const QStringList& notes = outcome.report->notes;
    if (!notes.isEmpty()) {
        QString text =
            u"База данных преобразована, но не всё сохранено так, как было (%1):\n"_s.arg(notes.size()) +
            notes.mid(0, ShownNotes).join(u'\n');
        if (notes.size() > ShownNotes)
            text += u"\n…"_s;
        Dialogs::showInformation(parent, text);
    }
    return true;
}

} // namespace JetConversion
