#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "core/program_state.h"
#include "core/settings.h"
#include "core/text_helpers.h"

namespace {

// Sets ShowFractions for a scope.
class FractionsOn {
public:
  explicit FractionsOn(bool on) : saved_(ShowFractions) { ShowFractions = on; }
  ~FractionsOn() { ShowFractions = saved_; }

private:
  bool saved_;
};

}  // namespace

TEST(FormatPrice, DecimalsFollowMagnitudeAndTrailingZerosGo) {
  const std::pair<double, const char*> cases[] = {
      {1.23456, "1.2346"},    {9.99996, "10"},        {12.34567, "12.346"},   {999.9994, "999.999"},
      {1234.567, "1234.57"},  {9999.994, "9999.99"},  {10000.04, "10000"},    {12345.67, "12345.7"},
      {2.5, "2.5"},           {100, "100"},           {0, "0"},
      // Changes are negative: the magnitude picks the decimals; a rounded zero has no sign.
      {-12.34567, "-12.346"}, {-0.00001, "0"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(FormatPrice(value), text) << value;
}

TEST(FormatPrice, HoldingsAreWorthThePriceAsQuotedToTheCent) {
  EXPECT_DOUBLE_EQ(HoldingValue(1000, 1.23456), 1234.56);  // the quoted price, not the 1.2346 shown
  EXPECT_DOUBLE_EQ(HoldingValue(3, 513.66f), 1540.98);     // the float's 513.6599731 is 513.66
  EXPECT_DOUBLE_EQ(HoldingValue(7, 0.333333), 2.33);
  EXPECT_DOUBLE_EQ(HoldingValue(-200, -0.12345), 24.69);
  // Half a cent goes away from zero, whatever the binary product says.
  EXPECT_DOUBLE_EQ(HoldingValue(0.5, 0.01f), 0.01);
  EXPECT_DOUBLE_EQ(HoldingValue(-0.5, 0.01f), -0.01);
  EXPECT_DOUBLE_EQ(RoundMoney(2.675), 2.68);  // binary 2.67499999...
  EXPECT_DOUBLE_EQ(HoldingCost(10, 2.675, 0.005), 26.76);
  // What cannot be exact still gives a figure.
  EXPECT_DOUBLE_EQ(HoldingValue(1e30, 2), 2e30);
  EXPECT_EQ(HoldingValue(5, std::nan("")), 0);
  EXPECT_DOUBLE_EQ(HoldingCost(2, 3, 1e20), 1e20 + 6);  // too large for exact sums: still a figure
  EXPECT_EQ(PriceDifference(1234.56f, 1230.21f), 4.35);
  EXPECT_EQ(PriceDifference(20.018f, 20), 0.018);
}

TEST(FormatPriceFraction, SixtyFourthsOnlyWhenOnAndClose) {
  FractionsOn on(true);
  const std::pair<double, const char*> cases[] = {
      {3.25, "3 1/4"}, {-3.25, "-3 1/4"}, {25.015625, "25 1/64"}, {0.375, "3/8"}, {7, "7"},
      {3.2510, "3 1/4"},  // within 1/512
      {3.2530, "3.253"},  // too far from any 64th
      {0.01, "0.01"}};    // below 1/64
  for (const auto& [value, text] : cases) EXPECT_EQ(FormatPriceFraction(value), text) << value;
  ShowFractions = false;
  EXPECT_EQ(FormatPriceFraction(3.25), "3.25");
}

TEST(ParsePrice, DecimalsFractionsAndNoise) {
  // Characters that cannot belong to a number read as blanks.
  const std::pair<const char*, double> cases[] = {
      {"12.5", 12.5}, {"  25   1/2 ", 25.5}, {"1/4", 0.25}, {"-3 1/4", -3.25}, {"-1/2", -0.5}, {"+7", 7},
      {".5", 0.5},    {"$1.25", 1.25},       {"25abc1/2", 25.5}, {"", 0}, {"abc", 0}, {"12!", 0}};
  for (const auto& [text, value] : cases) EXPECT_DOUBLE_EQ(ParsePrice(text), value) << text;
}

TEST(ParsePrice, WhatStillIsNoNumberThrows) {
  for (const char* text : {"1.2.3", "1/0", "1 2", "1 2 3/4", "-", "3 -1/4", "1/2/3", "/", "--5", "1 .5"})
    EXPECT_THROW(ParsePrice(text), EConvertError) << text;
}

TEST(ParsePrice, ReadsBackWhatFormatPriceFractionWrites) {
  FractionsOn on(true);
  for (int n = -300; n <= 300; ++n) {
    const double v = n / 64.0;
    EXPECT_DOUBLE_EQ(ParsePrice(FormatPriceFraction(v)), v) << FormatPriceFraction(v);
  }
}

TEST(SplitDelimited, FieldsRunsQuotesAndEndMark) {
  const std::string mark(1, SplitEndMark);
  const struct {
    std::string text, delimiters, fields;  // fields joined by "|"
  } cases[] = {{"GETLASTQUOTE(ABC,XYZ)", "(),", "GETLASTQUOTE|ABC|XYZ"},
               {"GETLASTQUOTE,ABC,XYZ", "(),", "GETLASTQUOTE|ABC|XYZ"},
               {",,a,,,b,,", ",", "a|b"},
               {",,,", ",", ""},
               {"'a,b',c", ",", "a,b|c"},
               {"'it''s',x'y z'w", ",", "it's|xy zw"},
               {"a,'',b", ",", "a||b"},  // an explicitly quoted empty text is a field
               {"a,'b,c", ",", "a|b,c"},  // an unclosed quote runs to the end
               {"A" + mark + "B", ",", "A|B"}};
  StringList list;
  for (const auto& c : cases) {
    list.Add("stale");
    const int n = SplitDelimited(c.text, list, c.delimiters);
    std::string joined;
    for (int i = 0; i < list.Count(); ++i) joined += (i ? "|" : "") + list[i];
    EXPECT_EQ(joined, c.fields) << c.text;
    EXPECT_EQ(n, list.Count()) << c.text;
    EXPECT_EQ(joined.find(SplitEndMark), std::string::npos) << c.text;
  }
}

TEST(UrlEncodeParam, KeepsSafeSetEncodesTheRest) {
  EXPECT_EQ(UrlEncodeParam("AZaz09@:',-.^_$"), "AZaz09@:',-.^_$");
  EXPECT_EQ(UrlEncodeParam("new york"), "new+york");
  EXPECT_EQ(UrlEncodeParam("a&b=c/d?e%f+g#"), "a%26b%3Dc%2Fd%3Fe%25f%2Bg%23");
  EXPECT_EQ(UrlEncodeParam("\xC3\xA9\x01\x7F\xFF"), "%C3%A9%01%7F%FF");
}

TEST(ScanCharBack, PositionsAreOneBased) {
  const std::pair<int, int> cases[] = {{0, 4}, {99, 4}, {4, 4}, {3, 2}, {1, 0}};  // start, found
  for (const auto& [start, found] : cases) EXPECT_EQ(ScanCharBack("a,b,c", ',', start), found) << start;
  EXPECT_EQ(ScanCharBack("abc", ',', 0), 0);
}

TEST(ReplaceAll, NonOverlappingCaseRulesAndNoRescan) {
  std::string s = "aaaa";
  EXPECT_EQ(ReplaceAll(s, "aa", "b", false), 2);
  EXPECT_EQ(s, "bb");
  s = "Hello hello HELLO";
  EXPECT_EQ(ReplaceAll(s, "hello", "x", false), 1);
  EXPECT_EQ(s, "Hello x HELLO");
  EXPECT_EQ(ReplaceAll(s, "HeLLo", "yy", true), 2);
  EXPECT_EQ(s, "yy x yy");
  s = "ab";
  EXPECT_EQ(ReplaceAll(s, "a", "aa", false), 1);  // the replacement is not searched again
  EXPECT_EQ(s, "aab");
  EXPECT_EQ(ReplaceAll(s, "", "z", false), 0);
  EXPECT_EQ(s, "aab");
}

TEST(StreamToString, ReadsFromPositionAndRewinds) {
  std::string big(200000, 'x');
  big += "end";
  std::istringstream in("head:" + big);
  in.seekg(5);
  std::string out;
  StreamToString(in, out);
  EXPECT_EQ(out, big);
  EXPECT_EQ(in.tellg(), 0);
  StreamToString(in, out);
  EXPECT_EQ(out.substr(0, 5), "head:");
}

TEST(VersionText, DigitsLetterAndPoints) {
  const std::pair<double, const char*> cases[] = {{2.501, "2.5.0a"}, {2.509, "2.5.0i"}, {2.5, "2.5.0"},
                                                  {2.51, "2.5.1"},   {2.499, "2.4.9i"}, {3, "3.0.0"},
                                                  // Not exact in binary: 1.001 * 1000 is just below 1001.
                                                  {1.001, "1.0.0a"}, {2.006, "2.0.0f"},  {4.012, "4.0.1b"}};
  for (const auto& [version, text] : cases) EXPECT_EQ(VersionText(version), text) << version;
}

TEST(GetFileVersionString, OnlyOurOwnProgramHasAVersion) {
  std::string text;
  GetFileVersionString("/proc/self/exe", text);
  EXPECT_EQ(text, VersionText(ProgVersion));
  GetFileVersionString(ProgDir + "no-such-file.dll", text);
  EXPECT_EQ(text, "**unknown**");
  GetFileVersionString("/bin/sh", text);
  EXPECT_EQ(text, "**unknown**");
}
