#include "HtmlPage.h"

#include "AppError.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

// Whether a file about to be written at `path` may be removed when the writing fails: a plain
// file or none at all, never a device or a folder.
bool removableOnFailure(const QString& path) {
    const QFileInfo info(path);
    return !info.exists() || info.isFile();
}

QString cannotCreate(const QString& path, const QString& reason) {
    return u"Cannot create file \"%1\". %2"_s.arg(QDir::toNativeSeparators(path), reason);
}

} // namespace

ReportFile::ReportFile(const QString& path)
    : m_path(path), m_file(path), m_removable(removableOnFailure(path)) {
    // The pieces are large: no buffering of our own in between.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_removable = false; // nothing was made
        fail();
    }
}

ReportFile::~ReportFile() {
    // A failure on the way out leaves the helper nothing to hold on to.
    if (m_written.valid())
        m_written.wait();
    if (!m_closed && m_removable) {
        m_file.close();
        QFile::remove(m_path);
    }
}

void ReportFile::waitForWriting() {
    if (m_written.valid() && !m_written.get())
        fail();
}

void ReportFile::write(HtmlPage& page) {
    waitForWriting();
    // The page goes on with the buffer just written, so no piece allocates again.
    page.swapBuffer(m_writing);
    page.clear();
    if (m_writing.isEmpty())
        return;
    m_written = std::async(std::launch::async, [this] {
        return m_file.write(m_writing.constData(), m_writing.size()) == m_writing.size();
    });
}

void ReportFile::close() {
    waitForWriting();
    if (!m_file.flush())
        fail();
    m_file.close();
    m_closed = true;
}

void ReportFile::save(const QString& path, QByteArrayView bytes) {
    const bool removable = removableOnFailure(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw AppError(cannotCreate(path, file.errorString()));
    if (file.write(bytes.data(), bytes.size()) != bytes.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.close();
        if (removable)
            QFile::remove(path);
        throw AppError(cannotCreate(path, reason));
    }
}

void ReportFile::fail() const {
    throw AppError(cannotCreate(m_path, m_file.errorString()));
}
