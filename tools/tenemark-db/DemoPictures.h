#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A small pool of generated photographs (JPEG bytes) for the demonstration catalogue.
struct DemoPicture {
    QByteArray jpeg;
    QString note;
};

// `count` pictures, alternating street views and rooms in varied colours; the same every run.
QList<DemoPicture> makeDemoPictures(int count, int width = 800, int height = 600);
