// tenemark-icon-render SVG OUTDIR NAME SIZE...: draws the SVG at each size into OUTDIR/SIZExSIZE/NAME.png
// (the application icon for the desktop's icon theme).

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 5) {
        std::fputs("usage: tenemark-icon-render SVG OUTDIR NAME SIZE...\n", stderr);
        return 2;
    }
    QSvgRenderer svg(args[1]);
    if (!svg.isValid()) {
        std::fprintf(stderr, "tenemark-icon-render: cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    for (qsizetype i = 4; i < args.size(); ++i) {
        const int size = args[i].toInt();
        if (size <= 0)
            return 2;
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        const QString folder = QStringLiteral("%1/%2x%2").arg(args[2]).arg(size);
        if (!QDir().mkpath(folder) || !image.save(folder + u'/' + args[3] + QStringLiteral(".png"))) {
            std::fprintf(stderr, "tenemark-icon-render: cannot write into %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
