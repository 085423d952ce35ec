#include "IniFile.h"

#include "AppError.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#define SI_NO_CONVERSION
#include <SimpleIni.h>

#include <limits>
#include <string>

struct IniFile::Data {
    CSimpleIniA ini;
};

namespace {
QByteArray bytes(const QString& s) {
    return s.toUtf8();
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
    m_data->ini.SetUnicode(false);
    m_data->ini.SetMultiKey(false);
    m_data->ini.SetMultiLine(false);
    m_data->ini.SetSpaces(false); // "Key=Value", as the system's own INI functions write
    QFile file(m_path);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray data = file.readAll();
        // Unreadable content simply reads as no keys at all.
        if (m_data->ini.LoadData(data.constData(), size_t(data.size())) < 0)
            m_data->ini.Reset();
    }
}

IniFile::~IniFile() = default;

bool IniFile::fileExists() const {
    return QFileInfo::exists(m_path);
}

QString IniFile::readString(const QString& section, const QString& key, const QString& defaultValue) const {
    const char* v = m_data->ini.GetValue(bytes(section).constData(), bytes(key).constData(), nullptr);
    return v ? QString::fromUtf8(v) : defaultValue;
}

bool IniFile::hasKey(const QString& section, const QString& key) const {
    return m_data->ini.GetValue(bytes(section).constData(), bytes(key).constData(), nullptr) != nullptr;
}

int IniFile::readInteger(const QString& section, const QString& key, int defaultValue) const {
    const char* v = m_data->ini.GetValue(bytes(section).constData(), bytes(key).constData(), nullptr);
    int value = 0;
    if (v && parseIniInteger(QString::fromUtf8(v), &value))
        return value;
    return defaultValue;
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value) {
    m_data->ini.SetValue(bytes(section).constData(), bytes(key).constData(), bytes(value).constData());
}

void IniFile::writeInteger(const QString& section, const QString& key, int value) {
    writeString(section, key, QString::number(value));
}

void IniFile::save() const {
    std::string data;
    if (m_data->ini.Save(data) < 0)
        throw AppError(QStringLiteral("Не удалось подготовить файл %1.").arg(m_path));
    QSaveFile file(m_path);
    // Unbuffered, so that a failed write is seen here and not lost in a late flush: commit()
    // would otherwise put a cut-off file in place of the old one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw AppError(QStringLiteral("Не удалось записать файл %1: %2").arg(m_path, file.errorString()));
    if (file.write(data.data(), qint64(data.size())) != qint64(data.size())) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw AppError(QStringLiteral("Не удалось записать файл %1: %2").arg(m_path, reason));
    }
    if (!file.commit())
        throw AppError(QStringLiteral("Не удалось записать файл %1: %2").arg(m_path, file.errorString()));
}
