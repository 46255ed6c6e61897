// The main window: tool bar with the four actions and the port menu, status bar with
// the port pane and the progress bar, and the transfer engine that drives them.
#pragma once

#include <QEvent>
#include <QMainWindow>
#include <QToolButton>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/qt_synchronizer.h"
#include "engine/transfer_engine.h"
#include "serial/ser_comm.h"
#include "settings/ui_reg_ini_file.h"

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

inline constexpr const char* kNoPortMessage = "Последовательный порт не определен";

// The window's message to itself that shows the pending message (the first user
// message number plus one).
inline constexpr QEvent::Type kPendingMessageEvent = static_cast<QEvent::Type>(QEvent::User + 1);

// What the window takes from its surroundings; the defaults are the program's own.
// Tests inject an isolated settings file and their own port list.
struct TForm1Options {
  // INI file of the settings store; empty: the file beside the executable.
  std::string settingsPath;
  // The port list of the port menu; empty: the serial ports present.
  std::function<std::vector<std::string>()> enumeratePorts;
};

// A drop-down tool button whose menu drops only for a plain left press (no Shift, Ctrl
// or Alt, not the second press of a double click) and not while it has no items.
class TUiToolButton : public QToolButton {
 public:
  using QToolButton::QToolButton;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
};

class TForm1 : public QMainWindow, private engine::IControls, private engine::ITransport {
  TForm1Options options_;
  // The serial component's threads hand their reports over through this; it is
  // created before and destroyed after SerComm1.
  TQtSynchronizer synchronizer_{this};

 public:
  explicit TForm1(TForm1Options options = {});
  ~TForm1() override;

  // Components, named as the program names them.
  QToolBar* UiToolbar1;
  QToolButton* UiToolButton1;
  TUiToolButton* UiToolButton2;
  QToolButton* UiToolButton3;
  QToolButton* UiToolButton4;
  QMenu* PortMenu;
  QLabel* PortStatusPane;
  controls::TUiProgressBar* UiProgressBar1;
  QFileDialog* UiOpenDialog1;
  QAction* ASelectFile;
  QAction* AChangeComPort;
  QAction* ABegin;
  QAction* AExit;
  TForm2* Form2;
  serial::TSerComm SerComm1;
  settings::TUiRegIniFile UiRegIniFile1;

  const std::string& HexFileName() const { return hexFileName_; }
  const std::string& PendingMessage() const { return pendingMessage_; }
  engine::TransferEngine& Engine() { return engine_; }
  TQtSynchronizer& Synchronizer() { return synchronizer_; }

  // Handlers.
  void ASelectFileExecute();
  void AChangeComPortExecute();
  void ABeginExecute();
  void AExitExecute();
  // Chooses the port of a port menu item; anything else is ignored.
  void PortMenuItemClick(QObject* sender);
  void SerComm1RxChar(serial::TSerCustomComm& sender, std::int32_t count);

 protected:
  bool event(QEvent* event) override;

 private:
  void CreateComponents();
  void FormCreate();
  void FormDestroy();
  void BuildPortMenu();
  void RestorePort();
  void RestoreFile();

  // engine::IControls
  void SetTotalParts(std::uint32_t total) override;
  void SetPartsComplete(std::uint32_t parts) override;
  void SetProgressVisible(bool visible) override;
  void SetControlsEnabled(bool enabled) override;
  void SetPromptVisible(bool visible) override;
  void ShowMessage(const std::string& text) override;

  // engine::ITransport
  bool PortChosen() const override;
  bool IsOpen() const override;
  void Open() override;
  int WriteData(const void* p, int n) override;
  int ReadData(void* p, int n) override;

  engine::TransferEngine engine_{*this, *this};
  std::string pendingMessage_;
  std::string hexFileName_;
};

}  // namespace app
