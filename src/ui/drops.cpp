// The control under a drop point (see drops.h).
#include "ui/drops.h"

namespace vantor::ui {

QWidget* ChildAtDropPoint(QWidget* dialog, const QPoint& point) {
  if (dialog == nullptr)
    return nullptr;
  const QObjectList& children = dialog->children();
  // Later children are stacked above earlier ones: the topmost control under the point wins.
  for (auto it = children.crbegin(); it != children.crend(); ++it) {
    if (!(*it)->isWidgetType())
      continue;
    auto* child = static_cast<QWidget*>(*it);
    if (child->isWindow() || child->isHidden())
      continue;
    if (child->geometry().contains(point))
      return child;
  }
  return nullptr;
}

}  // namespace vantor::ui
