// Window creation: the port menu, restoring the port and the file, the caption, and
// the prompts the operator meets when something is missing.
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
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

TEST_F(WindowTest, FirstRunOpensDialogWithNoPortBoxOverIt) {
  ports = {"ttyS0"};
  auto form = Create();
  // Creation returned: both modal windows have come and gone before the window shows.
  EXPECT_FALSE(form->isVisible());
  ASSERT_EQ(driver.Count("box"), 1);
  ASSERT_EQ(driver.Count("file dialog"), 1);
  const apptest::TSeenModal& box =
      driver.Seen.front().kind == "box" ? driver.Seen[0] : driver.Seen[1];
  EXPECT_EQ(box.text, kNoPort);
  EXPECT_EQ(box.title, kTitle);
  EXPECT_EQ(box.icon, QMessageBox::NoIcon);
  EXPECT_TRUE(box.overFileDialog);
  for (const auto& seen : driver.Seen) {
    if (seen.kind == "file dialog") {
      EXPECT_EQ(seen.title, QString::fromUtf8("Выбери файл (*.hex) для загрузки"));
    }
  }
  // Cancelled: no file, empty caption, start still enabled, no port.
  EXPECT_EQ(form->windowTitle(), "");
  EXPECT_EQ(form->HexFileName(), "");
  EXPECT_TRUE(form->ABegin->isEnabled());
  EXPECT_EQ(form->PortStatusPane->text(), "");
  EXPECT_EQ(form->SerComm1.DeviceName(), "COM%d");
  EXPECT_TRUE(form->PendingMessage().empty());
  EXPECT_FALSE(std::filesystem::exists(ini));  // nothing chosen, nothing written
}

TEST_F(WindowTest, SavedPortAndFileAreRestoredWithoutPrompts) {
  ports = {"ttyS1", "ttyS0"};
  const std::string hex = HexFile("board.hex");
  Settings("ttyS0", hex);
  auto form = Create();
  form->show();
  apptest::Spin(std::chrono::milliseconds(50));
  EXPECT_TRUE(driver.Seen.empty());
  EXPECT_EQ(form->SerComm1.DeviceName(), "ttyS0");
  EXPECT_FALSE(form->SerComm1.IsOpen());  // opened only when chosen or started
  EXPECT_EQ(form->PortStatusPane->text(), "ttyS0");
  EXPECT_EQ(form->HexFileName(), hex);
  EXPECT_TRUE(form->ABegin->isEnabled());
  EXPECT_EQ(form->windowTitle(), "board.hex");
}

struct TPortCase {
  const char* name;
  const char* iniText;  // the PortName section
  bool restored;
  const char* device;  // DeviceName afterwards
};

class RestorePortTest : public WindowTest, public ::testing::WithParamInterface<TPortCase> {};

TEST_P(RestorePortTest, RestoresOnlyExactMenuCaption) {
  ports = {"COM1", "COM3"};
  const std::string hex = HexFile();
  apptest::WriteFile(ini, std::string(GetParam().iniText) + "[FileName]\nName=" + hex + "\n");
  auto form = Create();
  EXPECT_TRUE(driver.Seen.empty());  // the box waits for the message loop
  form->show();
  apptest::Spin(std::chrono::milliseconds(50));
  if (GetParam().restored) {
    EXPECT_TRUE(driver.Seen.empty());
    EXPECT_EQ(form->PortStatusPane->text().toStdString(), GetParam().device);
  } else {
    ASSERT_EQ(driver.Seen.size(), 1u);
    EXPECT_EQ(driver.Seen[0].text, kNoPort);
    EXPECT_FALSE(driver.Seen[0].overFileDialog);
    EXPECT_EQ(form->PortStatusPane->text(), "");
  }
  EXPECT_EQ(form->SerComm1.DeviceName(), GetParam().device);
  // The saved value stays until another port is chosen.
  EXPECT_EQ(apptest::ReadIni(ini).find(GetParam().iniText), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RestorePortTest,
    ::testing::Values(TPortCase{"Exact", "[PortName]\nName=COM3\n", true, "COM3"},
                      TPortCase{"CaseDiffers", "[PortName]\nName=com3\n", false, "COM%d"},
                      TPortCase{"Gone", "[PortName]\nName=COM7\n", false, "COM%d"},
                      TPortCase{"NoSection", "", false, "COM%d"},
                      TPortCase{"EmptySection", "[PortName]\n", false, "COM%d"},
                      // A section without the key falls back to COM1, which is present.
                      TPortCase{"KeyMissing", "[PortName]\nOther=COM3\n", true, "COM1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WindowTest, SavedFileGoneOpensDialogAndTypedMissingNameIsAccepted) {
  ports = {"ttyS0"};
  Settings("ttyS0", dir.File("gone.hex"));
  std::filesystem::create_directory(dir.Path() / "sub");
  const std::string sub = (dir.Path() / "sub").string();
  driver.OnFileDialog = [&](QFileDialog& dialog) {
    dialog.setDirectory(QString::fromStdString(sub));
    Type(dialog, "typed");                   // no such file; no extension
    static_cast<QDialog&>(dialog).accept();  // the dialog's own checks run
  };
  auto form = Create();
  EXPECT_EQ(driver.Count("file dialog"), 1);
  EXPECT_EQ(driver.Count("box"), 0);
  const std::string expected = (dir.Path() / "sub" / "typed.hex").string();
  EXPECT_EQ(Canonical(form->HexFileName()), Canonical(expected));
  EXPECT_TRUE(form->ABegin->isEnabled());
  EXPECT_EQ(form->windowTitle(), "typed.hex");
  // The folder the dialog showed is now the current directory.
  EXPECT_EQ(Canonical(std::filesystem::current_path().string()), Canonical(sub));
  EXPECT_NE(apptest::ReadIni(ini).find("[FileName]\nName=" + form->HexFileName()),
            std::string::npos)
      << apptest::ReadIni(ini);

  // A file chosen later does not change the caption.
  const std::string other = HexFile("other.hex");
  driver.OnFileDialog = [&](QFileDialog& dialog) {
    dialog.setDirectory(QString::fromStdString(dir.Path().string()));
    Type(dialog, "other.hex");
    static_cast<QDialog&>(dialog).accept();  // the dialog's own checks run
  };
  form->ASelectFileExecute();
  EXPECT_EQ(Canonical(form->HexFileName()), Canonical(other));
  EXPECT_EQ(form->windowTitle(), "typed.hex");
}

TEST_F(WindowTest, CancelledDialogChangesNothingButTheCurrentDirectory) {
  ports = {"ttyS0"};
  const std::string hex = HexFile();
  Settings("ttyS0", hex);
  auto form = Create();
  const std::string before = apptest::ReadIni(ini);
  std::filesystem::create_directory(dir.Path() / "elsewhere");
  const std::string elsewhere = (dir.Path() / "elsewhere").string();
  driver.OnFileDialog = [&](QFileDialog& dialog) {
    dialog.setDirectory(QString::fromStdString(elsewhere));
    dialog.reject();
  };
  form->ASelectFileExecute();
  EXPECT_EQ(form->HexFileName(), hex);
  EXPECT_EQ(apptest::ReadIni(ini), before);
  EXPECT_EQ(Canonical(std::filesystem::current_path().string()), Canonical(elsewhere));
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

TEST_F(WindowTest, PortMenuIsSortedWithExactCaptions) {
  ports = {"COM2", "COM10", "com1", "A&B"};
  Settings("COM2", HexFile());
  auto form = Create();
  QStringList names;
  QStringList texts;
  for (QAction* item : form->PortMenu->actions()) {
    names << item->data().toString();
    texts << item->text();
    EXPECT_TRUE(item->icon().isNull());
  }
  EXPECT_EQ(names, (QStringList{"A&B", "com1", "COM10", "COM2"}));
  EXPECT_EQ(texts, (QStringList{"A&&B", "com1", "COM10", "COM2"}));  // '&' shown, no hot key
  EXPECT_EQ(form->UiToolButton2->menu(), form->PortMenu);
  EXPECT_EQ(form->UiToolButton2->popupMode(), QToolButton::InstantPopup);
}

TEST_F(WindowTest, PortButtonDropsMenuForPlainLeftPressWhenItHasItems) {
  struct {
    bool withItems;
    Qt::KeyboardModifiers modifiers;
    bool drops;
  } const cases[] = {
      {false, Qt::NoModifier, false},  // an empty menu does not drop
      {true, Qt::NoModifier, true},       {true, Qt::ShiftModifier, false},
      {true, Qt::ControlModifier, false}, {true, Qt::AltModifier, false},
  };
  for (const auto& c : cases) {
    ports = c.withItems ? std::vector<std::string>{"COM1"} : std::vector<std::string>{};
    Settings("COM1", HexFile());
    auto form = Create();
    form->show();
    apptest::Spin(std::chrono::milliseconds(30));
    driver.Seen.clear();
    bool dropped = false;
    QTimer::singleShot(100, form.get(), [&] {
      dropped = form->PortMenu->isVisible();
      form->PortMenu->close();
    });
    QTest::mouseClick(form->UiToolButton2, Qt::LeftButton, c.modifiers);
    apptest::Spin(std::chrono::milliseconds(150));
    EXPECT_EQ(dropped, c.drops) << "items " << c.withItems << " modifiers " << c.modifiers.toInt();
  }
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
  } const expected[] = {
      {form->ASelectFile, "Файл", "Выбор файла для загрузки"},
      {form->AChangeComPort, "AChangeComPort", "Выбрать последовательный порт"},
      {form->ABegin, "Старт", "Начать загрузку"},
      {form->AExit, "Выход", "Выход"},
  };
  for (const auto& e : expected) {
    EXPECT_EQ(e.action->text(), QString::fromUtf8(e.caption));
    EXPECT_EQ(e.action->toolTip(), QString::fromUtf8(e.hint));
    EXPECT_FALSE(e.action->icon().isNull());
    EXPECT_TRUE(e.action->isEnabled());
  }
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
