// The Qt face of the main window: its widgets and their geometry, the port menu and its
// drop-down button, the file dialog, and the toolkit's loops that deliver its messages.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QUrl>
#include <QWindow>
#include <filesystem>

#include "app/unit2.h"
#include "controls/ui_progress_bar.h"
#include "window_test_fixture.h"

namespace {

using apptest::WaitFor;
using apptest::WindowTest;

const QString kNoPort = QString::fromUtf8("Последовательный порт не определен");
const QString kTitle = QString::fromUtf8("Загрузчик");

// Types a name into the dialog's file name field, as the operator would.
void Type(QFileDialog& dialog, const QString& name) {
  auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
  ASSERT_NE(edit, nullptr);
  edit->setText(name);
}

std::string Canonical(const std::string& path) {
  return std::filesystem::weakly_canonical(path).string();
}

// The window's message to itself comes through the next loop that runs: at the first start,
// the file dialog's, before the window is first shown.
TEST_F(WindowTest, NoPortBoxComesThroughTheFileDialogsLoop) {
  ports = {"ttyS0"};
  auto form = Create();
  EXPECT_FALSE(form->isVisible());
  ASSERT_EQ(driver.Count("file dialog"), 1);
  ASSERT_EQ(driver.Count("box"), 1);
  const apptest::TSeenModal& box = driver.Seen[driver.Seen[0].kind == "box" ? 0 : 1];
  EXPECT_EQ(box.text, kNoPort);
  EXPECT_EQ(box.title, kTitle);
  EXPECT_EQ(box.icon, QMessageBox::NoIcon);
  EXPECT_TRUE(box.overFileDialog);
}

// The dialog accepts a typed name of a missing file, with the filter's extension; confirmed
// or cancelled, the folder it showed becomes the current directory.
TEST_F(WindowTest, FileDialogTakesTypedNamesAndLeavesItsFolderCurrent) {
  ports = {"ttyS0"};
  Settings("ttyS0", HexFile());
  auto form = Create();
  for (const char* folder : {"sub", "elsewhere"}) {
    std::filesystem::create_directory(dir.Path() / folder);
    const std::string path = (dir.Path() / folder).string();
    const bool accept = folder == std::string("sub");
    driver.OnFileDialog = [&](QFileDialog& dialog) {
      dialog.setDirectory(QString::fromStdString(path));
      Type(dialog, "typed");  // no such file; no extension
      if (accept) {
        static_cast<QDialog&>(dialog).accept();  // the dialog's own checks run
      } else {
        dialog.reject();
      }
    };
    form->ASelectFileExecute();
    EXPECT_EQ(Canonical(std::filesystem::current_path().string()), Canonical(path));
  }
  EXPECT_EQ(Canonical(form->HexFileName()), Canonical(dir.File("sub/typed.hex")));
}

TEST_F(WindowTest, FileDialogSettings) {
  ports = {"ttyS0"};
  Settings("ttyS0", HexFile());
  auto form = Create();
  QFileDialog& dialog = *form->UiOpenDialog1;
  EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("Выбери файл (*.hex) для загрузки"));
  EXPECT_EQ(dialog.nameFilters(), QStringList{"HexFiles (*.hex)"});
  EXPECT_EQ(dialog.defaultSuffix(), "hex");
  EXPECT_EQ(dialog.fileMode(), QFileDialog::AnyFile);
  EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
  EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
}

// Items show their port names exactly and hand them on; other senders are ignored.
TEST_F(WindowTest, PortMenuItemsCarryTheirExactNames) {
  ports = {"/nonexistent-dir/A&B", "COM2"};
  Settings("COM2", HexFile());
  auto form = Create();
  QStringList texts;
  for (QAction* item : form->PortMenu->actions()) {
    texts << item->text();
    EXPECT_TRUE(item->icon().isNull());
  }
  EXPECT_EQ(texts, (QStringList{"/nonexistent-dir/A&&B", "COM2"}));  // '&' shown, no hot key
  EXPECT_EQ(form->UiToolButton2->menu(), form->PortMenu);
  EXPECT_EQ(form->UiToolButton2->popupMode(), QToolButton::InstantPopup);

  form->PortMenuItemClick(form->ABegin);
  form->PortMenuItemClick(nullptr);
  EXPECT_EQ(form->SerComm1().DeviceName(), "COM2");
  QTimer::singleShot(0, form.get(), [&] { form->PortMenu->actions().value(0)->trigger(); });
  ASSERT_TRUE(WaitFor([&] { return driver.Count("box") == 1; }));
  EXPECT_EQ(driver.Seen[0].icon, QMessageBox::Critical);
  EXPECT_EQ(driver.Seen[0].title, kTitle);
  EXPECT_TRUE(driver.Seen[0].text.contains("/nonexistent-dir/A&B"))
      << driver.Seen[0].text.toStdString();
}

// The port button drops the port list as it is at the press, not as it was at the start.
TEST_F(WindowTest, PortButtonDropsTheCurrentPortList) {
  ports = {"COM1"};
  Settings("COM1", HexFile());
  auto form = Create();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  ports = {"COM1", "COM7"};
  QStringList dropped;
  QObject::connect(form->PortMenu, &QMenu::aboutToShow, [&] {
    for (QAction* item : form->PortMenu->actions()) dropped << item->text();
    QTimer::singleShot(0, form->PortMenu, &QMenu::close);
  });
  QTest::mouseClick(form->UiToolButton2, Qt::LeftButton);
  EXPECT_EQ(dropped, (QStringList{"COM1", "COM7"}));
}

TEST_F(WindowTest, LayoutAndComponents) {
  ports = {"ttyS0"};
  Settings("ttyS0", HexFile());
  auto form = Create();
  form->show();
  apptest::Spin(std::chrono::milliseconds(30));
  EXPECT_EQ(form->size(), QSize(344, 128));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());  // not resizable
  EXPECT_EQ(form->UiToolbar1->height(), 29);
  EXPECT_EQ(form->statusBar()->height(), 19);
  EXPECT_EQ(form->PortStatusPane->width(), 47);
  EXPECT_EQ(form->UiToolButton2->width(), 39);
  EXPECT_LT(form->PortStatusPane->x(), form->UiProgressBar1->x());

  // Buttons in order, image only, hints as tool tips.
  const QList<QAction*> actions = form->UiToolbar1->actions();
  ASSERT_EQ(actions.size(), 4);
  EXPECT_EQ(form->UiToolbar1->widgetForAction(actions[0]), form->UiToolButton1);
  EXPECT_EQ(form->UiToolbar1->widgetForAction(actions[1]), form->UiToolButton2);
  EXPECT_EQ(form->UiToolbar1->widgetForAction(actions[2]), form->UiToolButton3);
  EXPECT_EQ(form->UiToolbar1->widgetForAction(actions[3]), form->UiToolButton4);
  struct {
    QAction* action;
    const char* caption;
    const char* hint;
    QKeySequence keys;
  } const expected[] = {
      {form->ASelectFile, "Файл", "Выбор файла для загрузки", QKeySequence("Ctrl+O")},
      {form->AChangeComPort, "AChangeComPort", "Выбрать последовательный порт", QKeySequence()},
      {form->ABegin, "Старт", "Начать загрузку", QKeySequence("F5")},
      {form->AExit, "Выход", "Выход", QKeySequence("Ctrl+Q")},
  };
  for (const auto& e : expected) {
    EXPECT_EQ(e.action->shortcut(), e.keys) << e.caption;
    EXPECT_EQ(e.action->text(), QString::fromUtf8(e.caption));
    EXPECT_EQ(e.action->toolTip(), QString::fromUtf8(e.hint));
    EXPECT_FALSE(e.action->icon().isNull());
    EXPECT_TRUE(e.action->isEnabled());
  }
  // Tab reaches every tool button.
  for (QToolButton* button : {form->UiToolButton1, static_cast<QToolButton*>(form->UiToolButton2),
                              form->UiToolButton3, form->UiToolButton4})
    EXPECT_TRUE(button->focusPolicy() & Qt::TabFocus) << button->objectName().toStdString();
  EXPECT_EQ(form->UiToolButton1->toolButtonStyle(), Qt::ToolButtonIconOnly);
  EXPECT_EQ(form->UiToolButton2->toolTip(), QString::fromUtf8("Выбрать последовательный порт"));
  EXPECT_TRUE(form->UiProgressBar1->isHidden());
  EXPECT_EQ(form->UiProgressBar1->BorderOuter(), controls::fsNone);
  EXPECT_EQ(form->UiProgressBar1->BorderWidth(), 1);
  EXPECT_EQ(form->UiProgressBar1->BorderInner(), controls::fsStatus);

  // The prompt window.
  EXPECT_EQ(form->Form2->size(), QSize(195, 57));
  EXPECT_EQ(form->Form2->Label1->text(), QString::fromUtf8("Включи питание"));
  EXPECT_EQ(form->Form2->Label1->font().pixelSize(), 19);
  EXPECT_EQ(form->Form2->windowTitle(), "");
  EXPECT_FALSE(form->Form2->isVisible());
}

// What the Qt face adds of its own: an empty caption shown empty (not the program's name),
// the window colour, the progress bar's name, and a file dropped on the window chosen.
TEST_F(WindowTest, EmptyCaptionWhiteWindowAndADroppedFileIsChosen) {
  const std::filesystem::path before = std::filesystem::current_path();
  ports = {"ttyS0"};
  Settings("ttyS0", "");
  auto form = Create();  // the file dialog opens and is cancelled
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  EXPECT_EQ(form->windowTitle(), "");
  EXPECT_EQ(form->windowHandle()->title(), " ");
  EXPECT_EQ(form->centralWidget()->backgroundRole(), QPalette::Base);
  EXPECT_EQ(form->UiProgressBar1->accessibleName(), QString::fromUtf8("Ход загрузки"));

  const std::string hex = HexFile();
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(hex))});
  QDragEnterEvent enter(QPoint(10, 40), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(form.get(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 40), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(form.get(), &drop);
  EXPECT_EQ(form->HexFileName(), hex);
  EXPECT_TRUE(form->ABegin->isEnabled());
  std::filesystem::current_path(before);
}

TEST_F(WindowTest, ExitClosesTheWindow) {
  ports = {"ttyS0"};
  Settings("ttyS0", HexFile());
  auto form = Create();
  form->show();
  apptest::Spin(std::chrono::milliseconds(20));
  form->AExit->trigger();
  EXPECT_FALSE(form->isVisible());
}

}  // namespace
