#include "controls/progress_model.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace controls {
namespace {

struct PartsCase {
  std::uint32_t total;
  std::vector<std::uint32_t> parts;  // set one after another
  std::uint32_t expectedParts;
  std::uint16_t expectedPercent;
};

void PrintTo(const PartsCase& c, std::ostream* os) {
  *os << "total " << c.total << ", last parts " << (c.parts.empty() ? 0 : c.parts.back());
}

class PartsTest : public ::testing::TestWithParam<PartsCase> {};

TEST_P(PartsTest, PercentFollowsPartsComplete) {
  const PartsCase& c = GetParam();
  TProgressModel model;
  model.SetTotalParts(c.total);
  for (std::uint32_t parts : c.parts) model.SetPartsComplete(parts);
  EXPECT_EQ(model.PartsComplete(), c.expectedParts);
  EXPECT_EQ(model.Percent(), c.expectedPercent);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PartsTest,
    ::testing::Values(PartsCase{10, {1}, 1, 10},
                      // More than the total is clamped.
                      PartsCase{10, {1, 12}, 10, 100},
                      // Ties go to the even neighbour: 12.5, 37.5, 62.5, 87.5.
                      PartsCase{8, {1}, 1, 12}, PartsCase{8, {3}, 3, 38}, PartsCase{8, {5}, 5, 62},
                      PartsCase{8, {7}, 7, 88}, PartsCase{8, {2}, 2, 25}, PartsCase{8, {8}, 8, 100},
                      // The last, partial block of an image counts one past the total.
                      PartsCase{8, {7, 8, 9}, 8, 100},
                      // An image smaller than one block: nothing to show.
                      PartsCase{0, {1}, 0, 0}, PartsCase{0, {5, 7}, 0, 0},
                      // Back to 0 after an error stop.
                      PartsCase{10, {5, 0}, 0, 0}, PartsCase{1000, {5}, 5, 0},
                      PartsCase{1000, {15}, 15, 2}, PartsCase{1000, {25}, 25, 2},
                      // Extremes of the part count.
                      PartsCase{2147483647u, {2147483646u}, 2147483646u, 100},
                      PartsCase{2147483647u, {1073741824u}, 1073741824u, 50},
                      PartsCase{2147483647u, {21474836u}, 21474836u, 1}));

struct Recorder {
  std::vector<std::string> calls;
  void Attach(TProgressModel& model) {
    model.SetOnChange(
        [this](int percent) { calls.push_back("change " + std::to_string(percent)); });
    model.SetRepaint([this] { calls.push_back("repaint"); });
  }
};

TEST(ProgressModel, DefaultsAreZero) {
  TProgressModel model;
  EXPECT_EQ(model.TotalParts(), 0u);
  EXPECT_EQ(model.PartsComplete(), 0u);
  EXPECT_EQ(model.Percent(), 0u);
  EXPECT_FALSE(model.Loading());
}

TEST(ProgressModel, ChangedPercentNotifiesThenRepaints) {
  TProgressModel model;
  Recorder rec;
  rec.Attach(model);
  model.SetTotalParts(4);
  model.SetPartsComplete(1);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"change 25", "repaint"}));
}

TEST(ProgressModel, SamePercentDoesNotNotify) {
  TProgressModel model;
  model.SetTotalParts(1000);
  Recorder rec;
  rec.Attach(model);
  model.SetPartsComplete(1);  // 0.1 -> 0
  model.SetPartsComplete(5);  // 0.5 -> 0
  EXPECT_TRUE(rec.calls.empty());
  model.SetPartsComplete(6);   // 0.6 -> 1
  model.SetPartsComplete(10);  // 1
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"change 1", "repaint"}));
}

TEST(ProgressModel, RepeatedOverCountDoesNotNotifyAgain) {
  TProgressModel model;
  model.SetTotalParts(10);
  Recorder rec;
  rec.Attach(model);
  model.SetPartsComplete(12);
  model.SetPartsComplete(12);
  model.SetPartsComplete(10);
  EXPECT_EQ(model.PartsComplete(), 10u);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"change 100", "repaint"}));
}

TEST(ProgressModel, NewTotalResetsProgress) {
  TProgressModel model;
  model.SetTotalParts(10);
  model.SetPartsComplete(5);
  Recorder rec;
  rec.Attach(model);
  model.SetTotalParts(20);
  EXPECT_EQ(model.TotalParts(), 20u);
  EXPECT_EQ(model.PartsComplete(), 0u);
  EXPECT_EQ(model.Percent(), 0u);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"change 0", "repaint"}));
}

TEST(ProgressModel, SameTotalAgainKeepsProgress) {
  TProgressModel model;
  model.SetTotalParts(10);
  model.SetPartsComplete(5);
  Recorder rec;
  rec.Attach(model);
  model.SetTotalParts(10);
  EXPECT_EQ(model.PartsComplete(), 5u);
  EXPECT_EQ(model.Percent(), 50u);
  EXPECT_TRUE(rec.calls.empty());
}

TEST(ProgressModel, ZeroTotalKeepsPercent) {
  TProgressModel model;
  model.SetPercent(30);
  model.SetPartsComplete(4);
  EXPECT_EQ(model.PartsComplete(), 0u);
  EXPECT_EQ(model.Percent(), 30u);
}

TEST(ProgressModel, TotalAboveRangeIsCapped) {
  TProgressModel model;
  model.SetTotalParts(0xFFFFFFFFu);
  EXPECT_EQ(model.TotalParts(), kMaxParts);
  model.SetPartsComplete(0xFFFFFFFFu);
  EXPECT_EQ(model.PartsComplete(), kMaxParts);
  EXPECT_EQ(model.Percent(), 100u);
}

TEST(ProgressModel, LoadingOnlyStores) {
  TProgressModel model;
  model.SetTotalParts(10);
  model.SetPartsComplete(5);
  Recorder rec;
  rec.Attach(model);
  model.SetLoading(true);
  model.SetTotalParts(20);
  EXPECT_EQ(model.PartsComplete(), 5u);
  model.SetPartsComplete(20);
  EXPECT_EQ(model.PartsComplete(), 20u);
  model.SetPartsComplete(30);
  EXPECT_EQ(model.PartsComplete(), 20u);  // still clamped
  EXPECT_EQ(model.Percent(), 50u);
  EXPECT_TRUE(rec.calls.empty());
  model.SetLoading(false);
  model.SetPartsComplete(10);
  EXPECT_EQ(model.Percent(), 50u);
  EXPECT_EQ(rec.calls.size(), 0u);
  model.SetPartsComplete(15);
  EXPECT_EQ(model.Percent(), 75u);
}

TEST(ProgressModel, PercentSetterActsOnlyOnChange) {
  TProgressModel model;
  Recorder rec;
  rec.Attach(model);
  model.SetPercent(0);
  EXPECT_TRUE(rec.calls.empty());
  model.SetPercent(42);
  model.SetPercent(42);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"change 42", "repaint"}));
}

struct RoundCase {
  long double value;
  long double expected;
};

void PrintTo(const RoundCase& c, std::ostream* os) {
  *os << static_cast<double>(c.value);
}

class RoundTest : public ::testing::TestWithParam<RoundCase> {};

TEST_P(RoundTest, TiesToEven) {
  EXPECT_EQ(RoundHalfEven(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, RoundTest,
                         ::testing::Values(RoundCase{0.5L, 0}, RoundCase{1.5L, 2},
                                           RoundCase{2.5L, 2}, RoundCase{12.5L, 12},
                                           RoundCase{37.5L, 38}, RoundCase{2.4999L, 2},
                                           RoundCase{2.5001L, 3}, RoundCase{7.0L, 7},
                                           RoundCase{-1.5L, -2}, RoundCase{-2.5L, -2},
                                           RoundCase{-0.4L, 0}));

struct FillCase {
  int percent;
  int extent;
  int expected;
};

void PrintTo(const FillCase& c, std::ostream* os) {
  *os << c.percent << "% of " << c.extent;
}

class FillTest : public ::testing::TestWithParam<FillCase> {};

TEST_P(FillTest, Extent) {
  const FillCase& c = GetParam();
  EXPECT_EQ(FillExtent(c.percent, c.extent), c.expected) << c.percent << "% of " << c.extent;
}

INSTANTIATE_TEST_SUITE_P(Cases, FillTest,
                         ::testing::Values(FillCase{0, 289, 0}, FillCase{50, 289, 144},  // 144.5
                                           FillCase{50, 3, 2},                           // 1.5
                                           FillCase{50, 5, 2},                           // 2.5
                                           FillCase{50, 7, 4},                           // 3.5
                                           FillCase{1, 50, 0},                           // 0.5
                                           FillCase{3, 50, 2},                           // 1.5
                                           FillCase{10, 289, 29},                        // 28.9
                                           FillCase{99, 289, 286},                       // 286.11
                                           FillCase{100, 289, 289}, FillCase{150, 10, 10},
                                           FillCase{65535, 7, 7}, FillCase{99, 0, 0},
                                           FillCase{99, 100000000, 99000000}),
                         [](const auto& info) {
                           return std::to_string(info.param.percent) + "_of_" +
                                  std::to_string(info.param.extent);
                         });

TEST(PercentText, Formats) {
  EXPECT_EQ(PercentText(0), "0%");
  EXPECT_EQ(PercentText(42), "42%");
  EXPECT_EQ(PercentText(100), "100%");
  EXPECT_EQ(PercentText(65535), "65535%");
}

}  // namespace
}  // namespace controls
