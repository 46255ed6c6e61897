// The device end of the one-wire download line: the line's echo plus the boot code's
// side of the protocol, as pure logic without any I/O. The pseudo-terminal tool and
// in-process tests feed it the bytes the loader puts on the line and write out what
// it hands back, honouring each chunk's gap.
//
// What the boot code does:
//   power-on            -> [noise] 0x55 (or several at once)
//   55 33 CC            -> AA          (handshake)
//   11 hi lo            -> AA          (page command, before blocks 0, 4, 8, ...)
//   22 hi lo + 128 data -> 8-bit sum   (data block)
//   99 00 00            -> nothing     (finish)
// Every byte the loader sends comes back first, as the line's echo.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace bootsim {

inline constexpr int kBlockSize = 128;
inline constexpr int kBlocksPerPage = 4;
inline constexpr std::uint8_t kAnnounce = 0x55;
inline constexpr std::uint8_t kAck = 0xAA;
// What a device with a broken handshake answers instead of kAck.
inline constexpr std::uint8_t kWrongHandshakeReply = 0xA5;
// The gap between echo and reply in split mode.
inline constexpr std::chrono::milliseconds kSplitGap{3};

struct TDeviceOptions {
  int wrongSumAt = -1;  // block index (0-based) whose sum is answered off by one; -1 none
  bool wrongHandshakeReply = false;
  int noise = 0;                       // bytes of 0x00/0xFF sent ahead of each 0x55
  int announceBurst = 1;               // 0x55 bytes in each announcement, written at once
  bool split = false;                  // echo and reply as separate chunks
  std::chrono::milliseconds delay{0};  // line silence before each reply
  int silentAfter = -1;                // answer nothing after this block (0-based); -1 never
};

// A chunk for the line: gap is the silence before it; reply marks a device answer
// (the announcement included), as opposed to echo.
struct TOutput {
  std::vector<std::uint8_t> bytes;
  std::chrono::nanoseconds gap{0};
  bool reply = false;
};

enum class TPhase {
  phOff,             // not powered on (or after finish): no answers
  phAwaitHandshake,  // announced, waiting for 55 33 CC
  phLoading,         // handshake done: pages, blocks, finish
  phFinished,        // finish command seen
  phStopped,         // a protocol violation: echo only until the next power-on
};

class TBootDevice {
 public:
  explicit TBootDevice(TDeviceOptions options = {});

  // Switches the device on (again): forgets the session and announces itself.
  std::vector<TOutput> PowerOn();
  // Switches the device off: it echoes but does not answer.
  void PowerOff() { phase_ = TPhase::phOff; }

  // The loader's bytes as they arrive on the line; returns the echo (first) and the
  // answers to every packet completed by them.
  std::vector<TOutput> Receive(std::span<const std::uint8_t> bytes);

  // Records a violation seen by the caller (e.g. timing) and stops answering.
  void ReportViolation(const std::string& text);

  TPhase Phase() const { return phase_; }
  // True once the finish command of the current session has arrived.
  bool Finished() const { return phase_ == TPhase::phFinished; }
  // No violation since construction.
  bool Clean() const { return violationCount_ == 0; }
  int ViolationCount() const { return violationCount_; }
  // Violations reported since the last call.
  std::vector<std::string> TakeViolations();

  // The data blocks of the current session in the order received, 128 bytes each,
  // including the loader's closing short or empty block.
  const std::vector<std::uint8_t>& Image() const { return image_; }
  int Blocks() const { return blockCount_; }

 private:
  std::size_t ExpectedLength() const;
  void Packet(std::vector<TOutput>& out);
  void Reply(std::vector<TOutput>& out, std::uint8_t byte);
  void Violation(const std::string& text);
  std::uint16_t NextAddress() const;

  TDeviceOptions options_;
  TPhase phase_ = TPhase::phOff;
  std::vector<std::uint8_t> packet_;
  std::vector<std::uint8_t> image_;
  int blockCount_ = 0;
  bool pageOpen_ = false;
  bool silent_ = false;
  int violationCount_ = 0;
  std::vector<std::string> newViolations_;
};

// "0x1F"-style rendering used in violation texts.
std::string HexByte(std::uint8_t b);

}  // namespace bootsim
