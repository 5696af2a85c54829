#include "windows/dialogs/survey_query.h"

#include <cmath>
#include <cstdlib>

#include "core/text_helpers.h"
#include "retrieval/param_files.h"

namespace {
constexpr const char* NameKeys[SurveyCodedCount] = {"GENDER", "AGE",        "STATUS",     "HOUSESIZE", "EDUCATION",
                                                    "INCOME", "OCCUPATION", "COMPANYSIZE", "HOW"};
constexpr const char* QueryKeys[SurveyCodedCount] = {"GEN", "AGE", "STA", "HSZ", "EDU", "INC", "OCC", "CSZ", "HOW"};
}  // namespace

std::vector<std::string> SplitSurveyList(const std::string& text) {
  std::vector<std::string> out;
  size_t from = 0;
  while (true) {
    const size_t comma = text.find(',', from);
    out.push_back(Trim(text.substr(from, comma == std::string::npos ? std::string::npos : comma - from)));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return out;
}

SurveyLists ReadSurveyLists(const StringList& params) {
  SurveyLists l;
  l.Version = Trim(GetSiteParam(params, "VERSION", "1.0"));
  std::string message = GetSiteParam(params, "MESSAGE", "-");
  if (Trim(message) == "-") message.clear();
  ReplaceAll(message, "||", "\n", false);
  l.Message = message;
  l.Countries = SplitSurveyList(GetSiteParam(params, "COUNTRYNAME", "---"));
  for (int q = 0; q < SurveyCodedCount; ++q) {
    const std::string key = NameKeys[q];
    l.Names[static_cast<size_t>(q)] = SplitSurveyList(GetSiteParam(params, key + "NAME", "---"));
    l.Codes[static_cast<size_t>(q)] = SplitSurveyList(GetSiteParam(params, key + "CODE", "-"));
  }
  l.BrokerNames = SplitSurveyList(GetSiteParam(params, "BROKERNAME", "---"));
  l.BrokerCodes = SplitSurveyList(GetSiteParam(params, "BROKERCODE", "-"));
  return l;
}

std::string SurveyCode(const std::vector<std::string>& codes, int index) {
  if (index < 0 || static_cast<size_t>(index) >= codes.size()) return {};
  return codes[static_cast<size_t>(index)];
}

std::string BuildSurveyQuery(const SurveyLists& lists, const SurveyAnswers& a) {
  std::string q = "VER=" + UrlEncodeParam(lists.Version) + "&";
  q += "CNTRY=" + UrlEncodeParam(a.Country) + "&";
  for (int i = 0; i < SurveyCodedCount; ++i)
    q += std::string(QueryKeys[i]) + "=" +
         UrlEncodeParam(SurveyCode(lists.Codes[static_cast<size_t>(i)], a.Chosen[static_cast<size_t>(i)])) + "&";
  q += "BRO=";
  for (size_t i = 0; i < a.Brokers.size(); ++i)
    if (a.Brokers[i]) q += UrlEncodeParam(SurveyCode(lists.BrokerCodes, static_cast<int>(i))) + ",";
  q += "&";
  q += "ZIP=" + UrlEncodeParam(Trim(a.Zip)) + "&";
  for (const auto& [tag, checked] : a.Checks)
    if (tag != 0) q += "C" + std::to_string(tag) + "=" + (checked ? "1" : "0") + "&";
  for (const auto& [tag, index] : a.Ratings)
    if (tag != 0) q += "Q" + std::to_string(tag) + "=" + std::to_string(index) + "&";
  return q;
}

std::string RemindDayText(TDateTime day) { return std::to_string(static_cast<long long>(std::floor(day))); }

bool SurveyReminderDue(bool surveyFileExists, const std::string& storedAnswer, const std::string& remindDay,
                       TDateTime today) {
  if (!surveyFileExists || !Trim(storedAnswer).empty()) return false;
  const std::string day = Trim(remindDay);
  if (day.empty()) return false;
  char* end = nullptr;
  const long long n = std::strtoll(day.c_str(), &end, 10);
  if (end == day.c_str() || *end != '\0') return true;  // an unreadable day: ask, and a new day is written
  return std::floor(today) >= static_cast<double>(n);
}
