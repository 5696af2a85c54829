// Outside bytes the foundation reads: portfolio lines, price texts and split fields (the quote
// server passes request text through them), and the dump files.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/dumps.h"
#include "core/portfolios.h"
#include "core/text_helpers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 4) {
    case 0: {
      std::vector<PortType> ports;
      ParsePortText(text, ports);
      break;
    }
    case 1: {
      try {
        ParsePrice(text);
      } catch (const EConvertError&) {
      }
      StringList fields;
      SplitDelimited(text, fields, "(),");
      FormatPriceFraction(static_cast<double>(text.size()) / 64.0);
      break;
    }
    default: {
      static const std::string path = "/tmp/vn_fuzz_dump_" + std::to_string(::getpid());
      if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
      }
      if (data[0] % 4 == 2) LoadQuoteDump(path);
      else LoadNewsDump(path);
      break;
    }
  }
  return 0;
}
