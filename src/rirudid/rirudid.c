/* The streaming support library: the password encoding and the readers of quote and book
 * record bodies (layouts in docs/file-formats.md, "Streaming records"). */
#define RIRUDID_BUILD
#include "rirudid.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* ---- SHA-1 ---- */

typedef struct {
  uint32_t h[5];
  uint64_t length;
  unsigned char block[64];
  size_t used;
} Sha1;

static uint32_t Rol(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

static void Sha1Block(Sha1* s, const unsigned char* p) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = ((uint32_t)p[4 * i] << 24) | ((uint32_t)p[4 * i + 1] << 16) | ((uint32_t)p[4 * i + 2] << 8) | p[4 * i + 3];
  for (int i = 16; i < 80; ++i) w[i] = Rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = s->h[0], b = s->h[1], c = s->h[2], d = s->h[3], e = s->h[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) f = (b & c) | (~b & d), k = 0x5A827999u;
    else if (i < 40) f = b ^ c ^ d, k = 0x6ED9EBA1u;
    else if (i < 60) f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDCu;
    else f = b ^ c ^ d, k = 0xCA62C1D6u;
    uint32_t t = Rol(a, 5) + f + e + k + w[i];
    e = d, d = c, c = Rol(b, 30), b = a, a = t;
  }
  s->h[0] += a, s->h[1] += b, s->h[2] += c, s->h[3] += d, s->h[4] += e;
}

static void Sha1Add(Sha1* s, const unsigned char* p, size_t n) {
  s->length += n;
  while (n) {
    size_t take = 64 - s->used;
    if (take > n) take = n;
    memcpy(s->block + s->used, p, take);
    s->used += take, p += take, n -= take;
    if (s->used == 64) Sha1Block(s, s->block), s->used = 0;
  }
}

static void Sha1Hex(const char* text, char* out) {
  Sha1 s = {{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u}, 0, {0}, 0};
  Sha1Add(&s, (const unsigned char*)text, strlen(text));
  uint64_t bits = s.length * 8;
  unsigned char pad = 0x80, zero = 0, len[8];
  Sha1Add(&s, &pad, 1);
  while (s.used != 56) Sha1Add(&s, &zero, 1);
  for (int i = 0; i < 8; ++i) len[i] = (unsigned char)(bits >> (56 - 8 * i));
  Sha1Add(&s, len, 8);
  for (int i = 0; i < 5; ++i) sprintf(out + 8 * i, "%08x", s.h[i]);
}

/* ---- the exported calls ---- */

int GetVersion(char* version, int size) {
  const int n = (int)strlen(RIRUDID_VERSION);
  if (!version || size <= n) return -1;
  memcpy(version, RIRUDID_VERSION, (size_t)n + 1);
  return n;
}

int SHAEncode(const char* password, char* encoded, int size) {
  if (!encoded || size < 41) return -1;
  Sha1Hex(password ? password : "", encoded);
  return 40;
}

/* Reads a text of up to 255 bytes; its length goes to *length when asked for. */
static int ReadShort(const RirudidReader* r, char out[256], int* length) {
  const int n = r->ReadByte(r->Queue);
  out[0] = 0;
  if (n < 0) return 0;
  if (n > 0 && r->ReadBytes(r->Queue, out, n) != n) {
    out[0] = 0;
    return 0;
  }
  out[n] = 0;
  if (length) *length = n;
  return 1;
}

/* A symbol crosses to the caller as a zero-terminated text: one holding a NUL would arrive cut,
 * as another symbol, and other control bytes are no part of any symbol. */
static int PlainSymbol(const char* symbol, int length) {
  for (int i = 0; i < length; ++i) {
    const unsigned char c = (unsigned char)symbol[i];
    if (c < 0x20 || c == 0x7F) return 0;
  }
  return 1;
}

static int ReadDouble(const RirudidReader* r, double* out) {
  unsigned char b[8];
  *out = 0;
  if (r->ReadBytes(r->Queue, b, 8) != 8) return 0;
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | b[i];
  memcpy(out, &bits, sizeof bits);
  return 1;
}

int ReadVals(const RirudidReader* r, RirudidQuote* q) {
  if (!r || !q || !r->ReadByte || !r->ReadInt24 || !r->ReadBytes) return RIRUDID_CUT;
  memset(q, 0, sizeof *q);
  double* prices[9] = {&q->Bid, &q->Ask, &q->Last, &q->Open, &q->Low, &q->High, &q->Unused, &q->PrevClose, &q->Volume};
  int symbolLength = 0;
  if (!ReadShort(r, q->Symbol, &symbolLength) || !ReadShort(r, q->TickMark, NULL)) return RIRUDID_CUT;
  for (int i = 0; i < 9; ++i)
    if (!ReadDouble(r, prices[i])) return RIRUDID_CUT;
  const int32_t seconds = r->ReadInt24(r->Queue);
  const int32_t last = seconds < 0 ? -1 : r->ReadInt24(r->Queue);
  const int32_t bid = last < 0 ? -1 : r->ReadInt24(r->Queue);
  const int32_t ask = bid < 0 ? -1 : r->ReadInt24(r->Queue);
  if (ask < 0) return RIRUDID_CUT;
  q->QuoteTime = seconds / 86400.0;
  q->LastSize = last, q->BidSize = bid, q->AskSize = ask;
  if (seconds >= 86400 || !PlainSymbol(q->Symbol, symbolLength)) return RIRUDID_BAD;
  for (int i = 0; i < 9; ++i)
    if (!isfinite(*prices[i])) return RIRUDID_BAD;
  return RIRUDID_OK;
}

int ReadIslandVal(const RirudidReader* r, int message, void* window, RirudidPostFn post) {
  if (!r || !r->ReadBytes) return RIRUDID_CUT;
  unsigned char head[2];
  if (r->ReadBytes(r->Queue, head, 2) != 2) return RIRUDID_CUT;
  const int count = (head[0] << 8) | head[1];
  if (count == 0) return RIRUDID_OK;
  unsigned char* fields = malloc((size_t)count * 5);
  if (!fields) return RIRUDID_BAD;
  if (r->ReadBytes(r->Queue, fields, count * 5) != count * 5) {
    free(fields);
    return RIRUDID_CUT;
  }
  if (post)
    for (int i = 0; i < count; ++i) {
      const unsigned char* f = fields + 5 * i;
      const int32_t value = (int32_t)((uint32_t)f[1] | ((uint32_t)f[2] << 8) | ((uint32_t)f[3] << 16) | ((uint32_t)f[4] << 24));
      post(window, message, f[0], value);
    }
  free(fields);
  return RIRUDID_OK;
}
