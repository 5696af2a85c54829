#pragma once
// The plain rules of a streaming site: its channel list, and how the symbols to stream are
// cleaned and spread over the streaming threads.
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

constexpr int MaxStreamChannels = 8;
constexpr int MaxStreamThreads = 12;

struct StreamChannel {
  std::string Code;  // up to 5 characters
  std::string Kind;  // up to 10 characters: "STOCKINFO", "HEARTBEAT", ...
  int Number = 0;
  std::string Text;  // up to 20 characters, cleared at load
};

struct ChannelTable {
  int CodeLength = 0;  // the length of the first code; every record starts with that many bytes
  std::vector<StreamChannel> Channels;  // at most MaxStreamChannels
  // The kind of the record whose code this is; empty when no channel has it.
  std::string KindOf(const std::string& code) const;
};

// The site's "|"-separated list: the first item is skipped, then code, kind, number triples.
// An empty or over-long first code (more than 5 characters) gives CodeLength 0: nothing can
// be read.
ChannelTable ParseChannelList(const std::string& list);

// The "+"-separated symbols sorted, without duplicates, empty items and items holding a blank.
std::vector<std::string> CleanStreamSymbols(const std::string& symbols);

// How many symbols each thread takes: the site's limit over its thread count, at least 1, and
// enough that the symbols fit in MaxStreamThreads threads.
int SymbolsPerThread(int symbolLimit, int threadCount, size_t symbolCount);

// Whether a symbol from the stream may enter the table: an equity (IsValidSymbol) or an index
// (IsIndexSymbol) holding none of ",()|", which would break the lists that the quote server
// and the dump files build from the table's keys, no control byte or broken UTF-8, and no
// longer than a table key (the table would cut it into another symbol).
bool IsStreamSymbol(std::string_view symbol);

// The symbols a stream was asked for ("+"-separated, as given to its Start). A quote record is
// taken only for one of them, compared whole as received and without regard to case, never
// trimmed: " IBM" and "IBMX" are not "IBM".
class AskedStreamSymbols {
public:
  explicit AskedStreamSymbols(const std::string& symbols);
  bool Has(std::string_view symbol) const;

private:
  std::unordered_set<std::string> upper_;
};

// The symbols in groups of perThread, each group "+"-joined (one per thread).
std::vector<std::string> SpreadStreamSymbols(const std::vector<std::string>& symbols, int perThread);
