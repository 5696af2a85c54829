#include "retrieval/site_files.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <numeric>

#include "core/branding.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/text_helpers.h"
#include "retrieval/param_files.h"
#include "retrieval/password_scramble.h"
#include "retrieval/site_script.h"

namespace fs = std::filesystem;

StringList SiteNames;
StringList SiteCodes;

namespace {

constexpr int MaxRequests = 9;

bool ParseDouble(std::string_view text, double& out) {
  std::string t = Trim(text);
  if (t.empty()) return false;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
  return ec == std::errc() && p == t.data() + t.size();
}

bool ParseInt(std::string_view text, int& out, int lo, int hi) {
  std::string t = Trim(text);
  int v = 0;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (t.empty() || ec != std::errc() || p != t.data() + t.size() || v < lo || v > hi) return false;
  out = v;
  return true;
}

bool ParseYesNo(std::string_view text, bool& out) {
  std::string t = UpperCase(Trim(text));
  if (t == "YES" || t == "1" || t == "Y") out = true;
  else if (t == "NO" || t == "0" || t == "N" || t.empty()) out = false;
  else return false;
  return true;
}

// The version from the first VERSION line: "VERSION=2.5", "VERSION 2.5" or "VERSION: 2.5".
bool VersionOfLine(std::string_view line, double& out) {
  std::string t = Trim(line);
  if (t.size() < 7 || !SameText(std::string_view(t).substr(0, 7), "VERSION")) return false;
  std::string_view rest = std::string_view(t).substr(7);
  while (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t' || rest[0] == '=' || rest[0] == ':'))
    rest.remove_prefix(1);
  return ParseDouble(rest, out);
}

void MoveSite(HTTPSite& dst, HTTPSite& src) {
  dst.Name = std::move(src.Name);
  dst.ShortName = std::move(src.ShortName);
  dst.Code = std::move(src.Code);
  dst.LoginNameCaption = std::move(src.LoginNameCaption);
  dst.PasswordCaption = std::move(src.PasswordCaption);
  dst.RegisterUrl = std::move(src.RegisterUrl);
  dst.StoredLogin = std::move(src.StoredLogin);
  dst.StoredPassword = std::move(src.StoredPassword);
  dst.EnteredLogin = std::move(src.EnteredLogin);
  dst.EnteredPassword = std::move(src.EnteredPassword);
  dst.SavePassword = src.SavePassword;
  dst.WebLogin = src.WebLogin;
  dst.UserAgent = std::move(src.UserAgent);
  dst.Channels = std::move(src.Channels);
  dst.SymbolLimit = src.SymbolLimit;
  dst.ThreadCount = src.ThreadCount;
  dst.TimeStamp = src.TimeStamp;
  dst.LoginScript = std::move(src.LoginScript);
  dst.Requests = std::move(src.Requests);
  dst.Method = std::move(src.Method);
  dst.Host = std::move(src.Host);
  dst.Port = src.Port;
  dst.LoginUrl = std::move(src.LoginUrl);
  dst.LoginPrompt = std::move(src.LoginPrompt);
  dst.Servers = std::move(src.Servers);
  dst.ExtraHeaders = std::move(src.ExtraHeaders);
  dst.ActiveHours = std::move(src.ActiveHours);
  dst.ActiveDays = std::move(src.ActiveDays);
  dst.IsDefault = src.IsDefault;
  dst.MinRefresh = src.MinRefresh;
  dst.Version = src.Version;
  dst.Params = std::move(src.Params);
  dst.Script = std::move(src.Script);
}

std::string CodeOf(const std::string& fileName) { return fs::path(fileName).filename().string(); }

void ReadUserSettings(const std::string& section, HTTPSite& site) {
  if (!IniFile_) return;
  TMyIniFile& ini = Ini();
  site.StoredLogin = ini.ReadString(section, "Login", "");
  site.StoredPassword = UnscramblePassword(ini.ReadString(section, "Password", ""));
  site.SavePassword = ini.ReadYesNo(section, "SavePassword", site.SavePassword);
  site.WebLogin = ini.ReadYesNo(section, "WebLogin", site.WebLogin);
  site.ActiveHours = ini.ReadString(section, "ActiveHours", site.ActiveHours);
  site.ActiveDays = ini.ReadString(section, "ActiveDays", site.ActiveDays);
  site.IsDefault = ini.ReadYesNo(section, "Default", site.IsDefault);
  site.EnteredLogin = site.StoredLogin;
  site.EnteredPassword = site.StoredPassword;
}

}  // namespace

void LoadSiteText(std::string_view text, const std::string& code, HTTPSite& site, StringList* params,
                  std::string& error) {
  error.clear();
  if (text.size() > MaxSiteFileBytes) {
    error = "file larger than 1 MB";
    return;
  }
  StringList lines;
  lines.SetText(text);
  HTTPSite s;
  s.Code = code;
  StringList header, scriptLines;
  enum class Part { Header, Login, Script } part = Part::Header;
  bool haveVersion = false;
  std::vector<SiteRequest> requests(MaxRequests);
  int lastRequest = 0;

  for (int i = 0; i < lines.Count(); ++i) {
    const std::string line = Trim(lines[i]);
    const std::string where = "line " + std::to_string(i + 1) + ": ";
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      std::string name = UpperCase(line.substr(1, line.size() - 2));
      if (name == "LOGIN") part = Part::Login;
      else if (name == "SCRIPT") part = Part::Script;
      else {
        error = where + "unknown section " + line;
        return;
      }
      continue;
    }
    if (part == Part::Login) {
      s.LoginScript.Add(lines[i]);
      continue;
    }
    if (part == Part::Script) {
      scriptLines.Add(lines[i]);
      continue;
    }
    if (line.empty() || line.rfind("//", 0) == 0) continue;
    if (!haveVersion) {
      if (!VersionOfLine(line, s.Version)) {
        error = where + "the file must begin with its VERSION line";
        return;
      }
      haveVersion = true;
      header.Add(line);
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) {
      error = where + "KEY=value expected";
      return;
    }
    header.Add(line);
    const std::string key = UpperCase(Trim(std::string_view(line).substr(0, eq)));
    const std::string value = line.substr(eq + 1);
    bool ok = true;
    if (key == "NAME") s.Name = value;
    else if (key == "SHORTNAME") s.ShortName = value;
    else if (key == "LOGINCAPTION") s.LoginNameCaption = value;
    else if (key == "PASSWORDCAPTION") s.PasswordCaption = value;
    else if (key == "REGISTERURL") s.RegisterUrl = value;
    else if (key == "USERAGENT") s.UserAgent = value;
    else if (key == "CHANNELS") s.Channels = value;
    else if (key == "SYMBOLLIMIT") ok = ParseInt(value, s.SymbolLimit, 1, 10000);
    else if (key == "THREADS") ok = ParseInt(value, s.ThreadCount, 1, 64);
    else if (key == "TIMESTAMP") ok = ParseYesNo(value, s.TimeStamp);
    else if (key == "WEBLOGIN") ok = ParseYesNo(value, s.WebLogin);
    else if (key == "DEFAULT") ok = ParseYesNo(value, s.IsDefault);
    else if (key == "METHOD") {
      s.Method = UpperCase(Trim(value));
      ok = s.Method == "GET" || s.Method == "POST";
    } else if (key == "HOST") s.Host = Trim(value);
    else if (key == "PORT") ok = ParseInt(value, s.Port, 1, 65535);
    else if (key == "LOGINURL") s.LoginUrl = Trim(value);
    else if (key == "LOGINPROMPT") s.LoginPrompt = value;
    else if (key == "SERVERS") s.Servers = Trim(value);
    else if (key == "HEADERS") s.ExtraHeaders = value;
    else if (key == "ACTIVEHOURS") s.ActiveHours = Trim(value);
    else if (key == "ACTIVEDAYS") s.ActiveDays = Trim(value);
    else if (key == "MINREFRESH") ok = ParseInt(value, s.MinRefresh, 0, 86400);
    else if ((key.rfind("PATH", 0) == 0 || key.rfind("POST", 0) == 0) && key.size() <= 5) {
      int n = 1;
      if (key.size() == 5) {
        if (key[4] < '1' || key[4] > '9') {
          continue;  // another key of the site's own, kept in its parameters
        }
        n = key[4] - '0';
      }
      (key[1] == 'A' ? requests[n - 1].Path : requests[n - 1].PostData) = value;
      lastRequest = std::max(lastRequest, n);
    }
    if (!ok) {
      error = where + "bad value for " + key;
      return;
    }
  }
  if (!haveVersion) {
    error = "the file has no VERSION line";
    return;
  }
  requests.resize(static_cast<size_t>(lastRequest));
  s.Requests = std::move(requests);
  s.Params = header;

  // One compiled script holds the page blocks and the login block.
  if (!scriptLines.Empty() || !s.LoginScript.Empty()) {
    auto script = std::make_shared<SiteScript>();
    std::string why;
    if (!scriptLines.Empty() && !CompileSiteScriptInto(*script, scriptLines, ScriptMode::Quotes, why)) {
      error = "script " + why;
      return;
    }
    if (!s.LoginScript.Empty() && !CompileSiteScriptInto(*script, s.LoginScript, ScriptMode::Login, why)) {
      error = "login script " + why;
      return;
    }
    s.Script = std::move(script);
  }
  if (params) *params = header;
  MoveSite(site, s);
}

void LoadSiteFile(const std::string& fileName, HTTPSite& site, StringList* params, std::string& error) {
  std::string path = ProgFilePath(fileName);
  std::string text;
  std::error_code ec;
  if (path.empty()) {
    error = "bad file name " + fileName;
    return;
  }
  auto size = fs::file_size(path, ec);
  if (ec) {
    error = "cannot read " + fileName;
    return;
  }
  if (size > MaxSiteFileBytes) {
    error = "file larger than 1 MB";
    return;
  }
  if (!ReadWholeFile(path, text)) {
    error = "cannot read " + fileName;
    return;
  }
  HTTPSite loaded;
  LoadSiteText(text, CodeOf(fileName), loaded, params, error);
  if (!error.empty()) return;
  ReadUserSettings(fileName, loaded);
  MoveSite(site, loaded);
}

double GetSiteFileVersion(const std::string& fileName, bool /*check*/) {
  std::string path = ProgFilePath(fileName);
  StringList lines;
  if (path.empty() || !lines.LoadFromFile(path)) return DefaultSiteFileVersion;
  for (int i = 0; i < lines.Count() && i < 50; ++i) {
    std::string line = Trim(lines[i]);
    if (line.empty() || line.rfind("//", 0) == 0) continue;
    double v = 0;
    if (VersionOfLine(line, v)) return v;
  }
  return DefaultSiteFileVersion;
}

void SaveSiteSettings(const std::string& fileName, HTTPSite& site) {
  site.StoredLogin = site.EnteredLogin;
  site.StoredPassword = site.SavePassword ? site.EnteredPassword : std::string();
  if (!IniFile_) return;
  TMyIniFile& ini = Ini();
  ini.BeginBatch();
  ini.WriteString(fileName, "Login", site.EnteredLogin);
  ini.WriteString(fileName, "Password", ScramblePassword(site.StoredPassword));
  ini.WriteYesNo(fileName, "SavePassword", site.SavePassword);
  ini.WriteYesNo(fileName, "WebLogin", site.WebLogin);
  ini.WriteString(fileName, "ActiveHours", site.ActiveHours);
  ini.WriteString(fileName, "ActiveDays", site.ActiveDays);
  ini.WriteYesNo(fileName, "Default", site.IsDefault);
  ini.EndBatch();
}

void GetSiteShortName(std::string& name) {
  std::shared_ptr<HTTPSite> site = CurSite;
  name.clear();
  if (!site) return;
  name = site->ShortName.empty() ? ParamValue(site->Params, "SHORTNAME", "") : site->ShortName;
}

void SortSiteLists() {
  const int n = std::min(SiteNames.Count(), SiteCodes.Count());
  std::vector<int> order(static_cast<size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  auto base = [](const std::string& name) { return Trim(std::string_view(name).substr(0, name.find('('))); };
  auto delayed = [](const std::string& name) { return UpperCase(name).find("DELAYED") != std::string::npos; };
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    const std::string &na = SiteNames[a], &nb = SiteNames[b];
    bool da = delayed(na), db = delayed(nb);
    if (da != db) return db;
    return CompareTextNoCase(base(na), base(nb)) < 0;
  });
  StringList names, codes;
  for (int i : order) {
    names.Add(SiteNames[i]);
    codes.Add(SiteCodes[i]);
  }
  SiteNames = names;
  SiteCodes = codes;
}

void RebuildSiteLists() {
  SiteNames.Clear();
  SiteCodes.Clear();
  const std::vector<std::string> files = ProgFilesWithExtension(".SDF");
  for (const std::string& f : files) {
    HTTPSite scratch;
    std::string error;
    LoadSiteFile(f, scratch, nullptr, error);
    if (!error.empty()) continue;
    SiteNames.Add(scratch.Name);
    SiteCodes.Add(f);
  }
  SortSiteLists();
}
