// Test doubles for the transfer engine: a line that echoes every byte written, a
// device that answers as the boot code does, controls that log what is done to them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <numeric>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/transfer_engine.h"

namespace enginetest {

using Bytes = std::vector<std::uint8_t>;

inline std::string HexByte(std::uint8_t b) {
  char buf[3];
  std::snprintf(buf, sizeof buf, "%02X", b);
  return buf;
}

// Deterministic, varied image contents (block sums include 0xFF).
inline Bytes Pattern(std::size_t size, std::uint32_t seed = 1) {
  Bytes image(size);
  std::uint32_t x = seed;
  for (auto& b : image) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return image;
}

inline std::uint8_t Sum(const std::uint8_t* p, std::size_t n) {
  return std::accumulate(p, p + n, std::uint8_t{0}, [](std::uint8_t s, std::uint8_t b) {
    return static_cast<std::uint8_t>(s + b);
  });
}

// What the loader must send for an image, built block by block from the protocol.
inline std::vector<Bytes> ExpectedPackets(const Bytes& image) {
  std::vector<Bytes> packets{{0x55, 0x33, 0xCC}};
  const std::size_t blocks = image.size() / 128 + 1;  // the last one short or empty
  for (std::size_t i = 0; i < blocks; ++i) {
    const auto address = static_cast<std::uint16_t>(i * 128);
    const auto hi = static_cast<std::uint8_t>(address >> 8);
    const auto lo = static_cast<std::uint8_t>(address & 0xFF);
    if (i % 4 == 0) packets.push_back({0x11, hi, lo});
    Bytes block{0x22, hi, lo};
    block.resize(131, 0x00);
    const std::size_t begin = i * 128;
    const std::size_t end = std::min(image.size(), begin + 128);
    std::copy(image.begin() + static_cast<std::ptrdiff_t>(begin),
              image.begin() + static_cast<std::ptrdiff_t>(end), block.begin() + 3);
    packets.push_back(block);
  }
  packets.push_back({0x99, 0x00, 0x00});
  return packets;
}

class FakeControls : public engine::IControls {
 public:
  explicit FakeControls(std::vector<std::string>& log) : log_(log) {}
  void SetTotalParts(std::uint32_t total) override {
    log_.push_back("total " + std::to_string(total));
  }
  void SetPartsComplete(std::uint32_t parts) override {
    log_.push_back("parts " + std::to_string(parts));
  }
  void SetProgressVisible(bool v) override { log_.push_back(v ? "progress on" : "progress off"); }
  void SetControlsEnabled(bool e) override { log_.push_back(e ? "controls on" : "controls off"); }
  void SetPromptVisible(bool v) override { log_.push_back(v ? "prompt on" : "prompt off"); }
  void ShowMessage(const std::string& text) override { log_.push_back("message " + text); }
  // Kept apart from the log, each with the log's length when it came.
  void TransferBegan() override { events.push_back({"began", log_.size(), {}}); }
  void TransferEnded(engine::TOutcome outcome, const engine::TStopDetail& stop) override {
    events.push_back({"ended " + std::to_string(static_cast<int>(outcome)), log_.size(), stop});
  }

  struct TEvent {
    std::string what;
    std::size_t logged;
    engine::TStopDetail stop;
  };
  std::vector<TEvent> events;

 private:
  std::vector<std::string>& log_;
};

// A single wire with echo: every byte written comes back ahead of the device's reply.
// Bytes on the wire (`pending`) reach the input queue (`waiting`) when Deliver says so.
// The device answers each packet the moment it has heard it.
class FakeLine : public engine::ITransport {
 public:
  explicit FakeLine(std::vector<std::string>& log) : log_(log) {}

  // Port state and failures to inject.
  bool chosen = true;
  bool open = true;
  std::string openError;  // Open() raises it when set
  int failWriteAt = -1;   // index of the write that raises
  bool failRead = false;
  int opens = 0;

  // The device: replaces its reply to the packet of that index (empty = silence).
  std::map<std::size_t, Bytes> replyOverride;
  // The line: replaces the echo of the packet of that index (a stray or changed byte).
  std::map<std::size_t, Bytes> echoOverride;

  std::deque<std::uint8_t> pending;
  std::deque<std::uint8_t> waiting;
  std::vector<Bytes> packets;  // every packet the loader queued
  Bytes deviceSent;            // every byte the device put on the line
  std::vector<int> readSizes;  // n of every ReadData call

  bool PortChosen() const override { return chosen; }
  std::string PortName() const override { return "ttyTEST0"; }
  bool IsOpen() const override { return open; }
  void Open() override {
    if (!openError.empty()) throw std::runtime_error(openError);
    open = true;
    ++opens;
  }

  int WriteData(const void* p, int n) override {
    if (failWriteAt == static_cast<int>(writes_++))
      throw std::runtime_error("Output buffer is full. Please check comm status.");
    const auto* bytes = static_cast<const std::uint8_t*>(p);
    Bytes packet(bytes, bytes + n);
    std::string entry = "send";
    // Appended piece by piece: GCC 12 at -O3 takes "literal" + string for an overlapping copy.
    for (int i = 0; i < std::min(n, 3); ++i) (entry += ' ') += HexByte(packet[i]);
    if (n > 3) (entry += " +") += std::to_string(n - 3);
    log_.push_back(entry);
    packets.push_back(packet);
    const auto echo = echoOverride.find(packets.size() - 1);
    const Bytes& back = echo != echoOverride.end() ? echo->second : packet;
    pending.insert(pending.end(), back.begin(), back.end());  // the echo
    DeviceHears(packets.size() - 1);
    return n;
  }

  int ReadData(void* p, int n) override {
    readSizes.push_back(n);
    if (failRead) throw std::runtime_error("Read failed");
    const int got = std::min(n, static_cast<int>(waiting.size()));
    auto* out = static_cast<std::uint8_t*>(p);
    for (int i = 0; i < got; ++i) {
      out[i] = waiting.front();
      waiting.pop_front();
    }
    return got;
  }

  void DeviceSends(const Bytes& bytes) {
    pending.insert(pending.end(), bytes.begin(), bytes.end());
    deviceSent.insert(deviceSent.end(), bytes.begin(), bytes.end());
  }

  // Moves the wire's bytes into the input queue, `chunk` at a time (0 = all at
  // once), notifying the engine after each move with everything waiting.
  void Deliver(engine::TTransferEngine& engine, std::size_t chunk = 0) {
    while (!pending.empty()) {
      const std::size_t n = chunk == 0 ? pending.size() : std::min(chunk, pending.size());
      waiting.insert(waiting.end(), pending.begin(),
                     pending.begin() + static_cast<std::ptrdiff_t>(n));
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
      engine.RxChar(static_cast<int>(waiting.size()));
    }
  }

 private:
  void DeviceHears(std::size_t index) {
    if (auto it = replyOverride.find(index); it != replyOverride.end()) {
      DeviceSends(it->second);
      return;
    }
    const Bytes& packet = packets[index];
    switch (packet[0]) {
      case 0x55:  // handshake
      case 0x11:  // page command
        DeviceSends({0xAA});
        break;
      case 0x22:  // data block
        DeviceSends({Sum(packet.data() + 3, 128)});
        break;
      default:  // finish: the device says nothing more
        break;
    }
  }

  std::vector<std::string>& log_;
  std::size_t writes_ = 0;
};

}  // namespace enginetest

namespace engine {
// Readable states in failure messages (the enum is 8 bits wide and would print as a char).
inline void PrintTo(TTransferState state, std::ostream* os) {
  static const char* const names[] = {"tsIdle", "tsAwaitDevice", "tsAwaitHandshakeAck",
                                      "tsAwaitBlockSum", "tsAwaitPageAck"};
  *os << (state < 5 ? names[state] : "?");
}
}  // namespace engine
