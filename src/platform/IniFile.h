#pragma once

#include <QString>
#include <memory>

// An INI file with Windows semantics: section and key names ignore letter case, a key that appears
// twice is read from its first occurrence, and a missing or malformed integer reads as the default.
// Saving changes only the values of the keys written through this object; every other byte of the
// file stays as it was. A new file is written with CR LF line ends. A UTF-8 byte-order mark at the
// start is read past and kept; a NUL byte is an ordinary character of its line.
class IniFile {
public:
    explicit IniFile(QString path);
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    const QString& path() const { return m_path; }
    bool fileExists() const;

    int readInteger(const QString& section, const QString& key, int defaultValue) const;
    QString readString(const QString& section, const QString& key, const QString& defaultValue) const;
    bool hasKey(const QString& section, const QString& key) const;

    void writeInteger(const QString& section, const QString& key, int value);
    void writeString(const QString& section, const QString& key, const QString& value);

    // Writes the file atomically; throws AppError with the system's reason on failure.
    void save() const;

private:
    QString m_path;
    struct Data;
    std::unique_ptr<Data> m_data;
};

// Decimal whole number with optional blanks before and after and an optional sign, in 32-bit range.
bool parseIniInteger(const QString& text, int* value);
