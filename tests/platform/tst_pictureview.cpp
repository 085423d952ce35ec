#include "PictureSamples.h"
#include "PictureView.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace PictureSamples;

class TestPictureView : public QObject {
    Q_OBJECT

    static QImage shot(PictureView& view) { return view.grab().toImage(); }

private Q_SLOTS:
    void startsLoading() {
        PictureView view;
        view.resize(200, 100);
        QCOMPARE(view.state(), PictureView::State::Loading);
        QCOMPARE(view.accessibleName(), u"Изображение загружается"_s);
        QCOMPARE(view.targetSize(), QSize(200, 100));
        QVERIFY(view.pictureRect().isNull());
    }

    void picturesAreFittedAndCentred_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QRect>("placed");
        QTest::newRow("reduced, tall") << QSize(400, 400) << QRect(50, 0, 100, 100);
        QTest::newRow("enlarged, wide") << QSize(20, 5) << QRect(0, 25, 200, 50);
        QTest::newRow("same shape") << QSize(100, 50) << QRect(0, 0, 200, 100);
    }
    void picturesAreFittedAndCentred() {
        QFETCH(QSize, picture);
        QFETCH(QRect, placed);
        PictureView view;
        view.resize(200, 100);
        QImage image(picture, QImage::Format_RGB32);
        image.fill(TopLeft);
        PictureResult result;
        result.image = image;
        view.setResult(result);
        QCOMPARE(view.state(), PictureView::State::Shown);
        QCOMPARE(view.pictureRect(), placed);
        QCOMPARE(view.accessibleName(), u"Изображение"_s);
        QCOMPARE(view.accessibleDescription(), QString());
        const QImage s = shot(view);
        const QRgb background = view.palette().color(QPalette::Window).rgb();
        QVERIFY(near(s.pixel(placed.center()), TopLeft.rgb(), 2));
        QVERIFY(near(s.pixel(placed.topLeft() + QPoint(1, 1)), TopLeft.rgb(), 2));
        if (placed.left() > 0)
            QCOMPARE(s.pixel(placed.left() - 2, placed.center().y()), background);
        if (placed.top() > 0)
            QCOMPARE(s.pixel(placed.center().x(), placed.top() - 2), background);

        // After a resize the picture follows.
        view.resize(100, 100);
        const QRect again = view.pictureRect();
        QCOMPARE(again.center(), QRect(0, 0, 100, 100).center());
        QVERIFY(near(shot(view).pixel(again.center()), TopLeft.rgb(), 2));
    }

    void incompletePicturesCarryAMark() {
        PictureView view;
        view.resize(200, 100);
        QImage image(200, 100, QImage::Format_RGB32);
        image.fill(BottomLeft);
        view.setPicture(image, false);
        const QPoint corner(200 - 3 - 9, 100 - 3 - 9); // inside the mark, at its centre
        QVERIFY(near(shot(view).pixel(corner), BottomLeft.rgb(), 2));
        view.setPicture(image, true);
        QVERIFY(view.isIncomplete());
        QVERIFY(near(shot(view).pixel(corner), qRgb(0xe0, 0x8a, 0x00), 40) ||
                near(shot(view).pixel(corner), qRgb(255, 255, 255), 40));
        QVERIFY(!near(shot(view).pixel(corner), BottomLeft.rgb(), 40));
        QVERIFY(near(shot(view).pixel(40, 40), BottomLeft.rgb(), 2));
        QCOMPARE(view.accessibleDescription(), u"Изображение повреждено: показана только его часть"_s);
        QCOMPARE(view.toolTip(), view.accessibleDescription());
    }

    void failuresShowTheReason() {
        PictureView view;
        view.resize(200, 160);
        QImage image(200, 160, QImage::Format_RGB32);
        image.fill(TopRight);
        view.setPicture(image);
        PictureResult failed;
        failed.failure = u"Неизвестный формат изображения «.png»"_s;
        view.setResult(failed);
        QCOMPARE(view.state(), PictureView::State::Failed);
        QCOMPARE(view.failure(), failed.failure);
        QVERIFY(view.image().isNull());
        QVERIFY(view.pictureRect().isNull());
        QCOMPARE(view.accessibleName(), u"Изображение не показано"_s);
        QCOMPARE(view.accessibleDescription(), failed.failure);
        QCOMPARE(view.toolTip(), failed.failure);
        // The picture shown before is gone.
        const QImage s = shot(view);
        for (const QPoint pt : {QPoint(20, 20), QPoint(100, 80), QPoint(180, 140)})
            QVERIFY(!near(s.pixel(pt), TopRight.rgb(), 30));

        view.setFailure(QString());
        QCOMPARE(view.accessibleDescription(), u"Изображение не может быть показано"_s);
        view.setLoading();
        QCOMPARE(view.state(), PictureView::State::Loading);
        QCOMPARE(view.accessibleDescription(), QString());
        QVERIFY(view.failure().isEmpty());
    }

    void reportsReleasedButtons() {
        PictureView view;
        view.resize(100, 100);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QSignalSpy released(&view, &PictureView::mouseReleased);
        QTest::mouseClick(&view, Qt::RightButton, {}, QPoint(30, 40));
        QCOMPARE(released.size(), 1);
        QCOMPARE(released.at(0).at(0).value<Qt::MouseButton>(), Qt::RightButton);
        QCOMPARE(released.at(0).at(1).toPoint(), view.mapToGlobal(QPoint(30, 40)));
    }
};

QTEST_MAIN(TestPictureView)
#include "tst_pictureview.moc"
