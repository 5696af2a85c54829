// The README's two example files for a new program folder work as they stand.
#include <gtest/gtest.h>

#include "core/add_snap.h"
#include "core/portfolios.h"
#include "core/program_state.h"
#include "core/sites.h"
#include "platform/string_list.h"
#include "retrieval/site_files.h"
#include "retrieval/site_script.h"

namespace {
// The fenced blocks after the heading, with the list indent taken off.
std::vector<std::string> CodeBlocksAfter(const std::string& text, const std::string& heading) {
  std::vector<std::string> blocks;
  size_t at = text.find(heading);
  while (at != std::string::npos && blocks.size() < 2) {
    const size_t open = text.find("```\n", at);
    if (open == std::string::npos) break;
    const size_t close = text.find("```", open + 4);
    if (close == std::string::npos) break;
    StringList lines;
    lines.SetText(text.substr(open + 4, close - open - 4));
    std::string block;
    for (int i = 0; i < lines.Count(); ++i) {
      const std::string& line = lines[i];
      block += (line.rfind("  ", 0) == 0 ? line.substr(2) : line) + "\n";
    }
    blocks.push_back(block);
    at = close + 3;
  }
  return blocks;
}
}  // namespace

TEST(ReadmeExample, SiteFileAndPortfolioLineLoadAndReadAQuote) {
  std::string readme;
  ASSERT_TRUE(ReadWholeFile(std::string(VN_FIXTURES_DIR) + "/../../README.md", readme));
  const auto blocks = CodeBlocksAfter(readme, "### Getting quotes in a new program folder");
  ASSERT_EQ(blocks.size(), 2u);

  ASSERT_TRUE(WriteFileAtomic(ProgDir + "MYSITE.SDF", blocks[0]));
  HTTPSite site;
  std::string error;
  LoadSiteFile("MYSITE.SDF", site, nullptr, error);
  ASSERT_EQ(error, "");
  EXPECT_TRUE(site.IsDefault);
  EXPECT_EQ(site.SymbolLimit, 25);
  StringList symbols;
  symbols.Add("RDMX");
  TDateTime quoteTime = 0;
  std::string extra, status;
  RunSiteScript(site, &symbols,
                "<table><tr class=\"q\"><td class=\"sym\">RDMX</td><td class=\"last\">123.45</td>"
                "<td class=\"chg\">+1.25</td></tr></table>",
                quoteTime, extra, nullptr, status);
  EXPECT_EQ(status, "OK");
  StockQuote q;
  ASSERT_GE(GetStockQuote("RDMX", q), 0);
  EXPECT_FLOAT_EQ(static_cast<float>(q.Last), 123.45f);

  PortType port;
  ASSERT_TRUE(ParsePortLine(Trim(blocks[1]), port));
  EXPECT_EQ(port.Name, "My stocks");
  ASSERT_EQ(port.Rows.size(), 3u);
  EXPECT_EQ(port.Rows[2].Symbol, "$CASH");
  std::remove((ProgDir + "MYSITE.SDF").c_str());
}
