#include "MetafileWriter.h"

#include "AppError.h"

#include <QStringConverter>

#include <cstdlib>
#include <vector>

extern "C" {
#include <uemf.h>
#include <uwmf.h>
}

using namespace Qt::StringLiterals;

namespace {

// libUEMF wants a file to write on finishing; the finished picture is taken from its buffer.
constexpr const char* Discard = "/dev/null";
constexpr int Dpi = 96;

enum ObjectKind { Brush, Pen, HatchBrush, Font };

U_COLORREF colourRef(const QColor& c) {
    return colorref3_set(uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue()));
}

int16_t c16(int v) {
    return int16_t(qBound(-32768, v, 32767));
}

U_RECTL rectl(const QRect& r) {
    return rectl_set(point32_set(r.left(), r.top()), point32_set(r.right() + 1, r.bottom() + 1));
}

U_RECT16 rect16(const QRect& r) {
    return U_RECT16_set(point16_set(c16(r.left()), c16(r.top())),
                        point16_set(c16(r.right() + 1), c16(r.bottom() + 1)));
}

uint16_t hatchStyle(int hatch) {
    switch (MetafileWriter::Hatch(hatch)) {
    case MetafileWriter::Hatch::Horizontal:
        return U_HS_HORIZONTAL;
    case MetafileWriter::Hatch::Vertical:
        return U_HS_VERTICAL;
    case MetafileWriter::Hatch::Cross:
        return U_HS_CROSS;
    case MetafileWriter::Hatch::DiagonalCross:
        break;
    }
    return U_HS_DIAGCROSS;
}

void check(int status, const char* what) {
    if (status != 0)
        throw AppError(u"libUEMF: %1 failed (%2)"_s.arg(QLatin1StringView(what)).arg(status));
}

} // namespace

struct MetafileWriter::Track {
    EMFTRACK* emf = nullptr;
    EMFHANDLES* emfHandles = nullptr;
    WMFTRACK* wmf = nullptr;
    WMFHANDLES* wmfHandles = nullptr;
    ~Track() {
        if (emfHandles)
            emf_htable_free(&emfHandles);
        if (emf)
            emf_free(&emf);
        if (wmfHandles)
            wmf_htable_free(&wmfHandles);
        if (wmf)
            wmf_free(&wmf);
    }
};

MetafileWriter::MetafileWriter(Kind kind, int width, int height)
    : m_kind(kind), m_track(std::make_unique<Track>()) {
    if (kind == Kind::Emf) {
        check(emf_start(Discard, 1 << 16, 1 << 16, &m_track->emf), "emf_start");
        check(emf_htable_create(128, 128, &m_track->emfHandles), "emf_htable_create");
        // A reference device of 1920 x 1080 pixels at 96 dpi, so that one logical unit is a pixel.
        const U_SIZEL device = sizel_set(1920, 1080);
        const U_SIZEL millimetres = sizel_set(1920 * 254 / (Dpi * 10), 1080 * 254 / (Dpi * 10));
        // Readers take the bounds' right and bottom as the picture's size.
        const U_RECTL bounds = rectl_set(point32_set(0, 0), point32_set(width, height));
        const U_RECTL frame =
            rectl_set(point32_set(0, 0), point32_set(width * 2540 / Dpi, height * 2540 / Dpi));
        append(U_EMRHEADER_set(bounds, frame, nullptr, 0, nullptr, device, millimetres, 0));
        append(U_EMRSETMAPMODE_set(U_MM_TEXT));
        append(U_EMRSETBKMODE_set(U_TRANSPARENT));
        append(U_EMRSETPOLYFILLMODE_set(U_WINDING));
    } else {
        check(wmf_start(Discard, 1 << 16, 1 << 16, &m_track->wmf), "wmf_start");
        check(wmf_htable_create(128, 128, &m_track->wmfHandles), "wmf_htable_create");
        U_PAIRF* inches = U_PAIRF_set(float(width) / Dpi, float(height) / Dpi);
        char* header = U_WMRHEADER_set(inches, Dpi);
        std::free(inches);
        check(wmf_header_append(reinterpret_cast<U_METARECORD*>(header), m_track->wmf, 1),
              "wmf_header_append");
        append(U_WMRSETMAPMODE_set(U_MM_ANISOTROPIC));
        append(U_WMRSETWINDOWORG_set(point16_set(0, 0)));
        append(U_WMRSETWINDOWEXT_set(point16_set(c16(width), c16(height))));
        append(U_WMRSETBKMODE_set(U_TRANSPARENT));
        append(U_WMRSETPOLYFILLMODE_set(U_WINDING));
    }
    m_nullPen = objectFor(u"nullpen"_s, Pen, QColor(Qt::black), -1);
}

MetafileWriter::~MetafileWriter() = default;

void MetafileWriter::append(char* record) {
    if (!record)
        throw AppError(u"libUEMF: a record could not be made"_s);
    if (m_kind == Kind::Emf)
        check(emf_append(reinterpret_cast<U_ENHMETARECORD*>(record), m_track->emf, 1), "emf_append");
    else
        check(wmf_append(reinterpret_cast<U_METARECORD*>(record), m_track->wmf, 1), "wmf_append");
}

void MetafileWriter::select(unsigned handle) {
    if (m_kind == Kind::Emf)
        append(selectobject_set(handle, m_track->emfHandles));
    else
        append(wselectobject_set(handle, m_track->wmfHandles));
}

// Objects are made once per kind and colour and kept to the end.
unsigned MetafileWriter::objectFor(const QString& key, int what, const QColor& colour, int extra) {
    const auto found = m_objects.find(key);
    if (found != m_objects.end())
        return found->second;
    uint32_t handle = 0;
    const bool emf = m_kind == Kind::Emf;
    switch (what) {
    case Brush:
        if (emf)
            append(createbrushindirect_set(&handle, m_track->emfHandles,
                                           logbrush_set(U_BS_SOLID, colourRef(colour), 0)));
        else
            append(wcreatebrushindirect_set(&handle, m_track->wmfHandles,
                                            U_WLOGBRUSH_set(U_BS_SOLID, colourRef(colour), 0)));
        break;
    case HatchBrush:
        if (emf)
            append(createbrushindirect_set(&handle, m_track->emfHandles,
                                           logbrush_set(U_BS_HATCHED, colourRef(colour), hatchStyle(extra))));
        else
            append(wcreatebrushindirect_set(
                &handle, m_track->wmfHandles,
                U_WLOGBRUSH_set(U_BS_HATCHED, colourRef(colour), hatchStyle(extra))));
        break;
    case Pen: {
        const uint16_t style = extra < 0 ? U_PS_NULL : U_PS_SOLID;
        const int width = qMax(1, extra);
        if (emf) {
            U_POINT w;
            w.x = width;
            w.y = 0;
            append(createpen_set(&handle, m_track->emfHandles, logpen_set(style, w, colourRef(colour))));
        } else {
            append(wcreatepenindirect_set(&handle, m_track->wmfHandles,
                                          U_PEN_set(style, uint16_t(width), colourRef(colour))));
        }
        break;
    }
    case Font: {
        const bool bold = extra < 0;
        const int height = qAbs(extra);
        if (emf) {
            uint16_t* face = U_Utf8ToUtf16le("Liberation Sans", 0, nullptr);
            const U_LOGFONT font = logfont_set(-height, 0, 0, 0, bold ? U_FW_BOLD : U_FW_NORMAL, 0, 0, 0,
                                               U_DEFAULT_CHARSET, U_OUT_DEFAULT_PRECIS, U_CLIP_DEFAULT_PRECIS,
                                               U_ANTIALIASED_QUALITY, U_DEFAULT_PITCH | U_FF_SWISS, face);
            std::free(face);
            append(extcreatefontindirectw_set(&handle, m_track->emfHandles,
                                              reinterpret_cast<const char*>(&font), nullptr));
        } else {
            char face[] = "Helvetica";
            U_FONT* font = U_FONT_set(c16(-height), 0, 0, 0, bold ? U_FW_BOLD : U_FW_NORMAL, 0, 0, 0,
                                      U_RUSSIAN_CHARSET, U_OUT_DEFAULT_PRECIS, U_CLIP_DEFAULT_PRECIS,
                                      U_ANTIALIASED_QUALITY, U_DEFAULT_PITCH | U_FF_SWISS, face);
            append(wcreatefontindirect_set(&handle, m_track->wmfHandles, font));
            std::free(font);
        }
        break;
    }
    default:
        break;
    }
    m_objects.emplace(key, handle);
    return handle;
}

void MetafileWriter::fillRect(const QRect& rect, const QColor& colour) {
    select(m_nullPen);
    select(objectFor(u"brush"_s + colour.name(), Brush, colour, 0));
    // A null pen leaves the last row and column of GDI rectangles unfilled.
    const QRect grown = rect.adjusted(0, 0, 1, 1);
    if (m_kind == Kind::Emf)
        append(U_EMRRECTANGLE_set(rectl(grown)));
    else
        append(U_WMRRECTANGLE_set(rect16(grown)));
}

void MetafileWriter::hatchRect(const QRect& rect, const QColor& colour, Hatch hatch) {
    select(m_nullPen);
    select(objectFor(u"hatch%1"_s.arg(int(hatch)) + colour.name(), HatchBrush, colour, int(hatch)));
    const QRect grown = rect.adjusted(0, 0, 1, 1);
    if (m_kind == Kind::Emf)
        append(U_EMRRECTANGLE_set(rectl(grown)));
    else
        append(U_WMRRECTANGLE_set(rect16(grown)));
}

void MetafileWriter::fillPolygon(const QList<QPoint>& points, const QColor& colour) {
    if (points.size() < 3)
        return;
    select(m_nullPen);
    select(objectFor(u"brush"_s + colour.name(), Brush, colour, 0));
    std::vector<U_POINT16> p;
    QRect bounds;
    for (const QPoint& pt : points) {
        p.push_back(point16_set(c16(pt.x()), c16(pt.y())));
        bounds |= QRect(pt, QSize(1, 1));
    }
    if (m_kind == Kind::Emf)
        append(U_EMRPOLYGON16_set(rectl(bounds), uint32_t(p.size()), p.data()));
    else
        append(U_WMRPOLYGON_set(uint16_t(p.size()), p.data()));
}

void MetafileWriter::line(QPoint from, QPoint to, const QColor& colour, int width) {
    select(objectFor(u"pen%1"_s.arg(width) + colour.name(), Pen, colour, width));
    if (m_kind == Kind::Emf) {
        append(U_EMRMOVETOEX_set(point32_set(from.x(), from.y())));
        append(U_EMRLINETO_set(point32_set(to.x(), to.y())));
    } else {
        append(U_WMRMOVETO_set(point16_set(c16(from.x()), c16(from.y()))));
        append(U_WMRLINETO_set(point16_set(c16(to.x()), c16(to.y()))));
    }
}

void MetafileWriter::text(QPoint topLeft, const QString& text, int height, const QColor& colour, bool bold) {
    if (text.isEmpty())
        return;
    select(objectFor(u"font%1%2"_s.arg(height).arg(bold), Font, colour, bold ? -height : height));
    if (m_kind == Kind::Emf) {
        append(U_EMRSETTEXTALIGN_set(U_TA_TOP));
        append(U_EMRSETTEXTCOLOR_set(colourRef(colour)));
        const std::u16string utf16 = text.toStdU16String();
        uint32_t* dx = dx_set(-height, bold ? U_FW_BOLD : U_FW_NORMAL, uint32_t(utf16.size()));
        char* record = emrtext_set(point32_set(topLeft.x(), topLeft.y()), uint32_t(utf16.size()), 2,
                                   const_cast<char16_t*>(utf16.data()), U_ETO_NONE,
                                   rectl_set(point32_set(0, 0), point32_set(-1, -1)), dx);
        std::free(dx);
        append(U_EMREXTTEXTOUTW_set(rectl_set(point32_set(0, 0), point32_set(-1, -1)), U_GM_COMPATIBLE, 1.0f,
                                    1.0f, reinterpret_cast<PU_EMRTEXT>(record)));
        std::free(record);
    } else {
        append(U_WMRSETTEXTALIGN_set(U_TA_TOP));
        append(U_WMRSETTEXTCOLOR_set(colourRef(colour)));
        QStringEncoder cp1251("windows-1251");
        QByteArray bytes = cp1251.encode(text);
        append(U_WMRTEXTOUT_set(point16_set(c16(topLeft.x()), c16(topLeft.y())), bytes.data()));
    }
}

void MetafileWriter::save() {
    if (m_kind == Kind::Emf)
        append(U_EMRSAVEDC_set());
    else
        append(U_WMRSAVEDC_set());
}

void MetafileWriter::clipTo(const QRect& rect) {
    if (m_kind == Kind::Emf)
        append(U_EMRINTERSECTCLIPRECT_set(rectl(rect)));
    else
        append(U_WMRINTERSECTCLIPRECT_set(rect16(rect)));
}

void MetafileWriter::restore() {
    if (m_kind == Kind::Emf)
        append(U_EMRRESTOREDC_set(-1));
    else
        append(U_WMRRESTOREDC_set(-1));
}

QByteArray MetafileWriter::finish() {
    QByteArray bytes;
    if (m_kind == Kind::Emf) {
        append(U_EMREOF_set(0, nullptr, m_track->emf));
        check(emf_finish(m_track->emf, m_track->emfHandles), "emf_finish");
        bytes = QByteArray(m_track->emf->buf, qsizetype(m_track->emf->used));
    } else {
        append(U_WMREOF_set());
        check(wmf_finish(m_track->wmf), "wmf_finish");
        bytes = QByteArray(m_track->wmf->buf, qsizetype(m_track->wmf->used));
    }
    m_track = std::make_unique<Track>();
    return bytes;
}
