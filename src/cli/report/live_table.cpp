// The live table (see live_table.h).
#include "cli/report/live_table.h"

namespace vantor::cli {

void LiveTable::Draw(const std::vector<std::string>& lines) {
  if (m_drawn > 0)
    m_out << "\033[" << m_drawn << "A";
  for (const std::string& line : lines)
    m_out << "\r\033[K" << line << "\n";
  m_out << "\033[J";  // what a taller draw before left below
  m_out.flush();
  m_drawn = lines.size();
}

}  // namespace vantor::cli
