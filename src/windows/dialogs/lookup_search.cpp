#include "windows/dialogs/lookup_search.h"

#include "core/text_helpers.h"
#include "retrieval/param_files.h"

namespace {
void FillFirstParam(std::string& text, const std::string& encoded) {
  const size_t at = text.find("##PARAM##");
  if (at != std::string::npos) text.replace(at, 9, encoded);
}

bool ContainsNoCase(const std::string& text, const std::string& part) {
  return !part.empty() && UpperCase(text).find(UpperCase(part)) != std::string::npos;
}
}  // namespace

LookupRequest BuildLookupRequest(const StringList& params, const std::string& terms) {
  LookupRequest r;
  r.Method = UpperCase(Trim(GetSiteParam(params, "LOOKUPMETH", "GET")));
  if (r.Method.empty()) r.Method = "GET";
  r.PostData = GetSiteParam(params, "LOOKUPDATA", "");
  r.Host = Trim(GetSiteParam(params, "LOOKUPSITE", DefaultLookupHost));
  r.Path = GetSiteParam(params, "LOOKUPPATH", "/l?s=##PARAM##");
  r.NoMatchText = GetSiteParam(params, "LOOKUPNOMATCH", "no matches");
  r.TooManyText = GetSiteParam(params, "LOOKUPTOOMANY", "first 200");
  const std::string encoded = UrlEncodeParam(terms);
  FillFirstParam(r.Path, encoded);
  FillFirstParam(r.PostData, encoded);
  r.ExtraHeader = r.Method == "GET" ? "Content-type: html/text" : "Content-Type: application/x-www-form-urlencoded";
  return r;
}

LookupOutcome ClassifyLookupPage(const std::string& page, bool failed, bool cancelled, const std::string& noMatchText) {
  if (failed && !cancelled) return LookupOutcome::Error;
  if (cancelled) return LookupOutcome::Cancelled;
  if (ContainsNoCase(page, noMatchText)) return LookupOutcome::NoMatch;
  return LookupOutcome::Results;
}

std::string LookupResultsLabel(const std::string& page, const std::string& tooManyText) {
  return ContainsNoCase(page, tooManyText) ? "Lookup Results: (only first 200 shown) click on the one you want."
                                           : "Lookup Results: click on the one you want.";
}
