#include "ColumnLayout.h"
#include "IniFile.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
QList<int> attributesOf(const QList<ColumnLayout::Column>& columns) {
    QList<int> result;
    for (const auto& c : columns)
        result.append(c.attribute);
    return result;
}
QList<int> attributesOf(const QList<ColumnLayout::Entry>& entries) {
    QList<int> result;
    for (const auto& e : entries)
        result.append(e.attribute);
    return result;
}
} // namespace

class ColumnLayoutTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString file(const QByteArray& content) {
        static int n = 0;
        const QString path = m_dir.filePath(u"fields%1.ini"_s.arg(++n));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write");
        f.write(content);
        return path;
    }

private Q_SLOTS:
    void missingFileShowsNothingAndEditorOffersNaturalOrder() {
        const IniFile ini(m_dir.filePath(u"none.ini"_s));
        QVERIFY(ColumnLayout::visibleColumns(ini).isEmpty());
        const auto entries = ColumnLayout::readEntries(ini);
        QCOMPARE(entries.size(), 22);
        for (int i = 0; i < 22; ++i) {
            QCOMPARE(entries[i].attribute, i);
            QVERIFY(!entries[i].checked);
        }
        QCOMPARE(attributesOf(ColumnLayout::defaultEntries()), attributesOf(entries));
    }

    void visibleColumnsFollowPositionsTicksAndWidths() {
        const IniFile ini(file("[Position]\nNum0=20\nNum1=3\nNum2=0\nNum3=1\nNum20=2\n"
                               "[Checked]\nField20=1\nField0=1\nField2=7\nField3=0\nField1=x\n"
                               "[Width]\nField20=120\nField0=abc\n"));
        const auto columns = ColumnLayout::visibleColumns(ini);
        // 20 at position 0, 0 at position 2, 2 at position 20 (non-zero tick counts as shown).
        QCOMPARE(attributesOf(columns), (QList<int>{20, 0, 2}));
        QCOMPARE(columns[0].width, 120);
        QCOMPARE(columns[1].width, 50); // malformed width
        QCOMPARE(columns[2].width, 50); // missing width
    }

    void badAndRepeatedPositionsAreSkipped() {
        const IniFile ini(file("[Position]\nNum0=22\nNum1=-1\nNum2=5\nNum3=5\nNum4=2\nNum5=4\n"
                               "[Checked]\nField0=1\nField1=1\nField3=1\nField5=1\nField21=1\n"));
        const auto entries = ColumnLayout::readEntries(ini);
        QCOMPARE(entries.size(), 22);
        QList<int> sorted = attributesOf(entries);
        std::sort(sorted.begin(), sorted.end());
        for (int i = 0; i < 22; ++i)
            QCOMPARE(sorted[i], i); // each attribute exactly once
        // Positions 0,1 bad and 3 repeated: 5, 2, 4 come first, then 6..21 by position,
        // then the attributes no position placed (0, 1, 3).
        QCOMPARE(attributesOf(entries).mid(0, 3), (QList<int>{5, 2, 4}));
        QCOMPARE(attributesOf(entries).last(3), (QList<int>{0, 1, 3}));
        QCOMPARE(attributesOf(ColumnLayout::visibleColumns(ini)), (QList<int>{5, 21, 0, 1, 3}));
    }

    void writtenEntriesReadBackAndKeepWidths() {
        const QString path = file("[Width]\nField20=99\n; a note\n[Other]\nkey=value\n");
        QList<ColumnLayout::Entry> entries = ColumnLayout::defaultEntries();
        std::swap(entries[0], entries[20]);
        entries[0].checked = true; // attribute 20
        entries[5].checked = true;
        {
            IniFile ini(path);
            ColumnLayout::writeEntries(ini, entries);
            ini.save();
        }
        const IniFile ini(path);
        QCOMPARE(ini.readInteger(u"Position"_s, u"Num0"_s, -1), 20);
        QCOMPARE(ini.readInteger(u"Position"_s, u"Num20"_s, -1), 0);
        QCOMPARE(ini.readInteger(u"Checked"_s, u"Field20"_s, -1), 1);
        QCOMPARE(ini.readInteger(u"Checked"_s, u"Field0"_s, -1), 0);
        QCOMPARE(ini.readString(u"Other"_s, u"key"_s, QString()), u"value"_s);
        const auto columns = ColumnLayout::visibleColumns(ini);
        QCOMPARE(attributesOf(columns), (QList<int>{20, 5}));
        QCOMPARE(columns[0].width, 99); // the width went with the attribute
    }

    void widthsAreKeyedByAttributeAndOnlyForGivenColumns() {
        const QString path = m_dir.filePath(u"widths.ini"_s);
        {
            IniFile ini(path);
            ColumnLayout::writeWidths(ini, {{14, 70}, {3, 33}, {21, 140}});
            ini.save();
        }
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        QCOMPARE(text.count(u"Field"_s), 3);
        const IniFile ini(path);
        QCOMPARE(ini.readInteger(u"Width"_s, u"Field14"_s, 0), 70);
        QCOMPARE(ini.readInteger(u"Width"_s, u"Field3"_s, 0), 33);
        QCOMPARE(ini.readInteger(u"Width"_s, u"Field21"_s, 0), 140);
    }
};

QTEST_GUILESS_MAIN(ColumnLayoutTest)
#include "ColumnLayoutTest.moc"
