// The transfer session: joins the transfer engine to the serial port component, for the
// window and for loader-cli alike. It is the engine's transport, receives the component's
// notifications and errors, and keeps the one clock the transfer has: a device that stops
// answering in the middle of a transfer ends it instead of leaving it waiting for good.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

#include "engine/transfer_engine.h"
#include "serial/ser_comm.h"
#include "session/timer.h"

namespace session {

// How long the device may take to answer a packet once the handshake has begun. Its
// slowest answer (a 131-byte block and its echo at 10400 bit/s) takes about 0.26 s.
inline constexpr std::chrono::milliseconds kReplyLimit{5000};

// No port chosen, no transfer.
using serial::kUnchosenPort;

// The port failed under the session (an adapter pulled): "Потеряна связь с портом %s. %s",
// the port's name and the component's own text.
class EPortLost : public std::runtime_error {
 public:
  EPortLost(std::string port, std::string detail);
  const std::string& Port() const { return port_; }
  const std::string& Detail() const { return detail_; }

 private:
  std::string port_;
  std::string detail_;
};

// What became of a byte on the line, as the engine judged it: sent, or received and taken for
// echo, for the device's reply or ignored.
using TByteDirection = engine::TLineByte;
// Sees each byte the engine sends or receives, as it goes (loader-cli's --trace).
using TByteObserver = engine::TLineObserver;

// The most one notification reads: a line that never falls silent must not hold the
// user-interface thread; what is left comes with the next notification.
inline constexpr std::int64_t kReadLimitPerNotification = 64 * 1024;

// Shows an error to the operator (the window's error display, loader-cli's message).
using TErrorDisplay = std::function<void(const std::exception& error)>;

class TTransferSession : private engine::ITransport {
 public:
  // Takes over comm's received-data notification and error display; comm, controls and
  // timer outlive the session.
  TTransferSession(serial::TSerComm& comm, engine::IControls& controls, ITimer& timer,
                   TErrorDisplay display);
  ~TTransferSession() override;
  TTransferSession(const TTransferSession&) = delete;
  TTransferSession& operator=(const TTransferSession&) = delete;

  engine::TTransferEngine& Engine() { return engine_; }
  const engine::TTransferEngine& Engine() const { return engine_; }

  // The start action: hexFileName converted into imageFolder (see TTransferEngine::Start);
  // errors propagate.
  void Start(const std::string& hexFileName, const std::string& imageFolder);
  // The same for an image converted already (see TTransferEngine::StartConverted).
  void StartConverted(const oh2b::TConvertedImage& image);
  // The operator has given up waiting for the device: the engine goes idle, the controls
  // return and the image is released. Does nothing once the transfer has begun.
  void EndWait();
  // Window destruction: the image is released and the clock stopped.
  void Release();

  // Packets written so far, and bytes read since the last one (the echo of the finish
  // command shows that it has left before the port is closed).
  std::int64_t Writes() const { return writes_; }
  std::int64_t ReadSinceWrite() const { return readSinceWrite_; }

  // Optional; an empty observer ends the watching.
  void SetByteObserver(TByteObserver observer) { engine_.SetLineObserver(std::move(observer)); }
  // Optional; called each time the engine has acted (a start, received bytes, no reply, a
  // lost port), when what it holds, its image among it, is settled.
  void SetAfterEngine(std::function<void()> after) { afterEngine_ = std::move(after); }

 private:
  // engine::ITransport
  bool PortChosen() const override;
  std::string PortName() const override;
  bool IsOpen() const override;
  void Open() override;
  int WriteData(const void* p, int n) override;
  int ReadData(void* p, int n) override;

  void RxChar(std::int32_t count);
  void ComponentError(const std::exception& error);
  void FollowEngine();
  void ReplyLimitPassed();

  serial::TSerComm& comm_;
  ITimer& timer_;
  TErrorDisplay display_;
  engine::TTransferEngine engine_;
  std::int64_t writes_ = 0;
  std::int64_t readSinceWrite_ = 0;
  std::int64_t readTotal_ = 0;
  std::function<void()> afterEngine_;
  std::int64_t writesTimed_ = 0;  // writes_ when the clock was last set
};

}  // namespace session
