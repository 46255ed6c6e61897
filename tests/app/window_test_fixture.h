// A window under test: isolated settings file, injected port list, dialogs driven.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/unit1.h"
#include "window_test_support.h"

namespace apptest {

class WindowTest : public ::testing::Test {
 protected:
  TTempDir dir;
  std::string ini = dir.File("loader.ini");
  std::vector<std::string> ports;
  TModalDriver driver;

  window::TMainWindowOptions Options() {
    window::TMainWindowOptions options;
    options.settingsPath = ini;
    options.enumeratePorts = [this] {
      std::vector<window::TPortInfo> list;
      for (const std::string& name : ports) list.push_back({name, {}});
      return list;
    };
    return options;
  }
  std::unique_ptr<app::TForm1> Create() { return std::make_unique<app::TForm1>(Options()); }

  // A HEX file that exists, of an image of `size` bytes.
  std::string HexFile(const std::string& name = "fw.hex", std::size_t size = 600) {
    const std::string path = dir.File(name);
    WriteFile(path, MakeHex(size));
    return path;
  }
  void Settings(const std::string& port, const std::string& file) {
    std::string text;
    if (!port.empty()) text += "[PortName]\nName=" + port + "\n";
    if (!file.empty()) text += "[FileName]\nName=" + file + "\n";
    WriteFile(ini, text);
  }
};

}  // namespace apptest
