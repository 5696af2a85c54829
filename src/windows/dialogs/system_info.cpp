#include "windows/dialogs/system_info.h"

#include <QSysInfo>
#include <QtGlobal>

#include <curl/curl.h>
#include <gnu/libc-version.h>
#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/main_hooks.h"
#include "core/program_state.h"
#include "core/text_helpers.h"
#include "retrieval/site_files.h"

const char* const AboutParameterFiles[8] = {"params.par", "cust.par",    "fund.par",   "menu.par",
                                            "popmenu.par", "reklama.par", "survey.par", "IsldStr.Par"};

namespace {
constexpr const char* Unknown = "**unknown**";

std::string NumberText(double value) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << value;
  return out.str();
}
}  // namespace

CpuInfo ParseCpuInfo(const std::string& text) {
  CpuInfo info;
  std::string other;  // a model name under another key (ARM and others)
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
      if (Trim(line).empty() && !info.ModelName.empty()) break;  // the first processor's block ends
      continue;
    }
    const std::string key = Trim(line.substr(0, colon));
    const std::string value = Trim(line.substr(colon + 1));
    auto takeOnce = [&](std::string& field) {
      if (field.empty()) field = value;
    };
    if (key == "model name") takeOnce(info.ModelName);
    else if (key == "cpu family") takeOnce(info.Family);
    else if (key == "model") takeOnce(info.Model);
    else if (key == "stepping") takeOnce(info.Stepping);
    else if (key == "cpu MHz" && info.Mhz == 0) {
      std::istringstream number(value);
      number.imbue(std::locale::classic());
      double mhz = 0;
      if (number >> mhz && mhz > 0) info.Mhz = mhz;
    } else if (key == "Processor" || key == "cpu model" || key == "Hardware") {
      if (other.empty()) other = value;
    }
  }
  if (info.ModelName.empty()) info.ModelName = other;
  return info;
}

SystemFacts GatherSystemFacts() {
  SystemFacts f;
  f.ProgramVersion = VersionText(ProgVersion);
  f.SystemName = QSysInfo::prettyProductName().toStdString();
  f.Kernel = (QSysInfo::kernelType() + " " + QSysInfo::kernelVersion()).toStdString();
  f.Architecture = QSysInfo::currentCpuArchitecture().toStdString();
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::stringstream text;
  text << cpuinfo.rdbuf();
  f.Cpu = ParseCpuInfo(text.str());
  f.CpuCount = std::thread::hardware_concurrency();
  const curl_version_info_data* curl = curl_version_info(CURLVERSION_NOW);
  f.Libraries = {{"Qt", qVersion() ? qVersion() : ""},
                 {"libcurl", curl && curl->version ? curl->version : ""},
                 {"zlib", zlibVersion() ? zlibVersion() : ""},
                 {"glibc", gnu_get_libc_version() ? gnu_get_libc_version() : ""}};
  for (const char* name : AboutParameterFiles) f.ParameterFiles.push_back({name, NumberText(GetSiteFileVersion(name, true))});
  // Then every other file that carries a version, as updates install them.
  for (const ProgramFileVersion& v : MainHooks.VersionedFiles ? MainHooks.VersionedFiles() : std::vector<ProgramFileVersion>())
    if (std::none_of(std::begin(AboutParameterFiles), std::end(AboutParameterFiles),
                     [&](const char* n) { return SameText(n, v.Name); }))
      f.ParameterFiles.push_back({v.Name, NumberText(v.Version)});
  return f;
}

std::string PaddedVersionLine(const std::string& name, const std::string& version) {
  const size_t shortBy = name.size() < 13 ? 13 - name.size() : 0;
  return name + std::string(2 * shortBy, ' ') + "\t" + (Trim(version).empty() ? std::string(Unknown) : version);
}

std::vector<std::string> AboutMemoLines(const SystemFacts& f) {
  std::vector<std::string> lines;
  lines.push_back("Program Version: \t" + f.ProgramVersion);
  lines.push_back("System: \t" + (f.SystemName.empty() ? std::string(Unknown) : f.SystemName) + " (" + f.Kernel + ")");
  const std::string cpuType = f.Cpu.ModelName.empty() ? f.Architecture : f.Cpu.ModelName + " (" + f.Architecture + ")";
  lines.push_back("CPU Type:\t" + (cpuType.empty() ? std::string(Unknown) : cpuType));
  if (!f.Cpu.Family.empty())
    lines.push_back("CPU Level:\t" + f.Cpu.Family + " Model " + (f.Cpu.Model.empty() ? "?" : f.Cpu.Model) + " Stepping " +
                    (f.Cpu.Stepping.empty() ? "?" : f.Cpu.Stepping));
  if (f.Cpu.Mhz > 0) lines.push_back("Speed (approx): \t" + FixedText(f.Cpu.Mhz, 1) + " MHz");
  lines.push_back("# of CPUs: \t" + std::to_string(f.CpuCount));
  const std::string dashes(39, '-');
  lines.push_back(dashes);
  for (const NamedVersion& lib : f.Libraries) lines.push_back(PaddedVersionLine(lib.Name, lib.Version));
  lines.push_back(dashes);
  for (const NamedVersion& file : f.ParameterFiles) lines.push_back(PaddedVersionLine(file.Name, file.Version));
  return lines;
}
