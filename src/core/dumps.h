#pragma once
// The collected-data files: quotes and snapshots (SDATA.DMP) and headlines (SNEWS.DMP) of every
// symbol, saved at shut-down and loaded at start. Their layout is in docs/file-formats.md.
#include <string>

// Writes every record's quote fields and snapshots. False when the file was not written.
bool SaveQuoteDump(const std::string& path);
// Reads a quote dump into the symbol table. A record goes in only while its symbol has no
// snapshots of its own; a damaged file keeps the records read before the damage.
// Returns the number of records taken, -1 when the file cannot be read or is no quote dump.
int LoadQuoteDump(const std::string& path);

bool SaveNewsDump(const std::string& path);
// Headlines go in only while the symbol's news list is empty; -1 as above.
int LoadNewsDump(const std::string& path);

// Both files in the program folder; loading sets DumpLoadTime.
bool SaveDumps();
void LoadDumps();
