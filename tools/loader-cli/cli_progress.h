// Transfer progress on the console: percentage, blocks and time left, redrawn in place on
// a terminal, one line per tenth of the way otherwise (logs, pipes, CI).
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "controls/progress_model.h"

namespace cli {

// "42% | block 215 of 512 | 0:31 left"; parts may exceed total (the loader's closing
// block), total may be 0 (an empty image). left < 0 means not known yet.
std::string ProgressText(std::uint32_t parts, std::uint32_t total, std::chrono::seconds left);

// Estimated time left after `parts` of `total` in `elapsed`; -1 s when nothing is done yet.
std::chrono::seconds TimeLeft(std::uint32_t parts, std::uint32_t total,
                              std::chrono::steady_clock::duration elapsed);

// Several transfers' progress on a terminal: one line each, all redrawn in place below
// the messages printed so far. A terminal without the cursor sequences (an old Windows
// console) gets them side by side on one line, redrawn with \r alone.
class TProgressBoard {
 public:
  TProgressBoard(std::ostream& out, std::size_t lines, bool sequences = true)
      : out_(out), texts_(lines), sequences_(sequences) {}
  void Set(std::size_t line, const std::string& text);
  // Wipes the lines, so that a message can follow; the next Set or Redraw draws them again.
  void Clear();
  // Draws the lines again below what has been printed since Clear.
  void Redraw();

 private:
  void Draw();

  std::ostream& out_;
  std::vector<std::string> texts_;
  bool sequences_;
  std::size_t drawn_ = 0;  // lines on the screen now (one at most without the sequences)
  std::size_t width_ = 0;  // without the sequences: the columns of the line drawn
};

class TConsoleProgress {
 public:
  using Clock = std::chrono::steady_clock;

  TConsoleProgress(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}
  // One of several transfers: its lines start with `label`; on a terminal it draws line
  // `line` of `board`.
  TConsoleProgress(std::ostream& out, bool terminal, std::string label, TProgressBoard* board,
                   std::size_t line)
      : out_(out), terminal_(terminal), label_(std::move(label)), board_(board), line_(line) {}

  void SetTotalParts(std::uint32_t total);
  void SetPartsComplete(std::uint32_t parts);
  void SetVisible(bool visible);

  // Blocks built so far, as the engine counts them (not clamped to the total).
  std::uint32_t Blocks() const { return blocks_; }
  Clock::duration Elapsed() const { return Clock::now() - started_; }
  // Wipes a line drawn in place, so that a message can follow on a clean line.
  void ClearLine();
  // A transfer has stopped: its last state stays on screen (on a terminal the line is
  // ended, so that a message can follow below it; piped, the last state is printed if
  // the tenths skipped it). On a board the lines are wiped for the message; Redraw
  // brings them back.
  void KeepLine();
  void Redraw();

 private:
  // Hidden or stopped: the state reached is shown, however recently the line was drawn.
  void ShowLastState();
  void Draw(bool force);
  unsigned DisplayPercent() const;

  std::ostream& out_;
  bool terminal_;
  std::string label_;
  TProgressBoard* board_ = nullptr;
  std::size_t line_ = 0;
  controls::TProgressModel model_;
  std::uint32_t blocks_ = 0;
  bool visible_ = false;
  Clock::time_point started_ = Clock::now();
  Clock::time_point lastDraw_{};
  int lastTenth_ = -1;
  std::int64_t printedBlocks_ = -1;  // piped: the blocks of the last line printed
  std::size_t drawnWidth_ = 0;
};

}  // namespace cli
