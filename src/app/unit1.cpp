#include "app/unit1.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QToolBar>

#include "app/app_error.h"
#include "app/image_list.h"
#include "app/unit2.h"
#include "controls/ui_progress_bar.h"
#include "controls/ui_tool_button.h"

namespace app {

namespace {

using window::kMainClientSize;
using window::kOpenDialog;
using window::kPortButton;
using window::kPortButtonWidth;
using window::kStatusBarHeight;
using window::kToolbarHeight;

QString Text(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

QKeySequence Shortcut(const window::TShortcut& shortcut) {
  return QKeySequence::fromString(Text(window::ShortcutText(shortcut)), QKeySequence::PortableText);
}

QAction* MakeAction(QObject* owner, const window::TActionLook& look) {
  auto* action = new QAction(ImageListIcon(look.image), Text(look.caption), owner);
  action->setObjectName(look.name);
  action->setToolTip(Text(look.hint));
  action->setStatusTip(QString());
  action->setShortcut(Shortcut(look.shortcut));
  return action;
}

// The local files of a drag, in the file system's encoding, as the file dialog gives them.
std::vector<std::string> DraggedFiles(const QMimeData* data) {
  std::vector<std::string> files;
  if (data == nullptr) return files;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) return {};
    files.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
  }
  return files;
}

// A menu caption shows '&' literally only when doubled.
QString MenuCaption(const std::string& portName) {
  return QString::fromStdString(portName).replace('&', "&&");
}

}  // namespace

// ---- the clock ---------------------------------------------------------------------------------

TQtTimer::TQtTimer(TQtSynchronizer::TRunner runner) : runner_(std::move(runner)) {
  timer_.setSingleShot(true);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    auto fire = std::move(fire_);
    fire_ = nullptr;
    if (fire) runner_(fire);
  });
}

void TQtTimer::Arm(std::chrono::milliseconds after, std::function<void()> fire) {
  fire_ = std::move(fire);
  timer_.start(after);
}

void TQtTimer::Disarm() {
  timer_.stop();
  fire_ = nullptr;
}

// ---- the window --------------------------------------------------------------------------------

TForm1::TForm1(window::TMainWindowOptions options)
    : logic_(static_cast<window::IWindowFace&>(*this), synchronizer_, timer_, std::move(options)) {
  CreateComponents();
  Handle([this] { logic_.FormCreate(); });
}

TForm1::~TForm1() {
  // Reports still on their way from the port's threads are dropped: nothing may
  // wait for this thread any more.
  synchronizer_.Shutdown();
  Handle([this] { logic_.FormDestroy(); });
}

void TForm1::CreateComponents() {
  setObjectName("Form1");
  setWindowTitle(Text(window::kAppTitle));
  setWindowIcon(ProgramIcon());
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(kMainClientSize.width, kMainClientSize.height);
  if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
    QRect frame(QPoint(0, 0), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  CreateActions();
  CreateToolbar();
  auto* client = new QWidget(this);
  client->setObjectName("ClientArea");
  // The window colour (white), not the button face.
  client->setAutoFillBackground(true);
  client->setBackgroundRole(QPalette::Base);
  setCentralWidget(client);
  CreateStatusBar();
  CreateFileDialog();
  Form2 = new TForm2(this);
  setAcceptDrops(true);
  Form2->OnClosedByOperator = [this] { logic_.PromptClosed(); };
}

void TForm1::CreateActions() {
  ASelectFile = MakeAction(this, window::kSelectFileAction);
  AChangeComPort = MakeAction(this, window::kChangeComPortAction);
  ABegin = MakeAction(this, window::kBeginAction);
  AExit = MakeAction(this, window::kExitAction);
  const auto handle = [this](void (window::TMainWindow::*action)()) {
    return [this, action] { Handle([this, action] { (logic_.*action)(); }); };
  };
  connect(ASelectFile, &QAction::triggered, this, handle(&window::TMainWindow::ASelectFileExecute));
  connect(AChangeComPort, &QAction::triggered, this,
          handle(&window::TMainWindow::AChangeComPortExecute));
  connect(ABegin, &QAction::triggered, this, handle(&window::TMainWindow::ABeginExecute));
  connect(AExit, &QAction::triggered, this, handle(&window::TMainWindow::AExitExecute));
}

void TForm1::CreateToolbar() {
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
  UiToolButton2 = new controls::TUiToolButton(UiToolbar1);
  UiToolButton2->setObjectName(kPortButton.name);
  UiToolButton2->setText(Text(kPortButton.caption));
  UiToolButton2->setToolTip(Text(kPortButton.hint));
  UiToolButton2->setIcon(ImageListIcon(kPortButton.image));
  UiToolButton2->setIconSize(QSize(16, 16));
  UiToolButton2->setToolButtonStyle(Qt::ToolButtonIconOnly);
  UiToolButton2->setPopupMode(QToolButton::InstantPopup);
  UiToolButton2->setFixedWidth(kPortButtonWidth);
  UiToolButton2->OnBeforeDrop = [this] { Handle([this] { logic_.PortMenuDropping(); }); };
  UiToolbar1->addWidget(UiToolButton2);
  UiToolbar1->addAction(ABegin);
  UiToolbar1->addAction(AExit);
  UiToolButton1 = qobject_cast<QToolButton*>(UiToolbar1->widgetForAction(ASelectFile));
  UiToolButton3 = qobject_cast<QToolButton*>(UiToolbar1->widgetForAction(ABegin));
  UiToolButton4 = qobject_cast<QToolButton*>(UiToolbar1->widgetForAction(AExit));
  UiToolButton1->setObjectName("UiToolButton1");
  UiToolButton3->setObjectName("UiToolButton3");
  UiToolButton4->setObjectName("UiToolButton4");
  // Tab reaches every tool button.
  for (QToolButton* button :
       {UiToolButton1, static_cast<QToolButton*>(UiToolButton2), UiToolButton3, UiToolButton4})
    button->setFocusPolicy(Qt::TabFocus);
  auto* dropPorts = new QShortcut(Shortcut(kPortButton.shortcut), this);
  connect(dropPorts, &QShortcut::activated, this, [this] { UiToolButton2->DropMenu(); });
}

void TForm1::CreateStatusBar() {
  auto* statusBar = new QStatusBar(this);
  statusBar->setObjectName("UiStatusBar1");
  statusBar->setSizeGripEnabled(false);
  statusBar->setFixedHeight(kStatusBarHeight);
  statusBar->setContentsMargins(0, 0, 0, 0);
  setStatusBar(statusBar);
  PortStatusPane = new QLabel(statusBar);
  PortStatusPane->setObjectName("PortStatusPane");
  PortStatusPane->setFixedWidth(window::TMainWindow::PortPaneWidth(0));
  PortStatusPane->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  PortStatusPane->setFrameShape(QFrame::Panel);
  PortStatusPane->setFrameShadow(QFrame::Sunken);
  PortStatusPane->setTextFormat(Qt::PlainText);
  statusBar->addWidget(PortStatusPane);
  UiProgressBar1 = new controls::TUiProgressBar(statusBar);
  UiProgressBar1->setObjectName("UiProgressBar1");
  UiProgressBar1->setAccessibleName(Text(window::kProgressBarName));
  UiProgressBar1->SetBorderOuter(controls::fsNone);
  UiProgressBar1->SetBorderWidth(1);
  UiProgressBar1->SetBorderInner(controls::fsStatus);
  UiProgressBar1->SetBackColor(palette().color(QPalette::Base));
  statusBar->addWidget(UiProgressBar1, 1);
  UiProgressBar1->setVisible(false);
  StatusText = new QLabel(statusBar);
  StatusText->setObjectName("StatusText");
  StatusText->setTextFormat(Qt::PlainText);
  StatusText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  StatusText->setMinimumWidth(1);
  statusBar->addWidget(StatusText, 1);
}

void TForm1::CreateFileDialog() {
  UiOpenDialog1 = new QFileDialog(this);
  UiOpenDialog1->setObjectName("UiOpenDialog1");
  // The toolkit's own dialog: the same everywhere, and it works without a desktop.
  UiOpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
  UiOpenDialog1->setWindowTitle(Text(kOpenDialog.title));
  UiOpenDialog1->setNameFilter(
      Text(std::string(kOpenDialog.filterName) + " (" + kOpenDialog.filterPattern + ")"));
  UiOpenDialog1->setDefaultSuffix(Text(kOpenDialog.defaultExtension));
  UiOpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
  // A typed name of a file that does not exist is accepted too.
  UiOpenDialog1->setFileMode(QFileDialog::AnyFile);
  UiOpenDialog1->setDirectory(QDir::currentPath());
}

void TForm1::PortMenuItemClick(QObject* sender) {
  auto* item = qobject_cast<QAction*>(sender);
  if (item == nullptr || PortMenu == nullptr || !PortMenu->actions().contains(item)) return;
  const std::string name = item->data().toString().toStdString();
  Handle([this, &name] { logic_.PortMenuItemClick(name); });
}

bool TForm1::event(QEvent* event) {
  if (event->type() == kPendingMessageEvent) {
    Handle([this] { logic_.PendingMessageArrived(); });
    return true;
  }
  return QMainWindow::event(event);
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  KeepCaptionOnScreen(*this);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (logic_.TakesDroppedFiles(DraggedFiles(event->mimeData()))) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  const std::vector<std::string> files = DraggedFiles(event->mimeData());
  if (!logic_.TakesDroppedFiles(files)) return;
  event->acceptProposedAction();
  Handle([this, &files] { logic_.FilesDropped(files); });
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!logic_.CloseQuery()) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

// ---- window::IWindowFace -----------------------------------------------------------------------

void TForm1::ShowBox(const std::string& text, window::TBoxIcon icon) {
  if (icon == window::TBoxIcon::biError) {
    ShowErrorBox(text);
  } else {
    ShowMessageBox(text);
  }
}

bool TForm1::AskQuestion(const std::string& text) {
  QMessageBox box(QMessageBox::Question, Text(window::kAppTitle), Text(text), QMessageBox::NoButton,
                  QApplication::activeWindow());
  box.addButton(Text(window::kYesCaption), QMessageBox::YesRole);
  QPushButton* no = box.addButton(Text(window::kNoCaption), QMessageBox::NoRole);
  box.setDefaultButton(no);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() != nullptr && box.clickedButton() != no;
}

void TForm1::SetPromptVisible(bool visible) {
  if (visible) {
    Form2->ShowPrompt();
  } else {
    Form2->hide();
  }
}

void TForm1::SetTransferControlsEnabled(bool enabled) {
  ABegin->setEnabled(enabled);
  ASelectFile->setEnabled(enabled);
  UiToolButton2->setEnabled(enabled);
}

void TForm1::SetBeginEnabled(bool enabled) {
  ABegin->setEnabled(enabled);
}

void TForm1::SetCaption(const std::string& text) {
  setWindowTitle(Text(text));
  KeepCaptionOnScreen(*this);
}

void TForm1::SetPortPane(const std::string& text, const std::string& tooltip) {
  const QString caption = Text(text);
  PortStatusPane->setText(caption);
  PortStatusPane->setToolTip(Text(tooltip));
  PortStatusPane->setFixedWidth(
      window::TMainWindow::PortPaneWidth(PortStatusPane->fontMetrics().horizontalAdvance(caption)));
}

void TForm1::SetPortMenu(const std::vector<window::TPortItem>& items) {
  if (PortMenu == nullptr) {
    PortMenu = new QMenu(this);
    PortMenu->setObjectName("PortMenu");
    PortMenu->setToolTipsVisible(true);
    UiToolButton2->setMenu(PortMenu);
    connect(PortMenu, &QMenu::triggered, this, [this](QAction* item) { PortMenuItemClick(item); });
  }
  PortMenu->clear();
  for (const window::TPortItem& port : items) {
    QAction* item = PortMenu->addAction(MenuCaption(port.name));
    item->setData(Text(port.name));
    item->setIconVisibleInMenu(false);
    item->setToolTip(port.description.empty() ? Text(port.name) : Text(port.description));
    item->setCheckable(port.checked);
    item->setChecked(port.checked);
    item->setEnabled(port.enabled);
  }
}

std::optional<std::string> TForm1::RunFileDialog() {
  // The current folder, which a file dropped or named on the command line may have changed.
  UiOpenDialog1->setDirectory(QDir::currentPath());
  const int result = UiOpenDialog1->exec();
  // The folder the dialog shows becomes the current directory, where the converter
  // writes the image.
  QDir::setCurrent(UiOpenDialog1->directory().absolutePath());
  if (result != QDialog::Accepted) return std::nullopt;
  const QStringList files = UiOpenDialog1->selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return QFile::encodeName(QFileInfo(files.first()).absoluteFilePath()).toStdString();
}

void TForm1::SetProgressVisible(bool visible) {
  UiProgressBar1->setVisible(visible);
  StatusText->setVisible(!visible);
}

void TForm1::SetProgressTotal(std::uint32_t total) {
  UiProgressBar1->SetTotalParts(total);
}

void TForm1::SetProgressComplete(std::uint32_t parts) {
  UiProgressBar1->SetPartsComplete(parts);
}

void TForm1::SetStatusText(const std::string& text, const std::string& tooltip) {
  StatusText->setText(Text(text));
  StatusText->setToolTip(Text(tooltip));
}

void TForm1::PostPendingMessage() {
  QCoreApplication::postEvent(this, new QEvent(kPendingMessageEvent));
}

void TForm1::CloseWindow() {
  close();
}

}  // namespace app
