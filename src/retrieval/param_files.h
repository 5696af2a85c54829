#pragma once
// Parameter files of the program folder (KEY=value lines) and looking a value up in them.
#include <string>
#include <string_view>
#include <vector>

#include "platform/string_list.h"

// Clears the list and fills it with the KEY=value lines of the file of the program folder
// (blank lines and lines beginning "//" skipped). A name that would leave the program folder,
// or a missing file, leaves the list empty. The files carry no authentication.
void ReadParamsFile(const std::string& fileName, StringList& list);

// The text after the key and "=" of the first line whose key matches without regard to case;
// def when there is none.
void GetSiteParam(const StringList& list, std::string_view key, std::string_view def, std::string& value);
std::string GetSiteParam(const StringList& list, std::string_view key, std::string_view def = "");

// The full path of a file of the program folder: the exact name when it exists, else an entry
// whose name matches without regard to case, else the exact name. Empty for a name that would
// leave the folder, an absolute path included: names come from settings and parameter files.
std::string ProgFilePath(const std::string& fileName);

// The names of the program folder's files ending in the extension (".SDF"; without regard to
// case), sorted.
std::vector<std::string> ProgFilesWithExtension(std::string_view extension);
