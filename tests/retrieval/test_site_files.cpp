// Definition and parameter files, the site's user settings and the site lists.
#include <gtest/gtest.h>

#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/sites.h"
#include "fake_site.h"
#include "retrieval/param_files.h"
#include "retrieval/site_files.h"
#include "retrieval/site_script.h"

namespace {

TEST(SiteFiles, LoadsEveryFieldAndTheScripts) {
  std::string file = InstallSiteFixture("fake.SDF", 4321);
  HTTPSite site;
  StringList params;
  std::string error;
  LoadSiteFile("FAKE.sdf", site, &params, error);  // names from outside ignore case
  ASSERT_EQ(error, "");
  EXPECT_EQ(site.Name, "Fake Quotes (delayed)");
  EXPECT_EQ(site.ShortName, "FakeQ");
  EXPECT_EQ(site.Code, "FAKE.sdf");
  EXPECT_EQ(site.Host, "http://127.0.0.1:4321");
  EXPECT_EQ(site.Method, "GET");
  ASSERT_EQ(site.Requests.size(), 1u);
  EXPECT_EQ(site.Requests[0].Path, "/quotes?s=##STOCKS##");
  EXPECT_EQ(site.SymbolLimit, 25);
  EXPECT_EQ(site.ThreadCount, 2);
  EXPECT_EQ(site.LoginNameCaption, "Member name");
  EXPECT_EQ(site.PasswordCaption, "PIN");
  EXPECT_EQ(site.ActiveDays, "12345");
  EXPECT_DOUBLE_EQ(site.Version, 2.501);
  EXPECT_EQ(site.LoginScript.Count(), 7);
  ASSERT_TRUE(site.Script);
  EXPECT_TRUE(site.Script->HasMode(ScriptMode::Quotes));
  EXPECT_TRUE(site.Script->HasMode(ScriptMode::Login));
  EXPECT_FALSE(site.Script->HasMode(ScriptMode::News));
  EXPECT_EQ(GetSiteParam(params, "refreshnote"), "kept among the site's parameters");
  EXPECT_EQ(GetSiteParam(site.Params, "SHORTNAME"), "FakeQ");
  EXPECT_EQ(GetSiteParam(params, "MISSING", "dflt"), "dflt");
  EXPECT_DOUBLE_EQ(GetSiteFileVersion(file, true), 2.501);
  EXPECT_DOUBLE_EQ(GetSiteFileVersion("absent.SDF", false), DefaultSiteFileVersion);
}

TEST(SiteFiles, BrowserLoginAndStreamingKeys) {
  HTTPSite site;
  std::string error;
  LoadSiteText("VERSION=1\nLOGINURL= https://127.0.0.1:9/login \nLOGINPROMPT=Log in to <b>###</b>\n"
               "SERVERS=127.0.0.1:7001|127.0.0.1:7002\nHEADERS=X-One: 1|X-Two: 2\n",
               "s.SDF", site, nullptr, error);
  ASSERT_EQ(error, "");
  EXPECT_EQ(site.LoginUrl, "https://127.0.0.1:9/login");
  EXPECT_EQ(site.LoginPrompt, "Log in to <b>###</b>");
  EXPECT_EQ(site.Servers, "127.0.0.1:7001|127.0.0.1:7002");
  EXPECT_EQ(site.ExtraHeaders, "X-One: 1|X-Two: 2");
}

TEST(SiteFiles, FailuresNameTheLineAndLeaveTheRecordAlone) {
  HTTPSite site;
  site.Name = "before";
  std::string error;
  LoadSiteText("NAME=x\n", "a.SDF", site, nullptr, error);
  EXPECT_NE(error.find("VERSION"), std::string::npos);
  LoadSiteText("VERSION=1\nPORT=http\n", "a.SDF", site, nullptr, error);
  EXPECT_EQ(error, "line 2: bad value for PORT");
  LoadSiteText("VERSION=1\nNAME=x\n[SCRIPT]\nFIND \"a\"\nWIGGLE\n", "a.SDF", site, nullptr, error);
  EXPECT_EQ(error, "script line 2: unknown statement WIGGLE");
  LoadSiteText("VERSION=1\n[SCRIPT]\nEACH \"<tr\"\nEMIT QUOTE\n", "a.SDF", site, nullptr, error);
  EXPECT_EQ(error, "script line 1: block without END");
  LoadSiteText("VERSION=1\n[SCRIPT]\nREQUEST GET \"/x\"\n", "a.SDF", site, nullptr, error);
  EXPECT_NE(error.find("login block"), std::string::npos);
  LoadSiteText("VERSION=1\n[OTHER]\n", "a.SDF", site, nullptr, error);
  EXPECT_NE(error.find("unknown section"), std::string::npos);
  EXPECT_EQ(site.Name, "before");

  LoadSiteFile("../outside.SDF", site, nullptr, error);
  EXPECT_FALSE(error.empty());
  LoadSiteFile("missing.SDF", site, nullptr, error);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(site.Name, "before");
}

TEST(SiteFiles, UserSettingsRoundTripWithThePasswordScrambled) {
  std::string file = InstallSiteFixture("fake.SDF", 1);
  HTTPSite site;
  std::string error;
  LoadSiteFile(file, site, nullptr, error);
  ASSERT_EQ(error, "");
  site.EnteredLogin = "alice";
  site.EnteredPassword = "p@ss word";
  site.SavePassword = true;
  site.WebLogin = true;
  site.ActiveHours = "08:00-18:00";
  SaveSiteSettings(file, site);
  EXPECT_EQ(Ini().ReadString(file, "Login", ""), "alice");
  std::string stored = Ini().ReadString(file, "Password", "");
  EXPECT_FALSE(stored.empty());
  EXPECT_EQ(stored.find("p@ss"), std::string::npos);

  HTTPSite again;
  LoadSiteFile(file, again, nullptr, error);
  EXPECT_EQ(again.StoredLogin, "alice");
  EXPECT_EQ(again.StoredPassword, "p@ss word");
  EXPECT_TRUE(again.SavePassword);
  EXPECT_TRUE(again.WebLogin);
  EXPECT_EQ(again.ActiveHours, "08:00-18:00");

  // Not to be saved: the password is written empty.
  again.EnteredPassword = "secret";
  again.SavePassword = false;
  SaveSiteSettings(file, again);
  EXPECT_EQ(Ini().ReadString(file, "Password", "x"), "");
}

TEST(SiteFiles, ParamsFilesAndShortName) {
  WriteFileAtomic(ProgDir + "test.par", "// comment\n\nALPHA=1\nBeta = two\nALPHA=3\n");
  StringList list;
  ReadParamsFile("test.par", list);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(GetSiteParam(list, "alpha"), "1");
  EXPECT_EQ(GetSiteParam(list, "BETA"), " two");
  ReadParamsFile("../test.par", list);
  EXPECT_EQ(list.Count(), 0);
  // Names come from settings and parameter files: an absolute path is refused even when it
  // points into the program folder.
  ReadParamsFile(ProgDir + "test.par", list);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(ProgFilePath("/etc/passwd"), "");

  std::string name = "x";
  CurSite.reset();
  GetSiteShortName(name);
  EXPECT_EQ(name, "");
  CurSite = std::make_shared<HTTPSite>();
  CurSite->Params.Add("SHORTNAME=FromParams");
  GetSiteShortName(name);
  EXPECT_EQ(name, "FromParams");
  CurSite->ShortName = "Own";
  GetSiteShortName(name);
  EXPECT_EQ(name, "Own");
  CurSite.reset();
}

TEST(SiteFiles, SortSiteListsKeepsCodesParallel) {
  SiteNames.Clear();
  SiteCodes.Clear();
  const char* names[] = {"beta (real-time)", "Alpha (DELAYED)", "alpha (fast)", "Gamma", "Beta(z)"};
  const char* codes[] = {"b.SDF", "ad.SDF", "a.SDF", "g.SDF", "bz.SDF"};
  for (int i = 0; i < 5; ++i) {
    SiteNames.Add(names[i]);
    SiteCodes.Add(codes[i]);
  }
  SortSiteLists();
  std::vector<std::string> got;
  for (int i = 0; i < SiteCodes.Count(); ++i) got.push_back(SiteCodes[i]);
  // Text from "(" on is ignored, so the two betas keep their order; DELAYED comes last.
  EXPECT_EQ(got, (std::vector<std::string>{"a.SDF", "b.SDF", "bz.SDF", "g.SDF", "ad.SDF"}));
  EXPECT_EQ(SiteNames[4], "Alpha (DELAYED)");
}

}  // namespace
