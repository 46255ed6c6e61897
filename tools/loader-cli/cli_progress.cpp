#include "cli_progress.h"

#include <algorithm>
#include <cstdio>

namespace cli {

namespace {
// A terminal line is redrawn at most this often, or when the percentage changes.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
}  // namespace

std::chrono::seconds TimeLeft(std::uint32_t parts, std::uint32_t total,
                              std::chrono::steady_clock::duration elapsed) {
  if (parts == 0) return std::chrono::seconds(-1);
  const std::uint32_t done = std::min(parts, total);
  const double perPart = std::chrono::duration<double>(elapsed).count() / parts;
  return std::chrono::seconds(static_cast<long long>(perPart * (total - done) + 0.5));
}

std::string ProgressText(std::uint32_t parts, std::uint32_t total, std::chrono::seconds left) {
  unsigned percent = 0;
  if (total == 0) {
    percent = parts > 0 ? 100 : 0;
  } else {
    percent = controls::PercentOf(std::min(parts, total), total);
  }
  char text[128];
  // The loader sends one block more than the image fills; show it as the last of them.
  const std::uint32_t of = total + 1;
  if (left.count() < 0) {
    std::snprintf(text, sizeof text, "%3u%% | block %u of %u | --:-- left", percent,
                  static_cast<unsigned>(std::min(parts, of)), static_cast<unsigned>(of));
  } else {
    std::snprintf(text, sizeof text, "%3u%% | block %u of %u | %lld:%02lld left", percent,
                  static_cast<unsigned>(std::min(parts, of)), static_cast<unsigned>(of),
                  static_cast<long long>(left.count() / 60),
                  static_cast<long long>(left.count() % 60));
  }
  return text;
}

void TConsoleProgress::SetTotalParts(std::uint32_t total) {
  model_.SetTotalParts(total);
}

void TConsoleProgress::SetPartsComplete(std::uint32_t parts) {
  blocks_ = parts;
  model_.SetPartsComplete(parts);
  if (visible_) Draw(false);
}

void TConsoleProgress::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  if (visible) {
    started_ = Clock::now();
    lastTenth_ = -1;
    printedBlocks_ = -1;
    Draw(true);
  } else {
    // The last state stays until whoever writes next decides: ClearLine for a message
    // that says it all ("done"), KeepLine for a stop, which leaves it where it stopped.
    ShowLastState();
  }
}

void TConsoleProgress::ShowLastState() {
  if (terminal_) {
    // Only a line that has been drawn: a transfer that never began has none.
    if (board_ != nullptr ? lastTenth_ >= 0 : drawnWidth_ > 0) Draw(true);
  } else if (printedBlocks_ >= 0 && printedBlocks_ != static_cast<std::int64_t>(blocks_)) {
    Draw(true);
  }
}

void TConsoleProgress::KeepLine() {
  ShowLastState();
  if (!terminal_) return;
  if (board_ != nullptr) {
    // Wiped for the message; Redraw brings every port's line back below it.
    board_->Clear();
    return;
  }
  if (drawnWidth_ == 0) return;
  out_ << '\n';
  out_.flush();
  drawnWidth_ = 0;
}

void TConsoleProgress::Redraw() {
  if (board_ != nullptr && terminal_) board_->Redraw();
}

unsigned TConsoleProgress::DisplayPercent() const {
  if (model_.TotalParts() == 0) return blocks_ > 0 ? 100 : 0;
  return model_.Percent();
}

void TConsoleProgress::Draw(bool force) {
  const auto now = Clock::now();
  const std::string text = ProgressText(blocks_, model_.TotalParts(),
                                        TimeLeft(blocks_, model_.TotalParts(), now - started_));
  if (terminal_) {
    const int tenth = static_cast<int>(DisplayPercent());
    if (!force && tenth == lastTenth_ && now - lastDraw_ < kRedrawInterval) return;
    lastTenth_ = tenth;
    lastDraw_ = now;
    if (board_ != nullptr) {
      board_->Set(line_, label_ + text);
      return;
    }
    out_ << '\r' << text;
    if (text.size() < drawnWidth_) out_ << std::string(drawnWidth_ - text.size(), ' ');
    drawnWidth_ = text.size();
    out_.flush();
  } else {
    const int tenth = static_cast<int>(DisplayPercent() / 10);
    if (!force && tenth == lastTenth_) return;
    lastTenth_ = tenth;
    printedBlocks_ = blocks_;
    out_ << label_ << text << '\n';
    out_.flush();
  }
}

void TConsoleProgress::ClearLine() {
  if (board_ != nullptr && terminal_) {
    board_->Clear();
    return;
  }
  if (!terminal_ || drawnWidth_ == 0) return;
  out_ << '\r' << std::string(drawnWidth_, ' ') << '\r';
  out_.flush();
  drawnWidth_ = 0;
}

void TProgressBoard::Set(std::size_t line, const std::string& text) {
  texts_.at(line) = text;
  if (sequences_ && drawn_ > 0) {
    // Back to the first line (ANSI: cursor up); each line is erased as it is drawn again.
    out_ << "\x1b[" << drawn_ << 'F';
    drawn_ = 0;
  }
  Clear();
  Draw();
}

void TProgressBoard::Redraw() {
  if (drawn_ == 0) Draw();
}

namespace {
// One line of a console 80 columns wide, without wrapping into the next.
constexpr std::size_t kOneLine = 79;
}  // namespace

void TProgressBoard::Draw() {
  if (sequences_) {
    for (const std::string& t : texts_) out_ << "\x1b[2K" << t << '\n';
    drawn_ = texts_.size();
  } else {
    std::string line;
    for (const std::string& t : texts_) line += (line.empty() ? "" : "  ") + t;
    if (line.size() > kOneLine) line.resize(kOneLine);
    out_ << '\r' << line;
    width_ = line.size();
    drawn_ = 1;
  }
  out_.flush();
}

void TProgressBoard::Clear() {
  if (drawn_ == 0) return;
  if (sequences_) {
    // Back to the first line (ANSI: cursor up), then erase to the end of the screen.
    out_ << "\x1b[" << drawn_ << "F\x1b[J";
  } else {
    out_ << '\r' << std::string(width_, ' ') << '\r';
  }
  out_.flush();
  drawn_ = 0;
}

}  // namespace cli
