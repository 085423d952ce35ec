#pragma once

#include <QFile>
#include <QString>

#include <utility>

// A catalogue file being written: removed again, with its journal, unless the command finishes
// and keeps it. An empty path names no file.
class NewFile {
public:
    explicit NewFile(QString path) : m_path(std::move(path)) {}
    ~NewFile() {
        if (m_path.isEmpty() || m_kept)
            return;
        QFile::remove(m_path);
        QFile::remove(m_path + QStringLiteral("-journal"));
    }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    void keep() { m_kept = true; }

private:
    QString m_path;
    bool m_kept = false;
};
