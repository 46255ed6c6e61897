// The status bar's one-line texts: what the last transfer came to, in the operator's words.
#pragma once

#include <cstdint>
#include <string>

#include "engine/transfer_engine.h"

namespace window {

// "Загружено: blink.hex, 3072 байта, 3,1 с".
std::string FinishedNotice(const std::string& fileName, std::uint64_t bytes, double seconds);

// Why the engine stopped: the reply it waited for and what came instead, e.g.
// "Ошибка ответа: блок 3 (0x0180), ожидалось 0x5A, получено 0x12".
std::string StopReason(engine::TOutcome outcome, const engine::TStopDetail& stop);

// The first line of a text, for a one-line area.
std::string FirstLine(const std::string& text);

}  // namespace window
