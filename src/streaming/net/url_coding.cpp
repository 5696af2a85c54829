#include "url_coding.h"

#include <array>

#include "socket_errors.h"
#include "text_routines.h"

namespace vn::net {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value of the escape starting at text[i] ("%XY"), or -1.
int EscapeAt(std::string_view text, size_t i) {
  if (text[i] != '%' || i + 2 >= text.size()) return -1;
  const int hi = HexValue(text[i + 1]);
  const int lo = HexValue(text[i + 2]);
  return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

}  // namespace

std::string DecodeUrl(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const int v = text[i] == '%' ? EscapeAt(text, i) : -1;
    if (v < 0) {
      out += text[i];
      continue;
    }
    if (v != 0) out += static_cast<char>(v);
    i += 2;
  }
  return out;
}

bool HasValidEscapes(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (EscapeAt(text, i) < 0) return false;
    i += 2;
  }
  return true;
}

std::vector<std::string> DecodeQueryParams(std::string_view query) {
  // Most queries hold nothing to decode: one line as it is. A quote request's query may be
  // long: one vectorised find per special character is far quicker than find_first_of, which
  // tests every byte against the set.
  bool plain = true;
  for (char special : {'%', '+', '&', '\r', '\n'}) plain = plain && query.find(special) == std::string_view::npos;
  if (plain) {
    if (query.empty()) return {};
    return {std::string(query)};
  }
  // Line breaks may not be smuggled into the list: CR becomes ESC and LF goes.
  std::string text;
  text.reserve(query.size());
  for (size_t i = 0; i < query.size(); ++i) {
    if (query[i] == '%' && i + 2 < query.size() && query[i + 1] == '0') {
      const char c = query[i + 2];
      if (c == 'D' || c == 'd') {
        text += '\x1b';
        i += 2;
        continue;
      }
      if (c == 'A' || c == 'a') {
        i += 2;
        continue;
      }
    }
    text += query[i];
  }
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded += text[i];
      continue;
    }
    const int v = EscapeAt(text, i);
    if (v < 0) throw EWinshoeException("Bad escape in the query.");
    decoded += static_cast<char>(v);
    i += 2;
  }
  std::vector<std::string> lines;
  std::string line;
  for (char c : decoded) {
    if (c == '+') {
      line += ' ';
    } else if (c == '&' || c == '\r' || c == '\n') {
      lines.push_back(std::move(line));
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

std::string DecodeBase64(std::string_view text) {
  static const auto table = [] {
    std::array<signed char, 256> t{};
    t.fill(-1);
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
    return t;
  }();
  std::string out;
  const size_t units = text.size() / 4;
  for (size_t u = 0; u < units; ++u) {
    const std::string_view unit = text.substr(u * 4, 4);
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = unit[static_cast<size_t>(k)];
      if (c == '=' && k >= 2) {
        v[k] = 0;
        ++pad;
        continue;
      }
      if (pad > 0) throw EWinshoeException("Invalid Base64 text.");
      v[k] = table[static_cast<unsigned char>(c)];
      if (v[k] < 0) throw EWinshoeException("Invalid Base64 text.");
    }
    const unsigned bits = (static_cast<unsigned>(v[0]) << 18) | (static_cast<unsigned>(v[1]) << 12) |
                          (static_cast<unsigned>(v[2]) << 6) | static_cast<unsigned>(v[3]);
    out += static_cast<char>((bits >> 16) & 0xFF);
    if (pad < 2) out += static_cast<char>((bits >> 8) & 0xFF);
    if (pad < 1) out += static_cast<char>(bits & 0xFF);
  }
  return out;
}

bool IsLoopbackHost(std::string_view hostHeader) {
  const std::string host = TrimAscii(hostHeader);
  std::string_view name = host;
  std::string_view port;
  if (!name.empty() && name.front() == '[') {
    const size_t close = name.find(']');
    if (close == std::string_view::npos) return false;
    std::string_view rest = name.substr(close + 1);
    name = name.substr(0, close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
      if (port.empty()) return false;
    }
  } else {
    const size_t colon = name.find(':');
    if (colon != std::string_view::npos) {
      port = name.substr(colon + 1);
      name = name.substr(0, colon);
      if (port.empty()) return false;
    }
  }
  if (port.size() > 5) return false;
  for (char c : port)
    if (c < '0' || c > '9') return false;
  return name == "127.0.0.1" || SameTextAscii(name, "localhost") || name == "[::1]";
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace vn::net
