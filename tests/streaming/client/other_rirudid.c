/* Stand-ins for a damaged or old support library: with RIRUDID_PARTIAL only GetVersion is
 * exported, with RIRUDID_NO_VERSION all calls but GetVersion; otherwise all four calls,
 * reporting version "0.99". */
#include <string.h>

#include "rirudid/rirudid.h"

#ifndef RIRUDID_NO_VERSION
__attribute__((visibility("default"))) int GetVersion(char* version, int size) {
  if (size < 5) return -1;
  strcpy(version, "0.99");
  return 4;
}
#endif

#ifndef RIRUDID_PARTIAL
__attribute__((visibility("default"))) int SHAEncode(const char* password, char* encoded, int size) {
  (void)password;
  if (size < 41) return -1;
  memset(encoded, '0', 40);
  encoded[40] = 0;
  return 40;
}
__attribute__((visibility("default"))) int ReadVals(const RirudidReader* reader, RirudidQuote* quote) {
  (void)reader, (void)quote;
  return RIRUDID_CUT;
}
__attribute__((visibility("default"))) int ReadIslandVal(const RirudidReader* reader, int message, void* window,
                                                         RirudidPostFn post) {
  (void)reader, (void)message, (void)window, (void)post;
  return RIRUDID_CUT;
}
#endif
