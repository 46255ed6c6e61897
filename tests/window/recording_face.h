// The window logic under test: a face that logs every call in order, answers the file dialog
// from a script and delivers the window's own message when the test says, as a message loop
// would; an isolated settings file and an injected port list.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/crc32.h"
#include "serial/ser_pump.h"
#include "session/timer.h"
#include "test_support.h"
#include "window/main_window.h"
#include "window/status_text.h"

namespace windowtest {

class TRecordingFace : public window::IWindowFace {
 public:
  // Boxes log as "ShowBox <text>", with "error " before an error's text and " over dialog"
  // after one shown while the file dialog's loop ran.
  std::vector<std::string> log;
  std::deque<std::optional<std::string>> fileAnswers;  // none left: the dialog is cancelled
  std::deque<bool> questionAnswers;                    // none left: the default, «Нет»
  std::vector<window::TPortItem> menu;
  window::TMainWindow* window = nullptr;  // receives the delivered messages

  // Delivers the posted messages, as the message loop does.
  void DeliverPosted() {
    for (; posted_ > 0; --posted_) window->PendingMessageArrived();
  }
  std::ptrdiff_t Count(const std::string& call) const {
    return std::count(log.begin(), log.end(), call);
  }
  // Calls of the named method, whatever their arguments.
  std::ptrdiff_t Calls(const std::string& method) const {
    return std::count_if(log.begin(), log.end(),
                         [&](const std::string& call) { return call.starts_with(method + " "); });
  }

  void ShowBox(const std::string& text, window::TBoxIcon icon) override {
    const char* kind = icon == window::TBoxIcon::biError ? "error " : "";
    log.push_back(std::string("ShowBox ") + kind + text + (inDialog_ ? " over dialog" : ""));
  }
  bool AskQuestion(const std::string& text) override {
    log.push_back("AskQuestion " + text);
    if (questionAnswers.empty()) return false;
    const bool answer = questionAnswers.front();
    questionAnswers.pop_front();
    return answer;
  }
  void SetPromptVisible(bool on) override { Log("SetPromptVisible", on); }
  void SetTransferControlsEnabled(bool on) override { Log("SetTransferControlsEnabled", on); }
  void SetBeginEnabled(bool on) override { Log("SetBeginEnabled", on); }
  void SetCaption(const std::string& text) override { log.push_back("SetCaption " + text); }
  void SetPortPane(const std::string& text, const std::string& tip) override {
    log.push_back("SetPortPane " + text + "|" + tip);
  }
  void SetPortMenu(const std::vector<window::TPortItem>& items) override { menu = items; }
  std::optional<std::string> RunFileDialog() override {
    log.push_back("RunFileDialog");
    inDialog_ = true;  // its modal loop serves the message queue
    DeliverPosted();
    inDialog_ = false;
    if (fileAnswers.empty()) return std::nullopt;
    std::optional<std::string> answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
  }
  void SetProgressVisible(bool on) override { Log("SetProgressVisible", on); }
  void SetProgressTotal(std::uint32_t total) override { Log("SetProgressTotal", total); }
  void SetProgressComplete(std::uint32_t parts) override { Log("SetProgressComplete", parts); }
  void SetStatusText(const std::string& text, const std::string& tip) override {
    log.push_back("SetStatusText " + text + "|" + tip);
  }
  void PostPendingMessage() override {
    log.push_back("PostPendingMessage");
    ++posted_;
  }
  void CloseWindow() override { log.push_back("CloseWindow"); }

 private:
  void Log(const char* call, std::uint32_t value) {
    // Appending, not inserting in front: GCC 12 at -O3 sees a false overlap (-Wrestrict)
    // in the insert that `const char* + std::string` makes.
    log.push_back(std::string(call).append(" ").append(std::to_string(value)));
  }
  int posted_ = 0;
  bool inDialog_ = false;
};

class WindowLogicTest : public ::testing::Test {
 protected:
  testsupport::TTempWorkDir dir;
  std::string ini = dir.File("loader.ini");
  std::vector<window::TPortInfo> ports;
  TRecordingFace face;
  serial::TSerPumpSynchronizer sync;
  session::TDeadlineTimer timer;
  std::unique_ptr<window::TMainWindow> win;

  // As a face does: nothing waits for this thread any more once the port closes.
  ~WindowLogicTest() override {
    sync.Shutdown();
    win.reset();
  }
  // Creates the window and forgets what creation showed.
  window::TMainWindow& Create(bool keepLog = false) {
    win = std::make_unique<window::TMainWindow>(
        face, sync, timer, window::TMainWindowOptions{ini, [this] { return ports; }});
    face.window = win.get();
    win->FormCreate();
    if (!keepLog) face.log.clear();
    return *win;
  }
  // A HEX file that exists.
  std::string HexFile() {
    testsupport::WriteFile("fw.hex", testsupport::IntelHex(std::vector<std::uint8_t>(600)));
    return dir.File("fw.hex");
  }
  // The ready text of HexFile(): the image's identity, and the path in the tooltip.
  std::string ReadyStatus() {
    const std::vector<std::uint8_t> image(600);
    const std::string identity =
        window::IdentityText(image.size(), platform::Crc32(0, image.data(), image.size()));
    return "SetStatusText " + identity + "|" + dir.File("fw.hex") + "\n" + identity;
  }
  std::string Ini() const {
    std::string text = testsupport::ReadFile(ini);
    std::erase(text, '\r');
    return text;
  }
};

}  // namespace windowtest
