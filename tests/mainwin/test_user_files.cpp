// The user's own files on the real program: whatever damage a portfolio or settings file took,
// one start and a normal close never cost a good copy, and the user is told.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "common/fake_site.h"
#include "core/program_state.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "core/text_helpers.h"
#include "core/user_notices.h"
#include "grid/grid_views.h"
#include "mainwin/startup.h"
#include "prefs/prefs_dialog.h"
#include "platform/ini_file.h"
#include "platform/string_list.h"
#include "private_mount.h"
#include "run_program.h"

namespace {

constexpr uid_t kNobody = 65534;

std::string PortLine(int n) {
  std::string line = "Portfolio " + std::to_string(n) + "|PORT" + std::to_string(n) + "|";
  for (int r = 0; r < 8; ++r)
    line += "|SYM" + std::to_string(n) + std::to_string(r) + ";" + std::to_string(10 * r + n) + ";12.5;0;0;0;note " +
            std::to_string(r);
  return line;
}

// The previous save (five portfolios) and the file as the last session left it (six).
std::string GoodPorts(int count) {
  std::string text;
  for (int n = 1; n <= count; ++n) text += PortLine(n) + "\r\n";
  return text;
}

const std::string kGoodSettings =
    "[Stocks]\r\nRefreshSecs=45\r\nCurPort=2\r\nSortCol=3\r\n\r\n[Misc]\r\nFractions=NO\r\n\r\n"
    "[Colors]\r\nFilter=30\r\nBackColor=16777215\r\nLastKey=kept to the end\r\n\r\n";

struct Damage {
  const char* Name;
  const char* File;  // the file damaged
  std::function<void(const std::string& dir)> Apply;
  bool AsAnotherUser = false;  // a permission case, run without root
  bool ExpectAside = true;     // its bytes kept aside
};

// The files of the folder whose names start with prefix.
std::vector<std::string> FilesStartingWith(const std::string& dir, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename().string().rfind(prefix, 0) == 0) out.push_back(e.path().filename().string());
  return out;
}

// Whether some file of the folder holds exactly these bytes.
bool FolderHolds(const std::string& dir, const std::string& bytes) {
  for (const auto& e : fs::directory_iterator(dir)) {
    std::string s;
    if (e.is_regular_file() && e.file_size() == bytes.size() && ReadWholeFile(e.path().string(), s) && s == bytes)
      return true;
  }
  return false;
}

// Whether a switch to an unprivileged user works here (root can, others run as themselves).
bool CanRunAsAnotherUser(std::string& why) {
  if (::geteuid() != 0) return true;
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0 ? 0 : 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  why = "this system lets root not become an unprivileged user";
  return false;
}

// One start that loads the files, closed by the session's end.
void RunOnce(const std::string& dir, bool asAnotherUser) {
  fs::remove(dir + "stocks.log");
  std::function<bool()> prepare;
  if (asAnotherUser && ::geteuid() == 0)
    prepare = [] { return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0; };
  ChildGuard copy{SpawnProgram({"VANTORA_HOME=" + dir, "HOME=" + dir, "XDG_RUNTIME_DIR=" + dir}, {"LOG"}, prepare)};
  ASSERT_GT(copy.pid, 0);
  ASSERT_TRUE(WaitForLogLine(copy.pid, dir + "stocks.log", "Loading settings")) << Slurp(dir + "stocks.log");
  kill(copy.pid, SIGTERM);
  ASSERT_EQ(copy.Wait(20000), 0);
}

}  // namespace

TEST(UserFiles, NoDamageCostsAGoodCopyAndEachIsTold) {
  const std::string good6 = GoodPorts(6), good5 = GoodPorts(5);
  std::string random(200 * 1024, '\0');
  for (size_t i = 0, seed = 7; i < random.size(); ++i) random[i] = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
  // Cut a third of the way in, inside a row, where the cut line still reads (it ends after a row).
  const size_t third = good6.rfind('|', good6.size() / 3);
  std::string longLine = good6;
  longLine.insert(PortLine(1).size() * 3 + 6, std::string(10 * 1024 * 1024, 'x') + "\r\n");

  auto write = [](const std::string& bytes) {
    return [bytes](const std::string& dir) { ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DAT", bytes)); };
  };
  const std::vector<Damage> cases = {
      {"random bytes", "PORT.DAT", write(random)},
      {"cut inside a row", "PORT.DAT", write(good6.substr(0, third))},
      {"cut in the last line", "PORT.DAT", write(good6.substr(0, good6.size() - 30))},
      {"last bytes cut", "PORT.DAT", write(good6.substr(0, good6.size() - 1))},
      {"a 10 MB line", "PORT.DAT", write(longLine)},
      {"no read permission", "PORT.DAT",
       [&](const std::string& dir) {
         ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DAT", good6));
         fs::permissions(dir + "PORT.DAT", fs::perms::none);
       },
       true, false},
      {"a folder in its place", "PORT.DAT",
       [](const std::string& dir) {
         fs::remove(dir + "PORT.DAT");
         fs::create_directories(dir + "PORT.DAT/inside");
       },
       false, false},
      {"settings: a folder in its place", "STOCKS.INI",
       [](const std::string& dir) {
         fs::remove(dir + "STOCKS.INI");
         fs::create_directories(dir + "STOCKS.INI/inside");
       },
       false, false},
      {"settings cut inside the last section", "STOCKS.INI",
       [](const std::string& dir) {
         ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", kGoodSettings.substr(0, kGoodSettings.find("to the end"))));
       }},
      {"hand-written without a final line break", "PORT.DAT", write(good6.substr(0, good6.size() - 2))},
      {"a good file without a backup", "PORT.DAT",
       [&](const std::string& dir) { fs::remove(dir + "PORT.DA_"); }, false, false},
  };

  std::string why;
  const bool canSwitch = CanRunAsAnotherUser(why);
  int kept = 0, told = 0, ran = 0;
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.AsAnotherUser && !canSwitch) {
      std::cout << "[ SKIPPED  ] " << c.Name << ": " << why << "\n";
      continue;
    }
    ++ran;
    TempHome temp(std::string("userfiles_") + std::to_string(ran));
    const std::string dir = temp.path.string() + "/";
    ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DAT", good6));
    ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DA_", good5));
    ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", kGoodSettings));
    ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.IN_", kGoodSettings));
    ASSERT_NO_FATAL_FAILURE(c.Apply(dir));
    std::string damaged;
    const bool plainDamage = fs::is_regular_file(dir + c.File);
    if (plainDamage) ReadWholeFile(dir + c.File, damaged);
    if (c.AsAnotherUser && ::geteuid() == 0) {
      ASSERT_EQ(::chown(temp.path.c_str(), kNobody, kNobody), 0);
      for (const auto& e : fs::directory_iterator(temp.path)) ASSERT_EQ(::lchown(e.path().c_str(), kNobody, kNobody), 0);
    }
    ASSERT_NO_FATAL_FAILURE(RunOnce(dir, c.AsAnotherUser));
    const std::string log = Slurp(dir + "stocks.log");

    // Every portfolio and key a good file held is still in the folder: the backups as they were,
    // and what the damaged file held, byte for byte or, when nobody could read it, as it stood.
    const bool settings = std::string(c.File) == "STOCKS.INI";
    const std::string backup = settings ? "STOCKS.IN_" : "PORT.DA_";
    bool all = true;
    if (std::string(c.Name) == "a good file without a backup") {
      all = Slurp(dir + "PORT.DA_") == good6;
      EXPECT_TRUE(all) << "a file that read whole becomes the missing backup";
    } else {
      const bool backupKept = Slurp(dir + backup) == (settings ? kGoodSettings : good5);
      EXPECT_TRUE(backupKept) << backup << " was replaced";
      bool damagedKept = true;
      if (c.AsAnotherUser) {
        fs::permissions(temp.path, fs::perms::owner_all);
        for (const auto& e : fs::directory_iterator(temp.path)) fs::permissions(e.path(), fs::perms::owner_read, fs::perm_options::add);
        damagedKept = FolderHolds(dir, good6);
      } else if (plainDamage) {
        damagedKept = FolderHolds(dir, damaged);
      } else {
        damagedKept = fs::is_directory(dir + c.File + "/inside") ||
                      !FilesStartingWith(dir, std::string(c.File) + ".damaged-").empty();
      }
      EXPECT_TRUE(damagedKept) << "what " << c.File << " held is gone";
      all = backupKept && damagedKept;
      if (std::string(c.Name) == "hand-written without a final line break") {
        // Every row of it loaded: the close wrote them all back.
        std::string now = Slurp(dir + "PORT.DAT");
        EXPECT_EQ(now, good6);
        all = all && now == good6;
      }
    }
    kept += all;

    // The box names the file, what was wrong, the aside copy and the backup.
    bool said = true;
    if (std::string(c.Name) != "a good file without a backup") {
      const std::string asidePrefix = std::string(c.File) + ".damaged-";
      const std::vector<std::string> asides = FilesStartingWith(dir, asidePrefix);
      const bool unreadable = !c.ExpectAside;
      said = log.find(std::string("file ") + c.File + (unreadable ? " cannot be read" : " did not read whole")) !=
                 std::string::npos &&
             log.find("backup " + backup) != std::string::npos && asides.size() == 1 &&
             log.find(asides.empty() ? std::string("\x01") : asides[0]) != std::string::npos;
      if (c.AsAnotherUser) said = said && log.find(std::strerror(EACCES)) != std::string::npos;
      EXPECT_TRUE(said) << log;
    }
    told += said;
  }
  std::cout << "damage matrix: " << kept << " of " << ran << " cases kept every portfolio and key and the backup; "
            << told << " of " << ran << " said so in the box\n";
  RecordProperty("kept", kept);
  RecordProperty("told", told);
}


namespace {

// A headline dump of these symbols (no headlines each): its records are what a later start must
// still find. cut leaves the last record half written.
std::string NewsDump(const std::vector<std::string>& symbols, bool cut = false) {
  std::string b = "VNSNEWS1";
  auto put32 = [&](uint32_t v) { b.append(reinterpret_cast<const char*>(&v), 4); };
  put32(static_cast<uint32_t>(symbols.size()));
  for (const std::string& s : symbols) {
    put32(static_cast<uint32_t>(s.size()));
    b += s;
    put32(0);
    const double checked = 46000.5;
    b.append(reinterpret_cast<const char*>(&checked), 8);
    put32(0);
  }
  if (cut) b.resize(b.size() - 6);
  return b;
}

// Every key of the good settings, with its value, is in some settings file of the folder.
std::vector<std::string> KeysLost(const std::string& dir, const std::string& good) {
  std::vector<std::vector<IniFile::KeyLine>> files;
  for (const auto& e : fs::directory_iterator(dir)) {
    std::string bytes;
    if (e.path().filename().string().rfind("STOCKS.IN", 0) == 0 && ReadWholeFile(e.path().string(), bytes))
      files.push_back(IniFile::KeysOf(bytes));
  }
  std::vector<std::string> lost;
  for (const IniFile::KeyLine& k : IniFile::KeysOf(good)) {
    if (k.Key.empty()) continue;
    bool found = false;
    for (const auto& keys : files)
      for (const IniFile::KeyLine& have : keys)
        found = found || (SameText(have.Section, k.Section) && SameText(have.Key, k.Key) && have.Value == k.Value);
    if (!found) lost.push_back("[" + k.Section + "] " + k.Key);
  }
  return lost;
}

// Every portfolio line of the good file is a line of some portfolio file of the folder.
std::vector<std::string> PortfoliosLost(const std::string& dir, const std::string& good) {
  std::string all;
  for (const auto& e : fs::directory_iterator(dir)) {
    std::string bytes;
    if (e.path().filename().string().rfind("PORT.DA", 0) == 0 && ReadWholeFile(e.path().string(), bytes))
      all += "\r\n" + bytes + "\r\n";
  }
  StringList lines;
  lines.SetText(good);
  std::vector<std::string> lost;
  for (int i = 0; i < lines.Count(); ++i)
    if (!lines[i].empty() && all.find("\n" + lines[i] + "\r") == std::string::npos) lost.push_back(lines[i].substr(0, 20));
  return lost;
}

std::function<bool()> AsNobody(bool asAnotherUser) {
  if (!asAnotherUser || ::geteuid() != 0) return {};
  return [] { return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0; };
}

std::vector<std::string> Env(const std::string& dir) { return {"VANTORA_HOME=" + dir, "HOME=" + dir, "XDG_RUNTIME_DIR=" + dir}; }

// One start (spawn), until the files in view are loaded, then during, closed by SIGTERM; its log.
std::string Start(const std::string& view, const std::function<pid_t()>& spawn,
                  const std::function<void()>& during = {}) {
  std::error_code ec;
  fs::remove(view + "stocks.log", ec);
  ChildGuard copy{spawn()};
  EXPECT_GT(copy.pid, 0);
  const bool loaded = WaitForLogLine(copy.pid, view + "stocks.log", "Loading settings", 1, 15000);
  EXPECT_TRUE(loaded) << "the start did not reach its files: " << Slurp(view + "stocks.log");
  if (during) during();
  kill(copy.pid, SIGTERM);
  EXPECT_EQ(copy.Wait(15000), 0) << "the close did not end in time";
  return Slurp(view + "stocks.log");
}

void GiveToNobody(const fs::path& dir) {
  if (::geteuid() != 0) return;
  ASSERT_EQ(::chown(dir.c_str(), kNobody, kNobody), 0);
  for (const auto& e : fs::recursive_directory_iterator(dir)) ASSERT_EQ(::lchown(e.path().c_str(), kNobody, kNobody), 0);
}

void TakeBack(const fs::path& dir) {
  fs::permissions(dir, fs::perms::owner_all);
  for (const auto& e : fs::directory_iterator(dir))
    if (!e.is_symlink()) fs::permissions(e.path(), fs::perms::owner_read, fs::perm_options::add);
}

// Each function gets the program folder as the test sees it.
struct Walk {
  const char* Name;
  int Starts;
  std::function<void(const std::string& dir)> Damage;  // before the first start
  // After start n (from 0), with its log: checks, and damage before the next start.
  std::function<void(const std::string& dir, int n, const std::string& log)> After;
  bool AsAnotherUser = false;
  std::string Kept = {};  // bytes some file of the folder must still hold at the end
  bool SmallDisk = false;  // the folder is a small file system of its own
  std::function<void(const std::string& dir, int n)> During = {};  // while start n runs
  const char* RootOwned = nullptr;  // kept root's in a sticky folder: nobody may move it
};

}  // namespace

namespace {

// Damage, a lost file, odd files and a full disk, each walked over as many starts as it needs.
std::vector<Walk> Walks() {
  static const std::string good6 = GoodPorts(6);
  static const std::string news = NewsDump({"IBM", "MSFT", "KO"}), cutNews = NewsDump({"IBM", "MSFT", "KO"}, true);
  static const auto has = [](const std::string& log, const std::string& text) { return log.find(text) != std::string::npos; };
  return {
      {"settings deleted", 2, [](const std::string& dir) { fs::remove(dir + "STOCKS.INI"); },
       [&](const std::string& dir, int n, const std::string& log) {
         if (n == 0) { EXPECT_TRUE(has(log, "STOCKS.INI is missing. The backup STOCKS.IN_ is used")) << log; }
         EXPECT_EQ(IniFile(dir + "STOCKS.INI").ReadString("Colors", "LastKey", ""), "kept to the end") << n;
       }},
      {"settings a dangling link", 2,
       [](const std::string& dir) {
         fs::remove(dir + "STOCKS.INI");
         fs::create_symlink(dir + "gone/STOCKS.INI", dir + "STOCKS.INI");
       },
       [&](const std::string& dir, int n, const std::string& log) {
         if (n == 0) { EXPECT_TRUE(has(log, "STOCKS.INI is missing. The backup STOCKS.IN_ is used")) << log; }
         EXPECT_FALSE(fs::is_symlink(dir + "STOCKS.INI"));
         EXPECT_FALSE(fs::exists(dir + "gone"));
       }},
      {"portfolios deleted", 1, [](const std::string& dir) { fs::remove(dir + "PORT.DAT"); },
       [&](const std::string&, int, const std::string& log) {
         EXPECT_TRUE(has(log, "PORT.DAT is missing; the backup PORT.DA_ is used")) << log;
       }},
      {"settings cut inside a value", 2,
       [](const std::string& dir) {
         ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", kGoodSettings.substr(0, kGoodSettings.find("Filter=3") + 7)));
       },
       [&](const std::string& dir, int n, const std::string& log) {
         if (n == 0) { EXPECT_TRUE(has(log, "3 settings were taken from the backup STOCKS.IN_")) << log; }
         EXPECT_EQ(IniFile(dir + "STOCKS.INI").ReadInteger("Colors", "Filter", 0), 30) << n;
         EXPECT_EQ(IniFile(dir + "STOCKS.INI").ReadString("Colors", "LastKey", ""), "kept to the end") << n;
       }},
      {"settings with a key of this session, cut inside a section name", 2,
       [](const std::string& dir) {
         const std::string mine = "[Stocks]\r\nNewKey=mine\r\n" + kGoodSettings.substr(10);
         ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", mine.substr(0, mine.find("[Colors]") + 4)));
       },
       [&](const std::string& dir, int n, const std::string&) {
         EXPECT_EQ(IniFile(dir + "STOCKS.INI").ReadString("Stocks", "NewKey", ""), "mine") << n;
         EXPECT_EQ(IniFile(dir + "STOCKS.INI").ReadString("Colors", "LastKey", ""), "kept to the end") << n;
       }},
      {"settings cut at a line end", 2,
       [](const std::string& dir) {
         ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", kGoodSettings.substr(0, kGoodSettings.find("[Misc]"))));
       },
       [&](const std::string& dir, int n, const std::string&) {
         if (n == 1) { EXPECT_EQ(IniFile(dir + "STOCKS.IN_.older").ReadString("Misc", "Fractions", ""), "NO"); }
       }},
      {"portfolios hand-written without a final line break", 3,
       [&](const std::string& dir) { ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DAT", good6.substr(0, good6.size() - 2))); },
       [&](const std::string& dir, int n, const std::string& log) {
         if (n == 0) { EXPECT_TRUE(has(log, "(it may have been cut, or written by hand)")) << log; }
         EXPECT_EQ(Slurp(dir + "PORT.DAT"), good6) << n;
         if (n == 1) { EXPECT_EQ(Slurp(dir + "PORT.DA_"), good6) << "the whole file is the backup after a session"; }
       }},
      {"portfolios edited by hand, then emptied", 2,
       [&](const std::string& dir) { ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DAT", good6 + PortLine(7) + "\r\n")); },
       [&](const std::string& dir, int n, const std::string& log) {
         if (n == 0) { ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DAT", "")); }
         if (n == 1) {
           EXPECT_TRUE(has(log, "PORT.DAT was empty; the backup PORT.DA_ is used")) << log;
           EXPECT_NE(Slurp(dir + "PORT.DAT").find(PortLine(7)), std::string::npos);
         }
       }},
      {"news dump unreadable", 2,
       [&](const std::string& dir) {
         ASSERT_TRUE(WriteFileAtomic(dir + "SNEWS.DMP", news));
         fs::permissions(dir + "SNEWS.DMP", fs::perms::none);
       },
       [&](const std::string&, int n, const std::string& log) {
         if (n == 0) { EXPECT_TRUE(has(log, "SNEWS.DMP cannot be read")) << log; }
         if (n == 1) { EXPECT_FALSE(has(log, "SNEWS.DMP cannot be read")) << "the new dump is readable: " << log; }
       },
       true, news},
      {"news dump damaged", 2, [&](const std::string& dir) { ASSERT_TRUE(WriteFileAtomic(dir + "SNEWS.DMP", cutNews)); },
       [&](const std::string& dir, int n, const std::string& log) {
         if (n == 0) { EXPECT_TRUE(has(log, "SNEWS.DMP did not read to its end")) << log; }
         EXPECT_EQ(FilesStartingWith(dir, "SNEWS.DMP.damaged-").size(), 1u) << n;
       },
       false, cutNews},
      {"save-failed.txt: a folder in its place", 2,
       [](const std::string& dir) { fs::create_directories(dir + "save-failed.txt/inside"); },
       [&](const std::string& dir, int, const std::string& log) {
         EXPECT_TRUE(has(log, "The note save-failed.txt, which tells a start that the last session did not finish its "
                              "saves, cannot be read (a folder is in its place)"))
             << log;
         EXPECT_FALSE(has(log, "cannot take this session's saves")) << "every save succeeds: " << log;
         EXPECT_FALSE(has(log, "Could not write")) << log;
         EXPECT_TRUE(fs::is_directory(dir + "save-failed.txt/inside"));
       }},
      {"save-failed.txt: unreadable", 2,
       [](const std::string& dir) {
         ASSERT_TRUE(WriteFileAtomic(dir + "save-failed.txt", std::string(UnfinishedSavesText) + "\n"));
         fs::permissions(dir + "save-failed.txt", fs::perms::none);
       },
       [&](const std::string& dir, int n, const std::string& log) {
         const std::string said = "The note save-failed.txt cannot be read (" + std::string(std::strerror(EACCES)) +
                                  "): the last session's saves may not have finished.";
         EXPECT_EQ(has(log, said), n == 0) << log;
         EXPECT_FALSE(fs::exists(dir + "save-failed.txt")) << "the close's saves succeeded";
       },
       true},
      {"pipes in place of the files read at start", 1,
       [](const std::string& dir) {
         fs::create_directories(dir + ".config/vantora");
         for (const char* name : {"params.par", "cust.par", "menu.par", "popmenu.par", "reklama.par", "SDATA.DMP",
                                  "SNEWS.DMP", "cookies.txt", ".config/vantora/registry.ini"}) {
           fs::remove(dir + name);
           ASSERT_EQ(::mkfifo((dir + name).c_str(), 0600), 0) << name;
         }
       },
       [&](const std::string&, int, const std::string& log) {
         EXPECT_TRUE(has(log, "SDATA.DMP cannot be read (it is not a plain file)")) << log;
         EXPECT_TRUE(has(log, "menu.par cannot be read (it is not a plain file)")) << log;
         EXPECT_TRUE(has(log, "params.par cannot be read (it is not a plain file); its defaults are used")) << log;
         EXPECT_TRUE(has(log, "The cookie store cookies.txt cannot be read (it is not a plain file). It was moved aside"))
             << log;
         EXPECT_TRUE(has(log, "/.config/vantora/registry.ini cannot be read (it is not a plain file). It was moved aside"))
             << log;
       }},
      {"byte-order marks", 1,
       [&](const std::string& dir) {
         ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", "\xEF\xBB\xBF" + kGoodSettings));
         ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DAT", "\xEF\xBB\xBF" + good6));
       },
       [&](const std::string& dir, int, const std::string& log) {
         EXPECT_FALSE(has(log, "STOCKS.INI could not be read")) << log;
         EXPECT_EQ(Slurp(dir + "PORT.DAT"), good6);
       }},
      {"a disk that fills during a session ended by SIGTERM", 2, [](const std::string&) {},
       [&](const std::string& dir, int n, const std::string& log) {
         if (n == 0) {
           EXPECT_TRUE(has(Slurp(dir + "save-failed.txt"), "did not finish its saves"));
           fs::remove(dir + "filler");
         } else {
           EXPECT_TRUE(has(log, "The last session did not finish its saves")) << log;
         }
       },
       false, {}, true, [](const std::string& dir, int n) {
         if (n == 0) FillDisk(dir + "filler");
       }},
      {"a second copy beside the first, with an earlier note and a linked log", 1,
       [](const std::string& dir) { ASSERT_TRUE(WriteFileAtomic(dir + "save-failed.txt", "Could not write it all\n")); },
       [&](const std::string& dir, int, const std::string&) {
         EXPECT_FALSE(fs::exists(dir + "save-failed.txt")) << "the first copy's saves succeeded";
       },
       false, {}, false, [&](const std::string& dir, int) {
         const std::string note = std::string(UnfinishedSavesText) + "\n";
         EXPECT_TRUE(has(Slurp(dir + "stocks.log"), "When the program last ended, its save failed: Could not write it all"));
         EXPECT_EQ(Slurp(dir + "save-failed.txt"), note);
         TempHome outside("walk_outside");
         const std::string theirs = outside.path.string() + "/theirs.log";
         ASSERT_TRUE(WriteFileAtomic(theirs, "theirs\n"));
         // Swapped in one step: the first copy writes its log meanwhile.
         fs::create_symlink(theirs, dir + "link.tmp");
         fs::rename(dir + "link.tmp", dir + "stocks.log");
         ChildGuard second{SpawnProgram(Env(dir), {"LOG", "ALLOWDUP"}, {})};
         ASSERT_GT(second.pid, 0);
         EXPECT_TRUE(WaitForLogLine(second.pid, dir + "stocks.log", "Loading settings", 1, 15000));
         kill(second.pid, SIGTERM);
         EXPECT_EQ(second.Wait(15000), 0);
         EXPECT_EQ(Slurp(theirs), "theirs\n") << "a copy wrote through the link";
         EXPECT_FALSE(fs::is_symlink(dir + "stocks.log"));
         EXPECT_FALSE(has(Slurp(dir + "stocks.log"), "did not finish its saves")) << "the second copy read the note";
         EXPECT_EQ(Slurp(dir + "save-failed.txt"), note) << "the second copy removed the first one's note";
       }},
      {"portfolios that can be neither read nor moved", 4,
       [](const std::string& dir) { fs::permissions(dir + "PORT.DAT", fs::perms::none); },
       [&](const std::string& dir, int n, const std::string& log) {
         const std::vector<std::string> saved = FilesStartingWith(dir, "PORT.DAT.saved-");
         ASSERT_EQ(saved.size(), 1u) << n << ": one saved copy serves every session";
         if (n == 1 || n == 2) {
           EXPECT_TRUE(has(log, "The newest saved copy " + saved[0] + " is used")) << log;
         }
         // Readable again: it is loaded, and the box names the copy that holds the sessions since.
         if (n == 2) fs::permissions(dir + "PORT.DAT", fs::perms(0644));
         if (n == 3) {
           EXPECT_TRUE(has(log, "PORT.DAT reads again and is used. The saved copy " + saved[0])) << log;
         }
       },
       true, {}, false, {}, "PORT.DAT"},
      {"backups: portfolios cut at a line end, then one removed by hand", 3,
       [&](const std::string& dir) { ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DAT", GoodPorts(3))); },
       [&](const std::string& dir, int n, const std::string& log) {
         if (n == 0) {
           EXPECT_TRUE(has(log, "PORT.DAT lacks 2 portfolios: \"Portfolio 4\" (PORT4), \"Portfolio 5\" (PORT5) that "
                                "the backup PORT.DA_ holds: removed by hand, or the file was cut at a line end."))
               << log;
           // By hand, with the program closed.
           ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DAT", PortLine(2) + "\r\n" + PortLine(3) + "\r\n"));
         }
         if (n == 1) {
           EXPECT_TRUE(has(log, "PORT.DAT lacks portfolio \"Portfolio 1\" (PORT1) that the backup PORT.DA_ holds"))
               << log;
         }
         if (n == 2) {
           EXPECT_FALSE(has(log, "PORT.DAT lacks")) << "said once: " << log;
           EXPECT_EQ(Slurp(dir + "PORT.DA_.older"), GoodPorts(3) + PortLine(4) + "\r\n" + PortLine(5) + "\r\n");
         }
       }},
      {"backups: settings cut at a line end, then a key removed by hand", 3,
       [&](const std::string& dir) {
         ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", kGoodSettings.substr(0, kGoodSettings.find("LastKey"))));
       },
       [&](const std::string& dir, int n, const std::string& log) {
         if (n == 0) {
           EXPECT_TRUE(has(log, "STOCKS.INI lacks 1 setting of its backup STOCKS.IN_, the first [Colors] LastKey")) << log;
           std::string text = Slurp(dir + "STOCKS.INI");
           ASSERT_NE(text.find("BackColor=16777215\r\n"), std::string::npos) << text;
           text.erase(text.find("BackColor=16777215\r\n"), 20);
           ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", text));
         }
         if (n == 1) { EXPECT_TRUE(has(log, "the first [Colors] BackColor")) << log; }
       }},
      {"backups: portfolios sharing an identifier, the file cut before the second", 2,
       [&](const std::string& dir) {
         ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DA_", GoodPorts(5) + "Shared|PORT1||SHR;1;2;0;0;0;kept\r\n"));
         ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DAT", GoodPorts(5)));
       },
       [&](const std::string& dir, int n, const std::string& log) {
         if (n == 0) {
           EXPECT_TRUE(has(log, "PORT.DAT lacks portfolio \"Shared\" (PORT1) that the backup PORT.DA_ holds")) << log;
         }
         EXPECT_TRUE(has(Slurp(dir + "PORT.DA_.older"), "\nShared|PORT1||SHR;1;2;0;0;0;kept\r\n")) << n;
       }},
      {"settings with a folder in the place of STOCKS.IN_.older", 2,
       [](const std::string& dir) {
         ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", kGoodSettings.substr(0, kGoodSettings.find("[Colors]"))));
         fs::create_directories(dir + "STOCKS.IN_.older/inside");
       },
       [&](const std::string& dir, int n, const std::string& log) {
         const std::string obstacle =
             "STOCKS.IN_.older, which keeps what a newer backup lacks, cannot be read (a folder is in its place)";
         EXPECT_TRUE(has(log, obstacle + ", so it is not written over, and the backup STOCKS.IN_ is not renewed")) << log;
         // The close saved all but the backup, and says so; no start says the saves may be missing.
         EXPECT_TRUE(has(log, "The settings, portfolios and collected data were saved. The backup STOCKS.IN_ was left as "
                              "it was: " + obstacle))
             << log;
         EXPECT_FALSE(has(log, "Could not write")) << log;
         EXPECT_FALSE(has(log, "did not finish its saves") || has(log, "its save failed")) << log;
         EXPECT_EQ(Slurp(dir + "STOCKS.IN_"), kGoodSettings) << n;
         EXPECT_TRUE(fs::is_directory(dir + "STOCKS.IN_.older/inside")) << n;
       }},
      {"settings cut with no room for a copy", 3, [](const std::string&) {},
       [&](const std::string& dir, int n, const std::string& log) {
         const std::string cut = kGoodSettings.substr(0, kGoodSettings.find("Filter=3") + 7);
         if (n == 0) {
           ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", cut));
           fs::remove(dir + "stocks.log");
           // Full but for one page, which the start's log takes before the settings are read.
           ASSERT_NO_FATAL_FAILURE(FillDisk(dir + "filler"));
           fs::resize_file(dir + "filler", fs::file_size(dir + "filler") - 4096);
         } else if (n == 1) {
           EXPECT_EQ(Slurp(dir + "STOCKS.INI"), cut) << "written over though its bytes were not kept";
           EXPECT_TRUE(has(log, "could be written either")) << log;
           EXPECT_TRUE(has(log, "cannot take this session's saves")) << log;
           EXPECT_FALSE(has(log, "settings were taken")) << "nothing can be taken into a file not written: " << log;
           for (const std::string& named : {std::string("STOCKS.INI.saved-"), std::string("STOCKS.INI.damaged-")})
             if (const size_t at = log.find(named); at != std::string::npos) {
               EXPECT_TRUE(fs::exists(dir + log.substr(at, log.find_first_of(" \r", at + named.size()) - at - 1)))
                   << "the box names a file that is not there: " << log;
             }
           fs::remove(dir + "filler");
         } else {
           EXPECT_EQ(IniFile(dir + "STOCKS.INI").ReadString("Colors", "LastKey", ""), "kept to the end");
         }
       },
       false, {}, true},
  };
}

// Runs the walks whose names start with one of the prefixes: every key, portfolio and dump record
// a good file held is still in the folder at the end, and the box said what happened.
void RunWalks(const std::vector<std::string>& prefixes) {
  const std::string good6 = GoodPorts(6), good5 = GoodPorts(5);
  std::vector<Walk> walks;
  for (Walk& w : Walks())
    for (const std::string& p : prefixes)
      if (std::string(w.Name).rfind(p, 0) == 0) {
        walks.push_back(std::move(w));
        break;
      }
  std::string why;
  const bool canSwitch = CanRunAsAnotherUser(why);
  int kept = 0, ran = 0;
  const auto failures = [] {
    const ::testing::TestResult& r = *::testing::UnitTest::GetInstance()->current_test_info()->result();
    int n = 0;
    for (int i = 0; i < r.total_part_count(); ++i) n += r.GetTestPartResult(i).failed();
    return n;
  };
  for (const Walk& w : walks) {
    SCOPED_TRACE(w.Name);
    const int failedBefore = failures();
    if (w.AsAnotherUser && !canSwitch) {
      std::cout << "[ SKIPPED  ] " << w.Name << ": " << why << "\n";
      continue;
    }
    TempHome temp(std::string("walk_") + std::to_string(ran + 1));
    std::string dir = temp.path.string() + "/";
    std::unique_ptr<PrivateMount> disk;
    if (w.SmallDisk) {
      disk = std::make_unique<PrivateMount>(temp.path.string(), PrivateMount::SmallDisk, 512);
      if (!disk->Ok()) {
        std::cout << "[ SKIPPED  ] " << w.Name << ": " << disk->Why() << "\n";
        continue;
      }
      dir = disk->Path("");
    }
    ++ran;
    ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DAT", good6));
    ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DA_", good5));
    ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", kGoodSettings));
    ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.IN_", kGoodSettings));
    ASSERT_NO_FATAL_FAILURE(w.Damage(dir));
    for (int n = 0; n < w.Starts; ++n) {
      if (w.AsAnotherUser) { ASSERT_NO_FATAL_FAILURE(GiveToNobody(temp.path)); }
      if (w.AsAnotherUser && w.RootOwned && ::geteuid() == 0) {
        // As /tmp: anyone may add files, only their owner may move them.
        ASSERT_EQ(::lchown((dir + w.RootOwned).c_str(), 0, 0), 0);
        ASSERT_EQ(::chown(temp.path.c_str(), 0, 0), 0);
        fs::permissions(temp.path, fs::perms::all | fs::perms::sticky_bit);
      }
      const std::string home = temp.path.string() + "/";
      const std::string log = Start(
          dir,
          [&] { return disk ? disk->Start(Env(home), {"LOG"}) : SpawnProgram(Env(home), {"LOG"}, AsNobody(w.AsAnotherUser)); },
          w.During ? std::function<void()>([&] { w.During(dir, n); }) : std::function<void()>());
      if (w.AsAnotherUser) TakeBack(temp.path);
      ASSERT_NO_FATAL_FAILURE(w.After(dir, n, log));
    }
    const std::vector<std::string> keys = KeysLost(dir, kGoodSettings), ports = PortfoliosLost(dir, good5);
    EXPECT_TRUE(keys.empty()) << keys.size() << " settings lost, the first " << (keys.empty() ? "" : keys[0]);
    EXPECT_TRUE(ports.empty()) << ports.size() << " portfolios lost";
    const bool bytesKept = w.Kept.empty() || FolderHolds(dir, w.Kept);
    EXPECT_TRUE(bytesKept) << "the damaged file's bytes are gone";
    kept += failures() == failedBefore;
  }
  std::cout << "walks: " << kept << " of " << ran << " kept every key, portfolio and dump record and said so\n";
}

// Three sessions of the settings file in this process, with a view deleted through the
// preferences in the first and a key removed by hand before the third.
void AViewDeletedInThePreferencesStaysInABackup() {
  const std::string dir = ProgDir;
  const std::string good = kGoodSettings + "[Views]\r\nMine=SymCol,LastCol\r\nTheirs=SymCol,VolCol\r\n\r\n";
  for (const char* name : {"STOCKS.INI", "STOCKS.IN_"}) ASSERT_TRUE(WriteFileAtomic(dir + name, good));
  fs::remove(dir + "STOCKS.IN_.older");
  OpenSettingsFile();
  LoadViews();
  RefreshSecs = 45;  // as the program read it
  {
    CurPrefsTab = PrefsTabViews;
    TdlgPref dlg(nullptr);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QListWidgetItem* mine = dlg.lbViews->findItems("Mine", Qt::MatchExactly).value(0);
    ASSERT_TRUE(mine);
    QTest::mouseClick(dlg.lbViews->viewport(), Qt::LeftButton, {}, dlg.lbViews->visualItemRect(mine).center());
    QTest::mouseClick(dlg.pbDeleteView, Qt::LeftButton);
    ASSERT_TRUE(dlg.lbViews->findItems("Mine", Qt::MatchExactly).isEmpty());
    QTest::mouseClick(dlg.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    ASSERT_FALSE(dlg.isVisible());
  }
  ASSERT_EQ(IniFile(dir + "STOCKS.INI").ReadString("Views", "Mine", "gone"), "gone");
  ASSERT_TRUE(SettingsBackupFollows());  // the close
  for (int session = 2; session <= 3; ++session) {
    if (session == 3) {
      IniFile byHand(dir + "STOCKS.INI");
      byHand.DeleteKey("Misc", "Fractions");
    }
    OpenSettingsFile();
    ASSERT_TRUE(SettingsBackupFollows());
  }
  TakeUserNotices();
  EXPECT_EQ(IniFile(dir + "STOCKS.IN_.older").ReadString("Views", "Mine", ""), "SymCol,LastCol");
  const std::vector<std::string> lost = KeysLost(dir, good);
  EXPECT_TRUE(lost.empty()) << lost.size() << " settings lost, the first " << (lost.empty() ? "" : lost[0]);
}

}  // namespace

TEST(UserFiles, SettingsKeepEveryGoodCopyOverSeveralStarts) { RunWalks({"settings"}); }

// Each backup generation carries into PORT.DA_.older and STOCKS.IN_.older what the one it
// replaces held and the new one lacks, over several starts: a file cut at a line end, a hand
// removal, portfolios that share an identifier, a view deleted in the preferences.
TEST(UserFiles, NothingABackupHeldIsLostForGood) {
  RunWalks({"backups"});
  ASSERT_NO_FATAL_FAILURE(AViewDeletedInThePreferencesStaysInABackup());
}

TEST(UserFiles, PortfoliosKeepEveryGoodCopyOverSeveralStarts) { RunWalks({"portfolios", "byte-order"}); }

TEST(UserFiles, CollectedDataOddFilesAndFullDisksKeepEveryGoodCopy) {
  RunWalks({"news", "pipes", "a disk", "a second copy", "save-failed.txt"});
}

namespace {

// A folder whose quote site sets a cookie at every fetch, at any hour.
void CookieSiteFolder(const std::string& dir, int port) {
  std::string sdf = SiteFixtureText("fake.SDF", port);
  ReplaceAll(sdf, "PATH=/quotes?s=##STOCKS##", "PATH=/setcookie?s=##STOCKS##", false);
  ReplaceAll(sdf, "ACTIVEHOURS=09:30-16:00", "", false);
  ReplaceAll(sdf, "ACTIVEDAYS=12345", "", false);
  ASSERT_TRUE(WriteFileAtomic(dir + "cookie.SDF", sdf));
  ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DAT", "Cookies|PORT1||IBM;0;0;0;0;0;\r\n"));
  ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", "[Stocks]\r\nSiteFile=cookie.SDF\r\nCurPort=1\r\n\r\n[VNServer]\r\nActive=NO\r\n"));
}

bool WaitForFileHolding(pid_t pid, const std::string& path, const std::string& text) {
  for (int i = 0; i < 750 && WaitExit(pid, 0) == -1; ++i) {
    if (Slurp(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return Slurp(path).find(text) != std::string::npos;
}

// The aside copy of name that the notice about subject names (up to the ";" after it).
std::string CopyNamed(const std::string& log, const std::string& subject, const std::string& name) {
  const size_t at = log.find(subject);
  const size_t copy = at == std::string::npos ? at : log.find(" " + name + ".damaged-", at);
  if (copy == std::string::npos) return {};
  return log.substr(copy + 1, log.find(';', copy) - copy - 1);
}

}  // namespace

// The cookie store and the per-user values file are loaded at start and kept as the user files
// are: one nobody may read is moved aside and said, a damaged one copied aside; every write of
// either is readable by the user only.
TEST(UserFiles, AnUnreadableCookieStoreIsKeptAside) {
  std::string why;
  if (!CanRunAsAnotherUser(why)) GTEST_SKIP() << why;
  FakeSite site;
  ASSERT_TRUE(site.Running());
  const auto has = [](const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; };
  const std::string cookies = "# cookies of all requests\n127.0.0.1\tFALSE\t/\tFALSE\t0\tlogin\tsecret\n";
  const std::string values = "[\\SOFTWARE\\4HB\\Vantora]\r\nInstallID=1234512345\r\nDefBrowser=mine %1\r\n\r\n";
  struct Case {
    const char* Name;
    std::string Cookies, Values;
    bool Unreadable;
  };
  const std::vector<Case> cases = {
      {"nobody may read them", cookies, values, true},
      {"damaged", cookies + "not a cookie line\n127.0.0.1\tFALSE\t/\tFALSE\t0\tcut", "junk that is no setting\r\n", false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TempHome temp("cookie_store_" + std::to_string(++n));
    const std::string dir = temp.path.string() + "/", config = dir + "config/vantora/";
    ASSERT_NO_FATAL_FAILURE(CookieSiteFolder(dir, site.Port()));
    fs::create_directories(config);
    ASSERT_TRUE(WriteFileAtomic(dir + "cookies.txt", c.Cookies, 0644));
    ASSERT_TRUE(WriteFileAtomic(config + "registry.ini", c.Values, 0644));
    if (c.Unreadable) {
      fs::permissions(dir + "cookies.txt", fs::perms::none);
      fs::permissions(config + "registry.ini", fs::perms::none);
      ASSERT_NO_FATAL_FAILURE(GiveToNobody(temp.path));
    }
    fs::remove(dir + "stocks.log");
    ChildGuard copy{SpawnProgram({"VANTORA_HOME=" + dir, "HOME=" + dir + "home", "XDG_CONFIG_HOME=" + dir + "config",
                                  "XDG_RUNTIME_DIR=" + dir},
                                 {"LOG"}, AsNobody(c.Unreadable))};
    ASSERT_GT(copy.pid, 0);
    // The site's cookie and the quiet update's installation id are written.
    EXPECT_TRUE(WaitForFileHolding(copy.pid, dir + "cookies.txt", "\tsession\tabc123")) << Slurp(dir + "stocks.log");
    EXPECT_TRUE(WaitForFileHolding(copy.pid, config + "registry.ini", "InstallID=")) << Slurp(dir + "stocks.log");
    kill(copy.pid, SIGTERM);
    ASSERT_EQ(copy.Wait(20000), 0);
    if (c.Unreadable) TakeBack(temp.path);
    const std::string log = Slurp(dir + "stocks.log");
    for (const auto& [file, subject, bytes] :
         {std::tuple(dir + "cookies.txt", std::string("The cookie store cookies.txt"), c.Cookies),
          std::tuple(config + "registry.ini", "The file of per-user values " + config + "registry.ini", c.Values)}) {
      const std::string said = subject + (c.Unreadable ? " cannot be read (" + std::string(std::strerror(EACCES)) +
                                                             "). It was moved aside, unchanged, as "
                                                       : std::string(" did not read whole: "));
      EXPECT_TRUE(has(log, said)) << log;
      const std::string folder = fs::path(file).parent_path().string() + "/";
      const std::string copyName = CopyNamed(log, subject, fs::path(file).filename().string());
      EXPECT_FALSE(copyName.empty()) << log;
      if (c.Unreadable) fs::permissions(folder + copyName, fs::perms::owner_read, fs::perm_options::add);
      EXPECT_EQ(Slurp(folder + copyName), bytes) << "what the file held is gone";
      EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write) << file;
    }
    // What read of a damaged store is used and written back; the site's new cookie beside it.
    if (!c.Unreadable) { EXPECT_TRUE(has(Slurp(dir + "cookies.txt"), "\tlogin\tsecret\n")); }
  }
}
