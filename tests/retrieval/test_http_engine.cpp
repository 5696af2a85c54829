// The request engine end to end against the local fake site.
#include <gtest/gtest.h>

#include <mutex>

#include "core/branding.h"
#include "core/program_state.h"
#include "core/result_slots.h"
#include "core/settings_file.h"
#include "core/sites.h"
#include "fake_site.h"
#include "platform/string_list.h"
#include "retrieval/cookie_store.h"
#include "retrieval/http_engine.h"
#include "retrieval/login_script.h"
#include "retrieval/site_files.h"

namespace {

struct Reply {
  std::string text;
  int requestSlot = 0;
  WaitResult wait = WaitResult::TimedOut;
};

// Starts a request, waits for its slot, collects it and frees the slot.
Reply Fetch(const std::string& host, const std::string& path, int timeoutSec = 20, const std::string& method = "GET",
            const std::string& data = "", const std::string& user = "", const std::string& pass = "",
            const std::string& agent = "***", int siteIndex = -1, std::shared_ptr<HTTPSite> site = nullptr,
            int kind = 0, ByteSink* sink = nullptr) {
  Reply r;
  int slot = AllocHRes('T');
  std::string name;
  GetHttp(site, kind, siteIndex, slot, method, host, path, "Content-Type: text/html", data, user, pass, 80, false,
          false, false, timeoutSec, r.requestSlot, agent, false, false, 0, name, sink);
  r.wait = WaitForSlot(slot, nullptr, (timeoutSec + 10) * 1000);
  CollectHttp(name, -1);
  r.text = GetHRes(slot);
  FreeHRes(slot);
  return r;
}

class HttpEngine : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(TheFakeSite().Running()) << "python3 fixture did not start";
    host = TheFakeSite().Host();
  }
  std::string host;
};

TEST_F(HttpEngine, PageReachesItsSlotAndFailuresLeaveErr) {
  Reply ok = Fetch(host, "/quotes?s=IBM+MSFT");
  EXPECT_EQ(ok.wait, WaitResult::Done);
  EXPECT_NE(ok.text.find(">IBM<"), std::string::npos);
  EXPECT_NE(ok.text.find(">MSFT<"), std::string::npos);

  // The scheme in front of the host and a port in the host text both work.
  EXPECT_EQ(Fetch("http://" + host, "small").text, "ok");

  EXPECT_EQ(Fetch("127.0.0.1:1", "/small", 5).text, "ERR");  // refused
  EXPECT_EQ(Fetch(host, "/no-such-page").text, "ERR");       // 404
  EXPECT_EQ(RunningHttpRequests(), 0);
}

TEST_F(HttpEngine, RedirectIsFollowedAndRecordedAsAbsoluteAddress) {
  Reply r = Fetch(host, "/redirect", 20, "GET", "", "", "", "***", -100);
  EXPECT_EQ(r.text, "landed");
  ASSERT_GE(r.requestSlot, 1);
  EXPECT_LT(r.requestSlot, FirstSharedHttpSlot);  // -100 counts from 1
  EXPECT_EQ(HttpSlotRedirect(r.requestSlot), "http://" + host + "/final?x=1");
  EXPECT_EQ(TakeHttpSlotRedirect(r.requestSlot), "http://" + host + "/final?x=1");
  EXPECT_EQ(HttpSlotRedirect(r.requestSlot), "");

  // A request without a redirect leaves its record empty, even in a slot used before.
  Reply plain = Fetch(host, "/small", 20, "GET", "", "", "", "***", -100);
  EXPECT_EQ(plain.requestSlot, r.requestSlot);
  EXPECT_EQ(HttpSlotRedirect(plain.requestSlot), "");
}

TEST_F(HttpEngine, CookiesAreSharedBetweenRequestsAndKeptInProgramFolder) {
  ClearCookieStore();
  EXPECT_EQ(Fetch(host, "/echocookie").text, "cookie=");
  EXPECT_EQ(Fetch(host, "/setcookie").text, "cookie set");
  EXPECT_EQ(Fetch(host, "/echocookie").text, "cookie=session=abc123");
  std::string saved;
  ASSERT_TRUE(ReadWholeFile(CookieStorePath(), saved));
  EXPECT_NE(saved.find("abc123"), std::string::npos);
  ClearCookieStore();
  EXPECT_EQ(Fetch(host, "/echocookie").text, "cookie=");
}

TEST_F(HttpEngine, BasicAuthorizationPostDataAndUserAgent) {
  EXPECT_EQ(Fetch(host, "/auth", 20, "GET", "", "alice", "s3cret").text, "authorized alice");
  EXPECT_EQ(Fetch(host, "/auth", 20, "GET", "", "alice", "wrong").text, "ERR");
  EXPECT_EQ(Fetch(host, "/auth").text, "ERR");

  std::string echo = Fetch(host, "/echo", 20, "POST", "a=1&b=two").text;
  EXPECT_NE(echo.find("method=POST"), std::string::npos) << echo;
  EXPECT_NE(echo.find("body=a=1&b=two"), std::string::npos) << echo;
  EXPECT_NE(echo.find("ctype=text/html"), std::string::npos) << echo;
  EXPECT_NE(echo.find("agent=" + DefaultUserAgent()), std::string::npos) << echo;
  EXPECT_NE(Fetch(host, "/echo", 20, "GET", "", "", "", "Probe/1.0").text.find("agent=Probe/1.0"), std::string::npos);
}

TEST_F(HttpEngine, EmptyBodyEndsTheWaitAndTheCapHolds) {
  Reply empty = Fetch(host, "/empty");
  EXPECT_EQ(empty.wait, WaitResult::Done);
  EXPECT_EQ(empty.text, "");

  DownloadByteCount = 0;
  EXPECT_EQ(Fetch(host, "/big?mb=2").text.size(), 2u * 1024 * 1024);
  EXPECT_GE(DownloadByteCount.load(), 2 * 1024 * 1024);
  EXPECT_EQ(Fetch(host, "/big?mb=17").text, "ERR");
}

TEST_F(HttpEngine, CollectEndsARequestThatStillRuns) {
  int slot = AllocHRes('T');
  std::string name;
  int requestSlot = 0;
  GetHttp(nullptr, 0, -1, slot, "GET", host, "/slow?ms=20000", "", "", "", "", 80, false, false, false, 60,
          requestSlot, "***", false, false, 0, name);
  EXPECT_EQ(LastHttpSlot, requestSlot);
  EXPECT_EQ(RunningHttpRequests(), 1);
  CollectHttp(name, -1);
  EXPECT_EQ(RunningHttpRequests(), 0);
  EXPECT_TRUE(HResDone(slot));
  EXPECT_EQ(GetHRes(slot), "ERR");
  FreeHRes(slot);
  CollectHttp(name, -1);  // a second collect of the same name does nothing
  CollectHttp("H-unknown", -1);
}

struct CollectingSink : ByteSink {
  void Write(const char* data, size_t size) override {
    std::lock_guard lock(m);
    bytes.append(data, size);
  }
  std::mutex m;
  std::string bytes;
};

TEST_F(HttpEngine, StreamingWritesIntoTheSinkAndTimesOutOnSilenceOnly) {
  CollectingSink sink;
  // Five chunks 400 ms apart take longer than the 1 s limit in total, but never fall silent.
  Reply r = Fetch(host, "/stream?n=5&gap=400", 1, "GET", "", "", "", "***", -1, nullptr, 0, &sink);
  EXPECT_EQ(r.text, StreamEndText);
  EXPECT_EQ(sink.bytes, "tick0;tick1;tick2;tick3;tick4;");

  CollectingSink quiet;
  Reply silent = Fetch(host, "/stream?n=1&hold=4000", 1, "GET", "", "", "", "***", -1, nullptr, 0, &quiet);
  EXPECT_EQ(silent.text, "ERR");
  EXPECT_EQ(quiet.bytes, "tick0;");

  // An error reply's body is no stream.
  CollectingSink none;
  EXPECT_EQ(Fetch(host, "/no-such-page", 5, "GET", "", "", "", "***", -1, nullptr, 0, &none).text, "ERR");
  EXPECT_EQ(none.bytes, "");
}

TEST_F(HttpEngine, LoginCheckRunsTheSiteLoginScript) {
  std::string file = InstallSiteFixture("fake.SDF", TheFakeSite().Port());
  auto site = std::make_shared<HTTPSite>();
  std::string error;
  LoadSiteFile(file, *site, nullptr, error);
  ASSERT_EQ(error, "");

  site->EnteredLogin = "alice";
  site->EnteredPassword = "wrong";
  EXPECT_EQ(Fetch("LSCRONLY", "LSCRONLY", 20, "GET", "", "", "", "***", -1, site, LoginCheckKind).text, "BADPASS");
  {
    std::lock_guard lock(WebLoginMutex);
    EXPECT_EQ(CookieSites.IndexOf("fake.SDF"), -1);
  }
  site->EnteredPassword = "right";
  EXPECT_EQ(Fetch("LSCRONLY", "LSCRONLY", 20, "GET", "", "", "", "***", -1, site, LoginCheckKind).text, "OK");
  {
    std::lock_guard lock(WebLoginMutex);
    EXPECT_GE(CookieSites.IndexOf("fake.SDF"), 0);
  }
  // A site without a login script answers "OK" at once; an unreachable one "ERR".
  auto bare = std::make_shared<HTTPSite>();
  EXPECT_EQ(Fetch("LSCRONLY", "LSCRONLY", 20, "GET", "", "", "", "***", -1, bare, LoginCheckKind).text, "OK");
  site->Host = "127.0.0.1:1";
  EXPECT_EQ(Fetch("LSCRONLY", "LSCRONLY", 20, "GET", "", "", "", "***", -1, site, LoginCheckKind).text, "ERR");
}

TEST_F(HttpEngine, UserProxyCarriesRequestsWhileSwitchedOn) {
  // The fake site answers absolute-address requests as a proxy would.
  Ini().WriteString("Proxy", "Host", "127.0.0.1");
  Ini().WriteInteger("Proxy", "Port", TheFakeSite().Port());
  ReloadProxySettings();
  UseProxy = true;
  EXPECT_EQ(Fetch("quotes.example", "/small", 10).text, "ok");
  UseProxy = false;
  Ini().EraseSection("Proxy");
  ReloadProxySettings();
}

TEST(HttpUrl, HostRules) {
  EXPECT_EQ(BuildHttpUrl("example.test", 80, "/a?b=1"), "http://example.test/a?b=1");
  EXPECT_EQ(BuildHttpUrl("https://example.test", 80, "/a"), "https://example.test/a");
  EXPECT_EQ(BuildHttpUrl("HTTP://example.test:8080", 80, "a"), "http://example.test:8080/a");
  EXPECT_EQ(BuildHttpUrl("example.test", 8081, "/a"), "http://example.test:8081/a");
  EXPECT_EQ(BuildHttpUrl("example.test:9000", 8081, "/a"), "http://example.test:9000/a");
  EXPECT_EQ(BuildHttpUrl("example.test/base/", 80, "/a b"), "http://example.test/base/a%20b");
}

}  // namespace
