#include "boot_device.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <numeric>
#include <utility>

namespace bootsim {

namespace {

constexpr std::uint8_t kPageCommand = 0x11;
constexpr std::uint8_t kDataBlock = 0x22;
constexpr std::uint8_t kFinishCommand = 0x99;
constexpr std::size_t kCommandLength = 3;
constexpr std::uint8_t kHandshake[kCommandLength] = {0x55, 0x33, 0xCC};

std::string Hex16(std::uint16_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(v));
  return text;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t b : bytes) {
    char part[4];
    std::snprintf(part, sizeof part, "%02X", static_cast<unsigned>(b));
    if (!text.empty()) text += ' ';
    text += part;
  }
  return text;
}

}  // namespace

std::string HexByte(std::uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(b));
  return text;
}

TBootDevice::TBootDevice(TDeviceOptions options) : options_(options) {}

std::vector<TOutput> TBootDevice::PowerOn() {
  phase_ = TPhase::phAwaitHandshake;
  packet_.clear();
  image_.clear();
  blockCount_ = 0;
  pageOpen_ = false;
  silent_ = false;

  TOutput announce;
  announce.reply = true;
  // A line settling at power-on: alternating low and high idle levels.
  for (int i = 0; i < options_.noise; ++i) announce.bytes.push_back(i % 2 == 0 ? 0x00 : 0xFF);
  announce.bytes.insert(announce.bytes.end(), static_cast<std::size_t>(options_.announceBurst),
                        kAnnounce);
  return {std::move(announce)};
}

std::vector<TOutput> TBootDevice::Receive(std::span<const std::uint8_t> bytes) {
  std::vector<TOutput> out;
  if (bytes.empty()) return out;
  out.push_back(TOutput{{bytes.begin(), bytes.end()}, std::chrono::nanoseconds{0}, false});

  for (std::uint8_t b : bytes) {
    switch (phase_) {
      case TPhase::phStopped:
        continue;
      case TPhase::phOff:
        Violation("byte " + HexByte(b) + " sent before the device announced itself");
        continue;
      case TPhase::phFinished:
        Violation("byte " + HexByte(b) + " sent after the finish command");
        continue;
      case TPhase::phAwaitHandshake:
      case TPhase::phLoading:
        break;
    }
    packet_.push_back(b);
    if (phase_ == TPhase::phLoading && packet_.size() == 1 && b != kPageCommand &&
        b != kDataBlock && b != kFinishCommand) {
      Violation("unknown command " + HexByte(b) + " after block " + std::to_string(blockCount_));
      continue;
    }
    if (packet_.size() == ExpectedLength()) Packet(out);
  }
  return out;
}

std::size_t TBootDevice::ExpectedLength() const {
  if (phase_ == TPhase::phLoading && !packet_.empty() && packet_[0] == kDataBlock) {
    return kCommandLength + kBlockSize;
  }
  return kCommandLength;
}

std::uint16_t TBootDevice::NextAddress() const {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(blockCount_) * kBlockSize);
}

void TBootDevice::Packet(std::vector<TOutput>& out) {
  const std::vector<std::uint8_t> packet = std::exchange(packet_, {});
  const auto address = static_cast<std::uint16_t>((packet[1] << 8) | packet[2]);

  if (phase_ == TPhase::phAwaitHandshake) {
    if (!std::equal(packet.begin(), packet.end(), std::begin(kHandshake))) {
      Violation("expected the handshake 55 33 CC, got " + HexBytes(packet));
      return;
    }
    phase_ = TPhase::phLoading;
    Reply(out, options_.wrongHandshakeReply ? kWrongHandshakeReply : kAck);
    return;
  }

  switch (packet[0]) {
    case kPageCommand:
      if (blockCount_ % kBlocksPerPage != 0) {
        Violation("page command before block " + std::to_string(blockCount_) +
                  ", which does not begin a page");
        return;
      }
      if (pageOpen_) {
        Violation("second page command before block " + std::to_string(blockCount_));
        return;
      }
      if (address != NextAddress()) {
        Violation("page command for address " + Hex16(address) + ", expected " +
                  Hex16(NextAddress()));
        return;
      }
      pageOpen_ = true;
      Reply(out, kAck);
      return;

    case kDataBlock: {
      if (blockCount_ % kBlocksPerPage == 0 && !pageOpen_) {
        Violation("block " + std::to_string(blockCount_) + " without a page command");
        return;
      }
      if (address != NextAddress()) {
        Violation("block " + std::to_string(blockCount_) + " for address " + Hex16(address) +
                  ", expected " + Hex16(NextAddress()));
        return;
      }
      const auto data = std::span(packet).subspan(kCommandLength);
      image_.insert(image_.end(), data.begin(), data.end());
      auto sum = std::accumulate(
          data.begin(), data.end(), std::uint8_t{0},
          [](std::uint8_t s, std::uint8_t v) { return static_cast<std::uint8_t>(s + v); });
      const int index = blockCount_++;
      if (blockCount_ % kBlocksPerPage == 0) pageOpen_ = false;
      if (index == options_.wrongSumAt) sum = static_cast<std::uint8_t>(sum + 1);
      Reply(out, sum);
      if (index == options_.silentAfter) silent_ = true;
      return;
    }

    case kFinishCommand:
      if (packet[1] != 0 || packet[2] != 0) {
        Violation("finish command " + HexBytes(packet) + ", expected 99 00 00");
        return;
      }
      if (blockCount_ == 0) {
        Violation("finish command before any data block");
        return;
      }
      phase_ = TPhase::phFinished;
      return;

    default:
      return;  // rejected on its first byte
  }
}

void TBootDevice::Reply(std::vector<TOutput>& out, std::uint8_t byte) {
  if (silent_) return;
  std::chrono::nanoseconds gap = options_.delay;
  if (options_.split && gap < kSplitGap) gap = kSplitGap;
  out.push_back(TOutput{{byte}, gap, true});
}

void TBootDevice::Violation(const std::string& text) {
  ++violationCount_;
  newViolations_.push_back(text);
  phase_ = TPhase::phStopped;
  packet_.clear();
}

void TBootDevice::ReportViolation(const std::string& text) {
  Violation(text);
}

std::vector<std::string> TBootDevice::TakeViolations() {
  return std::exchange(newViolations_, {});
}

}  // namespace bootsim
