// The update list, the file trailer and compressed payloads, without a display or a network.
#include <gtest/gtest.h>

#include <zlib.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "ads/update/update_file.h"
#include "ads/update/update_list.h"
#include "core/checksum.h"

TEST(UpdateList, VersionRanges) {
  VersionRange one = ParseVersionRange("1.0");
  EXPECT_FALSE(one.Holds(1.304));  // the second bound equals the first
  EXPECT_TRUE(one.Holds(1.000005));
  VersionRange any = ParseVersionRange("0");
  EXPECT_TRUE(any.Holds(1.304));
  EXPECT_DOUBLE_EQ(any.Highest, 999);
  VersionRange span = ParseVersionRange("(1.2,1.5)");
  EXPECT_TRUE(span.Holds(1.2 - 0.000005));
  EXPECT_FALSE(span.Holds(1.2 - 0.0001));
  EXPECT_TRUE(span.Holds(1.5));
  EXPECT_FALSE(span.Holds(1.51));
  VersionRange junk = ParseVersionRange("abc,def");
  EXPECT_DOUBLE_EQ(junk.Lowest, 0);
  EXPECT_DOUBLE_EQ(junk.Highest, 999);
  VersionRange half = ParseVersionRange("2.5,x");
  EXPECT_DOUBLE_EQ(half.Highest, 2.5);
}

TEST(UpdateList, LineKinds) {
  EXPECT_EQ(ClassifyUpdateLine("// UPDATESITE: x").Kind, UpdateLineKind::Comment);
  UpdateLine server = ClassifyUpdateLine("UPDATESITE:  mirror.example/upd  ");
  EXPECT_EQ(server.Kind, UpdateLineKind::Server);
  EXPECT_EQ(server.Text, "mirror.example/upd");
  EXPECT_EQ(ClassifyUpdateLine("MSG:#3(1,2)").Kind, UpdateLineKind::Message);
  EXPECT_EQ(ClassifyUpdateLine("delete a.sdf 0").Kind, UpdateLineKind::Delete);
  EXPECT_EQ(ClassifyUpdateLine("DELETE a.sdf 0 extra").Kind, UpdateLineKind::Ignored);
  EXPECT_EQ(ClassifyUpdateLine("RENAME a.sdf b.sdf 0").Kind, UpdateLineKind::Rename);
  EXPECT_EQ(ClassifyUpdateLine("a b 1 0").Kind, UpdateLineKind::Ignored);
  EXPECT_EQ(ClassifyUpdateLine("a b 1 0 d x y z").Kind, UpdateLineKind::Ignored);
  UpdateLine entry = ClassifyUpdateLine("r/q.sdf\tq.sdf  1.5 (1,2) 'Quote site one' required");
  ASSERT_EQ(entry.Kind, UpdateLineKind::FileEntry);
  FileEntry e;
  ASSERT_TRUE(ReadFileEntry(entry.Fields, e));
  EXPECT_EQ(e.Remote, "r/q.sdf");
  EXPECT_EQ(e.Description, "Quote site one");
  EXPECT_TRUE(e.Required);
  EXPECT_FALSE(e.UpdateOnly);
  EXPECT_FALSE(ReadFileEntry(SplitListFields("r l notanumber 0 d"), e));
  ASSERT_TRUE(ReadFileEntry(SplitListFields("r l 1 0 \xC7" "Bullet"), e));
  EXPECT_EQ(e.Description, "Bullet");
  EXPECT_EQ(SplitListLines("a\r\nb\n\nc"), (std::vector<std::string>{"a", "b", "", "c"}));
}

TEST(UpdateList, NameRules) {
  EXPECT_TRUE(IsUpdateListFile("quotes.Sdf"));
  EXPECT_TRUE(IsUpdateListFile("menu.par"));
  EXPECT_FALSE(IsUpdateListFile("librirudid.so"));
  EXPECT_TRUE(IsExecutableName("vantora.new", "vantora"));
  EXPECT_FALSE(IsExecutableName("vnupdexe", "vantora"));
  for (const char* bad : {"", ".", "..", "../x", "a/b", "/etc/passwd", "a\\b", "x..y", "a\nb", "c:x"})
    EXPECT_FALSE(IsSafeLocalName(bad)) << bad;
  EXPECT_TRUE(IsSafeLocalName("quotes.sdf"));
  EXPECT_TRUE(IsSafeRemoteName("dir/sub/file.bin"));
  for (const char* bad : {"a b", "a/../b", "a\r", "a\nb", ""}) EXPECT_FALSE(IsSafeRemoteName(bad)) << bad;
  // The program's own files are taken from what it leaves (ProtectedNames); here the executable.
  for (const char* p : {"VANTORA", "myexe", "MyExe.bak", "vantora.bak"})
    EXPECT_TRUE(IsProtectedName(p, "vantora", "myexe")) << p;
  EXPECT_FALSE(IsProtectedName("quotes.sdf", "vantora", "myexe"));
}

TEST(UpdateFile, TrailerChecksum) {
  const std::string content = "hello update";
  std::string file = AppendTrailer(content);
  ASSERT_EQ(file.size(), content.size() + TrailerSize);
  EXPECT_TRUE(HasChecksumMarker(file));
  EXPECT_TRUE(VerifyChecksum(file));
  EXPECT_EQ(FileChecksum(file), TextChecksum(content));
  // The sum of table entries: "ab" and "ba" agree, so it is no CRC.
  EXPECT_EQ(TextChecksum("ab"), TextChecksum("ba"));
  EXPECT_EQ(uint32_t(TextChecksum("a")), Crc32Table()['a']);
  std::string damaged = file;
  damaged[3] ^= 1;
  EXPECT_FALSE(VerifyChecksum(damaged));
  std::string copy = file;
  EXPECT_EQ(StripChecksum(copy), TextChecksum(content));
  EXPECT_EQ(copy, content);
  std::string plain = "no trailer at all";
  EXPECT_EQ(StripChecksum(plain), -1);
  EXPECT_EQ(plain, "no trailer at all");
  EXPECT_FALSE(HasChecksumMarker("ZORKAL1234"));  // shorter than a trailer
  // A negative stored sum (the top bit set) still compares equal.
  std::string big(5000, '\xFF');
  EXPECT_TRUE(VerifyChecksum(AppendTrailer(big)));
}

TEST(UpdateFile, UnpackCompressed) {
  const char abc[] = "abc";
  uLongf n = compressBound(3);
  std::string z(n, '\0');
  ASSERT_EQ(compress(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>(abc), 3), Z_OK);
  z.resize(n);
  std::string text = "CMPVN00000003" + z;
  EXPECT_EQ(UnpackCompressed(text), UnpackResult::Unpacked);
  EXPECT_EQ(text, "abc");

  std::string other = "plain text";
  EXPECT_EQ(UnpackCompressed(other), UnpackResult::NotCompressed);
  EXPECT_EQ(other, "plain text");
  for (std::string bad : {"CMPVN00000004" + z, "CMPVN00000002" + z, "CMPVN0000x003" + z, std::string("CMPVN0001"),
                          "CMPVN00000003" + z.substr(0, z.size() - 2), std::string("CMPVN00000003garbage")}) {
    const std::string before = bad;
    EXPECT_EQ(UnpackCompressed(bad), UnpackResult::Bad);
    EXPECT_EQ(bad, before);
  }
  std::string empty = CompressPayload("");
  EXPECT_EQ(UnpackCompressed(empty), UnpackResult::Unpacked);
  EXPECT_TRUE(empty.empty());
}

TEST(UpdateFile, CheckAsTheRunDoes) {
  std::string bin(100000, '\0');
  for (size_t i = 0; i < bin.size(); ++i) bin[i] = char(i * 7 % 251);
  std::string wrapped = WrapUpdateFile(bin, true);
  EXPECT_LT(wrapped.size(), bin.size());
  EXPECT_EQ(CheckUpdateFile(wrapped, false), "");
  EXPECT_EQ(wrapped, bin);

  std::string def = WrapUpdateFile("VERSION=1.5\r\nNAME=x\r\n", false);
  EXPECT_EQ(CheckUpdateFile(def, true), "");
  std::string noVersion = WrapUpdateFile("NAME=x\r\n", false);
  EXPECT_EQ(CheckUpdateFile(noVersion, true), "Error in file: no VERSION");
  std::string damaged = WrapUpdateFile(bin, true);
  damaged[40] ^= 0x10;
  EXPECT_EQ(CheckUpdateFile(damaged, false), "Error in file: CRC Check Failed");
  std::string tiny = "ZORKAL";
  EXPECT_EQ(CheckUpdateFile(tiny, false), "Error in file: no CRC");
  std::string bare = bin;
  EXPECT_EQ(CheckUpdateFile(bare, false), "Error in file: no CRC");
  // A good sum over a payload that does not inflate is still a bad file.
  std::string badPayload = AppendTrailer("CMPVN00000010notzlib");
  EXPECT_EQ(CheckUpdateFile(badPayload, false), "Error in file: no CRC");
}

TEST(UpdateFile, TrailerVersion) {
  auto write = [](const std::string& name, double v) {
    std::string bytes = "binary";
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    for (int i = 0; i < 8; ++i) bytes.push_back(char(bits >> (8 * i)));
    FILE* f = std::fopen(name.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  };
  const std::string dir = ::testing::TempDir();
  write(dir + "v2.bin", 2.5);
  write(dir + "v150.bin", 150.0);
  EXPECT_DOUBLE_EQ(ReadTrailerVersion(dir + "v2.bin"), 2.5);
  EXPECT_DOUBLE_EQ(ReadTrailerVersion(dir + "v150.bin"), 0);
  EXPECT_DOUBLE_EQ(ReadTrailerVersion(dir + "missing.bin"), 0);
  // A pipe in a file's place has no version and does not hang the read.
  const std::string pipe = dir + "pipe.bin";
  std::remove(pipe.c_str());
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_DOUBLE_EQ(ReadTrailerVersion(pipe), 0);
  std::remove(pipe.c_str());
}
