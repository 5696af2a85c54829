// Streaming records from outside bytes: each input is a reply body, read record by record as a
// streaming thread reads it (one-byte codes), with book fields fed to the book model. As there,
// the first record cut short ends the reading: what follows it is no records.
#include <cstddef>
#include <cstdint>
#include <string>

#include "rirudid/rirudid.h"
#include "streaming/client/book_model.h"
#include "streaming/client/http_streamer.h"

namespace {

void ToBook(void* book, int, intptr_t code, intptr_t value) {
  static_cast<BookModel*>(book)->Field(static_cast<int>(code), static_cast<int32_t>(value));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  THTTPStreamer q("fuzz", true);
  q.Write(reinterpret_cast<const char*>(data), size);
  q.SetEndProbe([] { return true; });  // the request has ended: a short record gives up at once
  const RirudidReader r = QueueReader(q);
  BookModel book;
  uint8_t code;
  std::string text;
  bool whole = true;
  while (whole && q.Read(&code, 1)) {
    switch (code) {
      case 'Q': {
        RirudidQuote quote;
        whole = ReadVals(&r, &quote) != RIRUDID_CUT;
        break;
      }
      case 'I': whole = ReadIslandVal(&r, 0, &book, ToBook) == RIRUDID_OK; break;
      case 'J': {
        int32_t n;
        whole = q.ReadInt24(n);
        if (whole) book.Field(2, n);
        break;
      }
      case 'F':
      case 'P': whole = q.ReadWordStr(text); break;
      case 'M': whole = q.ReadByte(code) && q.ReadShortStr(text) && q.ReadShortStr(text); break;
      default: break;
    }
  }
  return 0;
}
