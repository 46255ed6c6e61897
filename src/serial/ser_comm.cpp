#include "serial/ser_comm.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <thread>

#include "serial/port_names.h"
#include "serial/ser_text.h"
#include "serial/ser_threads.h"

namespace serial {

namespace {

constexpr const char* kPortOpen = "Can't perform this operation while port is open";
constexpr const char* kBufferFull = "Output buffer is full. Please check comm status.";

}  // namespace

// ---- TSerCustomComm: life --------------------------------------------------------------------

TSerCustomComm::TSerCustomComm() {
  buffers_.SetOnChange([this](TSerPersistent&) { BuffersChanged(); });
  flowControl_.SetOnChange([this](TSerPersistent&) { LineSettingsChanged(); });
  eventChars_.SetOnChange([this](TSerPersistent&) { LineSettingsChanged(); });
}

TSerCustomComm::~TSerCustomComm() {
  destroying_ = true;
  Close();
  listeners_.clear();
  WaitThreadsLeft();
}

void TSerCustomComm::WaitThreadsLeft() {
  // Threads of earlier openings end on their own once the device has been closed; those
  // blocked in a hand-off only end after it (they no longer touch this object). Waiting for
  // the rest means no thread of ours is still running past its closed check.
  for (auto& link : oldLinks_) link->WaitQuiet();
  oldLinks_.clear();
}

void TSerCustomComm::Loaded() {
  if (autoOpen_) Open();
}

// ---- settings ------------------------------------------------------------------------------

void TSerCustomComm::CheckClosed() const {
  if (IsOpen()) throw ESerCommError(kPortOpen);
}

void TSerCustomComm::SetBaudrate(TSerBaudrate v) {
  if (v == baudrate_) return;
  baudrate_ = v;
  if (v != brUser) userBaudrate_ = 0;
  ApplyLineSettings();
}

void TSerCustomComm::SetUserBaudrate(std::int32_t v) {
  if (v == userBaudrate_) return;
  userBaudrate_ = v;
  baudrate_ = brUser;
  ApplyLineSettings();
}

void TSerCustomComm::SetParity(TSerParity v) {
  if (v == parity_) return;
  parity_ = v;
  ApplyLineSettings();
}

void TSerCustomComm::SetDatabits(TSerDatabits v) {
  if (v == databits_) return;
  databits_ = v;
  ApplyLineSettings();
}

void TSerCustomComm::SetStopbits(TSerStopbits v) {
  if (v == stopbits_) return;
  stopbits_ = v;
  ApplyLineSettings();
}

void TSerCustomComm::SetOptions(TSerCommOptions v) {
  if (v == options_) return;
  options_ = v;
  ApplyLineSettings();
}

void TSerCustomComm::SetPortNum(TSerPortInt v) {
  CheckClosed();
  portNum_ = std::max<TSerPortInt>(v, 0);
}

void TSerCustomComm::SetDeviceName(std::string v) {
  CheckClosed();
  deviceName_ = std::move(v);
}

void TSerCustomComm::SetMonitorEvents(TSerCommEvents v) {
  CheckClosed();
  monitorEvents_ = v;
}

void TSerCustomComm::SetBuffers(const TSerBuffers& v) {
  CheckClosed();
  buffers_.Assign(v);
}

void TSerCustomComm::SetEventPriority(TThreadPriority v) {
  if (v == eventPriority_) return;
  eventPriority_ = v;
  if (eventThread_) eventThread_->SetPriority(v);
}

void TSerCustomComm::SetWritePriority(TThreadPriority v) {
  if (v == writePriority_) return;
  writePriority_ = v;
  if (writeThread_) writeThread_->SetPriority(v);
}

void TSerCustomComm::SetDirectWrite(bool v) {
  CheckClosed();
  directWrite_ = v;
}

void TSerCustomComm::SetUpdateDCB(bool v) {
  CheckClosed();
  updateDcb_ = v;
}

void TSerCustomComm::SetOnTxEmpty(TSerNotifyEvent h) {
  onTxEmpty_ = std::move(h);
  if (link_) link_->wantTxEmpty = onTxEmpty_ || !listeners_.empty();
}

void TSerCustomComm::SetSynchronizer(ISerSynchronizer* sync) {
  sync_ = sync;
  syncShared_.reset();
}

void TSerCustomComm::SetSynchronizer(std::shared_ptr<ISerSynchronizer> sync) {
  sync_ = sync.get();
  syncShared_ = std::move(sync);
}

void TSerCustomComm::AttachListener(TSerListener* listener) {
  if (!listener) return;
  for (auto* l : listeners_)
    if (l == listener) return;
  listeners_.push_back(listener);
  if (link_) link_->wantTxEmpty = true;
}

void TSerCustomComm::DetachListener(TSerListener* listener) {
  std::erase(listeners_, listener);
  if (link_) link_->wantTxEmpty = onTxEmpty_ || !listeners_.empty();
}

void TSerCustomComm::BuffersChanged() {
  CheckClosed();
  ApplyBufferSizes();
  ApplyLineSettings();
}

void TSerCustomComm::LineSettingsChanged() {
  ApplyLineSettings();
}

// ---- derived values --------------------------------------------------------------------------

std::string TSerCustomComm::FormatDeviceName() const {
  return SerFormatDeviceName(deviceName_, portNum_);
}

TSerDcb TSerCustomComm::BuildDcb() const {
  using namespace SerDcbFlag;
  TSerDcb d;
  d.BaudRate =
      baudrate_ == brUser ? static_cast<std::uint32_t>(userBaudrate_) : SerBaudrateValue(baudrate_);
  std::uint32_t f = fBinary;
  if (options_ & SerOptions({coParityCheck})) f |= fParity;
  if (flowControl_.OutCtsFlow()) f |= fOutxCtsFlow;
  if (flowControl_.OutDsrFlow()) f |= fOutxDsrFlow;
  f |=
      (static_cast<std::uint32_t>(flowControl_.ControlDtr()) << fDtrControlShift) & fDtrControlMask;
  if (flowControl_.DsrSensitivity()) f |= fDsrSensitivity;
  if (flowControl_.TxContinueOnXoff()) f |= fTXContinueOnXoff;
  if (flowControl_.XonXoffOut()) f |= fOutX;
  if (flowControl_.XonXoffIn()) f |= fInX;
  if (options_ & SerOptions({coErrorChar})) f |= fErrorChar;
  if (options_ & SerOptions({coNullStrip})) f |= fNull;
  f |=
      (static_cast<std::uint32_t>(flowControl_.ControlRts()) << fRtsControlShift) & fRtsControlMask;
  d.Flags = f;
  d.XonLim = static_cast<std::uint16_t>(buffers_.XonLimit() & 0xFFFF);
  d.XoffLim = static_cast<std::uint16_t>(buffers_.XoffLimit() & 0xFFFF);
  d.ByteSize = static_cast<std::uint8_t>(4 + databits_);
  d.Parity = parity_;
  d.StopBits = stopbits_;
  d.XonChar = eventChars_.XonChar();
  d.XoffChar = eventChars_.XoffChar();
  d.ErrorChar = eventChars_.ErrorChar();
  d.EofChar = eventChars_.EofChar();
  d.EvtChar = eventChars_.EventChar();
  return d;
}

std::uint32_t TSerCustomComm::ComputeEventMask() const {
  static constexpr std::array<std::uint32_t, 13> kBits = {
      SerEv::Break,    SerEv::Cts,    SerEv::Dsr,     SerEv::Err,    SerEv::Ring,
      SerEv::Rlsd,     SerEv::RxChar, SerEv::TxEmpty, SerEv::RxFlag, SerEv::PErr,
      SerEv::Rx80Full, SerEv::Event1, SerEv::Event2};
  std::uint32_t mask = 0;
  for (std::size_t i = 0; i < kBits.size(); ++i)
    if (monitorEvents_ & (1u << i)) mask |= kBits[i];
  // The write thread reports transmit-empty itself.
  if (!directWrite_) mask &= ~SerEv::TxEmpty;
  return mask;
}

// ---- device steps ----------------------------------------------------------------------------

void TSerCustomComm::RaiseCommError(const char* pattern, int code) {
  std::string text = SerFormatError(pattern, code, SerSystemErrorText(code));
  if (SerIsDeviceGone(code)) throw ESerPortLost(std::move(text));
  throw ESerCommError(std::move(text));
}

void TSerCustomComm::OpenDevice() {
  const std::string name = FormatDeviceName();
  auto device = deviceFactory_ ? deviceFactory_() : CreateSerDevice();
  if (updateDcb_) device->SetOpenLine(BuildDcb());
  const int rc = device->Open(name);
  if (rc != kSerOk) {
    if (SerIsNotFound(rc)) throw ESerDeviceNotFound("Specified device not found (" + name + ").");
    std::string message = "Can't open specified device " + name + " (Error " + std::to_string(rc) +
                          ", " + SerSystemErrorText(rc) + ")";
    // A refusal for want of permission is common on a fresh machine; say how to get access.
    if (const std::string hint = SerAccessHint(rc, ResolveDevicePath(name)); !hint.empty())
      message += ". " + hint;
    throw ESerCommError(message);
  }
  handle_ = std::move(device);
}

void TSerCustomComm::ApplyLineSettings() {
  if (!IsOpen() || !updateDcb_) return;
  if (int rc = handle_->ApplyDcb(BuildDcb()); rc != kSerOk)
    RaiseCommError("Error writing dcb (%d), %s", rc);
}

void TSerCustomComm::ApplyBufferSizes() {
  if (!IsOpen()) return;
  if (int rc = handle_->SetupQueues(static_cast<std::uint32_t>(buffers_.ReadSize()),
                                    static_cast<std::uint32_t>(buffers_.WriteSize()));
      rc != kSerOk)
    RaiseCommError("Error initializing buffers (%d), %s", rc);
}

void TSerCustomComm::ApplyTimeouts() {
  if (!IsOpen()) return;
  // A read ends when its count is met or when more than 5 ms pass between two bytes.
  if (int rc = handle_->SetTimeouts(5); rc != kSerOk)
    RaiseCommError("Error setting timeouts (%d), %s", rc);
}

void TSerCustomComm::ApplyEventMask() {
  eventMask_ = ComputeEventMask();
  if (!IsOpen()) return;
  if (int rc = handle_->SetEventMask(eventMask_); rc != kSerOk)
    RaiseCommError(" Error setting EventMask (%d), %s", rc);
}

// ---- operations ------------------------------------------------------------------------------

void TSerCustomComm::Open() {
  CheckClosed();
  OpenDevice();
  try {
    ApplyLineSettings();
    ApplyBufferSizes();
    ApplyTimeouts();
    ApplyEventMask();
    StartThreads();
  } catch (...) {
    if (link_) {
      std::lock_guard lock(readLock_);
      StopThreads();
    }
    handle_->Close();
    handle_.reset();
    throw;
  }
  if (onOpen_) {
    try {
      onOpen_(*this);
    } catch (const std::exception& e) {
      ShowError(e);
    }
  }
}

void TSerCustomComm::StartThreads() {
  // Forget earlier openings whose threads have all ended.
  std::erase_if(oldLinks_, [](const std::shared_ptr<TSerLink>& l) { return l->Ended(); });
  link_ = std::make_shared<TSerLink>();
  link_->owner = this;
  link_->device = handle_;
  link_->sync = sync_;
  link_->syncShared = syncShared_;
  link_->wantTxEmpty = onTxEmpty_ || !listeners_.empty();
  if (eventMask_ != 0) eventThread_ = TSerCommEventThread::Start(link_, eventPriority_);
  if (!directWrite_)
    writeThread_ = TSerCommWriteThread::Start(link_, buffers_.WriteSize(), writePriority_);
}

void TSerCustomComm::StopThreads() {
  if (link_) {
    link_->Close();
    oldLinks_.push_back(link_);
    link_.reset();
  }
  if (eventThread_) eventThread_->Terminate();
  if (writeThread_) writeThread_->Close();
  eventThread_.reset();
  writeThread_.reset();
}

void TSerCustomComm::Close() {
  if (!IsOpen()) return;
  {
    std::lock_guard lock(readLock_);
    StopThreads();
  }
  // Ends the threads' pending device calls; the device is released once they have left.
  handle_->Close();
  handle_.reset();
  if (!destroying_ && onClose_) {
    try {
      onClose_(*this);
    } catch (const std::exception& e) {
      ShowError(e);
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

std::int32_t TSerCustomComm::WriteData(const void* p, std::int32_t count) {
  if (!IsOpen() || count <= 0) return 0;
  if (!directWrite_) {
    if (writeThread_ && writeThread_->Enqueue(p, count, buffers_.WriteTimeout())) return count;
    throw ESerCommError(kBufferFull);
  }
  // Direct write on the caller's thread, bounded by ReadTimeout like a read.
  std::lock_guard lock(readLock_);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(buffers_.ReadTimeout());
  const auto* bytes = static_cast<const std::uint8_t*>(p);
  std::int32_t total = 0;
  while (total < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    std::int32_t put = 0;
    const int rc =
        handle_->Write(bytes + total, count - total, static_cast<std::int32_t>(left), put);
    if (rc == kSerCancelled) break;
    if (rc != kSerOk) RaiseCommError("Write error (%d), %s", rc);
    total += put;
  }
  return total;
}

std::int32_t TSerCustomComm::ReadData(void* p, std::int32_t count) {
  if (!IsOpen() || count <= 0) return 0;
  std::lock_guard lock(readLock_);
  std::int32_t got = 0;
  const int rc = handle_->Read(p, count, static_cast<std::uint32_t>(buffers_.ReadTimeout()), got);
  if (rc != kSerOk && rc != kSerCancelled) RaiseCommError("Read error (%d), %s", rc);
  // Bytes that arrived before the time-out are returned rather than dropped.
  return got;
}

TSerStatus TSerCustomComm::ReadStatus() {
  std::lock_guard lock(readLock_);
  TSerStatus status;
  if (!IsOpen()) return status;
  const int rc = handle_->ReadStatus(status);
  if (rc == kSerCancelled) return TSerStatus{};
  if (rc != kSerOk) RaiseCommError("Error retrieving statistics (%d), %s", rc);
  return status;
}

std::int32_t TSerCustomComm::InQueueCount() {
  const auto n = ReadStatus().InQueue;
  return n > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<std::int32_t>(n);
}

// ---- events ----------------------------------------------------------------------------------

void TSerCustomComm::ShowError(const std::exception& e) const {
  if (errorDisplay_) {
    try {
      errorDisplay_(e);
    } catch (...) {
    }
    return;
  }
  std::fprintf(stderr, "%s\n", e.what());
}

void TSerCustomComm::RunGuarded(const std::function<void()>& report) {
  // A report runs on behalf of a background thread: whatever its handlers throw is shown
  // here, so that the thread goes on watching the line.
  try {
    report();
  } catch (const std::exception& e) {
    ShowError(e);
  } catch (...) {
    ShowError(std::runtime_error("Unknown error in a serial port event handler"));
  }
}

void TSerCustomComm::RunEventDispatch(std::uint32_t mask) {
  RunGuarded([this, mask] {
    if (display_) display_(*this, mask);
    if (mask & SerEv::RxChar) HandleRxChar();
    if (const std::uint32_t rest = mask & ~SerEv::RxChar; rest != 0) HandleCommEvents(rest);
  });
}

void TSerCustomComm::RunWriteReport(std::uint32_t mask) {
  RunGuarded([this, mask] { HandleCommEvents(mask); });
}

void TSerCustomComm::HandleRxChar() {
  const std::int32_t n = InQueueCount();
  if (n <= 0) return;
  if (HasListeners()) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(n));
    const std::int32_t got = ReadData(data.data(), n);
    DispatchRxBuf(data.data(), got);
  } else if (onRxChar_) {
    // Copy: the handler may replace itself.
    auto handler = onRxChar_;
    handler(*this, n);
  }
}

void TSerCustomComm::CheckLineErrors() {
  const TSerStatus status = ReadStatus();
  if (status.Errors != 0 && onError_) {
    try {
      auto handler = onError_;
      handler(*this, static_cast<std::int32_t>(status.Errors));
    } catch (const std::exception& e) {
      ShowError(e);
    }
  }
}

void TSerCustomComm::HandleCommEvents(std::uint32_t mask) {
  if (mask & SerEv::Err) CheckLineErrors();
  if (HasListeners()) DispatchEvents(mask);
  const std::pair<std::uint32_t, TSerNotifyEvent TSerCustomComm::*> order[] = {
      {SerEv::RxFlag, &TSerCustomComm::onRxFlag_},
      {SerEv::Cts, &TSerCustomComm::onCts_},
      {SerEv::Dsr, &TSerCustomComm::onDsr_},
      {SerEv::Ring, &TSerCustomComm::onRing_},
      {SerEv::Rlsd, &TSerCustomComm::onRlsd_},
      {SerEv::TxEmpty, &TSerCustomComm::onTxEmpty_},
      {SerEv::Break, &TSerCustomComm::onBreak_},
      {SerEv::PErr, &TSerCustomComm::onPErr_},
      {SerEv::Rx80Full, &TSerCustomComm::onRx80Full_},
      {SerEv::Event1, &TSerCustomComm::onEvent1_},
      {SerEv::Event2, &TSerCustomComm::onEvent2_}};
  for (const auto& [bit, handler] : order) {
    if ((mask & bit) && this->*handler) {
      // Copy: a handler may replace itself.
      auto h = this->*handler;
      h(*this);
    }
  }
}

void TSerCustomComm::DispatchEvents(std::uint32_t mask) {
  const auto listeners = listeners_;
  for (auto* l : listeners) l->CommEvents(*this, mask);
}

void TSerCustomComm::DispatchRxBuf(const void* data, std::int32_t count) {
  if (HasListeners()) {
    const auto listeners = listeners_;
    for (auto* l : listeners) l->RxBuf(*this, data, count);
  }
  if (onRxBuf_) onRxBuf_(*this, data, count);
}

// ---- the loader's configuration ------------------------------------------------------------

void ApplyLoaderSettings(TSerComm& comm) {
  comm.SetBaudrate(brUser);
  comm.SetUserBaudrate(10400);
  TSerFlowControl& flow = comm.FlowControl();
  flow.BeginUpdate();
  try {
    flow.SetOutCtsFlow(false);
    flow.SetOutDsrFlow(false);
    flow.SetControlDtr(dtrDisabled);
    flow.SetControlRts(rtsDisabled);
    flow.SetXonXoffOut(false);
    flow.SetXonXoffIn(false);
    flow.SetDsrSensitivity(false);
    flow.SetTxContinueOnXoff(false);
  } catch (...) {
    flow.EndUpdate();
    throw;
  }
  flow.EndUpdate();
}

}  // namespace serial
