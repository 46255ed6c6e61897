// The device layer under the serial port component: one implementation per platform
// (ser_platform_posix.cpp on termios, ser_platform_win32.cpp on the Windows
// communications functions). The component's logic, threads and settings are portable
// and only ever talk to a device through this interface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace serial {

// Line-settings record, field for field the Windows DCB. Portable code fills it from the
// component's settings; the platform layer hands it to the device.
struct TSerDcb {
  std::uint32_t DCBlength = 28;
  std::uint32_t BaudRate = 0;
  std::uint32_t Flags = 0;  // the DCB bit fields, see SerDcbFlag
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 0;  // 4..8
  std::uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
  std::uint8_t XonChar = 0;
  std::uint8_t XoffChar = 0;
  std::uint8_t ErrorChar = 0;
  std::uint8_t EofChar = 0;
  std::uint8_t EvtChar = 0;

  bool operator==(const TSerDcb&) const = default;
};

// Bits of TSerDcb::Flags, in the positions of the DCB bit fields.
namespace SerDcbFlag {
constexpr std::uint32_t fBinary = 0x0001;
constexpr std::uint32_t fParity = 0x0002;
constexpr std::uint32_t fOutxCtsFlow = 0x0004;
constexpr std::uint32_t fOutxDsrFlow = 0x0008;
constexpr std::uint32_t fDtrControlMask = 0x0030;  // 0 disabled, 1 enabled, 2 handshake
constexpr int fDtrControlShift = 4;
constexpr std::uint32_t fDsrSensitivity = 0x0040;
constexpr std::uint32_t fTXContinueOnXoff = 0x0080;
constexpr std::uint32_t fOutX = 0x0100;
constexpr std::uint32_t fInX = 0x0200;
constexpr std::uint32_t fErrorChar = 0x0400;
constexpr std::uint32_t fNull = 0x0800;
constexpr std::uint32_t fRtsControlMask = 0x3000;  // 0 disabled, 1 enabled, 2 handshake, 3 toggle
constexpr int fRtsControlShift = 12;
constexpr std::uint32_t fAbortOnError = 0x4000;
}  // namespace SerDcbFlag

// Device event bits (the values of the Windows EV_* constants).
namespace SerEv {
constexpr std::uint32_t RxChar = 0x0001;
constexpr std::uint32_t RxFlag = 0x0002;
constexpr std::uint32_t TxEmpty = 0x0004;
constexpr std::uint32_t Cts = 0x0008;
constexpr std::uint32_t Dsr = 0x0010;
constexpr std::uint32_t Rlsd = 0x0020;
constexpr std::uint32_t Break = 0x0040;
constexpr std::uint32_t Err = 0x0080;
constexpr std::uint32_t Ring = 0x0100;
constexpr std::uint32_t PErr = 0x0200;
constexpr std::uint32_t Rx80Full = 0x0400;
constexpr std::uint32_t Event1 = 0x0800;
constexpr std::uint32_t Event2 = 0x1000;
}  // namespace SerEv

// Line error flags (the values of the Windows CE_* constants).
namespace SerCe {
constexpr std::uint32_t RxOver = 0x0001;
constexpr std::uint32_t Overrun = 0x0002;
constexpr std::uint32_t RxParity = 0x0004;
constexpr std::uint32_t Frame = 0x0008;
constexpr std::uint32_t Break = 0x0010;
}  // namespace SerCe

// What a status query returns: the line error flags (cleared by the query) and the number
// of received bytes waiting in the input queue.
struct TSerStatus {
  std::uint32_t Errors = 0;
  std::uint32_t InQueue = 0;
};

// Result codes: 0 is success, a positive value is the system's error code (errno,
// GetLastError) for SerSystemErrorText, and kSerCancelled means the operation was ended by
// Close() or WakeWait() and is no error.
constexpr int kSerOk = 0;
constexpr int kSerCancelled = -1;

// One opened serial device.
//
// Threads: the owner (the user-interface thread) opens, configures, reads, queries and
// closes. While it is open, one event thread may sit in WaitEvent and one write thread in
// Write. Close() may be called while they are inside: their calls end promptly with
// kSerCancelled, and the operating-system handle is released only after every call that
// was inside has left, so no pending operation outlives the storage it refers to. After
// Close() every call returns kSerCancelled at once.
class TSerDevice {
 public:
  virtual ~TSerDevice() = default;

  // Opens the port `name` (a port name such as COM3 or ttyUSB0; the POSIX layer also takes a
  // path) for exclusive read/write access. Returns 0 or the system error code; see
  // SerIsNotFound.
  virtual int Open(const std::string& name) = 0;
  // The line settings to give the port straight after the system has opened it, before
  // anything else: drivers raise DTR and RTS as they open a port, and many interfaces are
  // powered or keyed by those lines. Set before Open; the caller still applies them with
  // ApplyDcb, which reports failures. A layer whose open leaves the lines alone ignores it.
  virtual void SetOpenLine(const TSerDcb& dcb) { (void)dcb; }
  // Ends pending calls and releases the device. Idempotent; never fails.
  virtual void Close() = 0;

  // The line-settings record (SetCommState).
  virtual int ApplyDcb(const TSerDcb& dcb) = 0;
  // Driver queue sizes (SetupComm). A layer whose driver has fixed queues accepts any size.
  virtual int SetupQueues(std::uint32_t inSize, std::uint32_t outSize) = 0;
  // Read time-outs (SetCommTimeouts with ReadIntervalTimeout = readIntervalMs and the four
  // total time-outs 0): a read ends when its count is met or when more than readIntervalMs
  // pass between two bytes after the first.
  virtual int SetTimeouts(std::uint32_t readIntervalMs) = 0;
  // Events that WaitEvent reports (SetCommMask), in SerEv bits.
  virtual int SetEventMask(std::uint32_t mask) = 0;

  // Blocks until events of the mask occur and returns 0 with them in `occurred`; events that
  // occur while no wait is outstanding are reported by the next wait, and so are received
  // bytes that were waiting before the event mask was set. Returns kSerCancelled
  // when woken by WakeWait() or Close(). May return 0 with `occurred` 0 (nothing to report;
  // wait again). Must never return at once pass after pass without anything having happened.
  virtual int WaitEvent(std::uint32_t& occurred) = 0;
  // Ends a WaitEvent that is in progress (or the next one) with kSerCancelled.
  virtual void WakeWait() = 0;

  // Line error flags (cleared by this query) and the input-queue count (ClearCommError).
  virtual int ReadStatus(TSerStatus& status) = 0;

  // Reads up to n bytes into p: ends when n bytes have been read, when the read interval
  // passes after a byte, or when timeoutMs pass in all. `got` is the number of bytes placed
  // in p; nothing is written to p after the call has returned.
  virtual int Read(void* p, std::int32_t n, std::uint32_t timeoutMs, std::int32_t& got) = 0;
  // Writes up to n bytes from p and returns once some have been accepted by the driver
  // (`put` says how many; the caller writes the rest again) or timeoutMs has passed
  // (timeoutMs < 0: no limit). Close() ends it with kSerCancelled.
  virtual int Write(const void* p, std::int32_t n, std::int32_t timeoutMs, std::int32_t& put) = 0;
};

// A new, closed device of this platform.
std::shared_ptr<TSerDevice> CreateSerDevice();

// True when `code` from TSerDevice::Open means that the device does not exist
// (ERROR_FILE_NOT_FOUND, ENOENT).
bool SerIsNotFound(int code);

// True when `code` from an operation on an open device means that the device has gone
// and will not come back under this handle (EIO, ENXIO, ENODEV; on Windows the codes a
// removed USB adapter gives).
bool SerIsDeviceGone(int code);

// What the user can do about an open refused with `code` for want of permission on the device
// at `devicePath`: one sentence naming the group that the device lets read and write, or ""
// when the code is no permission error or no group membership would help (the device has
// no such group, or it is the superuser's own group).
std::string SerAccessHint(int code, const std::string& devicePath);

// The system's text for an error code: at most 256 characters, without trailing blanks,
// control characters and full stops. The same on every platform (ser_text.cpp, on the
// platform layer's SystemMessage).
std::string SerSystemErrorText(int code);

// Gives the calling thread an operating-system priority in the Windows scale (-15, -2, -1,
// 0, 1, 2, 15). Best effort: a priority the process may not take is left as it is.
void SerSetCurrentThreadPriority(int osPriority);

}  // namespace serial
