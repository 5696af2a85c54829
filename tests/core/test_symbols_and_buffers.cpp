#include <gtest/gtest.h>

#include "core/circ_buf.h"
#include "core/indices.h"
#include "core/locks.h"
#include "core/symbols.h"

TEST(Symbols, ValidSymbolRules) {
  for (const char* ok : {"IBM", "brk.b", "A B", "X+Y", "/ES", "/ESZ4", "/ES+3", "/"})
    EXPECT_TRUE(IsValidSymbol(ok)) << ok;
  for (const char* bad : {"", "TOTAL", "total", "$DJI", "^IXIC", "@ES", "IBM1", "/1ES", "/E5S", "A/B", "AB|C", "A-B"})
    EXPECT_FALSE(IsValidSymbol(bad)) << bad;
}

TEST(Symbols, DashesOnlyAndIndexSymbols) {
  EXPECT_TRUE(IsDashesOnly("-"));
  EXPECT_TRUE(IsDashesOnly("-------"));
  EXPECT_FALSE(IsDashesOnly(""));
  EXPECT_FALSE(IsDashesOnly("--x-"));
  EXPECT_FALSE(IsDashesOnly(" --"));

  EXPECT_TRUE(IsIndexSymbol("$DJI"));
  EXPECT_TRUE(IsIndexSymbol("@ES"));
  EXPECT_TRUE(IsIndexSymbol("^IXIC"));
  EXPECT_FALSE(IsIndexSymbol(""));
  EXPECT_FALSE(IsIndexSymbol("D$JI"));
}

TEST(Symbols, UniqueListsIgnoreCase) {
  std::vector<std::string> list;
  EXPECT_TRUE(AddUniqueSymbol(list, "IBM"));
  EXPECT_FALSE(AddUniqueSymbol(list, "ibm"));
  EXPECT_TRUE(AddUniqueSymbol(list, "MSFT"));
  EXPECT_EQ(list, (std::vector<std::string>{"IBM", "MSFT"}));
}

TEST(Indices, NameFromListElseSymbol) {
  {
    LockHold hold(IdxListLock, "TEST");
    ASSERT_TRUE(hold);
    IndexList = {{"$DJI", "Dow Jones", 1, 2}};
  }
  EXPECT_EQ(GetIndexName("$dji"), "Dow Jones");
  EXPECT_EQ(GetIndexName("$SPX"), "$SPX");
  LockHold hold(IdxListLock, "TEST");
  IndexList.clear();
}

TEST(CircBuf, AverageBeforeAndAfterWrap) {
  CircBufType b(3);
  EXPECT_EQ(b.Average(), 0.0);
  b.Add(3);
  b.Add(6);
  EXPECT_FALSE(b.Wrapped());
  EXPECT_EQ(b.Index(), 2);
  EXPECT_DOUBLE_EQ(b.Average(), 4.5);  // by the number added
  b.Add(9);
  EXPECT_TRUE(b.Wrapped());
  EXPECT_EQ(b.Index(), 0);
  EXPECT_DOUBLE_EQ(b.Average(), 6.0);
  b.Add(12);  // overwrites the 3
  EXPECT_DOUBLE_EQ(b.Sum(), 27.0);
  EXPECT_DOUBLE_EQ(b.Average(), 9.0);
  EXPECT_DOUBLE_EQ(b.LastValue(), 12.0);
  EXPECT_EQ(b.Index(), 1);
}

TEST(CircBuf, MaxMinOfHeldValuesOnly) {
  CircBufType b(4);
  double mx = -1, mn = -1;
  b.MaxMin(mx, mn);
  EXPECT_DOUBLE_EQ(mn, 0);
  EXPECT_DOUBLE_EQ(mx, 0.001);
  b.Add(5);
  b.Add(7);
  b.MaxMin(mx, mn);  // the two empty slots do not count as zeros
  EXPECT_DOUBLE_EQ(mx, 7);
  EXPECT_DOUBLE_EQ(mn, 5);
  CircBufType flat(2);
  flat.Add(2);
  flat.Add(2);
  flat.Add(2);
  flat.MaxMin(mx, mn);
  EXPECT_DOUBLE_EQ(mn, 2);
  EXPECT_DOUBLE_EQ(mx, 2.001);
  for (double v : {-1.0, 8.0, 3.0, 4.0, 1.0}) b.Add(v);  // wraps; -1 and 5 and 7 are gone
  b.MaxMin(mx, mn);
  EXPECT_DOUBLE_EQ(mx, 8);
  EXPECT_DOUBLE_EQ(mn, 1);
}

TEST(CircBuf, ZeroSizeIsUsable) {
  CircBufType b(0);
  b.Add(4);
  b.Add(6);
  EXPECT_EQ(b.Size(), 1);
  EXPECT_DOUBLE_EQ(b.Average(), 6);
}
