// POSIX: the open-failure text with the permission hint (the port's group, usually dialout).
#include <grp.h>
#include <sys/stat.h>

#include <cerrno>

#include "device/port_tuning.h"
#include "device/texts.h"
#include "serial/serial_port.h"

namespace vantor::device {

std::string OpenFailureText(const std::string& name, std::int32_t error) {
  std::string text = CannotOpenText(name, serial::SystemErrorText(error));
  if (error == EACCES || error == EPERM) {
    std::string groupName = "dialout";
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0) {
      if (const struct group* g = ::getgrgid(info.st_gid))
        groupName = g->gr_name;
    }
    text += "\n" + NotInGroupText(groupName);
  } else if (error == EBUSY) {
    text += std::string("\n") + kPortHeldText;
  }
  return text;
}

}  // namespace vantor::device
