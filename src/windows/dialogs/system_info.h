#pragma once
// The about box's system information, built without a display.
#include <string>
#include <vector>

// What /proc/cpuinfo says about the first processor; empty fields when it does not say.
struct CpuInfo {
  std::string ModelName;  // "model name", else "Processor" / "cpu model" / "Hardware"
  std::string Family;     // "cpu family"
  std::string Model;      // "model"
  std::string Stepping;   // "stepping"
  double Mhz = 0;         // "cpu MHz"; 0 when absent
};
CpuInfo ParseCpuInfo(const std::string& text);

// One name and its version; an empty version shows as "**unknown**".
struct NamedVersion {
  std::string Name;
  std::string Version;
};

struct SystemFacts {
  std::string ProgramVersion;
  std::string SystemName;  // e.g. "Debian GNU/Linux 12 (bookworm)"
  std::string Kernel;      // e.g. "linux 6.1.0"
  std::string Architecture;
  CpuInfo Cpu;
  unsigned CpuCount = 0;
  std::vector<NamedVersion> Libraries;
  std::vector<NamedVersion> ParameterFiles;
};

// The parameter files the program reads, once each.
extern const char* const AboutParameterFiles[8];

// The facts of this machine and program folder: QSysInfo, /proc/cpuinfo, the runtime versions
// of Qt, libcurl, zlib and glibc, and the parameter files' VERSION lines.
SystemFacts GatherSystemFacts();

// A name padded with two blanks for each character short of 13, a tab and the version.
std::string PaddedVersionLine(const std::string& name, const std::string& version);

// The memo's lines, values after a tab.
std::vector<std::string> AboutMemoLines(const SystemFacts& facts);
