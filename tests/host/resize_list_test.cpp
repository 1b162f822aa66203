// Parsing the preset sizes: "WxH" pairs separated by ",".
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/resize_list.h"

namespace {

using qv::host::ParseResizeList;
using qv::host::ResizeList;

std::vector<std::pair<int32_t, int32_t>> Pairs(const ResizeList& list) {
    std::vector<std::pair<int32_t, int32_t>> pairs;
    for (int i = 0; i < list.count; ++i) pairs.emplace_back(list.widths[i], list.heights[i]);
    return pairs;
}

using PairList = std::vector<std::pair<int32_t, int32_t>>;

TEST(ResizeList, ReadsPairsUntilOneLacksItsHeight) {
    EXPECT_EQ(Pairs(ParseResizeList("1280x720,1920x1080")), (PairList{{1280, 720}, {1920, 1080}}));
    EXPECT_EQ(Pairs(ParseResizeList("640x480,800")), (PairList{{640, 480}}));
    EXPECT_EQ(Pairs(ParseResizeList("640x480,800x")), (PairList{{640, 480}})) << "a height of only delimiters";
    EXPECT_EQ(Pairs(ParseResizeList("1280x720")), (PairList{{1280, 720}}));
    EXPECT_EQ(Pairs(ParseResizeList("1280")), PairList{});
    EXPECT_EQ(Pairs(ParseResizeList("")), PairList{});
    EXPECT_EQ(Pairs(ParseResizeList(nullptr)), PairList{});
}

TEST(ResizeList, EachTokenSkipsOnlyARunOfItsOwnDelimiter) {
    EXPECT_EQ(Pairs(ParseResizeList("xx1280x720")), (PairList{{1280, 720}}));
    EXPECT_EQ(Pairs(ParseResizeList("1280x,,,720")), (PairList{{1280, 720}}));
    // The width token ends at 'x' only: a run of ',' before it is part of it, so no digits.
    EXPECT_EQ(Pairs(ParseResizeList("1280x720,,1920x1080")), (PairList{{1280, 720}, {0, 1080}}));
    // The height token ends at ',' only: the second 'x' is part of it.
    EXPECT_EQ(Pairs(ParseResizeList("1280xx720")), (PairList{{1280, 0}}));
    // A trailing run of ',' leaves a width with no height: the list ends there.
    EXPECT_EQ(Pairs(ParseResizeList("1280x720,1920x1080,,")), (PairList{{1280, 720}, {1920, 1080}}));
}

TEST(ResizeList, ValuesSkipLeadingBlanksAndStopAtTheFirstNonDigit) {
    EXPECT_EQ(Pairs(ParseResizeList(" 1280 x\t720 , 1920x1080")), (PairList{{1280, 720}, {1920, 1080}}));
    EXPECT_EQ(Pairs(ParseResizeList("1280abcx720def")), (PairList{{1280, 720}}));
    EXPECT_EQ(Pairs(ParseResizeList("widexhigh")), (PairList{{0, 0}})) << "no digits is 0";
    EXPECT_EQ(Pairs(ParseResizeList("-640x+480")), (PairList{{0, 0}})) << "a sign is no digit";
    EXPECT_EQ(Pairs(ParseResizeList("0640x0480")), (PairList{{640, 480}}));
}

TEST(ResizeList, ValuesBeyondInt32StayAtItsMaximum) {
    EXPECT_EQ(Pairs(ParseResizeList("2147483647x2147483648")), (PairList{{INT32_MAX, INT32_MAX}}));
    EXPECT_EQ(Pairs(ParseResizeList("99999999999999999999999x7")), (PairList{{INT32_MAX, 7}}));
    EXPECT_EQ(Pairs(ParseResizeList("2147483646x1")), (PairList{{2147483646, 1}}));
}

TEST(ResizeList, KeepsAtMostTwentyPairsAndZeroesTheRest) {
    std::string text;
    for (int i = 1; i <= 25; ++i) text += std::to_string(i) + "x" + std::to_string(100 + i) + ",";
    const ResizeList list = ParseResizeList(text.c_str());
    ASSERT_EQ(list.count, 20);
    EXPECT_EQ(list.widths[19], 20);
    EXPECT_EQ(list.heights[19], 120);

    const ResizeList one = ParseResizeList("640x480");
    for (int i = 1; i < qv::host::kMaxPresets; ++i) {
        EXPECT_EQ(one.widths[i], 0);
        EXPECT_EQ(one.heights[i], 0);
    }
}

}  // namespace
