#pragma once

#include "design/SettingsComponents.h"

#include <QWidget>

namespace murel::bench {

// Repaints `widget` and all it shows. A settings page's column is opaque and
// covers the page, so repainting the page, or the window holding it, leaves
// the page's content alone: the columns are repainted as well.
inline void repaintWhole(QWidget* widget) {
  widget->repaint();
  for (SettingsPageLayout* page : widget->findChildren<SettingsPageLayout*>()) page->widget()->repaint();
}

}  // namespace murel::bench
