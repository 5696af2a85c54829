#include "charts/hist_query.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "core/text_helpers.h"
#include "retrieval/param_files.h"

namespace {

StringList Comma(const StringList& params, std::string_view key) {
  StringList l;
  l.SetCommaText(GetSiteParam(params, key));
  return l;
}

int ToInt(std::string_view text, int def) {
  const std::string t = Trim(text);
  int v = 0;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  return r.ec == std::errc() && r.ptr == t.data() + t.size() ? v : def;
}

// A whole number of a values field (no sign, no fraction, at most 9 digits).
bool WholeNumber(std::string_view t, int64_t& v) {
  if (t.empty() || t.size() > 9) return false;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  return r.ec == std::errc() && r.ptr == t.data() + t.size() && v >= 0;
}

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> out;
  std::string cur;
  for (const char c : text) {
    if (c == ' ' || c == ',' || c == '\t') {
      if (!cur.empty()) out.push_back(std::move(cur));
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(std::move(cur));
  return out;
}

std::string Join(const std::vector<int64_t>& v) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) out += (i ? "," : "") + std::to_string(v[i]);
  return out;
}

// Values that are whole numbers among the first n words, then the last one doubled until n.
std::string FillValues(const std::vector<std::string>& words, size_t n, bool fill) {
  std::vector<int64_t> values;
  for (size_t i = 0; i < words.size() && i < n; ++i) {
    int64_t v = 0;
    if (WholeNumber(words[i], v)) values.push_back(v);
  }
  while (fill && !values.empty() && values.size() < n) values.push_back(std::min<int64_t>(values.back() * 2, 999'999'999));
  return Join(values);
}

std::string DateText(TDateTime d) { return UrlEncodeParam(FormatDateTime("m/d/yyyy", d)); }

// The number after a token's first suffix character ("-7", "+7" both read 7).
int SuffixDays(std::string_view suffix) {
  if (suffix.size() < 2) return 0;
  const int n = ToInt(suffix.substr(1), 0);
  return std::clamp(n, 0, 3'000'000);
}

// Replaces every token of the name (up to the next "&" or the end) with fn(suffix).
template <typename Fn>
void ReplaceTokens(std::string& text, std::string_view name, Fn fn) {
  size_t at = 0;
  while ((at = text.find(name, at)) != std::string::npos) {
    size_t end = text.find('&', at);
    if (end == std::string::npos) end = text.size();
    const std::string value = fn(std::string_view(text).substr(at + name.size(), end - at - name.size()));
    text.replace(at, end - at, value);
    at += value.size();
  }
}

}  // namespace

bool HistSiteParams::IsShortPeriod(std::string_view code) const {
  return PeriodShort.find("\"" + std::string(code) + "\"") != std::string::npos;
}

bool PropSiteParams::IsShortPeriod(std::string_view code) const {
  const int i = PeriodCode.IndexOf(code);
  return i >= 0 && i < PeriodShort;
}

HistSiteParams ReadHistParams(const StringList& params) {
  HistSiteParams p;
  p.PeriodList = Comma(params, "HISTPERIODLIST");
  p.PeriodCode = Comma(params, "HISTPERIODCODE");
  p.PeriodParm = GetSiteParam(params, "HISTPERIODPARM");
  p.PeriodShort = GetSiteParam(params, "HISTPERIODSHORT");
  p.FreqList = Comma(params, "HISTFREQLIST");
  p.FreqCode = Comma(params, "HISTFREQCODE");
  p.FreqParm = GetSiteParam(params, "HISTFREQPARM");
  p.FreqShortD = Comma(params, "HISTFREQSHORTD");
  p.FreqLongD = Comma(params, "HISTFREQLONGD");
  p.IndList = Comma(params, "HISTINDLIST");
  p.IndCode = Comma(params, "HISTINDCODE");
  p.MovAveList = Comma(params, "HISTMOVAVELIST");
  p.MovAveCode = Comma(params, "HISTMOVAVECODE");
  p.UpperParm = GetSiteParam(params, "HISTUPPERPARM");
  p.LowerParm = GetSiteParam(params, "HISTLOWERPARM");
  p.PriceList = Comma(params, "HISTPRICELIST");
  p.PriceCode = Comma(params, "HISTPRICECODE");
  p.PriceParm = GetSiteParam(params, "HISTPRICEPARM");
  p.StyleList = Comma(params, "HISTSTYLELIST");
  p.StyleCode = Comma(params, "HISTSTYLECODE");
  p.StyleParm = GetSiteParam(params, "HISTSTYLEPARM");
  p.Site = Trim(GetSiteParam(params, "HISTSITE"));
  p.Path = GetSiteParam(params, "HISTPATH", "/chart.asp?");
  p.Home = Trim(GetSiteParam(params, "HISTHOME"));
  p.LookupSite = Trim(GetSiteParam(params, "HISTLOOKUPSITE"));
  p.WipeCache = GetSiteParam(params, "HISTWIPECACHE");
  p.OurAds = SameText(Trim(GetSiteParam(params, "HISTOURADS", "YES")), "YES");
  p.AdSite = Trim(GetSiteParam(params, "HISTINITADSITE"));
  p.AdPath = GetSiteParam(params, "HISTINITADPATH", "/adf/" + p.Site + "/interactive/");
  p.AdImageSite = Trim(GetSiteParam(params, "HISTADIMAGESITE"));
  return p;
}

PropSiteParams ReadPropParams(const StringList& params) {
  PropSiteParams p;
  p.Site = Trim(GetSiteParam(params, "PROPSITE"));
  p.Path = GetSiteParam(params, "PROPPATH", "/chart.asp?");
  p.Port = std::clamp(ToInt(GetSiteParam(params, "PROPPORT", "80"), 80), 0, 65535);
  p.Home = Trim(GetSiteParam(params, "PROPHOME"));
  p.SymbParm = GetSiteParam(params, "PROPSYMBPARM");
  p.PeriodList = Comma(params, "PROPPERIODLIST");
  p.PeriodCode = Comma(params, "PROPPERIODCODE");
  p.PeriodParm = GetSiteParam(params, "PROPPERIODPARM");
  p.PeriodShort = ToInt(GetSiteParam(params, "PROPERIODSHORT", "4"), 4);
  p.FreqList = Comma(params, "PROPFREQLIST");
  p.FreqCode = Comma(params, "PROPFREQCODE");
  p.FreqShortD = Comma(params, "PROPFREQSHORTD");
  p.FreqShort = Comma(params, "PROPFREQSHORT");
  p.FreqLongD = Comma(params, "PROPFREQLONGD");
  p.FreqLong = Comma(params, "PROPFREQLONG");
  p.FreqParm = GetSiteParam(params, "PROPFREQPARM");
  p.MovAveList = Comma(params, "PROPMOVAVELIST");
  p.MovAveCode = Comma(params, "PROPMOVAVECODE");
  p.UpperList = Comma(params, "PROPUPPERLIST");
  p.UpperCode = Comma(params, "PROPUPPERCODE");
  p.UpperFlag = Comma(params, "PROPUPPERFLAG");
  p.LowerList = Comma(params, "PROPLOWERLIST");
  p.LowerCode = Comma(params, "PROPLOWERCODE");
  p.LowerFlag = Comma(params, "PROPLOWERFLAG");
  p.PriceList = Comma(params, "PROPPRICELIST");
  p.PriceCode = Comma(params, "PROPPRICECODE");
  p.PriceParm = GetSiteParam(params, "PROPPRICEPARM");
  p.StyleList = Comma(params, "PROPSTYLELIST");
  p.StyleCode = Comma(params, "PROPSTYLECODE");
  p.StyleParm = GetSiteParam(params, "PROPSTYLEPARM");
  return p;
}

std::string ReplaceMarker(std::string_view tmpl, std::string_view value) {
  std::string out(tmpl);
  const size_t at = out.find("@@@");
  if (at != std::string::npos) out.replace(at, 3, value);
  return out;
}

std::string ExpandDateTokens(std::string_view text, TDateTime now) {
  std::string out(text);
  const double today = std::floor(now);
  ReplaceTokens(out, "NOW", [&](std::string_view s) { return DateText(today - SuffixDays(s)); });
  ReplaceTokens(out, "YEAR", [&](std::string_view s) {
    int y, m, d;
    DecodeDate(today, y, m, d);
    y = std::max(1, y - std::min(SuffixDays(s), y - 1));
    return DateText(EncodeDate(y, m, std::min(d, DaysInMonth(y, m))));
  });
  int y, m, d;
  DecodeDate(today, y, m, d);
  ReplaceAll(out, "YSTART", DateText(EncodeDate(y, 1, 1)), false);
  return out;
}

std::string ReplaceMarkerWithDates(std::string_view tmpl, std::string_view value, TDateTime now, bool typedValue) {
  const size_t at = tmpl.find("@@@");
  if (at == std::string_view::npos) return std::string(tmpl);
  if (!typedValue) return ExpandDateTokens(ReplaceMarker(tmpl, value), now);
  return ExpandDateTokens(tmpl.substr(0, at), now) + std::string(value) + ExpandDateTokens(tmpl.substr(at + 3), now);
}

bool IsValidChartSymbol(std::string_view symbol) {
  if (symbol.empty() || symbol.size() > 12 || symbol.front() == ' ' || symbol.back() == ' ') return false;
  for (const char c : symbol) {
    // '+' and a blank belong to share classes ("BRK+B", "BRK B"); the queries encode them.
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '^' || c == '$' ||
                    c == '-' || c == ':' || c == '/' || c == '+' || c == ' ';
    if (!ok) return false;
  }
  return true;
}

std::string NormaliseHistMaValues(std::string_view code, std::string_view field) {
  if (code == "0") return {};
  const size_t n = (code == "3" || code == "5") ? 2 : (code == "4" || code == "6") ? 3 : 1;
  const std::vector<std::string> words = Words(field);
  int64_t last = 0;
  if (words.size() >= n) return FillValues(words, n, false);
  if (words.empty() || !WholeNumber(words.back(), last)) return std::string(field);
  std::vector<int64_t> values;
  for (const std::string& w : words) {
    int64_t v = 0;
    if (WholeNumber(w, v)) values.push_back(v);
  }
  for (size_t i = words.size(); i < n; ++i) {
    last = std::min<int64_t>(last * 2, 999'999'999);
    values.push_back(last);
  }
  return Join(values);
}

std::string NormalisePropMaValues(std::string_view code, std::string_view field) {
  if (code == "-") return {};
  const size_t n = Words(code).size();
  const std::vector<std::string> words = Words(field);
  if (words.empty()) return n == 1 ? "10" : n == 2 ? "10,20" : n == 3 ? "10,20,40" : "";
  return FillValues(words, n, true);
}

std::string PropCompareList(std::string_view text) {
  std::string out;
  for (const std::string& w : Words(text)) out += (out.empty() ? "" : ",") + w;
  return out;
}

void SortChars(std::string& text) { std::sort(text.begin(), text.end()); }

void ToggleFlag(std::string& flags, char flag) {
  const size_t at = flags.find(flag);
  if (at == std::string::npos) flags += flag;
  else flags.erase(at, 1);
  SortChars(flags);
}

std::string BuildHistQuery(const HistSiteParams& p, const HistChoices& c) {
  const bool shortPeriod = p.IsShortPeriod(c.PeriodCode);
  const uint32_t top = shortPeriod ? (c.TopFlags & ~HistDailyOnlyTopBits) : c.TopFlags;
  std::string q = p.Path;
  q += ReplaceMarker(p.PeriodParm, UrlEncodeParam(c.PeriodCode)) + "&";
  q += ReplaceMarker(p.FreqParm, UrlEncodeParam(c.FreqCode)) + "&";
  q += ReplaceMarker(p.UpperParm, std::to_string(top)) + "&";
  q += ReplaceMarker(p.LowerParm, std::to_string(c.BottomFlags)) + "&";
  q += ReplaceMarker(p.PriceParm, UrlEncodeParam(c.PriceCode)) + "&";
  q += ReplaceMarker(p.StyleParm, UrlEncodeParam(c.StyleCode)) + "&";
  q += "size=2&";
  const std::string stock = Trim(c.CompareStock);
  // The compare stock's own identifier decides, not the chart symbol's.
  if (!stock.empty() && !c.CompareId.empty() && c.CompareId != "ERR")
    q += "comp=" + UrlEncodeParam(stock) + "%3A" + UrlEncodeParam(c.CompareId) + "&";
  else
    q += "comp=&";
  q += "r=chart&onbad=badsymbol&country=us&";
  std::string index = c.IndexCode;
  const size_t colon = index.find(':');
  if (colon != std::string::npos) index.replace(colon, 1, "%3A");
  q += "compidx=" + index + "&";
  q += "ma=" + UrlEncodeParam(c.MaCode) + "&";
  q += "maval=" + UrlEncodeParam(c.MaValues) + "&";
  q += "symb=" + UrlEncodeParam(c.Symbol) + "&";
  q += c.SidParam;
  return q;
}

std::string HistCacheKey(const HistChoices& c) {
  const std::vector<std::string> f{c.Symbol,    c.PeriodCode, c.FreqCode, c.PriceCode, c.StyleCode,
                                   c.IndexCode, c.MaCode,     c.MaValues, Trim(c.CompareStock),
                                   std::to_string(c.TopFlags), std::to_string(c.BottomFlags)};
  std::string key;
  for (const std::string& s : f) key += s + '\x1f';
  return key;
}

std::string PropIndicatorQuery(const PropSiteParams& p, const PropChoices& c) {
  std::string q;
  const std::string values = Trim(c.MaValues);
  if (!values.empty()) q += c.MaCode.substr(0, c.MaCode.find(' ')) + "=" + UrlEncodeParam(values) + "&";
  auto flags = [&](const std::string& set, const StringList& flagList, const StringList& codes) {
    for (const char ch : Trim(set)) {
      const int i = flagList.IndexOf(std::string(1, ch));
      if (i >= 0 && i < codes.Count()) q += codes[i] + "&";
    }
  };
  flags(c.BottomFlags, p.LowerFlag, p.LowerCode);
  flags(c.TopFlags, p.UpperFlag, p.UpperCode);
  if (!q.empty() && q.back() == '&') q.pop_back();
  return q;
}

std::string BuildPropQuery(const PropSiteParams& p, const PropChoices& c, TDateTime now) {
  std::string q = p.Path;
  q += "width=" + std::to_string(c.Width) + "&height=" + std::to_string(c.Height) + "&";
  std::string compare;
  for (const std::string& w : Words(c.CompareText)) compare += (compare.empty() ? "" : ",") + UrlEncodeParam(w);
  if (!compare.empty()) q += "compare=" + compare + "&";
  q += ReplaceMarkerWithDates(p.SymbParm, UrlEncodeParam(c.Symbol), now, true) + "&";
  q += ReplaceMarkerWithDates(p.PeriodParm, c.PeriodCode, now, false) + "&";
  q += ReplaceMarkerWithDates(p.FreqParm, c.FreqCode, now, false) + "&";
  q += ReplaceMarkerWithDates(p.PriceParm, c.PriceCode, now, false) + "&";
  q += ReplaceMarkerWithDates(p.StyleParm, c.StyleCode, now, false) + "&";
  q += c.LogScale ? "price.scale=1&" : "price.scale=0&";
  q += PropIndicatorQuery(p, c);
  while (!q.empty() && q.back() == '&') q.pop_back();
  return q;
}

std::string PropCacheKey(const PropChoices& c) {
  const std::vector<std::string> f{std::to_string(c.Width), std::to_string(c.Height), c.Symbol, c.PeriodCode,
                                   c.FreqCode, c.PriceCode, c.StyleCode, c.LogScale ? "Y" : "N", c.MaCode,
                                   c.MaValues, PropCompareList(c.CompareText), c.TopFlags, c.BottomFlags};
  std::string key;
  for (const std::string& s : f) key += s + '\x1f';
  return key;
}

std::vector<std::string> SplitStateFields(std::string_view text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t bar; (bar = text.find('|', start)) != std::string_view::npos; start = bar + 1)
    out.emplace_back(text.substr(start, bar - start));
  return out;
}

std::string JoinStateFields(const std::vector<std::string>& fields) {
  std::string out;
  for (const std::string& f : fields) {
    std::string clean = f;
    std::replace(clean.begin(), clean.end(), '|', ' ');  // a typed "|" must not shift the fields
    out += clean + "|";
  }
  return out;
}

bool ParseSiteId(std::string_view page, std::string& id) {
  id.clear();
  const size_t at = page.find("sid=");
  if (at == std::string_view::npos) return false;
  const std::string_view rest = page.substr(at + 4);
  const size_t end = rest.find_first_of("&\"'<> \t\r\n");
  id = std::string(rest.substr(0, end == std::string_view::npos ? rest.size() : end));
  if (id.empty() || id.size() > 64 || id.find('|') != std::string::npos) {
    id.clear();
    return false;
  }
  return true;
}

bool FindSiteId(std::string_view cache, std::string_view symbol, std::string& id) {
  // Pair by pair: an identifier that equals a symbol must not be read as one.
  const std::vector<std::string> f = SplitStateFields(cache.substr(cache.empty() || cache[0] != '|' ? 0 : 1));
  for (size_t i = 0; i + 1 < f.size(); i += 2) {
    if (f[i] == symbol && !f[i + 1].empty()) {
      id = f[i + 1];
      return true;
    }
  }
  return false;
}

void AddSiteId(std::string& cache, std::string_view symbol, std::string_view id) {
  if (symbol.empty() || id.empty() || symbol.find('|') != std::string_view::npos ||
      id.find('|') != std::string_view::npos)
    return;
  if (cache.empty()) cache = "|";
  cache += std::string(symbol) + "|" + std::string(id) + "|";
}

bool ParseWipeStamp(std::string_view text, TDateTime& out) {
  const std::string t = Trim(text);
  const size_t blank = t.find(' ');
  if (blank == std::string::npos) return false;
  int a = 0, b = 0, c = 0, hh = 0, mm = 0, ss = 0;
  char s1 = 0, s2 = 0;
  if (std::sscanf(t.c_str(), "%d%c%d%c%d", &a, &s1, &b, &s2, &c) != 5 || s1 != s2 || (s1 != '/' && s1 != '-'))
    return false;
  const int n = std::sscanf(t.c_str() + blank + 1, "%d:%d:%d", &hh, &mm, &ss);
  if (n < 2 || hh < 0 || hh > 23 || mm < 0 || mm > 59 || ss < 0 || ss > 59) return false;
  TDateTime date;
  const bool ok = s1 == '/' ? TryEncodeDate(c, a, b, date) : TryEncodeDate(a, b, c, date);
  if (!ok) return false;
  out = date + EncodeTime(hh, mm, n == 3 ? ss : 0, 0);
  return true;
}

bool SiteIdWipeDue(std::string_view paramText, std::string_view doneText) {
  TDateTime order = 0, done = 0;
  if (!ParseWipeStamp(paramText, order)) return false;
  if (!ParseWipeStamp(doneText, done)) return true;
  return order > done;
}
