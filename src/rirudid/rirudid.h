/* The streaming support library's C interface, shared by the library (librirudid.so) and the
 * program that loads it from its program folder with dlopen. The library reads the bodies of
 * quote and book records through the caller's blocking readers; it never sees the caller's
 * queue or windows. Record layouts: docs/file-formats.md, "Streaming records". */
#ifndef RIRUDID_H
#define RIRUDID_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define RIRUDID_VERSION "1.00"

#if defined(RIRUDID_BUILD)
#define RIRUDID_API __attribute__((visibility("default")))
#else
#define RIRUDID_API
#endif

/* The caller's blocking readers over one queue. Each waits until its bytes are there and
 * returns -1 when the record was cut short (the stream stopped or ended first). */
typedef struct RirudidReader {
  void* Queue;
  int (*ReadByte)(void* queue);                           /* 0..255, or -1 */
  int32_t (*ReadInt24)(void* queue);                      /* 3 bytes, least significant first */
  int (*ReadBytes)(void* queue, void* buffer, int count); /* count, or -1 */
} RirudidReader;

/* One quote record's fields. Prices and the volume as sent; QuoteTime is a fraction of a day. */
typedef struct RirudidQuote {
  char Symbol[256];
  char TickMark[256];
  double Bid, Ask, Last, Open, Low, High, Unused, PrevClose, Volume;
  double QuoteTime;
  int32_t LastSize, BidSize, AskSize;
} RirudidQuote;

/* Hands one book field to a window: the program turns it into a posted window message. */
typedef void (*RirudidPostFn)(void* window, int message, intptr_t wParam, intptr_t lParam);

/* Results of the readers. */
#define RIRUDID_OK 1
#define RIRUDID_CUT 0   /* the record was cut short: nothing of it is to be used */
#define RIRUDID_BAD -1  /* the record was read whole but holds values out of range */

/* Writes the version text ("1.00") with its terminating zero; returns its length, or -1 when
 * size is too small. */
RIRUDID_API int GetVersion(char* version, int size);
typedef int (*RirudidGetVersionFn)(char* version, int size);

/* Writes the password's encoding (SHA-1 as 40 lower-case hex digits) with its terminating
 * zero; returns 40, or -1 when size is below 41. */
RIRUDID_API int SHAEncode(const char* password, char* encoded, int size);
typedef int (*RirudidSHAEncodeFn)(const char* password, char* encoded, int size);

/* Consumes one quote record's body. A record whose symbol holds a control byte (NUL included)
 * is RIRUDID_BAD, so the Symbol handed over is the whole symbol as sent. */
RIRUDID_API int ReadVals(const RirudidReader* reader, RirudidQuote* quote);
typedef int (*RirudidReadValsFn)(const RirudidReader* reader, RirudidQuote* quote);

/* Consumes one book record's body and, only when it arrived whole, posts each field
 * (wParam = field code, lParam = value) to window in the order sent. */
RIRUDID_API int ReadIslandVal(const RirudidReader* reader, int message, void* window, RirudidPostFn post);
typedef int (*RirudidReadIslandValFn)(const RirudidReader* reader, int message, void* window, RirudidPostFn post);

#ifdef __cplusplus
}
#endif

#endif
