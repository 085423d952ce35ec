#include "ItemDetailsPanel.h"

#include "SlideStrip.h"

#include <QLabel>
#include <QLayout>
#include <QTabWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

ItemDetailsPanel::ItemDetailsPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(u"Panel2"_s);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_pages = new QTabWidget(this);
    m_pages->setObjectName(u"PageControl1"_s);
    layout->addWidget(m_pages);

    auto* general = new QWidget(m_pages);
    general->setObjectName(u"TabSheet1"_s);
    auto* generalLayout = new QVBoxLayout(general);
    generalLayout->setContentsMargins(2, 2, 2, 2);
    StaticText1 = new QLabel(general);
    StaticText1->setObjectName(u"StaticText1"_s);
    StaticText1->setTextFormat(Qt::PlainText);
    StaticText1->setWordWrap(true);
    StaticText1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The text fills the page and is cut off below; however long, it never makes the window grow.
    StaticText1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    generalLayout->addWidget(StaticText1);
    m_pages->addTab(general, u"Общие"_s);

    m_slidesPage = new QWidget(m_pages);
    m_slidesPage->setObjectName(u"TabSheet2"_s);
    auto* slidesLayout = new QVBoxLayout(m_slidesPage);
    slidesLayout->setContentsMargins(0, 0, 0, 0);
    ScrollBox1 = new SlideStrip(SlideStrip::CellFrame::None, m_slidesPage);
    ScrollBox1->setObjectName(u"ScrollBox1"_s);
    ScrollBox1->setAccessibleName(u"Слайды"_s);
    slidesLayout->addWidget(ScrollBox1);
    m_pages->addTab(m_slidesPage, u"Слайды"_s);
}

void ItemDetailsPanel::setText(const QString& text) {
    StaticText1->setText(text);
}

QString ItemDetailsPanel::text() const {
    return StaticText1->text();
}

void ItemDetailsPanel::clearSlides() {
    ScrollBox1->clear();
}

void ItemDetailsPanel::showSlides(QList<SlideRecord> slides) {
    // A page that is not showing keeps the size it had when it last showed, if any; the entries
    // are sized from the strip's width, so give it the width it will show with.
    if (QWidget* current = m_pages->currentWidget(); current && current != m_slidesPage) {
        m_slidesPage->setGeometry(current->geometry());
        m_slidesPage->layout()->setGeometry(m_slidesPage->rect());
    }
    ScrollBox1->setSlides(std::move(slides));
}
