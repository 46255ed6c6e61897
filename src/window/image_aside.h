// What image a HEX file makes, learnt without leaving a file anywhere: for showing the
// image's identity as soon as a file is chosen, before any start.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "oh2b/oh2b.h"

namespace window {

// Converts hexPath in a private temporary folder that is removed again, and returns what the
// conversion gave; nothing when it failed or the file names nothing (a start says why).
// The current directory is the same afterwards.
std::optional<oh2b::TConvertedImage> ConvertAside(const std::string& hexPath,
                                                  const std::function<bool()>& cancelled);

}  // namespace window
