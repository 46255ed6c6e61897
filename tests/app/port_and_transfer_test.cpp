// Whole transfers through the real window against the device simulator: one that
// succeeds, and the ways one fails.
#include <signal.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProcess>
#include <QTimer>
#include <filesystem>

#include "app/unit2.h"
#include "controls/ui_progress_bar.h"
#include "window_test_fixture.h"

namespace {

using apptest::WaitFor;
using apptest::WindowTest;
using apptest::WriteFile;

#ifdef BOOTSIM_PATH

class BootsimTest : public WindowTest {
 protected:
  QProcess bootsim;
  std::string portPath;
  std::string outFile = dir.File("received.bin");

  void StartBootsim(const QStringList& extra) {
    // Powered on by a signal once the window waits for it: a device that announced
    // itself again while the handshake is on its way would spoil the exchange.
    QStringList args{"--no-publish", "--out", QString::fromStdString(outFile)};
    args << extra;
    bootsim.setProcessChannelMode(QProcess::SeparateChannels);
    bootsim.start(BOOTSIM_PATH, args);
    ASSERT_TRUE(bootsim.waitForStarted(5000));
    ASSERT_TRUE(WaitFor([&] { return bootsim.canReadLine(); }, std::chrono::seconds(5)))
        << bootsim.readAllStandardError().toStdString();
    portPath = bootsim.readLine().trimmed().toStdString();
    ASSERT_FALSE(portPath.empty());
  }
  void PowerOn() { ASSERT_EQ(::kill(static_cast<pid_t>(bootsim.processId()), SIGUSR1), 0); }
  void TearDown() override {
    bootsim.kill();
    bootsim.waitForFinished(5000);
  }
};

TEST_F(BootsimTest, FullTransferFollowsProgressAndReturnsToReady) {
  StartBootsim({});
  ports = {portPath};
  Settings(portPath, HexFile("fw.hex", 600));
  auto form = Create();
  form->show();
  std::vector<int> percents;
  std::vector<bool> barShown;
  form->UiProgressBar1->SetOnChange([&](controls::TUiProgressBar& bar, int percent) {
    percents.push_back(percent);
    barShown.push_back(!bar.isHidden());
  });

  form->ABegin->trigger();
  // Waiting for the device: prompt shown, image converted, bar prepared.
  EXPECT_TRUE(form->Form2->isVisible());
  EXPECT_TRUE(form->SerComm1().IsOpen());
  EXPECT_EQ(form->UiProgressBar1->TotalParts(), 600u / 128u);
  EXPECT_TRUE(std::filesystem::exists(dir.File("fw.BIN")));
  PowerOn();

  ASSERT_TRUE(WaitFor([&] { return form->Engine().Outcome() == engine::TOutcome::ocFinished; }))
      << "state " << int(form->Engine().TransferState());
  EXPECT_EQ(percents, (std::vector<int>{25, 50, 75, 100}));
  EXPECT_EQ(barShown, std::vector<bool>(percents.size(), true));
  // Ready again.
  EXPECT_TRUE(form->UiProgressBar1->isHidden());
  EXPECT_FALSE(form->Form2->isVisible());
  EXPECT_TRUE(form->ABegin->isEnabled());
  EXPECT_TRUE(form->ASelectFile->isEnabled());
  EXPECT_TRUE(form->UiToolButton2->isEnabled());
  EXPECT_TRUE(driver.Seen.empty());
  // The status line says it worked, and stays so until the next start.
  EXPECT_TRUE(form->StatusText->isVisible());
  EXPECT_TRUE(
      form->StatusText->text().startsWith(QString::fromUtf8("Загружено: fw.hex, 600 байт, ")))
      << form->StatusText->text().toStdString();

  // The device received the image, padded to whole blocks.
  const std::string expected = apptest::MakeImage(600) + std::string(40, '\0');
  ASSERT_TRUE(WaitFor([&] { return apptest::ReadFile(outFile).size() == expected.size(); }));
  EXPECT_EQ(apptest::ReadFile(outFile), expected);
}

TEST_F(BootsimTest, WrongReplyStopsAndReturnsToReady) {
  StartBootsim({"--wrong-sum-at", "2"});
  ports = {portPath};
  Settings(portPath, HexFile("fw.hex", 1000));
  auto form = Create();
  form->show();
  bool disabledDuringTransfer = false;
  form->UiProgressBar1->SetOnChange([&](controls::TUiProgressBar&, int) {
    disabledDuringTransfer = disabledDuringTransfer || !form->ABegin->isEnabled();
  });
  form->ABegin->trigger();
  PowerOn();
  ASSERT_TRUE(WaitFor([&] { return driver.Count("box") == 1; }));
  // What was awaited and what came, on a second line.
  EXPECT_TRUE(driver.Seen[0].text.startsWith(QString::fromUtf8("Ошибка ответа\nблок ")))
      << driver.Seen[0].text.toStdString();
  EXPECT_EQ(driver.Seen[0].icon, QMessageBox::Critical);
  EXPECT_EQ(driver.Seen[0].title, QString::fromUtf8("Загрузчик"));
  EXPECT_EQ(form->Engine().Outcome(), engine::TOutcome::ocErrorStop);
  EXPECT_EQ(form->Engine().TransferState(), engine::tsIdle);
  EXPECT_TRUE(disabledDuringTransfer);
  EXPECT_TRUE(form->UiProgressBar1->isHidden());
  EXPECT_EQ(form->UiProgressBar1->PartsComplete(), 0u);
  EXPECT_FALSE(form->Form2->isVisible());
  EXPECT_TRUE(form->ABegin->isEnabled());
  EXPECT_TRUE(form->ASelectFile->isEnabled());
  EXPECT_TRUE(form->StatusText->text().startsWith(QString::fromUtf8("Ошибка ответа: блок ")))
      << form->StatusText->text().toStdString();
  EXPECT_TRUE(form->UiToolButton2->isEnabled());
}

TEST_F(BootsimTest, MissingHexFileFailsAtStartWithErrorBox) {
  StartBootsim({});
  ports = {portPath};
  Settings(portPath, HexFile("fw.hex"));
  auto form = Create();
  form->show();
  std::filesystem::remove(dir.File("fw.hex"));
  QTimer::singleShot(0, form.get(), [&] { form->ABegin->trigger(); });
  ASSERT_TRUE(WaitFor([&] { return driver.Count("box") == 1; }));
  EXPECT_EQ(driver.Seen[0].icon, QMessageBox::Critical);
  EXPECT_TRUE(driver.Seen[0].text.startsWith("Cannot open file"))
      << driver.Seen[0].text.toStdString();
  EXPECT_FALSE(form->Form2->isVisible());
  EXPECT_EQ(form->Engine().TransferState(), engine::tsIdle);
}

// A device that falls silent in the middle of a transfer frees the window after the reply
// limit instead of leaving it transferring for good.
TEST_F(BootsimTest, SilentDeviceEndsTheTransferAfterTheReplyLimit) {
  StartBootsim({"--silent-after", "1"});
  ports = {portPath};
  Settings(portPath, HexFile("fw.hex", 1000));
  auto form = Create();
  form->show();
  form->ABegin->trigger();
  PowerOn();
  ASSERT_TRUE(WaitFor([&] { return form->Engine().Transferring(); }));
  ASSERT_TRUE(WaitFor([&] { return driver.Count("box") == 1; }, std::chrono::seconds(15)));
  EXPECT_TRUE(driver.Seen[0].text.startsWith(QString::fromUtf8("Нет ответа от устройства\n")))
      << driver.Seen[0].text.toStdString();
  EXPECT_EQ(form->Engine().Outcome(), engine::TOutcome::ocNoReply);
  EXPECT_TRUE(form->UiProgressBar1->isHidden());
  EXPECT_TRUE(form->ABegin->isEnabled());
  EXPECT_TRUE(form->UiToolButton2->isEnabled());
  EXPECT_FALSE(form->Engine().HasImage());
}

// The device's side of the line ending mid-transfer (an adapter pulled) gives one box that
// names the port, and the window is ready again with the port closed.
TEST_F(BootsimTest, LostPortEndsTheTransferWithOneBoxNamingIt) {
  StartBootsim({"--pace"});
  ports = {portPath};
  Settings(portPath, HexFile("fw.hex", 8000));
  auto form = Create();
  form->show();
  form->ABegin->trigger();
  PowerOn();
  ASSERT_TRUE(WaitFor([&] { return form->UiProgressBar1->PartsComplete() >= 2; }));
  bootsim.kill();
  bootsim.waitForFinished(5000);
  ASSERT_TRUE(WaitFor([&] { return driver.Count("box") >= 1; }));
  apptest::Spin(std::chrono::milliseconds(300));  // a second report would show by now
  ASSERT_EQ(driver.Count("box"), 1);
  EXPECT_EQ(driver.Seen[0].icon, QMessageBox::Critical);
  EXPECT_TRUE(driver.Seen[0].text.startsWith(
      QString::fromStdString("Потеряна связь с портом " + portPath + ". ")))
      << driver.Seen[0].text.toStdString();
  EXPECT_FALSE(form->SerComm1().IsOpen());
  EXPECT_EQ(form->Engine().TransferState(), engine::tsIdle);
  EXPECT_TRUE(form->UiProgressBar1->isHidden());
  EXPECT_TRUE(form->ABegin->isEnabled());
  EXPECT_TRUE(form->ASelectFile->isEnabled());
  EXPECT_TRUE(form->UiToolButton2->isEnabled());
  EXPECT_FALSE(form->Engine().HasImage());
}

// A file with a wrong checksum is sent only after «Да»; Esc on the question sends nothing.
TEST_F(BootsimTest, WrongChecksumIsSentOnlyAfterYes) {
  for (const char* answer : {"", "Да"}) {
    SCOPED_TRACE(answer);
    StartBootsim({});
    ports = {portPath};
    WriteFile(dir.File("sum.hex"), ":0100000011EF\n:00000001FF\n");
    Settings(portPath, dir.File("sum.hex"));
    auto form = Create();
    form->show();
    driver.QuestionAnswer = QString::fromUtf8(answer);
    QTimer::singleShot(0, form.get(), [&] { form->ABegin->trigger(); });
    ASSERT_TRUE(WaitFor([&] { return driver.Count("question") == 1; }));
    driver.Seen.clear();
    apptest::Spin(std::chrono::milliseconds(50));
    PowerOn();
    const bool sent = *answer != '\0';
    EXPECT_EQ(WaitFor([&] { return form->Engine().Outcome() == engine::TOutcome::ocFinished; },
                      std::chrono::milliseconds(sent ? 10000 : 300)),
              sent);
    EXPECT_EQ(apptest::ReadFile(outFile).empty(), !sent);
    form.reset();
    TearDown();
  }
}

// The operator can stop: closing the prompt ends the wait (a device switched on later is not
// flashed); Выход in the middle of a transfer asks first and goes on by default.
TEST_F(BootsimTest, ClosingThePromptEndsTheWait) {
  StartBootsim({});
  ports = {portPath};
  Settings(portPath, HexFile("fw.hex", 600));
  auto form = Create();
  form->show();
  form->ABegin->trigger();
  ASSERT_TRUE(form->Form2->isVisible());
  QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(form->Form2, &esc);
  EXPECT_FALSE(form->Form2->isVisible());
  PowerOn();
  apptest::Spin(std::chrono::milliseconds(300));
  EXPECT_EQ(form->Engine().TransferState(), engine::tsIdle);
  EXPECT_EQ(apptest::ReadFile(outFile), "");
}

TEST_F(BootsimTest, ExitAsksOnlyInTheMiddleOfATransfer) {
  StartBootsim({"--pace"});
  ports = {portPath};
  Settings(portPath, HexFile("fw.hex", 2000));
  auto form = Create();
  form->show();
  form->ABegin->trigger();
  PowerOn();
  ASSERT_TRUE(WaitFor([&] { return form->UiProgressBar1->PartsComplete() >= 1; }));
  form->AExit->trigger();  // answered as by Esc: go on
  EXPECT_EQ(driver.Count("question"), 1);
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(WaitFor([&] { return form->Engine().Outcome() == engine::TOutcome::ocFinished; },
                      std::chrono::seconds(20)));
}

#endif  // BOOTSIM_PATH

}  // namespace
