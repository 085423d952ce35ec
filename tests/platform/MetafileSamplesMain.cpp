// metafile-samples FOLDER: writes every sample of MetafileSamples.h as NAME.wmf and NAME.emf.
// Linked with libUEMF only; the tests that read the samples never load it.

#include "MetafileSamples.h"
#include "MetafileWriter.h"

#include "AppError.h"

#include <QDir>
#include <QFile>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace MetafileSamples;

namespace {

void draw(MetafileWriter& w, const QString& name) {
    if (name == u"fills") {
        w.fillRect(QRect(0, 0, 100, 100), Red);
        w.fillRect(QRect(100, 0, 100, 100), Blue);
        w.fillPolygon({QPoint(120, 50), QPoint(150, 20), QPoint(180, 50), QPoint(150, 80)}, Green);
    } else if (name == u"clip") {
        w.fillRect(QRect(0, 0, 200, 100), Grey);
        w.save();
        w.clipTo(QRect(50, 25, 100, 50));
        w.fillRect(QRect(0, 0, 200, 100), Red);
        w.restore();
        w.fillRect(QRect(0, 90, 200, 10), Blue);
    } else if (name == u"hatch") {
        w.fillRect(QRect(0, 0, 200, 100), Qt::white);
        w.save();
        w.clipTo(QRect(0, 0, 100, 100));
        w.hatchRect(QRect(0, 0, 200, 100), Qt::black, MetafileWriter::Hatch::DiagonalCross);
        w.restore();
    } else if (name == u"text") {
        w.fillRect(QRect(0, 0, 200, 100), Qt::white);
        w.text(QPoint(10, 30), Text, 40, Qt::black);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: metafile-samples FOLDER\n", stderr);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    try {
        for (const QString& name : Names) {
            for (const auto kind : {MetafileWriter::Kind::Wmf, MetafileWriter::Kind::Emf}) {
                MetafileWriter writer(kind, Size.width(), Size.height());
                draw(writer, name);
                QFile file(
                    folder.filePath(name + (kind == MetafileWriter::Kind::Wmf ? u".wmf"_s : u".emf"_s)));
                if (!file.open(QIODevice::WriteOnly) || file.write(writer.finish()) < 0) {
                    std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
                    return 1;
                }
            }
        }
    } catch (const AppError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
