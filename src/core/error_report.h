#pragma once
// The error dialog for unexpected errors.
#include <functional>
#include <string>

// The internet library's version, shown in the report (set by the request engine).
extern std::string InternetLibraryVersion;

// Shows the error report modally, unless reports are suppressed (then it only logs).
void ShowErrorReport(const std::string& message, const std::string& position);
// The text the dialog shows, line by line.
std::string ErrorReportText(const std::string& message, const std::string& position);
// Tests and tools suppress the dialog; a handler sees each report instead.
void SuppressErrorDialogs(bool suppress);
void SetErrorReportHandler(std::function<void(const std::string& message, const std::string& position)> handler);
