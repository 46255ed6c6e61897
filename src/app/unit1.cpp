#include "app/unit1.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/app_error.h"
#include "app/comports.h"
#include "app/image_list.h"
#include "app/unit2.h"
#include "controls/ui_progress_bar.h"

namespace app {

namespace {

constexpr int kClientWidth = 344;
constexpr int kClientHeight = 128;
constexpr int kToolbarHeight = 29;
constexpr int kStatusBarHeight = 19;
constexpr int kPortButtonWidth = 39;
constexpr int kPortPaneWidth = 47;
constexpr const char* kUnchosenPort = "COM%d";

QString Text(const char* utf8) {
  return QString::fromUtf8(utf8);
}

QAction* MakeAction(QObject* owner, const char* name, const char* caption, const char* hint,
                    int image) {
  auto* action = new QAction(ImageListIcon(image), Text(caption), owner);
  action->setObjectName(name);
  action->setToolTip(Text(hint));
  action->setStatusTip(QString());
  return action;
}

// A menu caption shows '&' literally only when doubled.
QString MenuCaption(const std::string& portName) {
  return QString::fromStdString(portName).replace('&', "&&");
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::is_regular_file(std::filesystem::path(path), error);
}

}  // namespace

void TUiToolButton::mousePressEvent(QMouseEvent* event) {
  // The menu drops for a press of the left button alone, and only when it has items.
  const bool plainLeft =
      event->button() == Qt::LeftButton &&
      (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) == 0;
  if (popupMode() == InstantPopup && menu() != nullptr && (!plainLeft || menu()->isEmpty())) {
    event->accept();
    return;
  }
  QToolButton::mousePressEvent(event);
}

void TUiToolButton::mouseDoubleClickEvent(QMouseEvent* event) {
  // The second press of a double click does not drop the menu again.
  if (popupMode() == InstantPopup && menu() != nullptr) {
    event->accept();
    return;
  }
  QToolButton::mouseDoubleClickEvent(event);
}

TForm1::TForm1(TForm1Options options) : options_(std::move(options)) {
  CreateComponents();
  try {
    FormCreate();
  } catch (const std::exception& error) {
    // A failure while the window is created is shown like any other; the window
    // still opens with what was restored so far.
    ShowException(error);
  }
}

TForm1::~TForm1() {
  FormDestroy();
}

void TForm1::CreateComponents() {
  setObjectName("Form1");
  setWindowTitle(Text(kAppTitle));
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
    QRect frame(QPoint(0, 0), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }

  ASelectFile = MakeAction(this, "ASelectFile", "Файл", "Выбор файла для загрузки", imFile);
  AChangeComPort = MakeAction(this, "AChangeComPort", "AChangeComPort",
                              "Выбрать последовательный порт", imSerialPort);
  ABegin = MakeAction(this, "ABegin", "Старт", "Начать загрузку", imStart);
  AExit = MakeAction(this, "AExit", "Выход", "Выход", imExit);
  connect(ASelectFile, &QAction::triggered, this,
          [this] { RunHandler([this] { ASelectFileExecute(); }); });
  connect(AChangeComPort, &QAction::triggered, this,
          [this] { RunHandler([this] { AChangeComPortExecute(); }); });
  connect(ABegin, &QAction::triggered, this, [this] { RunHandler([this] { ABeginExecute(); }); });
  connect(AExit, &QAction::triggered, this, [this] { RunHandler([this] { AExitExecute(); }); });

  UiToolbar1 = new QToolBar(this);
  UiToolbar1->setObjectName("UiToolbar1");
  UiToolbar1->setMovable(false);
  UiToolbar1->setFloatable(false);
  UiToolbar1->setFixedHeight(kToolbarHeight);
  UiToolbar1->setIconSize(QSize(16, 16));
  UiToolbar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
  UiToolbar1->setContextMenuPolicy(Qt::PreventContextMenu);
  addToolBar(Qt::TopToolBarArea, UiToolbar1);

  UiToolbar1->addAction(ASelectFile);
  UiToolButton2 = new TUiToolButton(UiToolbar1);
  UiToolButton2->setObjectName("UiToolButton2");
  UiToolButton2->setText(Text("Порт"));
  UiToolButton2->setToolTip(Text("Выбрать последовательный порт"));
  UiToolButton2->setIcon(ImageListIcon(imSerialPort));
  UiToolButton2->setIconSize(QSize(16, 16));
  UiToolButton2->setToolButtonStyle(Qt::ToolButtonIconOnly);
  UiToolButton2->setPopupMode(QToolButton::InstantPopup);
  UiToolButton2->setFixedWidth(kPortButtonWidth);
  UiToolbar1->addWidget(UiToolButton2);
  UiToolbar1->addAction(ABegin);
  UiToolbar1->addAction(AExit);
  UiToolButton1 = qobject_cast<QToolButton*>(UiToolbar1->widgetForAction(ASelectFile));
  UiToolButton3 = qobject_cast<QToolButton*>(UiToolbar1->widgetForAction(ABegin));
  UiToolButton4 = qobject_cast<QToolButton*>(UiToolbar1->widgetForAction(AExit));
  UiToolButton1->setObjectName("UiToolButton1");
  UiToolButton3->setObjectName("UiToolButton3");
  UiToolButton4->setObjectName("UiToolButton4");
  PortMenu = nullptr;

  auto* client = new QWidget(this);
  client->setObjectName("ClientArea");
  client->setAutoFillBackground(true);
  client->setBackgroundRole(QPalette::Window);
  setCentralWidget(client);

  auto* statusBar = new QStatusBar(this);
  statusBar->setObjectName("UiStatusBar1");
  statusBar->setSizeGripEnabled(false);
  statusBar->setFixedHeight(kStatusBarHeight);
  statusBar->setContentsMargins(0, 0, 0, 0);
  setStatusBar(statusBar);
  PortStatusPane = new QLabel(statusBar);
  PortStatusPane->setObjectName("PortStatusPane");
  PortStatusPane->setFixedWidth(kPortPaneWidth);
  PortStatusPane->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  PortStatusPane->setFrameShape(QFrame::Panel);
  PortStatusPane->setFrameShadow(QFrame::Sunken);
  PortStatusPane->setTextFormat(Qt::PlainText);
  statusBar->addWidget(PortStatusPane);
  UiProgressBar1 = new controls::TUiProgressBar(statusBar);
  UiProgressBar1->setObjectName("UiProgressBar1");
  UiProgressBar1->SetBorderOuter(controls::fsNone);
  UiProgressBar1->SetBorderWidth(1);
  UiProgressBar1->SetBorderInner(controls::fsStatus);
  UiProgressBar1->SetBackColor(palette().color(QPalette::Base));
  statusBar->addWidget(UiProgressBar1, 1);
  UiProgressBar1->setVisible(false);

  UiOpenDialog1 = new QFileDialog(this);
  UiOpenDialog1->setObjectName("UiOpenDialog1");
  // The toolkit's own dialog: the same everywhere, and it works without a desktop.
  UiOpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
  UiOpenDialog1->setWindowTitle(Text("Выбери файл (*.hex) для загрузки"));
  UiOpenDialog1->setNameFilter("HexFiles (*.hex)");
  UiOpenDialog1->setDefaultSuffix("hex");
  UiOpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
  // A typed name of a file that does not exist is accepted too.
  UiOpenDialog1->setFileMode(QFileDialog::AnyFile);
  UiOpenDialog1->setDirectory(QDir::currentPath());

  Form2 = new TForm2(this);

  serial::ApplyLoaderSettings(SerComm1);
  SerComm1.SetSynchronizer(&synchronizer_);
  SerComm1.SetErrorDisplay([](const std::exception& error) { ShowException(error); });
  SerComm1.SetOnRxChar([this](serial::TSerCustomComm& sender, std::int32_t count) {
    SerComm1RxChar(sender, count);
  });

  UiRegIniFile1.SetApplicationTitle(kAppTitle);
  if (!options_.settingsPath.empty()) UiRegIniFile1.SetPath(options_.settingsPath);
}

void TForm1::FormCreate() {
  engine_.Reset();
  BuildPortMenu();
  RestorePort();
  RestoreFile();
  setWindowTitle(QFileInfo(QFile::decodeName(hexFileName_.c_str())).fileName());
}

void TForm1::BuildPortMenu() {
  if (PortMenu == nullptr) {
    PortMenu = new QMenu(this);
    PortMenu->setObjectName("PortMenu");
    UiToolButton2->setMenu(PortMenu);
    connect(PortMenu, &QMenu::triggered, this,
            [this](QAction* item) { RunHandler([this, item] { PortMenuItemClick(item); }); });
  }
  PortMenu->clear();
  std::vector<std::string> names =
      options_.enumeratePorts ? options_.enumeratePorts() : EnumerateComPorts();
  SortPortNames(names);
  for (const std::string& name : names) {
    QAction* item = PortMenu->addAction(MenuCaption(name));
    item->setData(QString::fromStdString(name));
    item->setIconVisibleInMenu(false);
  }
}

void TForm1::RestorePort() {
  if (UiRegIniFile1.SectionHasKeys("PortName")) {
    const std::string name = UiRegIniFile1.ReadText("PortName", "Name", "COM1");
    const QList<QAction*> items = PortMenu->actions();
    const bool present = std::any_of(items.begin(), items.end(), [&](const QAction* item) {
      return item->data().toString().toStdString() == name;
    });
    if (present) {
      SerComm1.SetDeviceName(name);
      PortStatusPane->setText(QString::fromStdString(name));
      return;
    }
  }
  AChangeComPort->trigger();
}

void TForm1::RestoreFile() {
  if (UiRegIniFile1.SectionHasKeys("FileName")) {
    const std::string name = UiRegIniFile1.ReadText("FileName", "Name", "");
    if (FileExists(name)) {
      hexFileName_ = name;
      ABegin->setEnabled(true);
      return;
    }
  }
  ASelectFile->trigger();
}

void TForm1::FormDestroy() {
  // Reports still on their way from the port's threads are dropped: nothing may
  // wait for this thread any more.
  synchronizer_.Shutdown();
  engine_.ReleaseImage();
  if (SerComm1.IsOpen()) SerComm1.Close();
}

void TForm1::ASelectFileExecute() {
  const int result = UiOpenDialog1->exec();
  // The folder the dialog shows becomes the current directory, where the converter
  // writes the image.
  QDir::setCurrent(UiOpenDialog1->directory().absolutePath());
  if (result != QDialog::Accepted) return;
  const QStringList files = UiOpenDialog1->selectedFiles();
  if (files.isEmpty()) return;
  hexFileName_ = QFile::encodeName(QFileInfo(files.first()).absoluteFilePath()).toStdString();
  UiRegIniFile1.WriteText("FileName", "Name", hexFileName_);
  ABegin->setEnabled(true);
}

void TForm1::AChangeComPortExecute() {
  pendingMessage_ = kNoPortMessage;
  QCoreApplication::postEvent(this, new QEvent(kPendingMessageEvent));
}

void TForm1::ABeginExecute() {
  engine_.Start(hexFileName_);
}

void TForm1::AExitExecute() {
  close();
}

void TForm1::PortMenuItemClick(QObject* sender) {
  auto* item = qobject_cast<QAction*>(sender);
  if (item == nullptr || PortMenu == nullptr || !PortMenu->actions().contains(item)) return;
  if (SerComm1.IsOpen()) SerComm1.Close();
  SerComm1.SetDeviceName(item->data().toString().toStdString());
  SerComm1.Open();
  PortStatusPane->setText(QString::fromStdString(SerComm1.DeviceName()));
  UiRegIniFile1.WriteText("PortName", "Name", SerComm1.DeviceName());
}

void TForm1::SerComm1RxChar(serial::TSerCustomComm& /*sender*/, std::int32_t count) {
  engine_.RxChar(count);
}

bool TForm1::event(QEvent* event) {
  if (event->type() == kPendingMessageEvent) {
    const std::string text = pendingMessage_;
    pendingMessage_.clear();
    ShowMessageBox(text);
    return true;
  }
  return QMainWindow::event(event);
}

void TForm1::SetTotalParts(std::uint32_t total) {
  UiProgressBar1->SetTotalParts(total);
}

void TForm1::SetPartsComplete(std::uint32_t parts) {
  UiProgressBar1->SetPartsComplete(parts);
}

void TForm1::SetProgressVisible(bool visible) {
  UiProgressBar1->setVisible(visible);
}

void TForm1::SetControlsEnabled(bool enabled) {
  ABegin->setEnabled(enabled);
  ASelectFile->setEnabled(enabled);
  UiToolButton2->setEnabled(enabled);
}

void TForm1::SetPromptVisible(bool visible) {
  if (visible) {
    Form2->ShowPrompt();
  } else {
    Form2->hide();
  }
}

void TForm1::ShowMessage(const std::string& text) {
  ShowMessageBox(text);
}

bool TForm1::PortChosen() const {
  return SerComm1.DeviceName() != kUnchosenPort;
}

bool TForm1::IsOpen() const {
  return SerComm1.IsOpen();
}

void TForm1::Open() {
  SerComm1.Open();
}

int TForm1::WriteData(const void* p, int n) {
  return SerComm1.WriteData(p, n);
}

int TForm1::ReadData(void* p, int n) {
  return SerComm1.ReadData(p, n);
}

}  // namespace app
