#include "core/portfolios.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <unordered_set>

#include "core/aside_copies.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/program_files.h"
#include "core/program_state.h"
#include "core/symbols.h"
#include "core/text_helpers.h"
#include "core/user_notices.h"
#include "platform/folder_lock.h"

StringList PortDefs;
std::vector<UnreadPortLine> PortUnreadLines;
std::vector<PortType> PortList;
int CurPortIndex = 1;

int PortCount() { return static_cast<int>(PortList.size()); }

PortType* PortAt(int number) {
  if (number < 1 || number > PortCount()) return nullptr;
  return &PortList[static_cast<size_t>(number - 1)];
}

namespace {
constexpr char FieldSep = '|';
constexpr char RowSep = ';';

// Backslash escapes keep separators and line breaks out of the stored text.
void Escape(std::string& out, std::string_view s) {
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '|': out += "\\|"; break;
      case ';': out += "\\;"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
}

bool Unescape(std::string_view raw, std::string& out) {
  out.clear();
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '\\') {
      if (++i >= raw.size()) return false;
      switch (raw[i]) {
        case '\\': c = '\\'; break;
        case '|': c = '|'; break;
        case ';': c = ';'; break;
        case 'n': c = '\n'; break;
        case 'r': c = '\r'; break;
        default: return false;
      }
    }
    out += c;
  }
  return true;
}

// Splits at separators that are not escaped; the parts keep their escapes.
std::vector<std::string_view> SplitRaw(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\') {
      ++i;
    } else if (s[i] == sep) {
      parts.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(s.substr(start));
  return parts;
}

void AppendNumber(std::string& out, double v) {
  if (!std::isfinite(v)) v = 0;
  char buf[32];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, ec == std::errc() ? p : buf);
}

bool ParseNumber(std::string_view s, double& v) {
  if (s.empty()) {
    v = 0;
    return true;
  }
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && p == s.data() + s.size() && std::isfinite(v);
}

bool ParseRow(std::string_view raw, PortRowRec& row) {
  const auto parts = SplitRaw(raw, RowSep);
  if (parts.size() < 7) return false;
  if (!Unescape(parts[0], row.Symbol) || row.Symbol.empty()) return false;
  double* numbers[] = {&row.Shares, &row.BasePrice, &row.Commission, &row.LowLimit, &row.HighLimit};
  for (size_t i = 0; i < 5; ++i)
    if (!ParseNumber(parts[i + 1], *numbers[i])) return false;
  if (!Unescape(parts[6], row.Note)) return false;
  row.Extra.clear();
  for (size_t i = 7; i < parts.size(); ++i) {
    std::string f;
    if (!Unescape(parts[i], f)) return false;
    row.Extra.push_back(std::move(f));
  }
  return true;
}
}  // namespace

std::string FormatPortLine(const PortType& port) {
  std::string out;
  Escape(out, port.Name);
  out += FieldSep;
  Escape(out, std::string_view(port.Id).substr(0, PortType::IdLength));
  out += FieldSep;
  Escape(out, port.Markers);
  for (const PortRowRec& r : port.Rows) {
    out += FieldSep;
    Escape(out, r.Symbol);
    for (double v : {r.Shares, r.BasePrice, r.Commission, r.LowLimit, r.HighLimit}) {
      out += RowSep;
      AppendNumber(out, v);
    }
    out += RowSep;
    Escape(out, r.Note);
    for (const std::string& e : r.Extra) {
      out += RowSep;
      Escape(out, e);
    }
  }
  return out;
}

bool ParsePortLine(std::string_view line, PortType& out) {
  out = PortType{};
  // Lines this program wrote have their line breaks escaped; anything else is a damaged line,
  // such as random bytes that happen to hold a "|".
  if (!IsPlainText(line)) return false;
  const auto fields = SplitRaw(line, FieldSep);
  if (fields.size() < 2) return false;
  if (!Unescape(fields[0], out.Name) || out.Name.empty()) return false;
  if (!Unescape(fields[1], out.Id) || out.Id.empty()) return false;
  if (out.Id.size() > PortType::IdLength) out.Id.resize(PortType::IdLength);
  if (fields.size() > 2 && !Unescape(fields[2], out.Markers)) return false;
  for (size_t i = 3; i < fields.size(); ++i) {
    PortRowRec row;
    if (!ParseRow(fields[i], row)) return false;
    out.Rows.push_back(std::move(row));
  }
  return true;
}

std::string PortDefName(std::string_view line) {
  std::string name;
  const auto fields = SplitRaw(line, FieldSep);
  if (!Unescape(fields[0], name)) name = std::string(fields[0]);
  return name;
}

int ParsePortText(std::string_view text, std::vector<PortType>& ports, std::vector<UnreadPortLine>* unread) {
  ports.clear();
  if (unread) unread->clear();
  int damaged = 0;
  int lineNumber = 0;
  text = WithoutByteOrderMark(text);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    PortType p;
    if (ParsePortLine(line, p)) {
      ports.push_back(std::move(p));
    } else {
      ++damaged;
      if (!unread) continue;
      unread->push_back({ports.size(), lineNumber, std::string(line)});
      // A file of junk has a line per few bytes: the first ones tell enough.
      if (damaged <= 20)
        WriteLog("PORT.DAT: line " + std::to_string(lineNumber) + " could not be read and is kept as it is");
    }
  }
  return damaged;
}

std::string FormatPortText(const std::vector<PortType>& ports, const std::vector<UnreadPortLine>* unread) {
  std::string text;
  size_t next = 0;
  auto unreadUpTo = [&](size_t count) {
    for (; unread && next < unread->size() && (*unread)[next].After <= count; ++next) {
      text += (*unread)[next].Text;
      text += "\r\n";
    }
  };
  for (size_t i = 0; i < ports.size(); ++i) {
    unreadUpTo(i);
    text += FormatPortLine(ports[i]);
    text += "\r\n";
  }
  unreadUpTo(SIZE_MAX);
  return text;
}

namespace {
// Where the session's portfolios are saved: PORT.DAT, or a name of their own while PORT.DAT
// holds something the user had that could not be kept aside. Under PortLock.
std::string portSaveName = PortFileName;
// PORT.DAT as it read at start, when it read whole (every line, the final line break): only
// such a file becomes the backup, at the close. Under PortLock.
std::string portAtStart;
// This copy's portfolios as it last read or saved them: a save of the same writes nothing.
// Under PortLock.
std::string portOwnText;
// The file saved to as this copy last read or wrote it: lines others added since are kept.
// Under PortLock.
std::string portFileText;

std::string LineNumbers(const std::vector<UnreadPortLine>& unread) {
  std::string lines;
  for (size_t i = 0; i < unread.size() && i < 20; ++i) lines += (i ? ", " : "") + std::to_string(unread[i].LineNumber);
  if (unread.size() > 20) lines += ", ...";
  return (unread.size() == 1 ? "line " : "lines ") + lines;
}

// Each portfolio by identifier and name, counted among those before it with the same two, in
// list order: two portfolios that share an identifier are two.
std::vector<std::string> PortKeys(const std::vector<PortType>& ports) {
  std::map<std::string, int> seen;
  std::vector<std::string> keys;
  for (const PortType& p : ports) {
    const std::string key = p.Id + "\n" + p.Name;
    keys.push_back(key + "\n" + std::to_string(++seen[key]));
  }
  return keys;
}

std::set<std::string> PortNames(std::string_view text) {
  std::vector<PortType> ports;
  ParsePortText(text, ports);
  const std::vector<std::string> keys = PortKeys(ports);
  return {keys.begin(), keys.end()};
}

// The lines of a text, without their line ends; empty ones left out.
std::vector<std::string_view> PortTextLines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) lines.push_back(line);
    pos = end + 1;
  }
  return lines;
}

// The text this copy writes, with the lines that now holds and asRead did not: added since by
// another copy or by hand. Such a line takes the place of this copy's line of the same
// portfolio (identifier and name) when this copy left that one as it read it; else it is added
// at the end.
std::string WithLinesAddedSince(std::string_view text, std::string_view asRead, std::string_view now) {
  const std::vector<std::string_view> before = PortTextLines(asRead), mine = PortTextLines(text);
  const std::unordered_set<std::string_view> read(before.begin(), before.end()), have(mine.begin(), mine.end());
  std::vector<std::string> out(mine.begin(), mine.end());
  auto keyOf = [](std::string_view line) {
    PortType p;
    return ParsePortLine(line, p) ? p.Id + "\n" + p.Name : std::string();
  };
  for (std::string_view line : PortTextLines(now)) {
    if (read.contains(line) || have.contains(line)) continue;
    const std::string key = keyOf(line);
    auto same = std::find_if(out.begin(), out.end(), [&](const std::string& o) {
      return !key.empty() && read.contains(o) && keyOf(o) == key;
    });
    if (same != out.end()) *same = line;
    else out.emplace_back(line);
  }
  std::string merged;
  for (const std::string& line : out) merged += line + "\r\n";
  return merged;
}

// The portfolios of saved (by identifier and name) that text lacks, as "portfolio "A" (ID)" or
// "2 portfolios: "A" (ID), "B" (ID)"; empty when none.
std::string PortfoliosLacking(std::string_view text, std::string_view saved) {
  const std::set<std::string> have = PortNames(text);
  std::vector<PortType> ports;
  ParsePortText(saved, ports);
  const std::vector<std::string> keys = PortKeys(ports);
  std::string list;
  int count = 0;
  for (size_t i = 0; i < ports.size(); ++i) {
    if (have.contains(keys[i])) continue;
    if (++count <= 20) list += (list.empty() ? "\"" : ", \"") + ports[i].Name + "\" (" + ports[i].Id + ")";
  }
  if (count > 20) list += ", ...";
  if (count == 0) return {};
  return count == 1 ? "portfolio " + list : std::to_string(count) + " portfolios: " + list;
}

// The incoming text with every whole line of the outgoing one that it lacks (name, identifier
// and rows: an earlier version of a portfolio is kept beside the newer one).
std::string CarryPortLines(std::string_view incoming, std::string_view outgoing) {
  std::string out(incoming);
  if (!out.empty() && out.back() != '\n') out += "\r\n";
  const std::vector<std::string_view> inLines = PortTextLines(incoming);
  std::unordered_set<std::string_view> have(inLines.begin(), inLines.end());
  for (std::string_view line : PortTextLines(outgoing))
    if (have.insert(line).second) out.append(line).append("\r\n");
  return out;
}
}  // namespace

bool PortBackupFollows(std::string* why) {
  std::string atStart;
  {
    LockHold hold(PortLock, "PORTBACKUP");
    if (!hold) {
      if (why) *why = std::string("The backup ") + BackupFileName(PortFileName) + " was left as it was: the portfolios were busy.";
      return false;
    }
    atStart = portAtStart;
  }
  return BackupFollows(ProgDir, PortFileName, atStart, PortNames, CarryPortLines, 0644, why);
}

bool LoadPortfolios() {
  const std::string backupName = BackupFileName(PortFileName);
  const std::string file = std::string("The portfolio file ") + PortFileName;
  std::string text, why, saved, backupWhy;
  const FileRead mainRead = ReadFileChecked(ProgDir + PortFileName, text, &why);
  const std::string mainBytes = text;
  const FileRead backupRead = ReadFileChecked(ProgDir + backupName, saved, &backupWhy);
  std::string atStart;  // the file as it read, when whole
  const bool haveBackup = backupRead == FileRead::Ok && HasContent(saved);
  std::string name = PortFileName, saveName = PortFileName, notice;
  std::vector<PortType> ports;
  std::vector<UnreadPortLine> unread;
  auto useBackup = [&] {
    if (!haveBackup) return false;
    name = backupName;
    text = saved;
    return true;
  };
  auto backupNote = [&] {
    if (haveBackup) return " The backup " + backupName + " holds the previous save and is left as it is.";
    if (backupRead == FileRead::Unreadable) return " The backup " + backupName + " cannot be read (" + backupWhy + ").";
    return " There is no backup " + backupName + ".";
  };
  if (mainRead == FileRead::Unreadable) {
    bool reused = false;
    notice = file + " cannot be read (" + why + ")." +
             KeepUnreadableAside(ProgDir, PortFileName, "portfolios", saveName, haveBackup ? saved : "", reused, 0644);
    std::string copy;
    if (reused && ReadFileChecked(ProgDir + saveName, copy) == FileRead::Ok && HasContent(copy)) {
      name = saveName;
      text = std::move(copy);
    } else {
      notice += useBackup() ? " The backup " + backupName + " is used; it holds the previous save."
                            : backupNote() + " The program starts without portfolios.";
    }
    ParsePortText(text, ports, &unread);
  } else if (mainRead == FileRead::Missing || !HasContent(text)) {
    // An empty or lost file (a write cut short, a full disk, deleted) holds no portfolios: the
    // backup is used, and said.
    if (!useBackup() && mainRead == FileRead::Missing) return false;
    if (name == backupName)
      notice = file + (mainRead == FileRead::Ok ? " was empty" : " is missing") + "; the backup " + backupName +
               " is used; it holds the previous save.";
    ParsePortText(text, ports, &unread);
  } else {
    const int damaged = ParsePortText(text, ports, &unread);
    const bool cut = text.back() != '\n';
    if (damaged || cut) {
      // Kept aside before any save may write over it; it never becomes the backup.
      std::string asideWhy;
      const std::string aside = CopyAside(ProgDir, PortFileName, text, 0600, &asideWhy);
      notice = file + " did not read whole: ";
      if (damaged) {
        const bool one = unread.size() == 1;
        notice += (one ? std::string("a line") : std::to_string(unread.size()) + " lines") + " could not be read (" +
                  LineNumbers(unread) + ")";
      }
      if (cut) notice += std::string(damaged ? ", and it" : "it") + " does not end with a line break (it may have been cut, or written by hand)";
      notice += ".";
      if (ports.empty() && useBackup()) {
        notice += " Nothing in it could be read: the backup " + backupName + " is used; it holds the previous save.";
        ParsePortText(text, ports, &unread);
      } else if (damaged) {
        notice += " The lines that could not be read are not shown and are kept in the file unchanged.";
      }
      // Nothing is written over a file the user had that could not be kept aside.
      notice += aside.empty()
                    ? " It could not be copied aside (" + asideWhy + ")." + SaveElsewhere(ProgDir, PortFileName, "portfolios", saveName, text, 0644)
                    : " Its bytes were kept as " + aside + ".";
      if (name == PortFileName) notice += backupNote();
    } else {
      atStart = text;
      if (const std::string since = NewerSessionSaveNote(ProgDir, PortFileName, "portfolios"); !since.empty())
        notice = file + " reads again and is used." + since;
      // The program removes no portfolio: one the backup holds and the file lacks went by hand,
      // or with the end of a file cut at a line end.
      if (haveBackup) {
        if (const std::string gone = PortfoliosLacking(text, saved); !gone.empty())
          notice += (notice.empty() ? "" : " ") + file + " lacks " + gone + " that the backup " + backupName +
                    " holds: removed by hand, or the file was cut at a line end. " + backupName +
                    " keeps them; once it follows " + PortFileName + " at the close, " + backupName + OlderSuffix +
                    " keeps them.";
      }
      // A file that read whole becomes the backup when there is none, so later damage has a good
      // copy to fall back to (a backup that cannot be read is left alone); an existing backup
      // changes only at the close.
      if (!haveBackup && backupRead != FileRead::Unreadable && !WriteFileAtomic(ProgDir + backupName, text))
        WriteLog(std::string("The portfolio backup ") + backupName + " could not be written", 0);
    }
  }
  if (name == backupName && !unread.empty())
    notice += (notice.empty() ? "" : " ") + std::string("The backup ") + backupName + " has " + LineNumbers(unread) +
              " that could not be read; they are not shown and are kept.";
  if (const std::string older = OlderObstacleNote(ProgDir, PortFileName); !older.empty())
    notice += (notice.empty() ? "" : " ") + older;
  // What the file the session saves to held as this copy read it (a saved copy made or reused
  // at load holds what it was given).
  std::string asRead = mainBytes;
  if (saveName != PortFileName && !saveName.empty()) ReadFileChecked(ProgDir + saveName, asRead);
  LockHold hold(PortLock, "PORTLOAD");
  if (!hold) return false;
  PortList = std::move(ports);
  PortUnreadLines = std::move(unread);
  portSaveName = saveName;
  portOwnText = portFileText = std::move(asRead);
  portAtStart = std::move(atStart);
  PortDefs.Clear();
  for (const PortType& p : PortList) PortDefs.Add(FormatPortLine(p));
  if (CurPortIndex < 1 || CurPortIndex > PortCount()) CurPortIndex = 1;
  WriteLog(std::string(PortFileName) + ": " + std::to_string(PortCount()) + " portfolios read from " + name);
  if (!notice.empty()) AddUserNotice(notice);
  return true;
}

bool SavePortfolios(std::string* why) {
  auto failed = [&](const std::string& text) {
    if (why) *why = text;
    return false;
  };
  LockHold hold(PortLock, "PORTSAVE");
  if (!hold) return failed("the portfolios were busy");
  // Nothing may be written: the file's bytes were not kept and no copy could be made.
  if (portSaveName.empty())
    return failed(std::string(PortFileName) + " is not written over: what it held could not be kept aside at start");
  const std::string path = ProgDir + portSaveName;
  std::string text = FormatPortText(PortList, &PortUnreadLines);
  // Portfolios this copy did not change are not written: another copy (ALLOWDUP) or the user
  // may have changed the file since.
  if (text != portOwnText) {
    const std::string own = text;
    FolderLock shared(ProgDir);
    if (!shared) return failed(portSaveName + " was not written: " + FolderLockProblem);
    std::string now, readWhy;
    const FileRead read = ReadFileChecked(path, now, &readWhy);
    // A file that cannot be read is never written over (it was moved aside at the load when it
    // could be).
    if (read == FileRead::Unreadable)
      return failed(portSaveName + " cannot be read (" + readWhy + "), so it is not written over");
    if (read == FileRead::Ok) text = WithLinesAddedSince(text, portFileText, now);
    // The backup is not touched: it follows the file as it read at start, at the close.
    if ((read == FileRead::Missing || now != text) && !WriteFileAtomic(path, text))
      return failed(WriteFailure(ProgDir, portSaveName, errno));
    portOwnText = own;
    portFileText = text;
  }
  PortDefs.Clear();
  for (const PortType& p : PortList) PortDefs.Add(FormatPortLine(p));
  return true;
}

void GetPortSymbols(std::string_view id, std::string& out, bool fetchable) {
  out.clear();
  LockHold hold(PortLock, "PORTSYMS");
  if (hold) GetPortSymbolsLocked(id, out, fetchable);
}

bool IsPortfolioIdLocked(std::string_view symbol) {
  for (const PortType& p : PortList)
    if (!p.Id.empty() && SameText(p.Id, symbol)) return true;
  return false;
}

void GetPortSymbolsLocked(std::string_view id, std::string& out, bool fetchable) {
  out.clear();
  id = id.substr(0, 255);
  std::unordered_set<std::string_view> seen;  // a large portfolio is walked once
  for (const PortType& p : PortList) {
    if (p.Id != id) continue;
    for (const PortRowRec& r : p.Rows) {
      if (IsDashesOnly(r.Symbol) || SameText(r.Symbol, "$CASH")) continue;
      if (!seen.insert(r.Symbol).second) continue;
      if (fetchable && IsPortfolioIdLocked(r.Symbol)) continue;
      if (!out.empty()) out += ',';
      out += r.Symbol;
    }
  }
}
