// What the window logic asks of the toolkit that draws it. One implementation per face:
// Qt Widgets on Linux, the Win32 common controls on Windows, a recording fake in tests.
// Every call comes on the user-interface thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace window {

// One item of the port menu. The caption is exactly the port name.
struct TPortItem {
  std::string name;
  std::string description;  // the item's tooltip: device path and what the system says
  bool checked = false;     // the port currently chosen
  bool enabled = true;      // false: a note in the menu's place, not a port
};

enum class TBoxIcon { biNone, biError };

class IWindowFace {
 public:
  virtual ~IWindowFace() = default;

  // A modal box titled with the application title, with an OK button. Returns when the
  // operator has closed it; the face keeps serving the serial hand-off meanwhile.
  virtual void ShowBox(const std::string& text, TBoxIcon icon) = 0;
  // A modal question box titled with the application title, with the buttons «Да» and
  // «Нет»; «Нет» is the default and answers Esc and the box's closing. True for «Да».
  virtual bool AskQuestion(const std::string& text) = 0;
  // The power-on prompt window (Form2), shown without waiting, or hidden. When the
  // operator closes it (Esc, its close button), the face calls TMainWindow::PromptClosed().
  virtual void SetPromptVisible(bool visible) = 0;
  // ABegin, ASelectFile and the port tool button together, as the engine drives them.
  virtual void SetTransferControlsEnabled(bool enabled) = 0;
  // ABegin alone (a file chosen or restored).
  virtual void SetBeginEnabled(bool enabled) = 0;
  virtual void SetCaption(const std::string& text) = 0;
  // PortStatusPane: the chosen port's name, and its tooltip (device and adapter details).
  virtual void SetPortPane(const std::string& text, const std::string& tooltip) = 0;
  // Replaces the port menu's items, in this order.
  virtual void SetPortMenu(const std::vector<TPortItem>& items) = 0;
  // Runs the file-open dialog (title, filter, default extension and rules of the program)
  // and returns the confirmed full path, or nothing when cancelled. Whatever the outcome,
  // the folder the dialog showed becomes the process's current directory.
  virtual std::optional<std::string> RunFileDialog() = 0;
  // The progress bar: its visibility, TotalParts and PartsComplete.
  virtual void SetProgressVisible(bool visible) = 0;
  virtual void SetProgressTotal(std::uint32_t total) = 0;
  virtual void SetProgressComplete(std::uint32_t parts) = 0;
  // The status bar's free area while the progress bar is hidden: one line, and its tooltip.
  virtual void SetStatusText(const std::string& text, const std::string& tooltip) = 0;
  // Posts the window's message to itself (0x401); when the face's message loop delivers
  // it, the face calls TMainWindow::PendingMessageArrived().
  virtual void PostPendingMessage() = 0;
  // Closes the main window, which ends the program. Before the main window closes by any
  // other way (its close button), the face asks TMainWindow::CloseQuery().
  virtual void CloseWindow() = 0;
};

}  // namespace window
