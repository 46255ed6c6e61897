// The component on real terminals: pseudo-terminal pairs whose slave side the component opens
// by path, while the test plays the device on the master side.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "fake_device.h"
#include "ser_rig.h"
#include "serial/port_names.h"
#include "serial/ser_comm.h"
#include "serial/ser_pump.h"
#include "test_pty.h"
#include "test_support.h"

namespace serial {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using testsupport::TTestPty;

// The component on the slave side of a pseudo-terminal, on the shared rig.
struct Rig : testsupport::TSerRig {
  TTestPty pty;
  TSerComm comm;
  Rig() {
    Attach(comm);
    ApplyLoaderSettings(comm);
    comm.SetDeviceName(pty.SlavePath());
    comm.Buffers().SetReadTimeout(200);
    comm.Buffers().SetWriteTimeout(200);
  }
};

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

TEST(SerPty, BytesBothWaysAndCounts) {
  Rig r;
  ASSERT_FALSE(r.pty.SlavePath().empty());
  std::string got;
  std::vector<std::int32_t> counts;
  r.comm.SetOnRxChar([&](TSerCustomComm& s, std::int32_t n) {
    counts.push_back(n);
    std::string buf(static_cast<std::size_t>(n), '\0');
    got.append(buf.data(), static_cast<std::size_t>(s.ReadData(buf.data(), n)));
  });
  int txEmpty = 0;
  r.comm.SetOnTxEmpty([&](TSerCustomComm&) { ++txEmpty; });
  r.comm.Open();
  ASSERT_TRUE(r.comm.IsOpen());

  // Every byte value goes out unchanged (raw line) ...
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_EQ(r.comm.WriteData(all.data(), 256), 256);
  EXPECT_EQ(r.pty.Receive(256), all);
  EXPECT_TRUE(r.PumpUntil([&] { return txEmpty >= 1; }));

  // ... and comes in unchanged, announced with the count of waiting bytes.
  r.pty.Send(all);
  ASSERT_TRUE(r.PumpUntil([&] { return got.size() == 256; }));
  EXPECT_EQ(got, all);
  for (auto n : counts) EXPECT_GT(n, 0);

  // A single byte after the bulk.
  r.pty.Send("\x55");
  ASSERT_TRUE(r.PumpUntil([&] { return got.size() == 257; }));
  EXPECT_EQ(counts.back(), 1);
}

TEST(SerPty, UnreadBytesDoNotKeepTheEventThreadBusy) {
  Rig r;
  int calls = 0;
  std::int32_t last = 0;
  r.comm.SetOnRxChar([&](TSerCustomComm&, std::int32_t n) {  // reads nothing
    ++calls;
    last = n;
  });
  r.comm.Open();
  r.pty.Send("abc");
  ASSERT_TRUE(r.PumpUntil([&] { return calls >= 1; }));
  // Left unread, the bytes are not announced over and over (the terminal may wake its
  // readers once more, but nothing repeats on its own).
  const double cpu0 = ProcessCpuSeconds();
  const auto until = Clock::now() + 300ms;
  while (Clock::now() < until) r.sync.Pump(10ms);
  EXPECT_LE(calls, 3);
  EXPECT_LT(ProcessCpuSeconds() - cpu0, 0.1);
  // New bytes bring a new notification, with all that waits.
  const int before = calls;
  r.pty.Send("d");
  ASSERT_TRUE(r.PumpUntil([&] { return calls > before && last == 4; }));
  char buf[8];
  EXPECT_EQ(r.comm.ReadData(buf, 8), 4);
  // Nothing waiting: a read ends after ReadTimeout with nothing.
  const auto t0 = Clock::now();
  EXPECT_EQ(r.comm.ReadData(buf, 8), 0);
  EXPECT_GE(Clock::now() - t0, 200ms);
}

TEST(SerPty, BytesArrivingDuringTheDispatchBringTheNextNotification) {
  Rig r;
  std::vector<std::int32_t> counts;
  std::string got;
  r.comm.SetOnRxChar([&](TSerCustomComm& s, std::int32_t n) {
    counts.push_back(n);
    if (counts.size() == 1) {
      // No device wait is outstanding while this runs.
      r.pty.Send("later");
      std::this_thread::sleep_for(30ms);
    }
    std::string buf(static_cast<std::size_t>(n), '\0');
    got.append(buf.data(), static_cast<std::size_t>(s.ReadData(buf.data(), n)));
  });
  r.comm.Open();
  r.pty.Send("first");
  ASSERT_TRUE(r.PumpUntil([&] { return got == "firstlater"; }));
  ASSERT_GE(counts.size(), 1u);
}

TEST(SerPty, CloseEndsAWriteBlockedOnAFullLine) {
  Rig r;
  r.comm.Buffers().SetWriteTimeout(50);
  r.comm.Open();
  // Nobody reads the other end: the terminal's queue fills and the write thread waits.
  const std::string chunk(1024, 'z');
  bool full = false;
  for (int i = 0; i < 200 && !full; ++i) {
    try {
      r.comm.WriteData(chunk.data(), static_cast<std::int32_t>(chunk.size()));
    } catch (const ESerCommError& e) {
      EXPECT_STREQ(e.what(), "Output buffer is full. Please check comm status.");
      full = true;
    }
  }
  ASSERT_TRUE(full);
  const auto t0 = Clock::now();
  r.comm.Close();
  EXPECT_LT(Clock::now() - t0, 2s);
  EXPECT_FALSE(r.comm.IsOpen());
}

TEST(SerPty, ReadEndsAtTheInterByteGapAndKeepsEarlyBytes) {
  Rig r;
  r.comm.Open();
  r.pty.Send("12");
  std::this_thread::sleep_for(20ms);
  std::thread later([&] {
    std::this_thread::sleep_for(60ms);
    r.pty.Send("3");
  });
  char buf[8] = {};
  // Two bytes wait; the gap to the next is far longer than the 5 ms interval.
  const auto t0 = Clock::now();
  EXPECT_EQ(r.comm.ReadData(buf, 8), 2);
  EXPECT_LT(Clock::now() - t0, 55ms);
  later.join();
  EXPECT_EQ(r.comm.ReadData(buf, 8), 1);
  EXPECT_EQ(buf[0], '3');
}

TEST(SerPty, ReadsCutByTheTimeOutLoseNoBytes) {
  Rig r;
  r.comm.Buffers().SetReadTimeout(30);
  r.comm.Open();
  std::string sent;
  for (int i = 0; i < 60; ++i) sent += static_cast<char>('A' + i % 26);
  std::thread trickle([&] {
    for (char c : sent) {
      r.pty.Send(std::string(1, c));
      std::this_thread::sleep_for(2ms);
    }
  });
  std::string got;
  const auto deadline = Clock::now() + 3s;
  while (got.size() < sent.size() && Clock::now() < deadline) {
    char buf[1000];
    got.append(buf, static_cast<std::size_t>(r.comm.ReadData(buf, sizeof buf)));
  }
  trickle.join();
  EXPECT_EQ(got, sent);
}

TEST(SerPty, PeerHangUpDoesNotSpin) {
  Rig r;
  int calls = 0;
  r.comm.SetOnRxChar([&](TSerCustomComm& s, std::int32_t n) {
    ++calls;
    char buf[64];
    s.ReadData(buf, n);
  });
  r.comm.Open();
  r.pty.Send("x");
  ASSERT_TRUE(r.PumpUntil([&] { return calls == 1; }));
  r.pty.CloseMaster();
  // Serve whatever the hang-up brings for a while, then measure a quiet stretch.
  const auto settle = Clock::now() + 100ms;
  while (Clock::now() < settle) r.sync.Pump(10ms);
  const double cpu0 = ProcessCpuSeconds();
  const auto until = Clock::now() + 300ms;
  while (Clock::now() < until) r.sync.Pump(10ms);
  EXPECT_LT(ProcessCpuSeconds() - cpu0, 0.1);  // a spinning thread would burn ~0.3 s
  // A write to the hung-up line is reported (at most once) and does not spin either.
  r.comm.WriteData("y", 1);
  const double cpu1 = ProcessCpuSeconds();
  const auto until2 = Clock::now() + 300ms;
  while (Clock::now() < until2) r.sync.Pump(10ms);
  EXPECT_LT(ProcessCpuSeconds() - cpu1, 0.1);
  EXPECT_LE(r.shown.size(), 3u);
  r.comm.Close();
  EXPECT_FALSE(r.comm.IsOpen());
}

// The other end gone (a pulled adapter, a closed pseudo-terminal) is told apart from
// other line trouble, so that its user can close the port and say so.
TEST(SerPty, PeerHangUpIsReportedAsALostPort) {
  Rig r;
  int lost = 0;
  r.comm.SetErrorDisplay([&](const std::exception& e) {
    r.shown.push_back(e.what());
    if (dynamic_cast<const ESerPortLost*>(&e) != nullptr) ++lost;
  });
  r.comm.Open();
  r.pty.CloseMaster();
  ASSERT_TRUE(r.PumpUntil([&] { return !r.shown.empty(); })) << "no report of the hang-up";
  EXPECT_EQ(lost, static_cast<int>(r.shown.size())) << r.shown.front();
  r.comm.Close();
}

TEST(SerPty, SecondOpenerIsTurnedAway) {
  Rig r;
  r.comm.Open();
  TSerComm second;
  second.SetDeviceName(r.pty.SlavePath());
  try {
    second.Open();
    FAIL() << "second open succeeded";
  } catch (const ESerCommError& e) {
    EXPECT_EQ(std::string(e.what()).rfind(
                  "Can't open specified device " + r.pty.SlavePath() + " (Error ", 0),
              0u)
        << e.what();
  }
  EXPECT_FALSE(second.IsOpen());
  // Once closed, the port can be opened again (the exclusive mode went with us).
  r.comm.Close();
  second.Open();
  EXPECT_TRUE(second.IsOpen());
}

// As root an open gets past another holder's exclusive claim; a refused open must leave the
// terminal as it found it, claimed or not.
TEST(SerPty, RefusedOpenLeavesTheExclusiveClaimAsItWas) {
  if (geteuid() != 0) GTEST_SKIP() << "only the superuser is let in past an exclusive claim";
  const struct {
    const char* holder;
    bool claim;  // the holder has set TIOCEXCL
    bool lock;   // the holder holds the loaders' lock
  } cases[] = {{"another loader", true, true},
               {"a program with the claim alone", true, false},
               {"a program with the lock alone", false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.holder);
    TTestPty pty;
    const int holder = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    if (c.claim) {
      ASSERT_EQ(ioctl(holder, TIOCEXCL), 0);
    }
    if (c.lock) {
      ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    }
    TSerComm second;
    second.SetDeviceName(pty.SlavePath());
    EXPECT_THROW(second.Open(), ESerCommError);
    EXPECT_FALSE(second.IsOpen());
    int claimed = -1;
    ASSERT_EQ(ioctl(holder, TIOCGEXCL, &claimed), 0);
    EXPECT_EQ(claimed != 0, c.claim);
    ::close(holder);
  }
}

TEST(SerPty, LineSettingsReachTheTerminal) {
  TTestPty pty;
  // A descriptor of our own, opened before the component takes the port, to look at it.
  const int look = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(look, 0);
  TSerPumpSynchronizer sync;
  TSerComm comm;
  comm.SetSynchronizer(&sync);
  ApplyLoaderSettings(comm);
  comm.SetDeviceName(pty.SlavePath());
  comm.Open();  // 10400 bit/s is set and read back, or Open raises
  termios tio{};
  ASSERT_EQ(tcgetattr(look, &tio), 0);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  // Changes on the open port take effect at once. (A pseudo-terminal keeps 8 data bits
  // without parity whatever it is told, and shows a numeric rate only through termios2; the
  // rate is read back by the component itself.)
  comm.SetStopbits(sb2);
  ASSERT_EQ(tcgetattr(look, &tio), 0);
  EXPECT_EQ(tio.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
  comm.SetBaudrate(br9600);
  comm.FlowControl().SetXonXoffOut(true);
  ASSERT_EQ(tcgetattr(look, &tio), 0);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON));
  EXPECT_EQ(tio.c_cc[VSTART], 0x11);
  EXPECT_EQ(tio.c_cc[VSTOP], 0x13);
  // Four data bits do not exist here.
  try {
    comm.SetDatabits(db4);
    FAIL();
  } catch (const ESerCommError& e) {
    EXPECT_STREQ(e.what(), "Error writing dcb (22), Invalid argument");
  }
  comm.Close();
  ::close(look);
}

TEST(SerPty, OpenFailures) {
  TSerComm comm;
  comm.SetDeviceName("/nonexistent/port%d");
  comm.SetPortNum(1);
  try {
    comm.Open();
    FAIL();
  } catch (const ESerDeviceNotFound& e) {
    EXPECT_STREQ(e.what(), "Specified device not found (/nonexistent/port1).");
  }
  comm.SetDeviceName("null");  // /dev/null exists but is no terminal
  try {
    comm.Open();
    FAIL();
  } catch (const ESerDeviceNotFound&) {
    FAIL() << "a device that exists";
  } catch (const ESerCommError& e) {
    EXPECT_STREQ(e.what(),
                 "Can't open specified device null (Error 25, Inappropriate ioctl for device)");
  }
  comm.SetDeviceName("COM%d");
  comm.SetPortNum(0);
  try {
    comm.Open();
    FAIL();
  } catch (const ESerCommError& e) {
    EXPECT_STREQ(e.what(), "Specified device not found (COM0).");
  }
  EXPECT_FALSE(comm.IsOpen());
}

// A device node stand-in: a file with the given mode and group (kOwnGroup: a group other
// than the superuser's that this process may give it). Returns "" when it cannot be made so.
constexpr gid_t kOwnGroup = static_cast<gid_t>(-1);
constexpr gid_t kDialoutGid = 20;  // an ordinary group that the superuser is no member of

std::string DeviceFile(const testsupport::TTempDir& dir, const std::string& name, mode_t mode,
                       gid_t gid) {
  const std::string path = dir.File(name);
  testsupport::WriteFile(path, "");
  if (gid == kOwnGroup) gid = getegid() != 0 ? getegid() : kDialoutGid;
  if (chown(path.c_str(), static_cast<uid_t>(-1), gid) != 0) return "";
  if (chmod(path.c_str(), mode) != 0) return "";
  return path;
}

std::string GroupName(gid_t gid) {
  const group* g = getgrgid(gid);
  return g ? g->gr_name : std::to_string(gid);
}

TEST(SerAccessHint, NamesTheGroupThatWouldGiveAccess) {
  testsupport::TTempDir dir("access-hint");
  struct {
    const char* label;
    int code;
    mode_t mode;
    gid_t gid;
    bool hint;
  } cases[] = {
      {"group may read and write", EACCES, 0660, kOwnGroup, true},
      {"not permitted", EPERM, 0660, kOwnGroup, true},
      {"group may only read", EACCES, 0640, kOwnGroup, false},
      {"owner alone", EACCES, 0600, kOwnGroup, false},
      {"superuser's group", EACCES, 0660, 0, false},
      {"group without a name", EACCES, 0660, 54321, true},
      {"busy, not refused", EBUSY, 0660, kOwnGroup, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string path = DeviceFile(dir, "dev" + std::to_string(n++), c.mode, c.gid);
    if (path.empty()) continue;  // only the superuser may hand a file to any group
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    const std::string g = GroupName(st.st_gid);
    const std::string expected = c.hint
                                     ? "Add your user to the group '" + g + "' (sudo usermod -aG " +
                                           g + " $USER) and log in again."
                                     : "";
    EXPECT_EQ(SerAccessHint(c.code, path), expected) << c.label;
  }
  EXPECT_EQ(SerAccessHint(EACCES, dir.File("nonexistent")), "");
  // A pseudo-terminal's group (tty) may at most write to it: joining it would not help.
  TTestPty pty;
  EXPECT_EQ(SerAccessHint(EACCES, pty.SlavePath()), "");
}

TEST(SerAccessHint, RefusedOpenSaysHowToGetAccess) {
  testsupport::TTempDir dir("access-open");
  const std::string path = DeviceFile(dir, "ttyUSB0", 0660, kOwnGroup);
  ASSERT_FALSE(path.empty());
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  const std::string g = GroupName(st.st_gid);
  auto dev = std::make_shared<test::FakeDevice>();
  dev->openRc = EACCES;
  TSerComm comm;
  comm.SetDeviceFactory([dev] { return dev; });
  comm.SetDeviceName(path);
  try {
    comm.Open();
    FAIL();
  } catch (const ESerCommError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Can't open specified device " + path +
                  " (Error 13, Permission denied). Add your user to the group '" + g +
                  "' (sudo usermod -aG " + g + " $USER) and log in again.");
  }
  EXPECT_FALSE(comm.IsOpen());
}

class PortNames : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : {"LOADER_PORTS_DIR", "XDG_RUNTIME_DIR"}) {
      const char* old = std::getenv(v);
      saved_.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
    }
  }
  void TearDown() override {
    for (auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  // Stands for the simulator that published `name`: holds its lock file in the (private)
  // folder for the rest of the test.
  void HoldLock(const std::string& name) {
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all);
    lock_ = open(PublishedLockPath(dir_, name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(flock(lock_, LOCK_EX | LOCK_NB), 0);
  }
  ~PortNames() override {
    if (lock_ >= 0) close(lock_);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
  testsupport::TTempDir temp_{"serial-ports"};
  const std::string dir_ = temp_.Path().string();
  int lock_ = -1;
};

TEST_F(PortNames, PublishedFolder) {
  setenv("LOADER_PORTS_DIR", "/x/y", 1);
  setenv("XDG_RUNTIME_DIR", "/run/user/5", 1);
  EXPECT_EQ(PublishedPortsDir(), "/x/y");
  unsetenv("LOADER_PORTS_DIR");
  EXPECT_EQ(PublishedPortsDir(), "/run/user/5/loader-ports");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(PublishedPortsDir(), "/tmp/loader-ports-" + std::to_string(getuid()));
}

TEST_F(PortNames, Resolution) {
  setenv("LOADER_PORTS_DIR", dir_.c_str(), 1);
  EXPECT_EQ(ResolveDevicePath("/dev/pts/3"), "/dev/pts/3");
  EXPECT_EQ(ResolveDevicePath("./here"), "./here");
  EXPECT_EQ(ResolveDevicePath("null"), "/dev/null");
  EXPECT_EQ(ResolveDevicePath("nosuchport7"), "/dev/nosuchport7");
  std::filesystem::create_symlink("/dev/pts/999", dir_ + "/bootsim0");
  HoldLock("bootsim0");
  EXPECT_EQ(ResolveDevicePath("bootsim0"), dir_ + "/bootsim0");
}

TEST_F(PortNames, PublishedPortOpensByName) {
  setenv("LOADER_PORTS_DIR", dir_.c_str(), 1);
  TTestPty pty;
  std::filesystem::create_symlink(pty.SlavePath(), dir_ + "/bootsim0");
  HoldLock("bootsim0");
  TSerPumpSynchronizer sync;
  TSerComm comm;
  comm.SetSynchronizer(&sync);
  ApplyLoaderSettings(comm);
  comm.SetDeviceName("bootsim0");
  comm.Open();
  EXPECT_EQ(comm.WriteData("hi", 2), 2);
  EXPECT_EQ(pty.Receive(2), "hi");
  comm.Close();
  // A published name whose terminal has gone is reported by name.
  std::filesystem::remove(dir_ + "/bootsim0");
  std::filesystem::rename(PublishedLockPath(dir_, "bootsim0"), PublishedLockPath(dir_, "bootsim1"));
  std::filesystem::create_symlink("/dev/pts/nonexistent", dir_ + "/bootsim1");
  comm.SetDeviceName("bootsim1");
  try {
    comm.Open();
    FAIL();
  } catch (const ESerCommError& e) {
    EXPECT_STREQ(e.what(), "Specified device not found (bootsim1).");
  }
}

}  // namespace
}  // namespace serial
