#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/process_limits.h"
#include "platform/string_list.h"

namespace fs = std::filesystem;

// A write past the file-size limit fails and says why, leaving the file as it was and no
// temporary, instead of the signal ending the program.
TEST(AtomicWrite, PastTheFileSizeLimitFailsCleanly) {
  const fs::path dir = fs::temp_directory_path() / ("vn_fsize_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string target = (dir / "PORT.DAT").string();
  ASSERT_TRUE(WriteFileAtomic(target, "the previous save\r\n"));
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::string error;
    if (!PrepareProcessLimits(error, 0)) ::_exit(3);
    const rlimit small{1000, 1000};
    if (::setrlimit(RLIMIT_FSIZE, &small) != 0) ::_exit(4);
    const bool written = WriteFileAtomic(target, std::string(5000, 'x'));
    ::_exit(written ? 1 : errno == EFBIG ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::string now;
  ASSERT_TRUE(ReadWholeFile(target, now));
  EXPECT_EQ(now, "the previous save\r\n");
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 1) << "a temporary was left";
  fs::remove_all(dir);
}
