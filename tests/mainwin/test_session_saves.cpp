// What a session keeps while it runs: the collected data saved during it, so that a kill loses
// only the last minutes.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "common/fake_site.h"
#include "core/portfolios.h"
#include "core/text_helpers.h"
#include "mainwin/main_threads.h"
#include "platform/string_list.h"
#include "run_program.h"

namespace {

// The snapshot count of every record of a quote dump; empty when it is none.
std::map<std::string, uint32_t> DumpedSnapshots(const std::string& path) {
  std::map<std::string, uint32_t> out;
  std::string b;
  if (!ReadWholeFile(path, b) || b.compare(0, 8, "VNSDATA1") != 0) return out;
  size_t at = 8;
  auto get32 = [&](uint32_t& v) {
    if (b.size() - at < 4) return false;
    std::memcpy(&v, b.data() + at, 4);
    at += 4;
    return true;
  };
  auto text = [&](std::string* s) {
    uint32_t n = 0;
    if (!get32(n) || b.size() - at < n) return false;
    if (s) s->assign(b, at, n);
    at += n;
    return true;
  };
  uint32_t records = 0;
  if (!get32(records)) return out;
  for (uint32_t i = 0; i < records; ++i) {
    std::string key;
    uint32_t count = 0;
    // Key, name, tick mark; nine floats, four ints, two doubles; the snapshots.
    if (!text(&key) || !text(nullptr) || !text(nullptr) || b.size() - at < 9 * 4 + 4 * 4 + 2 * 8) return {};
    at += 9 * 4 + 4 * 4 + 2 * 8;
    if (!get32(count) || (b.size() - at) / 32 < count) return {};
    at += size_t{count} * 32;
    out[key] = count;
  }
  return out;
}

// A folder whose quote site is the fake one at any hour, refreshing every second, with one
// portfolio of these symbols.
void QuoteFolder(const std::string& dir, int port, const std::vector<std::string>& symbols) {
  std::string sdf = SiteFixtureText("fake.SDF", port);
  ReplaceAll(sdf, "ACTIVEHOURS=09:30-16:00", "", false);
  ReplaceAll(sdf, "ACTIVEDAYS=12345", "", false);
  ASSERT_TRUE(WriteFileAtomic(dir + "fake.SDF", sdf));
  std::vector<PortType> ports(1);
  ports[0].Name = "Collected";
  ports[0].Id = "PORT1";
  for (const std::string& s : symbols) ports[0].Rows.push_back({s, 0, 0, 0, 0, 0, "", {}});
  ASSERT_TRUE(WriteFileAtomic(dir + "PORT.DAT", FormatPortText(ports)));
  ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", "[Stocks]\r\nSiteFile=fake.SDF\r\nRefreshSecs=1\r\nCurPort=1\r\n\r\n"
                                                  "[VNServer]\r\nActive=NO\r\n\r\n"));
}

}  // namespace

TEST(Dumps, CollectedDataIsSavedDuringTheSession) {
  {
    // Due once the interval has passed since the last save began, and at every 100th tick.
    DumpSaveSchedule schedule(0);
    int due = 0;
    for (int tick = 1; tick <= 200; ++tick) due += schedule.Due(tick * 1000);
    EXPECT_EQ(due, 2) << "every 100th refresh";
    EXPECT_TRUE(schedule.Due(600'000));
    schedule.Started(600'000);
    EXPECT_FALSE(schedule.Due(1'199'999));
    EXPECT_TRUE(schedule.Due(1'200'000));
  }
  FakeSite site;
  ASSERT_TRUE(site.Running());
  TempHome temp("session_dumps");
  const std::string dir = temp.path.string() + "/", log = dir + "stocks.log";
  ASSERT_NO_FATAL_FAILURE(QuoteFolder(dir, site.Port(), {"IBM", "KO"}));
  const std::vector<std::string> env = {"VANTORA_HOME=" + dir, "HOME=" + dir, "XDG_RUNTIME_DIR=" + dir,
                                        "VANTORA_DUMP_SAVE_SECS=2"};
  {
    ChildGuard copy{StartProgramWith(env, {"LOG"})};
    ASSERT_GT(copy.pid, 0);
    // Until a save holds quotes of both symbols.
    auto both = [&] {
      const auto d = DumpedSnapshots(dir + "SDATA.DMP");
      return d.contains("IBM") && d.contains("KO") && d.at("IBM") > 0 && d.at("KO") > 0;
    };
    for (int i = 0; i < 300 && !both() && WaitExit(copy.pid, 0) == -1; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // Killed (or the power gone): nothing of the close runs.
    kill(copy.pid, SIGKILL);
    ASSERT_NE(copy.Wait(10000), -1);
    ASSERT_TRUE(both()) << "no quotes were saved during the session: " << Slurp(log);
  }
  const std::map<std::string, uint32_t> saved = DumpedSnapshots(dir + "SDATA.DMP");

  // The next start, without a quote site: what it saves at its close it had from the dump.
  ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", "[Stocks]\r\nSiteFile=none.SDF\r\n\r\n[VNServer]\r\nActive=NO\r\n"));
  fs::remove(log);
  ChildGuard next{StartProgramWith(env, {"LOG"})};
  ASSERT_GT(next.pid, 0);
  ASSERT_TRUE(WaitForLogLine(next.pid, log, "Loading settings")) << Slurp(log);
  kill(next.pid, SIGTERM);
  ASSERT_EQ(next.Wait(20000), 0);
  EXPECT_NE(Slurp(log).find("Dumps loaded: 2 quote records"), std::string::npos) << Slurp(log);
  const std::map<std::string, uint32_t> kept = DumpedSnapshots(dir + "SDATA.DMP");
  ASSERT_TRUE(kept.contains("IBM") && kept.contains("KO"));
  EXPECT_EQ(kept.at("IBM"), saved.at("IBM"));
  EXPECT_EQ(kept.at("KO"), saved.at("KO"));
}

// A save during the session that fails is logged and its reason left in the note for the next
// start; a later good save keeps the note, the close's good saves remove it.
TEST(Dumps, ASaveDuringTheSessionThatFailsLeavesItsReasonInTheNote) {
  TempHome temp("session_dumps_failing");
  const std::string dir = temp.path.string() + "/", log = dir + "stocks.log", note = dir + "save-failed.txt";
  ASSERT_TRUE(WriteFileAtomic(dir + "STOCKS.INI", "[Stocks]\r\nRefreshSecs=1\r\n\r\n[VNServer]\r\nActive=NO\r\n"));
  ChildGuard copy{StartProgramWith({"VANTORA_HOME=" + dir, "HOME=" + dir, "XDG_RUNTIME_DIR=" + dir, "VANTORA_DUMP_SAVE_SECS=1"},
                                   {"LOG"})};
  ASSERT_GT(copy.pid, 0);
  // Once the dumps are read: a folder there before would be moved aside as a damaged dump.
  ASSERT_TRUE(WaitForLogLine(copy.pid, log, "Dumps loaded")) << Slurp(log);
  fs::create_directories(dir + "SDATA.DMP/inside");
  ASSERT_TRUE(WaitForLogLine(copy.pid, log, "could not be saved during the session")) << Slurp(log);
  EXPECT_NE(Slurp(log).find("SDATA.DMP could not be written: a folder is in its place"), std::string::npos) << Slurp(log);
  // The note is written just after the log line.
  EXPECT_TRUE(WaitForLogLine(copy.pid, note, "The collected data could not be saved during the session in " + dir))
      << Slurp(note);
  const std::string failed = Slurp(note);
  fs::remove_all(dir + "SDATA.DMP");
  const int saves = Count(Slurp(log), "Collected data saved during the session");
  ASSERT_TRUE(WaitForLogLine(copy.pid, log, "Collected data saved during the session", saves + 1)) << Slurp(log);
  EXPECT_EQ(Slurp(note), failed) << "a good save during the session removed or changed the note";
  kill(copy.pid, SIGTERM);
  ASSERT_EQ(copy.Wait(20000), 0);
  EXPECT_FALSE(fs::exists(note)) << "the close's saves succeeded";
}
