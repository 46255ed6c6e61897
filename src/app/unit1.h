// The main window's Qt face: tool bar with the four actions and the port menu, status bar
// with the port pane, the progress bar and the status text. What the window does is
// window::TMainWindow's; this draws it and passes the operator's actions on.
#pragma once

#include <QEvent>
#include <QMainWindow>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/qt_synchronizer.h"
#include "controls/ui_tool_button.h"
#include "session/timer.h"
#include "window/main_window.h"
#include "window/window_face.h"
#include "window/window_look.h"

class QAction;
class QFileDialog;
class QLabel;
class QMenu;
class QToolBar;

namespace controls {
class TUiProgressBar;
}

namespace app {

class TForm2;

using window::kNoPortMessage;

// The window's message to itself that shows the pending message (the first user
// message number plus one).
inline constexpr QEvent::Type kPendingMessageEvent = static_cast<QEvent::Type>(QEvent::User + 1);

// The toolkit's single-shot timer as the transfer session's clock.
class TQtTimer : public session::ITimer {
 public:
  // runner runs the expiry, as TQtSynchronizer's runs a handed-off call.
  explicit TQtTimer(TQtSynchronizer::TRunner runner);
  void Arm(std::chrono::milliseconds after, std::function<void()> fire) override;
  void Disarm() override;

 private:
  TQtSynchronizer::TRunner runner_;
  QTimer timer_;
  std::function<void()> fire_;
};

class TForm1 : public QMainWindow, private window::IWindowFace {
  // The serial component's threads hand their reports over through this; it is
  // created before and destroyed after the window logic and its port. Its calls and the
  // reply limit's expiry run through the window logic's one handler, as the actions do.
  TQtSynchronizer synchronizer_{this, [this](const std::function<void()>& call) { Handle(call); }};
  TQtTimer timer_{[this](const std::function<void()>& call) { Handle(call); }};

 public:
  // What the window takes from its surroundings (tests inject an isolated settings file and
  // their own port list); the defaults are the program's own.
  explicit TForm1(window::TMainWindowOptions options = {});
  ~TForm1() override;

  // Components, named as the program names them.
  QToolBar* UiToolbar1;
  QToolButton* UiToolButton1;
  controls::TUiToolButton* UiToolButton2;
  QToolButton* UiToolButton3;
  QToolButton* UiToolButton4;
  QMenu* PortMenu = nullptr;
  QLabel* PortStatusPane;
  controls::TUiProgressBar* UiProgressBar1;
  QLabel* StatusText;
  QFileDialog* UiOpenDialog1;
  QAction* ASelectFile;
  QAction* AChangeComPort;
  QAction* ABegin;
  QAction* AExit;
  TForm2* Form2;

  serial::TSerComm& SerComm1() { return logic_.SerComm1(); }
  settings::TUiRegIniFile& UiRegIniFile1() { return logic_.UiRegIniFile1(); }
  window::TMainWindow& Logic() { return logic_; }
  const std::string& HexFileName() const { return logic_.HexFileName(); }
  const std::string& PendingMessage() const { return logic_.PendingMessage(); }
  engine::TTransferEngine& Engine() { return logic_.Engine(); }
  TQtSynchronizer& Synchronizer() { return synchronizer_; }

  // Handlers.
  void ASelectFileExecute() { logic_.ASelectFileExecute(); }
  void AChangeComPortExecute() { logic_.AChangeComPortExecute(); }
  void ABeginExecute() { logic_.ABeginExecute(); }
  void AExitExecute() { logic_.AExitExecute(); }
  // Chooses the port of a port menu item; anything else is ignored.
  void PortMenuItemClick(QObject* sender);

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // A file dragged over the window and dropped on it is chosen as the file dialog would.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateComponents();
  void CreateActions();
  void CreateToolbar();
  void CreateStatusBar();
  void CreateFileDialog();
  void ShowStatusArea();
  // Runs one of the window's handlers through the window logic's one handler: an exception
  // that leaves it is shown by the logic's rules and never unwinds through the toolkit.
  void Handle(const std::function<void()>& handler) { logic_.RunHandler(handler); }

  // window::IWindowFace
  void ShowBox(const std::string& text, window::TBoxIcon icon) override;
  bool AskQuestion(const std::string& text) override;
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

  window::TMainWindow logic_;
};

}  // namespace app
