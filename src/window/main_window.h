// The main window's behaviour, written once for every face: start-up, the four actions,
// the port menu, the pending message, the file choice, the transfer's controls and the
// error display's rules. The face draws; this decides.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/transfer_engine.h"
#include "serial/ser_comm.h"
#include "session/timer.h"
#include "session/transfer_session.h"
#include "settings/ui_reg_ini_file.h"
#include "window/image_folder.h"
#include "window/window_face.h"

namespace window {

inline constexpr const char* kAppTitle = "Загрузчик";
inline constexpr const char* kNoPortMessage = "Последовательный порт не определен";
inline constexpr const char* kPowerOnPrompt = "Включи питание";
using session::kUnchosenPort;

// A HEX file without data: there is nothing to send (kEmptyImageText).
class EEmptyImage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The silent abort: leaves a handler without any message.
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

// A port the system lists, with what it says about it.
struct TPortInfo {
  std::string name;         // as the serial component takes it for DeviceName
  std::string description;  // device path, and for a USB adapter its maker, product, serial
};

// What the window takes from its surroundings; the defaults are the program's own.
struct TMainWindowOptions {
  // INI file of the settings store; empty: the program's own (beside the executable).
  std::string settingsPath;
  // The ports of the port menu; empty: the serial ports present.
  std::function<std::vector<TPortInfo>()> enumeratePorts;
  // The HEX file named on the command line (`loader FILE.hex`, a desktop's "open with"):
  // taken at start-up as the file dialog would take it, instead of the saved one.
  std::string openFile = {};
};

// The HEX file among a command line's arguments (those after the program's name): the first
// that is not an option, or the one after "--"; "" for none.
std::string FileArgument(const std::vector<std::string>& args);

class TMainWindow : private engine::IControls {
 public:
  // The face, the serial hand-off and the timer are the face's and outlive this object.
  TMainWindow(IWindowFace& face, serial::ISerSynchronizer& sync, session::ITimer& timer,
              TMainWindowOptions options = {});
  ~TMainWindow() override;
  TMainWindow(const TMainWindow&) = delete;
  TMainWindow& operator=(const TMainWindow&) = delete;

  // Window creation, once the face has built its controls (all enabled, progress hidden).
  void FormCreate();
  // Window destruction: releases the image and closes the port. The face shuts its serial
  // hand-off down first, so that nothing waits for the user-interface thread any more.
  void FormDestroy();

  // The handlers. Each shows its own failure by the error display's rules and returns.
  void ASelectFileExecute();
  void AChangeComPortExecute();
  void ABeginExecute();
  void AExitExecute();
  // The operator closed the power-on prompt: the wait for the device ends.
  void PromptClosed();
  // Whether the main window may close now: in the middle of a transfer the operator is
  // asked first (default: go on). Always true once Quit or Выход has decided.
  bool CloseQuery();
  // Closes the main window without asking (the system ends the program).
  void Quit();
  // A port menu item was clicked; its caption is the port's name.
  void PortMenuItemClick(const std::string& name);
  // The port menu is about to drop: it is filled anew from the ports present now.
  void PortMenuDropping();
  // The window's own message (0x401) has arrived: shows the pending message, if any.
  void PendingMessageArrived();
  // Files dragged over the window: whether a drop would be taken (one file, and the file
  // action usable, not in the middle of a transfer).
  bool TakesDroppedFiles(const std::vector<std::string>& paths) const;
  // Files dropped on the window: one is chosen as the file dialog would choose it.
  void FilesDropped(const std::vector<std::string>& paths);

  // Shows an exception by the error display's rules (EAbort: nothing).
  void ShowException(const std::exception& error);
  // Runs fn; an exception that leaves it is shown and goes no further.
  void RunHandler(const std::function<void()>& fn);

  // State, for faces and tests.
  const std::string& HexFileName() const { return hexFileName_; }
  const std::string& PendingMessage() const { return pendingMessage_; }
  const std::vector<TPortInfo>& Ports() const { return ports_; }
  serial::TSerComm& SerComm1() { return serComm1_; }
  settings::TUiRegIniFile& UiRegIniFile1() { return uiRegIniFile1_; }
  engine::TTransferEngine& Engine() { return session_->Engine(); }

  // PortStatusPane's width for a name that measures textWidth pixels in the pane's font:
  // the original 47 pixels as long as the name fits, wider when it does not.
  static int PortPaneWidth(int textWidth);

 private:
  // engine::IControls
  void SetTotalParts(std::uint32_t total) override;
  void SetPartsComplete(std::uint32_t parts) override;
  void SetProgressVisible(bool visible) override;
  void SetControlsEnabled(bool enabled) override;
  void SetPromptVisible(bool visible) override;
  void ShowMessage(const std::string& text) override;
  void TransferBegan() override;
  void TransferEnded(engine::TOutcome outcome, const engine::TStopDetail& stop) override;

  void BuildPortMenu();
  void RestorePort();
  void RestoreFile();
  void ShowPort();
  void ShowReadyStatus();
  // The file chosen, as the dialog chooses it: shown, saved, Старт enabled.
  void TakeFile(const std::string& path);
  // The file and what image it makes, for the status line.
  void NoteFile(const std::string& path);
  std::vector<TPortInfo> ListPorts() const;
  void ConvertAndStart(const std::string& folder);
  void KeepImageFolder(TImageFolder folder);

  IWindowFace& face_;
  session::ITimer& timer_;
  TMainWindowOptions options_;
  serial::TSerComm serComm1_;
  settings::TUiRegIniFile uiRegIniFile1_;
  std::unique_ptr<session::TTransferSession> session_;
  std::vector<TPortInfo> ports_;
  std::string pendingMessage_;
  std::string hexFileName_;
  // The image hexFileName_ made when last converted: its size and CRC-32, if known.
  std::optional<oh2b::TConvertedImage> image_;
  // The image of the last start, and its HEX file.
  std::optional<oh2b::TConvertedImage> sending_;
  std::string sendingFile_;
  bool quitting_ = false;
  std::chrono::steady_clock::time_point transferBegan_;
  TImageFolder imageFolder_;  // where the image held by the engine was made
};

}  // namespace window
