#pragma once
// The survey's answer lists from survey.par and the query text it stores, without a display.
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "platform/datetime.h"
#include "platform/string_list.h"

// The coded questions, in the query's order.
enum SurveyQuestion { SqGender, SqAge, SqStatus, SqHouseSize, SqEducation, SqIncome, SqOccupation, SqCompanySize, SqHow };
constexpr int SurveyCodedCount = 9;

struct SurveyLists {
  std::string Version = "1.0";
  std::string Message;  // empty: none; line breaks already in place
  std::vector<std::string> Countries;
  std::array<std::vector<std::string>, SurveyCodedCount> Names;
  std::array<std::vector<std::string>, SurveyCodedCount> Codes;
  std::vector<std::string> BrokerNames;
  std::vector<std::string> BrokerCodes;
};

// A comma-separated list, each item trimmed.
std::vector<std::string> SplitSurveyList(const std::string& text);
// The lists from survey.par's lines; missing keys give the defaults ("---" and "-").
SurveyLists ReadSurveyLists(const StringList& params);

struct SurveyAnswers {
  std::string Country;
  std::array<int, SurveyCodedCount> Chosen{};  // item index of each coded question (-1: none)
  std::vector<bool> Brokers;                    // checked, parallel to the broker list
  std::string Zip;
  std::vector<std::pair<int, bool>> Checks;  // tag, checked
  std::vector<std::pair<int, int>> Ratings;  // tag, item index
};

// The code at an index; empty when the code list is shorter than the names.
std::string SurveyCode(const std::vector<std::string>& codes, int index);
// "VER=..&CNTRY=..&GEN=..&...&HOW=..&BRO=c1,c2,&ZIP=..&C11=1&...&Q1=2&...", every value encoded.
std::string BuildSurveyQuery(const SurveyLists& lists, const SurveyAnswers& answers);

// The registry's "SREMIND" value for a day: its whole day number as decimal text.
std::string RemindDayText(TDateTime day);
// The day number that stands for "never again".
constexpr int SurveyNeverDay = 2958465;  // 9999-12-31

// Whether the reminder is due: a survey file exists, no answer is stored and the reminder day
// has come. A missing reminder day is none yet (the caller then sets one).
bool SurveyReminderDue(bool surveyFileExists, const std::string& storedAnswer, const std::string& remindDay, TDateTime today);
