// The status bar's one-line texts: what the last transfer came to, in the operator's words.
#pragma once

#include <cstdint>
#include <string>

#include "engine/transfer_engine.h"
#include "oh2b/oh2b.h"

namespace window {

// "Загружено: blink.hex, 3072 байта, 3,1 с".
std::string FinishedNotice(const std::string& fileName, std::uint64_t bytes, double seconds);
// The same, ending with the image's CRC-32: "..., 3,1 с, CRC-32 0x1A2B3C4D".
std::string FinishedNotice(const std::string& fileName, std::uint64_t bytes, double seconds,
                           std::uint32_t crc32);

// What identifies an image: "3072 байта, 0x0000–0x0BFF, CRC-32 0x1A2B3C4D" (its size, the
// device addresses it fills from 0, the CRC-32 loader-cli prints too).
std::string IdentityText(std::uint64_t bytes, std::uint32_t crc32);

// The awaited reply and what came, for the second line of the error box:
// "блок 3 (0x0180), ожидалось 0x5A, получено 0x12"; "" when nothing was awaited.
std::string StopDetail(const engine::TStopDetail& stop);

// The question asked before a HEX file that converts with a finding is sent.
std::string FindingQuestion(const std::string& hexPath, const oh2b::TRecordFinding& finding);

// Why the engine stopped: the reply it waited for and what came instead, e.g.
// "Ошибка ответа: блок 3 (0x0180), ожидалось 0x5A, получено 0x12".
std::string StopReason(engine::TOutcome outcome, const engine::TStopDetail& stop);

// The first line of a text, for a one-line area.
std::string FirstLine(const std::string& text);

}  // namespace window
