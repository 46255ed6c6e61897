// The simulated line: a pseudo-terminal whose slave side the loader opens as its serial port
// while the simulator holds the master side.
#pragma once

#include <string>

namespace bootsim {

struct TPty {
  int master = -1;
  int slave = -1;  // kept open: the line stays up while loaders come and go
  std::string slavePath;

  TPty() = default;
  ~TPty();
  TPty(const TPty&) = delete;
  TPty& operator=(const TPty&) = delete;

  // A raw terminal with a non-blocking master; throws std::system_error naming the failed step.
  void Open();
  // Bytes the loader has not read are lost, as on a real line nobody listens to.
  void DropUnread() const;
  // Bytes waiting for the loader to read them.
  int Unread() const;
  // From now on the master sees a hang-up when the loader closes the port.
  void ReleaseSlave();
};

}  // namespace bootsim
