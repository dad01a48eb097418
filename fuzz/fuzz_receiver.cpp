// Fuzz target: whatever a device sends, the receiver ends every frame with a result and keeps its
// state inside the buffer.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "protocol/receiver.h"

namespace {

struct Line {
  int master = -1;
  int keeper = -1;
  std::unique_ptr<vantor::serial::SerialPort> port;
};

Line& TheLine() {
  static Line line = [] {
    Line l;
    l.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (l.master < 0 || grantpt(l.master) != 0 || unlockpt(l.master) != 0)
      std::abort();
    const char* name = ptsname(l.master);
    l.keeper = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    l.port = vantor::serial::CreatePort(name, false);
    if (!l.port->IsOpen())
      std::abort();
    return l;
  }();
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Line& line = TheLine();
  std::size_t written = 0;
  while (written < size) {
    const ssize_t n = write(line.master, data + written, size - written);
    if (n <= 0)
      break;
    written += static_cast<std::size_t>(n);
  }
  vantor::protocol::BootLink link{line.port.get()};
  vantor::protocol::Receiver receiver;
  for (;;) {
    std::uint8_t room[16];
    std::uint32_t got = size > 0 && data[0] % 2 == 0 ? 8 : 16;
    const std::uint32_t asked = got;
    const std::int32_t result =
        vantor::protocol::ReceiveFrame(link, receiver, room, got, std::chrono::milliseconds(1));
    if (result != 0 && result != 1) {
      if (got != 0)
        std::abort();
      break;
    }
    if (got > asked || receiver.rxFrameLength < 8)
      std::abort();
  }
  // Drop what is left of an incomplete frame so the next input starts clean.
  tcflush(static_cast<int>(line.port->handle), TCIFLUSH);
  return 0;
}
