// The user's own files on the real program: whatever damage a portfolio or settings file took,
// one start and a normal close never cost a good copy, and the user is told.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "platform/ini_file.h"
#include "platform/string_list.h"
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

