#pragma once
// The collected-data files: quotes and snapshots (SDATA.DMP) and headlines (SNEWS.DMP) of every
// symbol, saved during the session and at shut-down and loaded at start. Their layout is in
// docs/file-formats.md.
#include <atomic>
#include <string>

// Writes every record's quote fields and snapshots: each record is copied under its locks, the
// file written after. False when the file was not written (also when cancel was set first).
bool SaveQuoteDump(const std::string& path, const std::atomic<bool>* cancel = nullptr);
// Reads a quote dump into the symbol table. A record goes in only while its symbol has no
// snapshots of its own; a damaged file keeps the records read before the damage.
// Returns the number of records taken, -1 when the file cannot be read or is no quote dump;
// whole (when given) says whether it read to its end.
int LoadQuoteDump(const std::string& path, bool* whole = nullptr);

bool SaveNewsDump(const std::string& path, const std::atomic<bool>* cancel = nullptr);
// Headlines go in only while the symbol's news list is empty; -1 and whole as above.
int LoadNewsDump(const std::string& path, bool* whole = nullptr);

// Both files in the program folder; loading sets DumpLoadTime. They are kept as the user files
// are: one that cannot be read is moved aside unchanged, one not read to its end has its bytes
// copied aside ("<dump>.damaged-<stamp>", once), each said in a user notice, before a save
// writes a new one (readable by its user). One that could be kept neither way is never written
// over: SaveDumps then fails. One save runs at a time (a save during the session and the
// close's); why, when given, says what failed. A cancelled save writes nothing more and fails.
// With skipKept (a save during the session), a dump that could be kept neither way is passed
// over without failing: the start said so already, and the close says it again.
bool SaveDumps(std::string* why = nullptr, const std::atomic<bool>* cancel = nullptr, bool skipKept = false);
void LoadDumps();
