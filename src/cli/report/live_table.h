// A block of lines redrawn in place on a terminal: each draw moves the cursor back over the
// lines drawn before, clears each line it writes and what is left below the last. The several-port
// progress lines and the station's table are drawn with it.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace vantor::cli {

class LiveTable {
 public:
  explicit LiveTable(std::ostream& out) : m_out(out) {}
  void Draw(const std::vector<std::string>& lines);

 private:
  std::ostream& m_out;
  std::size_t m_drawn = 0;
};

}  // namespace vantor::cli
