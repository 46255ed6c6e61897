// Shared scaffolding of the window tests: an isolated working folder, a driver for the
// modal dialogs and boxes the window opens, and small file helpers.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "test_support.h"

class QFileDialog;

namespace apptest {

// A fresh folder that is the current directory for the test's life.
using TTempDir = testsupport::TTempWorkDir;
using testsupport::ReadFile;
using testsupport::WriteFile;

// What the driver saw of one modal window.
struct TSeenModal {
  QString kind;  // "box", "question" or "file dialog"
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool overFileDialog = false;  // a file dialog was open beneath it
};

// Polls for the active modal window and deals with it: boxes are confirmed with OK,
// file dialogs are handed to OnFileDialog (default: cancel). Runs from the event
// loop, so it also serves modal loops opened inside constructors and handlers.
class TModalDriver {
 public:
  TModalDriver();
  ~TModalDriver();

  std::function<void(QFileDialog&)> OnFileDialog;
  // The button a question box is answered with; empty: closed as by Esc.
  QString QuestionAnswer;
  std::vector<TSeenModal> Seen;

  int Count(const QString& kind) const;

 private:
  void Poll();
  QTimer timer_;
};

// Runs the event loop until pred holds or the timeout passes; returns pred().
bool WaitFor(const std::function<bool()>& pred,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Processes events for a while (lets posted events and timers run).
void Spin(std::chrono::milliseconds duration);

// Intel HEX text for an image of `size` bytes (byte i = (i * 7 + 3) & 0xFF), in data
// records of 16 bytes, with an end-of-file record.
std::string MakeHex(std::size_t size);
std::string MakeImage(std::size_t size);

}  // namespace apptest
