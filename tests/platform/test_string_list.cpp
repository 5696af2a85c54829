#include <gtest/gtest.h>

#include "platform/string_list.h"

TEST(StringList, CommaTextQuotesWhatNeedsIt) {
  StringList l;
  l.Add("plain");
  l.Add("two words");
  l.Add("say \"hi\"");
  l.Add("a,b");
  l.Add("");
  EXPECT_EQ(l.CommaText(), R"(plain,"two words","say ""hi""","a,b","")");
  StringList back;
  back.SetCommaText(l.CommaText());
  ASSERT_EQ(back.Count(), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(back[i], l[i]);

  StringList one;
  one.Add("");
  EXPECT_EQ(one.CommaText(), "\"\"");
}

TEST(StringList, CommaTextReadingRules) {
  StringList l;
  // Unquoted blanks split, runs of blanks collapse, a trailing comma adds an empty item.
  l.SetCommaText("  a b,  c ,\"d e\"x,");
  ASSERT_EQ(l.Count(), 6);
  EXPECT_EQ(l[0], "a");
  EXPECT_EQ(l[1], "b");
  EXPECT_EQ(l[2], "c");
  EXPECT_EQ(l[3], "d e");
  EXPECT_EQ(l[4], "x");
  EXPECT_EQ(l[5], "");
  l.SetCommaText("");
  EXPECT_EQ(l.Count(), 0);
  l.SetCommaText("\"unterminated");
  ASSERT_EQ(l.Count(), 1);
  EXPECT_EQ(l[0], "unterminated");
}

TEST(StringList, SortedFindsWithoutCaseAndHandlesDuplicates) {
  StringList l;
  l.SetSorted(true);
  l.SetDuplicates(StringList::Dups::Ignore);
  for (const char* s : {"msft", "IBM", "aapl", "Msft"}) l.Add(s);
  ASSERT_EQ(l.Count(), 3);
  EXPECT_EQ(l[0], "aapl");
  EXPECT_EQ(l.IndexOf("MSFT"), 2);
  EXPECT_EQ(l.IndexOf("ZZZ"), -1);
  l.SetDuplicates(StringList::Dups::Error);
  EXPECT_THROW(l.Add("ibm"), std::invalid_argument);
}

TEST(StringList, NameValuesAndText) {
  StringList l;
  l.SetText("KEY=one\r\nOther=two=2\nlast");
  EXPECT_EQ(l.Count(), 3);
  EXPECT_EQ(l.Values("key"), "one");
  EXPECT_EQ(l.Values("OTHER"), "two=2");
  EXPECT_EQ(l.Values("last"), "");
  l.SetValue("Key", "uno");
  EXPECT_EQ(l[0], "Key=uno");
  l.SetValue("key", "");
  EXPECT_EQ(l.Count(), 2);
  EXPECT_EQ(l.Text(), "Other=two=2\r\nlast\r\n");
}

TEST(StringList, PrefixesAndSuffixesIgnoreCase) {
  EXPECT_TRUE(StartsWithNoCase("HTTPS://a", "https://"));
  EXPECT_FALSE(StartsWithNoCase("http", "https://"));  // shorter than the prefix
  EXPECT_FALSE(StartsWithNoCase("xhttps://", "https://"));
  EXPECT_TRUE(EndsWithNoCase("stocks.LOG", ".log"));
  EXPECT_FALSE(EndsWithNoCase("log", ".log"));
  EXPECT_FALSE(EndsWithNoCase("a.log.tmp", ".log"));
}
