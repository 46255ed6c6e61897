#include "engine/transfer_engine.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <numeric>

#include "engine/image_file.h"
#include "oh2b/oh2b.h"
#include "platform/file.h"
#include "platform/file_errors.h"
#include "platform/hex_text.h"

namespace engine {

namespace {

constexpr std::uint8_t kDeviceHello = 0x55;
constexpr std::uint8_t kAck = 0xAA;
constexpr std::uint8_t kLineIdleLow = 0x00;   // what a line settling at power-on
constexpr std::uint8_t kLineIdleHigh = 0xFF;  // may deliver before the device speaks
constexpr std::uint8_t kPageCommand = 0x11;
constexpr std::uint8_t kDataBlock = 0x22;
constexpr std::uint8_t kFinishCommand = 0x99;
constexpr int kCommandLength = 3;

}  // namespace

TTransferEngine::TTransferEngine(ITransport& transport, IControls& controls)
    : transport_(transport), controls_(controls), copyLimit_(TImageFile::kCopyLimit) {}

TTransferEngine::~TTransferEngine() = default;

void TTransferEngine::Start(const std::string& hexFileName, const std::string& imageFolder) {
  StartWith(
      [&] {
        return oh2b::ConvertHex(hexFileName, imageFolder,
                                oh2b::THexOptions{checkRecords_, conversionCancel_});
      },
      hexFileName);
}

void TTransferEngine::StartConverted(const oh2b::TConvertedImage& image) {
  StartWith([&] { return image; }, image.path);
}

void TTransferEngine::StartWith(const std::function<oh2b::TConvertedImage()>& convert,
                                const std::string& hexFileName) {
  if (!transport_.PortChosen()) return;
  outcome_ = TOutcome::ocNone;

  // The converter renames and recreates the image file, so ours must be closed first.
  CloseImage();
  try {
    OpenImage(convert(), hexFileName);
  } catch (...) {
    // Nothing is left to send: a device answering an earlier start must not find
    // the engine still waiting.
    if (transferState_ != tsIdle) {
      transferState_ = tsIdle;
      controls_.SetPromptVisible(false);
    }
    throw;
  }

  imageSize_ = imageStream_->Size();
  const std::uint64_t parts = imageSize_ / kBlockSize;
  controls_.SetTotalParts(static_cast<std::uint32_t>(
      std::min<std::uint64_t>(parts, std::numeric_limits<std::uint32_t>::max())));
  controls_.SetPartsComplete(0);

  blockAddress_ = 0;
  blockCount_ = 0;
  expectedReply_ = kDeviceHello;
  txLength_ = 0;  // nothing sent yet, so no received byte is echo
  endReached_ = false;
  transferState_ = tsAwaitDevice;

  if (!transport_.IsOpen()) transport_.Open();
  controls_.SetPromptVisible(true);
}

void TTransferEngine::RxChar(int count) {
  std::array<std::uint8_t, kTxBufferSize> rxBuffer{};
  bool answered = false;
  try {
    // Bytes left waiting would be read only when another byte arrives, which a device that
    // has announced itself once never sends.
    for (int left = count; left > 0;) {
      const int asked = std::min(left, kTxBufferSize);
      const int got = std::min(transport_.ReadData(rxBuffer.data(), asked), asked);
      if (got <= 0) break;
      left -= got;
      for (int i = 0; i < got; ++i) {
        // Already received when the answer went out, so no echo of it (an announcement
        // repeated before we read it).
        if (answered) {
          Note(TLineByte::lbIgnored, rxBuffer[i]);
        } else {
          answered = ByteStep(rxBuffer[i]);
        }
      }
      FlushNotes();
    }
  } catch (...) {
    FlushNotes();
    throw;
  }
}

void TTransferEngine::ReleaseImage() {
  CloseImage();
  transferState_ = tsIdle;
}

void TTransferEngine::Reset() {
  transferState_ = tsIdle;
}

bool TTransferEngine::ByteStep(std::uint8_t b) {
  // Saturates instead of overflowing on a line that chatters for weeks while idle.
  if (rxCount_ < std::numeric_limits<std::int32_t>::max()) ++rxCount_;
  if (rxCount_ <= txLength_) {  // our own packet coming back
    Note(TLineByte::lbEcho, b);
    // A byte that differs means that the byte taken for the reply would be a guess.
    if (Transferring() && b != txBuffer_[static_cast<std::size_t>(rxCount_ - 1)])
      LineFault(rxCount_ - 1, b);
    return false;
  }
  if (transferState_ == tsIdle ||
      (transferState_ == tsAwaitDevice && (b == kLineIdleLow || b == kLineIdleHigh))) {
    Note(TLineByte::lbIgnored, b);
    return false;
  }
  Note(TLineByte::lbReply, b);
  if (b != expectedReply_) {
    ErrorStop(b);
    return false;
  }

  switch (transferState_) {
    case tsAwaitDevice:
      controls_.TransferBegan();
      controls_.SetProgressVisible(true);
      controls_.SetControlsEnabled(false);
      controls_.SetPromptVisible(false);
      BuildHandshake();
      transferState_ = tsAwaitHandshakeAck;
      break;
    case tsAwaitHandshakeAck:
    case tsAwaitBlockSum:
      NextStep();
      break;
    case tsAwaitPageAck:
      BuildDataBlock();
      transferState_ = tsAwaitBlockSum;
      break;
    case tsIdle:
      return false;
  }
  Send();
  return true;
}

void TTransferEngine::NextStep() {
  if (endReached_) {
    Finish();
  } else if (blockCount_ % kBlocksPerPage == 0) {
    BuildPageCommand();
    transferState_ = tsAwaitPageAck;
  } else {
    BuildDataBlock();
    transferState_ = tsAwaitBlockSum;
  }
}

void TTransferEngine::ClearTxBuffer() {
  txBuffer_.fill(0);
}

void TTransferEngine::BuildHandshake() {
  ClearTxBuffer();
  txBuffer_[0] = 0x55;
  txBuffer_[1] = 0x33;
  txBuffer_[2] = 0xCC;
  txLength_ = kCommandLength;
  expectedReply_ = kAck;
}

void TTransferEngine::BuildPageCommand() {
  ClearTxBuffer();
  txBuffer_[0] = kPageCommand;
  txBuffer_[1] = static_cast<std::uint8_t>(blockAddress_ >> 8);
  txBuffer_[2] = static_cast<std::uint8_t>(blockAddress_ & 0xFF);
  txLength_ = kCommandLength;
  expectedReply_ = kAck;
}

void TTransferEngine::BuildDataBlock() {
  ClearTxBuffer();
  std::uint8_t* const data = txBuffer_.data() + kCommandLength;
  // A short read at the end of the image makes this the last block; the zeroed rest
  // of the buffer fills it out. A read error must not pass for the end of the image:
  // the device would be told the transfer is complete.
  TImageFile::ErrorCode error = 0;
  if (imageStream_->Read(data, kBlockSize, error) < std::size_t{kBlockSize}) endReached_ = true;
  if (error != 0) AbandonOnReadError(error);

  txBuffer_[0] = kDataBlock;
  txBuffer_[1] = static_cast<std::uint8_t>(blockAddress_ >> 8);
  txBuffer_[2] = static_cast<std::uint8_t>(blockAddress_ & 0xFF);

  ++blockCount_;
  // The device's address space is 16 bits wide: larger images wrap to 0.
  blockAddress_ = static_cast<std::uint16_t>(static_cast<std::uint32_t>(blockCount_) * kBlockSize);
  controls_.SetPartsComplete(static_cast<std::uint32_t>(blockCount_));

  txLength_ = kCommandLength + kBlockSize;
  blockSum_ = std::accumulate(
      data, data + kBlockSize, std::uint8_t{0},
      [](std::uint8_t sum, std::uint8_t byte) { return static_cast<std::uint8_t>(sum + byte); });
  expectedReply_ = blockSum_;
}

void TTransferEngine::Finish() {
  outcome_ = TOutcome::ocFinished;
  controls_.SetProgressVisible(false);
  controls_.TransferEnded(outcome_, TStopDetail{});
  controls_.SetControlsEnabled(true);
  ClearTxBuffer();
  txBuffer_[0] = kFinishCommand;
  txLength_ = kCommandLength;
  transferState_ = tsIdle;
  endReached_ = false;
  CloseImage();
}

void TTransferEngine::ErrorStop(std::uint8_t received) {
  NoteStop(true, received);
  StopTransfer(kReplyErrorText, TOutcome::ocErrorStop);
}

void TTransferEngine::LineFault(std::int32_t offset, std::uint8_t received) {
  const auto at = static_cast<std::size_t>(offset);
  const std::string text = std::string(kLineFaultText) + " " + transport_.PortName() + ": эхо " +
                           SentPacketName() + ", байт " + std::to_string(offset) + ": отправлен " +
                           platform::HexText(txBuffer_[at], 2) + ", получен " +
                           platform::HexText(received, 2);
  NoteStop(true, received);
  // Nothing more is sent: the controls return to ready and the error says why.
  StopTransfer(nullptr, TOutcome::ocLineFault);
  throw ELineFault(text);
}

// The packet in TxBuffer, in the genitive: "рукопожатия", "блока 3 (0x0180)", ...
std::string TTransferEngine::SentPacketName() const {
  const unsigned address = (unsigned{txBuffer_[1]} << 8) | txBuffer_[2];
  switch (txBuffer_[0]) {
    case kPageCommand:
      return "команды страницы " + platform::HexText(address, 4);
    case kDataBlock:
      return "блока " + std::to_string(blockCount_ - 1) + " (" + platform::HexText(address, 4) +
             ")";
    default:
      return "рукопожатия";
  }
}

void TTransferEngine::Note(TLineByte use, std::uint8_t byte) {
  if (!lineObserver_) return;
  if (use != notedUse_) FlushNotes();
  notedUse_ = use;
  noted_.push_back(byte);
}

void TTransferEngine::FlushNotes() {
  if (noted_.empty()) return;
  const std::vector<std::uint8_t> bytes = std::exchange(noted_, {});
  if (lineObserver_) lineObserver_(notedUse_, bytes.data(), bytes.size());
}

void TTransferEngine::NoReply() {
  if (!Transferring()) return;
  NoteStop(false, 0);
  StopTransfer(kNoReplyText, TOutcome::ocNoReply);
}

void TTransferEngine::NoteStop(bool received, std::uint8_t byte) {
  lastStop_ = TStopDetail{};
  lastStop_.state = transferState_;
  lastStop_.expected = expectedReply_;
  lastStop_.received = received;
  lastStop_.receivedByte = byte;
  if (transferState_ == tsAwaitBlockSum) {
    lastStop_.block = blockCount_ - 1;
    lastStop_.address =
        static_cast<std::uint16_t>(static_cast<std::uint32_t>(lastStop_.block) * kBlockSize);
  } else if (transferState_ == tsAwaitPageAck) {
    lastStop_.address = blockAddress_;
  }
}

void TTransferEngine::Abandon() {
  if (transferState_ == tsIdle) {
    CloseImage();
    return;
  }
  NoteStop(false, 0);
  StopTransfer(nullptr, TOutcome::ocAbandoned);
}

void TTransferEngine::StopTransfer(const char* message, TOutcome outcome) {
  controls_.SetPartsComplete(0);
  blockAddress_ = 0;
  blockCount_ = 0;
  transferState_ = tsIdle;
  outcome_ = outcome;
  controls_.SetProgressVisible(false);
  controls_.TransferEnded(outcome_, lastStop_);
  if (message != nullptr) controls_.ShowMessage(message);
  // Back to ready, so that the operator can simply start again.
  controls_.SetControlsEnabled(true);
  controls_.SetPromptVisible(false);
  CloseImage();
}

void TTransferEngine::Send() {
  rxCount_ = 0;
  // The byte answered is told first, then the answer.
  FlushNotes();
  if (lineObserver_ && txLength_ > 0) {
    lineObserver_(TLineByte::lbSent, txBuffer_.data(), static_cast<std::size_t>(txLength_));
  }
  transport_.WriteData(txBuffer_.data(), txLength_);
}

void TTransferEngine::OpenImage(const oh2b::TConvertedImage& converted,
                                const std::string& hexFileName) {
  auto image = std::make_unique<TImageFile>();
  // The converter names no image when the HEX file does not exist: say which file is
  // missing rather than naming the image's folder.
  const std::string& path = converted.path.empty() ? hexFileName : converted.path;
  const TImageFile::ErrorCode error = converted.path.empty()
                                          ? TImageFile::NotFound()
                                          : image->Open(path, converted.crc32, copyLimit_);
  // Changed between its conversion and now: the same words as a change during the transfer.
  if (error == platform::kContentChanged) {
    throw EImageReadError("Cannot read file \"" + path + "\". " + platform::SystemErrorText(error));
  }
  if (error != 0) platform::ThrowOpenError(path, error);
  imageStream_ = std::move(image);
  imagePath_ = path;
}

void TTransferEngine::AbandonOnReadError(unsigned long error) {
  const std::string text = "Cannot read file \"" + imagePath_ + "\". " +
                           platform::SystemErrorText(static_cast<platform::TErrorCode>(error));
  // Nothing is sent: the device keeps waiting for a block and the controls return to
  // ready, as after a wrong reply, and the error tells the operator why.
  NoteStop(false, 0);
  StopTransfer(nullptr, TOutcome::ocAbandoned);
  throw EImageReadError(text);
}

void TTransferEngine::CloseImage() {
  imageStream_.reset();
}

}  // namespace engine
