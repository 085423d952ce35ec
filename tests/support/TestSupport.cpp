#include "TestSupport.h"

#include "AppError.h"
#include "AppPaths.h"
#include "Database.h"
#include "Dialogs.h"
#include "IniFile.h"
#include "TestServer.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>
#include <QWidget>

using namespace Qt::StringLiterals;

QString failureText(const std::function<void()>& action) {
    try {
        action();
    } catch (const AppError& e) {
        return e.text();
    }
    return u"(no failure)"_s;
}

bool TestStore::isServer() {
    return qEnvironmentVariable("TENEMARK_TEST_STORE") == u"server";
}

TempCatalogue::TempCatalogue(bool openConnection) {
    if (!m_dir.isValid())
        qFatal("cannot create a temporary folder");
    AppPaths::setExecutableFolderOverride(m_dir.path());
    if (!TestStore::isServer()) {
        Database::createSchema(databasePath());
        if (openConnection)
            Database::open(databasePath());
        return;
    }
    TestServer* server = TestServer::instance();
    if (!server)
        qFatal("no test server: %s", qPrintable(TestServer::unavailableReason()));
    m_settings = server->createCatalogue();
    if (openConnection)
        Database::openServer(m_settings);
}

TempCatalogue::~TempCatalogue() {
    Database::close();
    AppPaths::setExecutableFolderOverride(QString());
}

void TempCatalogue::reopen() {
    Database::close();
    if (m_settings.isServer())
        Database::openServer(m_settings);
    else
        Database::open(databasePath());
}

QString TempCatalogue::folder() const {
    return m_dir.path() + u'/';
}

QString TempCatalogue::path(const QString& fileName) const {
    return folder() + fileName;
}

QString TempCatalogue::databasePath() const {
    return path(u"db.MyDB"_s);
}

void TempCatalogue::writeDatabaseSection() {
    if (!m_settings.isServer())
        return;
    const QString service = u"tenemark_test"_s;
    QString text = u"[%1]\nhost=%2\nport=%3\ndbname=%4\nuser=%5\n"_s.arg(service, m_settings.host)
                       .arg(m_settings.port)
                       .arg(m_settings.name, m_settings.user);
    if (!m_settings.serverOptions.isEmpty())
        text += u"options=%1\n"_s.arg(m_settings.serverOptions);
    writeFile(u"pg_service.conf"_s, text.toUtf8());
    qputenv("PGSERVICEFILE", QFile::encodeName(path(u"pg_service.conf"_s)));
    StoreSettings named;
    named.driver = StoreSettings::Driver::Server;
    named.service = service;
    IniFile ini(path(QString::fromUtf16(AppPaths::SettingsFile)));
    named.write(ini);
    ini.save();
}

static QSqlQuery run(const QString& sql, const QVariantList& values) {
    QSqlQuery q(Database::connection());
    // Unprepared when there is nothing to bind: the server prepares no schema statement.
    if (values.isEmpty()) {
        if (!q.exec(sql))
            qFatal("exec failed: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        return q;
    }
    if (!q.prepare(sql))
        qFatal("prepare failed: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec())
        qFatal("exec failed: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    return q;
}

void TempCatalogue::exec(const QString& sql, const QVariantList& values) {
    run(sql, values);
}

QVariant TempCatalogue::scalar(const QString& sql, const QVariantList& values) {
    QSqlQuery q = run(sql, values);
    return q.next() ? q.value(0) : QVariant();
}

void TempCatalogue::addEntries(const QString& table, const QStringList& entries) {
    for (const QString& e : entries)
        exec(u"insert into %1 (naimen) values (?)"_s.arg(table), {e});
}

int TempCatalogue::addItem(const QVariantMap& columns) {
    QStringList names, marks;
    QVariantList values;
    for (auto it = columns.begin(); it != columns.end(); ++it) {
        names << it.key();
        marks << u"?"_s;
        values << it.value();
    }
    if (names.isEmpty())
        exec(u"insert into items default values"_s);
    else
        exec(u"insert into items (%1) values (%2)"_s.arg(names.join(u", "_s), marks.join(u", "_s)), values);
    return scalar(u"select max(id) from items"_s).toInt();
}

void TempCatalogue::writeFile(const QString& fileName, const QByteArray& content) {
    QFile f(path(fileName));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(fileName));
    f.write(content);
}

QByteArray TempCatalogue::readFile(const QString& fileName) const {
    QFile f(path(fileName));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

namespace {

// Modal windows that a test announced with onNextModal() and that have not opened yet.
int& expectedModals() {
    static int count = 0;
    return count;
}

// Modal windows whose onNextModal() action is running now.
QList<QPointer<QWidget>>& handledModals() {
    static QList<QPointer<QWidget>> list;
    return list;
}

QString describe(QWidget* modal) {
    QString text = modal->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        text += u": "_s + box->text().remove(QChar(0x200B));
    else
        text += u" ("_s + modal->objectName() + u')';
    return text;
}

// A modal window that no test expects would block the test until its time limit. The watchdog
// closes it after a short grace period and fails the running test with the window's text.
void startModalWatchdog() {
    DialogsTestSeam::refuseEmptyTexts(true);
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    auto* timer = new QTimer(qApp);
    auto seen = std::make_shared<QPointer<QWidget>>();
    auto since = std::make_shared<QElapsedTimer>();
    timer->setInterval(50);
    QObject::connect(timer, &QTimer::timeout, timer, [seen, since] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || expectedModals() > 0 || handledModals().contains(modal)) {
            *seen = nullptr;
            return;
        }
        if (*seen != modal) {
            *seen = modal;
            since->start();
            return;
        }
        if (since->elapsed() < 500)
            return;
        const QByteArray message = (u"unexpected modal window: "_s + describe(modal)).toUtf8();
        *seen = nullptr;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        QTest::qFail(message.constData(), __FILE__, __LINE__);
    });
    timer->start();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startModalWatchdog)

namespace {

// Runs `action` on the first modal window that `wanted` takes, polled from the event loop. A window
// kept handled stays out of the watchdog's sight as long as it lives.
void onModal(const std::function<bool(QWidget*)>& wanted, std::function<void(QWidget*)> action, int timeoutMs,
             bool keepHandled) {
    auto* timer = new QTimer(qApp);
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    timer->setInterval(10);
    ++expectedModals();
    QObject::connect(timer, &QTimer::timeout, timer,
                     [timer, elapsed, wanted, action, timeoutMs, keepHandled] {
                         QWidget* modal = QApplication::activeModalWidget();
                         if (modal && modal->isVisible() && wanted(modal)) {
                             timer->stop();
                             timer->deleteLater();
                             --expectedModals();
                             handledModals().append(modal);
                             action(modal);
                             if (!keepHandled)
                                 handledModals().removeAll(modal);
                             handledModals().removeAll(nullptr);
                         } else if (elapsed->elapsed() > timeoutMs) {
                             timer->stop();
                             timer->deleteLater();
                             --expectedModals();
                             QTest::qFail("the expected modal window did not appear", __FILE__, __LINE__);
                         }
                     });
    timer->start();
}

} // namespace

void onNextModal(std::function<void(QWidget*)> action, int timeoutMs) {
    onModal([](QWidget*) { return true; }, std::move(action), timeoutMs, false);
}

void onModalNamed(const QString& objectName, std::function<void(QWidget*)> action, int timeoutMs) {
    onModal([objectName](QWidget* w) { return w->objectName() == objectName; }, std::move(action), timeoutMs,
            true);
}

void pressInActiveWindow(QWidget* window, Qt::Key key) {
    QVERIFY(QTest::qWaitForWindowActive(window));
    QWidget* focused = QApplication::focusWidget();
    QTest::keyClick(focused ? focused : window, key);
}
