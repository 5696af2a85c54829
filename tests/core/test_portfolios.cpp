#include <gtest/gtest.h>

#include <filesystem>

#include "core/locks.h"
#include "core/portfolios.h"
#include "core/program_state.h"
#include "core/user_notices.h"
#include "platform/string_list.h"

namespace {
std::string ReadBytes(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

PortRowRec Row(const char* sym, double shares = 0, const char* note = "") {
  PortRowRec r;
  r.Symbol = sym;
  r.Shares = shares;
  r.Note = note;
  return r;
}

PortType Awkward() {
  PortType p;
  p.Name = "Mine | yours; \\ \"quoted\"\r\nnext line";
  p.Id = "PORT1";
  p.Markers = "T|S";
  PortRowRec r = Row("IBM", 100.5, "bought\nat the low | really; \\n not a break");
  r.BasePrice = 123.4567;
  r.Commission = 9.99;
  r.LowLimit = 0.1;
  r.HighLimit = 1e6;
  r.Extra = {"", "x|y", "last;one"};
  p.Rows = {r, Row("-----"), Row("$CASH", 2500), Row("MSFT", -3)};
  return p;
}

void ExpectSame(const PortType& a, const PortType& b) {
  EXPECT_EQ(a.Name, b.Name);
  EXPECT_EQ(a.Id, b.Id);
  EXPECT_EQ(a.Markers, b.Markers);
  ASSERT_EQ(a.Rows.size(), b.Rows.size());
  for (size_t i = 0; i < a.Rows.size(); ++i) {
    const PortRowRec &x = a.Rows[i], &y = b.Rows[i];
    EXPECT_EQ(x.Symbol, y.Symbol);
    EXPECT_EQ(x.Shares, y.Shares);
    EXPECT_EQ(x.BasePrice, y.BasePrice);
    EXPECT_EQ(x.Commission, y.Commission);
    EXPECT_EQ(x.LowLimit, y.LowLimit);
    EXPECT_EQ(x.HighLimit, y.HighLimit);
    EXPECT_EQ(x.Note, y.Note);
    EXPECT_EQ(x.Extra, y.Extra);
  }
}
}  // namespace

TEST(PortFile, LineRoundTripKeepsSeparatorsAndBreaksInsideText) {
  const PortType p = Awkward();
  const std::string line = FormatPortLine(p);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(line.find('\r'), std::string::npos);
  EXPECT_EQ(line.rfind("Mine \\| yours", 0), 0u);
  PortType back;
  ASSERT_TRUE(ParsePortLine(line, back));
  ExpectSame(p, back);
  EXPECT_EQ(PortDefName(line), p.Name);

  // The example line of the format description.
  ASSERT_TRUE(ParsePortLine(
      "Tech \\| Growth|PORT1||IBM;100;123.45;9.99;0;150;bought in May|-----;0;0;0;0;0;|$CASH;2500;0;0;0;0;", back));
  EXPECT_EQ(back.Name, "Tech | Growth");
  EXPECT_EQ(back.Id, "PORT1");
  ASSERT_EQ(back.Rows.size(), 3u);
  EXPECT_EQ(back.Rows[0].HighLimit, 150);
  EXPECT_EQ(back.Rows[0].Note, "bought in May");
  EXPECT_EQ(back.Rows[2].Shares, 2500);
}

TEST(PortFile, DamagedLineLosesOnlyItself) {
  PortType a = Awkward(), b;
  b.Name = "Second";
  b.Id = "PORT2";
  b.Rows = {Row("AAPL", 10)};
  const std::string good1 = FormatPortLine(a), good2 = FormatPortLine(b);
  const std::string text = good1 + "\r\n" +
                           "Broken|PORT9|x|IBM;ten;1;1;1;1;n\r\n" +  // not a number
                           "OnlyName\n" +                            // no identifier
                           "Dangling|PORT8|\\\n" +                   // escape at the end
                           "Short|PORT7||IBM;1;2\n" +                // row cut short
                           "\n" + "Odd|PORT6|\\q\n" + good2;  // unknown escape
  std::vector<PortType> ports;
  EXPECT_EQ(ParsePortText(text, ports), 5);
  ASSERT_EQ(ports.size(), 2u);
  ExpectSame(ports[0], a);
  ExpectSame(ports[1], b);
}

TEST(PortFile, UnreadLinesAreWrittenBackWhereTheyStood) {
  PortType b;
  b.Name = "Second";
  b.Id = "PORT2";
  b.Rows = {Row("AAPL", 10)};
  const std::string good1 = FormatPortLine(Awkward()), good2 = FormatPortLine(b);
  const std::string broken = "Broken|PORT9|x|IBM;ten;1;1;1;1;n", noise = "\x01\xff\xfe|junk|\x7f";
  const std::string text = broken + "\r\n" + good1 + "\r\n" + noise + "\r\n" + good2 + "\r\nOnlyName\r\n";
  std::vector<PortType> ports;
  std::vector<UnreadPortLine> unread;
  EXPECT_EQ(ParsePortText(text, ports, &unread), 3);
  ASSERT_EQ(ports.size(), 2u);
  ASSERT_EQ(unread.size(), 3u);
  EXPECT_EQ(unread[1].LineNumber, 3);
  EXPECT_EQ(unread[1].Text, noise);
  EXPECT_EQ(FormatPortText(ports, &unread), text);
  // Portfolios removed meanwhile: the lines that followed them still go out, at the end.
  ports.clear();
  EXPECT_EQ(FormatPortText(ports, &unread), broken + "\r\n" + noise + "\r\nOnlyName\r\n");

  // Random bytes are not read as portfolios, however many "|" they hold.
  std::string bytes;
  uint32_t seed = 12345;
  for (int i = 0; i < 4000; ++i) {
    seed = seed * 1103515245u + 12345u;
    const char c = static_cast<char>(seed >> 16);
    bytes += i % 7 == 0 ? '|' : c;
  }
  EXPECT_GT(ParsePortText(bytes, ports, &unread), 0);
  EXPECT_TRUE(ports.empty());
}

TEST(PortFile, DamagedFileSurvivesLoadsAndSavesAndTheBackupStays) {
  const std::string dat = ProgDir + "PORT.DAT", bak = ProgDir + "PORT.DA_";
  const std::string backup = FormatPortLine(Awkward()) + "\r\n";
  ASSERT_TRUE(WriteFileAtomic(bak, backup));
  const std::string text = FormatPortLine(Awkward()) + "\r\nhalf a line|PORT3||IBM;1\r\n";
  ASSERT_TRUE(WriteFileAtomic(dat, text));
  TakeUserNotices();
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(LoadPortfolios());
    EXPECT_EQ(PortCount(), 1);
    ASSERT_TRUE(SavePortfolios());
    std::string now, kept;
    ASSERT_TRUE(ReadWholeFile(dat, now));
    EXPECT_EQ(now, text) << round;
    ASSERT_TRUE(ReadWholeFile(bak, kept));
    EXPECT_EQ(kept, backup) << "a save that changed nothing must not replace the backup";
  }
  // The user hears which line, once per load.
  const auto notices = TakeUserNotices();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_NE(notices[0].find("line 2"), std::string::npos) << notices[0];
  LockHold h(PortLock, "TEST");
  PortList.clear();
  PortUnreadLines.clear();
}

// Saves never touch the backup; at the close it follows the file as it read whole at start, the
// old backup kept as PORT.DA_.older when it held a portfolio the new one lacks.
TEST(PortFile, TheBackupFollowsTheStartsWholeFileAtTheClose) {
  namespace fs = std::filesystem;
  const std::string dat = ProgDir + "PORT.DAT", bak = ProgDir + "PORT.DA_", older = bak + ".older";
  fs::remove(dat);
  fs::remove(bak);
  fs::remove(older);
  PortType second = Awkward();
  second.Id = "PORT2";
  second.Name = "Second";
  {
    LockHold h(PortLock, "TEST");
    PortList = {Awkward(), second};
  }
  ASSERT_TRUE(SavePortfolios());
  const std::string both = ReadBytes(dat);
  ASSERT_TRUE(LoadPortfolios());  // the first whole file makes the missing backup
  EXPECT_EQ(ReadBytes(bak), both);
  {
    LockHold h(PortLock, "TEST");
    PortList.pop_back();
  }
  ASSERT_TRUE(SavePortfolios());
  EXPECT_EQ(ReadBytes(bak), both) << "a save changed the backup";
  ASSERT_TRUE(PortBackupFollows());  // the start's file is the backup already
  EXPECT_FALSE(fs::exists(older));

  const std::string one = ReadBytes(dat);
  TakeUserNotices();
  ASSERT_TRUE(LoadPortfolios());  // reads whole: the backup changes only at the close
  EXPECT_EQ(ReadBytes(bak), both);
  // The program removes no portfolio: one gone from the file is said, with the file keeping it.
  const auto lacking = TakeUserNotices();
  ASSERT_EQ(lacking.size(), 1u);
  EXPECT_NE(lacking[0].find("PORT.DAT lacks portfolio \"Second\" (PORT2) that the backup PORT.DA_ holds: removed by "
                            "hand, or the file was cut at a line end. PORT.DA_ keeps them"),
            std::string::npos)
      << lacking[0];
  ASSERT_TRUE(PortBackupFollows());
  EXPECT_EQ(ReadBytes(bak), one);
  EXPECT_EQ(ReadBytes(older), both) << "the portfolio only the old backup held is gone";

  fs::remove(dat);  // a lost file comes back from the backup, and it is said
  ASSERT_TRUE(LoadPortfolios());
  ExpectSame(*PortAt(1), Awkward());
  const auto notices = TakeUserNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("PORT.DAT is missing; the backup PORT.DA_ is used"), std::string::npos) << notices[0];
  fs::remove(bak);
  fs::remove(older);
  EXPECT_FALSE(LoadPortfolios());
}

TEST(PortFile, PortSymbolsDistinctInRowOrder) {
  PortType a, b, c;
  a.Name = "A";
  a.Id = "PF1";
  a.Rows = {Row("MSFT"), Row("---"), Row("IBM"), Row("$CASH"), Row("MSFT")};
  b.Name = "B";
  b.Id = "PF1";  // same identifier: its symbols join in
  b.Rows = {Row("IBM"), Row("AAPL")};
  c.Name = "C";
  c.Id = "pf1";
  c.Rows = {Row("ZZZ")};
  {
    LockHold h(PortLock, "TEST");
    PortList = {a, b, c};
  }
  std::string out = "stale";
  GetPortSymbols("PF1", out);
  EXPECT_EQ(out, "MSFT,IBM,AAPL");
  GetPortSymbols("pf1", out);
  EXPECT_EQ(out, "ZZZ");
  GetPortSymbols("PF2", out);
  EXPECT_EQ(out, "");
  LockHold h(PortLock, "TEST");
  PortList.clear();
}

// A backup that is there but cannot be read is said as such, never as missing.
TEST(PortFile, ABackupThatCannotBeReadIsNotCalledMissing) {
  namespace fs = std::filesystem;
  const std::string dat = ProgDir + "PORT.DAT", bak = ProgDir + "PORT.DA_";
  fs::remove(bak);
  fs::create_directories(bak + "/inside");
  const std::string line = FormatPortLine(Awkward());
  ASSERT_TRUE(WriteFileAtomic(dat, line));  // no final line break
  TakeUserNotices();
  ASSERT_TRUE(LoadPortfolios());
  const auto notices = TakeUserNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("The backup PORT.DA_ cannot be read (a folder is in its place)"), std::string::npos)
      << notices[0];
  EXPECT_EQ(notices[0].find("There is no backup"), std::string::npos) << notices[0];
  fs::remove_all(bak);
  fs::remove(dat);
  LockHold h(PortLock, "TEST");
  PortList.clear();
}

// A copy beside another (ALLOWDUP) writes PORT.DAT only when its own portfolios changed, and
// then keeps what was added to the file since it read it.
TEST(PortFile, ASaveKeepsLinesAddedSinceTheFileWasRead) {
  const std::string dat = ProgDir + "PORT.DAT";
  PortType a = Awkward(), b = Awkward(), c = Awkward(), d = Awkward();
  b.Id = "PORT2";
  b.Name = "B";
  c.Id = "PORT3";
  c.Name = "C";
  d.Id = "PORT4";
  d.Name = "D";
  PortType b2 = b;
  b2.Rows.pop_back();
  const std::string la = FormatPortLine(a), lb = FormatPortLine(b), lb2 = FormatPortLine(b2), lc = FormatPortLine(c),
                    ld = FormatPortLine(d);
  // Without a final line break: this copy must write the file whole at its save.
  ASSERT_TRUE(WriteFileAtomic(dat, la + "\r\n" + lb));
  TakeUserNotices();
  ASSERT_TRUE(LoadPortfolios());
  TakeUserNotices();
  // Meanwhile another copy changed B and added C.
  ASSERT_TRUE(WriteFileAtomic(dat, la + "\r\n" + lb2 + "\r\n" + lc + "\r\n"));
  ASSERT_TRUE(SavePortfolios());
  EXPECT_EQ(ReadBytes(dat), la + "\r\n" + lb2 + "\r\n" + lc + "\r\n");
  // Unchanged since: nothing is written, so D added by hand stays.
  ASSERT_TRUE(WriteFileAtomic(dat, la + "\r\n" + lb2 + "\r\n" + lc + "\r\n" + ld + "\r\n"));
  ASSERT_TRUE(SavePortfolios());
  EXPECT_EQ(ReadBytes(dat), la + "\r\n" + lb2 + "\r\n" + lc + "\r\n" + ld + "\r\n");
  std::filesystem::remove(dat);
  LockHold h(PortLock, "TEST");
  PortList.clear();
}
