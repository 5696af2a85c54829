#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <algorithm>

#include "core/branding.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/portfolios.h"
#include "core/market_clock.h"
#include "core/program_files.h"
#include "core/program_state.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "core/user_notices.h"
#include "platform/ini_file.h"
#include "platform/log_text.h"

TEST(Settings, GlobVarsRoundTripAndClampOnRead) {
  GlobVars g;
  g.Gradient = false;
  g.PriceClr = RGBColor(1, 2, 3);
  g.Ind[4] = RGBColor(9, 8, 7);
  g.Filter = 12;
  g.CurView = "Wide view";
  g.ColPos[3] = 5;
  g.ColWidth[3] = 120;
  g.NewsTwoPanes = true;
  g.WebDefault = 'W';
  SaveGlobVars(g);
  GlobVars back;
  LoadGlobVars(back);
  EXPECT_FALSE(back.Gradient);
  EXPECT_EQ(back.PriceClr, RGBColor(1, 2, 3));
  EXPECT_EQ(back.Ind[4], RGBColor(9, 8, 7));
  EXPECT_EQ(back.Filter, 12);
  EXPECT_EQ(back.CurView, "Wide view");
  EXPECT_EQ(back.ColPos[3], 5);
  EXPECT_EQ(back.ColWidth[3], 120);
  EXPECT_EQ(back.ColWidth[4], 0);  // none stored: the grid fits it
  EXPECT_EQ(back.ColPos[4], -1);
  EXPECT_TRUE(back.NewsTwoPanes);
  EXPECT_EQ(back.WebDefault, 'W');

  Ini().WriteString("Colors", "Filter", "1");
  Ini().WriteString("Colors", "PriceThick", "900");
  Ini().WriteString("Stocks", "WebDefault", "?");
  // Earlier versions wrote 64 for every column: no width the user chose.
  for (int i = 0; i < ColKindCount; ++i) Ini().WriteString("Columns", "C" + std::to_string(i), "-1,0,64");
  LoadGlobVars(back);
  EXPECT_EQ(back.ColWidth[3], 0);
  EXPECT_EQ(back.Filter, 2);
  EXPECT_EQ(back.PriceThick, 10);
  EXPECT_EQ(back.WebDefault, 'Y');
}

TEST(Settings, YesNoAndRefusedKeys) {
  auto& ini = Ini();
  ini.WriteString("VNServer", "Active", "yes");
  EXPECT_TRUE(ini.ReadYesNo("VNServer", "Active", false));
  ini.WriteString("VNServer", "Active", "no");
  EXPECT_FALSE(ini.ReadYesNo("VNServer", "Active", true));
  // A portfolio name from the user must not break the file.
  EXPECT_FALSE(ini.WriteString("Ports", "evil]\r\n[Stocks", "1"));
  EXPECT_FALSE(ini.WriteString("Ports", "ok", "line\nbreak"));
  EXPECT_EQ(ini.ReadString("Stocks", "evil", "none"), "none");
}

TEST(Branding, ReadsCustParWithDefaults) {
  std::ofstream(ProgDir + "cust.par") << "// branding\r\nPROGFULLNAME=Demo Monitor\r\n\r\nhelpfilename=NONE\r\n"
                                         "SPLASHDELAY=abc\r\n";
  CustVarType saved = Branding;
  LoadBranding();
  EXPECT_EQ(Branding.ProgFullName, "Demo Monitor");
  EXPECT_EQ(Branding.ExeDefault, "STOCKS.EXE");
  std::string help = "x";
  GetHelpFileName(help);
  EXPECT_EQ(help, "");
  EXPECT_EQ(Branding.SplashDelay, 0);
  Branding = saved;
}

TEST(ProgramFolder, StarterFilesMissingOrEmptyAreCopiedAndOthersKept) {
  namespace fs = std::filesystem;
  fs::path data = fs::path(ProgDir) / "seed-data";
  fs::create_directories(data);
  for (const std::string& name : StarterFiles()) std::ofstream(data / name) << "// shipped " << name << "\r\nA=1\r\n";
  std::ofstream(data / "other.SDF") << "not a starter file";
  fs::path target = fs::path(ProgDir) / "seeded";
  fs::create_directories(target);
  std::ofstream(target / "params.par") << "mine";
  std::ofstream(target / "menu.par");              // cut short by a full disk
  std::ofstream(target / "popmenu.par") << " \r\n";  // blank
  EXPECT_TRUE(SeedProgDir(target.string() + "/", data.string()).empty());
  auto slurp = [](const fs::path& p) {
    std::string s;
    ReadWholeFile(p.string(), s);
    return s;
  };
  EXPECT_EQ(slurp(target / "params.par"), "mine");
  for (const char* copied : {"menu.par", "popmenu.par", "cust.par"})
    EXPECT_EQ(slurp(target / copied), slurp(data / copied)) << copied;
  EXPECT_FALSE(fs::exists(target / "other.SDF"));
  for (const auto& e : fs::directory_iterator(target))
    EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();

  // A file that cannot be copied is named with the reason, and no half copy is left.
  fs::remove(target / "cust.par");
  fs::create_directories(target / "cust.par" / "in-the-way");
  const std::vector<std::string> failed = SeedProgDir(target.string() + "/", data.string());
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0], std::string("cust.par: ") + std::strerror(EISDIR));

  // The shipped data folder holds exactly the starter files.
  std::set<std::string> shipped;
  for (const auto& e : fs::directory_iterator(VN_SOURCE_DATA_DIR)) shipped.insert(e.path().filename().string());
  EXPECT_EQ(shipped, std::set<std::string>(StarterFiles().begin(), StarterFiles().end()));

  EXPECT_TRUE(IsSafeRelativeName("Cache/GIF12.GIF"));
  for (const char* bad : {"../x", "/etc/passwd", "a/../../b", "..\\x", "C:\\x", ""})
    EXPECT_FALSE(IsSafeRelativeName(bad)) << bad;
}

TEST(ProgramFolder, EveryFileItWritesHasAKindAndOnlyShippedOnesAreReplaceable) {
  for (const char* user : {"STOCKS.INI", "stocks.ini", "PORT.DAT", "Port.Da_", "STOCKS.IN_", "ALERTS.DAT",
                           "SDATA.DMP", "snews.dmp", "COOKIES.TXT", "stocks.log", "d.log", "DEBUG.LOG",
                           "vnupdexe.log", "Vantrx-0-123456.lock", "vantrx-0-1.run", "PORT.DAT.tmpAb12Cd",
                           "librirudid.so.tmp", ".vnupd-x1Y2z3", ".vnwrite-Ab12Cd",
                           "STOCKS.INI.damaged-20240101-120000", "IBM.csv", "chart.pdf", "Cache", "Cache/GIF3.GIF", "symbols.dat"})
    EXPECT_TRUE(IsProtectedProgramFile(user)) << user;
  for (const char* shipped : {"params.par", "MENU.PAR", "popmenu.par", "cust.par", "fund.par", "IsldStr.Par",
                              "MYSITE.SDF", "wire.NWS", "dow.ind", "find.lup", "librirudid.so", "VNUPDEXE",
                              "unknown.bin", "PORT.DATA", "STOCKS.INIX", ""})
    EXPECT_FALSE(IsProtectedProgramFile(shipped)) << shipped;
  EXPECT_EQ(ProgramFileKindOf("menu.par"), ProgramFileKind::Starter);
  EXPECT_EQ(ProgramFileKindOf("x.SDF"), ProgramFileKind::Definition);
  EXPECT_EQ(ProgramFileKindOf("vnupdexe"), ProgramFileKind::Binary);
  EXPECT_EQ(BackupFileName("stocks.ini"), "STOCKS.IN_");
  EXPECT_EQ(BackupFileName("PORT.DAT"), "PORT.DA_");
  EXPECT_EQ(BackupFileName("SDATA.DMP"), "");
  EXPECT_EQ(ProgramBinaries(), (std::vector<std::string>{"librirudid.so", "vnupdexe"}));
}

// A start cleans up what an interrupted atomic write of our own files left, never another copy's
// write in flight, an update's staging file or a file that is not ours.
TEST(ProgramFolder, LeftOverTemporariesOfOurOwnFilesAreRemoved) {
  namespace fs = std::filesystem;
  const std::string dir = ProgDir + "leftovers/";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::vector<std::string> fresh = {"STOCKS.INI.tmpAb12Cd", "PORT.DAT.damaged-20260101-000000.tmpQwErTy"};
  const std::string old = "PORT.DAT.tmpXyZ123";
  const std::vector<std::string> never = {".vnupd-x1Y2z3", "mine.txt.tmpAb12Cd", "PORT.DAT", "STOCKS.INI.tmp",
                                          "PORT.DA_.tmpLinked"};
  for (const std::string& n : fresh) ASSERT_TRUE(WriteFileAtomic(dir + n, "x"));
  ASSERT_TRUE(WriteFileAtomic(dir + old, "x"));
  fs::last_write_time(dir + old, fs::file_time_type::clock::now() - std::chrono::minutes(11));
  for (const std::string& n : never) {
    if (n == "PORT.DA_.tmpLinked") fs::create_symlink(dir + "PORT.DAT", dir + n);
    else ASSERT_TRUE(WriteFileAtomic(dir + n, "x"));
    std::error_code ec;  // a link's own time cannot be set: it is old enough as it is
    fs::last_write_time(dir + n, fs::file_time_type::clock::now() - std::chrono::minutes(11), ec);
  }
  // Beside another copy only what is old enough to be nobody's write any more.
  EXPECT_EQ(RemoveLeftoverTemporaries(dir, false), 1);
  EXPECT_FALSE(fs::exists(dir + old));
  for (const std::string& n : fresh) EXPECT_TRUE(fs::exists(dir + n)) << n;
  EXPECT_EQ(RemoveLeftoverTemporaries(dir, true), 2);
  for (const std::string& n : fresh) EXPECT_FALSE(fs::exists(dir + n)) << n;
  for (const std::string& n : never) EXPECT_TRUE(fs::exists(fs::symlink_status(dir + n))) << n;
  fs::remove_all(dir);
}

TEST(Settings, StoredEasternOffsetStaysInForceInLaterRuns) {
  Ini().DeleteKey("Stocks", "ETOFFSET");
  LoadMiscSettings();
  EXPECT_FALSE(ClockSynced.load());
  Ini().WriteFloat("Stocks", "ETOFFSET", -0.25);
  LoadMiscSettings();
  EXPECT_TRUE(ClockSynced.load());
  EXPECT_DOUBLE_EQ(EtOffsetCache.load(), -0.25);
  Ini().WriteString("Stocks", "ETOFFSET", "soon");
  LoadMiscSettings();
  EXPECT_FALSE(ClockSynced.load());  // an unreadable offset is no offset
  Ini().DeleteKey("Stocks", "ETOFFSET");
  ClockSynced = false;
  EtOffsetCache = 0;
}

namespace {
// Runs OpenSettingsFile on a folder of its own, then goes back to the tests' settings file.
struct OtherSettingsFolder {
  std::string saved = ProgDir;
  explicit OtherSettingsFolder(const std::string& name) {
    ProgDir = saved + name + "/";
    std::filesystem::remove_all(ProgDir);
    std::filesystem::create_directories(ProgDir);
  }
  ~OtherSettingsFolder() {
    ProgDir = saved;
    OpenSettingsFile();
  }
};

std::string ReadBytesOf(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

std::filesystem::perms Mode(const std::string& path) {
  return std::filesystem::status(path).permissions() & std::filesystem::perms::all;
}
}  // namespace

TEST(SettingsFile, WhatReadsAsASettingsFile) {
  EXPECT_TRUE(IniFile::LooksLikeSettingsText(""));
  EXPECT_TRUE(IniFile::LooksLikeSettingsText("; note\r\n\r\n[Stocks]\r\nSiteFile = a.SDF\r\n  \r\n[Empty]\n"));
  EXPECT_FALSE(IniFile::LooksLikeSettingsText(std::string("[Stocks]\r\nA=1\0\r\n", 14)));
  EXPECT_FALSE(IniFile::LooksLikeSettingsText("[Stocks]\r\njust words\r\n"));
  EXPECT_FALSE(IniFile::LooksLikeSettingsText("[Stocks\r\nA=1\r\n"));
  EXPECT_FALSE(IniFile::LooksLikeSettingsText("[Stocks]\r\n=no key\r\n"));
}

TEST(SettingsFile, DamagedFileIsKeptAsideAndTheBackupUsedEveryStart) {
  namespace fs = std::filesystem;
  OtherSettingsFolder folder("damaged-ini");
  const std::string ini = ProgDir + "STOCKS.INI", bak = ProgDir + "STOCKS.IN_";
  const std::string good = "[Stocks]\r\nCurPort=3\r\n\r\n";
  std::string damaged = "[Stocks]\r\nCurPort=3\r\n";
  damaged += std::string("\0\0\x89PNG garbage\r\n", 16);
  ASSERT_TRUE(WriteFileAtomic(ini, good));
  OpenSettingsFile();  // a good file becomes the backup, private
  EXPECT_EQ(Mode(ini), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Mode(bak), fs::perms::owner_read | fs::perms::owner_write);

  TakeUserNotices();
  for (int start = 0; start < 2; ++start) {
    ASSERT_TRUE(WriteFileAtomic(ini, damaged));
    OpenSettingsFile();
    std::string kept;
    ASSERT_TRUE(ReadWholeFile(bak, kept));
    EXPECT_EQ(kept, good) << "a damaged file must not replace its backup";
    EXPECT_EQ(Ini().ReadInteger("Stocks", "CurPort", 0), 3);
    const auto notices = TakeUserNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("backup STOCKS.IN_ is used"), std::string::npos) << notices[0];
  }
  // The damaged file is kept byte for byte, once: the same bytes again make no second copy.
  int aside = 0;
  for (const auto& e : fs::directory_iterator(ProgDir)) {
    if (e.path().filename().string().rfind("STOCKS.INI.damaged-", 0) != 0) continue;
    std::string bytes;
    ReadWholeFile(e.path().string(), bytes);
    EXPECT_EQ(bytes, damaged);
    ++aside;
  }
  EXPECT_EQ(aside, 1);
}

// Making the settings private never follows a link: the file it points to keeps its mode; the
// next write replaces the link with a private file.
TEST(SettingsFile, LinksAreNeverMadePrivateThroughTheLink) {
  namespace fs = std::filesystem;
  OtherSettingsFolder folder("linked-ini");
  const std::string outside = ProgDir + "../linked-ini-outside/";
  fs::create_directories(outside);
  const std::string settings = "[Stocks]\r\nRefreshSecs=45\r\n\r\n";
  for (const char* name : {"settings.ini", "backup.ini"}) {
    ASSERT_TRUE(WriteFileAtomic(outside + name, settings));
    fs::permissions(outside + name, fs::perms(0644));
  }
  fs::create_symlink(outside + "settings.ini", ProgDir + "STOCKS.INI");
  fs::create_symlink(outside + "backup.ini", ProgDir + "STOCKS.IN_");
  OpenSettingsFile();
  EXPECT_EQ(Ini().ReadInteger("Stocks", "RefreshSecs", 0), 45);
  ASSERT_TRUE(Ini().WriteInteger("Stocks", "RefreshSecs", 30));
  for (const char* name : {"settings.ini", "backup.ini"}) {
    EXPECT_EQ(Mode(outside + name), fs::perms(0644)) << name;
    std::string kept;
    ASSERT_TRUE(ReadWholeFile(outside + name, kept));
    EXPECT_EQ(kept, settings) << name;
  }
  // The settings were written as a private file of our own; at the close the backup follows
  // the file as it read at start, as a private file too.
  ASSERT_TRUE(SettingsBackupFollows());
  EXPECT_FALSE(fs::is_symlink(ProgDir + "STOCKS.INI"));
  EXPECT_EQ(Mode(ProgDir + "STOCKS.INI"), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(IniFile(ProgDir + "STOCKS.IN_").ReadInteger("Stocks", "RefreshSecs", 0), 45);
  fs::remove_all(outside);
}

TEST(SettingsFile, CommentsAndRepeatedKeysSurviveARewrite) {
  OtherSettingsFolder folder("comments-ini");
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "STOCKS.INI",
                              "; my notes\r\n[Stocks]\r\n; keep this\r\nA=1\r\na=2\r\n[Misc]\r\nB=3\r\n"));
  OpenSettingsFile();
  ASSERT_TRUE(Ini().WriteString("Stocks", "A", "5"));
  std::string text;
  ASSERT_TRUE(ReadWholeFile(ProgDir + "STOCKS.INI", text));
  EXPECT_EQ(text, "; my notes\r\n[Stocks]\r\n; keep this\r\nA=5\r\na=2\r\n\r\n[Misc]\r\nB=3\r\n\r\n");
  StringList keys;
  Ini().ReadSection("Stocks", keys);
  EXPECT_EQ(keys.CommaText(), "A");
}

// A byte-order mark some editors put first is skipped in the settings, the portfolios and the
// parameter files: everything loads with no word, no name starts with it, and no save writes it.
TEST(UserFiles, AByteOrderMarkIsSkippedAndNeverWritten) {
  namespace fs = std::filesystem;
  OtherSettingsFolder folder("bom");
  const std::string mark = "\xEF\xBB\xBF";
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "STOCKS.INI", mark + "[Stocks]\r\nCurPort=3\r\n\r\n[Misc]\r\nB=4\r\n"));
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "PORT.DAT", mark + "First|PORT1||IBM;1;2;0;0;0;a\r\nSecond|PORT2||KO;1;2;0;0;0;b\r\n"));
  ASSERT_TRUE(WriteFileAtomic(ProgDir + "params.par", mark + "NEWSINTERVAL=7\r\n"));
  TakeUserNotices();
  OpenSettingsFile();
  EXPECT_EQ(Ini().ReadInteger("Stocks", "CurPort", 0), 3);
  ASSERT_TRUE(Ini().WriteInteger("Misc", "B", 5));
  ASSERT_TRUE(LoadPortfolios());
  ASSERT_EQ(PortCount(), 2);
  EXPECT_EQ(PortAt(1)->Name, "First");
  {
    LockHold h(PortLock, "TEST");
    PortList[1].Name = "Renamed";
  }
  ASSERT_TRUE(SavePortfolios());
  StringList params;
  ASSERT_TRUE(LoadParamLines(ProgDir + "params.par", params));
  EXPECT_EQ(ParamValue(params, "NEWSINTERVAL", ""), "7");
  EXPECT_TRUE(TakeUserNotices().empty());
  for (const char* name : {"STOCKS.INI", "PORT.DAT"}) {
    std::string now;
    ASSERT_TRUE(ReadWholeFile(ProgDir + name, now));
    EXPECT_FALSE(now.starts_with(mark)) << name;
  }
  EXPECT_EQ(IniFile(ProgDir + "STOCKS.INI").ReadInteger("Misc", "B", 0), 5);
  {
    LockHold h(PortLock, "TEST");
    PortList.clear();
  }
}

// stocks.log swapped for a link (to a file outside the folder) is replaced by a private file
// of our own; nothing reaches the link's target.
TEST(Log, ALinkInItsPlaceIsReplacedNotFollowed) {
  namespace fs = std::filesystem;
  OtherSettingsFolder folder("linked-log");
  const std::string outside = ProgDir + "../linked-log-outside";
  ASSERT_TRUE(WriteFileAtomic(outside, "theirs\n"));
  fs::create_symlink(outside, ProgDir + "stocks.log");
  LogOn = true;
  StartLog(false);  // as a second copy does: the log is not started afresh
  WriteLog("a line of ours");
  LogOn = false;
  std::string theirs, ours;
  ASSERT_TRUE(ReadWholeFile(outside, theirs));
  EXPECT_EQ(theirs, "theirs\n");
  EXPECT_FALSE(fs::is_symlink(ProgDir + "stocks.log"));
  ASSERT_TRUE(ReadWholeFile(ProgDir + "stocks.log", ours));
  EXPECT_NE(ours.find("a line of ours"), std::string::npos);
  EXPECT_EQ(Mode(ProgDir + "stocks.log"), fs::perms::owner_read | fs::perms::owner_write);
  fs::remove(outside);
}

// A lost settings file comes back from the backup and is said; a cut one is completed from the
// backup (its own keys win, but a value cut short takes the backup's); and the backup follows
// the start's whole file at the close, the old one kept as .older when it held more keys.
TEST(SettingsFile, MissingOrCutFilesLoseNoKeyOfTheBackup) {
  namespace fs = std::filesystem;
  OtherSettingsFolder folder("cut-ini");
  const std::string ini = ProgDir + "STOCKS.INI", bak = ProgDir + "STOCKS.IN_";
  const std::string good = "[Stocks]\r\nCurPort=3\r\nSiteFile=site.sdf\r\n[Misc]\r\nB=4\r\nLast=the whole value\r\n";
  ASSERT_TRUE(WriteFileAtomic(bak, good));
  fs::create_symlink(ProgDir + "nowhere", ini);  // a dangling link in its place
  TakeUserNotices();
  OpenSettingsFile();
  EXPECT_FALSE(fs::is_symlink(ini));
  EXPECT_FALSE(fs::exists(ProgDir + "nowhere"));
  EXPECT_EQ(Ini().ReadInteger("Misc", "B", 0), 4);
  auto notices = TakeUserNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("STOCKS.INI is missing. The backup STOCKS.IN_ is used"), std::string::npos) << notices[0];

  // Cut inside the last value, with one key of its own changed.
  ASSERT_TRUE(WriteFileAtomic(ini, "[Stocks]\r\nCurPort=5\r\n[Misc]\r\nB=4\r\nLast=the wh"));
  OpenSettingsFile();
  EXPECT_EQ(Ini().ReadInteger("Stocks", "CurPort", 0), 5);
  EXPECT_EQ(Ini().ReadString("Stocks", "SiteFile", ""), "site.sdf");
  EXPECT_EQ(Ini().ReadString("Misc", "Last", ""), "the whole value");
  notices = TakeUserNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("(it may have been cut, or written by hand)"), std::string::npos) << notices[0];
  EXPECT_NE(notices[0].find("2 settings were taken from the backup STOCKS.IN_"), std::string::npos) << notices[0];
  EXPECT_EQ(IniFile(ini).ReadString("Stocks", "SiteFile", ""), "site.sdf") << "not written at start";
  ASSERT_TRUE(SettingsBackupFollows());
  EXPECT_EQ(ReadBytesOf(bak), good) << "a cut file became the backup";

  // Cut inside a section header: the lines before it are used.
  ASSERT_TRUE(WriteFileAtomic(ini, "[Stocks]\r\nCurPort=3\r\n[Mi"));
  OpenSettingsFile();
  EXPECT_EQ(Ini().ReadString("Misc", "Last", ""), "the whole value");
  EXPECT_EQ(Ini().ReadInteger("Stocks", "CurPort", 0), 3);
  TakeUserNotices();

  // Cut exactly at a line end, it reads whole: at the close it becomes the backup and the old
  // backup, which held more, is kept as STOCKS.IN_.older.
  const std::string lineEnd = "[Stocks]\r\nCurPort=3\r\n";
  ASSERT_TRUE(WriteFileAtomic(ini, lineEnd));
  OpenSettingsFile();
  EXPECT_EQ(ReadBytesOf(bak), good) << "a start replaced the backup";
  ASSERT_TRUE(SettingsBackupFollows());
  EXPECT_EQ(ReadBytesOf(bak), lineEnd);
  EXPECT_EQ(ReadBytesOf(bak + ".older"), good);
  EXPECT_TRUE(TakeUserNotices().empty());
}

// A GIF's first bytes, an escape sequence, line breaks and broken UTF-8 written into a log line
// come out as \xNN, one line of text; valid UTF-8 stays as it is.
TEST(Log, OutsideBytesAreEscaped) {
  OtherSettingsFolder folder("escaped-log");
  const std::string gif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01\x00\x00\x00\x00,", 28);
  const std::string text = "AD received: " + gif + " \x1b[2J\r\nfake line\x7f caf\xc3\xa9 \xe2\x82\xac \xc3 \xed\xa0\x80 \xf4\x90\x80\x80\xe2\x82";
  LogOn = true;
  StartLog();
  WriteLog(text);
  LogOn = false;
  std::string log;
  ASSERT_TRUE(ReadWholeFile(ProgDir + "stocks.log", log));
  const std::string expected =
      "AD received: GIF89a\\x01\\x00\\x01\\x00\\x80\\x00\\x00\\xFF\\xFF\\xFF\\x00\\x00\\x00!\\xF9\\x04\\x01\\x00\\x00\\x00\\x00,"
      " \\x1B[2J\\x0D\\x0Afake line\\x7F caf\xc3\xa9 \xe2\x82\xac \\xC3 \\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80\\xE2\\x82\r\n";
  ASSERT_GE(log.size(), expected.size());
  EXPECT_EQ(log.substr(log.size() - expected.size()), expected);
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);  // "Log File Start" and the one line
  EXPECT_EQ(LogSafeText(text), expected.substr(0, expected.size() - 2));
}

// Cut at every byte that is not a line end, a settings file beside a good backup loses no key:
// each reads with the backup's value (the file's own, where the cut left it whole).
TEST(SettingsFile, ACutAtAnyByteLosesNoKey) {
  OtherSettingsFolder folder("every-cut");
  const std::string good = "[S]\r\nRefresh=45\r\nB=2\r\n\r\n[M]\r\nF=NO\r\n[C]\r\nLast=kept to the end\r\n";
  int cuts = 0;
  for (size_t at = 1; at < good.size(); ++at) {
    if (good[at - 1] == '\n') continue;  // a cut at a line end reads whole
    ASSERT_TRUE(WriteFileAtomic(ProgDir + "STOCKS.IN_", good));
    ASSERT_TRUE(WriteFileAtomic(ProgDir + "STOCKS.INI", good.substr(0, at)));
    OpenSettingsFile();
    for (const IniFile::KeyLine& k : IniFile::KeysOf(good)) {
      if (!k.Key.empty()) {
        EXPECT_EQ(Ini().ReadString(k.Section, k.Key, "(lost)"), k.Value) << "cut at " << at;
      }
    }
    for (const auto& e : std::filesystem::directory_iterator(ProgDir))
      if (e.path().filename().string().rfind("STOCKS.INI.damaged-", 0) == 0) std::filesystem::remove(e.path());
    ++cuts;
  }
  TakeUserNotices();
  EXPECT_GT(cuts, 40);
}
