#pragma once
// Definition files of quote sites ("*.SDF"), news sources ("*.NWS"), look-up sources ("*.lup")
// and streaming sites ("IsldStr.Par"), the site's user settings, and the lists of quote sites.
// The file format is described in docs/file-formats.md.
#include <string>

#include "core/sites.h"
#include "platform/string_list.h"

// The version of a file whose VERSION line is missing or unreadable.
constexpr double DefaultSiteFileVersion = 0.0;
// Definition files larger than this are refused.
constexpr size_t MaxSiteFileBytes = 1024 * 1024;

// Reads a definition file of the program folder (a name that would leave it is refused) into
// the site record: its fields, its KEY=value lines (into site.Params, and into params when
// given), its login script lines and its compiled page script, then the site's user settings
// from the section of the settings file named by fileName. error is empty on success; any other text is a
// failure, and the record is then left as it was.
void LoadSiteFile(const std::string& fileName, HTTPSite& site, StringList* params, std::string& error);
// The same from the file's text (for tests and tools); the settings are not read.
void LoadSiteText(std::string_view text, const std::string& code, HTTPSite& site, StringList* params,
                  std::string& error);

// The number of the file's VERSION line, DefaultSiteFileVersion when it has none. The files
// carry no authentication, so the check flag changes nothing.
double GetSiteFileVersion(const std::string& fileName, bool check);

// Writes the site's user settings to the section fileName of the settings file: "Login",
// "Password" (scrambled; empty unless it is to be saved), "SavePassword", "WebLogin",
// "ActiveHours", "ActiveDays" and "Default". The stored name and password follow.
void SaveSiteSettings(const std::string& fileName, HTTPSite& site);

// The current quote site's short name, or the SHORTNAME value of its parameters; empty when
// no site is current.
void GetSiteShortName(std::string& name);

// The display names and codes (definition file names) of all known quote sites, parallel.
extern StringList SiteNames;
extern StringList SiteCodes;
// Sorts both lists by display name without regard to case; names holding "DELAYED" come after
// those without; names compare without their text from "(" on.
void SortSiteLists();
// Clears both lists and fills them from every "*.SDF" file of the program folder that loads.
void RebuildSiteLists();
