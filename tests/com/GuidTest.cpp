#include <gtest/gtest.h>

#include <unordered_set>

#include "platform/com/Guid.h"

namespace {

constexpr GUID kSample = {0x3AAED2B6, 0x8834, 0x4F17, {0x8B, 0x62, 0xAC, 0xAB, 0x5B, 0xD3, 0x98, 0xFF}};

TEST(Guid, FormatsAndParsesTheBracedForm) {
  EXPECT_EQ(reel::GuidToString(kSample), "{3AAED2B6-8834-4F17-8B62-ACAB5BD398FF}");
  auto lower = reel::GuidFromString("{3aaed2b6-8834-4f17-8b62-acab5bd398ff}");
  ASSERT_TRUE(lower.has_value());
  EXPECT_EQ(*lower, kSample);
}

TEST(Guid, RejectsMalformedText) {
  for (const char* text : {"", "3AAED2B6-8834-4F17-8B62-ACAB5BD398FF", "{3AAED2B6-8834-4F17-8B62-ACAB5BD398F}",
                           "{3AAED2B6-8834-4F17-8B62ACAB5BD398FF0}", "{3AAED2B6+8834-4F17-8B62-ACAB5BD398FF}",
                           "{3AAED2B6-8834-4F17-8B62-ACAB5BD398FG}", "(3AAED2B6-8834-4F17-8B62-ACAB5BD398FF)"}) {
    EXPECT_FALSE(reel::GuidFromString(text).has_value()) << text;
  }
}

TEST(Guid, ComparesAndHashesByValue) {
  GUID other = kSample;
  EXPECT_EQ(other, kSample);
  other.Data4[7] ^= 1;
  EXPECT_FALSE(other == kSample);
  EXPECT_TRUE(other < kSample || kSample < other);
  std::unordered_set<GUID> set{kSample, other, kSample};
  EXPECT_EQ(set.size(), 2u);
}

}  // namespace
