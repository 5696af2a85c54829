#include <gtest/gtest.h>

#include "streaming/client/stream_symbols.h"

TEST(StreamSymbols, CleansAndSpreads) {
  EXPECT_EQ(CleanStreamSymbols("A+B+B+C D+E"), (std::vector<std::string>{"A", "B", "E"}));
  EXPECT_EQ(CleanStreamSymbols("++X++"), (std::vector<std::string>{"X"}));

  std::vector<std::string> seven = {"A", "B", "C", "D", "E", "F", "G"};
  const int per = SymbolsPerThread(10, 2, seven.size());
  EXPECT_EQ(per, 5);
  EXPECT_EQ(SpreadStreamSymbols(seven, per), (std::vector<std::string>{"A+B+C+D+E", "F+G"}));

  // No division by zero, and never more than 12 threads.
  EXPECT_EQ(SymbolsPerThread(1, 4, 3), 1);
  EXPECT_EQ(SymbolsPerThread(10, 0, 3), 10);
  std::vector<std::string> many(100, "S");
  for (size_t i = 0; i < many.size(); ++i) many[i] += std::to_string(i);
  EXPECT_LE(SpreadStreamSymbols(many, SymbolsPerThread(100, 50, many.size())).size(), 12u);
}

TEST(StreamSymbols, ChannelList) {
  std::string list = "skip";
  for (int i = 0; i < 10; ++i) list += "|C" + std::to_string(i) + "|KIND" + std::to_string(i) + "|" + std::to_string(i);
  ChannelTable t = ParseChannelList(list);
  EXPECT_EQ(t.CodeLength, 2);
  ASSERT_EQ(t.Channels.size(), 8u);
  EXPECT_EQ(t.Channels[7].Code, "C7");
  EXPECT_EQ(t.Channels[7].Number, 7);
  EXPECT_EQ(t.KindOf("C3"), "KIND3");
  EXPECT_EQ(t.KindOf("C9"), "");

  EXPECT_EQ(ParseChannelList("x|LONGCODE|STOCKINFO|1").CodeLength, 0);
  EXPECT_EQ(ParseChannelList("x||STOCKINFO|1").CodeLength, 0);
  EXPECT_EQ(ParseChannelList("").CodeLength, 0);
  EXPECT_EQ(ParseChannelList("x|Q|STOCKINFO|1|H|HEARTBEAT|2").KindOf("H"), "HEARTBEAT");
}
