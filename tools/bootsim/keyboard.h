// Standard input as the device's power switch: any key switches it on.
#pragma once

#include <termios.h>

namespace bootsim {

class TKeyboard {
 public:
  // A terminal on standard input is put into single-key mode for the keyboard's life; a
  // terminal this process may not read (it runs in the background) is left alone.
  TKeyboard();
  ~TKeyboard();
  TKeyboard(const TKeyboard&) = delete;
  TKeyboard& operator=(const TKeyboard&) = delete;

  // The descriptor to poll; -1 once standard input is of no use.
  int Fd() const { return fd_; }
  // True for a key press; false when standard input has ended (it is then ignored).
  bool Read();

 private:
  int fd_ = -1;
  termios saved_{};
  bool restore_ = false;
};

}  // namespace bootsim
