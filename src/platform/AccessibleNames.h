#pragma once

#include <QString>

class QWidget;

// Names for assistive technology, so that a screen reader can tell every control.
namespace AccessibleNames {

// Names the controls of a window that show no text of their own: a picture-only button by its
// hint, a field by the label placed just before it (the label becomes the field's buddy).
// Run at the end of a window's construction; names given explicitly are kept.
void nameControls(QWidget* window);

// The name of a selector's lookup button, from the selector's label ("Группа:").
QString lookupButtonName(const QString& label);

} // namespace AccessibleNames
