// The serial port component: opens a port by name, configures the line, queues bytes for
// a background write thread and watches the line with a background event thread whose
// reports run on the user-interface thread (through an ISerSynchronizer), where the
// component fires OnRxChar and its other events.
//
// Every operation and every setter is called on the user-interface thread; every event
// handler runs there, one at a time.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "serial/ser_platform.h"
#include "serial/ser_settings.h"
#include "serial/ser_sync.h"

namespace serial {

// Every failure of the component; the message is the operator-facing text.
class ESerCommError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The port failed in a way that only a new open can mend: the device has gone (a USB
// adapter pulled, the other end of a pseudo-terminal closed). Same texts as its base.
class ESerPortLost : public ESerCommError {
 public:
  using ESerCommError::ESerCommError;
};

// DeviceName until a port is chosen: the pattern that names no port of its own.
inline constexpr const char* kUnchosenPort = "COM%d";

// The port named does not exist (no such device, no such name).
class ESerDeviceNotFound : public ESerCommError {
 public:
  using ESerCommError::ESerCommError;
};

class TSerCustomComm;
class TSerCommEventThread;
class TSerCommWriteThread;
struct TSerLink;

using TSerNotifyEvent = std::function<void(TSerCustomComm& sender)>;
using TSerRxCharEvent = std::function<void(TSerCustomComm& sender, std::int32_t count)>;
using TSerRxBufEvent =
    std::function<void(TSerCustomComm& sender, const void* data, std::int32_t count)>;
using TSerErrorEvent = std::function<void(TSerCustomComm& sender, std::int32_t errors)>;
using TSerDisplay = std::function<void(TSerCustomComm& sender, std::uint32_t eventMask)>;
using TSerErrorDisplay = std::function<void(const std::exception& error)>;
using TSerDeviceFactory = std::function<std::shared_ptr<TSerDevice>()>;

// Another component attached to this one; it takes the event mask of every line event and
// the received bytes (which the component then reads on its behalf instead of firing
// OnRxChar).
class TSerListener {
 public:
  virtual ~TSerListener() = default;
  virtual void CommEvents(TSerCustomComm& sender, std::uint32_t mask) = 0;
  virtual void RxBuf(TSerCustomComm& sender, const void* data, std::int32_t count) = 0;
};

class TSerCustomComm {
 public:
  TSerCustomComm();
  TSerCustomComm(const TSerCustomComm&) = delete;
  TSerCustomComm& operator=(const TSerCustomComm&) = delete;
  // Closes the port without firing OnClose.
  virtual ~TSerCustomComm();

  // --- operations -------------------------------------------------------------------------
  void Open();
  void Close();
  bool IsOpen() const { return handle_ != nullptr; }
  std::int32_t WriteData(const void* p, std::int32_t count);
  std::int32_t ReadData(void* p, std::int32_t count);
  // Status query: line error flags (cleared) and input-queue count; zeros while closed.
  TSerStatus ReadStatus();
  std::int32_t InQueueCount();
  // The component has been loaded with its settings: opens when AutoOpen is set.
  void Loaded();

  // --- settings ---------------------------------------------------------------------------
  bool AutoOpen() const { return autoOpen_; }
  void SetAutoOpen(bool v) { autoOpen_ = v; }
  TSerBaudrate Baudrate() const { return baudrate_; }
  void SetBaudrate(TSerBaudrate v);
  TSerParity Parity() const { return parity_; }
  void SetParity(TSerParity v);
  TSerDatabits Databits() const { return databits_; }
  void SetDatabits(TSerDatabits v);
  TSerStopbits Stopbits() const { return stopbits_; }
  void SetStopbits(TSerStopbits v);
  TSerEventChars& EventChars() { return eventChars_; }
  const TSerEventChars& EventChars() const { return eventChars_; }
  void SetEventChars(const TSerEventChars& v) { eventChars_.Assign(v); }
  TSerFlowControl& FlowControl() { return flowControl_; }
  const TSerFlowControl& FlowControl() const { return flowControl_; }
  void SetFlowControl(const TSerFlowControl& v) { flowControl_.Assign(v); }
  TSerCommOptions Options() const { return options_; }
  void SetOptions(TSerCommOptions v);
  TSerPortInt PortNum() const { return portNum_; }
  void SetPortNum(TSerPortInt v);
  // The stored pattern, not the formatted name.
  const std::string& DeviceName() const { return deviceName_; }
  void SetDeviceName(std::string v);
  // Whether a port has been named: DeviceName differs from kUnchosenPort.
  bool HasChosenName() const { return deviceName_ != kUnchosenPort; }
  TSerCommEvents MonitorEvents() const { return monitorEvents_; }
  void SetMonitorEvents(TSerCommEvents v);
  TSerBuffers& Buffers() { return buffers_; }
  const TSerBuffers& Buffers() const { return buffers_; }
  void SetBuffers(const TSerBuffers& v);
  TThreadPriority EventPriority() const { return eventPriority_; }
  void SetEventPriority(TThreadPriority v);
  TThreadPriority WritePriority() const { return writePriority_; }
  void SetWritePriority(TThreadPriority v);
  bool DirectWrite() const { return directWrite_; }
  void SetDirectWrite(bool v);
  bool UpdateDCB() const { return updateDcb_; }
  void SetUpdateDCB(bool v);
  std::int32_t UserBaudrate() const { return userBaudrate_; }
  void SetUserBaudrate(std::int32_t v);

  // --- events (all unset at creation) -----------------------------------------------------
  void SetOnOpen(TSerNotifyEvent h) { onOpen_ = std::move(h); }
  void SetOnClose(TSerNotifyEvent h) { onClose_ = std::move(h); }
  void SetOnRxChar(TSerRxCharEvent h) { onRxChar_ = std::move(h); }
  void SetOnRxBuf(TSerRxBufEvent h) { onRxBuf_ = std::move(h); }
  void SetOnError(TSerErrorEvent h) { onError_ = std::move(h); }
  void SetOnRxFlag(TSerNotifyEvent h) { onRxFlag_ = std::move(h); }
  void SetOnCts(TSerNotifyEvent h) { onCts_ = std::move(h); }
  void SetOnDsr(TSerNotifyEvent h) { onDsr_ = std::move(h); }
  void SetOnRing(TSerNotifyEvent h) { onRing_ = std::move(h); }
  void SetOnRlsd(TSerNotifyEvent h) { onRlsd_ = std::move(h); }
  void SetOnTxEmpty(TSerNotifyEvent h);
  void SetOnBreak(TSerNotifyEvent h) { onBreak_ = std::move(h); }
  void SetOnPErr(TSerNotifyEvent h) { onPErr_ = std::move(h); }
  void SetOnRx80Full(TSerNotifyEvent h) { onRx80Full_ = std::move(h); }
  void SetOnEvent1(TSerNotifyEvent h) { onEvent1_ = std::move(h); }
  void SetOnEvent2(TSerNotifyEvent h) { onEvent2_ = std::move(h); }
  // Told of every line event the event thread reports; none in the loader.
  void SetDisplay(TSerDisplay d) { display_ = std::move(d); }

  // --- environment ------------------------------------------------------------------------
  // Where the threads' reports run. The synchronizer must outlive the threads of every
  // opening (its destruction must release blocked callers, as every TSerHandOff's does);
  // the shared_ptr form lets the threads keep it alive themselves. Without a synchronizer
  // the reports run on the reporting thread.
  void SetSynchronizer(ISerSynchronizer* sync);
  void SetSynchronizer(std::shared_ptr<ISerSynchronizer> sync);
  // The application's standard error display; by default the text goes to stderr.
  void SetErrorDisplay(TSerErrorDisplay display) { errorDisplay_ = std::move(display); }
  // Where devices come from (tests inject fakes); by default CreateSerDevice.
  void SetDeviceFactory(TSerDeviceFactory factory) { deviceFactory_ = std::move(factory); }

  // --- listeners --------------------------------------------------------------------------
  void AttachListener(TSerListener* listener);
  void DetachListener(TSerListener* listener);
  bool ListenersEnabled() const { return listenersEnabled_; }
  void SetListenersEnabled(bool v) { listenersEnabled_ = v; }

  // --- derived values ---------------------------------------------------------------------
  // DeviceName with PortNum put in, in the printf manner.
  std::string FormatDeviceName() const;
  // The line-settings record the current settings give.
  TSerDcb BuildDcb() const;
  // The device event mask the current settings give.
  std::uint32_t ComputeEventMask() const;
  // The mask computed at the last Open (0 at creation).
  std::uint32_t EventMask() const { return eventMask_; }

 protected:
  virtual void OpenDevice();
  virtual void StartThreads();
  virtual void HandleRxChar();
  virtual void HandleCommEvents(std::uint32_t mask);
  virtual void DispatchEvents(std::uint32_t mask);
  virtual void DispatchRxBuf(const void* data, std::int32_t count);

  void CheckClosed() const;
  void ApplyLineSettings();
  void ApplyBufferSizes();
  void ApplyTimeouts();
  void ApplyEventMask();
  void StopThreads();
  bool Enqueue(const void* p, std::int32_t count);
  void CheckLineErrors();
  [[noreturn]] static void RaiseCommError(const char* pattern, int code);
  void ShowError(const std::exception& e) const;

 private:
  friend class TSerCommEventThread;
  friend class TSerCommWriteThread;
  friend struct TSerLink;

  void BuffersChanged();
  void LineSettingsChanged();
  // Runs a background thread's report, showing whatever it throws (ShowError).
  void RunGuarded(const std::function<void()>& report);
  void RunEventDispatch(std::uint32_t mask);
  void RunWriteReport(std::uint32_t mask);
  bool HasListeners() const { return listenersEnabled_ && !listeners_.empty(); }
  void WaitThreadsLeft();

  std::shared_ptr<TSerDevice> handle_;  // open exactly while set
  std::mutex readLock_;
  std::shared_ptr<TSerCommEventThread> eventThread_;
  std::shared_ptr<TSerCommWriteThread> writeThread_;
  std::shared_ptr<TSerLink> link_;  // what the threads of the current opening share with us
  std::vector<std::shared_ptr<TSerLink>> oldLinks_;  // openings whose threads may still run
  std::uint32_t eventMask_ = 0;
  bool autoOpen_ = false;
  TSerPortInt portNum_ = 0;
  std::string deviceName_ = kUnchosenPort;
  TSerCommEvents monitorEvents_ = SerEvents({ceError, ceRxChar, ceTxEmpty});
  TSerBuffers buffers_;
  TThreadPriority eventPriority_ = tpNormal;
  TThreadPriority writePriority_ = tpHighest;
  bool directWrite_ = false;
  bool listenersEnabled_ = true;
  std::vector<TSerListener*> listeners_;
  TSerBaudrate baudrate_ = br1200;
  TSerParity parity_ = paNone;
  TSerDatabits databits_ = db8;
  TSerStopbits stopbits_ = sb1;
  TSerCommOptions options_ = 0;
  TSerFlowControl flowControl_;
  TSerEventChars eventChars_;
  bool updateDcb_ = true;
  std::int32_t userBaudrate_ = 0;

  TSerNotifyEvent onOpen_, onClose_, onRxFlag_, onCts_, onDsr_, onRing_, onRlsd_, onTxEmpty_,
      onBreak_, onPErr_, onRx80Full_, onEvent1_, onEvent2_;
  TSerRxCharEvent onRxChar_;
  TSerRxBufEvent onRxBuf_;
  TSerErrorEvent onError_;
  TSerDisplay display_;

  ISerSynchronizer* sync_ = nullptr;
  std::shared_ptr<ISerSynchronizer> syncShared_;
  TSerErrorDisplay errorDisplay_;
  TSerDeviceFactory deviceFactory_;
  bool destroying_ = false;
};

// The component as the program uses it.
class TSerComm : public TSerCustomComm {
 public:
  using TSerCustomComm::TSerCustomComm;
};

// The loader's line: brUser at 10400 bit/s, all flow control off (DTR and RTS disabled).
void ApplyLoaderSettings(TSerComm& comm);

}  // namespace serial
