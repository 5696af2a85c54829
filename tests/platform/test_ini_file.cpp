#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/ini_file.h"

namespace {
// One folder for the run, removed when the test program ends.
struct TempFolder {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("vn_ini_" + std::to_string(::getpid()));
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
} tempFolder;

std::string TempFile(const char* name, const std::string& content) {
  const auto& dir = tempFolder.dir;
  std::filesystem::create_directories(dir);
  auto path = (dir / name).string();
  std::ofstream(path, std::ios::binary) << content;
  return path;
}
std::string Slurp(const std::string& path) {
  std::string s;
  ReadWholeFile(path, s);
  return s;
}
}  // namespace

TEST(IniFile, ReadsHandWrittenFilesWithoutRegardToCase) {
  auto path = TempFile("read.ini",
                       "; comment\r\n[Stocks]\r\nSiteFile = QUOTES.SDF \r\nRefresh=20\r\nbad=12x\r\n"
                       "[colors]\nFilter=$1E\nSpaces In Key=yes\n[stocks]\nlate=1\n");
  IniFile ini(path);
  EXPECT_EQ(ini.ReadString("STOCKS", "sitefile", "x"), "QUOTES.SDF");
  EXPECT_EQ(ini.ReadInteger("Stocks", "Refresh", 0), 20);
  EXPECT_EQ(ini.ReadInteger("Stocks", "bad", 7), 7);
  EXPECT_EQ(ini.ReadInteger("Stocks", "absent", 9), 9);
  EXPECT_EQ(ini.ReadInteger("Colors", "Filter", 0), 30);
  EXPECT_EQ(ini.ReadString("Colors", "spaces in key", ""), "yes");
  // A section repeated later in the file merges into the first.
  EXPECT_EQ(ini.ReadString("Stocks", "late", ""), "1");
  StringList keys;
  ini.ReadSection("stocks", keys);
  EXPECT_EQ(keys.CommaText(), "SiteFile,Refresh,bad,late");
}

TEST(IniFile, WritesThroughAtOnceAndKeepsSpelling) {
  auto path = TempFile("write.ini", "[Misc]\r\nFractions=NO\r\n");
  {
    IniFile ini(path);
    EXPECT_TRUE(ini.WriteString("MISC", "fractions", "YES"));
    EXPECT_TRUE(ini.WriteInteger("Views", "Count", 3));
  }
  EXPECT_EQ(Slurp(path), "[Misc]\r\nFractions=YES\r\n\r\n[Views]\r\nCount=3\r\n\r\n");
  IniFile again(path);
  again.DeleteKey("misc", "FRACTIONS");
  again.EraseSection("views");
  EXPECT_EQ(Slurp(path), "[Misc]\r\n\r\n");
  // No temporary file is left beside it.
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(path).parent_path()))
    EXPECT_EQ(e.path().filename().string().rfind("write.ini.tmp", 0), std::string::npos) << e.path();
}

TEST(IniFile, RewritesKeepThePermissionsTheOwnerGave) {
  auto path = TempFile("private.ini", "[Site]\r\nPassword=x\r\n");
  std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  IniFile ini(path);
  ASSERT_TRUE(ini.WriteString("Site", "Password", "y"));
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(IniFile, RefusesKeysAndValuesThatWouldBreakTheFile) {
  auto path = TempFile("unsafe.ini", "");
  IniFile ini(path);
  for (const char* key : {"a=b", "[x]", "semi;colon", "line\nbreak", "", "  "})
    EXPECT_FALSE(ini.WriteString("Ports", key, "1")) << key;
  EXPECT_FALSE(ini.WriteString("Ports", "ok", "two\r\nlines"));
  EXPECT_FALSE(ini.WriteString("bad]section", "ok", "1"));
  EXPECT_TRUE(ini.WriteString("Ports", "My Port", "a=b;c[d]"));
  IniFile again(path);
  EXPECT_EQ(again.ReadString("Ports", "my port", ""), "a=b;c[d]");
  StringList sections;
  again.ReadSections(sections);
  EXPECT_EQ(sections.CommaText(), "Ports");
}

TEST(IniFile, BatchWritesOnce) {
  auto path = TempFile("batch.ini", "");
  IniFile ini(path);
  ini.BeginBatch();
  ini.WriteString("A", "k1", "1");
  ini.WriteString("A", "k2", "2");
  EXPECT_EQ(Slurp(path), "");
  ini.EndBatch();
  EXPECT_EQ(Slurp(path), "[A]\r\nk1=1\r\nk2=2\r\n\r\n");
}

// Two writers of one file (two copies of the program): each change goes into the file as it
// stands, and neither writes back a value it did not change.
TEST(IniFile, SharedWritersKeepEachOthersChanges) {
  const std::string path = TempFile("shared.ini", "; kept\r\n[Stocks]\r\nRefreshSecs=20\r\nCurPort=1\r\n\r\n"
                                                  "[Views]\r\nMine=SymCol\r\nOld=LastCol\r\n\r\n[Gone]\r\nX=1\r\n");
  IniFile a(path), b(path);
  a.ShareWithOtherWriters();
  b.ShareWithOtherWriters();
  ASSERT_TRUE(a.WriteInteger("Stocks", "RefreshSecs", 45));
  // b still holds 20 as it read it: writing that back is no change of its own.
  ASSERT_TRUE(b.WriteInteger("Stocks", "RefreshSecs", 20));
  EXPECT_EQ(IniFile(path).ReadInteger("Stocks", "RefreshSecs", 0), 45);
  EXPECT_EQ(b.ReadInteger("Stocks", "RefreshSecs", 0), 20) << "each writer keeps its own view";
  // A batch that erases a section and writes it again changes only what differs.
  b.BeginBatch();
  b.EraseSection("Views");
  b.WriteString("Views", "Mine", "SymCol");
  b.WriteString("Views", "New", "VolCol");
  b.WriteInteger("Stocks", "CurPort", 2);
  b.EndBatch();
  a.DeleteKey("Views", "Mine");
  a.EraseSection("Gone");
  ASSERT_TRUE(a.LastWriteOk() && b.LastWriteOk());
  const IniFile now(path);
  EXPECT_EQ(now.ReadInteger("Stocks", "RefreshSecs", 0), 45);
  EXPECT_EQ(now.ReadInteger("Stocks", "CurPort", 0), 2);
  EXPECT_FALSE(now.ValueExists("Views", "Mine")) << "a's deletion";
  EXPECT_FALSE(now.ValueExists("Views", "Old")) << "b's deletion, by erasing the section and not writing it again";
  EXPECT_EQ(now.ReadString("Views", "New", ""), "VolCol");
  EXPECT_FALSE(now.SectionExists("Gone"));
  EXPECT_EQ(Slurp(path).rfind("; kept\r\n", 0), 0u) << Slurp(path);
}
