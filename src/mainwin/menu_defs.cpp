#include "mainwin/menu_defs.h"

StringList PopCaptions;
StringList PopCommands;

namespace {

std::vector<std::string> SplitBars(std::string_view line, int parts) {
  std::vector<std::string> out;
  size_t start = 0;
  for (int i = 0; i < parts - 1; ++i) {
    size_t bar = line.find('|', start);
    if (bar == std::string_view::npos) return {};
    out.emplace_back(Trim(line.substr(start, bar - start)));
    start = bar + 1;
  }
  // The command keeps its blanks: its first 14 characters are a fixed field.
  std::string rest(line.substr(start));
  while (!rest.empty() && (rest.back() == '\r' || rest.back() == ' ')) rest.pop_back();
  size_t lead = rest.find_first_not_of(' ');
  out.push_back(lead == std::string::npos ? std::string() : rest.substr(lead));
  return out;
}

std::vector<MenuEntry> Parse(std::string_view text, bool withMenu) {
  std::vector<MenuEntry> entries;
  StringList lines;
  lines.SetText(text);
  for (int i = 0; i < lines.Count(); ++i) {
    std::string line = lines[i];
    std::string t = Trim(line);
    if (t.empty() || t.rfind("//", 0) == 0) continue;
    auto parts = SplitBars(t, withMenu ? 3 : 2);
    if (parts.empty()) continue;
    MenuEntry e;
    size_t at = 0;
    if (withMenu) e.Menu = parts[at++];
    e.Caption = parts[at++];
    e.Command = parts[at];
    if (e.Caption.empty() || (withMenu && e.Menu.empty())) continue;
    entries.push_back(std::move(e));
  }
  return entries;
}

}  // namespace

std::vector<MenuEntry> ParsePopMenu(std::string_view text) { return Parse(text, false); }
std::vector<MenuEntry> ParseMainMenu(std::string_view text) { return Parse(text, true); }

std::string CommandKeyword(std::string_view command) {
  std::string key;
  for (char c : command.substr(0, std::min(command.size(), CommandKeyLength)))
    if (c != '.' && c != ' ') key += c;
  return UpperCase(key);
}

std::string CommandArgument(std::string_view command) {
  return command.size() > CommandKeyLength ? std::string(command.substr(CommandKeyLength)) : std::string();
}

std::string MakeCommand(std::string_view keyword, std::string_view argument) {
  std::string cmd(keyword.substr(0, std::min(keyword.size(), CommandKeyLength)));
  cmd.append(CommandKeyLength - cmd.size(), '.');
  cmd += argument;
  return cmd;
}

bool CommandNeedsSymbol(std::string_view command) {
  const std::string key = CommandKeyword(command);
  if (key == "URL") return CommandArgument(command).find("##STOCKS##") != std::string::npos;
  return key == "CHART" || key == "NEWS" || key == "HISTORY" || key == "PROPHET" || key == "ISLAND" ||
         key == "RESEARCH";
}
