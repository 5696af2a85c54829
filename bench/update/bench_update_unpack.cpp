// Checking and unpacking a downloaded update file of 50 MB unpacked (trailer check sum, then
// the zlib payload), beside Python's zlib.decompress of the same payload, in the same run.
// Goals: time within 1.2x of the reference; peak memory of the check and unpack (the
// downloaded body included) under 3x the unpacked size.
//   bench_update_unpack            the comparison
//   bench_update_unpack --memory F (internal) the peak of one check of the wrapped file F
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "ads/update/update_file.h"
#include "platform/string_list.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t PlainBytes = 50u * 1024u * 1024u;

// Quote-like text: compresses about as well as the program's own files.
std::string MakePlain() {
  std::string s;
  s.reserve(PlainBytes + 128);
  uint32_t x = 12345;
  char line[96];
  while (s.size() < PlainBytes) {
    x = x * 1103515245u + 12345u;
    const int n = std::snprintf(line, sizeof line, "SYM%04u,%u.%02u,%u,%02u:%02u:%02u\n", (x >> 8) % 5000,
                                (x >> 4) % 900 + 1, x % 100, (x >> 12) % 100000, (x >> 3) % 24, (x >> 5) % 60,
                                (x >> 7) % 60);
    s.append(line, size_t(n));
  }
  s.resize(PlainBytes);
  return s;
}

long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string k;
  long v = 0;
  while (in >> k) {
    if (k == std::string(key) + ":") {
      in >> v;
      return v;
    }
    in.ignore(1 << 16, '\n');
  }
  return 0;
}

int MemoryChild(const char* path) {
  const long base = StatusKb("VmRSS");
  std::string body;
  if (!ReadWholeFile(path, body)) return 2;
  const std::string problem = CheckUpdateFile(body, false);
  const long peak = StatusKb("VmHWM");
  std::printf("%ld %zu %s\n", peak - base, body.size(), problem.empty() ? "ok" : problem.c_str());
  return problem.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--memory") return MemoryChild(argv[2]);

  const fs::path dir = fs::temp_directory_path() / ("vn_bench_update_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string plain = MakePlain();
  const std::string wrapped = WrapUpdateFile(plain, true);
  const std::string wrappedPath = (dir / "file.upd").string(), streamPath = (dir / "stream.z").string();
  WriteFileAtomic(wrappedPath, wrapped);
  // The bare zlib stream, as Python's reference gets it.
  WriteFileAtomic(streamPath, std::string_view(wrapped).substr(CompressedHeaderSize, wrapped.size() - CompressedHeaderSize - TrailerSize));

  const int rounds = 5;
  double ours = 1e9;
  for (int i = 0; i < rounds; ++i) {
    std::string body = wrapped;  // the downloaded body; the copy is not timed
    const auto t0 = std::chrono::steady_clock::now();
    const std::string problem = CheckUpdateFile(body, false);
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!problem.empty() || body.size() != plain.size()) {
      std::fprintf(stderr, "check failed: %s\n", problem.c_str());
      return 1;
    }
    ours = std::min(ours, t);
  }

  const std::string script = "import sys,time,zlib\n"
                             "d=open(sys.argv[1],'rb').read()\n"
                             "b=1e9\n"
                             "for _ in range(5):\n"
                             " t=time.perf_counter();p=zlib.decompress(d);b=min(b,time.perf_counter()-t)\n"
                             "assert len(p)==" + std::to_string(PlainBytes) + "\n"
                             "print(b)\n";
  const std::string scriptPath = (dir / "ref.py").string();
  WriteFileAtomic(scriptPath, script);
  double python = 0;
  if (FILE* p = ::popen(("python3 " + scriptPath + " " + streamPath).c_str(), "r")) {
    if (std::fscanf(p, "%lf", &python) != 1) python = 0;
    ::pclose(p);
  }

  // The peak in a fresh process of our own, so that it is the check's alone.
  long peakKb = 0;
  if (FILE* p = ::popen(("/proc/" + std::to_string(::getpid()) + "/exe --memory " + wrappedPath).c_str(), "r")) {
    size_t size = 0;
    char word[64] = {0};
    if (std::fscanf(p, "%ld %zu %63s", &peakKb, &size, word) != 3) peakKb = 0;
    ::pclose(p);
  }

  const double plainMb = double(PlainBytes) / (1024.0 * 1024.0);
  std::printf("update file: %.1f MB unpacked, %.1f MB wrapped\n", plainMb, double(wrapped.size()) / (1024.0 * 1024.0));
  std::printf("check sum + unpack (ours, best of %d): %.1f ms\n", rounds, ours * 1000);
  if (python > 0)
    std::printf("zlib.decompress (Python, best of 5):   %.1f ms\n"
                "ratio ours / Python: %.2f (goal: within 1.20)\n",
                python * 1000, ours / python);
  else
    std::printf("zlib.decompress (Python): not measured (no python3)\n");
  std::printf("peak memory of one check, downloaded body included: %.1f MB = %.2f x the unpacked size (goal: under 3)\n",
              double(peakKb) / 1024.0, double(peakKb) / 1024.0 / plainMb);
  fs::remove_all(dir);
  return 0;
}
