#include "AppError.h"
#include "IniFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

void writeText(const QString& path, const QByteArray& text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

QByteArray readText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestIniFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QVERIFY(m_dir.isValid()); }

    void saveKeepsEverythingItDidNotWrite() {
        const QString path = m_dir.filePath(u"keep.ini"_s);
        writeText(path, "; settings of the program\n"
                        "[MainForm]\n"
                        "Left=10\n"
                        "; a note about the width\n"
                        "Width=640\n"
                        "Colour=blue\n"
                        "[Other]\n"
                        "X=1\n"
                        "Name=Кварта\n");
        IniFile ini(path);
        ini.writeInteger(u"MainForm"_s, u"Left"_s, 20);
        ini.writeString(u"MainForm"_s, u"State"_s, u"MAXIMIZED"_s);
        ini.writeInteger(u"DirectoryForm"_s, u"Top"_s, -5);
        ini.save();

        QCOMPARE(readText(path), QByteArray("; settings of the program\n"
                                            "[MainForm]\n"
                                            "Left=20\n"
                                            "; a note about the width\n"
                                            "Width=640\n"
                                            "Colour=blue\n"
                                            "State=MAXIMIZED\n"
                                            "[Other]\n"
                                            "X=1\n"
                                            "Name=Кварта\n"
                                            "[DirectoryForm]\n"
                                            "Top=-5\n"));

        IniFile again(path);
        QCOMPARE(again.readInteger(u"MainForm"_s, u"Left"_s, 0), 20);
        QCOMPARE(again.readInteger(u"MainForm"_s, u"Width"_s, 0), 640);
        QCOMPARE(again.readString(u"MainForm"_s, u"State"_s, u"NORMAL"_s), u"MAXIMIZED"_s);
        QCOMPARE(again.readInteger(u"DirectoryForm"_s, u"Top"_s, 50), -5);
        QCOMPARE(again.readString(u"Other"_s, u"Name"_s, QString()), u"Кварта"_s);
    }

    // A hand-kept file: CR LF, comments, blanks around '=', a repeated key, a repeated section and
    // blank lines. Only the written values change.
    void saveChangesOnlyTheWrittenValues() {
        const QString path = m_dir.filePath(u"crlf.ini"_s);
        const QByteArray before = "# written by hand\r\n"
                                  "[MainForm]\r\n"
                                  "Left = 10   \r\n"
                                  "  Top\t=\t20\r\n"
                                  "Left=99\r\n"
                                  "; width follows\r\n"
                                  "Width =640\r\n"
                                  "\r\n"
                                  "[Other]\r\n"
                                  "Name=x=y\r\n"
                                  "\r\n"
                                  "[mainform]\r\n"
                                  "Height=1\r\n"
                                  "Panel2=7";
        writeText(path, before);
        IniFile ini(path);
        // The first occurrence of a repeated key is the one read.
        QCOMPARE(ini.readInteger(u"MainForm"_s, u"Left"_s, 0), 10);
        QCOMPARE(ini.readInteger(u"MainForm"_s, u"Top"_s, 0), 20);
        QCOMPARE(ini.readString(u"Other"_s, u"Name"_s, QString()), u"x=y"_s);
        QCOMPARE(ini.readInteger(u"MainForm"_s, u"Panel2"_s, 0), 7);

        ini.writeInteger(u"MainForm"_s, u"Left"_s, 50);
        ini.writeInteger(u"MainForm"_s, u"Top"_s, 60);
        ini.writeInteger(u"MainForm"_s, u"Height"_s, 500);
        ini.writeInteger(u"MainForm"_s, u"Panel2"_s, 185);
        ini.writeString(u"MainForm"_s, u"State"_s, u"NORMAL"_s);
        ini.writeInteger(u"New"_s, u"K"_s, 1);
        ini.save();
        QCOMPARE(readText(path), QByteArray("# written by hand\r\n"
                                            "[MainForm]\r\n"
                                            "Left = 50   \r\n"
                                            "  Top\t=\t60\r\n"
                                            "Left=99\r\n"
                                            "; width follows\r\n"
                                            "Width =640\r\n"
                                            "State=NORMAL\r\n"
                                            "\r\n"
                                            "[Other]\r\n"
                                            "Name=x=y\r\n"
                                            "\r\n"
                                            "[mainform]\r\n"
                                            "Height=500\r\n"
                                            "Panel2=185\r\n"
                                            "[New]\r\n"
                                            "K=1\r\n"));

        // Saving the same values again changes no byte.
        const QByteArray once = readText(path);
        IniFile second(path);
        second.writeInteger(u"MainForm"_s, u"Left"_s, 50);
        second.writeString(u"MainForm"_s, u"State"_s, u"NORMAL"_s);
        second.save();
        QCOMPARE(readText(path), once);
    }

    // Left=20 and Top=60 written into [MainForm] of files as other programs leave them.
    void writesIntoTheSectionAsFound_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("last line without a line end")
            << QByteArray("[Other]\nX=1\n[MainForm]\nLeft=10")
            << QByteArray("[Other]\nX=1\n[MainForm]\nLeft=20\nTop=60\n");
        QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF[MainForm]\r\nLeft=10\r\n")
                                         << QByteArray("\xEF\xBB\xBF[MainForm]\r\nLeft=20\r\nTop=60\r\n");
        const char nul[] = "[MainForm]\nNote=a\0b\nLeft=10\n";
        QTest::newRow("NUL in a value")
            << QByteArray(nul, sizeof nul - 1) << QByteArray(nul, sizeof nul - 1).replace("10", "20\nTop=60");
    }
    void writesIntoTheSectionAsFound() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        const QString path = m_dir.filePath(u"found.ini"_s);
        writeText(path, before);
        IniFile ini(path);
        QCOMPARE(ini.readInteger(u"MainForm"_s, u"Left"_s, 0), 10);
        ini.writeInteger(u"MainForm"_s, u"Left"_s, 20);
        ini.writeInteger(u"MainForm"_s, u"Top"_s, 60);
        ini.save();
        QCOMPARE(readText(path), after);
        QCOMPARE(IniFile(path).readInteger(u"MainForm"_s, u"Left"_s, 0), 20);
    }

    void newFileIsWrittenWithCrLf() {
        const QString path = m_dir.filePath(u"new.ini"_s);
        IniFile ini(path);
        ini.writeInteger(u"MainForm"_s, u"Left"_s, 50);
        ini.writeInteger(u"MainForm"_s, u"Top"_s, 50);
        ini.writeInteger(u"DirectoryForm"_s, u"DirLV_Column0"_s, 160);
        ini.save();
        QCOMPARE(readText(path), QByteArray("[MainForm]\r\nLeft=50\r\nTop=50\r\n"
                                            "[DirectoryForm]\r\nDirLV_Column0=160\r\n"));
        QCOMPARE(ini.readInteger(u"DirectoryForm"_s, u"DirLV_Column0"_s, 0), 160);
    }

    void namesIgnoreLetterCase() {
        const QString path = m_dir.filePath(u"case.ini"_s);
        writeText(path, "[mainform]\nLEFT=33\n");
        IniFile ini(path);
        QCOMPARE(ini.readInteger(u"MainForm"_s, u"Left"_s, 50), 33);
        QVERIFY(ini.hasKey(u"MAINFORM"_s, u"left"_s));
        ini.writeInteger(u"MainForm"_s, u"Left"_s, 44);
        ini.save();
        const QByteArray text = readText(path);
        // The existing key is replaced, not joined by a second spelling.
        QCOMPARE(text.count("44"), 1);
        QVERIFY(!text.contains("33"));
        QCOMPARE(text.toLower().count("[mainform]"), 1);
        QCOMPARE(IniFile(path).readInteger(u"mainFORM"_s, u"lEfT"_s, 0), 44);
    }

    void malformedIntegersReadAsDefault_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("plain") << QByteArray("123") << 123;
        QTest::newRow("negative") << QByteArray("-40") << -40;
        QTest::newRow("plus") << QByteArray("+7") << 7;
        QTest::newRow("blanks around") << QByteArray("  42  ") << 42;
        QTest::newRow("largest") << QByteArray("2147483647") << 2147483647;
        QTest::newRow("smallest") << QByteArray("-2147483648") << int(-2147483648LL);
        QTest::newRow("trailing letters") << QByteArray("12abc") << 777;
        QTest::newRow("empty") << QByteArray("") << 777;
        QTest::newRow("hex") << QByteArray("0x10") << 777;
        QTest::newRow("too large") << QByteArray("99999999999") << 777;
        QTest::newRow("just too large") << QByteArray("2147483648") << 777;
        QTest::newRow("decimal") << QByteArray("12.5") << 777;
        QTest::newRow("sign only") << QByteArray("-") << 777;
        QTest::newRow("inner blank") << QByteArray("1 2") << 777;
    }

    void malformedIntegersReadAsDefault() {
        QFETCH(QByteArray, value);
        QFETCH(int, expected);
        const QString path = m_dir.filePath(u"numbers.ini"_s);
        writeText(path, "[S]\nK=" + value + "\n");
        IniFile ini(path);
        QCOMPARE(ini.readInteger(u"S"_s, u"K"_s, 777), expected);
    }

    void missingFileAndKeysReadAsDefault() {
        IniFile ini(m_dir.filePath(u"absent.ini"_s));
        QVERIFY(!ini.fileExists());
        QCOMPARE(ini.readInteger(u"MainForm"_s, u"Width"_s, 700), 700);
        QCOMPARE(ini.readString(u"MainForm"_s, u"State"_s, u"NORMAL"_s), u"NORMAL"_s);
        QVERIFY(!ini.hasKey(u"MainForm"_s, u"Width"_s));
        // The first save creates the file.
        ini.writeInteger(u"MainForm"_s, u"Width"_s, 800);
        ini.save();
        QVERIFY(ini.fileExists());
        QCOMPARE(IniFile(ini.path()).readInteger(u"MainForm"_s, u"Width"_s, 0), 800);
    }

    void saveLeavesNoTemporaryFiles() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"atomic.ini"_s);
        writeText(path, "[A]\nB=1\n");
        IniFile ini(path);
        ini.writeInteger(u"A"_s, u"B"_s, 2);
        ini.save();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{u"atomic.ini"_s});
    }

    void failedSaveThrowsAndKeepsOldFile() {
        const QString path = m_dir.filePath(u"full.ini"_s);
        const QByteArray old = "[MainForm]\nLeft=10\n";
        writeText(path, old);
        IniFile ini(path);
        for (int i = 0; i < 200; ++i)
            ini.writeInteger(u"MainForm"_s, u"Key%1"_s.arg(i), i);
        bool thrown = false;
        {
            // The new content cannot be written in full (this works for every user, root too).
            FileSizeLimit limit(64);
            try {
                ini.save();
            } catch (const AppError& e) {
                thrown = true;
                QVERIFY(e.text().contains(path));
            }
        }
        QCOMPARE(readText(path), old);
        QVERIFY(thrown);
        QCOMPARE(QDir(m_dir.path()).entryList({u"full.ini*"_s}, QDir::Files), QStringList{u"full.ini"_s});
    }

    void unwritableFolderThrows() {
        IniFile ini(m_dir.filePath(u"no/such/folder/x.ini"_s));
        ini.writeInteger(u"A"_s, u"B"_s, 1);
        QVERIFY_THROWS_EXCEPTION(AppError, ini.save());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
