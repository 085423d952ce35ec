#pragma once

#include "Windows1251.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringView>
#include <future>

// A report page being written: windows-1251 text, every line ended by CR LF. The page's own
// markup goes in as given; values are escaped, so no value can add markup to the page.
class HtmlPage {
public:
    HtmlPage() = default;

    HtmlPage& markup(QStringView text) {
        Windows1251::appendHtml(m_bytes, text, Windows1251::Html::Markup);
        return *this;
    }
    HtmlPage& text(QStringView value) {
        Windows1251::appendHtml(m_bytes, value, Windows1251::Html::Text);
        return *this;
    }
    // The page's first line, up to the heading: the title goes in as references, since LibreOffice
    // Writer drops the whole page when the title holds bytes above 127. `headMarkup` goes at the
    // end of the head.
    HtmlPage& head(QStringView title, QStringView headMarkup = {}) {
        markup(u"<HTML><HEAD><Title>");
        Windows1251::appendHtml(m_bytes, title, Windows1251::Html::AsciiText);
        return markup(
                   u"</Title><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">")
            .markup(headMarkup)
            .markup(u"</Head><Body><H3 align=center>")
            .endLine();
    }
    HtmlPage& attribute(QStringView value) {
        Windows1251::appendHtml(m_bytes, value, Windows1251::Html::Attribute);
        return *this;
    }
    HtmlPage& endLine() {
        m_bytes.append("\r\n", 2);
        return *this;
    }
    HtmlPage& line(QStringView markupLine) { return markup(markupLine).endLine(); }

    // Direct writing for the long loops: room for at most `maxBytes` at the end of the page, then
    // endAppend() with the end of what was written there.
    char* beginAppend(qsizetype maxBytes) {
        const qsizetype start = m_bytes.size();
        if (m_bytes.capacity() < start + maxBytes)
            m_bytes.reserve(qMax(m_bytes.capacity() * 2, start + maxBytes));
        m_bytes.resize(start + maxBytes);
        return m_bytes.data() + start;
    }
    void endAppend(const char* end) { m_bytes.resize(end - m_bytes.constData()); }

    const QByteArray& bytes() const { return m_bytes; }
    qsizetype size() const { return m_bytes.size(); }
    void clear() { m_bytes.resize(0); } // keeps the buffer for the next piece
    void reserve(qsizetype size) { m_bytes.reserve(size); }
    // Exchanges the page's buffer with `other`, which must hold nothing the page needs.
    void swapBuffer(QByteArray& other) { m_bytes.swap(other); }

private:
    QByteArray m_bytes;
};

// A new report file. Every failure throws AppError with "Cannot create file "<path>". <reason>".
// The pieces of a page are written by a helper thread while the next piece is being made; the
// file is complete when close() returns. A file that was not closed is removed again, so a failed
// report leaves nothing behind (a device or other special file in its place is left alone).
class ReportFile {
public:
    explicit ReportFile(const QString& path); // creates the file, replacing one of that name
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    // Hands what the page holds to the file and leaves the page empty.
    void write(HtmlPage& page);
    // Waits for everything to be written and closes the file.
    void close();

    const QString& path() const { return m_path; }

    // Writes `bytes` as the whole content of a new file at `path`; a failure leaves no file there.
    static void save(const QString& path, QByteArrayView bytes);

private:
    void waitForWriting();
    [[noreturn]] void fail() const;

    QString m_path;
    QFile m_file;
    bool m_removable = false; // a failure removes the file: it is a plain file this object made
    bool m_closed = false;
    QByteArray m_writing;        // the piece being written
    std::future<bool> m_written; // true when that piece is in the file
};
