#include "AppPaths.h"
#include "PictureSamples.h"
#include "PictureService.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;
using namespace PictureSamples;

namespace {

// A WMF "helper" that takes its time and then calls the picture damaged.
QString slowHelperFolder(QTemporaryDir& dir, int seconds) {
    QFile f(dir.filePath(u"tenemark-wmf-render"_s));
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write("#!/bin/sh\ncat > /dev/null\nsleep " + QByteArray::number(seconds) + "\nexit 2\n");
    f.close();
    f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    return dir.path();
}

// Enough of a WMF header for the loader to hand it to the helper.
QByteArray wmfHeader() {
    QByteArray b(18, '\0');
    b[0] = 1;
    b[2] = 9;
    return b;
}

struct Delivery {
    int key;
    PictureResult result;
    bool onGuiThread;
};

} // namespace

class TestPictureService : public QObject {
    Q_OBJECT

    static void record(PictureService& service, QList<Delivery>& into) {
        QObject::connect(&service, &PictureService::pictureReady, &service,
                         [&into](int key, const PictureResult& result) {
                             into.append({key, result, QThread::currentThread() == qApp->thread()});
                         });
    }

private Q_SLOTS:
    void cleanup() { AppPaths::setRuntimeFolderOverride(QString::fromUtf8(TENEMARK_RUNTIME_DIR)); }

    void deliversEveryPictureOnTheGuiThread() {
        PictureService service;
        QList<Delivery> got;
        record(service, got);
        QSignalSpy finished(&service, &PictureService::batchFinished);
        const QImage source = quarters(QSize(800, 600));
        QList<PictureJob> jobs;
        for (int i = 0; i < 6; ++i)
            jobs.append(
                {10 + i, i % 2 ? bmp(source) : jpeg(source), i % 2 ? u".BMP"_s : u".jpg"_s, QSize(165, 145)});
        jobs.append({99, QByteArray("nonsense"), u".jpg"_s, QSize(165, 145)});
        const quint64 batch = service.start(jobs);
        QCOMPARE(service.pending(), 7);
        QVERIFY(service.waitForBatch(30000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(0).toULongLong(), batch);
        QCOMPARE(got.size(), 7);
        QList<int> keys;
        for (const Delivery& d : got) {
            keys.append(d.key);
            QVERIFY(d.onGuiThread);
            if (d.key == 99) {
                QVERIFY(d.result.failure.startsWith(u"Изображение JPEG повреждено"_s));
                continue;
            }
            QCOMPARE(d.result.image.size(), QSize(165, 124));
            QVERIFY(near(d.result.image.pixel(40, 30), TopLeft.rgb()));
        }
        std::sort(keys.begin(), keys.end());
        QCOMPARE(keys, (QList<int>{10, 11, 12, 13, 14, 15, 99}));
        QCOMPARE(service.pending(), 0);
    }

    void deliversInTheOrderPicturesAreReady() {
        QTemporaryDir runtime;
        AppPaths::setRuntimeFolderOverride(slowHelperFolder(runtime, 2));
        PictureService service;
        service.setMaxThreads(2);
        QList<Delivery> got;
        record(service, got);
        const QByteArray photo = jpeg(quarters(QSize(64, 48)));
        service.start({{1, wmfHeader(), u".wmf"_s, QSize(100, 100)},
                       {2, photo, u".jpg"_s, QSize(100, 100)},
                       {3, photo, u".jpg"_s, QSize(100, 100)}});
        QVERIFY(service.waitForBatch(30000));
        QCOMPARE(got.size(), 3);
        // The slow first picture comes last; the others did not wait for it.
        QCOMPARE(got[0].key, 2);
        QCOMPARE(got[1].key, 3);
        QCOMPARE(got[2].key, 1);
        QCOMPARE(got[2].result.failure, u"Метафайл WMF повреждён и не может быть показан"_s);
    }

    void aNewBatchAbandonsTheRunningOne() {
        QTemporaryDir runtime;
        AppPaths::setRuntimeFolderOverride(slowHelperFolder(runtime, 2));
        PictureService service;
        service.setMaxThreads(2);
        QList<Delivery> got;
        record(service, got);
        QSignalSpy finished(&service, &PictureService::batchFinished);
        const QByteArray photo = jpeg(quarters(QSize(64, 48)));
        QList<PictureJob> old;
        for (int i = 0; i < 2; ++i)
            old.append({100 + i, wmfHeader(), u".wmf"_s, QSize(100, 100)});
        for (int i = 2; i < 20; ++i)
            old.append({100 + i, photo, u".jpg"_s, QSize(100, 100)});
        const quint64 first = service.start(old);
        const quint64 second =
            service.start({{1, photo, u".jpg"_s, QSize(50, 50)}, {2, photo, u".jpg"_s, QSize(50, 50)}});
        QVERIFY(second != first);
        QVERIFY(service.waitForBatch(30000));
        // Longer than the old batch's slow helpers would have taken.
        QTest::qWait(2500);
        QList<int> keys;
        for (const Delivery& d : got)
            keys.append(d.key);
        std::sort(keys.begin(), keys.end());
        QCOMPARE(keys, (QList<int>{1, 2}));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(0).toULongLong(), second);
    }

    void aBatchStartedOnDeliveryReplacesTheOld() {
        PictureService service;
        QList<int> keys;
        const QByteArray photo = jpeg(quarters(QSize(64, 48)));
        // As a window does when the user picks another item while pictures arrive.
        connect(&service, &PictureService::pictureReady, &service, [&](int key, const PictureResult&) {
            keys.append(key);
            if (key < 100)
                service.start(
                    {{100, photo, u".jpg"_s, QSize(10, 10)}, {101, photo, u".jpg"_s, QSize(10, 10)}});
        });
        QList<PictureJob> jobs;
        for (int i = 0; i < 10; ++i)
            jobs.append({i, photo, u".jpg"_s, QSize(10, 10)});
        service.start(jobs);
        QVERIFY(service.waitForBatch(30000));
        QCOMPARE(keys.size(), 3);
        QVERIFY(keys[0] < 100);
        std::sort(keys.begin() + 1, keys.end());
        QCOMPARE(keys.mid(1), (QList<int>{100, 101}));
    }

    void cancelDeliversNothing() {
        QTemporaryDir runtime;
        AppPaths::setRuntimeFolderOverride(slowHelperFolder(runtime, 2));
        PictureService service;
        QSignalSpy ready(&service, &PictureService::pictureReady);
        QSignalSpy finished(&service, &PictureService::batchFinished);
        service.start({{1, wmfHeader(), u".wmf"_s, QSize(100, 100)},
                       {2, jpeg(quarters(QSize(64, 48))), u".jpg"_s, QSize(100, 100)}});
        service.cancel();
        QCOMPARE(service.pending(), 0);
        QVERIFY(service.waitForBatch(1000));
        QTest::qWait(500);
        QCOMPARE(ready.size(), 0);
        QCOMPARE(finished.size(), 0);
    }

    void limitsReachTheWorkers() {
        PictureService service;
        PictureLimits limits;
        limits.maxPixels = 1000;
        service.setLimits(limits);
        QCOMPARE(service.limits().maxPixels, 1000);
        QList<Delivery> got;
        record(service, got);
        service.start({{7, jpeg(quarters(QSize(64, 48))), u".jpg"_s, QSize(100, 100)}});
        QVERIFY(service.waitForBatch(30000));
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].result.failure, u"Изображение слишком большое (64 × 48 точек) и не будет показано"_s);
    }
};

QTEST_MAIN(TestPictureService)
#include "tst_pictureservice.moc"
