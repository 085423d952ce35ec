#include "Dialogs.h"
#include "JpegCodec.h"
#include "PictureFileDialog.h"
#include "PictureService.h"
#include "PictureView.h"
#include "SlideStrip.h"
#include "SlidesPage.h"
#include "TDirectoryForm.h"
#include "TKvartaEditForm.h"
#include "TestSupport.h"

#include <QApplication>
#include <QBuffer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

QByteArray jpeg(const QColor& colour, QSize size = QSize(240, 180)) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return JpegCodec::encode(image, 90);
}

QByteArray bmp(const QColor& colour) {
    QImage image(QSize(64, 48), QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

struct Fixture {
    TempCatalogue catalogue;
    std::unique_ptr<TDirectoryForm> directory;
    std::unique_ptr<TKvartaEditForm> card;
    int item = 0;

    Fixture() {
        item = catalogue.addItem(
            {{u"etazh"_s, 1}, {u"etazhnost"_s, 9}, {u"obsh_plosh"_s, 40.0}, {u"stoim"_s, 0}, {u"dolg"_s, 0}});
        directory = std::make_unique<TDirectoryForm>();
        card = std::make_unique<TKvartaEditForm>(directory.get());
    }
    ~Fixture() {
        PictureFileDialogTestSeam::setChooser({});
        card.reset();
        directory.reset();
    }

    int addSlide(int parent, const QString& ext, const QByteArray& picture,
                 const QVariant& notes = QVariant()) {
        catalogue.exec(u"insert into slides (parent_id, ext, picture, notes) values (?, ?, ?, ?)"_s,
                       {parent, ext, picture, notes});
        return catalogue.scalar(u"select max(id) from slides"_s).toInt();
    }
    int slideCount(int parent) {
        return catalogue.scalar(u"select count(*) from slides where parent_id=?"_s, {parent}).toInt();
    }
    QVariant slide(int id, const QString& column) {
        return catalogue.scalar(u"select %1 from slides where id=?"_s.arg(column), {id});
    }

    SlidesPage& page() { return *card->slidesPage(); }
    SlideStrip& strip() { return *page().strip(); }
    QPushButton& button(const char* name) { return *card->findChild<QPushButton*>(QLatin1StringView(name)); }
    void showSlidesPage(QWidget* w) {
        auto* pages = w->findChild<QTabWidget*>(u"PageControl1"_s);
        pages->setCurrentWidget(&page());
    }
    bool waitForPictures() { return strip().pictureService().waitForBatch(20000); }
    QStringList captions() {
        QStringList r;
        for (int i = 0; i < strip().count(); ++i)
            r.append(strip().cell(i)->caption()->text());
        return r;
    }
    // Opens the card on `id`, runs `action` while it shows and closes it with Cancel.
    void whileEditing(int id, const std::function<void(QWidget*)>& action) {
        bool done = false;
        onNextModal([&](QWidget* w) {
            action(w);
            done = true;
            QTest::mouseClick(w->findChild<QPushButton*>(u"CancelBtn"_s), Qt::LeftButton);
        });
        QVERIFY(!card->OpenForEdit(id));
        QVERIFY(done);
    }
};

} // namespace

class CardSlidesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { DialogsTestSeam::clear(); }

    void pageAsLaidOut() {
        Fixture f;
        QCOMPARE(f.strip().geometry(), QRect(8, 8, 289, 393));
        QCOMPARE(f.strip().horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(f.button("BitBtn1").text(), u"Вст. из файла"_s);
        QCOMPARE(f.button("BitBtn1").geometry(), QRect(312, 8, 145, 25));
        QCOMPARE(f.button("BitBtn2").text(), u"Сканировать"_s);
        QCOMPARE(f.button("BitBtn2").geometry(), QRect(312, 40, 145, 25));
        QVERIFY(!f.button("BitBtn2").isEnabled());
        auto* n1 = f.card->findChild<QAction*>(u"N1"_s);
        QVERIFY(n1);
        QCOMPARE(n1->text(), u"Удалить"_s);
    }

    void addNoteAndDeleteAreWrittenAtOnce() {
        Fixture f;
        const QByteArray photo = jpeg(QColor(200, 40, 40));
        f.catalogue.writeFile(u"PHOTO.JPG"_s, photo);
        const QString path = f.catalogue.path(u"PHOTO.JPG"_s);
        int chooserCalls = 0;
        PictureFileDialogTestSeam::setChooser([&](QWidget*) {
            ++chooserCalls;
            return path;
        });

        f.whileEditing(f.item, [&](QWidget* w) {
            f.showSlidesPage(w);
            QCOMPARE(f.strip().count(), 0);
            QVERIFY(f.button("BitBtn1").isEnabled());
            // The same file twice: two slides with the file's bytes, the extension as spelt.
            QTest::mouseClick(&f.button("BitBtn1"), Qt::LeftButton);
            QTest::mouseClick(&f.button("BitBtn1"), Qt::LeftButton);
            QCOMPARE(chooserCalls, 2);
            QCOMPARE(f.strip().count(), 2);
            QVERIFY(f.waitForPictures());
            QCOMPARE(f.strip().cell(0)->picture()->state(), PictureView::State::Shown);
            QCOMPARE(f.strip().cell(0)->height(), 269);
            QCOMPARE(f.captions(), (QStringList{u"Примечание: "_s, u"Примечание: "_s}));

            // A note through the prompt: shown at once, stored at once.
            SlideCell* cell = f.strip().cell(1);
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok, u"Вид из окна"_s);
            QTest::mouseDClick(cell->caption(), Qt::LeftButton);
            QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Prompt);
            QCOMPARE(DialogsTestSeam::last().title, u"Изменение примечания"_s);
            QCOMPARE(DialogsTestSeam::last().text, u"Прмечание: "_s);
            QCOMPARE(cell->caption()->text(), u"Примечание: Вид из окна"_s);
            QCOMPARE(f.slide(cell->slideId(), u"notes"_s).toString(), u"Вид из окна"_s);

            // The menu on a right-button release deletes that slide.
            const int kept = f.strip().cell(1)->slideId();
            const int removed = f.strip().cell(0)->slideId();
            PictureView* picture = f.strip().cell(0)->picture();
            QTest::mouseRelease(picture, Qt::LeftButton, {}, picture->rect().center());
            QVERIFY(!QApplication::activePopupWidget());
            QTest::mouseRelease(picture, Qt::RightButton, {}, picture->rect().center());
            QCOMPARE(f.page().selectedSlideId(), removed);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu);
            QAction* n1 = f.card->findChild<QAction*>(u"N1"_s);
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(n1).center());
            QVERIFY(!QApplication::activePopupWidget());
            QCOMPARE(f.strip().count(), 1);
            QCOMPARE(f.strip().cell(0)->slideId(), kept);
            QCOMPARE(f.captions(), QStringList{u"Примечание: Вид из окна"_s});
        });

        // Cancel keeps all of it.
        QCOMPARE(f.slideCount(f.item), 1);
        const int id = f.catalogue.scalar(u"select id from slides"_s).toInt();
        QCOMPARE(f.slide(id, u"ext"_s).toString(), u".JPG"_s);
        QCOMPARE(f.slide(id, u"picture"_s).toByteArray(), photo);
        QCOMPARE(f.slide(id, u"notes"_s).toString(), u"Вид из окна"_s);
        QCOMPARE(f.slide(id, u"parent_id"_s).toInt(), f.item);
        QVERIFY(DialogsTestSeam::shown().size() == 1); // the prompt, no error
    }

    void notePromptStartsFromTheStoredNote() {
        Fixture f;
        const int slide = f.addSlide(f.item, u".bmp"_s, bmp(Qt::green), u"старое"_s);
        const int other = f.addSlide(f.item, u".bmp"_s, bmp(Qt::blue));
        f.whileEditing(f.item, [&](QWidget* w) {
            f.showSlidesPage(w);
            QCOMPARE(f.captions(), (QStringList{u"Примечание: старое"_s, u"Примечание: "_s}));
            // The real prompt shows the stored note, not the caption.
            f.catalogue.exec(u"update slides set notes='в базе' where id=?"_s, {slide});
            QString initial;
            onNextModal([&](QWidget* prompt) {
                auto* field = prompt->findChild<QLineEdit*>();
                initial = field->text();
                field->setText(u"новое"_s);
                QTest::keyClick(field, Qt::Key_Return);
            });
            QTest::mouseDClick(f.strip().cellOf(slide)->caption(), Qt::LeftButton);
            QCOMPARE(initial, u"в базе"_s);
            QCOMPARE(f.strip().cellOf(slide)->caption()->text(), u"Примечание: новое"_s);

            // Cancelled: nothing changes.
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Cancel);
            QTest::mouseDClick(f.strip().cellOf(other)->caption(), Qt::LeftButton);
            QCOMPARE(f.strip().cellOf(other)->caption()->text(), u"Примечание: "_s);
            QVERIFY(f.slide(other, u"notes"_s).isNull());

            // An empty entry leaves the caption with its label alone.
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok, QString());
            QTest::mouseDClick(f.strip().cellOf(slide)->caption(), Qt::LeftButton);
            QCOMPARE(f.strip().cellOf(slide)->caption()->text(), u"Примечание: "_s);
            QCOMPARE(f.slide(slide, u"notes"_s).toString(), QString());

            // A slide deleted elsewhere: no prompt, nothing happens.
            f.catalogue.exec(u"delete from slides where id=?"_s, {other});
            const int prompts = int(DialogsTestSeam::shown().size());
            QTest::mouseDClick(f.strip().cellOf(other)->caption(), Qt::LeftButton);
            QCOMPARE(int(DialogsTestSeam::shown().size()), prompts);
        });
        QCOMPARE(f.slide(slide, u"notes"_s).toString(), QString());
    }

    void cancelledFileDialogAddsNothing() {
        Fixture f;
        PictureFileDialogTestSeam::setChooser([](QWidget*) { return QString(); });
        f.whileEditing(f.item, [&](QWidget*) { f.button("BitBtn1").click(); });
        QCOMPARE(f.slideCount(f.item), 0);
        QVERIFY(DialogsTestSeam::shown().isEmpty());
    }

    // "Вст. из файла" refuses a device and too large a file before reading them.
    void fileInsertRefusesBeforeReading_data() {
        QTest::addColumn<qint64>("size");     // -1: a link to a device
        QTest::addColumn<QString>("message"); // %1: the file's path; empty when stored
        const qint64 limit = 64 * 1024 * 1024;
        QTest::newRow("link to a device")
            << qint64(-1) << u"Файл %1 не вставлен: это не обычный файл с картинкой."_s;
        QTest::newRow("above the limit") << limit + 1 << u"Файл %1 не вставлен: он больше 64 МБ."_s;
        QTest::newRow("at the limit") << limit << QString();
    }
    void fileInsertRefusesBeforeReading() {
        QFETCH(qint64, size);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"p.jpg"_s);
        QFile file(path);
        // A sparse file takes no room on the disk.
        QVERIFY(size < 0 ? QFile::link(u"/dev/zero"_s, path)
                         : file.open(QIODevice::WriteOnly) && file.resize(size));
        Fixture f;
        PictureFileDialogTestSeam::setChooser([&](QWidget*) { return path; });
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
        f.whileEditing(f.item, [&](QWidget*) { f.button("BitBtn1").click(); });
        QCOMPARE(DialogsTestSeam::shown().isEmpty() ? QString() : DialogsTestSeam::last().text,
                 message.isEmpty() ? message : message.arg(path));
        QCOMPARE(
            f.catalogue
                .scalar(u"select coalesce(sum(length(picture)), 0) from slides where parent_id=?"_s, {f.item})
                .toLongLong(),
            message.isEmpty() ? size : 0);
    }

    void stripShowsTheOpenedItemsSlidesOnly() {
        Fixture f;
        const int other = f.catalogue.addItem({{u"etazh"_s, 2}});
        f.addSlide(f.item, u".bmp"_s, bmp(Qt::red), u"моё"_s);
        f.addSlide(other, u".bmp"_s, bmp(Qt::blue), u"чужое"_s);
        f.addSlide(f.item, u".jpg"_s, QByteArray("broken"), u"битое"_s);
        f.whileEditing(f.item, [&](QWidget*) {
            QCOMPARE(f.captions(), (QStringList{u"Примечание: моё"_s, u"Примечание: битое"_s}));
            QVERIFY(f.waitForPictures());
            QCOMPARE(f.strip().cell(0)->picture()->state(), PictureView::State::Shown);
            QCOMPARE(f.strip().cell(1)->picture()->state(), PictureView::State::Failed);
        });
        QVERIFY(DialogsTestSeam::shown().isEmpty());
        f.whileEditing(other, [&](QWidget*) { QCOMPARE(f.captions(), QStringList{u"Примечание: чужое"_s}); });
    }

    void newItemOffersNoSlides() {
        Fixture f;
        f.addSlide(f.item, u".bmp"_s, bmp(Qt::red), u"прежнего"_s);
        f.whileEditing(f.item, [&](QWidget*) { QCOMPARE(f.strip().count(), 1); });
        bool seen = false;
        onNextModal([&](QWidget* w) {
            // Photographs would land on the item opened before: nothing to add to yet.
            QCOMPARE(f.strip().count(), 0);
            QVERIFY(!f.button("BitBtn1").isEnabled());
            QVERIFY(!f.button("BitBtn2").isEnabled());
            QVERIFY(f.card->findChild<QLabel*>(u"NewItemSlidesHint"_s)->isVisibleTo(&f.page()));
            seen = true;
            QTest::mouseClick(w->findChild<QPushButton*>(u"CancelBtn"_s), Qt::LeftButton);
        });
        QVERIFY(!f.card->OpenForNew());
        QVERIFY(seen);
        QCOMPARE(f.card->itemId(), f.item);
        QCOMPARE(f.slideCount(f.item), 1);
    }

    void fileDialogOffersPicturesWithPreview() {
        TempCatalogue catalogue;
        catalogue.writeFile(u"flat.bmp"_s, bmp(Qt::blue));
        catalogue.writeFile(u"notes.txt"_s, "text");
        catalogue.writeFile(u"PHOTO.JPG"_s, jpeg(Qt::red));
        const QString path = catalogue.path(u"flat.bmp"_s);
        QString title;
        QStringList filters;
        bool native = true;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        PictureView::State previewState = PictureView::State::Loading;
        QString previewSize;
        onNextModal([&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            QVERIFY(dialog);
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            native = !dialog->testOption(QFileDialog::DontUseNativeDialog);
            mode = dialog->fileMode();
            dialog->setDirectory(catalogue.folder());
            // The folder is read in the background; a file is chosen once it is listed. The
            // pictures are listed whatever the letter case of their names, nothing else is.
            auto* files = dialog->findChild<QListView*>(u"listView"_s);
            QTRY_COMPARE_WITH_TIMEOUT(files->model()->rowCount(files->rootIndex()), 2, 10000);
            // The operator clicks the file.
            QModelIndex flat;
            for (int row = 0; row < 2; ++row) {
                const QModelIndex index = files->model()->index(row, 0, files->rootIndex());
                if (index.data().toString() == u"flat.bmp"_s)
                    flat = index;
            }
            QVERIFY(flat.isValid());
            QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, files->visualRect(flat).center());
            auto* preview = dialog->findChild<PictureView*>(u"PreviewPicture"_s);
            QTRY_COMPARE_WITH_TIMEOUT(preview->state(), PictureView::State::Shown, 10000);
            previewState = preview->state();
            previewSize = dialog->findChild<QLabel*>(u"PreviewSize"_s)->text();
            static_cast<QDialog*>(dialog)->accept();
        });
        const QString chosen = PictureFileDialog::run(nullptr);
        QCOMPARE(title, u"Вставить картинку из файла"_s);
        QCOMPARE(filters.value(0), u"All (*.jpeg *.jpg *.bmp *.ico *.emf *.wmf)"_s);
        QCOMPARE(filters.size(), 6);
        QVERIFY(!native);
        QCOMPARE(mode, QFileDialog::ExistingFile);
        QCOMPARE(previewState, PictureView::State::Shown);
        QCOMPARE(previewSize, u"64 × 48"_s);
        QCOMPARE(chosen, path);
    }

    void extensionAsSpeltInTheName_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("ext");
        QTest::newRow("upper case") << u"/photos/PHOTO.JPG"_s << u".JPG"_s;
        QTest::newRow("last dot") << u"flat.2024.jpeg"_s << u".jpeg"_s;
        QTest::newRow("none") << u"picture"_s << QString();
        QTest::newRow("dot in a folder") << u"/a.b/picture"_s << QString();
        QTest::newRow("trailing dot") << u"picture."_s << u"."_s;
    }
    void extensionAsSpeltInTheName() {
        QFETCH(QString, path);
        QFETCH(QString, ext);
        QCOMPARE(PictureFileDialog::extensionOf(path), ext);
    }
};

QTEST_MAIN(CardSlidesTest)
#include "tst_cardslides.moc"
