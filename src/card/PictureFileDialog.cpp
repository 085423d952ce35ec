#include "PictureFileDialog.h"

#include "PictureService.h"
#include "PictureView.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

// Files larger than this are not read for the preview.
constexpr qint64 PreviewFileLimit = qint64(256) << 20;

std::function<QString(QWidget*)>& chooserOverride() {
    static std::function<QString(QWidget*)> chooser;
    return chooser;
}

// The preview beside the file list: the current file's picture, fitted, and its own size.
class PicturePreview : public QWidget {
public:
    explicit PicturePreview(QWidget* parent) : QWidget(parent) {
        setObjectName(u"PicturePreview"_s);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(6, 0, 0, 0);
        m_view = new PictureView(this);
        m_view->setObjectName(u"PreviewPicture"_s);
        m_view->setFixedSize(200, 200);
        m_view->hide();
        layout->addWidget(m_view);
        m_size = new QLabel(this);
        m_size->setObjectName(u"PreviewSize"_s);
        m_size->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        m_size->setFixedWidth(200);
        layout->addWidget(m_size);
        layout->addStretch(1);
        m_service = new PictureService(this);
        m_service->setMaxThreads(1);
        QObject::connect(m_service, &PictureService::pictureReady, this, [this](int, const PictureResult& r) {
            m_view->setResult(r);
            m_size->setText(r.sourceSize.isEmpty()
                                ? QString()
                                : u"%1 × %2"_s.arg(r.sourceSize.width()).arg(r.sourceSize.height()));
        });
    }

    void showFile(const QString& path) {
        m_service->cancel();
        m_size->clear();
        const QFileInfo info(path);
        if (path.isEmpty() || !info.isFile()) {
            m_view->hide();
            return;
        }
        m_view->show();
        if (info.size() > PreviewFileLimit) {
            m_view->setFailure(u"Файл слишком большой для просмотра"_s);
            return;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            m_view->setFailure(file.errorString());
            return;
        }
        m_view->setLoading();
        m_service->start({{0, file.readAll(), PictureFileDialog::extensionOf(path), m_view->targetSize()}});
    }

private:
    PictureView* m_view;
    QLabel* m_size;
    PictureService* m_service;
};

} // namespace

namespace PictureFileDialog {

QString title() {
    return u"Вставить картинку из файла"_s;
}

QStringList nameFilters() {
    return {u"All (*.jpeg *.jpg *.bmp *.ico *.emf *.wmf)"_s,
            u"JPEG Image File (*.jpeg *.jpg)"_s,
            u"Bitmaps (*.bmp)"_s,
            u"Icons (*.ico)"_s,
            u"Enhanced Metafiles (*.emf)"_s,
            u"Metafiles (*.wmf)"_s};
}

QString choose(QWidget* parent) {
    if (chooserOverride())
        return chooserOverride()(parent);
    return run(parent);
}

QString run(QWidget* parent) {
    QFileDialog dialog(parent, title());
    dialog.setObjectName(u"OpenPictureDialog"_s);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(nameFilters());
    auto* preview = new PicturePreview(&dialog);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
        grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
    QObject::connect(&dialog, &QFileDialog::currentChanged, preview,
                     [preview](const QString& path) { preview->showFile(path); });
    dialog.resize(dialog.sizeHint().width() + 220, dialog.sizeHint().height());
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

QString extensionOf(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : name.mid(dot);
}

} // namespace PictureFileDialog

namespace PictureFileDialogTestSeam {

void setChooser(std::function<QString(QWidget*)> chooser) {
    chooserOverride() = std::move(chooser);
}

} // namespace PictureFileDialogTestSeam
