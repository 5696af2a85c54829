#pragma once
// Ditherers: feed a picture's pixels one by one, row by row, and get palette
// indices back. Rows run alternately left to right and right to left
// (serpentine order); the caller dithers the pixel at Column() each time and
// calls NextLine() after each row.
#include <cstdint>
#include <memory>
#include <vector>

#include "palette_lookup.h"

enum TDitherMode : uint8_t {
  ditherNone = 0,
  ditherFloydSteinberg = 1,
  ditherStucki = 2,
  ditherSierra = 3,
  ditherJaJuNi = 4,
  ditherSteveArche = 5,
  ditherBurkes = 6,
};

// Without error diffusion: the look-up alone.
class TDitherEngine {
public:
  // The look-up is the caller's and must outlive the ditherer.
  TDitherEngine(int width, TColorLookup& lookup) : width_(width), lookup_(lookup) {}
  virtual ~TDitherEngine() = default;
  TDitherEngine(const TDitherEngine&) = delete;
  TDitherEngine& operator=(const TDitherEngine&) = delete;

  // Dithers the pixel at Column(), then moves the column on. Returns the
  // palette index; `chosen` gets its colour.
  virtual int Dither(int red, int green, int blue, RgbTriple& chosen);
  virtual void NextLine();
  // Passes over the pixel at Column() (a transparent one) without dithering it.
  void Skip() { column_ += direction_; }

  int Direction() const { return direction_; }
  int Column() const { return column_; }
  int Width() const { return width_; }

protected:
  int direction_ = 1;
  int column_ = 0;
  int width_;
  TColorLookup& lookup_;
};

// Rows of accumulated error, one set per colour component, each with `reach`
// guard entries on both sides so that spreading never needs a bounds test.
class DitherErrorRows {
public:
  DitherErrorRows(int width, int rows, int reach);
  // Row `row` (0 = the current one) of a component, indexed by picture column.
  int* Row(int component, int row) { return rows_[size_t(component * rowCount_ + row)] + reach_; }
  // The current row falls out, is cleared and becomes the farthest.
  void Rotate();

private:
  std::vector<int> storage_;
  std::vector<int*> rows_;
  int rowCount_;
  int reach_;
  size_t length_;
};

class TFloydSteinbergDitherer : public TDitherEngine {
public:
  TFloydSteinbergDitherer(int width, TColorLookup& lookup);
  int Dither(int red, int green, int blue, RgbTriple& chosen) override;
  void NextLine() override;

private:
  DitherErrorRows errors_;
  int running_[3] = {0, 0, 0};  // the share for x+1, carried instead of a row
};

// An error-diffusion ditherer over a few rows of accumulated error: the shared step, with the
// kernel left to each kind.
class TKernelDitherer : public TDitherEngine {
public:
  int Dither(int red, int green, int blue, RgbTriple& chosen) override;
  void NextLine() override;

protected:
  TKernelDitherer(int width, TColorLookup& lookup, int rows, int reach, int divisor);
  // Spreads one component's error; rows[i] points at the current column of row i (row 0 is
  // the current row), and direction_ tells which way the line runs.
  virtual void Distribute(int error, int* const* rows) = 0;

private:
  DitherErrorRows errors_;
  int rowCount_;
  int divisor_;
};

// The kernels of five columns by three rows (reach 2; this row and the next two).
class T5by3Ditherer : public TKernelDitherer {
protected:
  T5by3Ditherer(int width, TColorLookup& lookup, int divisor) : TKernelDitherer(width, lookup, 3, 2, divisor) {}
};

class TStuckiDitherer final : public T5by3Ditherer {
public:
  TStuckiDitherer(int width, TColorLookup& lookup) : T5by3Ditherer(width, lookup, 42) {}

protected:
  void Distribute(int error, int* const* rows) override;
};

class TSierraDitherer final : public T5by3Ditherer {
public:
  TSierraDitherer(int width, TColorLookup& lookup) : T5by3Ditherer(width, lookup, 32) {}

protected:
  void Distribute(int error, int* const* rows) override;
};

class TJaJuNiDitherer final : public T5by3Ditherer {
public:
  TJaJuNiDitherer(int width, TColorLookup& lookup) : T5by3Ditherer(width, lookup, 48) {}

protected:
  void Distribute(int error, int* const* rows) override;
};

class TSteveArcheDitherer final : public TKernelDitherer {
public:
  TSteveArcheDitherer(int width, TColorLookup& lookup);

protected:
  void Distribute(int error, int* const* rows) override;
};

class TBurkesDitherer final : public TKernelDitherer {
public:
  TBurkesDitherer(int width, TColorLookup& lookup);

protected:
  void Distribute(int error, int* const* rows) override;
};

// The ditherer of a mode, or nullptr for an unknown mode.
std::unique_ptr<TDitherEngine> CreateDitherer(int mode, int width, TColorLookup& lookup);
