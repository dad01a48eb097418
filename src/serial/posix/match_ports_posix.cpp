// POSIX: the ports a station's path glob matches.
#include <glob.h>
#include <sys/stat.h>

#include "serial/port_match.h"

namespace vantor::serial {

std::vector<std::string> MatchPortPattern(const std::string& pattern) {
  std::vector<std::string> ports;
  glob_t matches{};
  if (::glob(pattern.c_str(), 0, nullptr, &matches) == 0) {
    for (std::size_t i = 0; i < matches.gl_pathc; ++i) {
      struct stat target {};
      // stat follows links: a link whose device is gone does not count as a port.
      if (::stat(matches.gl_pathv[i], &target) == 0 && !S_ISDIR(target.st_mode))
        ports.emplace_back(matches.gl_pathv[i]);
    }
  }
  ::globfree(&matches);
  return ports;
}

}  // namespace vantor::serial
