// Definition files and page scripts from outside: the input is a definition file, a 0xFF byte
// and a page; a file that loads has each of its script blocks run over the page.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/sites.h"
#include "retrieval/site_files.h"
#include "retrieval/site_script.h"

namespace {
struct Discard : ScriptSink {
  bool Take(const ScriptRecord& r) override { return !r.Fields.empty(); }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  size_t cut = all.find('\xff');
  std::string_view file = all.substr(0, cut);
  std::string_view page = cut == std::string_view::npos ? std::string_view() : all.substr(cut + 1);
  HTTPSite site;
  StringList params;
  std::string error;
  LoadSiteText(file, "fuzz.SDF", site, &params, error);
  if (!error.empty() || !site.Script) return 0;
  Discard sink;
  for (int m = 0; m < static_cast<int>(ScriptMode::Count); ++m) {
    if (static_cast<ScriptMode>(m) == ScriptMode::Login) continue;  // needs the network
    RunScriptBlock(*site.Script, static_cast<ScriptMode>(m), page, sink, nullptr);
  }
  return 0;
}
