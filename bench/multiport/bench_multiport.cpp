// Several ports at once: one loader-cli flashes 1, 4, 8 and 16 simulated devices, each
// on its own pseudo-terminal with every byte paced at 10400 bit/s, all switched on at the
// same moment. Figures per round: the wall time from power-on to the loader's exit, its
// ratio to one device's, the loader's CPU time per port and its peak memory.
// Targets: 8 ports within 1.1 times one port's time; goal: 16 within 1.05.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using e2e::TChild;
using e2e::TSpawnOptions;
using e2e::TTempDir;

const std::string kPrompt = "Включи питание\n";

struct TRound {
  int status = -1;
  double wallSeconds = 0;
  double cpuSeconds = 0;
  long peakKiB = 0;
};

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Runs loader-cli in a helper process of its own, so that the helper's children's usage
// (getrusage) is loader-cli's alone, not the simulators'.
TRound FlashAll(const TTempDir& dir, const std::vector<std::string>& paths,
                const std::vector<pid_t>& sims) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  const pid_t helper = fork();
  if (helper < 0) throw std::runtime_error("fork failed");
  if (helper == 0) {
    close(pipeFds[0]);
    TRound r;
    try {
      std::vector<std::string> argv = {LOADER_CLI_PATH, "flash", "-q", "--timeout", "30"};
      for (const std::string& p : paths) argv.insert(argv.end(), {"-p", p});
      argv.push_back("bench.hex");
      TChild cli(argv, TSpawnOptions{dir.Path().string(), false, dir.File("cli.err")});
      std::string prompts;
      for (std::size_t i = 0; i < paths.size(); ++i) prompts += kPrompt;
      if (cli.WaitForOutput(prompts, 30s)) {
        const auto start = Clock::now();
        for (pid_t sim : sims) kill(sim, SIGUSR1);  // power on, all at once
        r.status = cli.Wait(300s);
        r.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        r.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
        r.peakKiB = usage.ru_maxrss;
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
    }
    const ssize_t written = write(pipeFds[1], &r, sizeof r);
    _exit(written == static_cast<ssize_t>(sizeof r) ? 0 : 1);
  }
  close(pipeFds[1]);
  TRound r;
  if (read(pipeFds[0], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) r.status = -1;
  close(pipeFds[0]);
  waitpid(helper, nullptr, 0);
  return r;
}

TRound Round(int ports, std::size_t imageSize) {
  TTempDir dir;
  std::vector<std::uint8_t> image(imageSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  e2e::WriteFile(dir.File("bench.hex"), e2e::IntelHex(image));
  std::vector<std::unique_ptr<TChild>> sims;
  std::vector<std::string> paths;
  std::vector<pid_t> pids;
  for (int i = 0; i < ports; ++i) {
    sims.push_back(std::make_unique<TChild>(
        std::vector<std::string>{BOOTSIM_PATH, "--pace", "--once", "--no-publish"},
        TSpawnOptions{dir.Path().string(), true, dir.File("sim" + std::to_string(i) + ".err")}));
    paths.push_back(sims.back()->FirstLine(10s));
    pids.push_back(sims.back()->Pid());
  }
  const TRound r = FlashAll(dir, paths, pids);
  for (auto& sim : sims) sim->Wait(20s);
  if (r.status != 0) {
    std::fprintf(stderr, "%d ports: loader-cli ended with %d\n%s", ports, r.status,
                 e2e::ReadFile(dir.File("cli.err")).c_str());
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  // A 4 KiB image: 33 blocks, about 4.4 s on the paced line.
  const std::size_t imageSize = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 4096;
  std::printf("loader-cli, several ports at once: %zu-byte image, paced at 10400 bit/s\n\n",
              imageSize);
  std::printf("ports  status  wall s  ratio to 1  CPU ms/port  peak RSS KiB\n");
  double one = 0;
  for (const int ports : {1, 4, 8, 16}) {
    const TRound r = Round(ports, imageSize);
    if (ports == 1) one = r.wallSeconds;
    std::printf("%5d  %6d  %6.2f  %10.3f  %11.1f  %12ld\n", ports, r.status, r.wallSeconds,
                one > 0 ? r.wallSeconds / one : 0.0, r.cpuSeconds * 1000.0 / ports, r.peakKiB);
    std::fflush(stdout);
  }
  return 0;
}
