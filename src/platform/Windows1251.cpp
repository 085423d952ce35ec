#include "Windows1251.h"

#include <array>

namespace {

// Characters of the bytes 0x80 to 0xBF; 0x98 is unassigned. 0xC0 to 0xFF are U+0410 to U+044F.
constexpr std::array<char16_t, 64> UpperHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
};

// HTML 4 names of U+00A0 to U+00FF. Outside UTF-8 pages some readers take a numeric reference
// below 256 for a byte of the page's code page ("&#233;" shows as "й"); a name is read right.
constexpr const char* LatinNames[96] = {
    "&nbsp;",   "&iexcl;",  "&cent;",   "&pound;",  "&curren;", "&yen;",    "&brvbar;", "&sect;",
    "&uml;",    "&copy;",   "&ordf;",   "&laquo;",  "&not;",    "&shy;",    "&reg;",    "&macr;",
    "&deg;",    "&plusmn;", "&sup2;",   "&sup3;",   "&acute;",  "&micro;",  "&para;",   "&middot;",
    "&cedil;",  "&sup1;",   "&ordm;",   "&raquo;",  "&frac14;", "&frac12;", "&frac34;", "&iquest;",
    "&Agrave;", "&Aacute;", "&Acirc;",  "&Atilde;", "&Auml;",   "&Aring;",  "&AElig;",  "&Ccedil;",
    "&Egrave;", "&Eacute;", "&Ecirc;",  "&Euml;",   "&Igrave;", "&Iacute;", "&Icirc;",  "&Iuml;",
    "&ETH;",    "&Ntilde;", "&Ograve;", "&Oacute;", "&Ocirc;",  "&Otilde;", "&Ouml;",   "&times;",
    "&Oslash;", "&Ugrave;", "&Uacute;", "&Ucirc;",  "&Uuml;",   "&Yacute;", "&THORN;",  "&szlig;",
    "&agrave;", "&aacute;", "&acirc;",  "&atilde;", "&auml;",   "&aring;",  "&aelig;",  "&ccedil;",
    "&egrave;", "&eacute;", "&ecirc;",  "&euml;",   "&igrave;", "&iacute;", "&icirc;",  "&iuml;",
    "&eth;",    "&ntilde;", "&ograve;", "&oacute;", "&ocirc;",  "&otilde;", "&ouml;",   "&divide;",
    "&oslash;", "&ugrave;", "&uacute;", "&ucirc;",  "&uuml;",   "&yacute;", "&thorn;",  "&yuml;",
};

// ASCII characters that never need a reference or an entity.
constexpr std::array<bool, 128> PlainAscii = [] {
    std::array<bool, 128> plain{};
    for (size_t c = 0; c < plain.size(); ++c)
        plain[c] = c != '&' && c != '<' && c != '>' && c != '"';
    return plain;
}();

constexpr char32_t CyrillicA = 0x0410;
constexpr char32_t CyrillicYa = 0x044F;

// The byte of every character below U+0460 that text takes as it is, 0 for the others (the
// markup characters, the line ends, NUL and what the code page lacks). One lookup, no branching on
// the kind of character, for the bulk of the reports.
constexpr char16_t FastLimit = 0x0460;
constexpr std::array<unsigned char, FastLimit> FastTextBytes = [] {
    std::array<unsigned char, FastLimit> bytes{};
    for (char16_t c = 1; c < 0x80; ++c)
        bytes[c] = (c == u'&' || c == u'<' || c == u'>' || c == u'\n' || c == u'\r')
                       ? 0
                       : static_cast<unsigned char>(c);
    for (size_t i = 0; i < UpperHalf.size(); ++i) {
        if (UpperHalf[i] != 0 && UpperHalf[i] < FastLimit)
            bytes[UpperHalf[i]] = static_cast<unsigned char>(0x80 + i);
    }
    for (char32_t c = CyrillicA; c <= CyrillicYa; ++c)
        bytes[c] = static_cast<unsigned char>(c - CyrillicA + 0xC0);
    return bytes;
}();

char* appendReference(char* p, char32_t character) {
    char digits[8];
    int n = 0;
    do {
        digits[n++] = char('0' + character % 10);
        character /= 10;
    } while (character != 0);
    *p++ = '&';
    *p++ = '#';
    while (n > 0)
        *p++ = digits[--n];
    *p++ = ';';
    return p;
}

char* appendEntity(char* p, const char* entity) {
    while (*entity)
        *p++ = *entity++;
    return p;
}

} // namespace

namespace Windows1251 {

int byteFor(char32_t character) {
    if (character < 0x80)
        return int(character);
    if (character >= CyrillicA && character <= CyrillicYa)
        return int(character - CyrillicA) + 0xC0;
    for (int i = 0; i < int(UpperHalf.size()); ++i) {
        if (UpperHalf[size_t(i)] == character && character != 0)
            return 0x80 + i;
    }
    return -1;
}

QString decode(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80)
            *out++ = QChar(char16_t(b));
        else if (b >= 0xC0)
            *out++ = QChar(char16_t(CyrillicA + (b - 0xC0)));
        else if (const char16_t u = UpperHalf[b - 0x80]; u != 0)
            *out++ = QChar(u);
        else
            *out++ = QChar::ReplacementCharacter;
    }
    return text;
}

char* writeHtml(char* p, QStringView text, Html mode) {
    const char16_t* s = text.utf16();
    const char16_t* const end = s + text.size();
    while (s < end) {
        const char16_t u = *s++;
        // Most text is plain ASCII and the main Cyrillic block: one byte each.
        if (u < 0x80 && PlainAscii[u]) {
            *p++ = char(u);
            continue;
        }
        if (u < 0x80) {
            if (mode != Html::Markup) {
                if (u == u'&') {
                    p = appendEntity(p, "&amp;");
                    continue;
                }
                if (u == u'<') {
                    p = appendEntity(p, "&lt;");
                    continue;
                }
                if (u == u'>') {
                    p = appendEntity(p, "&gt;");
                    continue;
                }
                if (u == u'"' && mode == Html::Attribute) {
                    p = appendEntity(p, "&quot;");
                    continue;
                }
            }
            *p++ = char(u);
            continue;
        }
        if (u >= CyrillicA && u <= CyrillicYa && mode != Html::AsciiText) {
            *p++ = char(u - CyrillicA + 0xC0);
            continue;
        }
        char32_t character = u;
        if (QChar::isHighSurrogate(u) && s < end && QChar::isLowSurrogate(*s))
            character = QChar::surrogateToUcs4(u, *s++);
        else if (QChar::isSurrogate(u))
            character = QChar::ReplacementCharacter;
        const int b = mode == Html::AsciiText ? -1 : byteFor(character);
        if (b >= 0)
            *p++ = char(b);
        else if (character >= 0xA0 && character <= 0xFF)
            p = appendEntity(p, LatinNames[character - 0xA0]);
        else if (character >= 0x80 && character < 0xA0)
            p = appendReference(p, QChar::ReplacementCharacter); // C1 controls have no reference
        else
            p = appendReference(p, character);
    }
    return p;
}

char* writeHtmlText(char* p, QStringView text) {
    const char16_t* s = text.utf16();
    const char16_t* const end = s + text.size();
    for (; s < end; ++s) {
        const char16_t u = *s;
        const unsigned char b = u < FastLimit ? FastTextBytes[u] : 0;
        if (b == 0)
            return writeHtml(p, QStringView(s, end), Html::Text);
        *p++ = char(b);
    }
    return p;
}

char* writeHtmlTextLines(char* p, QStringView text) {
    const char16_t* s = text.utf16();
    const char16_t* const end = s + text.size();
    while (s < end) {
        const char16_t u = *s;
        if (const unsigned char b = u < FastLimit ? FastTextBytes[u] : 0; b != 0) {
            *p++ = char(b);
            ++s;
        } else if (u == u'\n' || u == u'\r') {
            p = appendEntity(p, "<br>");
            s += u == u'\r' && s + 1 < end && s[1] == u'\n' ? 2 : 1;
        } else {
            const qsizetype units =
                QChar::isHighSurrogate(u) && s + 1 < end && QChar::isLowSurrogate(s[1]) ? 2 : 1;
            p = writeHtml(p, QStringView(s, units), Html::Text);
            s += units;
        }
    }
    return p;
}

void appendHtml(QByteArray& out, QStringView text, Html mode) {
    const qsizetype start = out.size();
    out.resize(start + text.size() * MaxBytesPerUnit);
    char* const begin = out.data() + start;
    char* const end = writeHtml(begin, text, mode);
    out.resize(start + (end - begin));
}

QByteArray encodeHtml(QStringView text, Html mode) {
    QByteArray out;
    appendHtml(out, text, mode);
    return out;
}

} // namespace Windows1251
