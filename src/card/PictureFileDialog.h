#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// The open-file dialog for slide pictures: one file, the picture formats the program shows with
// the combined entry first, and a preview of the chosen picture decoded by the picture loader.
namespace PictureFileDialog {

QString title();
QStringList nameFilters();

// The chosen file's path; empty when the operator cancels. Runs the chooser that tests set, if
// any, and the dialog otherwise.
QString choose(QWidget* parent);
// The dialog itself (modal, not the platform's native one, so it looks and behaves the same
// everywhere).
QString run(QWidget* parent);

// The extension of a file name as the slides store it: from the last dot on, spelt as in the
// name ("PHOTO.JPG" -> ".JPG"); empty when the name has no dot.
QString extensionOf(const QString& path);

} // namespace PictureFileDialog

namespace PictureFileDialogTestSeam {

// Replaces the dialog with `chooser` until reset with an empty function.
void setChooser(std::function<QString(QWidget*)> chooser);

} // namespace PictureFileDialogTestSeam
