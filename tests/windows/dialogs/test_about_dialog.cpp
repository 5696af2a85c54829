#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>

#include <fstream>
#include <set>

#include "ads/update/update_plan.h"
#include "core/branding.h"
#include "core/main_hooks.h"
#include "core/program_state.h"
#include "core/url_launch.h"
#include "dialog_test_util.h"
#include "platform/messages.h"
#include "windows/dialogs/about_dialog.h"
#include "windows/dialogs/system_info.h"

TEST(AboutBox, CpuInfoOfTheFirstProcessorAndOtherArchitectures) {
  const std::string x86 =
      "processor\t: 0\nvendor_id\t: GenuineIntel\ncpu family\t: 6\nmodel\t\t: 85\n"
      "model name\t: Example CPU @ 2.10GHz\nstepping\t: 7\ncpu MHz\t\t: 2100.004\n\n"
      "processor\t: 1\ncpu family\t: 9\nmodel name\t: Second\ncpu MHz\t\t: 900.0\n";
  CpuInfo c = ParseCpuInfo(x86);
  EXPECT_EQ(c.ModelName, "Example CPU @ 2.10GHz");
  EXPECT_EQ(c.Family, "6");
  EXPECT_EQ(c.Model, "85");
  EXPECT_EQ(c.Stepping, "7");
  EXPECT_DOUBLE_EQ(c.Mhz, 2100.004);

  const CpuInfo arm = ParseCpuInfo("processor\t: 0\nBogoMIPS\t: 48.00\nCPU part\t: 0xd08\n\nHardware\t: Board X\n");
  EXPECT_EQ(arm.ModelName, "Board X");
  EXPECT_TRUE(arm.Family.empty());
  EXPECT_EQ(arm.Mhz, 0);
  EXPECT_EQ(ParseCpuInfo("").ModelName, "");
}

TEST(AboutBox, MemoLinesPadNamesAndListEveryParameterFileOnce) {
  EXPECT_EQ(PaddedVersionLine("zlib", "1.2.13"), "zlib" + std::string(18, ' ') + "\t1.2.13");
  EXPECT_EQ(PaddedVersionLine("averyverylongname", ""), "averyverylongname\t**unknown**");

  SystemFacts f;
  f.ProgramVersion = "2.5.0";
  f.SystemName = "Some Linux";
  f.Kernel = "linux 6.1";
  f.Architecture = "x86_64";
  f.Cpu.ModelName = "Example CPU";
  f.CpuCount = 4;
  f.Libraries = {{"Qt", "6.4.2"}, {"glibc", ""}};
  f.ParameterFiles = {{"params.par", "1.5"}};
  const std::vector<std::string> lines = AboutMemoLines(f);
  EXPECT_EQ(lines[0], "Program Version: \t2.5.0");
  EXPECT_EQ(lines[2], "CPU Type:\tExample CPU (x86_64)");
  // Without family or speed from the processor, those lines are left out rather than invented.
  EXPECT_EQ(lines[3], "# of CPUs: \t4");
  EXPECT_EQ(lines[4], std::string(39, '-'));
  EXPECT_EQ(lines[6], "glibc" + std::string(16, ' ') + "\t**unknown**");
  f.Cpu.Family = "6";
  f.Cpu.Mhz = 2100.04;
  const std::vector<std::string> more = AboutMemoLines(f);
  EXPECT_EQ(more[3], "CPU Level:\t6 Model ? Stepping ?");
  EXPECT_EQ(more[4], "Speed (approx): \t2100.0 MHz");

  std::set<std::string> names;
  for (const char* name : AboutParameterFiles) EXPECT_TRUE(names.insert(name).second) << name;
  EXPECT_TRUE(names.count("IsldStr.Par"));
  EXPECT_TRUE(names.count("cust.par"));
}

TEST(AboutBox, ShowsRealVersionsAndOpensLinksTheRightWay) {
  {
    std::ofstream(ProgDir + "survey.par") << "VERSION=3.25\nMESSAGE=-\n";
    // A data file as an update installs it: its version in its last 8 bytes (2.0).
    std::ofstream(ProgDir + "extra.dat", std::ios::binary) << std::string("data\0\0\0\0\0\0\0\0\x40", 13);
  }
  // The update feature tells which files carry a version, as its installer does in the program.
  MainHooks.VersionedFiles = VersionedProgramFiles;
  Branding.CompURL = "http://127.0.0.1:9/";
  Branding.SupportEmail = "help@example.invalid";
  std::vector<std::string> urls, mails;
  UrlHooks.OpenURL = [&](const std::string& u) { urls.push_back(u); };
  OpenMailAddress = [&](const std::string& a) {
    mails.push_back(a);
    return true;
  };
  TdlgABout dlg;
  dlg.show();
  WaitAndPump(30);
  const std::string memo = dlg.Memo1->toPlainText().toStdString();
  EXPECT_EQ(dlg.windowTitle().toStdString(), "About " + Branding.ProgFullName);
  EXPECT_NE(memo.find("Qt" + std::string(22, ' ') + "\t" + qVersion()), std::string::npos);
  EXPECT_NE(memo.find("libcurl"), std::string::npos);
  EXPECT_EQ(memo.find("**unknown**"), std::string::npos) << memo;
  EXPECT_NE(memo.find("survey.par" + std::string(6, ' ') + "\t3.25"), std::string::npos) << memo;
  EXPECT_NE(memo.find("extra.dat" + std::string(8, ' ') + "\t2"), std::string::npos) << memo;
  EXPECT_NE(memo.find("# of CPUs: \t"), std::string::npos);
  EXPECT_TRUE(SaveScreenshot(&dlg, "dialogs_about"));

  SendMouse(dlg.dfWebSite, QEvent::MouseButtonDblClick);
  SendMouse(dlg.dfEmail, QEvent::MouseButtonRelease);
  UrlHooks.OpenURL = nullptr;
  MainHooks.VersionedFiles = nullptr;
  ASSERT_EQ(urls.size(), 1u);
  EXPECT_EQ(urls[0], "http://127.0.0.1:9/");
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0], "mailto:help@example.invalid");
}
