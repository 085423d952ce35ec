#include "AppPaths.h"
#include "Database.h"
#include "Dialogs.h"
#include "IniFile.h"
#include "ItemListModel.h"
#include "Program.h"
#include "TDirectoryForm.h"
#include "TMainForm.h"
#include "TestServer.h"
#include "TestSupport.h"
#include "IniFile.h"
#include "StoreSettings.h"

#include <QComboBox>
#include <QHeaderView>
#include <QTableView>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A port on 127.0.0.1 that nothing listens on: the one a socket had until it closed.
int closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

void writeServerSettings(TempCatalogue& cat, const StoreSettings& settings) {
    IniFile ini(cat.folder() + u"/kvarta.ini"_s);
    settings.write(ini);
    ini.save();
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { DialogsTestSeam::clear(); }

    void missingDatabaseEndsWithTheMessage() {
        TempCatalogue cat(false);
        QVERIFY(QFile::remove(cat.databasePath()));
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        Program program;
        QVERIFY(!program.start());
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Error);
        QCOMPARE(DialogsTestSeam::last().title, u"Error"_s);
        QCOMPARE(DialogsTestSeam::last().text, u"Не найден файл базы данных."_s);
        QVERIFY(!program.mainForm()->isVisible());
        QVERIFY(!program.tableViewForm());
        QVERIFY(!Database::isOpen());
    }

    void serverThatCannotBeReachedEndsWithItsText() {
        // A port that nothing listens on: the one a listener had until it closed.
        TempCatalogue cat(false);
        const int port = closedPort();
        QVERIFY(port > 0);
        cat.writeFile(u"kvarta.ini"_s, u"[Database]\r\nDriver=QPSQL\r\nHost=127.0.0.1\r\nPort=%1\r\n"
                                      u"Name=agency\r\nUser=agent\r\n"_s.arg(port).toUtf8());
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        Program program;
        QVERIFY(!program.start());
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
        const auto shown = DialogsTestSeam::last();
        QCOMPARE(shown.kind, Dialogs::Kind::Error);
        const QString head = u"Не удалось подключиться к серверу базы данных agent@127.0.0.1:%1/agency: "_s.arg(port);
        QVERIFY2(shown.text.startsWith(head), qPrintable(shown.text));
        QVERIFY2(shown.text.contains(u"Connection refused"_s), qPrintable(shown.text));
        QVERIFY(!program.mainForm()->isVisible());
        QVERIFY(!Database::isOpen());
    }

    void unknownDriverEndsWithTheMessage() {
        TempCatalogue cat(false);
        cat.writeFile(u"kvarta.ini"_s, "[Database]\r\nDriver=QODBC\r\n");
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        Program program;
        QVERIFY(!program.start());
        QCOMPARE(DialogsTestSeam::last().text,
                 u"Неизвестный драйвер базы данных «QODBC» в разделе [Database] файла kvarta.ini: "
                 u"допустимы QSQLITE и QPSQL"_s);
        QVERIFY(!Database::isOpen());
    }

    void fileDriverNamedExplicitlyOpensTheFile() {
        TempCatalogue cat(false);
        cat.writeFile(u"kvarta.ini"_s, "[Database]\r\nDriver=QSQLITE\r\n");
        Program program;
        QVERIFY(program.start());
        QVERIFY(Database::isOpen());
        QVERIFY(!Database::isServer());
        QCOMPARE(Database::connection().databaseName(), cat.databasePath());
        QCOMPARE(DialogsTestSeam::shown().size(), 0);
    }

    void serverPasswordIsAskedWhenTheServerWantsOne() {
        TestServer* server = TestServer::instance();
        if (!server)
            QSKIP(qPrintable(TestServer::unavailableReason()));
        StoreSettings settings = server->settings();
        settings.user = QString::fromUtf16(TestServer::PasswordUser);
        TempCatalogue cat(false);
        writeServerSettings(cat, settings);

        // A wrong password is asked again, twice; the third ends the program with the server's
        // refusal.
        for (int i = 0; i < 3; ++i)
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok, u"не тот"_s);
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        {
            Program program;
            QVERIFY(!program.start());
        }
        const QString prompt = u"Пароль пользователя tenemark_pw для сервера %1:"_s.arg(settings.describe());
        QCOMPARE(DialogsTestSeam::shown().size(), 4);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(DialogsTestSeam::shown().at(i).kind, Dialogs::Kind::Prompt);
            QCOMPARE(DialogsTestSeam::shown().at(i).text,
                     i == 0 ? prompt : u"Сервер не принял пароль. "_s + prompt);
        }
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Error);
        QVERIFY2(DialogsTestSeam::last().text.contains(u"password authentication failed"_s),
                 qPrintable(DialogsTestSeam::last().text));
        QVERIFY(!Database::isOpen());

        // Cancelling the prompt ends it without another box.
        DialogsTestSeam::clear();
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Cancel);
        {
            Program program;
            QVERIFY(!program.start());
        }
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
        QVERIFY(!Database::isOpen());

        // The right one, at the second try, opens the server's catalogue.
        StoreSettings catalogue = server->createCatalogue();
        catalogue.user = settings.user;
        writeServerSettings(cat, catalogue);
        // The catalogue's schema reaches the program through libpq's environment, as kvarta.ini
        // has no key for it.
        qputenv("PGOPTIONS", catalogue.serverOptions.toUtf8());
        const auto unset = qScopeGuard([] { qunsetenv("PGOPTIONS"); });
        DialogsTestSeam::clear();
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok, u"не тот"_s);
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok, QString::fromUtf16(TestServer::PasswordUserPassword));
        Program program;
        QVERIFY(program.start());
        QCOMPARE(DialogsTestSeam::shown().size(), 2);
        QVERIFY(Database::isServer());
        QCOMPARE(program.mainForm()->findChild<QTableView*>(u"ItemsLV"_s)->model()->rowCount(), 0);
    }

    void workingFolderIsNotWhereFilesAreLooked() {
        // A catalogue in the working folder, none beside the executable.
        TempCatalogue cat(false);
        AppPaths::setExecutableFolderOverride(QString());
        QVERIFY(!QFile::exists(QCoreApplication::applicationDirPath() + u"/db.MyDB"_s));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(cat.folder()));
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        Program program;
        const bool started = program.start();
        QDir::setCurrent(before);
        QVERIFY(!started);
        QCOMPARE(DialogsTestSeam::last().text, u"Не найден файл базы данных."_s);
    }

    void fileThatIsNoDatabaseIsReportedAndEnds() {
        TempCatalogue cat(false);
        cat.writeFile(u"db.MyDB"_s, QByteArray(4096, 'z'));
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        Program program;
        QVERIFY(!program.start());
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
        QCOMPARE(DialogsTestSeam::last().title, u"Tenemark 1.0"_s);
        QVERIFY2(DialogsTestSeam::last().text.contains(u"database"_s),
                 qPrintable(DialogsTestSeam::last().text));
        QVERIFY(!program.mainForm()->isVisible());
    }

    void missingLookupTableIsReportedAndTheRestLoads() {
        TempCatalogue cat;
        cat.addEntries(u"rajony"_s, {u"Центр"_s});
        cat.addItem({{u"rajon"_s, u"Центр"_s}});
        cat.exec(u"drop table grupy"_s);
        cat.writeFile(u"fields.ini"_s, "[Checked]\nField2=1\n");
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        Program program;
        QVERIFY(program.start());
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
        QVERIFY(DialogsTestSeam::last().text.contains(u"grupy"_s));
        auto* group = program.mainForm()->findChild<QComboBox*>(u"GroupCB"_s);
        auto* district = program.mainForm()->findChild<QComboBox*>(u"LocationCB"_s);
        QCOMPARE(group->count(), 1); // the marker added before the failure stays
        QCOMPARE(district->count(), 2);
        QCOMPARE(program.mainForm()->itemModel()->rowCount(), 1);
    }

    void settingsAppliedToBothWindows() {
        TempCatalogue cat;
        cat.writeFile(u"kvarta.ini"_s, "[MainForm]\nLeft=30\nTop=40\nWidth=640\nHeight=480\nState=maximized\n"
                                       "Panel2=220\n[DirectoryForm]\nLeft=70\nTop=80\nWidth=600\n"
                                       "Height=400\nState=MAXIMIZED\nDirLV_Width=250\n");
        Program program;
        QVERIFY(program.start());
        TMainForm* main = program.mainForm();
        QVERIFY(!(main->windowState() & Qt::WindowMaximized)); // lower case leaves it normal
        // The stored bounds are the outer ones, frame included.
        QTRY_COMPARE(main->frameGeometry(), QRect(30, 40, 640, 480));
        QCOMPARE(main->findChild<QWidget*>(u"Panel2"_s)->width(), 220);
        TDirectoryForm* dir = program.directoryForm();
        QVERIFY(dir->windowState() & Qt::WindowMaximized);
        QCOMPARE(dir->dirListWidth(), 250);
        dir->setWindowState(Qt::WindowNoState);
        QCOMPARE(dir->pos(), QPoint(70, 80));
        QCOMPARE(dir->geometry().size(), QSize(600, 400)); // not shown yet: no frame known
        QVERIFY(DialogsTestSeam::shown().isEmpty());
    }

    // Without a settings file the frames of both windows are at 50, 50 and 700 x 500 outside (the
    // offscreen platform gives top-level windows a 2-pixel frame); a run writes back the same values.
    void outerBoundsRoundTrip() {
        TempCatalogue cat;
        {
            Program program;
            QVERIFY(program.start());
            TMainForm* main = program.mainForm();
            QTRY_COMPARE(main->frameGeometry(), QRect(50, 50, 700, 500));
            QCOMPARE(main->geometry(), QRect(52, 52, 696, 496));
            QRect dirFrame;
            onNextModal([&](QWidget* dir) {
                QTRY_COMPARE(dir->frameGeometry(), QRect(50, 50, 700, 500));
                dirFrame = dir->frameGeometry();
                QTest::keyClick(dir, Qt::Key_Escape);
            });
            program.directoryForm()->OpenOnTable(QString());
            QCOMPARE(dirFrame, QRect(50, 50, 700, 500));
            main->close();
        }
        const QByteArray first = cat.readFile(u"kvarta.ini"_s);
        const IniFile ini(cat.path(u"kvarta.ini"_s));
        for (const QString& section : {u"MainForm"_s, u"DirectoryForm"_s}) {
            QCOMPARE(ini.readInteger(section, u"Left"_s, 0), 50);
            QCOMPARE(ini.readInteger(section, u"Top"_s, 0), 50);
            QCOMPARE(ini.readInteger(section, u"Width"_s, 0), 700);
            QCOMPARE(ini.readInteger(section, u"Height"_s, 0), 500);
        }
        // A second run on that file writes the same bytes again.
        {
            Program program;
            QVERIFY(program.start());
            QTRY_COMPARE(program.mainForm()->frameGeometry(), QRect(50, 50, 700, 500));
            program.mainForm()->close();
        }
        QCOMPARE(cat.readFile(u"kvarta.ini"_s), first);
    }

    // The two lists of the directory editor keep their column widths under keys of their own.
    void directoryListWidthsAreKeptApart() {
        TempCatalogue cat;
        cat.writeFile(u"kvarta.ini"_s, "[DirectoryForm]\r\nDirLV_Column0=111\r\nDirItemsLV_Column0=222\r\n");
        {
            Program program;
            QVERIFY(program.start());
            TDirectoryForm* dir = program.directoryForm();
            QCOMPARE(dir->dirList()->horizontalHeader()->sectionSize(0), 111);
            QCOMPARE(dir->entriesList()->horizontalHeader()->sectionSize(0), 222);
            dir->dirList()->horizontalHeader()->resizeSection(0, 133);
            dir->entriesList()->horizontalHeader()->resizeSection(0, 244);
            program.mainForm()->close();
        }
        const IniFile ini(cat.path(u"kvarta.ini"_s));
        QCOMPARE(ini.readInteger(u"DirectoryForm"_s, u"DirLV_Column0"_s, 0), 133);
        QCOMPARE(ini.readInteger(u"DirectoryForm"_s, u"DirItemsLV_Column0"_s, 0), 244);
        QVERIFY(cat.readFile(u"kvarta.ini"_s).startsWith("[DirectoryForm]\r\nDirLV_Column0=133\r\n"
                                                         "DirItemsLV_Column0=244\r\n"));
    }

    void closingMaximisedOrMinimisedKeepsEarlierBounds() {
        TempCatalogue cat;
        cat.writeFile(u"kvarta.ini"_s, "[MainForm]\nLeft=30\nTop=40\nWidth=640\nHeight=480\nState=MAXIMIZED\n"
                                       "[DirectoryForm]\nLeft=70\nTop=80\nWidth=600\nHeight=400\n");
        {
            Program program;
            QVERIFY(program.start());
            QVERIFY(program.mainForm()->windowState() & Qt::WindowMaximized);
            program.directoryForm()->setWindowState(Qt::WindowMinimized);
            program.mainForm()->close();
        }
        const IniFile ini(cat.path(u"kvarta.ini"_s));
        QCOMPARE(ini.readString(u"MainForm"_s, u"State"_s, QString()), u"MAXIMIZED"_s);
        QCOMPARE(ini.readInteger(u"MainForm"_s, u"Left"_s, 0), 30);
        QCOMPARE(ini.readInteger(u"MainForm"_s, u"Width"_s, 0), 640);
        QCOMPARE(ini.readString(u"DirectoryForm"_s, u"State"_s, QString()), u"NORMAL"_s);
        QCOMPARE(ini.readInteger(u"DirectoryForm"_s, u"Top"_s, 0), 80);
        QCOMPARE(ini.readInteger(u"DirectoryForm"_s, u"Height"_s, 0), 400);
        QVERIFY(!ini.hasKey(u"DirectoryForm"_s, u"DirLV_Width"_s));
    }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
