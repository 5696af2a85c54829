#include "charts/chart_caption.h"

#include "charts/chart_params.h"
#include "core/text_helpers.h"
#include "platform/string_list.h"

std::string ChartCaption(ChartKind kind, const std::string& name, double last, bool portfolioPercent, int period,
                         int customMinutes) {
  std::string caption;
  switch (kind) {
    case ChartKind::Portfolio:
      caption = portfolioPercent ? name + ": " + FixedText(last, 2) + "%" : name + ": $" + FixedText(last, 2);
      break;
    case ChartKind::Index:
      caption = name + ": " + FixedText(last, 2);
      break;
    case ChartKind::Stock:
      caption = name + ": " + FormatPriceFraction(last);
      break;
  }
  return caption + " (" + PeriodText(period, customMinutes) + ")";
}

std::string ChartResearchAddress(const std::string& command, const std::string& symbol) {
  if (command.size() <= 14) return "";
  std::string url = Trim(command.substr(14));
  const size_t p = url.find("##STOCKS##");
  if (p != std::string::npos) url.replace(p, 10, UrlEncodeParam(symbol));
  const std::string low = LowerCase(url.substr(0, 8));
  if (low.rfind("http://", 0) != 0 && low.rfind("https://", 0) != 0) return "";
  if (url.find_first_of("\r\n\t ") != std::string::npos) return "";
  return url;
}
