#include "platform/file_names.h"

namespace platform {

std::string FileNamePart(std::string_view path, std::string_view delimiters) {
  const std::size_t cut = path.find_last_of(delimiters);
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string ChangeExtension(std::string_view name, std::string_view ext,
                            std::string_view delimiters) {
  std::string stops = ".";
  stops.append(delimiters);
  const std::size_t pos = name.find_last_of(stops);
  std::string result(pos != std::string_view::npos && name[pos] == '.' ? name.substr(0, pos)
                                                                       : name);
  return result.append(ext);
}

}  // namespace platform
