#include "ads/banner/ad_params.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <vector>

#include "core/ad_locations.h"
#include "core/chart_cache.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/program_state.h"
#include "core/text_helpers.h"
#include "retrieval/param_files.h"

AdParamsState AdState;

namespace {

bool ToInt(std::string_view raw, int& out) {
  const std::string text = Trim(raw);
  if (text.empty()) return false;
  int64_t v = 0;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || p != text.data() + text.size()) return false;
  out = static_cast<int>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
  return true;
}

int IntOr(std::string_view text, int def) {
  int v = def;
  return ToInt(text, v) ? v : def;
}

std::vector<std::string> SplitFields(const std::string& text, const char* seps) {
  std::vector<std::string> out;
  std::string cur;
  bool any = false;
  for (char c : text) {
    if (std::strchr(seps, c)) {
      if (any) out.push_back(cur);
      cur.clear();
      any = false;
    } else {
      cur += c;
      any = true;
    }
  }
  if (any) out.push_back(cur);
  return out;
}

// Comma lists keep their empty entries (they are matched by position).
std::vector<std::string> CommaEntries(const std::string& text) {
  std::vector<std::string> out;
  if (text.empty()) return out;
  size_t start = 0;
  for (;;) {
    size_t comma = text.find(',', start);
    out.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

// Removes every cached banner: "GIF" + number + ".GIF" in any case.
void WipeCachedBanners() {
  namespace fs = std::filesystem;
  std::error_code ec;
  const std::string dir = ChartCacheDir();
  for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = UpperCase(it->path().filename().string());
    if (name.size() > 7 && name.rfind("GIF", 0) == 0 && name.substr(name.size() - 4) == ".GIF" &&
        it->is_regular_file(ec))
      fs::remove(it->path(), ec);
  }
}

}  // namespace

AdRandom DefaultAdRandom() {
  return [](int64_t range) { return LockedRandom(range, true); };
}

void ParseAdSequence(const std::string& text, std::bitset<256>& set, int& pos) {
  set.reset();
  pos = -1;
  // Alternating runs of digits and other characters.
  std::vector<std::pair<bool, std::string>> runs;
  for (char c : text) {
    const bool digit = std::isdigit(static_cast<unsigned char>(c)) != 0;
    if (runs.empty() || runs.back().first != digit) runs.push_back({digit, {}});
    runs.back().second += c;
  }
  auto number = [](const std::string& s, int& v) { return ToInt(s.size() > 9 ? s.substr(0, 9) + "9" : s, v); };
  for (size_t i = 0; i < runs.size(); ++i) {
    if (!runs[i].first) continue;
    int a = 0;
    if (!number(runs[i].second, a)) continue;
    if (a >= 0 && a <= 255) set.set(size_t(a));
    if (i + 2 < runs.size() && runs[i + 1].second == ".." && runs[i + 2].first) {
      int b = 0;
      if (number(runs[i + 2].second, b))
        for (int n = std::max(a, 0); n <= std::min(b, 255); ++n) set.set(size_t(n));
    }
  }
  for (int n = 0; n < 256; ++n)
    if (set.test(size_t(n))) {
      pos = n;
      break;
    }
}

void ReadAdParams(const StringList& params) {
  auto param = [&](const std::string& key, const char* def = "") { return GetSiteParam(params, key, def); };
  AdSettingsRec s;
  s.InactiveTime = IntOr(param("INACTIVETIME", "60"), 60);
  s.BlockObscured = param("BLOCKOBSCURED", "NO") == "YES";
  s.BlockPartObscured = param("BLOCKPARTOBSCURED", "NO") == "YES";
  double perc = 50.0;
  const std::string percText = Trim(param("OBSCUREDPERC", "50.0"));
  auto [p, ec] = std::from_chars(percText.data(), percText.data() + percText.size(), perc);
  if (ec != std::errc() || p != percText.data() + percText.size()) perc = 50.0;
  s.ObscuredPerc = perc;
  s.DelayAfterClick = IntOr(param("DELAYAFTERCLICK", "10"), 10);
  s.ServerCanProxy = param("SERVERCANPROXY", "NO") == "YES";
  s.ClearErrorsInterval = IntOr(param("CLEARERRORSINTERVAL", "180"), 180);
  s.FetchErrorDelay = IntOr(param("FETCHERRORDELAY", "10"), 10);

  AdParamsState state;
  for (int n = 1; n <= 100; ++n) {
    std::string blurb = param("BLURB" + std::to_string(n));
    if (blurb.empty()) break;
    if (blurb.size() > MaxBlurbLength) {
      size_t cut = MaxBlurbLength;
      while (cut > 0 && (static_cast<unsigned char>(blurb[cut]) & 0xC0) == 0x80) --cut;
      blurb.resize(cut);
    }
    state.Blurbs.Add(blurb);
  }
  for (int n = 1; n <= 10; ++n) {
    const std::string text = param("ADRAND" + std::to_string(n));
    if (text.empty()) break;
    const auto f = SplitFields(text, " ,");
    AdMacroState& m = state.Macros;
    m.RandMin[n] = f.size() > 0 ? IntOr(f[0], 0) : 0;
    m.RandMax[n] = f.size() > 1 ? IntOr(f[1], 0) : 0;
    m.RandDigits[n] = std::clamp(f.size() > 2 ? IntOr(f[2], 0) : 0, 0, 18);
    m.RandSet[n] = true;
  }
  for (int n = 1; n <= 10; ++n)
    ParseAdSequence(param("ADSEQ" + std::to_string(n)), state.Macros.SeqSet[n], state.Macros.SeqPos[n]);

  std::array<GIFAdRec, AdRowCount + 1> table{};
  int row = 0;
  const std::string cacheDir = ChartCacheDir();
  for (int n = 1; n <= 200 && row < AdRowCount; ++n) {
    const std::string num = std::to_string(n);
    GIFAdRec ad;
    ad.Source = param("AD1SORC" + num);
    if (ad.Source.empty()) break;
    ad.Link = param("AD1HREF" + num);
    ad.Redirect = param("ADREDIR" + num, "Y") == "Y";
    ad.Cache = param("ADCACHE" + num, "N") == "Y";
    const std::string timr = param("ADTIMR" + num);
    const auto periods = CommaEntries(timr);
    const auto weekend = CommaEntries(param("ADTIMRWE" + num, timr.c_str()));
    const auto weights = CommaEntries(param("ADWGHT" + num));
    const auto kinds = CommaEntries(param("ADLOCT" + num));
    if (ad.Link.empty() || kinds.size() != periods.size() || kinds.size() != weights.size()) continue;
    if (ad.Source.size() > MaxAdAddressLength || ad.Link.size() > MaxAdAddressLength) {
      WriteLog("reklama.par: ad " + num + " dropped, its source or link is longer than " +
               std::to_string(MaxAdAddressLength) + " characters");
      continue;
    }
    for (size_t i = 0; i < kinds.size() && row < AdRowCount; ++i) {
      GIFAdRec r = ad;
      r.Period = IntOr(periods[i], 0);
      r.WeekendPeriod = i < weekend.size() ? IntOr(weekend[i], r.Period) : r.Period;
      r.Weight = IntOr(weights[i], 0);
      r.Location = IntOr(kinds[i], 0);
      if (!r.Period || !r.Location || !r.Weight) continue;
      // One cache file per row, so two rows of one kind never show each other's banner.
      r.CacheFile = r.Cache ? cacheDir + "GIF" + std::to_string(row + 1) + ".GIF" : std::string();
      table[size_t(++row)] = std::move(r);
    }
  }
  {
    std::lock_guard lock(AdLock);
    AdSettings = s;
    AdState = std::move(state);
    AdTable = std::move(table);
  }
  WipeCachedBanners();
}

namespace {

// Replaces every macro that begins with tag in one pass over text. The first one's value comes
// from make(n) (n 0 when its number is not 1..10) and every later one takes the same value; a
// macro without its closing "##" loses the tag and ends the pass.
template <typename Make>
void ExpandMacro(std::string& text, std::string_view tag, std::optional<std::string>& value, Make make) {
  size_t at = text.find(tag);
  if (at == std::string::npos) return;
  std::string out;
  out.reserve(text.size());
  size_t from = 0;
  for (; at != std::string::npos; at = text.find(tag, from)) {
    out.append(text, from, at - from);
    const size_t open = at + tag.size();
    const size_t close = text.find("##", open);
    if (close == std::string::npos) {
      from = open;
      break;
    }
    if (!value) {
      int n = 0;
      const bool known = ToInt(std::string_view(text).substr(open, close - open), n) && n >= 1 && n <= 10;
      value = known ? make(n) : std::string();
    }
    out += *value;
    from = close + 2;
  }
  out.append(text, from, std::string::npos);
  text = std::move(out);
}

}  // namespace

void ExpandAdMacros(std::string& source, std::string& link, bool advance, AdMacroState& m, const AdRandom& random) {
  std::optional<std::string> seqValue, randValue;
  auto nextSeq = [&](int n) {
    std::lock_guard lock(AdLock);
    if (m.SeqPos[n] < 0) return std::string();
    std::string v = std::to_string(m.SeqPos[n]);
    if (advance) {
      int p = m.SeqPos[n];
      for (int i = 0; i < 257; ++i) {
        p = (p + 1) % 256;
        if (m.SeqSet[n].test(size_t(p))) break;
      }
      m.SeqPos[n] = p;
    }
    return v;
  };
  auto nextRand = [&](int n) {
    int64_t lo = 0, hi = 0;
    int digitsWanted = 0;
    {
      std::lock_guard lock(AdLock);
      if (!m.RandSet[n]) return std::string();
      lo = m.RandMin[n];
      hi = std::max<int64_t>(m.RandMax[n], lo);
      digitsWanted = m.RandDigits[n];
    }
    const int64_t span = hi - lo + 1;
    std::string v = std::to_string(lo + (span > 1 ? random(span) : 0));
    const bool negative = !v.empty() && v[0] == '-';
    std::string digits = negative ? v.substr(1) : v;
    if (int(digits.size()) < digitsWanted) digits.insert(0, size_t(digitsWanted) - digits.size(), '0');
    return (negative ? "-" : "") + digits;
  };
  for (std::string* text : {&source, &link}) {
    ExpandMacro(*text, "##SEQ", seqValue, nextSeq);
    ExpandMacro(*text, "##RAND", randValue, nextRand);
  }
}

int PickAd(int kind, std::string& source, std::string& link, bool& redirect, const AdRandom& random) {
  int chosen = 0;
  {
    std::lock_guard lock(AdLock);
    std::vector<int> candidates;
    for (int r = 1; r <= AdRowCount; ++r) {
      const GIFAdRec& ad = AdTable[size_t(r)];
      if (ad.Source.empty() || ad.Location != kind || ad.Failed) continue;
      if (UseProxy && ad.Source == "SERVERAD" && !AdSettings.ServerCanProxy) continue;
      candidates.push_back(r);
    }
    if (candidates.empty()) return 0;
    int64_t wmin = 100000, wmax = 0;
    for (int r : candidates) {
      wmin = std::min<int64_t>(wmin, AdTable[size_t(r)].Weight);
      wmax = std::max<int64_t>(wmax, AdTable[size_t(r)].Weight);
    }
    // Shares stay below 2^33 each, so 200 of them add up within 64 bits.
    int64_t total = 0;
    std::vector<int64_t> shares;
    for (int r : candidates) {
      shares.push_back(std::max<int64_t>(0, wmin + wmax - AdTable[size_t(r)].Weight));
      total += shares.back();
    }
    chosen = candidates.back();
    if (total <= 0) {
      chosen = candidates[size_t(random(int64_t(candidates.size())))];
    } else {
      const int64_t pick = random(total) + 1;
      int64_t sum = 0;
      for (size_t i = 0; i < candidates.size(); ++i) {
        sum += shares[i];
        if (sum >= pick) {
          chosen = candidates[i];
          break;
        }
      }
    }
    const GIFAdRec& ad = AdTable[size_t(chosen)];
    source = ad.Source;
    link = ad.Link;
    redirect = ad.Redirect;
  }
  ExpandAdMacros(source, link, true, AdState.Macros, random);
  return chosen;
}
