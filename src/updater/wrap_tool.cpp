// vnwrapupd: wraps a file for the update site: compressed (except definition files, which
// must begin with their VERSION line) and followed by the check-sum trailer.
//   vnwrapupd INPUT OUTPUT [--plain]
#include <iostream>
#include <string>

#include "ads/update/update_file.h"
#include "ads/update/update_list.h"
#include "platform/string_list.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4 || (argc == 4 && std::string(argv[3]) != "--plain")) {
    std::cerr << "usage: vnwrapupd INPUT OUTPUT [--plain]\n";
    return 1;
  }
  std::string content;
  if (!ReadWholeFile(argv[1], content)) {
    std::cerr << "vnwrapupd: cannot read " << argv[1] << "\n";
    return 1;
  }
  const bool definition = IsUpdateListFile(argv[1]);
  if (definition && UpperCase(content.substr(0, 7)) != "VERSION") {
    std::cerr << "vnwrapupd: a definition file must begin with its VERSION line\n";
    return 1;
  }
  const std::string wrapped = WrapUpdateFile(content, !definition && argc == 3);
  if (wrapped.empty()) {
    std::cerr << "vnwrapupd: the file is too large\n";
    return 1;
  }
  if (!WriteFileAtomic(argv[2], wrapped)) {
    std::cerr << "vnwrapupd: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
