// The transfer engine: a byte-driven state machine that loads a flat binary image
// into the device's boot code over a line that echoes every byte sent.
//
// It has no timer and no thread of its own. It advances only when the transport
// reports received bytes (RxChar) and answers each accepted reply at once by
// queueing the next packet; its owner ends it when no reply came in time (NoReply) or
// the port has gone (Abandon). Everything runs on the caller's (user-interface) thread.
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "oh2b/oh2b.h"

namespace engine {

class TImageFile;

enum TTransferState : std::uint8_t {
  tsIdle = 0,               // every received byte is ignored
  tsAwaitDevice = 1,        // the device's 0x55 after power-on
  tsAwaitHandshakeAck = 2,  // 0xAA after the handshake
  tsAwaitBlockSum = 3,      // the sum of the data block just sent
  tsAwaitPageAck = 4,       // 0xAA after a page command
};

// How the last transfer ended, for callers that need to know (the command line).
// Abandoned: ended by its line or its image (the caller is told why by an error).
// LineFault: the line returned a packet other than it was sent (ELineFault says where).
enum class TOutcome { ocNone, ocFinished, ocErrorStop, ocNoReply, ocAbandoned, ocLineFault };

// What the engine did with a byte on the line, for a trace: a packet it sent, or a received
// byte that it took for the echo of that packet, for the device's reply, or ignored.
enum class TLineByte { lbSent, lbEcho, lbReply, lbIgnored };
// Told of the bytes in runs of one kind, in line order, as the engine handles them.
using TLineObserver =
    std::function<void(TLineByte use, const std::uint8_t* bytes, std::size_t count)>;

// Where the last transfer stopped, for the operator's status line.
struct TStopDetail {
  TTransferState state = tsIdle;  // what the engine was waiting for
  std::int32_t block = -1;        // the data block whose sum was awaited, else -1
  std::uint16_t address = 0;      // that block's or the page command's address
  std::uint8_t expected = 0;      // the reply the device owed
  bool received = false;          // a wrong byte came (false: none came)
  std::uint8_t receivedByte = 0;
};

// The byte transport: the transfer session over the serial port component (the window and
// loader-cli), in tests a fake.
class ITransport {
 public:
  virtual ~ITransport() = default;
  // True once a port has been chosen (the component's DeviceName differs from "COM%d").
  virtual bool PortChosen() const = 0;
  // The port's name, for error texts.
  virtual std::string PortName() const = 0;
  virtual bool IsOpen() const = 0;
  virtual void Open() = 0;  // raises the component's error on failure
  // Queues n bytes for sending and returns at once.
  virtual int WriteData(const void* p, int n) = 0;
  // Reads up to n waiting bytes; returns how many were read.
  virtual int ReadData(void* p, int n) = 0;
};

// The window's controls as the engine drives them, in the order it drives them.
class IControls {
 public:
  virtual ~IControls() = default;
  virtual void SetTotalParts(std::uint32_t total) = 0;     // progress bar TotalParts
  virtual void SetPartsComplete(std::uint32_t parts) = 0;  // progress bar PartsComplete
  virtual void SetProgressVisible(bool visible) = 0;       // progress bar shown/hidden
  virtual void SetControlsEnabled(bool enabled) = 0;       // ABegin, ASelectFile, UiToolButton2
  virtual void SetPromptVisible(bool visible) = 0;         // Form2 ("Включи питание")
  virtual void ShowMessage(const std::string& text) = 0;   // modal box with an OK button
  // The device has announced itself: the transfer begins (before the progress bar shows).
  virtual void TransferBegan() = 0;
  // The transfer, or the wait for the device, is over: how it ended and, for a stop, where
  // (LastStop). Comes once the progress bar is hidden, before any message box.
  virtual void TransferEnded(TOutcome outcome, const TStopDetail& stop) = 0;
};

inline constexpr const char* kReplyErrorText = "Ошибка ответа";
inline constexpr const char* kNoReplyText = "Нет ответа от устройства";
inline constexpr const char* kLineFaultText = "Искажение на линии";

// Reading the image failed in the middle of a transfer: "Cannot read file "%s". %s".
class EImageReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A byte of a packet came back on the line other than it was sent (a noisy line, a stray
// byte ahead of the echo): the device may have heard it wrong too, and the byte taken for
// its reply would be a guess. The text names the port, the packet and the byte's offset:
// "Искажение на линии ttyUSB0: эхо блока 3 (0x0180), байт 5: отправлен 0x3C, получен 0x3D".
class ELineFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TTransferEngine {
 public:
  static constexpr int kTxBufferSize = 1024;
  static constexpr int kBlockSize = 128;
  static constexpr int kBlocksPerPage = 4;

  // What a transfer of an image of imageSize bytes sends, for a preview: a data block per
  // 128 bytes and a closing short or empty one, each four opened by a page command.
  static constexpr std::uint64_t BlocksFor(std::uint64_t imageSize) {
    return imageSize / kBlockSize + 1;
  }
  static constexpr std::uint64_t PageCommandsFor(std::uint64_t imageSize) {
    return (BlocksFor(imageSize) + kBlocksPerPage - 1) / kBlocksPerPage;
  }

  TTransferEngine(ITransport& transport, IControls& controls);
  ~TTransferEngine();
  TTransferEngine(const TTransferEngine&) = delete;
  TTransferEngine& operator=(const TTransferEngine&) = delete;

  // The start action: converts hexFileName into imageFolder, opens the image at the path
  // the converter returns, sets up the progress bar, waits for the device. Does nothing
  // when no port is chosen. Conversion, image and port errors propagate to the caller. A
  // conversion or image error ends any earlier wait (state idle, prompt hidden): there is
  // no image to send. A port error leaves the engine waiting with its image, the prompt
  // not shown.
  void Start(const std::string& hexFileName, const std::string& imageFolder);

  // The same for an image converted already (by oh2b::ConvertHex, at image.path): several
  // ports send the bytes of one conversion.
  void StartConverted(const oh2b::TConvertedImage& image);

  // Images up to this size are copied whole when a transfer starts (TImageFile).
  void SetImageCopyLimit(std::uint64_t bytes) { copyLimit_ = bytes; }

  // Asked while Start converts the HEX file; once it returns true the conversion
  // stops with oh2b::EConvertCancelled, which Start passes on as any conversion error.
  void SetConversionCancel(std::function<bool()> cancelled) {
    conversionCancel_ = std::move(cancelled);
  }
  const std::function<bool()>& ConversionCancel() const { return conversionCancel_; }

  // Start refuses a HEX file whose records are not sound (byte count against the line's
  // length, checksum) with oh2b::ERecordCheckError. Off by default: the window converts
  // hand-edited files as they are.
  void SetRecordChecks(bool on) { checkRecords_ = on; }

  // The received-data notification: count bytes are waiting (never 0). Reads all of them,
  // kTxBufferSize at a time. Those left after the byte that a packet answers were on the
  // line before that packet went out, so they are no echo of it: they are ignored. A
  // transport error, a line fault (ELineFault) or an image error propagates; the bytes of
  // this call not yet handled are lost.
  void RxChar(int count);

  // Optional (a trace); an empty observer ends the watching.
  void SetLineObserver(TLineObserver observer) { lineObserver_ = std::move(observer); }

  // Closes and releases the image, if any (window destruction). A transfer in
  // progress cannot go on without its image, so the engine goes idle.
  void ReleaseImage();

  // The window creation sets the state to idle.
  void Reset();

  // The device has not answered in time (the caller keeps the clock): stops as a wrong
  // reply does, with the message kNoReplyText. Does nothing unless a transfer is running.
  void NoReply();

  // The line is gone: ends any transfer or wait without a message (the caller says why).
  // The controls return to ready, the prompt hides and the image is released.
  void Abandon();

  // True from the device's announcement until the finish or a stop.
  bool Transferring() const {
    return transferState_ == tsAwaitHandshakeAck || transferState_ == tsAwaitBlockSum ||
           transferState_ == tsAwaitPageAck;
  }

  TTransferState TransferState() const { return transferState_; }
  TOutcome Outcome() const { return outcome_; }
  std::int32_t BlockCount() const { return blockCount_; }
  std::uint16_t BlockAddress() const { return blockAddress_; }
  std::uint8_t ExpectedReply() const { return expectedReply_; }
  bool HasImage() const { return imageStream_ != nullptr; }
  // Size of the image of the last start, in bytes.
  std::uint64_t ImageSize() const { return imageSize_; }
  const TStopDetail& LastStop() const { return lastStop_; }

 private:
  // True when the byte was answered with a packet.
  bool ByteStep(std::uint8_t b);
  void NextStep();
  void BuildHandshake();
  void BuildPageCommand();
  void BuildDataBlock();
  void Finish();
  void ErrorStop(std::uint8_t received);
  [[noreturn]] void LineFault(std::int32_t offset, std::uint8_t received);
  std::string SentPacketName() const;
  void Note(TLineByte use, std::uint8_t byte);
  void FlushNotes();
  void NoteStop(bool received, std::uint8_t byte);
  // Stops on a failure and returns the controls to ready; message, if any, is shown.
  void StopTransfer(const char* message, TOutcome outcome);
  void Send();
  // Start's common part: the image from convert, then the wait for the device.
  void StartWith(const std::function<oh2b::TConvertedImage()>& convert,
                 const std::string& hexFileName);
  void OpenImage(const oh2b::TConvertedImage& image, const std::string& hexFileName);
  [[noreturn]] void AbandonOnReadError(unsigned long error);
  void CloseImage();
  void ClearTxBuffer();

  ITransport& transport_;
  IControls& controls_;

  std::uint8_t expectedReply_ = 0;
  std::unique_ptr<TImageFile> imageStream_;
  std::string imagePath_;  // full path of the open image, for error texts
  std::array<std::uint8_t, kTxBufferSize> txBuffer_{};
  std::int32_t txLength_ = 0;
  std::int32_t rxCount_ = 0;
  std::int32_t blockCount_ = 0;
  std::uint16_t blockAddress_ = 0;
  TTransferState transferState_ = tsIdle;
  bool endReached_ = false;
  std::uint8_t blockSum_ = 0;
  TOutcome outcome_ = TOutcome::ocNone;
  std::uint64_t imageSize_ = 0;
  TStopDetail lastStop_;
  std::function<bool()> conversionCancel_;
  bool checkRecords_ = false;
  std::uint64_t copyLimit_;
  TLineObserver lineObserver_;
  std::vector<std::uint8_t> noted_;  // received bytes not yet told to the observer
  TLineByte notedUse_ = TLineByte::lbIgnored;
};

}  // namespace engine
