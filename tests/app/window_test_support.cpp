#include "window_test_support.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QThread>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace apptest {

TTempDir::TTempDir() : previousCurrent_(std::filesystem::current_path()) {
  std::random_device seed;
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0;; ++attempt) {
    auto candidate = base / ("loader-window-test-" + std::to_string(seed()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      break;
    }
    if (attempt > 100) throw std::runtime_error("cannot create a temporary folder");
  }
  std::filesystem::current_path(path_);
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  std::filesystem::current_path(previousCurrent_, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ReadIni(const std::string& path) {
  std::string text = ReadFile(path);
  std::erase(text, '\r');
  return text;
}

TModalDriver::TModalDriver() {
  OnFileDialog = [](QFileDialog& dialog) { dialog.reject(); };
  timer_.setInterval(5);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
  timer_.start();
}

TModalDriver::~TModalDriver() {
  timer_.stop();
}

int TModalDriver::Count(const QString& kind) const {
  int n = 0;
  for (const TSeenModal& seen : Seen) n += seen.kind == kind ? 1 : 0;
  return n;
}

void TModalDriver::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr || !modal->isVisible()) return;
  if (auto* box = qobject_cast<QMessageBox*>(modal)) {
    TSeenModal seen{"box", box->windowTitle(), box->text(), box->icon(), false};
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (qobject_cast<QFileDialog*>(top) != nullptr && top->isVisible())
        seen.overFileDialog = true;
    }
    Seen.push_back(seen);
    box->done(QMessageBox::Ok);
  } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
    Seen.push_back({"file dialog", dialog->windowTitle(), QString(), QMessageBox::NoIcon, false});
    OnFileDialog(*dialog);
  }
}

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  QDeadlineTimer deadline(timeout);
  while (!pred()) {
    if (deadline.hasExpired()) return pred();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

void Spin(std::chrono::milliseconds duration) {
  QDeadlineTimer deadline(duration);
  while (!deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
}

std::string MakeImage(std::size_t size) {
  std::string image(size, '\0');
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return image;
}

std::string MakeHex(std::size_t size) {
  const std::string image = MakeImage(size);
  std::string hex;
  char line[80];
  for (std::size_t at = 0; at < size; at += 16) {
    const std::size_t n = std::min<std::size_t>(16, size - at);
    unsigned sum = static_cast<unsigned>(n + (at >> 8) + (at & 0xFF));
    int len = std::snprintf(line, sizeof line, ":%02X%04X00", static_cast<unsigned>(n),
                            static_cast<unsigned>(at));
    hex.append(line, static_cast<std::size_t>(len));
    for (std::size_t i = 0; i < n; ++i) {
      const auto b = static_cast<unsigned char>(image[at + i]);
      sum += b;
      len = std::snprintf(line, sizeof line, "%02X", b);
      hex.append(line, static_cast<std::size_t>(len));
    }
    len = std::snprintf(line, sizeof line, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    hex.append(line, static_cast<std::size_t>(len));
  }
  hex += ":00000001FF\r\n";
  return hex;
}

}  // namespace apptest
