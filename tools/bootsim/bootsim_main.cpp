// bootsim: a device's boot code and its one-wire line on a pseudo-terminal.
//
// The loader opens the terminal's slave side as its serial port; this program holds
// the master side. Everything the loader writes comes back first (the line's echo),
// then the simulated boot code answers. Here: the command line, the terminal's name
// for the user and the exit status; the loop itself is TSimulator's.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "bootsim_options.h"
#include "loader_version.h"
#include "port_publisher.h"
#include "pty.h"
#include "serial/port_names.h"
#include "signals.h"
#include "simulator.h"

namespace bootsim {
namespace {

int Main(int argc, char** argv) {
  TSimOptions options;
  try {
    options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const EUsageError& e) {
    std::fprintf(stderr, "bootsim: %s\n%s", e.what(), kUsageText);
    return 64;
  }
  if (options.help) {
    std::fputs(kUsageText, stdout);
    return 0;
  }
  if (options.version) {
    std::fputs("bootsim " LOADER_VERSION "\n", stdout);
    return 0;
  }

  try {
    InstallSignals();
    TPty pty;
    pty.Open();
    TPublisher publisher;
    std::string published;
    if (options.publish) {
      published =
          publisher.Publish(serial::PublishedPortsDir(), pty.slavePath, options.publishName);
    }

    std::printf("%s\n", pty.slavePath.c_str());
    std::fflush(stdout);
    if (!published.empty()) {
      std::fprintf(stderr, "bootsim: port %s published as %s (in %s)\n", pty.slavePath.c_str(),
                   published.c_str(), publisher.Dir().c_str());
    }
    if (!options.announceAtStart && !options.announceEvery) {
      std::fprintf(stderr, "bootsim: press a key (or send SIGUSR1 to %d) to switch the device on\n",
                   static_cast<int>(getpid()));
    }

    TSimulator sim(options, pty);
    const int status = sim.Run();
    return sim.WriteFailed() && status == 0 ? 2 : status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bootsim: %s\n", e.what());
    return 2;
  }
}

}  // namespace
}  // namespace bootsim

int main(int argc, char** argv) {
  return bootsim::Main(argc, argv);
}
