#pragma once
// Symbols queued for the grids to redraw, and the hand-over texts between threads,
// all under RefreshLock.
#include <array>
#include <bitset>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

constexpr int PendingListCount = 8;  // lists numbered 1 .. 8
// The symbols a portfolio report waits for: the main window's fetch worker fetches them on its
// next pass and then removes them, whether a quote came or not.
constexpr int ReportPendingList = 8;

// Appends "|" + symbol + "|" to the numbered list unless it is there already.
// False for a bad list number or symbol, or when the lock was not obtained.
bool AddPendingSymbol(int listNumber, std::string_view symbol);
// Takes and empties the list and hands its text to the list's handler (when one is set);
// the handler runs outside the lock.
void ShowPendingSymbols(int listNumber);
// The grid that redraws the list's symbols; an empty function removes it.
void SetPendingHandler(int listNumber, std::function<void(const std::string& symbols)> handler);
// Takes and empties the list without handing it on (for a grid that polls).
std::string TakePendingSymbols(int listNumber);
// The symbols of a list's text ("|A||B|"): the pieces between bars, empty ones left out.
std::vector<std::string> SplitPendingText(std::string_view text);
// The list's symbols, left in place; empty as well when the lock was not obtained.
std::vector<std::string> PeekPendingSymbols(int listNumber);
// True when the list holds no symbol (also for a bad list number).
bool PendingListEmpty(int listNumber);
// Removes these symbols (exact text) from the list.
void RemovePendingSymbols(int listNumber, const std::vector<std::string>& symbols);

// Four texts of "|"-separated symbols; element 2 is the news window's.
constexpr int NewsHandOver = 2;
extern std::array<std::string, 4> HandOverList;  // under RefreshLock
// Appends "|" + symbol + "|" to an element unless it is there already.
bool AddHandOver(int element, std::string_view symbol);
// Takes and empties an element; false (out empty, element untouched) when the lock was not
// obtained.
bool TakeHandOver(int element, std::string& out, bool tryOnly);

// Four sets of 2000 bits owned by the windows on the main thread; the news window owns set 2
// (bit n set: its listed symbol n has new news).
constexpr int NewsSymbolBits = 2;
constexpr int SymbolBitCount = 2000;
extern std::array<std::bitset<SymbolBitCount>, 4> SymbolBits;
