// Pages the small dialogs read from outside: a look-up result page turned into UTF-8 by the
// charset it declares, and the two master-clock pages. The UTF-8 made must be well formed.
#include <QByteArray>
#include <QStringDecoder>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "windows/dialogs/lookup_search.h"
#include "windows/dialogs/time_sync.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string page(reinterpret_cast<const char*>(data), size);
  const std::string text = PageAsUtf8(page);
  QStringDecoder utf8(QStringDecoder::Utf8);
  const QString decoded = utf8(QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())));
  if (utf8.hasError()) std::abort();
  ReadMasterPage1(page);
  ReadMasterPage2(page);
  return 0;
}
