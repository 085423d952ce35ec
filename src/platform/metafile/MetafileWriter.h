#pragma once

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>

#include <map>
#include <memory>

// Builds WMF and EMF pictures in memory through libUEMF, for demonstration data and tests.
// Coordinates are logical units, one pixel at 96 dpi; the picture spans (0, 0)-(width, height).
// A process that uses this must not load libwmf (both libraries export the same names).
class MetafileWriter {
public:
    enum class Kind { Wmf, Emf };
    enum class Hatch { Horizontal, Vertical, Cross, DiagonalCross };

    MetafileWriter(Kind kind, int width, int height);
    ~MetafileWriter();
    MetafileWriter(const MetafileWriter&) = delete;
    MetafileWriter& operator=(const MetafileWriter&) = delete;

    // Filled shapes without an outline. (No ellipses: libwmf's raster device draws them unfilled.)
    void fillRect(const QRect& rect, const QColor& colour);
    void fillPolygon(const QList<QPoint>& points, const QColor& colour);
    // A hatched brush: lines of `colour` on a transparent background.
    void hatchRect(const QRect& rect, const QColor& colour, Hatch hatch);
    void line(QPoint from, QPoint to, const QColor& colour, int width = 1);
    // Text with its top left corner at `topLeft`, `height` pixels high, in a sans-serif face.
    // WMF text is written in windows-1251.
    void text(QPoint topLeft, const QString& text, int height, const QColor& colour, bool bold = false);

    // Clipping: save() keeps the current region, clipTo() narrows it, restore() brings it back.
    void save();
    void clipTo(const QRect& rect);
    void restore();

    // The finished file; the writer is spent afterwards.
    QByteArray finish();

private:
    struct Track;
    unsigned objectFor(const QString& key, int what, const QColor& colour, int extra);
    void select(unsigned handle);
    void append(char* record);

    Kind m_kind;
    std::unique_ptr<Track> m_track;
    std::map<QString, unsigned> m_objects;
    unsigned m_nullPen = 0;
};
