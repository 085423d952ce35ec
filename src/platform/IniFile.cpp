#include "IniFile.h"

#include "AppError.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <limits>
#include <string>

using Write = std::pair<QString, std::pair<QString, QString>>; // section, (key, value)

struct IniFile::Data {
    QByteArray original;            // the file's bytes as loaded
    QHash<QString, QString> values; // lower-cased "section\nkey" -> its first value in the file
    QList<Write> writes;            // in the order they were made
    QHash<QString, QString> made;   // lower-cased "section\nkey" -> value written since loading
};

namespace {

QString writtenKey(const QString& section, const QString& key) {
    return section.toLower() + u'\n' + key.toLower();
}

// A UTF-8 byte-order mark before the first line stays where it is and is no part of that line.
constexpr QByteArrayView ByteOrderMark("\xEF\xBB\xBF");

qsizetype textStart(const QByteArray& text) {
    return text.startsWith(ByteOrderMark) ? ByteOrderMark.size() : 0;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// One line of the file: [begin, end) without its line end, which runs to `next`.
struct Line {
    qsizetype begin;
    qsizetype end;
    qsizetype next;
};

// Every byte but the line end belongs to its line, NUL too.
QList<Line> splitLines(const QByteArray& text) {
    QList<Line> lines;
    qsizetype pos = textStart(text);
    while (pos < text.size()) {
        qsizetype nl = text.indexOf('\n', pos);
        const qsizetype next = nl < 0 ? text.size() : nl + 1;
        qsizetype end = nl < 0 ? text.size() : nl;
        if (end > pos && text[end - 1] == '\r')
            --end;
        lines.append({pos, end, next});
        pos = next;
    }
    return lines;
}

QByteArrayView trimmed(QByteArrayView v) {
    while (!v.isEmpty() && isBlank(v.front()))
        v = v.sliced(1);
    while (!v.isEmpty() && isBlank(v.back()))
        v.chop(1);
    return v;
}

bool sameName(QByteArrayView a, const QString& b) {
    return QString::fromUtf8(a).compare(b, Qt::CaseInsensitive) == 0;
}

// The section name of a header line, or a null view.
QByteArrayView sectionOf(QByteArrayView line) {
    const QByteArrayView t = trimmed(line);
    if (t.size() < 2 || t.front() != '[')
        return {};
    const qsizetype close = t.indexOf(']');
    if (close < 0)
        return {};
    return trimmed(t.sliced(1, close - 1));
}

bool isComment(QByteArrayView line) {
    const QByteArrayView t = trimmed(line);
    return !t.isEmpty() && (t.front() == ';' || t.front() == '#');
}

// Position of '=' in a key line, or -1.
qsizetype equalsOf(QByteArrayView line) {
    if (isComment(line) || !sectionOf(line).isNull())
        return -1;
    return line.indexOf('=');
}

QByteArray lineEndOf(const QByteArray& text) {
    const qsizetype nl = text.indexOf('\n');
    if (nl < 0)
        return "\r\n";
    return nl > 0 && text[nl - 1] == '\r' ? QByteArray("\r\n") : QByteArray("\n");
}

void applyWrite(QByteArray& text, const QString& section, const QString& key, const QByteArray& value) {
    const QByteArray eol = lineEndOf(text);
    const QList<Line> lines = splitLines(text);
    qsizetype firstSection = -1; // index of the first header of the section
    qsizetype lastContent = -1;  // last non-blank line of that first section
    bool inSection = false;
    bool inFirst = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArrayView line(text.constData() + lines[i].begin, lines[i].end - lines[i].begin);
        const QByteArrayView name = sectionOf(line);
        if (!name.isNull()) {
            inSection = sameName(name, section);
            inFirst = inSection && firstSection < 0;
            if (inFirst) {
                firstSection = i;
                lastContent = i;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (inFirst && !trimmed(line).isEmpty())
            lastContent = i;
        const qsizetype eq = equalsOf(line);
        if (eq < 0 || !sameName(trimmed(line.first(eq)), key))
            continue;
        // Replace the value only: the spacing around '=' and after the value stays.
        qsizetype from = eq + 1;
        while (from < line.size() && isBlank(line[from]))
            ++from;
        qsizetype to = line.size();
        while (to > from && isBlank(line[to - 1]))
            --to;
        text.replace(lines[i].begin + from, to - from, value);
        return;
    }
    const QByteArray newLine = key.toUtf8() + '=' + value + eol;
    if (firstSection >= 0) {
        const Line& after = lines[lastContent];
        qsizetype at = after.next;
        QByteArray insert = newLine;
        if (after.next == after.end) // the last line of the file has no line end
            insert.prepend(eol);
        text.insert(at, insert);
        return;
    }
    if (text.size() > textStart(text) && !text.endsWith('\n'))
        text += eol;
    text += '[' + section.toUtf8() + ']' + eol + newLine;
}

// The first value of every key, by writtenKey(); keys before any section belong to "".
QHash<QString, QString> readValues(const QByteArray& text) {
    QHash<QString, QString> values;
    QString section;
    for (const Line& l : splitLines(text)) {
        const QByteArrayView line(text.constData() + l.begin, l.end - l.begin);
        const QByteArrayView name = sectionOf(line);
        if (!name.isNull()) {
            section = QString::fromUtf8(name);
            continue;
        }
        const qsizetype eq = equalsOf(line);
        const QByteArrayView key = eq < 0 ? QByteArrayView() : trimmed(line.first(eq));
        if (key.isEmpty())
            continue;
        const QString k = writtenKey(section, QString::fromUtf8(key));
        if (!values.contains(k))
            values.insert(k, QString::fromUtf8(trimmed(line.sliced(eq + 1))));
    }
    return values;
}

} // namespace

bool parseIniInteger(const QString& text, int* value) {
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    if (i == t.size())
        return false;
    qint64 result = 0;
    for (; i < t.size(); ++i) {
        const char16_t c = t[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        result = result * 10 + (c - u'0');
        if (result > qint64(std::numeric_limits<int>::max()) + 1)
            return false;
    }
    if (negative)
        result = -result;
    if (result > std::numeric_limits<int>::max() || result < std::numeric_limits<int>::min())
        return false;
    *value = int(result);
    return true;
}

IniFile::IniFile(QString path) : m_path(std::move(path)), m_data(std::make_unique<Data>()) {
    // An unreadable file reads as no keys at all.
    QFile file(m_path);
    if (file.open(QIODevice::ReadOnly)) {
        m_data->original = file.readAll();
        m_data->values = readValues(m_data->original);
    }
}

IniFile::~IniFile() = default;

bool IniFile::fileExists() const {
    return QFileInfo::exists(m_path);
}

QString IniFile::readString(const QString& section, const QString& key, const QString& defaultValue) const {
    const QString k = writtenKey(section, key);
    const auto made = m_data->made.constFind(k);
    if (made != m_data->made.constEnd())
        return *made;
    return m_data->values.value(k, defaultValue);
}

bool IniFile::hasKey(const QString& section, const QString& key) const {
    const QString k = writtenKey(section, key);
    return m_data->made.contains(k) || m_data->values.contains(k);
}

int IniFile::readInteger(const QString& section, const QString& key, int defaultValue) const {
    int value = 0;
    if (hasKey(section, key) && parseIniInteger(readString(section, key, QString()), &value))
        return value;
    return defaultValue;
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value) {
    m_data->writes.append({section, {key, value}});
    m_data->made.insert(writtenKey(section, key), value);
}

void IniFile::writeInteger(const QString& section, const QString& key, int value) {
    writeString(section, key, QString::number(value));
}

void IniFile::save() const {
    QByteArray data = m_data->original;
    for (const Write& w : m_data->writes)
        applyWrite(data, w.first, w.second.first, w.second.second.toUtf8());
    QSaveFile file(m_path);
    // Unbuffered, so that a failed write is seen here and not lost in a late flush: commit()
    // would otherwise put a cut-off file in place of the old one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw AppError(QStringLiteral("Не удалось записать файл %1: %2").arg(m_path, file.errorString()));
    if (file.write(data) != qint64(data.size())) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw AppError(QStringLiteral("Не удалось записать файл %1: %2").arg(m_path, reason));
    }
    if (!file.commit())
        throw AppError(QStringLiteral("Не удалось записать файл %1: %2").arg(m_path, file.errorString()));
}
