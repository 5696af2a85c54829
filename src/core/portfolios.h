#pragma once
// The portfolios, read from and written to PORT.DAT in the program folder (backup PORT.DA_),
// all under PortLock. The line format is described in docs/file-formats.md.
#include <string>
#include <string_view>
#include <vector>

#include "platform/string_list.h"

struct PortRowRec {
  std::string Symbol;  // a text of dashes only is a separator row
  double Shares = 0;
  double BasePrice = 0;
  double Commission = 0;
  double LowLimit = 0;   // alert limits, 0 = none
  double HighLimit = 0;
  std::string Note;
  std::vector<std::string> Extra;  // optional fields, kept as they are
};

struct PortType {
  static constexpr size_t IdLength = 20;
  std::string Name;
  std::string Id;       // the symbol its value is charted under (ends in a digit)
  std::string Markers;  // portfolio markers, kept as they are
  // Computed while the program runs, not stored.
  double Value = 0, Change = 0, ChangePercent = 0, High = 0, Low = 0;
  std::vector<PortRowRec> Rows;
};

// Under PortLock. Portfolios are numbered from 1: portfolio n is PortList[n - 1].
extern StringList PortDefs;             // one definition line per portfolio, as stored
extern std::vector<PortType> PortList;
extern int CurPortIndex;                // the portfolio the main window shows
int PortCount();
PortType* PortAt(int number);           // nullptr when out of range

// One portfolio as its PORT.DAT line (no line end) and back. ParsePortLine is false for a
// damaged line (out is then left half filled).
std::string FormatPortLine(const PortType& port);
bool ParsePortLine(std::string_view line, PortType& out);
// The portfolio's name from a definition line.
std::string PortDefName(std::string_view line);

// A line of PORT.DAT that could not be read. It is kept as it stood and written back after
// the After-th readable portfolio (at the end when fewer are left), so no save loses it.
struct UnreadPortLine {
  size_t After = 0;
  int LineNumber = 0;  // from 1, in the file it was read from
  std::string Text;
};
// Under PortLock: the unread lines of the file last loaded.
extern std::vector<UnreadPortLine> PortUnreadLines;

// Parses a whole file's text; damaged lines are left out of ports and, when unread is given,
// kept there. Returns how many were damaged.
int ParsePortText(std::string_view text, std::vector<PortType>& ports, std::vector<UnreadPortLine>* unread = nullptr);
std::string FormatPortText(const std::vector<PortType>& ports, const std::vector<UnreadPortLine>* unread = nullptr);

// Loads PORT.DAT into PortList and PortDefs, under the rule that a file that did not read whole
// never replaces its backup and nothing the user had is overwritten unseen (each case is told
// in a user notice):
// - missing, empty or blank: PORT.DA_ is used and the user told;
// - cannot be read (no permission, an I/O error, a folder in its place): moved aside unchanged
//   ("PORT.DAT.damaged-<stamp>"), PORT.DA_ is used; when it cannot be moved, the session saves
//   under a name of its own ("PORT.DAT.saved-<stamp>");
// - lines that do not read, or no final line break (it may be cut): every line that reads is
//   loaded, the others go to PortUnreadLines; the bytes are copied aside (once per distinct
//   content); PORT.DA_ is used when nothing reads;
// - read whole: it becomes PORT.DA_ when there is none.
// False when neither could be read or the lock was not obtained.
bool LoadPortfolios();
// At the close: PORT.DAT as it read whole at start becomes the backup (BackupFollows). False
// when the backup was not renewed; why says what stood in the way.
bool PortBackupFollows(std::string* why = nullptr);
// Writes PortList and the unread lines to PORT.DAT (or the session's own name, see above) and
// refreshes PortDefs; the backup is left alone. Portfolios this copy did not change since it
// read or wrote the file are not written; when they did change, the file is read again under
// the folder's lock that copies share, and lines added to it since are kept. False when the
// file was not written; why then says why.
bool SavePortfolios(std::string* why = nullptr);

// The distinct symbols, in row order, of every portfolio whose identifier equals id exactly,
// comma-separated, without separator rows and "$CASH"; empty when none. With fetchable, rows
// naming a portfolio's identifier are left out too: those show the portfolio's own snapshots
// and are never asked of a quote site or a stream.
void GetPortSymbols(std::string_view id, std::string& out, bool fetchable = false);
// Whether the symbol is some portfolio's identifier (ignoring case; call under PortLock).
bool IsPortfolioIdLocked(std::string_view symbol);
// The same for a caller that holds PortLock already (one that must bound its own wait).
void GetPortSymbolsLocked(std::string_view id, std::string& out, bool fetchable = false);
