// The programs' icon, rendered from its SVG (or, on Windows, from PNGs made at build time).
#pragma once

#include <QIcon>
#include <QString>

namespace vantor::ui {

// The program's icon (its SVG, a Qt resource path such as ":/icons/quorix.svg") rendered at the
// sizes title bars, task bars and about boxes use, 16 to 256 pixels. Windows builds carry no SVG
// renderer: there the PNGs rendered from the SVG at build time beside it are used
// (":/icons/quorix-16.png" ... "-256.png").
QIcon ApplicationIcon(const QString& svgResource);

}  // namespace vantor::ui
