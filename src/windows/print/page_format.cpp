#include "windows/print/page_format.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "core/text_helpers.h"

std::vector<std::string> SplitTokens(std::string_view text, char separator) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    if (at == std::string_view::npos) {
      out.emplace_back(text.substr(start));
      return out;
    }
    out.emplace_back(text.substr(start, at - start));
    start = at + 1;
  }
}

namespace {

bool IsAlignChar(char c) { return c == '<' || c == '>' || c == '^'; }

// Reads a width the way the settings do: "." always, surrounding blanks allowed.
double ReadWidth(std::string_view text) {
  const std::string t = Trim(std::string(text));
  double value = 0;
  const char* end = t.data() + t.size();
  auto [ptr, ec] = std::from_chars(t.data(), end, value);
  if (t.empty() || ec != std::errc() || ptr != end || !std::isfinite(value))
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  return value;
}

template <typename Fn>
std::string RewriteFormat(std::string_view text, char separator, Fn width) {
  std::string out;
  bool first = true;
  for (const std::string& cell : SplitTokens(text, separator)) {
    if (!first) out += separator;
    first = false;
    std::string_view rest = cell;
    char align = '<';
    if (!rest.empty() && IsAlignChar(rest.front())) {
      align = rest.front();
      rest.remove_prefix(1);
    }
    out += align;
    if (!Trim(std::string(rest)).empty()) out += ShortestDecimal(width(ReadWidth(rest)));
  }
  return out;
}

}  // namespace

std::vector<CellFormat> ParseTableFormat(std::string_view text, char separator, double defaultWidth) {
  std::vector<CellFormat> out;
  for (const std::string& cell : SplitTokens(text, separator)) {
    CellFormat f;
    std::string_view rest = cell;
    if (!rest.empty() && IsAlignChar(rest.front())) {
      f.Align = rest.front();
      rest.remove_prefix(1);
    }
    f.Width = Trim(std::string(rest)).empty() ? defaultWidth : ReadWidth(rest);
    out.push_back(f);
  }
  return out;
}

std::string NormalTableFormat(std::string_view text, char separator) {
  return RewriteFormat(text, separator, [](double w) { return w; });
}

double ConvertLength(double length, bool toMillimetres) { return toMillimetres ? length * 25.4 : length / 25.4; }

std::string ConvertTableFormat(std::string_view text, char separator, bool toMillimetres) {
  return RewriteFormat(text, separator, [toMillimetres](double w) { return ConvertLength(w, toMillimetres); });
}

std::string ShortestDecimal(double value) {
  if (!std::isfinite(value)) return "0";
  if (value == 0) return "0";  // no "-0"
  char buf[64];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, ptr) : std::string("0");
}

QString ExpandTabs(const QString& text, int tabSize) {
  if (tabSize < 1 || !text.contains(QLatin1Char('\t'))) return text;
  QString out;
  out.reserve(text.size() + tabSize);
  for (QChar c : text) {
    if (c == QLatin1Char('\t')) {
      const qsizetype n = tabSize - out.size() % tabSize;
      out.append(QString(n, QLatin1Char(' ')));
    } else {
      out.append(c);
    }
  }
  return out;
}

LineCut CutLine(const QString& text, double width, const std::function<double(const QString&)>& measure,
                bool consumeBlank) {
  const int n = static_cast<int>(text.size());
  if (n == 0) return {};
  // Longest fitting prefix by halving; one character always goes, so a line never stays empty.
  int lo = 1, hi = n;
  while (lo < hi) {
    const int mid = lo + (hi - lo + 1) / 2;
    if (measure(text.left(mid)) <= width) lo = mid;
    else hi = mid - 1;
  }
  int len = lo;
  // Never split a surrogate pair.
  if (len < n && text.at(len).isLowSurrogate() && len > 1) --len;
  if (len >= n) return {n, n};
  if (text.at(len).unicode() > 32) {
    for (int i = len - 1; i >= 0; --i) {
      if (text.at(i).unicode() <= 32) return {i + 1, i + 1};
    }
    return {len, len};
  }
  return {len, consumeBlank ? len + 1 : len};
}

std::string ReplaceMacros(std::string text, int line, int page, TDateTime now, std::string_view title) {
  if (text.find("{$") == std::string::npos) return text;
  ReplaceAll(text, "{$LINE}", std::to_string(line), false);
  ReplaceAll(text, "{$PAGE}", std::to_string(page), false);
  ReplaceAll(text, "{$DATE}", FormatDateTime("ddddd", now), false);
  ReplaceAll(text, "{$TIME}", FormatDateTime("tt", now), false);
  ReplaceAll(text, "{$TITLE}", title, false);
  return text;
}

std::pair<std::string, std::string> FriendlyToHeader(std::string_view code, double printableWidth,
                                                     std::string_view fileName, TDateTime now, char separator) {
  struct Section {
    char Align;
    std::string Text;
  };
  std::vector<Section> sections{{'<', std::string()}};
  bool leadingImplicit = true;  // the text before the first section code
  for (size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    if (c != '&' || i + 1 >= code.size()) {
      if (c != '&') sections.back().Text += c;
      continue;
    }
    const char k = code[++i];
    std::string& t = sections.back().Text;
    switch (k) {
      case '&': t += '&'; break;
      case 'd': t += FormatDateTime("ddddd", now); break;
      case 'D': t += FormatDateTime("dddddd", now); break;
      case 't': t += FormatDateTime("t", now); break;
      case 'T': t += FormatDateTime("tt", now); break;
      case 'F': t += fileName; break;
      case 'f': {
        const size_t slash = fileName.find_last_of("/\\");
        t += slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
        break;
      }
      case 'p': t += "{$PAGE}"; break;
      case 'i': t += "{$TITLE}"; break;
      case 'l': case 'c': case 'r':
        if (leadingImplicit && sections.size() == 1 && sections[0].Text.empty()) sections.clear();
        leadingImplicit = false;
        sections.push_back({k == 'l' ? '<' : k == 'c' ? '^' : '>', std::string()});
        break;
      default: break;  // other codes produce nothing
    }
  }
  if (sections.size() == 1 && sections[0].Text.empty() && leadingImplicit) return {};
  const std::string width = ShortestDecimal(printableWidth / static_cast<double>(sections.size()));
  std::string row, format;
  for (size_t i = 0; i < sections.size(); ++i) {
    if (i) {
      row += separator;
      format += separator;
    }
    row += sections[i].Text;
    format += sections[i].Align;
    format += width;
  }
  return {row, format};
}
