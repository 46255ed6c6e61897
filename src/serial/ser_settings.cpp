#include "serial/ser_settings.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

namespace serial {

std::uint32_t SerBaudrateValue(TSerBaudrate rate) {
  static constexpr std::array<std::uint32_t, 16> kRates = {
      0,     110,   300,   600,   1200,  2400,   4800,   9600,
      14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  return rate < kRates.size() ? kRates[rate] : 0;
}

int SerThreadPriorityValue(TThreadPriority priority) {
  static constexpr std::array<int, 7> kValues = {-15, -2, -1, 0, 1, 2, 15};
  return priority < kValues.size() ? kValues[priority] : 0;
}

// ---- TSerPersistent and the settings sub-objects -------------------------------------------

void TSerPersistent::EndUpdate() {
  if (updateCount_ > 0) --updateCount_;
  Changed();
}

void TSerPersistent::Changed() {
  if (updateCount_ == 0 && onChange_) onChange_(*this);
}

void TSerPersistent::Assign(const TSerPersistent& source) {
  throw std::invalid_argument(std::string("Cannot assign a ") + source.ClassName() + " to a " +
                              ClassName());
}

namespace {
template <typename T>
void SetNotify(TSerPersistent& self, T& field, T value) {
  if (field != value) {
    field = value;
    self.Changed();
  }
}
}  // namespace

void TSerBuffers::SetReadSize(TSerIntW v) {
  SetNotify(*this, readSize_, std::max<TSerIntW>(v, 0));
}
void TSerBuffers::SetWriteSize(TSerIntW v) {
  SetNotify(*this, writeSize_, std::max<TSerIntW>(v, 0));
}
void TSerBuffers::SetReadTimeout(TSerIntW v) {
  readTimeout_ = std::max<TSerIntW>(v, 0);
}
void TSerBuffers::SetWriteTimeout(TSerIntW v) {
  writeTimeout_ = std::max<TSerIntW>(v, 0);
}
void TSerBuffers::SetXonLimit(TSerIntW v) {
  SetNotify(*this, xonLimit_, std::max<TSerIntW>(v, 0));
}
void TSerBuffers::SetXoffLimit(TSerIntW v) {
  SetNotify(*this, xoffLimit_, std::max<TSerIntW>(v, 0));
}

void TSerBuffers::Assign(const TSerPersistent& source) {
  const auto* other = dynamic_cast<const TSerBuffers*>(&source);
  if (!other) return TSerPersistent::Assign(source);
  BeginUpdate();
  readSize_ = other->readSize_;
  writeSize_ = other->writeSize_;
  readTimeout_ = other->readTimeout_;
  writeTimeout_ = other->writeTimeout_;
  xonLimit_ = other->xonLimit_;
  xoffLimit_ = other->xoffLimit_;
  EndUpdate();
}

void TSerFlowControl::SetOutCtsFlow(bool v) {
  SetNotify(*this, outCtsFlow_, v);
}
void TSerFlowControl::SetOutDsrFlow(bool v) {
  SetNotify(*this, outDsrFlow_, v);
}
void TSerFlowControl::SetControlDtr(TSerControlDtr v) {
  SetNotify(*this, controlDtr_, v);
}
void TSerFlowControl::SetControlRts(TSerControlRts v) {
  SetNotify(*this, controlRts_, v);
}
void TSerFlowControl::SetXonXoffOut(bool v) {
  SetNotify(*this, xonXoffOut_, v);
}
void TSerFlowControl::SetXonXoffIn(bool v) {
  SetNotify(*this, xonXoffIn_, v);
}
void TSerFlowControl::SetDsrSensitivity(bool v) {
  SetNotify(*this, dsrSensitivity_, v);
}
void TSerFlowControl::SetTxContinueOnXoff(bool v) {
  SetNotify(*this, txContinueOnXoff_, v);
}

void TSerFlowControl::Assign(const TSerPersistent& source) {
  const auto* other = dynamic_cast<const TSerFlowControl*>(&source);
  if (!other) return TSerPersistent::Assign(source);
  BeginUpdate();
  try {
    SetOutCtsFlow(other->outCtsFlow_);
    SetOutDsrFlow(other->outDsrFlow_);
    SetControlDtr(other->controlDtr_);
    SetControlRts(other->controlRts_);
    SetXonXoffOut(other->xonXoffOut_);
    SetXonXoffIn(other->xonXoffIn_);
    SetDsrSensitivity(other->dsrSensitivity_);
    SetTxContinueOnXoff(other->txContinueOnXoff_);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TSerEventChars::SetXonChar(std::uint8_t v) {
  xonChar_ = v;
  Changed();
}
void TSerEventChars::SetXoffChar(std::uint8_t v) {
  xoffChar_ = v;
  Changed();
}
void TSerEventChars::SetErrorChar(std::uint8_t v) {
  errorChar_ = v;
  Changed();
}
void TSerEventChars::SetEventChar(std::uint8_t v) {
  eventChar_ = v;
  Changed();
}
void TSerEventChars::SetEofChar(std::uint8_t v) {
  eofChar_ = v;
  Changed();
}

void TSerEventChars::Assign(const TSerPersistent& source) {
  const auto* other = dynamic_cast<const TSerEventChars*>(&source);
  if (!other) return TSerPersistent::Assign(source);
  BeginUpdate();
  SetXonChar(other->xonChar_);
  SetXoffChar(other->xoffChar_);
  SetErrorChar(other->errorChar_);
  SetEventChar(other->eventChar_);
  SetEofChar(other->eofChar_);
  EndUpdate();
}

}  // namespace serial
