#pragma once
// The symbol look-up's request and the reading of its result page, without a display.
#include <string>

#include "platform/string_list.h"

// The host asked when a look-up source names none.
inline constexpr const char* DefaultLookupHost = "lookup.vantora.net";

struct LookupRequest {
  std::string Method;  // "GET" or "POST"
  std::string Host;
  std::string Path;
  std::string PostData;
  std::string ExtraHeader;
  std::string NoMatchText;
  std::string TooManyText;
};

// The request for the search terms from the source's parameters (LOOKUPMETH, LOOKUPDATA,
// LOOKUPSITE, LOOKUPPATH, LOOKUPNOMATCH, LOOKUPTOOMANY): the first "##PARAM##" of the path and of
// the post data becomes the encoded terms.
LookupRequest BuildLookupRequest(const StringList& params, const std::string& terms);

enum class LookupOutcome { Error, Cancelled, NoMatch, Results };

// What a finished wait means, first match wins: a failed request, a cancel, the no-match text
// (either case), else results to read.
LookupOutcome ClassifyLookupPage(const std::string& page, bool failed, bool cancelled, const std::string& noMatchText);

// The results caption: it says so when the page holds the cut-list text (either case).
std::string LookupResultsLabel(const std::string& page, const std::string& tooManyText);

// The page as UTF-8, read in the character set it declares.
std::string PageAsUtf8(const std::string& page);
