// The loader window on Windows, made of the system's own controls: a tool bar with the
// four buttons, the status bar with the port pane and the progress bar, the power-on
// prompt, message boxes and the file-open dialog. What it shows and when is decided by
// window::TMainWindow; this face only draws and reports.
#pragma once

#include <windows.h>
// after windows.h, whose types it uses
#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controls/progress_model.h"
#include "win32face/gdi_progress_bar.h"
#include "win32face/win32_synchronizer.h"
#include "win32face/win32_timer.h"
#include "window/main_window.h"
#include "window/window_face.h"
#include "window/window_look.h"

namespace win32face {

class TWin32Face : public window::IWindowFace {
 public:
  explicit TWin32Face(HINSTANCE instance, window::TMainWindowOptions options = {});
  ~TWin32Face() override;
  TWin32Face(const TWin32Face&) = delete;
  TWin32Face& operator=(const TWin32Face&) = delete;

  // Creates the windows, runs the window's creation, shows it and serves messages until
  // the main window closes. Returns the program's exit code.
  int Run(int show);

  // window::IWindowFace
  void ShowBox(const std::string& text, window::TBoxIcon icon) override;
  void SetPromptVisible(bool visible) override;
  void SetTransferControlsEnabled(bool enabled) override;
  void SetBeginEnabled(bool enabled) override;
  void SetCaption(const std::string& text) override;
  void SetPortPane(const std::string& text, const std::string& tooltip) override;
  void SetPortMenu(const std::vector<window::TPortItem>& items) override;
  std::optional<std::string> RunFileDialog() override;
  void SetProgressVisible(bool visible) override;
  void SetProgressTotal(std::uint32_t total) override;
  void SetProgressComplete(std::uint32_t parts) override;
  void SetStatusText(const std::string& text, const std::string& tooltip) override;
  void PostPendingMessage() override;
  void CloseWindow() override;

 private:
  static LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PromptProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ToolbarKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR id, DWORD_PTR self);
  static LRESULT CALLBACK ProgressPaint(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR id, DWORD_PTR self);
  void FilesDropped(HDROP drop);
  LRESULT HandleMain(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleNotify(const NMHDR& header);
  bool ToolbarKey(WPARAM key);

  void RegisterClasses();
  // The main window in steps: its frame, then the tool bar and the status bar in it.
  void CreateMainWindow();
  void CreateToolbar();
  void CreateStatusBar();
  void CreatePrompt();
  void PlaceMainWindow();
  void CreateDpiResources();
  void FreeDpiResources();
  void Layout();
  void UpdateStatusParts();
  void UpdateStatusTips();
  void CentrePrompt();
  void Command(int id);
  void DropPortMenu(bool byMouse);
  void Handle(const std::function<void()>& handler);
  int Scale(int pixels) const { return MulDiv(pixels, static_cast<int>(dpi_), 96); }
  int Unscale(int pixels) const { return MulDiv(pixels, 96, static_cast<int>(dpi_)); }

  HINSTANCE instance_;
  window::TMainWindowOptions options_;
  UINT dpi_ = 96;
  HWND main_ = nullptr;
  HWND toolbar_ = nullptr;
  HWND statusBar_ = nullptr;
  HWND statusTips_ = nullptr;
  HWND progressBar_ = nullptr;  // the system's progress control, painted as ours
  HWND prompt_ = nullptr;
  HWND promptLabel_ = nullptr;
  HMENU portMenu_ = nullptr;
  HACCEL accelerators_ = nullptr;
  HFONT font_ = nullptr;
  HFONT promptFont_ = nullptr;
  HIMAGELIST images_ = nullptr;
  HICON icon_ = nullptr;
  HICON smallIcon_ = nullptr;

  std::vector<std::string> portNames_;
  std::string portPaneText_;
  std::string portPaneTip_;
  std::string statusText_;
  std::string statusTip_;
  bool progressVisible_ = false;
  ULONGLONG menuClosedAt_ = 0;
  bool menuClosedOnce_ = false;
  int hotButton_ = 0;

  controls::TProgressModel progress_;
  TBarLook barLook_{};
  std::unique_ptr<TWin32Synchronizer> sync_;
  std::unique_ptr<TWin32Timer> timer_;
  std::unique_ptr<window::TMainWindow> logic_;
};

}  // namespace win32face
