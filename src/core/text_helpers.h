#pragma once
// Small text helpers shared by every window: prices, field splitting, URL parameters,
// version texts. Numbers always use "." whatever the locale.
#include <istream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/string_list.h"

// A text that does not read as a number.
class EConvertError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Fixed-point text with that many decimals, "." whatever the locale ("0" for what cannot
// be written).
std::string FixedText(double value, int decimals);

// The price with 4 decimals below 10, 3 below 1000, 2 up to 10000 and 1 above (by magnitude),
// trailing zeros and a trailing point dropped.
std::string FormatPrice(double value);
// The decimals FormatPrice rounds the value to (4, 3, 2 or 1).
int PriceDecimals(double value);
// The value as FormatPrice shows it, as a number: money is computed from what the user sees.
double RoundPrice(double value);
// An amount of money rounded to the cent, half away from zero, from its shortest decimal form.
double RoundMoney(double amount);
// Money is computed exactly in decimal: shares and commission from their shortest decimal
// forms, a price (a single-precision quote) from the shortest form that reads back as the same
// float (346.89, not 346.890015...), then rounded half away from zero to the cent.
// What shares are worth at a price (or gain at a change). The grid's rows, TOTAL and the
// portfolio values all use it, so they never disagree.
double HoldingValue(double shares, double price);
// What shares cost at a base price with the commission.
double HoldingCost(double shares, double price, double commission);
// Money before it is rounded: exact decimal amounts, summed and divided exactly, so that a
// percentage is never divided from rounded cents (0.24446 on 0.10 is 244.46 %, not 240 %).
// Beyond what it can hold exactly it carries on in binary, as HoldingValue does.
class ExactMoney {
public:
  ExactMoney() = default;  // zero
  // shares x price + commission, from their shortest forms as HoldingCost takes them.
  static ExactMoney Holding(double shares, double price, double commission = 0);
  // A price or a change as quoted (its single-precision shortest form).
  static ExactMoney Price(double price);
  ExactMoney operator+(const ExactMoney& other) const;
  ExactMoney operator-(const ExactMoney& other) const;
  int Sign() const;
  // this / |whole| x 100, rounded once, half away from zero, to two decimals; false when the
  // whole is zero.
  bool PercentOf(const ExactMoney& whole, double& percent) const;

private:
  ExactMoney(__int128 units, int scale, bool exact, double binary)
      : units_(units), scale_(scale), exact_(exact), binary_(binary) {}
  __int128 units_ = 0;  // units_ / 10^scale_
  int scale_ = 0;
  bool exact_ = true;
  double binary_ = 0;  // the same amount in binary, used once it is no longer exact
};

// A single-precision price as it was quoted: the double nearest its shortest form (341.41f,
// which holds 341.410004..., gives 341.41).
double PriceAsQuoted(double price);

// last - previous, exact from both prices' shortest forms: it has no more decimals than the
// longer of the two (47.35 - 43.0 is 4.35, never 4.3501).
double PriceDifference(double last, double previous);
// A figure that goes with a price (its change) with the price's decimals, trailing zeros dropped.
std::string FormatPriceLike(double value, double price);
// While ShowFractions is on, a value near a multiple of 1/64 as sign, whole part and reduced
// 64ths ("3 1/4", "-1/2", "7"); otherwise FormatPrice.
std::string FormatPriceFraction(double value);

// Reads a decimal or fractional price ("25.5", "25 1/2", "1/4"). Characters that cannot belong
// to a number read as blanks, so an empty or letters-only text gives 0; a text holding '!'
// gives 0. Throws EConvertError when what is left is still no number.
double ParsePrice(std::string_view text);

// Whether the text is UTF-8 without control bytes (tab allowed).
bool IsPlainText(std::string_view s);

// The end mark appended to the text and added to the delimiters.
constexpr char SplitEndMark = static_cast<char>(199);
// Clears the list and adds each field of text; returns the number of fields. A run of
// delimiters makes no empty field; text between apostrophes is kept as is, with two
// apostrophes standing for one.
int SplitDelimited(std::string_view text, StringList& list, std::string_view delimiters);
// The same fields one at a time, without a list of them all (a query may name thousands).
class DelimitedFields {
public:
  DelimitedFields(std::string_view text, std::string_view delimiters) : text_(text), delimiters_(delimiters) {}
  // The next field; false after the last.
  bool Next(std::string& field);

private:
  bool IsDelimiter(char c) const;
  std::string_view text_, delimiters_;
  size_t pos_ = 0;
};

// Keeps letters, digits and @ : ' , - . ^ _ $; a blank becomes '+', any other byte %XX.
void UrlEncodeParam(std::string_view text, std::string& result);
std::string UrlEncodeParam(std::string_view text);

// The 1-based position of the last ch at or before start (start 0 or past the end: from the
// end); 0 when there is none.
int ScanCharBack(std::string_view text, char ch, int start);

// Replaces every non-overlapping occurrence of find, left to right; returns how many.
// An empty find replaces nothing.
int ReplaceAll(std::string& text, std::string_view find, std::string_view replacement, bool ignoreCase);

// The stream's bytes from its position to its end; the stream is left at position 0.
void StreamToString(std::istream& stream, std::string& out);

// The display text of a version number: 2.501 gives "2.5.0a", 2.5 gives "2.5.0".
std::string VersionText(double version);

// The version text of a file. Our files carry no version resource: the program's own
// executable gives VersionText(ProgVersion), every other file "**unknown**".
void GetFileVersionString(const std::string& fileName, std::string& out);

// Frees an object and swallows any failure; the caller clears its own variable.
template <typename T>
void FreeGuarded(T* object) noexcept {
  try {
    delete object;
  } catch (...) {
  }
}
