#pragma once
// Cookies that the built-in browser received, handed to the request engine's cookie store so
// that a login done in the browser serves the engine's later requests.
#include <string>
#include <vector>

// Adds cookies given as lines of the Netscape cookie format (seven tab-separated fields,
// "#HttpOnly_" allowed before the domain). Returns how many lines were well formed.
int AddEngineCookies(const std::vector<std::string>& netscapeLines);
