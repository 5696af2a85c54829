#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text_routines.h"

namespace vn::net {

// Ordered name=value lines of an HTTP header. Names compare without regard to case.
class THeaderList {
 public:
  void Add(std::string name, std::string value) {
    fItems.emplace_back(std::move(name), std::move(value));
  }
  // The value of the first line with this name; empty when there is none.
  std::string Values(std::string_view name) const {
    for (const auto& [n, v] : fItems)
      if (SameTextAscii(n, name)) return v;
    return {};
  }
  // Replaces the value of the first line with this name, or adds the line.
  void SetValue(std::string_view name, std::string value) {
    for (auto& [n, v] : fItems)
      if (SameTextAscii(n, name)) {
        v = std::move(value);
        return;
      }
    fItems.emplace_back(std::string(name), std::move(value));
  }
  bool Has(std::string_view name) const {
    for (const auto& item : fItems)
      if (SameTextAscii(item.first, name)) return true;
    return false;
  }
  void Clear() { fItems.clear(); }
  size_t Count() const { return fItems.size(); }
  bool Empty() const { return fItems.empty(); }
  const std::pair<std::string, std::string>& operator[](size_t i) const { return fItems[i]; }
  std::pair<std::string, std::string>& Back() { return fItems.back(); }

  auto begin() const { return fItems.begin(); }
  auto end() const { return fItems.end(); }

 private:
  std::vector<std::pair<std::string, std::string>> fItems;
};

}  // namespace vn::net
