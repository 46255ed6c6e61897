#include "session/transfer_session.h"

#include <utility>

namespace session {

EPortLost::EPortLost(std::string port, std::string detail)
    : std::runtime_error("Потеряна связь с портом " + port + ". " + detail),
      port_(std::move(port)),
      detail_(std::move(detail)) {}

TTransferSession::TTransferSession(serial::TSerComm& comm, engine::IControls& controls,
                                   ITimer& timer, TErrorDisplay display)
    : comm_(comm), timer_(timer), display_(std::move(display)), engine_(*this, controls) {
  comm_.SetOnRxChar([this](serial::TSerCustomComm&, std::int32_t count) { RxChar(count); });
  comm_.SetErrorDisplay([this](const std::exception& error) { ComponentError(error); });
}

TTransferSession::~TTransferSession() {
  timer_.Disarm();
  comm_.SetOnRxChar(nullptr);
  comm_.SetErrorDisplay(nullptr);
}

void TTransferSession::Start(const std::string& hexFileName, const std::string& imageFolder) {
  try {
    engine_.Start(hexFileName, imageFolder);
  } catch (...) {
    FollowEngine();
    throw;
  }
  FollowEngine();
}

void TTransferSession::StartConverted(const oh2b::TConvertedImage& image) {
  try {
    engine_.StartConverted(image);
  } catch (...) {
    FollowEngine();
    throw;
  }
  FollowEngine();
}

void TTransferSession::EndWait() {
  if (engine_.TransferState() != engine::tsAwaitDevice) return;
  engine_.Abandon();
  FollowEngine();
}

void TTransferSession::Release() {
  timer_.Disarm();
  engine_.ReleaseImage();
}

bool TTransferSession::PortChosen() const {
  return comm_.HasChosenName();
}

std::string TTransferSession::PortName() const {
  return comm_.DeviceName();
}

bool TTransferSession::IsOpen() const {
  return comm_.IsOpen();
}

void TTransferSession::Open() {
  comm_.Open();
}

int TTransferSession::WriteData(const void* p, int n) {
  ++writes_;
  readSinceWrite_ = 0;
  return comm_.WriteData(p, n);
}

int TTransferSession::ReadData(void* p, int n) {
  const int got = comm_.ReadData(p, n);
  readSinceWrite_ += got;
  readTotal_ += got;
  return got;
}

void TTransferSession::RxChar(std::int32_t count) {
  try {
    // Until the queue is empty: more may wait than one read takes (a noisy line while the
    // loader was stalled), and what stays in the queue is reported again only when a
    // further byte arrives.
    std::int64_t left = kReadLimitPerNotification;
    while (count > 0 && left > 0) {
      const std::int64_t before = readTotal_;
      engine_.RxChar(count);
      const std::int64_t got = readTotal_ - before;
      if (got <= 0) break;
      left -= got;
      count = comm_.InQueueCount();
    }
  } catch (...) {
    FollowEngine();
    throw;
  }
  FollowEngine();
}

// Every packet the engine sends in the middle of a transfer must be answered within the
// limit; waiting for the device's announcement has none.
void TTransferSession::FollowEngine() {
  if (!engine_.Transferring()) {
    timer_.Disarm();
  } else if (writes_ != writesTimed_) {
    writesTimed_ = writes_;
    timer_.Arm(kReplyLimit, [this] { ReplyLimitPassed(); });
  }
  if (afterEngine_) afterEngine_();
}

void TTransferSession::ReplyLimitPassed() {
  engine_.NoReply();
  FollowEngine();
}

void TTransferSession::ComponentError(const std::exception& error) {
  const auto* lost = dynamic_cast<const serial::ESerPortLost*>(&error);
  if (lost == nullptr) {
    if (display_) display_(error);
    return;
  }
  // The device behind the port has gone: the transfer cannot go on, and the port is
  // closed so that its next use opens it anew (a replugged adapter).
  const std::string port = comm_.DeviceName();
  engine_.Abandon();
  FollowEngine();
  if (comm_.IsOpen()) comm_.Close();
  if (display_) display_(EPortLost(port, lost->what()));
}

}  // namespace session
