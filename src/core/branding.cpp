#include "core/branding.h"

#include <charconv>
#include <filesystem>
#include <mutex>
#include <set>

#include "core/log.h"
#include "core/program_state.h"
#include "core/user_notices.h"

CustVarType Branding;

bool LoadParamLines(const std::string& path, StringList& list) {
  list.Clear();
  std::string bytes, why;
  const FileRead read = ReadFileChecked(path, bytes, &why);
  if (read == FileRead::Unreadable) {
    // Said once a session, though some are read again and again.
    static std::mutex toldMutex;
    static std::set<std::string> told;
    const std::string name = std::filesystem::path(path).filename().string();
    WriteLog("The parameter file " + name + " cannot be read (" + why + "); its defaults are used", 0);
    std::lock_guard lock(toldMutex);
    if (told.insert(name).second)
      AddUserNotice("The parameter file " + name + " cannot be read (" + why + "); its defaults are used.");
  }
  if (read != FileRead::Ok) return false;
  StringList raw;
  raw.SetText(bytes);
  for (int i = 0; i < raw.Count(); ++i) {
    std::string line = Trim(raw[i]);
    if (line.empty() || line.rfind("//", 0) == 0) continue;
    list.Add(line);
  }
  return true;
}

std::string ParamValue(const StringList& list, std::string_view key, std::string_view def) {
  for (int i = 0; i < list.Count(); ++i) {
    const std::string& line = list[i];
    size_t eq = line.find('=');
    if (eq != std::string::npos && SameText(Trim(std::string_view(line).substr(0, eq)), key))
      return line.substr(eq + 1);
  }
  return std::string(def);
}

void ApplyBranding(const StringList& lines, CustVarType& out) {
  auto take = [&](const char* key, std::string& field) { field = ParamValue(lines, key, field); };
  take("PROGFULLNAME", out.ProgFullName);
  take("PROGSHORTNAME", out.ProgShortName);
  take("CompURL", out.CompURL);
  take("SUPPORTEMAIL", out.SupportEmail);
  take("COPYRIGHT", out.Copyright);
  take("EXEDEFAULT", out.ExeDefault);
  take("HelpFileName", out.HelpFileName);
  std::string delay = ParamValue(lines, "SPLASHDELAY", "");
  int v = 0;
  auto r = std::from_chars(delay.data(), delay.data() + delay.size(), v);
  if (!delay.empty() && r.ec == std::errc() && v >= 0 && v <= 60000) out.SplashDelay = v;
}

void LoadBranding() {
  StringList lines;
  if (LoadParamLines(ProgDir + "cust.par", lines)) ApplyBranding(lines, Branding);
}

void GetHelpFileName(std::string& name) {
  name = SameText(Branding.HelpFileName, "NONE") ? std::string() : Branding.HelpFileName;
}
