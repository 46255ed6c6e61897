// The component against a scripted device: settings, the line-settings record, messages,
// opening and closing, and the threads' reports.
#include "serial/ser_comm.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "fake_device.h"
#include "ser_rig.h"
#include "serial/ser_pump.h"

namespace serial::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The component with a scripted device on the shared rig.
struct Rig : testsupport::TSerRig {
  std::shared_ptr<FakeDevice> dev = std::make_shared<FakeDevice>();
  std::unique_ptr<TSerComm> comm = std::make_unique<TSerComm>();

  Rig() {
    comm->SetDeviceFactory([d = dev] { return d; });
    Attach(*comm);
  }
};

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ESerCommError& e) {
    return e.what();
  }
  return "(no ESerCommError)";
}

// ---- defaults and settings -------------------------------------------------------------------

TEST(SerCommDefaults, NewComponent) {
  TSerComm c;
  EXPECT_FALSE(c.IsOpen());
  EXPECT_EQ(c.Baudrate(), br1200);
  EXPECT_EQ(c.UserBaudrate(), 0);
  EXPECT_EQ(c.Databits(), db8);
  EXPECT_EQ(c.Parity(), paNone);
  EXPECT_EQ(c.Stopbits(), sb1);
  EXPECT_EQ(c.DeviceName(), "COM%d");
  EXPECT_EQ(c.PortNum(), 0);
  EXPECT_EQ(c.MonitorEvents(), SerEvents({ceError, ceRxChar, ceTxEmpty}));
  EXPECT_EQ(c.EventPriority(), tpNormal);
  EXPECT_EQ(c.WritePriority(), tpHighest);
  EXPECT_FALSE(c.DirectWrite());
  EXPECT_TRUE(c.UpdateDCB());
  EXPECT_FALSE(c.AutoOpen());
  EXPECT_EQ(c.Options(), 0);
  EXPECT_EQ(c.EventMask(), 0u);
  const auto& b = c.Buffers();
  EXPECT_EQ(b.ReadSize(), 4096);
  EXPECT_EQ(b.WriteSize(), 2048);
  EXPECT_EQ(b.ReadTimeout(), 1000);
  EXPECT_EQ(b.WriteTimeout(), 1000);
  EXPECT_EQ(b.XonLimit(), 1024);
  EXPECT_EQ(b.XoffLimit(), 1024);
  const auto& ch = c.EventChars();
  EXPECT_EQ(ch.XonChar(), 0x11);
  EXPECT_EQ(ch.XoffChar(), 0x13);
  EXPECT_EQ(ch.ErrorChar(), 0);
  EXPECT_EQ(ch.EventChar(), 0);
  EXPECT_EQ(ch.EofChar(), 0);
  const auto& f = c.FlowControl();
  EXPECT_FALSE(f.OutCtsFlow() || f.OutDsrFlow() || f.XonXoffOut() || f.XonXoffIn() ||
               f.DsrSensitivity() || f.TxContinueOnXoff());
  EXPECT_EQ(f.ControlDtr(), dtrDisabled);
  EXPECT_EQ(f.ControlRts(), rtsDisabled);
}

TEST(SerCommSettings, BaudrateAndUserBaudrateCouple) {
  TSerComm c;
  c.SetUserBaudrate(10400);
  EXPECT_EQ(c.Baudrate(), brUser);
  c.SetBaudrate(br9600);
  EXPECT_EQ(c.UserBaudrate(), 0);
  c.SetUserBaudrate(10400);
  c.SetBaudrate(brUser);  // unchanged value keeps UserBaudrate
  EXPECT_EQ(c.UserBaudrate(), 10400);
  c.SetBaudrate(br115200);
  c.SetBaudrate(brUser);  // brUser itself never clears it
  EXPECT_EQ(c.UserBaudrate(), 0);
  EXPECT_EQ(c.BuildDcb().BaudRate, 0u);
}

TEST(SerCommSettings, HasChosenNameOnlyAwayFromTheUnchosenPattern) {
  const struct {
    const char* name;
    bool chosen;
  } cases[] = {{kUnchosenPort, false},
               {"COM3", true},
               {"com%d", true},
               {"COM%d ", true},
               {"bootsim0", true}};
  for (const auto& k : cases) {
    TSerComm c;
    EXPECT_FALSE(c.HasChosenName());
    c.SetDeviceName(k.name);
    EXPECT_EQ(c.HasChosenName(), k.chosen) << k.name;
  }
}

TEST(SerCommSettings, FormatDeviceName) {
  struct Case {
    const char* pattern;
    int port;
    const char* expected;
  } cases[] = {
      {"COM%d", 0, "COM0"},         {"COM%d", 7, "COM7"},    {"COM3", 5, "COM3"},
      {"ttyUSB%d", 12, "ttyUSB12"}, {"tty%02d", 3, "tty03"}, {"100%%", 1, "100%"},
      {"%s%n%p", 4, "%s%n%p"},      {"a%db%d", 2, "a2b%d"},  {"/dev/pts/%d", 9, "/dev/pts/9"},
      {"end%", 1, "end%"},
  };
  for (const auto& k : cases) {
    TSerComm c;
    c.SetDeviceName(k.pattern);
    c.SetPortNum(k.port);
    EXPECT_EQ(c.FormatDeviceName(), k.expected) << k.pattern;
    EXPECT_EQ(c.DeviceName(), k.pattern);
  }
}

TEST(SerCommSettings, LoaderSettings) {
  TSerComm c;
  c.FlowControl().SetControlDtr(dtrEnabled);
  c.FlowControl().SetOutCtsFlow(true);
  ApplyLoaderSettings(c);
  TSerDcb d = c.BuildDcb();
  EXPECT_EQ(d.DCBlength, 28u);
  EXPECT_EQ(d.BaudRate, 10400u);
  EXPECT_EQ(d.Flags, 1u);
  EXPECT_EQ(d.ByteSize, 8);
  EXPECT_EQ(d.Parity, 0);
  EXPECT_EQ(d.StopBits, 0);
  EXPECT_EQ(d.XonLim, 1024);
  EXPECT_EQ(d.XoffLim, 1024);
  EXPECT_EQ(d.XonChar, 0x11);
  EXPECT_EQ(d.XoffChar, 0x13);
  EXPECT_EQ(d.ErrorChar, 0);
  EXPECT_EQ(d.EofChar, 0);
  EXPECT_EQ(d.EvtChar, 0);
  EXPECT_EQ(c.ComputeEventMask(), 0x0081u);
}

// ---- the line-settings record ----------------------------------------------------------------

TEST(SerCommDcb, FlagWordFollowsEachSetting) {
  struct Case {
    const char* name;
    std::function<void(TSerComm&)> set;
    std::uint32_t flags;
  } cases[] = {
      {"parity check", [](TSerComm& c) { c.SetOptions(SerOptions({coParityCheck})); }, 0x0003},
      {"error char", [](TSerComm& c) { c.SetOptions(SerOptions({coErrorChar})); }, 0x0401},
      {"null strip", [](TSerComm& c) { c.SetOptions(SerOptions({coNullStrip})); }, 0x0801},
      {"cts", [](TSerComm& c) { c.FlowControl().SetOutCtsFlow(true); }, 0x0005},
      {"dsr", [](TSerComm& c) { c.FlowControl().SetOutDsrFlow(true); }, 0x0009},
      {"dtr on", [](TSerComm& c) { c.FlowControl().SetControlDtr(dtrEnabled); }, 0x0011},
      {"dtr hs", [](TSerComm& c) { c.FlowControl().SetControlDtr(dtrHandshake); }, 0x0021},
      {"dsr sens", [](TSerComm& c) { c.FlowControl().SetDsrSensitivity(true); }, 0x0041},
      {"tx cont", [](TSerComm& c) { c.FlowControl().SetTxContinueOnXoff(true); }, 0x0081},
      {"outx", [](TSerComm& c) { c.FlowControl().SetXonXoffOut(true); }, 0x0101},
      {"inx", [](TSerComm& c) { c.FlowControl().SetXonXoffIn(true); }, 0x0201},
      {"rts on", [](TSerComm& c) { c.FlowControl().SetControlRts(rtsEnabled); }, 0x1001},
      {"rts hs", [](TSerComm& c) { c.FlowControl().SetControlRts(rtsHandshake); }, 0x2001},
      {"rts toggle", [](TSerComm& c) { c.FlowControl().SetControlRts(rtsToggle); }, 0x3001},
      {"all",
       [](TSerComm& c) {
         c.SetOptions(SerOptions({coErrorChar, coNullStrip, coParityCheck}));
         auto& f = c.FlowControl();
         f.SetOutCtsFlow(true), f.SetOutDsrFlow(true), f.SetControlDtr(dtrHandshake);
         f.SetControlRts(rtsToggle), f.SetXonXoffOut(true), f.SetXonXoffIn(true);
         f.SetDsrSensitivity(true), f.SetTxContinueOnXoff(true);
       },
       0x3FEF},
  };
  for (const auto& k : cases) {
    TSerComm c;
    k.set(c);
    EXPECT_EQ(c.BuildDcb().Flags, k.flags) << k.name;
  }
}

TEST(SerCommDcb, RateFrameAndCharacters) {
  const std::pair<TSerBaudrate, std::uint32_t> rates[] = {
      {br110, 110},       {br300, 300},       {br600, 600},      {br1200, 1200},
      {br2400, 2400},     {br4800, 4800},     {br9600, 9600},    {br14400, 14400},
      {br19200, 19200},   {br38400, 38400},   {br56000, 56000},  {br57600, 57600},
      {br115200, 115200}, {br128000, 128000}, {br256000, 256000}};
  for (auto [rate, value] : rates) {
    TSerComm c;
    c.SetBaudrate(rate);
    EXPECT_EQ(c.BuildDcb().BaudRate, value);
  }
  for (int bits = db4; bits <= db8; ++bits) {
    TSerComm c;
    c.SetDatabits(static_cast<TSerDatabits>(bits));
    EXPECT_EQ(c.BuildDcb().ByteSize, 4 + bits);
  }
  for (int p = paNone; p <= paSpace; ++p) {
    TSerComm c;
    c.SetParity(static_cast<TSerParity>(p));
    EXPECT_EQ(c.BuildDcb().Parity, p);
  }
  for (int s = sb1; s <= sb2; ++s) {
    TSerComm c;
    c.SetStopbits(static_cast<TSerStopbits>(s));
    EXPECT_EQ(c.BuildDcb().StopBits, s);
  }
  TSerComm c;
  c.Buffers().SetXonLimit(0x12345);
  c.Buffers().SetXoffLimit(0x10002);
  c.EventChars().SetEofChar(0x1A);
  c.EventChars().SetErrorChar(0x3F);
  c.EventChars().SetXonChar(0x01);
  c.EventChars().SetXoffChar(0x02);
  TSerDcb d = c.BuildDcb();
  EXPECT_EQ(d.XonLim, 0x2345);
  EXPECT_EQ(d.XoffLim, 0x0002);
  EXPECT_EQ(d.EofChar, 0x1A);
  EXPECT_EQ(d.EvtChar, 0);  // independent of EofChar
  EXPECT_EQ(d.ErrorChar, 0x3F);
  EXPECT_EQ(d.XonChar, 0x01);
  EXPECT_EQ(d.XoffChar, 0x02);
  c.EventChars().SetEventChar(0x7E);
  EXPECT_EQ(c.BuildDcb().EvtChar, 0x7E);
  EXPECT_EQ(c.BuildDcb().EofChar, 0x1A);
}

TEST(SerCommEventMask, Table) {
  struct Case {
    TSerCommEvents events;
    bool direct;
    std::uint32_t mask;
  } cases[] = {
      {SerEvents({ceError, ceRxChar, ceTxEmpty}), false, 0x0081},
      {SerEvents({ceError, ceRxChar, ceTxEmpty}), true, 0x0085},
      {SerEvents({ceTxEmpty}), false, 0},
      {0, false, 0},
      {SerEvents({ceBreak}), false, 0x0040},
      {SerEvents({ceCts}), false, 0x0008},
      {SerEvents({ceDsr}), false, 0x0010},
      {SerEvents({ceRing}), false, 0x0100},
      {SerEvents({ceRlsd}), false, 0x0020},
      {SerEvents({ceRxFlag}), false, 0x0002},
      {SerEvents({cePErr}), false, 0x0200},
      {SerEvents({ceRx80Full}), false, 0x0400},
      {SerEvents({ceEvent1}), false, 0x0800},
      {SerEvents({ceEvent2}), false, 0x1000},
      {0x1FFF, false, 0x1FFB},
      {0x1FFF, true, 0x1FFF},
  };
  for (const auto& k : cases) {
    TSerComm c;
    c.SetMonitorEvents(k.events);
    c.SetDirectWrite(k.direct);
    EXPECT_EQ(c.ComputeEventMask(), k.mask) << std::hex << k.events;
  }
}

// ---- change notifications --------------------------------------------------------------------

TEST(SerPersistent, DeferralAndNotifications) {
  TSerBuffers b;
  int n = 0;
  b.SetOnChange([&](TSerPersistent& s) {
    EXPECT_EQ(&s, &b);
    ++n;
  });
  b.SetReadSize(4096);  // same value: nothing
  EXPECT_EQ(n, 0);
  b.SetReadSize(100);
  EXPECT_EQ(n, 1);
  b.SetReadTimeout(5);
  b.SetWriteTimeout(5);  // time-outs never notify
  EXPECT_EQ(n, 1);
  b.BeginUpdate();
  b.BeginUpdate();
  b.SetWriteSize(10);
  b.SetXonLimit(1);
  b.EndUpdate();
  EXPECT_EQ(n, 1);
  b.EndUpdate();
  EXPECT_EQ(n, 2);
  EXPECT_EQ(b.UpdateCount(), 0);
  b.EndUpdate();  // at depth 0 it still notifies
  EXPECT_EQ(n, 3);
  EXPECT_EQ(b.UpdateCount(), 0);

  TSerEventChars ch;
  int m = 0;
  ch.SetOnChange([&](TSerPersistent&) { ++m; });
  ch.SetXonChar(0x11);  // same value still notifies
  EXPECT_EQ(m, 1);

  TSerFlowControl f;
  int k = 0;
  f.SetOnChange([&](TSerPersistent&) { ++k; });
  f.SetOutCtsFlow(false);  // same value: nothing
  EXPECT_EQ(k, 0);
  f.SetOutCtsFlow(true);
  EXPECT_EQ(k, 1);
}

TEST(SerPersistent, AssignCopiesWithOneNotification) {
  TSerBuffers from;
  from.SetReadSize(1), from.SetWriteSize(2), from.SetReadTimeout(3);
  from.SetWriteTimeout(4), from.SetXonLimit(5), from.SetXoffLimit(6);
  TSerBuffers to;
  int n = 0;
  to.SetOnChange([&](TSerPersistent&) { ++n; });
  to.Assign(from);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(to.ReadSize(), 1);
  EXPECT_EQ(to.WriteSize(), 2);
  EXPECT_EQ(to.ReadTimeout(), 3);
  EXPECT_EQ(to.WriteTimeout(), 4);
  EXPECT_EQ(to.XonLimit(), 5);
  EXPECT_EQ(to.XoffLimit(), 6);

  TSerFlowControl ff;
  ff.SetControlRts(rtsToggle);
  ff.SetXonXoffIn(true);
  TSerFlowControl ft;
  int k = 0;
  ft.SetOnChange([&](TSerPersistent&) { ++k; });
  ft.Assign(ff);
  EXPECT_EQ(k, 1);
  EXPECT_EQ(ft.ControlRts(), rtsToggle);
  EXPECT_TRUE(ft.XonXoffIn());

  TSerEventChars cf;
  cf.SetEofChar(9);
  TSerEventChars ct;
  int m = 0;
  ct.SetOnChange([&](TSerPersistent&) { ++m; });
  ct.Assign(cf);
  EXPECT_EQ(m, 1);
  EXPECT_EQ(ct.EofChar(), 9);

  EXPECT_THROW(ct.Assign(ff), std::invalid_argument);
  EXPECT_EQ(ct.UpdateCount(), 0);
}

// ---- opening, closing, messages --------------------------------------------------------------

TEST(SerCommOpen, ProgramConfigurationReachesTheDevice) {
  Rig r;
  ApplyLoaderSettings(*r.comm);
  r.comm->SetDeviceName("COM3");
  int opened = 0;
  r.comm->SetOnOpen([&](TSerCustomComm& s) {
    EXPECT_EQ(&s, r.comm.get());
    EXPECT_TRUE(s.IsOpen());
    ++opened;
  });
  r.comm->Open();
  EXPECT_TRUE(r.comm->IsOpen());
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(r.comm->EventMask(), 0x0081u);
  const std::vector<std::string> expected = {"Open COM3", "Dcb", "Queues 4096 2048", "Timeouts 5",
                                             "Mask 129"};
  EXPECT_EQ(r.dev->Get(&FakeDevice::calls), expected);
  const auto dcbs = r.dev->Get(&FakeDevice::dcbs);
  ASSERT_EQ(dcbs.size(), 1u);
  EXPECT_EQ(dcbs[0], r.comm->BuildDcb());
  EXPECT_EQ(dcbs[0].BaudRate, 10400u);
  // Both threads run: the event thread waits, the write thread sends.
  EXPECT_TRUE(r.dev->WaitFor([](FakeDevice& d) { return d.waits > 0; }));
  EXPECT_EQ(r.comm->WriteData("ab", 2), 2);
  EXPECT_TRUE(r.dev->WaitFor([](FakeDevice& d) { return d.output == "ab"; }));

  // Open on an open port raises and leaves it open with its threads.
  EXPECT_EQ(MessageOf([&] { r.comm->Open(); }), "Can't perform this operation while port is open");
  EXPECT_TRUE(r.comm->IsOpen());
  EXPECT_EQ(r.comm->WriteData("c", 1), 1);
  EXPECT_TRUE(r.dev->WaitFor([](FakeDevice& d) { return d.output == "abc"; }));
}

TEST(SerCommOpen, SettingsWhileOpen) {
  Rig r;
  r.comm->SetDeviceName("COM1");
  r.comm->Open();
  const std::string busy = "Can't perform this operation while port is open";
  EXPECT_EQ(MessageOf([&] { r.comm->SetDeviceName("COM2"); }), busy);
  EXPECT_EQ(r.comm->DeviceName(), "COM1");
  EXPECT_EQ(MessageOf([&] { r.comm->SetPortNum(4); }), busy);
  EXPECT_EQ(r.comm->PortNum(), 0);
  EXPECT_EQ(MessageOf([&] { r.comm->SetDirectWrite(true); }), busy);
  EXPECT_FALSE(r.comm->DirectWrite());
  EXPECT_EQ(MessageOf([&] { r.comm->SetUpdateDCB(false); }), busy);
  EXPECT_TRUE(r.comm->UpdateDCB());
  EXPECT_EQ(MessageOf([&] { r.comm->SetMonitorEvents(0); }), busy);
  EXPECT_EQ(r.comm->MonitorEvents(), SerEvents({ceError, ceRxChar, ceTxEmpty}));
  TSerBuffers other;
  other.SetReadSize(1);
  EXPECT_EQ(MessageOf([&] { r.comm->SetBuffers(other); }), busy);
  EXPECT_EQ(r.comm->Buffers().ReadSize(), 4096);
  // A size is stored, then its notification refuses; the device keeps its old queues.
  EXPECT_EQ(MessageOf([&] { r.comm->Buffers().SetReadSize(512); }), busy);
  EXPECT_EQ(r.comm->Buffers().ReadSize(), 512);
  EXPECT_EQ(MessageOf([&] { r.comm->Buffers().SetXoffLimit(7); }), busy);
  // Time-outs, priorities and handlers are free.
  r.comm->Buffers().SetReadTimeout(10);
  r.comm->Buffers().SetWriteTimeout(10);
  r.comm->SetEventPriority(tpLower);
  r.comm->SetWritePriority(tpNormal);
  r.comm->SetAutoOpen(true);
  EXPECT_EQ(r.dev->Get(&FakeDevice::dcbs).size(), 1u);
  // Line settings reach the device at once.
  r.comm->SetParity(paEven);
  EXPECT_EQ(r.dev->Get(&FakeDevice::dcbs).back().Parity, 2);
  r.comm->SetParity(paEven);  // unchanged: nothing handed over
  EXPECT_EQ(r.dev->Get(&FakeDevice::dcbs).size(), 2u);
  r.comm->SetBaudrate(br9600);
  EXPECT_EQ(r.dev->Get(&FakeDevice::dcbs).back().BaudRate, 9600u);
  r.comm->SetUserBaudrate(10400);
  EXPECT_EQ(r.dev->Get(&FakeDevice::dcbs).back().BaudRate, 10400u);
  r.comm->FlowControl().SetControlDtr(dtrEnabled);
  EXPECT_EQ(r.dev->Get(&FakeDevice::dcbs).back().Flags, 0x0011u);
  r.comm->EventChars().SetEventChar(0x42);
  EXPECT_EQ(r.dev->Get(&FakeDevice::dcbs).back().EvtChar, 0x42);
  TSerFlowControl none;
  r.comm->SetFlowControl(none);
  EXPECT_EQ(r.dev->Get(&FakeDevice::dcbs).back().Flags, 0x0001u);
  EXPECT_EQ(r.dev->Get(&FakeDevice::dcbs).size(), 7u);
  // A failing record raises with the system text.
  r.dev->dcbRc = EINVAL;
  EXPECT_EQ(MessageOf([&] { r.comm->SetDatabits(db4); }),
            "Error writing dcb (22), " + SerSystemErrorText(22));
  EXPECT_TRUE(r.comm->IsOpen());
}

TEST(SerCommOpen, UpdateDcbFalseNeverHandsARecord) {
  Rig r;
  r.comm->SetUpdateDCB(false);
  r.comm->Open();
  r.comm->SetParity(paOdd);
  r.comm->SetBaudrate(br9600);
  EXPECT_TRUE(r.dev->Get(&FakeDevice::dcbs).empty());
}

// The line goes to the device before it opens, so that the platform layer can set it
// straight after the system's open; without UpdateDCB the device keeps its own.
TEST(SerCommOpen, LineIsGivenBeforeTheOpen) {
  for (const bool update : {true, false}) {
    SCOPED_TRACE(update);
    Rig r;
    ApplyLoaderSettings(*r.comm);
    r.comm->SetUpdateDCB(update);
    r.comm->Open();
    const auto lines = r.dev->Get(&FakeDevice::openLines);
    ASSERT_EQ(lines.size(), update ? 1u : 0u);
    if (!update) continue;
    EXPECT_TRUE(lines[0].givenWhileClosed);
    EXPECT_EQ(lines[0].dcb, r.comm->BuildDcb());
  }
}

TEST(SerCommOpen, FailingStepClosesTheHandleAgain) {
  struct Case {
    int FakeDevice::*rc;
    std::string message;
  } cases[] = {
      {&FakeDevice::dcbRc, "Error writing dcb (5), " + SerSystemErrorText(5)},
      {&FakeDevice::queuesRc, "Error initializing buffers (5), " + SerSystemErrorText(5)},
      {&FakeDevice::timeoutsRc, "Error setting timeouts (5), " + SerSystemErrorText(5)},
      {&FakeDevice::maskRc, " Error setting EventMask (5), " + SerSystemErrorText(5)},
  };
  for (const auto& k : cases) {
    Rig r;
    int opened = 0;
    r.comm->SetOnOpen([&](TSerCustomComm&) { ++opened; });
    (*r.dev).*k.rc = EIO;
    EXPECT_EQ(MessageOf([&] { r.comm->Open(); }), k.message);
    EXPECT_FALSE(r.comm->IsOpen());
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(r.dev->Get(&FakeDevice::calls).back(), "Close");
    EXPECT_EQ(r.dev->Get(&FakeDevice::waits), 0);  // no thread was started
  }
}

TEST(SerCommOpen, DeviceErrorsNameThePort) {
  Rig r;
  r.dev->openRc = ENOENT;
  EXPECT_EQ(MessageOf([&] { r.comm->Open(); }), "Specified device not found (COM0).");
  EXPECT_FALSE(r.comm->IsOpen());
  r.dev->openRc = EACCES;
  // A name with no device behind it, so that no access hint joins the message.
  r.comm->SetDeviceName("noSuchTty%d");
  r.comm->SetPortNum(2);
  EXPECT_EQ(MessageOf([&] { r.comm->Open(); }),
            "Can't open specified device noSuchTty2 (Error 13, " + SerSystemErrorText(13) + ")");
  EXPECT_FALSE(r.comm->IsOpen());
  EXPECT_EQ(r.comm->DeviceName(), "noSuchTty%d");
}

TEST(SerCommOpen, OnOpenExceptionIsShownAndOpenSucceeds) {
  Rig r;
  r.comm->SetOnOpen([](TSerCustomComm&) { throw std::runtime_error("handler failed"); });
  EXPECT_NO_THROW(r.comm->Open());
  EXPECT_TRUE(r.comm->IsOpen());
  EXPECT_EQ(r.shown, std::vector<std::string>{"handler failed"});
}

TEST(SerCommOpen, AutoOpenOnLoaded) {
  Rig r;
  r.comm->Loaded();
  EXPECT_FALSE(r.comm->IsOpen());
  r.comm->SetAutoOpen(true);
  r.comm->Loaded();
  EXPECT_TRUE(r.comm->IsOpen());
}

TEST(SerCommClose, ClosedPortDoesNothingOpenPortPauses) {
  Rig r;
  int closed = 0;
  r.comm->SetOnClose([&](TSerCustomComm& s) {
    EXPECT_FALSE(s.IsOpen());
    ++closed;
  });
  auto t0 = Clock::now();
  r.comm->Close();
  EXPECT_EQ(closed, 0);
  EXPECT_LT(Clock::now() - t0, 250ms);
  EXPECT_EQ(r.comm->WriteData("x", 1), 0);
  char buf[4];
  EXPECT_EQ(r.comm->ReadData(buf, 4), 0);
  EXPECT_EQ(r.comm->ReadStatus().InQueue, 0u);

  r.comm->Open();
  t0 = Clock::now();
  r.comm->Close();
  EXPECT_GE(Clock::now() - t0, 300ms);
  EXPECT_EQ(closed, 1);
  EXPECT_FALSE(r.comm->IsOpen());
  EXPECT_EQ(r.dev->Get(&FakeDevice::calls).back(), "Close");
  // Open again after Close.
  r.comm->Open();
  EXPECT_TRUE(r.comm->IsOpen());
  // Destruction closes without OnClose.
  r.comm.reset();
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(r.dev->Get(&FakeDevice::calls).back(), "Close");
}

TEST(SerCommMessages, ReadStatusAndDirectWriteFailures) {
  Rig r;
  r.comm->SetDirectWrite(true);
  r.comm->Open();
  EXPECT_EQ(r.comm->EventMask(), 0x0085u);
  EXPECT_EQ(r.comm->WriteData("xyz", 3), 3);
  EXPECT_EQ(r.dev->Get(&FakeDevice::output), "xyz");
  r.dev->failWrites = 1;
  EXPECT_EQ(MessageOf([&] { r.comm->WriteData("q", 1); }),
            "Write error (5), " + SerSystemErrorText(5));
  r.dev->readRc = EIO;
  char buf[8];
  EXPECT_EQ(MessageOf([&] { r.comm->ReadData(buf, 8); }),
            "Read error (5), " + SerSystemErrorText(5));
  r.dev->statusRc = EBADF;
  EXPECT_EQ(MessageOf([&] { r.comm->ReadStatus(); }),
            "Error retrieving statistics (9), " + SerSystemErrorText(9));
  EXPECT_TRUE(r.comm->IsOpen());
}

TEST(SerCommWrite, OverflowFailsAfterWriteTimeoutAndKeepsQueuedBytes) {
  Rig r;
  r.comm->Buffers().SetWriteSize(16);
  r.comm->Buffers().SetWriteTimeout(60);
  r.dev->SetWriteBlocked(true);
  r.comm->Open();
  const std::string full = "Output buffer is full. Please check comm status.";
  // Larger than the buffer can ever hold.
  auto t0 = Clock::now();
  EXPECT_EQ(MessageOf([&] { r.comm->WriteData("0123456789abcdefg", 17); }), full);
  EXPECT_GE(Clock::now() - t0, 60ms);
  // Fits, then no more room while the device takes nothing.
  EXPECT_EQ(r.comm->WriteData("0123456789", 10), 10);
  EXPECT_EQ(r.comm->WriteData("ABCDEF", 6), 6);
  t0 = Clock::now();
  EXPECT_EQ(MessageOf([&] { r.comm->WriteData("!", 1); }), full);
  EXPECT_GE(Clock::now() - t0, 60ms);
  EXPECT_TRUE(r.comm->IsOpen());
  // Room comes as the device takes bytes: a waiting write then succeeds.
  r.comm->Buffers().SetWriteTimeout(2000);
  std::thread release([&] {
    std::this_thread::sleep_for(20ms);
    r.dev->SetWriteBlocked(false);
  });
  EXPECT_EQ(r.comm->WriteData("!", 1), 1);
  release.join();
  EXPECT_TRUE(r.dev->WaitFor([](FakeDevice& d) { return d.output == "0123456789ABCDEF!"; }));
}

TEST(SerCommWrite, WritesQueuedWhileOneIsPendingGoOutTogether) {
  Rig r;
  r.dev->SetWriteBlocked(true);
  r.comm->Open();
  r.comm->WriteData("a", 1);
  ASSERT_TRUE(r.dev->WaitFor([](FakeDevice& d) { return d.writeCalls == 1; }));
  r.comm->WriteData("bc", 2);
  r.comm->WriteData("def", 3);
  r.dev->SetWriteBlocked(false);
  ASSERT_TRUE(r.dev->WaitFor([](FakeDevice& d) { return d.output == "abcdef"; }));
  // The pending write took the one byte it was given; the rest went out in one pass.
  EXPECT_EQ(r.dev->Get(&FakeDevice::writeSizes), (std::vector<std::int32_t>{1, 5}));
}

TEST(SerCommWrite, PartialWritesSendTheRest) {
  Rig r;
  r.dev->maxPut = 3;
  r.comm->Open();
  r.comm->WriteData("0123456789", 10);
  ASSERT_TRUE(r.dev->WaitFor([](FakeDevice& d) { return d.output == "0123456789"; }));
}

// ---- reports handed to the user-interface thread -------------------------------------------

TEST(SerCommEvents, RxCharCountsWaitingBytesOnTheUiThread) {
  Rig r;
  std::vector<std::int32_t> counts;
  std::string got;
  const auto ui = std::this_thread::get_id();
  r.comm->SetOnRxChar([&](TSerCustomComm& s, std::int32_t n) {
    EXPECT_EQ(std::this_thread::get_id(), ui);
    counts.push_back(n);
    char buf[64];
    got.append(buf, static_cast<std::size_t>(s.ReadData(buf, n)));
  });
  r.comm->Open();
  r.dev->Event(SerEv::RxChar, "hello");
  ASSERT_TRUE(r.PumpUntil([&] { return counts.size() == 1; }));
  EXPECT_EQ(counts[0], 5);
  EXPECT_EQ(got, "hello");
  // The bytes were read meanwhile: no OnRxChar with a count of 0.
  r.dev->Event(SerEv::RxChar);
  r.dev->Event(SerEv::RxChar, "!");
  ASSERT_TRUE(r.PumpUntil([&] { return got == "hello!"; }));
  EXPECT_EQ(counts, (std::vector<std::int32_t>{5, 1}));
}

TEST(SerCommEvents, LineErrorsAndHandlerOrder) {
  Rig r;
  std::vector<std::string> order;
  std::vector<std::int32_t> errors;
  auto note = [&](const char* n) { return [&order, n](TSerCustomComm&) { order.push_back(n); }; };
  r.comm->SetOnRxFlag(note("RxFlag"));
  r.comm->SetOnCts(note("Cts"));
  r.comm->SetOnDsr(note("Dsr"));
  r.comm->SetOnRing(note("Ring"));
  r.comm->SetOnRlsd(note("Rlsd"));
  r.comm->SetOnTxEmpty(note("TxEmpty"));
  r.comm->SetOnBreak(note("Break"));
  r.comm->SetOnPErr(note("PErr"));
  r.comm->SetOnRx80Full(note("Rx80Full"));
  r.comm->SetOnEvent1(note("Event1"));
  r.comm->SetOnEvent2(note("Event2"));
  r.comm->SetOnError([&](TSerCustomComm&, std::int32_t e) {
    order.push_back("Error");
    errors.push_back(e);
  });
  r.comm->Open();
  r.dev->Event(0x1FFE, "", SerCe::Frame);
  ASSERT_TRUE(r.PumpUntil([&] { return order.size() == 12; }));
  const std::vector<std::string> expected = {"Error", "RxFlag",   "Cts",     "Dsr",
                                             "Ring",  "Rlsd",     "TxEmpty", "Break",
                                             "PErr",  "Rx80Full", "Event1",  "Event2"};
  EXPECT_EQ(order, expected);
  EXPECT_EQ(errors, std::vector<std::int32_t>{SerCe::Frame});
  // No flags: no OnError. Without a handler the flags are cleared silently.
  order.clear();
  r.dev->Event(SerEv::Err);
  r.comm->SetOnError(nullptr);
  r.dev->Event(SerEv::Err, "", SerCe::Overrun);
  r.dev->Event(SerEv::Cts);
  ASSERT_TRUE(r.PumpUntil([&] { return order.size() == 1; }));
  EXPECT_EQ(r.dev->Get(&FakeDevice::errors), 0u);
  EXPECT_TRUE(r.shown.empty());
}

TEST(SerCommEvents, HandlerExceptionsAreShownAndTheThreadsGoOn) {
  Rig r;
  int calls = 0;
  r.comm->SetOnRxChar([&](TSerCustomComm& s, std::int32_t n) {
    ++calls;
    char buf[16];
    s.ReadData(buf, n);
    throw ESerCommError("boom " + std::to_string(calls));
  });
  r.comm->SetOnError([](TSerCustomComm&, std::int32_t) { throw std::runtime_error("err"); });
  r.comm->SetOnTxEmpty([](TSerCustomComm&) { throw std::runtime_error("tx"); });
  r.comm->Open();
  r.dev->Event(SerEv::RxChar, "a");
  ASSERT_TRUE(r.PumpUntil([&] { return r.shown.size() == 1; }));
  r.dev->Event(SerEv::RxChar | SerEv::Err, "b", SerCe::Break);
  ASSERT_TRUE(r.PumpUntil([&] { return r.shown.size() == 2; }));
  r.dev->Event(SerEv::Err, "", SerCe::Break);
  ASSERT_TRUE(r.PumpUntil([&] { return r.shown.size() == 3; }));
  r.comm->WriteData("x", 1);
  ASSERT_TRUE(r.PumpUntil([&] { return r.shown.size() == 4; }));
  EXPECT_EQ(r.shown, (std::vector<std::string>{"boom 1", "boom 2", "err", "tx"}));
  // A status query that fails inside the dispatch is shown too.
  r.dev->statusRc = EIO;
  r.dev->Event(SerEv::RxChar, "c");
  ASSERT_TRUE(r.PumpUntil([&] { return r.shown.size() == 5; }));
  EXPECT_EQ(r.shown.back(), "Error retrieving statistics (5), " + SerSystemErrorText(5));
}

// Handlers may throw anything; what is no std::exception is shown all the same, whichever
// thread's report ran them.
TEST(SerCommEvents, NonStandardThrowsAreShownAsUnknownErrors) {
  const struct {
    const char* report;
    std::function<void(Rig&)> provoke;
  } cases[] = {
      {"event thread",
       [](Rig& r) {
         r.comm->SetOnRxChar([](TSerCustomComm&, std::int32_t) { throw 1; });
         r.comm->Open();
         r.dev->Event(SerEv::RxChar, "a");
       }},
      {"write thread",
       [](Rig& r) {
         r.comm->SetOnTxEmpty([](TSerCustomComm&) { throw 1; });
         r.comm->Open();
         r.comm->WriteData("x", 1);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    Rig r;
    c.provoke(r);
    ASSERT_TRUE(r.PumpUntil([&] { return !r.shown.empty(); }));
    EXPECT_EQ(r.shown, std::vector<std::string>{"Unknown error in a serial port event handler"});
  }
}

TEST(SerCommEvents, WriteFailureIsReportedOnceAndRetried) {
  Rig r;
  std::vector<std::int32_t> errors;
  int txEmpty = 0;
  r.comm->SetOnError([&](TSerCustomComm&, std::int32_t e) { errors.push_back(e); });
  r.comm->SetOnTxEmpty([&](TSerCustomComm&) { ++txEmpty; });
  r.comm->Open();
  {
    std::lock_guard lock(r.dev->m);
    r.dev->failWrites = 2;
    r.dev->errors = SerCe::Overrun;
  }
  r.comm->WriteData("data", 4);
  ASSERT_TRUE(r.PumpUntil([&] { return txEmpty == 1; }));
  EXPECT_EQ(r.dev->Get(&FakeDevice::output), "data");
  EXPECT_EQ(errors, std::vector<std::int32_t>{SerCe::Overrun});
}

TEST(SerCommEvents, NoEventThreadWithoutEventsButReadsWork) {
  Rig r;
  r.comm->SetMonitorEvents(SerEvents({ceTxEmpty}));
  r.comm->Open();
  EXPECT_EQ(r.comm->EventMask(), 0u);
  r.comm->WriteData("x", 1);
  ASSERT_TRUE(r.dev->WaitFor([](FakeDevice& d) { return d.output == "x"; }));
  EXPECT_EQ(r.dev->Get(&FakeDevice::waits), 0);
  r.dev->Event(0, "abc");
  char buf[8];
  EXPECT_EQ(r.comm->ReadData(buf, 8), 3);
}

TEST(SerCommEvents, ListenersTakeTheBytes) {
  struct Listener : TSerListener {
    std::string bytes;
    std::vector<std::uint32_t> masks;
    void CommEvents(TSerCustomComm&, std::uint32_t m) override { masks.push_back(m); }
    void RxBuf(TSerCustomComm&, const void* d, std::int32_t n) override {
      bytes.append(static_cast<const char*>(d), static_cast<std::size_t>(n));
    }
  } listener;
  Rig r;
  int rxChar = 0;
  std::string rxBuf;
  r.comm->SetOnRxChar([&](TSerCustomComm&, std::int32_t) { ++rxChar; });
  r.comm->SetOnRxBuf([&](TSerCustomComm&, const void* d, std::int32_t n) {
    rxBuf.append(static_cast<const char*>(d), static_cast<std::size_t>(n));
  });
  r.comm->AttachListener(&listener);
  r.comm->Open();
  r.dev->Event(SerEv::RxChar | SerEv::Cts, "xyz");
  ASSERT_TRUE(r.PumpUntil([&] { return !listener.masks.empty(); }));
  EXPECT_EQ(listener.bytes, "xyz");
  EXPECT_EQ(rxBuf, "xyz");
  EXPECT_EQ(rxChar, 0);
  EXPECT_EQ(listener.masks, std::vector<std::uint32_t>{SerEv::Cts});
  r.comm->DetachListener(&listener);
}

// ---- closing against the threads -------------------------------------------------------------

TEST(SerCommSoundness, CloseFromInsideOnRxChar) {
  Rig r;
  int calls = 0;
  r.comm->SetOnRxChar([&](TSerCustomComm& s, std::int32_t) {
    ++calls;
    s.Close();
  });
  r.comm->Open();
  r.dev->Event(SerEv::RxChar, "a");
  r.dev->Event(SerEv::RxChar, "b");
  ASSERT_TRUE(r.PumpUntil([&] { return calls == 1; }));
  EXPECT_FALSE(r.comm->IsOpen());
  // Whatever was still handed over runs as a no-op.
  r.sync.Pump(50ms);
  EXPECT_EQ(calls, 1);
  r.comm->Open();
  EXPECT_TRUE(r.comm->IsOpen());
}

TEST(SerCommSoundness, CloseWhileTheWriteThreadReportsTxEmpty) {
  Rig r;
  int calls = 0;
  r.comm->SetOnTxEmpty([&](TSerCustomComm& s) {
    ++calls;
    s.Close();
  });
  r.comm->Open();
  r.comm->WriteData("x", 1);
  ASSERT_TRUE(r.PumpUntil([&] { return calls == 1; }));
  EXPECT_FALSE(r.comm->IsOpen());
}

TEST(SerCommSoundness, CloseWhileReportsWaitUnpumped) {
  Rig r;
  int calls = 0;
  r.comm->SetOnRxChar([&](TSerCustomComm&, std::int32_t) { ++calls; });
  r.comm->SetOnTxEmpty([&](TSerCustomComm&) { ++calls; });
  r.comm->Open();
  r.dev->Event(SerEv::RxChar, "a");
  r.comm->WriteData("x", 1);
  // Both threads are now blocked in their hand-off; Close must not wait for them.
  r.comm->Close();
  r.sync.Pump(50ms);
  EXPECT_EQ(calls, 0);
}

TEST(SerCommSoundness, DestructionWhileEventsPending) {
  auto dev = std::make_shared<FakeDevice>();
  TSerPumpSynchronizer sync;
  int calls = 0;
  {
    TSerComm comm;
    comm.SetDeviceFactory([dev] { return dev; });
    comm.SetSynchronizer(&sync);
    comm.SetOnRxChar([&](TSerCustomComm&, std::int32_t) { ++calls; });
    comm.SetOnTxEmpty([&](TSerCustomComm&) { ++calls; });
    comm.Open();
    dev->Event(SerEv::RxChar, "a");
    dev->Event(SerEv::RxChar, "b");
    comm.WriteData("x", 1);
    ASSERT_TRUE(dev->WaitFor([](FakeDevice& d) { return d.output == "x"; }));
  }
  // The component is gone; the handed-off calls it left behind do nothing.
  while (sync.Pump(50ms)) {
  }
  EXPECT_EQ(calls, 0);
}

TEST(SerCommSoundness, SharedSynchronizerOutlivesItsOwner) {
  auto dev = std::make_shared<FakeDevice>();
  auto sync = std::make_shared<TSerPumpSynchronizer>();
  {
    TSerComm comm;
    comm.SetDeviceFactory([dev] { return dev; });
    comm.SetSynchronizer(sync);
    comm.SetOnRxChar([](TSerCustomComm&, std::int32_t) {});
    comm.Open();
    dev->Event(SerEv::RxChar, "a");
  }
  // Dropping our reference releases the thread still waiting in its hand-off.
  sync->Shutdown();
  sync.reset();
}

}  // namespace
}  // namespace serial::test
