#include "window/main_window.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "platform/file.h"
#include "platform/file_errors.h"
#include "platform/file_names.h"
#include "serial/port_info.h"
#include "session/error_text.h"
#include "window/image_aside.h"
#include "window/status_text.h"
#include "window/window_look.h"

namespace window {

namespace {

constexpr int kPortPaneWidth = 47;
// The pane's frame and the gap before its text, left and right together.
constexpr int kPortPaneMargins = 8;

// The caption and the status line name the file as this system's paths do.
std::string FileNamePart(const std::string& path) {
  return platform::FileNamePart(path, platform::NativePathDelimiters());
}

}  // namespace

std::string FileArgument(const std::vector<std::string>& args) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--") return i + 1 < args.size() ? args[i + 1] : std::string();
    if (!args[i].empty() && args[i].front() != '-') return args[i];
  }
  return {};
}

TMainWindow::TMainWindow(IWindowFace& face, serial::ISerSynchronizer& sync, session::ITimer& timer,
                         TMainWindowOptions options)
    : face_(face), timer_(timer), options_(std::move(options)) {
  serial::ApplyLoaderSettings(serComm1_);
  serComm1_.SetSynchronizer(&sync);
  engine::IControls& controls = *this;
  session_ = std::make_unique<session::TTransferSession>(
      serComm1_, controls, timer_, [this](const std::exception& error) { ShowException(error); });
  // A private folder goes as soon as the engine lets go of the image made in it.
  session_->SetAfterEngine([this] {
    if (!Engine().HasImage()) imageFolder_ = {};
  });
  uiRegIniFile1_.SetApplicationTitle(kAppTitle);
  if (!options_.settingsPath.empty()) uiRegIniFile1_.SetPath(options_.settingsPath);
}

TMainWindow::~TMainWindow() {
  FormDestroy();
}

// ---- creation and destruction ----------------------------------------------------------------

void TMainWindow::FormCreate() {
  RunHandler([this] {
    Engine().Reset();
    BuildPortMenu();
    RestorePort();
    RestoreFile();
    face_.SetCaption(FileNamePart(hexFileName_));
  });
  ShowReadyStatus();
}

void TMainWindow::FormDestroy() {
  if (session_) session_->Release();
  imageFolder_ = {};
  if (serComm1_.IsOpen()) serComm1_.Close();
}

void TMainWindow::BuildPortMenu() {
  ports_ = ListPorts();
  std::vector<TPortItem> items;
  items.reserve(ports_.size());
  const bool chosen = serComm1_.HasChosenName();
  for (const TPortInfo& port : ports_)
    items.push_back({port.name, port.description, chosen && port.name == serComm1_.DeviceName()});
  // A menu that does not drop would leave the operator guessing.
  if (items.empty()) items.push_back({kNoPortsItem, {}, false, false});
  face_.SetPortMenu(items);
}

std::vector<TPortInfo> TMainWindow::ListPorts() const {
  std::vector<TPortInfo> ports;
  if (options_.enumeratePorts) {
    ports = options_.enumeratePorts();
  } else {
    for (serial::TComPortInfo& port : serial::EnumerateComPortInfo())
      ports.push_back({std::move(port.name), std::move(port.description)});
  }
  // Case-insensitive order, so COM10 comes before COM2; equal names keep their order.
  std::stable_sort(ports.begin(), ports.end(), [](const TPortInfo& a, const TPortInfo& b) {
    return serial::PortNameLess(a.name, b.name);
  });
  return ports;
}

void TMainWindow::RestorePort() {
  if (uiRegIniFile1_.SectionHasKeys("PortName")) {
    const std::string name = uiRegIniFile1_.ReadText("PortName", "Name", "COM1");
    const bool present = std::any_of(ports_.begin(), ports_.end(),
                                     [&](const TPortInfo& port) { return port.name == name; });
    if (present) {
      serComm1_.SetDeviceName(name);
      ShowPort();
      return;
    }
  }
  AChangeComPortExecute();
}

void TMainWindow::RestoreFile() {
  if (!options_.openFile.empty()) {
    // As the dialog resolves a typed name: against the folder shown, the current one.
    std::error_code error;
    const std::filesystem::path path =
        std::filesystem::absolute(platform::PathOf(options_.openFile), error).lexically_normal();
    // The file's folder becomes the current one, as the dialog leaves it.
    if (!error) std::filesystem::current_path(path.parent_path(), error);
    TakeFile(path.empty() ? options_.openFile : platform::Utf8Of(path));
    return;
  }
  if (uiRegIniFile1_.SectionHasKeys("FileName")) {
    const std::string name = uiRegIniFile1_.ReadText("FileName", "Name", "");
    if (platform::KindOf(name) == platform::TFileKind::ftRegular) {
      NoteFile(name);
      face_.SetBeginEnabled(true);
      return;
    }
  }
  ASelectFileExecute();
}

// ---- actions -----------------------------------------------------------------------------------

void TMainWindow::ASelectFileExecute() {
  RunHandler([this] {
    const std::optional<std::string> chosen = face_.RunFileDialog();
    if (!chosen) return;
    TakeFile(*chosen);
  });
}

void TMainWindow::TakeFile(const std::string& path) {
  NoteFile(path);
  // The caption names the file that Старт will send, not the one of the start-up.
  face_.SetCaption(FileNamePart(hexFileName_));
  ShowReadyStatus();
  uiRegIniFile1_.WriteText("FileName", "Name", hexFileName_);
  face_.SetBeginEnabled(true);
}

bool TMainWindow::TakesDroppedFiles(const std::vector<std::string>& paths) const {
  return paths.size() == 1 && !session_->Engine().Transferring() &&
         platform::KindOf(paths.front()) == platform::TFileKind::ftRegular;
}

void TMainWindow::FilesDropped(const std::vector<std::string>& paths) {
  if (!TakesDroppedFiles(paths)) return;
  RunHandler([this, &paths] {
    // The file's folder becomes the current one, as the dialog leaves it.
    std::error_code error;
    std::filesystem::current_path(platform::PathOf(paths.front()).parent_path(), error);
    TakeFile(paths.front());
  });
}

void TMainWindow::AChangeComPortExecute() {
  pendingMessage_ = kNoPortMessage;
  face_.PostPendingMessage();
}

void TMainWindow::ABeginExecute() {
  RunHandler([this] {
    // With no port chosen nothing can be sent: the operator is told so. Otherwise the
    // notice of the last transfer, which stays until the next start, makes way for the
    // file being sent.
    if (!serComm1_.HasChosenName()) {
      face_.ShowBox(kNoPortMessage, TBoxIcon::biNone);
      return;
    }
    ShowReadyStatus();
    // A wait from an earlier start ends: its image is rebuilt, and while a question is
    // open no device may find the engine waiting.
    session_->EndWait();
    TImageFolder folder = TImageFolder::Choose();
    // The current directory: beside a file chosen in the dialog, which makes the folder it
    // shows current, else where the program started; the private folder where that takes no
    // new files.
    const std::string into = folder.Private().empty() ? platform::CurrentDirectory()
                                                      : platform::Utf8Of(folder.Private());
    try {
      ConvertAndStart(into);
    } catch (...) {
      KeepImageFolder(std::move(folder));
      throw;
    }
    KeepImageFolder(std::move(folder));
  });
}

void TMainWindow::ConvertAndStart(const std::string& folder) {
  const oh2b::TConvertedImage image =
      oh2b::ConvertHex(hexFileName_, folder, oh2b::THexOptions{false, Engine().ConversionCancel()});
  if (image.path.empty()) platform::ThrowOpenError(hexFileName_, platform::NotFoundError());
  image_ = image;
  ShowReadyStatus();
  // Nothing to send is never sent: the device would get a block of zeros.
  if (image.size == 0) {
    std::string text = kEmptyImageText;
    text.replace(text.find("%s"), 2, hexFileName_);
    throw EEmptyImage(text);
  }
  // A hand-edited file converts as it is, once the operator has said so.
  if (image.finding && !face_.AskQuestion(FindingQuestion(hexFileName_, *image.finding))) return;
  session_->StartConverted(image);
  sending_ = image;
  sendingFile_ = hexFileName_;
}

void TMainWindow::KeepImageFolder(TImageFolder folder) {
  // The engine closed the earlier image as it started; it holds the new one, if any, until
  // the transfer ends (or waits on with it after a port that would not open).
  imageFolder_ = Engine().HasImage() ? std::move(folder) : TImageFolder();
}

void TMainWindow::AExitExecute() {
  if (CloseQuery()) Quit();
}

void TMainWindow::Quit() {
  quitting_ = true;
  face_.CloseWindow();
}

bool TMainWindow::CloseQuery() {
  // While waiting for the device nothing has been written: no need to ask.
  if (quitting_ || !Engine().Transferring()) return true;
  quitting_ = face_.AskQuestion(kExitQuestion);
  return quitting_;
}

void TMainWindow::PromptClosed() {
  RunHandler([this] { session_->EndWait(); });
}

void TMainWindow::PortMenuItemClick(const std::string& name) {
  RunHandler([this, &name] {
    const bool listed = std::any_of(ports_.begin(), ports_.end(),
                                    [&](const TPortInfo& port) { return port.name == name; });
    if (!listed) return;
    if (serComm1_.IsOpen()) serComm1_.Close();
    serComm1_.SetDeviceName(name);
    serComm1_.Open();
    ShowPort();
    uiRegIniFile1_.WriteText("PortName", "Name", serComm1_.DeviceName());
  });
}

void TMainWindow::PortMenuDropping() {
  RunHandler([this] { BuildPortMenu(); });
}

void TMainWindow::PendingMessageArrived() {
  const std::string text = pendingMessage_;
  pendingMessage_.clear();
  // A second posting before the loop ran has nothing left to show: no empty box.
  if (!text.empty()) face_.ShowBox(text, TBoxIcon::biNone);
}

// ---- the error display -------------------------------------------------------------------------

void TMainWindow::ShowException(const std::exception& error) {
  if (dynamic_cast<const EAbort*>(&error) != nullptr) return;
  // A transfer ended by its line or its image: the reason stays in the status line.
  if (dynamic_cast<const session::EPortLost*>(&error) != nullptr ||
      dynamic_cast<const engine::EImageReadError*>(&error) != nullptr ||
      dynamic_cast<const engine::ELineFault*>(&error) != nullptr)
    face_.SetStatusText(FirstLine(error.what()), error.what());
  face_.ShowBox(session::ErrorBoxText(error.what()), TBoxIcon::biError);
}

void TMainWindow::RunHandler(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const std::exception& error) {
    ShowException(error);
  } catch (...) {
    ShowException(std::runtime_error("Unknown error"));
  }
}

int TMainWindow::PortPaneWidth(int textWidth) {
  return std::max(kPortPaneWidth, textWidth + kPortPaneMargins);
}

// ---- what the window shows ---------------------------------------------------------------------

void TMainWindow::ShowPort() {
  const std::string& name = serComm1_.DeviceName();
  std::string tooltip;
  for (const TPortInfo& port : ports_)
    if (port.name == name) tooltip = port.description;
  face_.SetPortPane(name, tooltip);
}

void TMainWindow::ShowReadyStatus() {
  // The image's identity, so that the operator can match it with the line's records; the
  // file's name while it is not known.
  if (!image_) {
    face_.SetStatusText(FileNamePart(hexFileName_), hexFileName_);
    return;
  }
  const std::string identity = IdentityText(image_->size, image_->crc32);
  face_.SetStatusText(identity, hexFileName_ + "\n" + identity);
}

void TMainWindow::NoteFile(const std::string& path) {
  hexFileName_ = path;
  image_ = ConvertAside(path, Engine().ConversionCancel());
}

// ---- engine::IControls -------------------------------------------------------------------------

void TMainWindow::SetTotalParts(std::uint32_t total) {
  face_.SetProgressTotal(total);
}

void TMainWindow::SetPartsComplete(std::uint32_t parts) {
  face_.SetProgressComplete(parts);
}

void TMainWindow::SetProgressVisible(bool visible) {
  face_.SetProgressVisible(visible);
}

void TMainWindow::SetControlsEnabled(bool enabled) {
  face_.SetTransferControlsEnabled(enabled);
}

void TMainWindow::TransferBegan() {
  transferBegan_ = std::chrono::steady_clock::now();
}

void TMainWindow::TransferEnded(engine::TOutcome outcome, const engine::TStopDetail& stop) {
  // What the transfer came to stays in the status line until the next start.
  switch (outcome) {
    case engine::TOutcome::ocFinished: {
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - transferBegan_;
      // The file and image sent, which a file chosen while waiting did not replace.
      const std::string notice = FinishedNotice(FileNamePart(sendingFile_), Engine().ImageSize(),
                                                took.count(), sending_ ? sending_->crc32 : 0);
      face_.SetStatusText(notice, notice + "\n" + sendingFile_);
      break;
    }
    case engine::TOutcome::ocErrorStop:
    case engine::TOutcome::ocNoReply: {
      // The line may cut it: the tooltip has it whole.
      const std::string reason = StopReason(outcome, stop);
      face_.SetStatusText(reason, reason + "\n" + hexFileName_);
      break;
    }
    case engine::TOutcome::ocNone:
    case engine::TOutcome::ocAbandoned:
    case engine::TOutcome::ocLineFault:  // the error box that follows says why
      break;
  }
}

void TMainWindow::SetPromptVisible(bool visible) {
  face_.SetPromptVisible(visible);
}

void TMainWindow::ShowMessage(const std::string& text) {
  // A stop: what was awaited and what came, on a second line.
  const std::string detail = StopDetail(Engine().LastStop());
  face_.ShowBox(detail.empty() ? text : text + "\n" + detail, TBoxIcon::biError);
}

}  // namespace window
