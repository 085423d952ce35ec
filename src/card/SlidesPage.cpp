#include "SlidesPage.h"

#include "AppError.h"
#include "Database.h"
#include "Dialogs.h"
#include "Guard.h"
#include "Icons.h"
#include "PictureFileDialog.h"
#include "SlideStore.h"
#include "SlideStrip.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>

using namespace Qt::StringLiterals;

namespace {

QPushButton* pageButton(const QString& name, const QString& text, const char16_t* icon, int top,
                        QWidget* parent) {
    auto* button = new QPushButton(Icons::get(icon), text, parent);
    button->setObjectName(name);
    button->setGeometry(312, top, 145, 25);
    button->setIconSize(QSize(16, 16));
    button->setAutoDefault(false);
    return button;
}

// The whole content of a picture file. Anything but a regular file (a device, a pipe, a folder)
// and a file above MaxPictureFileBytes is refused before a byte is read; a file that changes its
// size while it is read is refused too, never read on.
QByteArray readPictureFile(const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (!info.isFile())
        throw AppError(u"Файл %1 не вставлен: это не обычный файл с картинкой"_s.arg(shown));
    if (info.size() > SlidesPage::MaxPictureFileBytes)
        throw AppError(u"Файл %1 не вставлен: он больше %2 МБ"_s.arg(
            shown, QString::number(SlidesPage::MaxPictureFileBytes / (1024 * 1024))));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(u"%1: %2"_s.arg(shown, file.errorString()));
    QByteArray bytes = file.read(info.size());
    if (file.error() != QFileDevice::NoError)
        throw AppError(u"%1: %2"_s.arg(shown, file.errorString()));
    char more = 0;
    if (bytes.size() != info.size() || file.read(&more, 1) != 0)
        throw AppError(u"Файл %1 не вставлен: он изменился, пока его читали"_s.arg(shown));
    return bytes;
}

} // namespace

SlidesPage::SlidesPage(StoreQuery& query, QWidget* parent) : QWidget(parent), m_query(query) {
    m_strip = new SlideStrip(SlideStrip::CellFrame::Raised, this);
    m_strip->setObjectName(u"ScrollBox1"_s);
    m_strip->setAccessibleName(u"Слайды"_s);
    m_strip->setGeometry(8, 8, 289, 393);

    BitBtn1 = pageButton(u"BitBtn1"_s, u"Вст. из файла"_s, u"picture_file", 8, this);
    BitBtn2 = pageButton(u"BitBtn2"_s, u"Сканировать"_s, u"scan", 40, this);

    m_newItemHint = new QLabel(u"Фотографии добавляются к сохранённому элементу."_s, this);
    m_newItemHint->setObjectName(u"NewItemSlidesHint"_s);
    m_newItemHint->setWordWrap(true);
    m_newItemHint->setGeometry(312, 76, 145, 48);
    m_newItemHint->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_slideMenu = new QMenu(this);
    m_slideMenu->setObjectName(u"PopupMenu1"_s);
    N1 = m_slideMenu->addAction(u"Удалить"_s);
    N1->setObjectName(u"N1"_s);

    connect(BitBtn1, &QPushButton::clicked, this, guarded(this, [this] { BitBtn1Click(); }));
    connect(N1, &QAction::triggered, this, guarded(this, [this] { N1Click(); }));
    connect(m_strip, &SlideStrip::captionDoubleClicked, this,
            [this](SlideCell* cell) { guard(this, [this, cell] { EditSlideNote(cell); }); });
    connect(m_strip, &SlideStrip::pictureReleased, this,
            [this](SlideCell* cell, Qt::MouseButton button, const QPoint& globalPos) {
                guard(this, [&] { ShowSlideMenu(cell, button, globalPos); });
            });
    setItemId(0);
}

void SlidesPage::setItemId(int itemId) {
    if (itemId != m_itemId)
        m_strip->clear();
    m_itemId = itemId;
    BitBtn1->setEnabled(itemId != 0);
    BitBtn2->setEnabled(itemId != 0);
    m_newItemHint->setVisible(itemId == 0);
}

void SlidesPage::LoadSlides(const QHash<int, PictureResult>& ready) {
    m_strip->clear();
    if (m_itemId == 0)
        return;
    m_strip->setSlides(SlideStore::loadSlides(m_query, m_itemId), ready);
}

void SlidesPage::BitBtn1Click() {
    if (m_itemId == 0)
        return;
    const QString path = PictureFileDialog::choose(this);
    if (path.isEmpty())
        return;
    const QByteArray bytes = readPictureFile(path);
    // A refused insert leaves the picture bound to nothing: the query object starts afresh.
    auto release = qScopeGuard([this] { m_query = StoreQuery(m_query.database()); });
    Database::reloadIfUncertain(
        [&] { SlideStore::insertSlide(m_query, m_itemId, PictureFileDialog::extensionOf(path), bytes); },
        [this] { LoadSlides(); });
    release.dismiss();
    LoadSlides();
}

void SlidesPage::EditSlideNote(SlideCell* cell) {
    const QPointer<SlideCell> caption(cell);
    const int slideId = cell->slideId();
    const std::optional<QString> stored = SlideStore::findSlideNotes(m_query, slideId);
    if (!stored)
        return;
    QString notes = *stored;
    if (!Dialogs::promptText(this, u"Изменение примечания"_s, u"Прмечание: "_s, notes))
        return;
    // Stored first: a refused update leaves the caption showing what is stored.
    Database::reloadIfUncertain([&] { SlideStore::updateSlideNotes(m_query, slideId, notes); },
                                [this] { LoadSlides(); });
    if (caption)
        caption->setNotes(notes);
}

void SlidesPage::ShowSlideMenu(SlideCell* cell, Qt::MouseButton button, const QPoint& globalPos) {
    if (button != Qt::RightButton)
        return;
    SelectedSlideId = cell->slideId();
    m_slideMenu->popup(globalPos);
}

void SlidesPage::N1Click() {
    Database::reloadIfUncertain([this] { SlideStore::deleteSlide(m_query, SelectedSlideId); },
                                [this] { LoadSlides(); });
    LoadSlides();
}
