#include "windows/dialogs/lookup_search.h"

#include "core/text_helpers.h"
#include "platform/string_list.h"
#include "retrieval/param_files.h"

namespace {
void FillFirstParam(std::string& text, const std::string& encoded) {
  const size_t at = text.find("##PARAM##");
  if (at != std::string::npos) text.replace(at, 9, encoded);
}

bool ContainsNoCase(const std::string& text, const std::string& part) {
  return !part.empty() && UpperCase(text).find(UpperCase(part)) != std::string::npos;
}
}  // namespace

LookupRequest BuildLookupRequest(const StringList& params, const std::string& terms) {
  LookupRequest r;
  r.Method = UpperCase(Trim(GetSiteParam(params, "LOOKUPMETH", "GET")));
  if (r.Method.empty()) r.Method = "GET";
  r.PostData = GetSiteParam(params, "LOOKUPDATA", "");
  r.Host = Trim(GetSiteParam(params, "LOOKUPSITE", DefaultLookupHost));
  r.Path = GetSiteParam(params, "LOOKUPPATH", "/l?s=##PARAM##");
  r.NoMatchText = GetSiteParam(params, "LOOKUPNOMATCH", "no matches");
  r.TooManyText = GetSiteParam(params, "LOOKUPTOOMANY", "first 200");
  const std::string encoded = UrlEncodeParam(terms);
  FillFirstParam(r.Path, encoded);
  FillFirstParam(r.PostData, encoded);
  r.ExtraHeader = r.Method == "GET" ? "Content-type: html/text" : "Content-Type: application/x-www-form-urlencoded";
  return r;
}

LookupOutcome ClassifyLookupPage(const std::string& page, bool failed, bool cancelled, const std::string& noMatchText) {
  if (failed && !cancelled) return LookupOutcome::Error;
  if (cancelled) return LookupOutcome::Cancelled;
  if (ContainsNoCase(page, noMatchText)) return LookupOutcome::NoMatch;
  return LookupOutcome::Results;
}

std::string LookupResultsLabel(const std::string& page, const std::string& tooManyText) {
  return ContainsNoCase(page, tooManyText) ? "Lookup Results: (only first 200 shown) click on the one you want."
                                           : "Lookup Results: click on the one you want.";
}

namespace {
// The charset a page declares in its head ("<meta charset=...>" or a Content-Type meta),
// lower case; empty when it declares none.
std::string DeclaredCharset(const std::string& page) {
  const std::string head = LowerCase(std::string_view(page).substr(0, 4096));
  for (size_t at = head.find("charset"); at != std::string::npos; at = head.find("charset", at + 7)) {
    size_t i = head.find_first_not_of(" \t\r\n", at + 7);
    if (i == std::string::npos || head[i] != '=') continue;
    i = head.find_first_not_of(" \t\r\n\"'", i + 1);
    if (i == std::string::npos) break;
    const size_t end = head.find_first_of(" \t\r\n\"';>/", i);
    return head.substr(i, end == std::string::npos ? std::string::npos : end - i);
  }
  return "";
}

// Well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
bool ValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t extra = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) extra = 1;
    else if (c >= 0xE0 && c <= 0xEF) extra = 2, lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4) extra = 3, lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
    else return false;
    if (i + extra >= s.size()) return false;
    const unsigned char second = static_cast<unsigned char>(s[i + 1]);
    if (second < lo || second > hi) return false;
    for (size_t k = 2; k <= extra; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += extra + 1;
  }
  return true;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Windows-1252 in 0x80..0x9F (0: unassigned, read as Latin-1); Latin-1 elsewhere. Browsers
// read pages declared Latin-1 or ASCII this way too.
constexpr char16_t Cp1252High[32] = {0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                     0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                     0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

std::string WesternToUtf8(const std::string& page) {
  std::string out;
  out.reserve(page.size() + page.size() / 8);
  for (char ch : page) {
    const unsigned char c = static_cast<unsigned char>(ch);
    const char32_t high = c >= 0x80 && c < 0xA0 ? Cp1252High[c - 0x80] : 0;
    AppendUtf8(out, high ? high : c);
  }
  return out;
}
}  // namespace

std::string PageAsUtf8(const std::string& page) {
  static const char* const western[] = {"iso-8859-1", "iso8859-1", "iso_8859-1", "latin1", "l1", "us-ascii",
                                        "ascii", "windows-1252", "cp1252", "x-cp1252"};
  const std::string charset = DeclaredCharset(page);
  for (const char* name : western)
    if (charset == name) return WesternToUtf8(page);
  // UTF-8, declared or not; bytes that are no UTF-8 are read as the western set.
  return ValidUtf8(page) ? page : WesternToUtf8(page);
}
