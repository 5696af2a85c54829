#pragma once
// reklama.par read into the ad table and the ad settings, the weighted choice of an ad for a
// location and the sequence and random-number macros of its addresses.
#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/string_list.h"

// A random integer 0 .. range-1 (range >= 1); tests give their own. 64 bits wide: shares of
// weights near 2^31 add up past 32 bits.
using AdRandom = std::function<int64_t(int64_t range)>;
AdRandom DefaultAdRandom();

// Longest source or link taken from reklama.par; an ad with a longer one yields no row.
constexpr size_t MaxAdAddressLength = 2048;
// Blurbs are cut to this many bytes (at a character boundary) when read.
constexpr size_t MaxBlurbLength = 256;

// The macros' state: ##SEQn## walks set n, ##RANDn## draws from least..greatest.
struct AdMacroState {
  std::array<std::bitset<256>, 11> SeqSet{};  // 1..10
  std::array<int, 11> SeqPos{};               // -1: empty set
  std::array<int, 11> RandMin{}, RandMax{}, RandDigits{};
  std::array<bool, 11> RandSet{};
};

// Everything read from reklama.par besides the ad table and AdSettings (core/ad_locations.h).
struct AdParamsState {
  StringList Blurbs;
  AdMacroState Macros;
};
// Guarded by AdLock like the tables.
extern AdParamsState AdState;

// Reads the settings, blurbs, macros and ad rows from the parameter lines (reklama.par) into
// AdSettings, AdState and AdTable (cleared first; at most 200 rows).
void ReadAdParams(const StringList& params);
// Fills one macro set from an ADSEQ text: numbers 0..255 and ranges a..b.
void ParseAdSequence(const std::string& text, std::bitset<256>& set, int& pos);

// The weighted choice for a location kind: the row (0 when none qualifies) and its source, link
// and redirect flag with the macros expanded. Takes AdLock for the choice only: the macros are
// expanded after it is released.
int PickAd(int kind, std::string& source, std::string& link, bool& redirect, const AdRandom& random);
// Replaces ##SEQn## and ##RANDn## in source then link, each text in one pass; one sequence and
// one random value per call. The macro state is read and moved on under AdLock.
void ExpandAdMacros(std::string& source, std::string& link, bool advance, AdMacroState& macros,
                    const AdRandom& random);
