#include "core/sites.h"

std::shared_ptr<HTTPSite> CurSite;
std::string SiteFile;
std::string LookupFile;
std::shared_ptr<HTTPSite> LookupSite;
StringList LookupParams;
StringList LookupSymbols;
StringList LookupNames;
std::mutex LookupMutex;
