#include "core/text_helpers.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numeric>
#include <vector>

#include "core/program_state.h"
#include "core/settings.h"

std::string FixedText(double value, int decimals) {
  std::array<char, 400> buf{};
  auto res = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, decimals);
  if (res.ec != std::errc()) return "0";
  return std::string(buf.data(), res.ptr);
}

namespace {

void DropTrailingZeros(std::string& s) {
  if (s.find('.') == std::string::npos) return;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A whole text as a decimal number with an optional sign.
bool ReadDecimal(std::string_view s, double& out) {
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || !(IsDigit(s[0]) || s[0] == '.')) return false;
  double v = 0;
  auto res = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return false;
  out = negative ? -v : v;
  return true;
}

bool ReadUnsigned(std::string_view s, uint64_t& out) {
  if (s.empty()) return false;
  auto res = std::from_chars(s.data(), s.data() + s.size(), out);
  return res.ec == std::errc() && res.ptr == s.data() + s.size();
}

// "n/d" with an optional sign in front of n; the denominator must not be 0.
bool ReadFraction(std::string_view s, double& out) {
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  size_t slash = s.find('/');
  if (slash == std::string_view::npos) return false;
  uint64_t num = 0, den = 0;
  if (!ReadUnsigned(s.substr(0, slash), num) || !ReadUnsigned(s.substr(slash + 1), den) || den == 0) return false;
  double v = static_cast<double>(num) / static_cast<double>(den);
  out = negative ? -v : v;
  return true;
}

std::string FractionText(double value) {
  const double magnitude = std::fabs(value);
  if (!(magnitude >= 1.0 / 64) || !std::isfinite(magnitude) || magnitude > 9e15) return {};
  const double sixtyFourths = std::round(magnitude * 64);
  if (std::fabs(magnitude * 64 - sixtyFourths) > 64.0 / 512) return {};
  const auto n = static_cast<uint64_t>(sixtyFourths);
  const uint64_t whole = n / 64;
  uint64_t num = n % 64;
  uint64_t den = 64;
  const uint64_t g = std::gcd(num, den);
  if (num != 0) {
    num /= g;
    den /= g;
  }
  std::string s = value < 0 ? "-" : "";
  if (whole != 0 || num == 0) s += std::to_string(whole);
  if (num != 0) {
    if (whole != 0) s += ' ';
    s += std::to_string(num) + "/" + std::to_string(den);
  }
  return s;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool MatchesAt(std::string_view text, size_t pos, std::string_view find, bool ignoreCase) {
  if (!ignoreCase) return text.compare(pos, find.size(), find) == 0;
  for (size_t i = 0; i < find.size(); ++i)
    if (LowerAscii(text[pos + i]) != LowerAscii(find[i])) return false;
  return true;
}

}  // namespace

int PriceDecimals(double value) {
  const double magnitude = std::fabs(value);
  if (magnitude < 10) return 4;
  if (magnitude < 1000) return 3;
  if (magnitude <= 10000) return 2;
  return 1;
}

namespace {
double RoundTo(double value, int decimals) {
  if (!std::isfinite(value)) return 0;
  // Through the decimal text, so 513.66f (513.6599731...) becomes 513.66 and not one cent less.
  const std::string s = FixedText(value, decimals);
  double out = 0;
  std::from_chars(s.data(), s.data() + s.size(), out);
  return out;
}

std::string PriceText(double value, int decimals) {
  if (!std::isfinite(value)) return "0";
  std::string s = FixedText(value, decimals);
  DropTrailingZeros(s);
  if (s == "-0") s = "0";
  return s;
}
}  // namespace

double RoundPrice(double value) { return RoundTo(value, PriceDecimals(value)); }

namespace {
// An exact decimal: Units / 10^Scale. Ok is false for what it cannot hold (not finite, or too
// large to be money); callers fall back to binary arithmetic there.
struct Decimal {
  __int128 Units = 0;
  int Scale = 0;
  bool Ok = false;
};

constexpr int MaxScale = 24;
constexpr __int128 Pow10(int n) {
  __int128 p = 1;
  while (n-- > 0) p *= 10;
  return p;
}
// Beyond this, products could overflow; no amount of money gets near it.
constexpr __int128 UnitsLimit = Pow10(30);

// num / den (den > 0), rounded half away from zero.
__int128 RoundedQuotient(__int128 num, __int128 den) {
  __int128 q = num / den;
  const __int128 r = num % den;
  if ((r < 0 ? -r : r) * 2 >= den) q += num < 0 ? -1 : 1;
  return q;
}

// Rounds half away from zero to the scale (only ever lowers it).
Decimal Rescaled(Decimal d, int scale) {
  if (!d.Ok || d.Scale <= scale) return d;
  return {RoundedQuotient(d.Units, Pow10(d.Scale - scale)), scale, true};
}

// Reads what std::to_chars writes in its shortest form: "-346.89", "1e+20", "1.5e-07".
Decimal ReadShortest(const char* p, const char* end) {
  Decimal d;
  bool negative = false, point = false;
  int digits = 0;
  if (p < end && *p == '-') {
    negative = true;
    ++p;
  }
  for (; p < end && *p != 'e'; ++p) {
    if (*p == '.') {
      point = true;
      continue;
    }
    if (!IsDigit(*p) || ++digits > 20) return d;
    d.Units = d.Units * 10 + (*p - '0');
    if (point) ++d.Scale;
  }
  if (p < end) {
    int exponent = 0;
    const auto res = std::from_chars(p + 1 + (p[1] == '+'), end, exponent);
    if (res.ec != std::errc()) return d;
    d.Scale -= exponent;
  }
  if (d.Scale < 0) {
    if (d.Scale < -12) return d;
    d.Units *= Pow10(-d.Scale);
    d.Scale = 0;
  }
  if (d.Units >= UnitsLimit) return d;
  d.Ok = true;
  if (negative) d.Units = -d.Units;
  return Rescaled(d, MaxScale);
}

template <typename T>
Decimal ShortestDecimal(T value) {
  if (!std::isfinite(value)) return {};
  std::array<char, 64> buf{};
  const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), value);
  if (res.ec != std::errc()) return {};
  return ReadShortest(buf.data(), res.ptr);
}
Decimal PriceDecimal(double price) {
  return std::fabs(price) < 3.0e38 ? ShortestDecimal(static_cast<float>(price)) : Decimal{};
}

Decimal Times(Decimal a, Decimal b) {
  if (!a.Ok || !b.Ok) return {};
  // Twelve places each are plenty for shares and prices; the product must fit in 10^35.
  a = Rescaled(a, 12);
  b = Rescaled(b, 12);
  if ((a.Units < 0 ? -a.Units : a.Units) > Pow10(35) / ((b.Units < 0 ? -b.Units : b.Units) + 1)) return {};
  return {a.Units * b.Units, a.Scale + b.Scale, true};
}

// Whether the units stay below 10^37 when given `more` decimals.
bool Widens(__int128 units, int more) { return (units < 0 ? -units : units) < Pow10(37 - more); }

Decimal Plus(Decimal a, Decimal b) {
  if (!a.Ok || !b.Ok) return {};
  const int scale = std::max(a.Scale, b.Scale);
  if (!Widens(a.Units, scale - a.Scale) || !Widens(b.Units, scale - b.Scale)) return {};
  const __int128 x = a.Units * Pow10(scale - a.Scale), y = b.Units * Pow10(scale - b.Scale);
  return {x + y, scale, true};
}

double ToDouble(Decimal d) {
  const __int128 div = Pow10(d.Scale);
  constexpr __int128 exact = static_cast<__int128>(1) << 53;
  // Both exact as doubles: one correctly rounded division gives the nearest double to the decimal.
  if (d.Units < exact && d.Units > -exact && div < exact) return static_cast<double>(d.Units) / static_cast<double>(div);
  // Else whole and fraction apart.
  return static_cast<double>(d.Units / div) + static_cast<double>(d.Units % div) / static_cast<double>(div);
}

// shares x price + commission, exact from their shortest forms.
Decimal HoldingDecimal(double shares, double price, double commission) {
  return Plus(Times(ShortestDecimal(shares), PriceDecimal(price)), ShortestDecimal(commission));
}

double Cents(Decimal exact, double fallback) {
  if (!exact.Ok) return RoundTo(fallback, 2);
  const Decimal c = Rescaled(exact, 2);
  if (c.Units > UnitsLimit || c.Units < -UnitsLimit) return RoundTo(fallback, 2);
  return ToDouble({c.Units * Pow10(2 - c.Scale), 2, true});
}
}  // namespace

double RoundMoney(double amount) { return Cents(ShortestDecimal(amount), amount); }

double HoldingValue(double shares, double price) {
  return Cents(Times(ShortestDecimal(shares), PriceDecimal(price)), shares * price);
}

double HoldingCost(double shares, double price, double commission) {
  return Cents(HoldingDecimal(shares, price, commission), shares * price + commission);
}

double PriceAsQuoted(double price) {
  const Decimal d = PriceDecimal(price);
  return d.Ok ? ToDouble(d) : price;
}

double PriceDifference(double last, double previous) {
  Decimal b = PriceDecimal(previous);
  b.Units = -b.Units;
  const Decimal d = Plus(PriceDecimal(last), b);
  return d.Ok ? ToDouble(d) : last - previous;
}

namespace {
// Without trailing zeros, so that quotients start from the smallest numbers.
Decimal Trimmed(Decimal d) {
  while (d.Scale > 0 && d.Units % 10 == 0) {
    d.Units /= 10;
    --d.Scale;
  }
  return d;
}
}  // namespace

ExactMoney ExactMoney::Holding(double shares, double price, double commission) {
  const Decimal d = HoldingDecimal(shares, price, commission);
  return ExactMoney(d.Units, d.Scale, d.Ok, shares * price + commission);
}

ExactMoney ExactMoney::Price(double price) {
  const Decimal d = PriceDecimal(price);
  return ExactMoney(d.Units, d.Scale, d.Ok, static_cast<float>(price));
}

ExactMoney ExactMoney::operator+(const ExactMoney& other) const {
  const Decimal d = exact_ && other.exact_ ? Plus({units_, scale_, true}, {other.units_, other.scale_, true}) : Decimal{};
  const Decimal t = Trimmed(d);
  return ExactMoney(t.Units, t.Scale, t.Ok, binary_ + other.binary_);
}

ExactMoney ExactMoney::operator-(const ExactMoney& other) const {
  ExactMoney negated = other;
  negated.units_ = -other.units_;
  negated.binary_ = -other.binary_;
  return *this + negated;
}

int ExactMoney::Sign() const {
  if (exact_) return units_ > 0 ? 1 : units_ < 0 ? -1 : 0;
  return binary_ > 0 ? 1 : binary_ < 0 ? -1 : 0;
}

bool ExactMoney::PercentOf(const ExactMoney& whole, double& percent) const {
  if (exact_ && whole.exact_) {
    if (whole.units_ == 0) return false;
    const Decimal part = Trimmed({units_, scale_, true});
    const Decimal base = Trimmed({whole.units_ < 0 ? -whole.units_ : whole.units_, whole.scale_, true});
    // part / base x 100 in hundredths: part x 10^(base scale - part scale + 4) / base.
    const int shift = base.Scale - part.Scale + 4;
    __int128 num = part.Units, den = base.Units;
    const bool fits = shift >= 0 ? shift <= 37 && Widens(num, shift) : -shift <= 37 && Widens(den, -shift);
    if (fits) {
      if (shift >= 0)
        num *= Pow10(shift);
      else
        den *= Pow10(-shift);
      percent = ToDouble({RoundedQuotient(num, den), 2, true});
      return true;
    }
  }
  if (whole.binary_ == 0) return false;
  percent = RoundTo(binary_ / std::fabs(whole.binary_) * 100, 2);
  return true;
}

std::string FormatPrice(double value) { return PriceText(value, PriceDecimals(value)); }

std::string FormatPriceLike(double value, double price) { return PriceText(value, PriceDecimals(price)); }

std::string FormatPriceFraction(double value) {
  if (ShowFractions) {
    std::string s = FractionText(value);
    if (!s.empty()) return s;
  }
  return FormatPrice(value);
}

double ParsePrice(std::string_view text) {
  if (text.find('!') != std::string_view::npos) return 0;
  std::string cleaned(text);
  for (char& c : cleaned)
    if (!(IsDigit(c) || c == '.' || c == '-' || c == '+' || c == '/')) c = ' ';

  std::vector<std::string_view> words;
  std::string_view rest(cleaned);
  while (!rest.empty()) {
    size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    size_t end = rest.find(' ');
    words.push_back(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
  }

  double value = 0;
  if (words.empty()) return 0;
  if (words.size() == 1) {
    if (words[0].find('/') != std::string_view::npos ? ReadFraction(words[0], value) : ReadDecimal(words[0], value))
      return value;
  } else if (words.size() == 2) {
    double whole = 0, fraction = 0;
    std::string_view frac = words[1];
    if (ReadDecimal(words[0], whole) && !frac.empty() && IsDigit(frac[0]) && ReadFraction(frac, fraction)) {
      // The sign of the whole part covers the fraction: "-3 1/4" is -3.25.
      return words[0][0] == '-' ? whole - fraction : whole + fraction;
    }
  }
  throw EConvertError("'" + std::string(text) + "' is not a valid price");
}

bool IsPlainText(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
      ++i;
      continue;
    }
    size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (len == 0 || c > 0xF4 || i + len > s.size()) return false;
    for (size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

bool DelimitedFields::IsDelimiter(char c) const {
  return c == SplitEndMark || delimiters_.find(c) != std::string_view::npos;
}

bool DelimitedFields::Next(std::string& field) {
  field.clear();
  const size_t n = text_.size();
  size_t i = pos_;
  while (i < n && IsDelimiter(text_[i])) ++i;
  if (i >= n) {
    pos_ = n;
    return false;
  }
  while (i < n && !IsDelimiter(text_[i])) {
    if (text_[i] != '\'') {
      field += text_[i++];
      continue;
    }
    // Quoted text runs to the closing apostrophe, delimiters included; '' is one apostrophe.
    // An unclosed quote ends with the text.
    ++i;
    while (i < n) {
      if (text_[i] == '\'') {
        if (i + 1 < n && text_[i + 1] == '\'') {
          field += '\'';
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      field += text_[i++];
    }
  }
  pos_ = i;
  return true;
}

int SplitDelimited(std::string_view text, StringList& list, std::string_view delimiters) {
  list.Clear();
  DelimitedFields fields(text, delimiters);
  int count = 0;
  for (std::string field; fields.Next(field); ++count) list.Add(std::move(field));
  return count;
}

void UrlEncodeParam(std::string_view text, std::string& result) {
  static constexpr char hex[] = "0123456789ABCDEF";
  static constexpr std::string_view kept = "@:',-.^_$";
  result.clear();
  result.reserve(text.size());
  for (char c : text) {
    if (IsDigit(c) || IsAsciiLetter(c) || kept.find(c) != std::string_view::npos) {
      result += c;
    } else if (c == ' ') {
      result += '+';
    } else {
      const auto b = static_cast<unsigned char>(c);
      result += '%';
      result += hex[b >> 4];
      result += hex[b & 0x0F];
    }
  }
}

std::string UrlEncodeParam(std::string_view text) {
  std::string r;
  UrlEncodeParam(text, r);
  return r;
}

int ScanCharBack(std::string_view text, char ch, int start) {
  const int len = static_cast<int>(text.size());
  if (start <= 0 || start > len) start = len;
  for (int i = start; i >= 1; --i)
    if (text[static_cast<size_t>(i - 1)] == ch) return i;
  return 0;
}

int ReplaceAll(std::string& text, std::string_view find, std::string_view replacement, bool ignoreCase) {
  if (find.empty() || text.size() < find.size()) return 0;
  std::string out;
  int count = 0;
  size_t i = 0;
  while (i + find.size() <= text.size()) {
    if (MatchesAt(text, i, find, ignoreCase)) {
      out += replacement;
      i += find.size();
      ++count;
    } else {
      out += text[i++];
    }
  }
  if (count == 0) return 0;
  out.append(text, i, std::string::npos);
  text = std::move(out);
  return count;
}

void StreamToString(std::istream& stream, std::string& out) {
  out.clear();
  char buf[65536];
  while (stream.read(buf, sizeof buf) || stream.gcount() > 0) out.append(buf, static_cast<size_t>(stream.gcount()));
  stream.clear();
  stream.seekg(0);
}

std::string VersionText(double version) {
  if (!std::isfinite(version) || version < 0 || version > 1e12) return "0";
  std::string digits = std::to_string(static_cast<long long>(std::llround(version * 1000)));
  if (digits.size() == 4) {
    const char last = digits.back();
    digits.pop_back();
    if (last != '0') digits += static_cast<char>('a' + (last - '1'));
  }
  std::string s;
  for (size_t i = 0; i < digits.size(); ++i) {
    s += digits[i];
    if ((i == 0 || i == 1) && i + 1 < digits.size() && IsDigit(digits[i + 1])) s += '.';
  }
  return s;
}

void GetFileVersionString(const std::string& fileName, std::string& out) {
  namespace fs = std::filesystem;
  std::error_code ec1, ec2;
  const fs::path file = fs::canonical(fileName, ec1);
  const fs::path self = fs::canonical("/proc/self/exe", ec2);
  if (!ec1 && !ec2 && file == self) out = VersionText(ProgVersion);
  else out = "**unknown**";
}
