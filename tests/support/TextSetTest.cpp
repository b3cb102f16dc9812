// The flat text set behind the phone book's memory of missing numbers.
#include <gtest/gtest.h>

#include <string>

#include "support/TextSet.h"

namespace ordalis {
namespace {

TEST(TextSet, FindsExactlyWhatWasInsertedAcrossGrowthAndClear) {
  TextSet set;
  EXPECT_FALSE(set.Contains(""));
  EXPECT_FALSE(set.Contains("0212345678"));
  const std::string long_text(40, '7');  // kept aside from the slots
  set.Insert("");
  set.Insert("12");
  set.Insert(long_text);
  for (int i = 0; i < 5000; ++i) set.Insert("39" + std::to_string(i));  // grows many times
  set.Insert("12");  // once only
  EXPECT_EQ(set.Size(), 5003u);
  EXPECT_TRUE(set.Contains(""));
  EXPECT_TRUE(set.Contains("12"));
  EXPECT_FALSE(set.Contains("1"));
  EXPECT_FALSE(set.Contains("123"));
  EXPECT_TRUE(set.Contains(long_text));
  EXPECT_FALSE(set.Contains(long_text + "7"));
  EXPECT_TRUE(set.Contains("394999"));
  EXPECT_TRUE(set.Contains("390"));
  EXPECT_FALSE(set.Contains("395000"));
  set.Clear();
  EXPECT_EQ(set.Size(), 0u);
  EXPECT_FALSE(set.Contains("12"));
  EXPECT_FALSE(set.Contains(long_text));
  set.Insert(std::string(22, 'x'));  // the longest text a slot holds
  EXPECT_TRUE(set.Contains(std::string(22, 'x')));
  EXPECT_FALSE(set.Contains(std::string(21, 'x')));
}

}  // namespace
}  // namespace ordalis
