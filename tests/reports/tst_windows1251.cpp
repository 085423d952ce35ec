#include "Windows1251.h"

#include <QTest>

using namespace Qt::StringLiterals;
using Windows1251::Html;

class TestWindows1251 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void knownBytes() {
        // "Общий отчет №" and the letters outside the main Cyrillic block.
        QCOMPARE(Windows1251::encodeHtml(u"Общий отчет №", Html::Markup),
                 QByteArray("\xCE\xE1\xF9\xE8\xE9 \xEE\xF2\xF7\xE5\xF2 \xB9"));
        QCOMPARE(Windows1251::encodeHtml(u"АЯаяЁё", Html::Markup), QByteArray("\xC0\xDF\xE0\xFF\xA8\xB8"));
        QCOMPARE(Windows1251::encodeHtml(u"ЄєІіЇїҐґЎў", Html::Markup),
                 QByteArray("\xAA\xBA\xB2\xB3\xAF\xBF\xA5\xB4\xA1\xA2"));
        QCOMPARE(Windows1251::encodeHtml(u"«€»–—\u00A0", Html::Markup),
                 QByteArray("\xAB\x88\xBB\x96\x97\xA0"));
        QCOMPARE(Windows1251::byteFor(U'\u2122'), 0x99);
        QCOMPARE(Windows1251::byteFor(U'\u0098'), -1);
        QCOMPARE(Windows1251::byteFor(U'\u00E9'), -1);
    }

    void everyByteRoundTrips() {
        for (int b = 0; b < 256; ++b) {
            const QByteArray one(1, char(b));
            const QString text = Windows1251::decode(one);
            QCOMPARE(text.size(), 1);
            if (b == 0x98) {
                // The one unassigned byte.
                QCOMPARE(text.at(0), QChar(QChar::ReplacementCharacter));
                continue;
            }
            QCOMPARE(Windows1251::byteFor(text.at(0).unicode()), b);
            if (b != '&' && b != '<' && b != '>' && b != '"')
                QCOMPARE(Windows1251::encodeHtml(text, Html::Attribute), one);
        }
    }

    void escaping_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("markup as given")
            << int(Html::Markup) << u"<td a=\"1\">&nbsp;"_s << QByteArray("<td a=\"1\">&nbsp;");
        QTest::newRow("text") << int(Html::Text) << u"A<B & C>\"D\""_s
                              << QByteArray("A&lt;B &amp; C&gt;\"D\"");
        QTest::newRow("attribute") << int(Html::Attribute) << u"a\"b&c<d"_s
                                   << QByteArray("a&quot;b&amp;c&lt;d");
        QTest::newRow("greater-than after plain text") << int(Html::Text) << u"a>b"_s << QByteArray("a&gt;b");
        QTest::newRow("entity text stays text") << int(Html::Text) << u"&nbsp;"_s << QByteArray("&amp;nbsp;");
        QTest::newRow("empty") << int(Html::Text) << QString() << QByteArray();
        QTest::newRow("ASCII only") << int(Html::AsciiText) << u"Общий <1> é"_s
                                    << QByteArray("&#1054;&#1073;&#1097;&#1080;&#1081; &lt;1&gt; &eacute;");
    }

    void escaping() {
        QFETCH(int, mode);
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(Windows1251::encodeHtml(text, Html(mode)), bytes);
        if (Html(mode) == Html::Text) {
            // The reports' quick writer gives the same bytes.
            QByteArray quick(text.size() * Windows1251::MaxBytesPerUnit, '\0');
            quick.truncate(Windows1251::writeHtmlText(quick.data(), text) - quick.constData());
            QCOMPARE(quick, bytes);
        }
    }

    void unrepresentableBecomeReferences_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        // Latin-1 by name: some readers take a number below 256 for a byte of the code page.
        QTest::newRow("latin diacritics")
            << u"Café Łódź"_s << QByteArray("Caf&eacute; &#321;&oacute;d&#378;");
        QTest::newRow("latin-1 names")
            << u"¿Año? ß ÿ × ½"_s << QByteArray("&iquest;A&ntilde;o? &szlig; &yuml; &times; &frac12;");
        QTest::newRow("C1 control") << u"a\u0085b"_s << QByteArray("a&#65533;b");
        QTest::newRow("emoji, one reference for the pair")
            << u"дом 😀!"_s << QByteArray("\xE4\xEE\xEC &#128512;!");
        QTest::newRow("highest code point") << QString::fromUcs4(U"\U0010FFFF") << QByteArray("&#1114111;");
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + u"x"_s << QByteArray("&#65533;x");
        QTest::newRow("CJK") << u"中"_s << QByteArray("&#20013;");
    }

    void unrepresentableBecomeReferences() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(Windows1251::encodeHtml(text, Html::Text), bytes);
        QCOMPARE(Windows1251::encodeHtml(text, Html::Markup), bytes);
    }

    void quickTextWriterAgreesWithTheGeneralOne() {
        // Every character up to U+04FF, then mixed runs that leave the quick path and return.
        QString all;
        for (char16_t c = 0; c < 0x500; ++c)
            all.append(QChar(c));
        const QStringList texts{all, u"Центр & <юг> «€» Ёё"_s, u"дом 😀 é Ł 中 \"q\""_s, u"plain"_s,
                                QString()};
        for (const QString& text : texts) {
            QByteArray quick(text.size() * Windows1251::MaxBytesPerUnit, '\0');
            const char* end = Windows1251::writeHtmlText(quick.data(), text);
            quick.truncate(end - quick.constData());
            QCOMPARE(quick, Windows1251::encodeHtml(text, Html::Text));
        }
        QCOMPARE(Windows1251::encodeHtml(u"Я <ё>"_s, Html::Text), QByteArray("\xDF &lt;\xB8&gt;"));
    }

    void appendsToWhatIsThere() {
        QByteArray out("<p>");
        Windows1251::appendHtml(out, u"Я & я", Html::Text);
        Windows1251::appendHtml(out, u"</p>", Html::Markup);
        QCOMPARE(out, QByteArray("<p>\xDF &amp; \xFF</p>"));
    }
};

QTEST_GUILESS_MAIN(TestWindows1251)
#include "tst_windows1251.moc"
