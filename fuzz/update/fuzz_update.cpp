// Update lists and downloaded update files are outside bytes. The first byte picks the parser:
// even: the bytes are a list, planned against an empty folder view; every name the plan would
// touch must be a plain, unprotected name, and the plan never holds more than a list may. Odd:
// the bytes are a downloaded file, checked as a definition file (bit 1) or a binary file; a good
// file's content must not grow beyond what a payload header can announce.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ads/update/update_file.h"
#include "ads/update/update_list.h"
#include "ads/update/update_plan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  if ((mode & 1) == 0) {
    PlanInput in;
    in.ProgVersion = 2.501;
    in.Quiet = (mode & 2) != 0;
    in.ExeDefault = "vantora";
    in.RunningExeName = "vantora";
    UpdateFolderView view;
    view.Exists = [](const std::string& n) { return n.size() % 2 == 0; };
    view.SiteFileVersion = [](const std::string& n, bool) { return double(n.size()); };
    view.TrailerVersion = [](const std::string& n) { return double(n.size()) / 2; };
    const UpdatePlan plan = PlanUpdate(bytes, in, view);
    auto check = [&](const std::string& n) {
      if (!IsSafeLocalName(n) || IsProtectedName(n, in.ExeDefault, in.RunningExeName)) std::abort();
    };
    for (const PlanStep& s : plan.Steps) {
      check(s.Name);
      if (s.Kind == StepKind::Rename) check(s.NewName);
    }
    for (const PlannedFile& f : plan.Files)
      if (!IsSafeRemoteName(f.Entry.Remote)) std::abort();
    if (plan.LastMessage < in.LastMessage) std::abort();
    // A list never brings more than a list may hold.
    const size_t most = size_t(MaxListEntries);
    if (plan.Files.size() > most || plan.Steps.size() > most || plan.Messages.size() > most || plan.Servers.size() > most)
      std::abort();
    if (plan.TooLong && (!plan.Files.empty() || !plan.Steps.empty() || !plan.Messages.empty())) std::abort();
  } else {
    const size_t before = bytes.size();
    const std::string problem = CheckUpdateFile(bytes, (mode & 2) != 0);
    if (problem.empty() && bytes.size() > before && bytes.size() > 99999999u) std::abort();
    std::string copy(reinterpret_cast<const char*>(data + 1), size - 1);
    UnpackCompressed(copy);
  }
  return 0;
}
