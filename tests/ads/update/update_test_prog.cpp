// A stand-in for the program in the updater's tests: takes the program's guard like the
// program (not with ALLOWDUP, like the program), says which copy it is (the tag its file ends
// with), and runs until told to stop.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>

#include "updater/updater_core.h"

int main(int argc, char** argv) {
  const bool allowDup = argc > 1 && std::string_view(argv[1]) == "ALLOWDUP";
  const char* home = std::getenv("VANTORA_HOME");
  if (!home) return 2;
  std::string dir = std::filesystem::weakly_canonical(home).string() + "/";
  std::ifstream self("/proc/self/exe", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(self)), std::istreambuf_iterator<char>());
  const std::string tag = bytes.size() >= 3 ? bytes.substr(bytes.size() - 3) : "???";
  const int fd = ::open(GuardLockPath(dir).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (!allowDup && (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)) return 3;
  std::ofstream(dir + "started-" + tag) << tag;
  for (int i = 0; i < 600 && !std::filesystem::exists(dir + "stop"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return 0;
}
