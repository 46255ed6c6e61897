// The window logic under test: a face that records every call in order, answers the file
// dialog from a script and delivers the window's own message when the test says, as a
// message loop would; an isolated settings file and an injected port list.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/ser_pump.h"
#include "session/timer.h"
#include "test_support.h"
#include "window/main_window.h"
#include "window/window_face.h"

namespace windowtest {

class TRecordingFace : public window::IWindowFace {
 public:
  struct TBox {
    std::string text;
    window::TBoxIcon icon;
    bool overFileDialog;  // shown while the file dialog's loop ran
  };

  std::vector<std::string> log;                        // every call, in order
  std::deque<std::optional<std::string>> fileAnswers;  // none left: the dialog is cancelled
  std::vector<TBox> boxes;
  std::vector<window::TPortItem> menu;
  window::TMainWindow* window = nullptr;  // receives the delivered messages

  // Delivers the posted messages, as the message loop does.
  void DeliverPosted() {
    for (; posted_ > 0; --posted_) window->PendingMessageArrived();
  }
  std::ptrdiff_t Count(const std::string& entry) const {
    return std::count(log.begin(), log.end(), entry);
  }
  // Calls of the named method, whatever their arguments.
  std::ptrdiff_t Calls(const std::string& method) const {
    return std::count_if(log.begin(), log.end(),
                         [&](const std::string& call) { return call.starts_with(method + " "); });
  }
  void Clear() {
    log.clear();
    boxes.clear();
  }

  void ShowBox(const std::string& text, window::TBoxIcon icon) override {
    log.push_back("ShowBox " + text);
    boxes.push_back({text, icon, inDialog_});
  }
  void SetPromptVisible(bool visible) override { Log("SetPromptVisible", visible); }
  void SetTransferControlsEnabled(bool enabled) override {
    Log("SetTransferControlsEnabled", enabled);
  }
  void SetBeginEnabled(bool enabled) override { Log("SetBeginEnabled", enabled); }
  void SetCaption(const std::string& text) override { log.push_back("SetCaption " + text); }
  void SetPortPane(const std::string& text, const std::string& tooltip) override {
    log.push_back("SetPortPane " + text + "|" + tooltip);
  }
  void SetPortMenu(const std::vector<window::TPortItem>& items) override {
    log.push_back("SetPortMenu");
    menu = items;
  }
  std::optional<std::string> RunFileDialog() override {
    log.push_back("RunFileDialog");
    // The dialog's modal loop serves the message queue.
    inDialog_ = true;
    DeliverPosted();
    inDialog_ = false;
    if (fileAnswers.empty()) return std::nullopt;
    std::optional<std::string> answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
  }
  void SetProgressVisible(bool visible) override { Log("SetProgressVisible", visible); }
  void SetProgressTotal(std::uint32_t total) override { Log("SetProgressTotal", total); }
  void SetProgressComplete(std::uint32_t parts) override { Log("SetProgressComplete", parts); }
  void SetStatusText(const std::string& text, const std::string& tooltip) override {
    log.push_back("SetStatusText " + text + "|" + tooltip);
  }
  void PostPendingMessage() override {
    log.push_back("PostPendingMessage");
    ++posted_;
  }
  void CloseWindow() override { log.push_back("CloseWindow"); }

 private:
  void Log(const char* call, std::uint32_t value) {
    log.push_back(std::string(call) + " " + std::to_string(value));
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

  // As the face does: nothing waits for this thread any more before the port closes.
  ~WindowLogicTest() override {
    sync.Shutdown();
    win.reset();
  }
  window::TMainWindow& Create() {
    window::TMainWindowOptions options{ini, [this] { return ports; }};
    win = std::make_unique<window::TMainWindow>(face, sync, timer, options);
    face.window = win.get();
    win->FormCreate();
    return *win;
  }
  // A HEX file that exists.
  std::string HexFile(const std::string& name = "fw.hex") {
    testsupport::WriteFile(dir.File(name), testsupport::IntelHex(std::vector<std::uint8_t>(600)));
    return dir.File(name);
  }
  void Settings(const std::string& port, const std::string& file) {
    testsupport::WriteFile(ini, "[PortName]\nName=" + port + "\n[FileName]\nName=" + file + "\n");
  }
  std::string Ini() const {
    std::string text = testsupport::ReadFile(ini);
    std::erase(text, '\r');
    return text;
  }
};

}  // namespace windowtest
