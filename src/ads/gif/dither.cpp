#include "dither.h"

#include <algorithm>

namespace {

// The colour a pixel is dithered as: its own colour plus the error that has
// reached it (rounded, divided with truncation toward zero), held to 0..255.
// Returns the palette index and, in `error`, what the palette missed by.
inline int DiffuseStep(TColorLookup& lookup, int red, int green, int blue, const int accumulated[3], int divisor,
                       RgbTriple& chosen, int error[3]) {
  const int round = divisor / 2;
  const int r = std::clamp(red + (accumulated[0] + round) / divisor, 0, 255);
  const int g = std::clamp(green + (accumulated[1] + round) / divisor, 0, 255);
  const int b = std::clamp(blue + (accumulated[2] + round) / divisor, 0, 255);
  const int index = lookup.Lookup(r, g, b, chosen);
  error[0] = r - chosen.red;
  error[1] = g - chosen.green;
  error[2] = b - chosen.blue;
  return index;
}

}  // namespace

int TDitherEngine::Dither(int red, int green, int blue, RgbTriple& chosen) {
  const int index = lookup_.Lookup(red, green, blue, chosen);
  column_ += direction_;
  return index;
}

void TDitherEngine::NextLine() {
  direction_ = -direction_;
  column_ = direction_ > 0 ? 0 : width_ - 1;
}

DitherErrorRows::DitherErrorRows(int width, int rows, int reach)
    : rowCount_(rows), reach_(reach), length_(size_t(std::max(width, 0)) + 2 * size_t(reach)) {
  storage_.assign(length_ * 3 * size_t(rows), 0);
  rows_.resize(3 * size_t(rows));
  for (size_t i = 0; i < rows_.size(); ++i) rows_[i] = storage_.data() + i * length_;
}

void DitherErrorRows::Rotate() {
  for (int c = 0; c < 3; ++c) {
    int** first = rows_.data() + c * rowCount_;
    std::fill_n(first[0], length_, 0);
    std::rotate(first, first + 1, first + rowCount_);
  }
}

// Floyd-Steinberg: this row x+1: 7; next row x-1: 3, x: 5, x+1: 1 (of 16).
TFloydSteinbergDitherer::TFloydSteinbergDitherer(int width, TColorLookup& lookup)
    : TDitherEngine(width, lookup), errors_(width, 2, 1) {}

int TFloydSteinbergDitherer::Dither(int red, int green, int blue, RgbTriple& chosen) {
  const int x = column_;
  const int d = direction_;
  int accumulated[3];
  for (int c = 0; c < 3; ++c) accumulated[c] = errors_.Row(c, 0)[x] + running_[c];
  int error[3];
  const int index = DiffuseStep(lookup_, red, green, blue, accumulated, 16, chosen, error);
  for (int c = 0; c < 3; ++c) {
    const int e = error[c];
    running_[c] = e * 7;
    if (e != 0) {
      int* next = errors_.Row(c, 1) + x;
      next[-d] += e * 3;
      next[0] += e * 5;
      next[d] += e;
    }
  }
  column_ += d;
  return index;
}

void TFloydSteinbergDitherer::NextLine() {
  TDitherEngine::NextLine();
  errors_.Rotate();
  // What the row's last pixel passed on falls off the picture's edge.
  std::fill_n(running_, 3, 0);
}

TKernelDitherer::TKernelDitherer(int width, TColorLookup& lookup, int rows, int reach, int divisor)
    : TDitherEngine(width, lookup), errors_(width, rows, reach), rowCount_(rows), divisor_(divisor) {}

int TKernelDitherer::Dither(int red, int green, int blue, RgbTriple& chosen) {
  const int x = column_;
  int accumulated[3];
  for (int c = 0; c < 3; ++c) accumulated[c] = errors_.Row(c, 0)[x];
  int error[3];
  const int index = DiffuseStep(lookup_, red, green, blue, accumulated, divisor_, chosen, error);
  int* rows[4];
  for (int c = 0; c < 3; ++c) {
    if (error[c] == 0) continue;
    for (int r = 0; r < rowCount_; ++r) rows[r] = errors_.Row(c, r) + x;
    Distribute(error[c], rows);
  }
  column_ += direction_;
  return index;
}

void TKernelDitherer::NextLine() {
  TDitherEngine::NextLine();
  errors_.Rotate();
}

// Stucki (of 42): 8 4 / 2 4 8 4 2 / 1 2 4 2 1.
void TStuckiDitherer::Distribute(int e, int* const* rows) {
  const int d = direction_;
  int* row0 = rows[0];
  int* row1 = rows[1];
  int* row2 = rows[2];
  row0[d] += e * 8;
  row0[2 * d] += e * 4;
  row1[-2 * d] += e * 2;
  row1[-d] += e * 4;
  row1[0] += e * 8;
  row1[d] += e * 4;
  row1[2 * d] += e * 2;
  row2[-2 * d] += e;
  row2[-d] += e * 2;
  row2[0] += e * 4;
  row2[d] += e * 2;
  row2[2 * d] += e;
}

// Sierra (of 32): 5 3 / 2 4 5 4 2 / 2 3 2.
void TSierraDitherer::Distribute(int e, int* const* rows) {
  const int d = direction_;
  int* row0 = rows[0];
  int* row1 = rows[1];
  int* row2 = rows[2];
  row0[d] += e * 5;
  row0[2 * d] += e * 3;
  row1[-2 * d] += e * 2;
  row1[-d] += e * 4;
  row1[0] += e * 5;
  row1[d] += e * 4;
  row1[2 * d] += e * 2;
  row2[-d] += e * 2;
  row2[0] += e * 3;
  row2[d] += e * 2;
}

// JaJuNi (of 48): 7 5 / 3 5 7 5 3 / 1 3 5 3 1.
void TJaJuNiDitherer::Distribute(int e, int* const* rows) {
  const int d = direction_;
  int* row0 = rows[0];
  int* row1 = rows[1];
  int* row2 = rows[2];
  row0[d] += e * 7;
  row0[2 * d] += e * 5;
  row1[-2 * d] += e * 3;
  row1[-d] += e * 5;
  row1[0] += e * 7;
  row1[d] += e * 5;
  row1[2 * d] += e * 3;
  row2[-2 * d] += e;
  row2[-d] += e * 3;
  row2[0] += e * 5;
  row2[d] += e * 3;
  row2[2 * d] += e;
}

// Reach 3 over four rows (of 200).
TSteveArcheDitherer::TSteveArcheDitherer(int width, TColorLookup& lookup) : TKernelDitherer(width, lookup, 4, 3, 200) {}

void TSteveArcheDitherer::Distribute(int e, int* const* rows) {
  const int d = direction_;
  rows[0][2 * d] += e * 32;
  rows[1][-3 * d] += e * 12;
  rows[1][-d] += e * 26;
  rows[1][d] += e * 30;
  rows[1][3 * d] += e * 16;
  rows[2][-2 * d] += e * 12;
  rows[2][0] += e * 26;
  rows[2][2 * d] += e * 12;
  rows[3][-3 * d] += e * 5;
  rows[3][-d] += e * 12;
  rows[3][d] += e * 12;
  rows[3][3 * d] += e * 5;
}

// Burkes (of 32): 8 4 / 2 4 8 4 2.
TBurkesDitherer::TBurkesDitherer(int width, TColorLookup& lookup) : TKernelDitherer(width, lookup, 2, 2, 32) {}

void TBurkesDitherer::Distribute(int e, int* const* rows) {
  const int d = direction_;
  rows[0][d] += e * 8;
  rows[0][2 * d] += e * 4;
  rows[1][-2 * d] += e * 2;
  rows[1][-d] += e * 4;
  rows[1][0] += e * 8;
  rows[1][d] += e * 4;
  rows[1][2 * d] += e * 2;
}

std::unique_ptr<TDitherEngine> CreateDitherer(int mode, int width, TColorLookup& lookup) {
  switch (mode) {
    case ditherNone: return std::make_unique<TDitherEngine>(width, lookup);
    case ditherFloydSteinberg: return std::make_unique<TFloydSteinbergDitherer>(width, lookup);
    case ditherStucki: return std::make_unique<TStuckiDitherer>(width, lookup);
    case ditherSierra: return std::make_unique<TSierraDitherer>(width, lookup);
    case ditherJaJuNi: return std::make_unique<TJaJuNiDitherer>(width, lookup);
    case ditherSteveArche: return std::make_unique<TSteveArcheDitherer>(width, lookup);
    case ditherBurkes: return std::make_unique<TBurkesDitherer>(width, lookup);
    default: return nullptr;
  }
}
