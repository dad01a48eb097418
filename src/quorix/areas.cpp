// The area table's look-up and the area field's text.
#include "quorix/areas.h"

namespace vantor::quorix {

std::optional<Area> FindArea(const QString& name) {
  for (const Area& area : kAreas) {
    if (name == QLatin1String(area.name))
      return area;
  }
  return std::nullopt;
}

QString AreaFieldText(const Area& area) {
  return QString::asprintf("0x%06x(%i)", static_cast<unsigned>(area.offset), area.size);
}

}  // namespace vantor::quorix
