// The loader's start: the application titled "Загрузчик", the main window (its
// creation restores the saved port and file), then the message loop until the main
// window closes.
#include <QApplication>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/loader_application.h"
#include "app/quit_signals.h"
#include "app/unit1.h"
#include "loader_version.h"

namespace {

const char* const kHelpText =
    "usage: loader [--help | --version] [FILE.hex]\n"
    "\n"
    "Загрузчик: the window that writes a firmware image from an Intel HEX file into a\n"
    "device through a serial port. Choose the HEX file and the port, press Старт (F5) and\n"
    "switch the device on when the window asks for it. The same from the command line:\n"
    "loader-cli(1).\n"
    "\n"
    "FILE.hex, when given, is the HEX file to flash, taken as the file dialog takes one\n"
    "(and remembered) instead of the one chosen last. A HEX file dropped on the window is\n"
    "taken the same way.\n"
    "\n"
    "The chosen port and file are kept in loader.ini beside the executable or, where\n"
    "that folder is not writable (an installed loader), in\n"
    "$XDG_CONFIG_HOME/loader/loader.ini (default ~/.config/loader/loader.ini).\n"
    "\n"
    "  --help     print this text and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "Other arguments are left to Qt (e.g. -platform, -style).\n";

// --help and --version are answered before Qt starts, so they need no display (the
// build's checks ask them on machines without one).
bool AnswerInfoOption(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelpText, stdout);
      return true;
    }
    if (arg == "--version") {
      std::fputs("loader " LOADER_VERSION "\n", stdout);
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (AnswerInfoOption(argc, argv)) return 0;
  app::TLoaderApplication application(argc, argv);
  // Ended by the system (shutdown, `kill`, the session closing) as by Выход: open boxes
  // close, the window closes and lets go of its port, and a conversion in progress stops
  // and removes its temporary file. Heeded from before the window is made, since making it
  // may open the file dialog.
  app::TForm1* window = nullptr;
  app::TQuitSignals quitSignals([&window] {
    // Each box closed ends its own loop; a few nest at most.
    for (int boxes = 0; boxes < 16; ++boxes) {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr || !modal->close()) break;
    }
    if (window != nullptr) window->AExitExecute();
  });
  // Qt has taken its own options out of argv by now.
  window::TMainWindowOptions options;
  options.openFile = window::FileArgument(std::vector<std::string>(argv + 1, argv + argc));
  app::TForm1 form1(std::move(options));
  if (app::TQuitSignals::Requested()) return 0;  // ended while the window was being made
  window = &form1;
  form1.Engine().SetConversionCancel(&app::TQuitSignals::Requested);
  form1.show();
  return app::TLoaderApplication::exec();
}
