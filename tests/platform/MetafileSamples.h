#pragma once

#include <QColor>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>

// The metafiles that metafile-samples writes, and what they show. Every sample is 200 x 100
// logical units (pixels at 96 dpi) on white unless it paints its own background.
namespace MetafileSamples {

inline const QSize Size(200, 100);

// "fills": red left half, blue right half, a green diamond (120, 50)-(150, 20)-(180, 50)-(150, 80).
// "clip": grey everywhere; red drawn over all of it but clipped to (50, 25)-(150, 75); after the
//         clip is undone a blue band along the bottom (y 90..99).
// "hatch": a black diagonal-cross hatch over the whole picture, clipped to the left half
//          (libemf2svg draws hatched brushes solid).
// "text": the word in Text, black, 40 units high, its top left corner at (10, 30).
inline const QStringList Names = {QStringLiteral("fills"), QStringLiteral("clip"), QStringLiteral("hatch"),
                                  QStringLiteral("text")};
inline const QColor Red(220, 20, 20);
inline const QColor Blue(20, 40, 200);
inline const QColor Green(20, 170, 40);
inline const QColor Grey(200, 200, 200);
inline const QString Text = QStringLiteral("Tenemark");

} // namespace MetafileSamples
