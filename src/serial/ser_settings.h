// The serial component's line and buffer settings: the value sets (bit rate, frame, flow
// control, events, thread priorities) and the sub-objects that group them and notify their
// owner of changes.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>

namespace serial {

enum TSerBaudrate : std::uint8_t {
  brUser,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};
// The bit rate a value names; 0 for brUser.
std::uint32_t SerBaudrateValue(TSerBaudrate rate);

enum TSerParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TSerDatabits : std::uint8_t { db4, db5, db6, db7, db8 };
enum TSerStopbits : std::uint8_t { sb1, sb15, sb2 };
enum TSerControlDtr : std::uint8_t { dtrDisabled, dtrEnabled, dtrHandshake };
enum TSerControlRts : std::uint8_t { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };
enum TSerCommEvent : std::uint8_t {
  ceBreak,
  ceCts,
  ceDsr,
  ceError,
  ceRing,
  ceRlsd,
  ceRxChar,
  ceTxEmpty,
  ceRxFlag,
  cePErr,
  ceRx80Full,
  ceEvent1,
  ceEvent2
};
enum TSerCommOption : std::uint8_t { coErrorChar, coNullStrip, coParityCheck };

// Sets: bit n stands for the member with ordinal n.
using TSerCommEvents = std::uint16_t;
using TSerCommOptions = std::uint8_t;
constexpr TSerCommEvents SerEvents(std::initializer_list<TSerCommEvent> events) {
  TSerCommEvents set = 0;
  for (auto e : events) set = static_cast<TSerCommEvents>(set | (1u << e));
  return set;
}
constexpr TSerCommOptions SerOptions(std::initializer_list<TSerCommOption> options) {
  TSerCommOptions set = 0;
  for (auto o : options) set = static_cast<TSerCommOptions>(set | (1u << o));
  return set;
}

// Thread priorities; they stand for the operating-system priorities -15, -2, -1, 0, 1, 2, 15.
enum TThreadPriority : std::uint8_t {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};
int SerThreadPriorityValue(TThreadPriority priority);

// Integers restricted to 0..2147483647; setters store a negative value as 0.
using TSerIntW = std::int32_t;
using TSerPortInt = std::int32_t;

// Base of the settings sub-objects: change notifications with deferral.
class TSerPersistent {
 public:
  using TChangeHandler = std::function<void(TSerPersistent& sender)>;

  TSerPersistent() = default;
  TSerPersistent(const TSerPersistent&) = delete;
  TSerPersistent& operator=(const TSerPersistent&) = delete;
  virtual ~TSerPersistent() = default;

  void BeginUpdate() { ++updateCount_; }
  // Ends one level of deferral and then notifies (when no deferral is left).
  void EndUpdate();
  // Calls OnChange with this object when no update is deferred and a handler is set.
  void Changed();
  std::int32_t UpdateCount() const { return updateCount_; }
  void SetOnChange(TChangeHandler handler) { onChange_ = std::move(handler); }

  // Copies every setting from an object of the same class with one notification; any other
  // source raises std::invalid_argument ("Cannot assign a X to a Y").
  virtual void Assign(const TSerPersistent& source);
  virtual const char* ClassName() const { return "TSerPersistent"; }

 private:
  std::int32_t updateCount_ = 0;
  TChangeHandler onChange_;
};

class TSerBuffers : public TSerPersistent {
 public:
  TSerIntW ReadSize() const { return readSize_; }
  TSerIntW WriteSize() const { return writeSize_; }
  TSerIntW ReadTimeout() const { return readTimeout_; }
  TSerIntW WriteTimeout() const { return writeTimeout_; }
  TSerIntW XonLimit() const { return xonLimit_; }
  TSerIntW XoffLimit() const { return xoffLimit_; }
  void SetReadSize(TSerIntW v);
  void SetWriteSize(TSerIntW v);
  void SetReadTimeout(TSerIntW v);   // no notification
  void SetWriteTimeout(TSerIntW v);  // no notification
  void SetXonLimit(TSerIntW v);
  void SetXoffLimit(TSerIntW v);
  void Assign(const TSerPersistent& source) override;
  const char* ClassName() const override { return "TSerBuffers"; }

 private:
  TSerIntW readSize_ = 4096;
  TSerIntW writeSize_ = 2048;
  TSerIntW readTimeout_ = 1000;
  TSerIntW writeTimeout_ = 1000;
  TSerIntW xonLimit_ = 1024;
  TSerIntW xoffLimit_ = 1024;
};

class TSerFlowControl : public TSerPersistent {
 public:
  bool OutCtsFlow() const { return outCtsFlow_; }
  bool OutDsrFlow() const { return outDsrFlow_; }
  TSerControlDtr ControlDtr() const { return controlDtr_; }
  TSerControlRts ControlRts() const { return controlRts_; }
  bool XonXoffOut() const { return xonXoffOut_; }
  bool XonXoffIn() const { return xonXoffIn_; }
  bool DsrSensitivity() const { return dsrSensitivity_; }
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  void SetOutCtsFlow(bool v);
  void SetOutDsrFlow(bool v);
  void SetControlDtr(TSerControlDtr v);
  void SetControlRts(TSerControlRts v);
  void SetXonXoffOut(bool v);
  void SetXonXoffIn(bool v);
  void SetDsrSensitivity(bool v);
  void SetTxContinueOnXoff(bool v);
  void Assign(const TSerPersistent& source) override;
  const char* ClassName() const override { return "TSerFlowControl"; }

 private:
  bool outCtsFlow_ = false;
  bool outDsrFlow_ = false;
  TSerControlDtr controlDtr_ = dtrDisabled;
  TSerControlRts controlRts_ = rtsDisabled;
  bool xonXoffOut_ = false;
  bool xonXoffIn_ = false;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = false;
};

class TSerEventChars : public TSerPersistent {
 public:
  std::uint8_t XonChar() const { return xonChar_; }
  std::uint8_t XoffChar() const { return xoffChar_; }
  std::uint8_t ErrorChar() const { return errorChar_; }
  std::uint8_t EventChar() const { return eventChar_; }
  std::uint8_t EofChar() const { return eofChar_; }
  // Each setter notifies, whether or not the value differed.
  void SetXonChar(std::uint8_t v);
  void SetXoffChar(std::uint8_t v);
  void SetErrorChar(std::uint8_t v);
  void SetEventChar(std::uint8_t v);
  void SetEofChar(std::uint8_t v);
  void Assign(const TSerPersistent& source) override;
  const char* ClassName() const override { return "TSerEventChars"; }

 private:
  std::uint8_t xonChar_ = 0x11;
  std::uint8_t xoffChar_ = 0x13;
  std::uint8_t errorChar_ = 0;
  std::uint8_t eventChar_ = 0;
  std::uint8_t eofChar_ = 0;
};

}  // namespace serial
