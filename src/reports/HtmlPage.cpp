#include "HtmlPage.h"

#include "AppError.h"

#include <QDir>

using namespace Qt::StringLiterals;

ReportFile::ReportFile(const QString& path) : m_path(path), m_file(path) {
    // The pieces are large: no buffering of our own in between.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        fail();
}

ReportFile::~ReportFile() {
    // A failure on the way out leaves the helper nothing to hold on to.
    if (m_written.valid())
        m_written.wait();
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
}

void ReportFile::save(const QString& path, QByteArrayView bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes.data(), bytes.size()) != bytes.size() || !file.flush())
        throw AppError(
            u"Cannot create file \"%1\". %2"_s.arg(QDir::toNativeSeparators(path), file.errorString()));
}

void ReportFile::fail() const {
    throw AppError(
        u"Cannot create file \"%1\". %2"_s.arg(QDir::toNativeSeparators(m_path), m_file.errorString()));
}
