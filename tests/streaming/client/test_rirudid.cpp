#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include <QObject>

#include "core/program_state.h"
#include "streaming/client/http_streamer.h"
#include "streaming/client/streamer_dll.h"
#include "streaming/client/streamer_messages.h"

namespace {

std::string Short(const std::string& s) { return std::string(1, static_cast<char>(s.size())) + s; }
std::string Dbl(double d) {
  std::string out(8, '\0');
  std::memcpy(out.data(), &d, 8);  // little-endian host
  return out;
}
std::string Int24(int n) { return std::string{static_cast<char>(n & 255), static_cast<char>(n >> 8 & 255), static_cast<char>(n >> 16 & 255)}; }

std::string QuoteBody(const std::string& symbol, double last, int seconds) {
  std::string b = Short(symbol) + Short("+");
  for (double d : {last - 0.25, last + 0.25, last, 20.0, 19.5, last + 1, 0.0, 20.25, 1000.0}) b += Dbl(d);
  return b + Int24(seconds) + Int24(100) + Int24(200) + Int24(300);
}

std::vector<std::pair<intptr_t, intptr_t>> posted;
void Collect(void*, int, intptr_t w, intptr_t l) { posted.emplace_back(w, l); }

}  // namespace

TEST(Rirudid, LoadsAndReadsRecords) {
  ASSERT_TRUE(std::filesystem::exists(ProgDir + StreamerDllName)) << "librirudid.so was not built";
  ASSERT_TRUE(LoadStreamerDll());
  const StreamerDllCalls& dll = StreamerDll();
  char version[8];
  EXPECT_EQ(dll.GetVersion(version, sizeof version), 4);
  EXPECT_STREQ(version, "1.00");
  EXPECT_EQ(dll.GetVersion(version, 4), -1);
  EXPECT_EQ(StreamerSHAEncode("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(StreamerSHAEncode(std::string(100, 'a')), "7f9000257a4918d7072655ea468540cdcbd42e0c");

  THTTPStreamer q("dll");
  const RirudidReader r = QueueReader(q);
  const std::string body = QuoteBody("IBM", 20.5, 36000);
  q.Write(body.data(), body.size());
  RirudidQuote quote;
  ASSERT_EQ(dll.ReadVals(&r, &quote), RIRUDID_OK);
  EXPECT_STREQ(quote.Symbol, "IBM");
  EXPECT_DOUBLE_EQ(quote.Last, 20.5);
  EXPECT_DOUBLE_EQ(quote.Volume, 1000.0);
  EXPECT_DOUBLE_EQ(quote.QuoteTime, 36000 / 86400.0);
  EXPECT_EQ(quote.BidSize, 200);

  // A record cut short is reported as such, not returned half filled.
  q.Write(body.data(), body.size() - 5);
  q.SetEndProbe([] { return true; });
  EXPECT_EQ(dll.ReadVals(&r, &quote), RIRUDID_CUT);
  q.Clear();
  // A time of day past midnight is read whole but refused.
  const std::string late = QuoteBody("X", 1, 90000);
  q.Write(late.data(), late.size());
  EXPECT_EQ(dll.ReadVals(&r, &quote), RIRUDID_BAD);
  EXPECT_EQ(q.Queued(), 0u);
  // So is a symbol holding a NUL or another control byte, which would arrive as another symbol.
  for (const std::string& symbol : {std::string("AB\0CD", 5), std::string("IBM\0\0", 5), std::string("I\x1b" "B")}) {
    const std::string cut = QuoteBody(symbol, 20.5, 36000);
    q.Write(cut.data(), cut.size());
    EXPECT_EQ(dll.ReadVals(&r, &quote), RIRUDID_BAD) << quote.Symbol;
    EXPECT_EQ(q.Queued(), 0u);
  }

  // Book fields are posted only for a whole record.
  std::string book = std::string("\x00\x02", 2) + std::string("\x0c\x65\x00\x00\x00", 5) + std::string("\x53\x00\x00\x00\x00", 5);
  q.Write(book.data(), book.size());
  posted.clear();
  ASSERT_EQ(dll.ReadIslandVal(&r, 1234, nullptr, Collect), RIRUDID_OK);
  EXPECT_EQ(posted, (std::vector<std::pair<intptr_t, intptr_t>>{{12, 101}, {83, 0}}));
  q.Write(book.data(), book.size() - 1);
  posted.clear();
  EXPECT_EQ(dll.ReadIslandVal(&r, 1234, nullptr, Collect), RIRUDID_CUT);
  EXPECT_TRUE(posted.empty());
  UnloadStreamerDll();
}

// A library lacking a call is no library; an old one is reported and used. The real one is
// put back afterwards.
TEST(Rirudid, LacksACallOrIsOld) {
  namespace fs = std::filesystem;
  const fs::path installed = ProgDir + StreamerDllName, kept = ProgDir + "librirudid.so.kept";
  ASSERT_TRUE(fs::exists(installed));
  UnloadStreamerDll();
  fs::rename(installed, kept);
  std::vector<std::string> said;
  StreamerMessageHook = [&](const std::string& text, const std::string& caption) { said.push_back(caption + ": " + text); };

  EXPECT_FALSE(LoadStreamerDll());  // none at all
  fs::copy_file(VN_RIRUDID_PARTIAL, installed, fs::copy_options::overwrite_existing);
  EXPECT_FALSE(LoadStreamerDll());
  EXPECT_FALSE(StreamerDllLoaded());
  EXPECT_TRUE(said.empty());

  fs::copy_file(VN_RIRUDID_OLD, installed, fs::copy_options::overwrite_existing);
  EXPECT_TRUE(LoadStreamerDll());
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0], "Bad DLL Version: RIRUDID.DLL is not up to date. Please update it.");
  UnloadStreamerDll();

  // Lacking only its version, it is out of date too, and its other calls are used.
  said.clear();
  fs::copy_file(VN_RIRUDID_NO_VERSION, installed, fs::copy_options::overwrite_existing);
  EXPECT_TRUE(LoadStreamerDll());
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0], "Bad DLL Version: RIRUDID.DLL is not up to date. Please update it.");
  EXPECT_EQ(StreamerSHAEncode("x"), std::string(40, '0'));
  UnloadStreamerDll();

  fs::remove(installed);
  fs::rename(kept, installed);
  StreamerMessageHook = nullptr;
}
