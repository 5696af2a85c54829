#pragma once
// The shared fake site, and a page fetched through the request engine.
#include <string>

#include "common/fake_site.h"

// Fetches a page through the request engine and waits for it; "ERR" on failure.
std::string FetchPage(const std::string& host, const std::string& path);
