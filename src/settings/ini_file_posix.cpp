// The INI backend on POSIX: our own reader and writer. The file is small, so every
// operation reads it afresh and every write replaces it as a whole through the file
// layer (platform::ReplaceFileContents: a temporary file beside it, flushed, renamed over
// it), so a failed or interrupted write never leaves a truncated or half-written file.
#include <optional>
#include <string>

#include "platform/file.h"
#include "settings/ini_backends.h"
#include "settings/ini_text.h"

namespace settings {

namespace {

// What the store makes of the file behind its name.
struct TFileText {
  enum TKind { tkText, tkMissing, tkUnreadable } kind = tkText;
  platform::TWholeFile whole;  // text up to the first NUL byte

  // What a read sees: whatever is not a readable settings file reads like a missing one.
  std::string_view Text() const { return kind == tkText ? whole.text : std::string_view(); }
};

// Reads the settings file without ever blocking: only a regular file is read (a FIFO or a
// device under the name would wait for a writer or never end), and only as far as its size
// when opened and its first NUL byte, so memory stays bounded by the file's own size.
TFileText ReadWhole(const std::string& path) {
  TFileText result;
  if (const platform::TErrorCode error = platform::ReadWholeFile(path, result.whole); error != 0) {
    result.kind =
        error == platform::NotFoundError() ? TFileText::tkMissing : TFileText::tkUnreadable;
  }
  return result;
}

}  // namespace

std::string TIniFile::ReadText(const std::string& section, const std::string& key,
                               const std::string& fallback) {
  // Every key of a file that is missing, unreadable or not a file gives its fallback, so
  // the window still starts.
  return ini::ReadText(ReadWhole(FileName()).Text(), section, key, fallback);
}

void TIniFile::WriteText(const std::string& section, const std::string& key,
                         const std::string& value) {
  // A file that cannot be read whole is not overwritten: its other entries would be lost.
  // Neither is anything but a regular file (a FIFO, a device, a folder) under the name.
  const TFileText file = ReadWhole(FileName());
  std::optional<std::string> updated;
  if (file.kind == TFileText::tkText && !file.whole.cutAtNul) {
    updated = ini::WithValue(file.whole.text, section, key, value);
  } else if (file.kind == TFileText::tkMissing) {
    updated = ini::WithValue("", section, key, value);
  }
  if (!updated || platform::ReplaceFileContents(FileName(), *updated) != 0) {
    throw EIniFileException("Unable to write to " + FileName());
  }
}

void TIniFile::ListKeys(const std::string& section, std::vector<std::string>& list) {
  list = ini::KeyNames(ReadWhole(FileName()).Text(), section);
}

// Every write reaches the disk before it returns; nothing is held back to flush.
void TIniFile::FlushFile() {}

}  // namespace settings
