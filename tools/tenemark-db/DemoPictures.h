#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A small pool of generated pictures for the demonstration catalogue: the stored bytes, the
// extension they are stored with and a note.
struct DemoPicture {
    QByteArray bytes;
    QString ext;
    QString note;
};

// `count` JPEG photographs, alternating street views and rooms in varied colours, stored as .jpg,
// .jpeg and .JPG; the same every run.
QList<DemoPicture> makeDemoPictures(int count, int width = 800, int height = 600);

// One or more pictures of every other kind the program shows: bitmaps (.bmp, .BMP), an icon
// (.ico), floor and site plans as metafiles (.wmf, .WMF, .emf, .EMF) and a portrait photograph
// stored on its side with an EXIF orientation, as phones store them. The same every run.
QList<DemoPicture> makeDemoExtras();
