// The loader's start: the application titled "Загрузчик", the main window (its
// creation restores the saved port and file), then the message loop until the main
// window closes.
#include <cstdio>
#include <string_view>

#include "app/loader_application.h"
#include "app/unit1.h"
#include "loader_version.h"

namespace {

const char* const kHelpText =
    "usage: loader [--help | --version]\n"
    "\n"
    "Загрузчик: the window that writes a firmware image from an Intel HEX file into a\n"
    "device through a serial port. Choose the HEX file and the port, press Старт (F5) and\n"
    "switch the device on when the window asks for it. The same from the command line:\n"
    "loader-cli(1).\n"
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
  app::TForm1 form1;
  form1.show();
  return app::TLoaderApplication::exec();
}
