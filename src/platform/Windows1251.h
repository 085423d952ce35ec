#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Text in the Cyrillic code page windows-1251, the encoding of the report pages.
namespace Windows1251 {

// The code page's byte for a character, or -1 when the code page has none.
int byteFor(char32_t character);
QString decode(QByteArrayView bytes);

// How HTML text is written.
enum class Html {
    Markup,    // as given: the text is the page's own markup
    Text,      // a value between tags: &, < and > become entities
    Attribute, // a value inside a quoted attribute: also the double quote
    AsciiText, // as Text, with every character above 127 written as a reference
};

// Most bytes that one UTF-16 unit of text can become ("&#1114111;" for half a surrogate pair).
inline constexpr qsizetype MaxBytesPerUnit = 10;

// Writes `text` at `out`, which has room for MaxBytesPerUnit bytes per unit, and returns the end
// of what was written. Characters the code page lacks are written as in appendHtml().
char* writeHtml(char* out, QStringView text, Html mode);

// writeHtml() for Html::Text, quicker on the common characters; for the long loops of the reports.
char* writeHtmlText(char* out, QStringView text);
// The same with every line end (CR LF, LF or CR) written as "<br>", for a table cell's value.
char* writeHtmlTextLines(char* out, QStringView text);

// Appends `text` to `out` in the code page. A character that the code page cannot hold becomes an
// HTML reference, so nothing is lost or replaced by "?": a Latin-1 letter or sign its entity name
// ("&eacute;"), any other character its number ("&#321;", "&#128512;"). The C1 control codes,
// which HTML cannot refer to, become "&#65533;".
void appendHtml(QByteArray& out, QStringView text, Html mode);
QByteArray encodeHtml(QStringView text, Html mode);

} // namespace Windows1251
