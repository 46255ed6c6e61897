#include "oh2b/oh2b.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "hex_fixture.h"
#include "platform/crc32.h"
#include "platform/file.h"

namespace oh2b::test {
namespace {

using namespace std::string_literals;

std::string Image(std::initializer_list<std::string> parts) {
  std::string image;
  for (const auto& part : parts) image += part;
  return image;
}

struct ImageCase {
  const char* name;
  std::string hex;
  std::string image;
};

class ConvertsTo : public TempDirTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(ConvertsTo, ExpectedImage) {
  const std::string hexPath = PutHex(GetParam().hex);
  ASSERT_EQ(HexToBin(hexPath), "app.BIN");
  EXPECT_EQ(ReadFile("app.BIN"), GetParam().image);
  EXPECT_FALSE(fs::exists(dir_ / "in" / "app.BIN"));
}

INSTANTIATE_TEST_SUITE_P(
    Records, ConvertsTo,
    ::testing::Values(
        ImageCase{"EmptyFile", "", ""},
        ImageCase{"GapBetweenRecords", ":0100000011EE\n:0100040022D9\n", "\x11\xFF\xFF\xFF\x22"},
        ImageCase{"ImageStartsAtAddressZero", ":02001000AABB89\n", Fill(16) + "\xAA\xBB"},
        ImageCase{"EmptyRecordBeyondEndExtends",
                  HexRecord(0, 0, std::vector<std::uint8_t>(16, 0x01)) + "\n:00002000E0\n",
                  std::string(16, '\x01') + Fill(16)},
        ImageCase{"EmptyRecordBelowEndChangesNothing", ":020000001122CB\n:00000000FF\n",
                  "\x11\x22"},
        ImageCase{"SegmentBase", ":020000021000EC\n:0100000055AA\n", Fill(65536) + "\x55"},
        ImageCase{"LinearBase", ":020000040001F9\n:0100000055AA\n", Fill(65536) + "\x55"},
        ImageCase{"LinearThenSegmentLatestWins",
                  ":020000040002F8\n:020000021000EC\n:0100000055AA\n", Fill(65536) + "\x55"},
        ImageCase{"SegmentThenLinearLatestWins",
                  ":020000022000DC\n:020000040001F9\n:0100000055AA\n", Fill(65536) + "\x55"},
        ImageCase{"LinearBaseBackToZero",
                  ":020000040001F9\n:020000040000FA\n:0100000055AA\n:0100010066??\n", "\x55\x66"},
        ImageCase{"SegmentBaseAddsAddress", ":020000020001FB\n:0100020077??\n",
                  Fill(0x12) + "\x77"},
        ImageCase{"LowerCaseDigits", ":01000a00ab4a\n", Fill(10) + "\xAB"},
        ImageCase{"LowerCaseBase", ":02000002000aee\n:00000000ff\n", Fill(0xA0)},
        ImageCase{"WrongChecksumUnnoticed", ":0100000011FF\n", "\x11"},
        ImageCase{"NoChecksumAtAll", ":0100000011\n", "\x11"},
        ImageCase{"CharactersAfterDataIgnored", ":0100000011EEjunk\n", "\x11"},
        ImageCase{"EndOfFileRecordEndsNothing", ":0100000011EE\n:00000001FF\n:0100010022DC\n",
                  "\x11\x22"},
        ImageCase{"Types03And05ChangeNothing",
                  ":0400000300001234B3\n:0400000512345678??\n:0100000011EE\n", "\x11"},
        ImageCase{"UnknownTypeIgnored", ":01000007AAzz\n:0100000011EE\n", "\x11"},
        ImageCase{"CountOfBaseRecordNotRead", ":00000004000100\n:0100000055AA\n",
                  Fill(65536) + "\x55"},
        ImageCase{"LineWithLeadingBlankSkipped", " :0100000011EE\n:0100010022DC\n", "\xFF\x22"},
        ImageCase{"NonRecordWithHexAtTypePositionSkipped", "comment00 text\n:0100000011EE\n",
                  "\x11"},
        ImageCase{"ShortNonRecordLinesSkipped", "\n   \nabc\n:0100000011EE\n\n\x1A", "\x11"},
        ImageCase{"EndsWithLf", ":0100000011EE\n:0100010022DC\n", "\x11\x22"},
        ImageCase{"EndsWithCrLf", ":0100000011EE\r\n:0100010022DC\r\n", "\x11\x22"},
        ImageCase{"EndsWithCr", ":0100000011EE\r:0100010022DC\r", "\x11\x22"},
        ImageCase{"NoFinalLineEnd", ":0100000011EE\r\n:0100010022DC", "\x11\x22"},
        ImageCase{"MixedLineEnds", ":0100000011EE\r\n:0100010022DC\n:0100020033CA\r:0100030044B8",
                  "\x11\x22\x33\x44"},
        // LF CR is two line ends with an empty line between, not one.
        ImageCase{"LfCrIsTwoLineEnds", ":0100000011EE\n\r:0100010022DC\n\r", "\x11\x22"},
        ImageCase{"NulEndsText", ":0100000011EE\n\0:0100010022DC\n"s, "\x11"},
        ImageCase{"NulInsideLineEndsText", ":0100000011EE\n:0100010022\0DC\n:0100020033CA\n"s,
                  "\x11\x22"},
        // Records below the image's end go to their own addresses.
        ImageCase{"OverlapWrittenAtOwnAddress", ":020000001122CB\n:0100000033CC\n", "\x33\x22"},
        ImageCase{"DescendingRecords", ":0100020033CA\n:0100000011EE\n", "\x11\xFF\x33"},
        ImageCase{"BackWritePassingEndExtends", ":020000001122CB\n:03000100AABBCC??\n",
                  "\x11\xAA\xBB\xCC"},
        ImageCase{"FillAfterBackWriteStartsAtEnd", ":0100100011DE\n:0100000022DD\n:0100200033AC\n",
                  Image({"\x22", Fill(15), "\x11", Fill(15), "\x33"})},
        ImageCase{"SequentialAfterBackWrite",
                  ":0400000011223344??\n:0100010055??\n:0100020066??\n:0100080077??\n",
                  Image({"\x11\x55\x66\x44", Fill(4), "\x77"})}),
    [](const auto& info) { return std::string(info.param.name); });

struct ErrorCase {
  const char* name;
  std::string hex;
  std::string message;  // for ERecordError: the line number
  bool tooShort = false;
};

class FailsWith : public TempDirTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(FailsWith, MessageAndNoPartialImage) {
  const ErrorCase& c = GetParam();
  const std::string hexPath = PutHex(c.hex);
  WriteFile("app.BIN", "earlier image");
  if (c.tooShort) {
    try {
      HexToBin(hexPath);
      FAIL() << "no error";
    } catch (const ERecordError& e) {
      EXPECT_EQ(e.what(),
                "Line " + c.message + " of \"" + hexPath + "\" is too short for its record");
    }
  } else {
    try {
      HexToBin(hexPath);
      FAIL() << "no error";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.what(), "'" + c.message + "' is not a valid integer value");
    }
  }
  // Nothing half-written under the image's name, the earlier image not even backed
  // up, and no temporary file left.
  EXPECT_EQ(ReadFile("app.BIN"), "earlier image");
  EXPECT_EQ(Entries(), (std::set<std::string>{"app.BIN", "in"}));
}

INSTANTIATE_TEST_SUITE_P(
    Conversion, FailsWith,
    ::testing::Values(
        ErrorCase{"CommentLine", "; comment\n", "$nt"},
        ErrorCase{"NonRecordLineStillStopsAfterData", ":0100000011EE\n; comment\n", "$nt"},
        ErrorCase{"BadType", ":010000Z011\n", "$Z0"},
        ErrorCase{"BadAddress", ":010G000011\n", "$0G00"},
        ErrorCase{"BadCountAfterFill", ":G1001000AA\n", "$G1"},
        ErrorCase{"BadDataByte", ":0200000011G1CC\n", "$G1"},
        ErrorCase{"BadDataByteAfterFill", ":0300040011G122\n", "$G1"},
        ErrorCase{"BadLowDigit", ":010000001x\n", "$1x"},
        ErrorCase{"BlankInsideByte", ":01000000 1\n", "$ 1"},
        ErrorCase{"SignIsNoDigit", ":01000000+1\n", "$+1"},
        ErrorCase{"LinearBase", ":0200000400X0F9\n", "$00X00000"},
        ErrorCase{"SegmentBase", ":0200000200X0EC\n", "$00X00"},
        ErrorCase{"HighByteCharacter", ":01000000\xE9\x31\n", "$\xE9\x31"},
        ErrorCase{"ConversionStopsAtOnce", ":0100000011EE\n:01000100ZZ\n:0100020033CA\n", "$ZZ"},
        ErrorCase{"ShortRecordMark", ":\n", "1", true},
        ErrorCase{"RecordOfEightCharacters", ":0100000\n", "1", true},
        ErrorCase{"DataShorterThanCount", ":0100000011EE\r\n\r\n:03000100AABB\r\n", "3", true},
        ErrorCase{"DataOneDigitShort", ":020000001122CB\n:0200020033C\n", "2", true},
        ErrorCase{"LinearBaseShort", ":02000004000\n", "1", true},
        ErrorCase{"SegmentBaseShort", "\n:0200000210\n", "2", true},
        ErrorCase{"LineNumbersCountCrAlone", ":0100000011EE\r\r:02000000\r", "3", true}),
    [](const auto& info) { return std::string(info.param.name); });

// The record checks a production tool asks for, and the line that every error at a line
// carries with it, checked or not.
struct LineErrorCase {
  const char* name;
  std::string hex;
  unsigned long line;
  std::string detail;
  bool checks = true;
};

class LineErrorIn : public TempDirTest, public ::testing::WithParamInterface<LineErrorCase> {};

TEST_P(LineErrorIn, NamesLineAndFault) {
  const LineErrorCase& c = GetParam();
  try {
    HexToBin(PutHex(c.hex), THexOptions{c.checks, {}});
    FAIL() << "no error";
  } catch (const EHexLineError& e) {
    EXPECT_EQ(e.Line(), c.line);
    EXPECT_EQ(e.Detail(), c.detail);
  }
  EXPECT_EQ(Entries(), (std::set<std::string>{"in"}));
}

INSTANTIATE_TEST_SUITE_P(
    Records, LineErrorIn,
    ::testing::Values(LineErrorCase{"WrongChecksum", ":0100000011EE\n:0100010022DD\n", 2,
                                    "checksum 0xDD, the record sums to 0xDC"},
                      LineErrorCase{"WrongChecksumOfBaseRecord", ":020000040001F8\n", 1,
                                    "checksum 0xF8, the record sums to 0xF9"},
                      LineErrorCase{"ShortRecord", ":0100000011EE\r\n:01000100\r\n", 2,
                                    "record too short: 9 of at least 11 characters"},
                      LineErrorCase{"CountLargerThanLine", ":0300000011EE\n", 1,
                                    "byte count 0x03 needs 17 characters, the line has 13"},
                      LineErrorCase{"CountSmallerThanLine", ":0100000011EEjunk\n", 1,
                                    "byte count 0x01 needs 13 characters, the line has 17"},
                      LineErrorCase{"BaseRecordWithoutItsBytes", ":00000002FE\n", 1,
                                    "record too short for its type"},
                      LineErrorCase{"BadDataDigit", ":0100000011EE\n\n:01000100G1CC\n", 3,
                                    "'$G1' is not a valid integer value"},
                      LineErrorCase{"BadCountDigit", ":0G0000001122\n", 1,
                                    "'$0G' is not a valid integer value"},
                      LineErrorCase{"BadChecksumDigit", ":0100000011EX\n", 1,
                                    "'$EX' is not a valid integer value"},
                      LineErrorCase{"BadBaseDigitKeepsConvertedText", ":0200000400X0F9\n", 1,
                                    "'$00X00000' is not a valid integer value"},
                      LineErrorCase{"UncheckedConversionError", ":0100000011FF\n; comment\n", 2,
                                    "'$nt' is not a valid integer value", false},
                      LineErrorCase{"UncheckedTooShort", ":0100000011EE\r\r:02000000\r", 3,
                                    "record too short for its type", false}),
    [](const auto& info) { return std::string(info.param.name); });

class RecordChecksTest : public TempDirTest {};
constexpr auto kNoEnd = TFindingKind::fkNoEndRecord;
constexpr auto kNul = TFindingKind::fkNulByte;
constexpr auto kBlank = TFindingKind::fkLeadingBlank;
constexpr auto kTab = TFindingKind::fkLeadingTab;
constexpr auto kBom = TFindingKind::fkByteOrderMark;
// A wrong checksum at a line, with the checksum the record carries and the one it calls for.
TRecordFinding BadSum(unsigned long line, std::uint8_t carried, std::uint8_t wanted) {
  TRecordFinding finding{line, TFindingKind::fkChecksum};
  finding.checksum = carried;
  finding.wanted = wanted;
  return finding;
}

// Signs of a cut or of a record the conversion skips: refused under the checks, the
// first one kept in the result without them. A text with no record at all is no cut file.
TEST_F(RecordChecksTest, TruncationAndHiddenRecordsAreFound) {
  const std::string eof = ":00000001FF\n";
  struct {
    const char* name;
    std::string hex;
    std::optional<TRecordFinding> finding;
  } const cases[] = {
      {"Sound", ":0100000011EE\n" + eof, std::nullopt},
      {"NoRecordAtAll", "\n\n", std::nullopt},
      {"NoEndRecord", ":0100000011EE\n:0100010022DC\n", TRecordFinding{2, kNoEnd}},
      {"NulAtLineStart", ":0100000011EE\n"s + '\0' + eof, TRecordFinding{2, kNul}},
      {"NulInsideLine", ":0100000011EE"s + '\0' + eof, TRecordFinding{1, kNul}},
      {"Blank", ":0100000011EE\n :0100010022DC\n" + eof, TRecordFinding{2, kBlank}},
      {"Tab", "\t:0100000011EE\n" + eof, TRecordFinding{1, kTab}},
      {"ByteOrderMark", "\xEF\xBB\xBF:0100000011EE\n" + eof, TRecordFinding{1, kBom}},
      {"FirstOfSeveral", " :0100000011EE\n\t:0100010022DC\n", TRecordFinding{1, kBlank}},
      {"DataChecksum", ":0100000011EE\n:0100010022DD\n:0100020033CA\n" + eof,
       BadSum(2, 0xDD, 0xDC)},
      {"EndRecordChecksum", ":0100000011EE\n:00000001FE\n", BadSum(2, 0xFE, 0xFF)},
      {"ChecksumBeforeCut", ":0100000011EF\n", BadSum(1, 0xEF, 0xEE)},
      {"CutBeforeChecksum", " :0100000011EE\n:0100010022DD\n" + eof, TRecordFinding{1, kBlank}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string hexPath = PutHex(c.hex);
    const TConvertedImage tolerated = ConvertHex(hexPath, THexOptions{});
    EXPECT_EQ(tolerated.path, "app.BIN");
    ASSERT_EQ(tolerated.finding.has_value(), c.finding.has_value());
    if (!c.finding) {
      EXPECT_NO_THROW(ConvertHex(hexPath, THexOptions{true, {}}));
      continue;
    }
    EXPECT_EQ(tolerated.finding->line, c.finding->line);
    EXPECT_EQ(tolerated.finding->kind, c.finding->kind);
    EXPECT_EQ(tolerated.finding->checksum, c.finding->checksum);
    EXPECT_EQ(tolerated.finding->wanted, c.finding->wanted);
    try {
      ConvertHex(hexPath, THexOptions{true, {}});
      ADD_FAILURE() << "no error";
    } catch (const ERecordCheckError& e) {
      EXPECT_EQ(e.Line(), c.finding->line);
      EXPECT_EQ(e.Detail(), FindingDetail(*c.finding));
    }
  }
}

// Without the checks a checksum that is no number, or one not where the byte count puts it,
// is no finding: the file converts as before.
TEST_F(RecordChecksTest, UncheckedJudgesOnlyChecksumsItCanRead) {
  for (const char* hex : {":0100000011EX\n:00000001FF\n", ":0100000011EEjunk\n:00000001FF\n"}) {
    SCOPED_TRACE(hex);
    EXPECT_FALSE(ConvertHex(PutHex(hex), THexOptions{}).finding.has_value());
  }
}

// The CRC-32 is the image file's, also when a record written back below the end makes the
// converter read the image again.
TEST_F(RecordChecksTest, ResultCarriesSizeAndCrcOfTheImage) {
  for (const std::string hex :
       {":0100000011EE\n:0100040022D9\n", ":02000000112299\n:0100000033CC\n",
        ":020000040001F9\n:0100000055AA\n"}) {
    SCOPED_TRACE(hex);
    const TConvertedImage image = ConvertHex(PutHex(hex), THexOptions{});
    const std::string bytes = ReadFile("app.BIN");
    EXPECT_EQ(image.size, bytes.size());
    EXPECT_EQ(image.crc32, platform::Crc32(0, bytes.data(), bytes.size()));
  }
}

// What a conversion killed outright left is removed by the next one in the folder; a
// temporary file still being written, and names of other forms, stay.
TEST_F(RecordChecksTest, LeftTemporariesAreRemovedHeldOnesStay) {
  WriteFile(dir_ / "~oh2b0badf00d.tmp", "left");
  WriteFile(dir_ / "~oh2bnotmine.tmp", "other");
  platform::TFile held;
  ASSERT_EQ(held.CreateNew("~oh2b12345678.tmp"), 0u);
  ASSERT_EQ(HexToBin(PutHex(":0100000011EE\n")), "app.BIN");
  EXPECT_EQ(Entries(),
            (std::set<std::string>{"in", "app.BIN", "~oh2b12345678.tmp", "~oh2bnotmine.tmp"}));
}

class RecordChecks : public TempDirTest {};

TEST_F(RecordChecks, SoundFileConvertsAsUncheckedAndFaultNamesFileAndLine) {
  std::vector<std::uint8_t> image(70 * 1024);
  std::mt19937 random(5);
  for (auto& byte : image) byte = static_cast<std::uint8_t>(random());
  ASSERT_EQ(
      HexToBin(PutHex(testsupport::IntelHex(image) + ":01000a00ab4a\n"), THexOptions{true, {}}),
      "app.BIN");
  image[0x1000A] = 0xAB;  // the last base record still holds
  EXPECT_EQ(ReadFile("app.BIN"), std::string(image.begin(), image.end()));

  const std::string hexPath = PutHex(":0100000011EF\n");
  try {
    HexToBin(hexPath, THexOptions{true, {}});
    FAIL() << "no error";
  } catch (const ERecordCheckError& e) {
    EXPECT_STREQ(e.what(),
                 ("Line 1 of \"" + hexPath + "\": checksum 0xEF, the record sums to 0xEE").c_str());
  }
}

class HexToBinNaming : public TempDirTest {};

TEST_F(HexToBinNaming, ImageNameFromHexName) {
  struct {
    const char* hexName;
    const char* imageName;
  } const cases[] = {
      {"app.hex", "app.BIN"},        {"app", "app.BIN"},   {"app.old.hex", "app.old.BIN"},
      {"APP.HEX", "APP.BIN"},        {"fw.Hex", "fw.BIN"}, {"fw.bin", "fw.BIN"},
      {"trailing.", "trailing.BIN"}, {".hex", ".BIN"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hexName);
    const std::string hexPath = PutHex(":0100000011EE\n", c.hexName);
    EXPECT_EQ(HexToBin(hexPath), c.imageName);
    EXPECT_EQ(ReadFile(c.imageName), "\x11");
  }
}

TEST_F(HexToBinNaming, RelativeHexPathStillWritesIntoCurrentDirectory) {
  PutHex(":0100000011EE\n", "rel.hex");
  EXPECT_EQ(HexToBin("in/rel.hex"), "rel.BIN");
  EXPECT_TRUE(fs::exists(dir_ / "rel.BIN"));
  EXPECT_FALSE(fs::exists(dir_ / "in" / "rel.BIN"));
}

// The image, its backup and what killed conversions left are in the folder given, not in
// the current directory; the path returned and the errors name that folder.
TEST_F(HexToBinNaming, WritesIntoTheFolderGiven) {
  const fs::path out = dir_ / "out";
  fs::create_directory(out);
  WriteFile(out / "app.BIN", "old image");
  WriteFile(out / "~oh2b0badf00d.tmp", "left");
  const std::string image = oh2b::HexToBin(PutHex(":0100000011EE\n"), out.string());
  EXPECT_EQ(image, (out / "app.BIN").string());
  EXPECT_EQ(ReadFile(image), "\x11");
  EXPECT_EQ(ReadFile(out / "app.BAK"), "old image");
  EXPECT_FALSE(fs::exists(out / "~oh2b0badf00d.tmp"));
  EXPECT_EQ(Entries(), (std::set<std::string>{"in", "out"}));
  const std::string missing = (dir_ / "missing").string();
  try {
    oh2b::HexToBin(PutHex(":0100000011EE\n"), missing);
    ADD_FAILURE() << "no error";
  } catch (const EFCreateError& e) {
    EXPECT_TRUE(std::string(e.what()).starts_with("Cannot create file \"" +
                                                  (dir_ / "missing" / "app.BIN").string() + "\""))
        << e.what();
  }
}

TEST_F(HexToBinNaming, MissingHexPathDoesNothing) {
  WriteFile("app.BIN", "old");
  EXPECT_EQ(HexToBin((dir_ / "in" / "app.hex").string()), "");
  EXPECT_EQ(HexToBin(""), "");
  EXPECT_EQ(ReadFile("app.BIN"), "old");
  EXPECT_FALSE(fs::exists("app.BAK"));
  EXPECT_FALSE(fs::exists("in.BIN"));
}

TEST_F(HexToBinNaming, EarlierImageBecomesBackup) {
  WriteFile("app.BIN", "old image");
  EXPECT_EQ(HexToBin(PutHex("")), "app.BIN");
  EXPECT_EQ(ReadFile("app.BIN"), "");
  EXPECT_EQ(ReadFile("app.BAK"), "old image");
}

TEST_F(HexToBinNaming, ExistingBackupIsNeverReplaced) {
  WriteFile("app.BIN", "old image");
  WriteFile("app.BAK", "older backup");
  EXPECT_EQ(HexToBin(PutHex(":0100000011EE\n")), "app.BIN");
  EXPECT_EQ(ReadFile("app.BIN"), "\x11");
  EXPECT_EQ(ReadFile("app.BAK"), "older backup");
}

TEST_F(HexToBinNaming, BackupNamedFromImageName) {
  WriteFile("app.old.BIN", "old image");
  EXPECT_EQ(HexToBin(PutHex(":0100000011EE\n", "app.old.hex")), "app.old.BIN");
  EXPECT_EQ(ReadFile("app.old.BAK"), "old image");
}

TEST_F(HexToBinNaming, HexFileBearingImageNameIsReadFirst) {
  const std::string hex = ":0100000011EE\n";
  WriteFile("app.BIN", hex);
  EXPECT_EQ(HexToBin((dir_ / "app.BIN").string()), "app.BIN");
  EXPECT_EQ(ReadFile("app.BIN"), "\x11");
  EXPECT_EQ(ReadFile("app.BAK"), hex);
}

TEST_F(HexToBinNaming, EachCallStartsFresh) {
  const std::string hexPath = PutHex(":020000040001F9\n:0100000055AA\n");
  EXPECT_EQ(HexToBin(hexPath), "app.BIN");
  PutHex(":0100000011EE\n");
  EXPECT_EQ(HexToBin(hexPath), "app.BIN");
  EXPECT_EQ(ReadFile("app.BIN"), "\x11");
  EXPECT_EQ(ReadFile("app.BAK").size(), 65537u);
}

struct CancelCase {
  const char* name;
  std::string hex;
  unsigned minPolls;  // at least one per MiB of HEX text and per 2 MiB of image
};

class Cancelled : public TempDirTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(Cancelled, AtAnyPollLeavesNothingBehind) {
  const CancelCase& c = GetParam();
  const std::string hexPath = PutHex(c.hex);
  unsigned polls = 0;
  ASSERT_EQ(HexToBin(hexPath,
                     [&] {
                       ++polls;
                       return false;
                     }),
            "app.BIN");
  EXPECT_GE(polls, c.minPolls);

  WriteFile("app.BIN", "earlier image");
  for (const unsigned at : {1u, polls / 2 + 1, polls}) {
    SCOPED_TRACE(at);
    unsigned n = 0;
    try {
      HexToBin(hexPath, [&] { return ++n == at; });
      ADD_FAILURE() << "not cancelled";
    } catch (const EConvertCancelled& e) {
      EXPECT_STREQ(e.what(), "Conversion cancelled");
    }
    EXPECT_EQ(n, at);
    EXPECT_EQ(ReadFile("app.BIN"), "earlier image");
    EXPECT_EQ(Entries(), (std::set<std::string>{"app.BIN", "in"}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, Cancelled,
    ::testing::Values(CancelCase{"EmptyHexFile", "", 1},
                      CancelCase{"LongText",
                                 testsupport::IntelHex(std::vector<std::uint8_t>(1u << 20)), 2},
                      CancelCase{"GapOf128MiB", ":020000040800F2\n:0100000055AA\n", 64}),
    [](const auto& info) { return std::string(info.param.name); });

class HexToBinLarge : public TempDirTest {};

// Records at random addresses, in and out of order, across the write buffer's
// boundaries, checked against an image placed byte by byte in memory.
TEST_F(HexToBinLarge, RandomRecordsMatchPlacedImage) {
  std::mt19937 random(12345);
  std::string hex;
  std::vector<std::uint8_t> expected;
  std::uint32_t base = 0;
  std::uint32_t next = 0;
  for (int i = 0; i < 12000; ++i) {
    const int kind = static_cast<int>(random() % 100);
    std::uint32_t address;
    if (kind < 80) {
      address = next;  // ascending, the usual case
    } else if (kind < 90) {
      address = next + random() % 5000;  // a gap
    } else {
      address = static_cast<std::uint32_t>(random() % (expected.size() + 1));  // back
    }
    const std::uint32_t newBase = address & 0xFFFF0000u;
    if (newBase != base || random() % 50 == 0) {
      base = newBase;
      hex += HexRecord(
                 0, 4,
                 {static_cast<std::uint8_t>(base >> 24), static_cast<std::uint8_t>(base >> 16)}) +
             "\r\n";
    }
    // Keep each record inside its 64 KiB segment.
    const std::uint32_t room = 0x10000u - (address & 0xFFFFu);
    const std::uint32_t count = std::min<std::uint32_t>(random() % 256, room);
    std::vector<std::uint8_t> data(count);
    for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
    hex += HexRecord(address & 0xFFFFu, 0, data) + "\n";
    if (expected.size() < address + count) expected.resize(address + count, 0xFF);
    std::copy(data.begin(), data.end(), expected.begin() + address);
    next = std::max(next, address + count);
  }
  ASSERT_GT(expected.size(), 2u << 20);
  ASSERT_EQ(HexToBin(PutHex(hex)), "app.BIN");
  const std::string image = ReadFile("app.BIN");
  ASSERT_EQ(image.size(), expected.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), expected.begin(),
                         [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
}

TEST_F(HexToBinLarge, BackWriteAfterBufferWasFlushed) {
  const std::string hex = ":020000040020DA\n:0100000011EE\n:020000040000FA\n:0100100022CD\n";
  ASSERT_EQ(HexToBin(PutHex(hex)), "app.BIN");
  const std::string image = ReadFile("app.BIN");
  ASSERT_EQ(image.size(), 0x200001u);
  EXPECT_EQ(image.substr(0, 0x12), Fill(0x10) + "\x22\xFF");
  EXPECT_EQ(image.back(), '\x11');
  EXPECT_EQ(image.find_first_not_of('\xFF', 0x11), image.size() - 1);
}

TEST_F(HexToBinLarge, SparseImageOf128MiB) {
  ASSERT_EQ(HexToBin(PutHex(":020000040800F2\n:0100000055AA\n")), "app.BIN");
  const std::uintmax_t size = fs::file_size("app.BIN");
  ASSERT_EQ(size, 134217729u);
  std::ifstream in("app.BIN", std::ios::binary);
  for (const std::uint64_t at : {0ull, 1ull << 20, (1ull << 20) - 1, 77777777ull, 134217727ull}) {
    in.seekg(static_cast<std::streamoff>(at));
    EXPECT_EQ(in.get(), 0xFF) << "at " << at;
  }
  in.seekg(134217728);
  EXPECT_EQ(in.get(), 0x55);
  in.close();
  fs::remove("app.BIN");
}

}  // namespace
}  // namespace oh2b::test
