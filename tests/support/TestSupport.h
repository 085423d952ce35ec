#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <functional>

class QWidget;

// A fresh catalogue file in a temporary folder that stands in for the executable's folder;
// the shared connection is open on it for the object's lifetime.
class TempCatalogue {
public:
    explicit TempCatalogue(bool openConnection = true);
    ~TempCatalogue();

    QString folder() const; // with a trailing slash
    QString path(const QString& fileName) const;
    QString databasePath() const;

    // Runs a statement on the shared connection; fails the test on error.
    void exec(const QString& sql, const QVariantList& values = {});
    QVariant scalar(const QString& sql, const QVariantList& values = {});
    void addEntries(const QString& table, const QStringList& entries);
    // Inserts an item from column/value pairs; returns its id.
    int addItem(const QVariantMap& columns);

    void writeFile(const QString& fileName, const QByteArray& content);
    QByteArray readFile(const QString& fileName) const;

private:
    QTemporaryDir m_dir;
};

// Runs `action` on the next modal window that opens (polled from the event loop), so that a test
// can answer a dialog that exec() is about to block on.
void onNextModal(std::function<void(QWidget*)> action, int timeoutMs = 5000);
