#pragma once
// The one cookie store of all requests, kept as "cookies.txt" in the program folder
// (one cookie a line, in the tab-separated format libcurl reads and writes).
#include <string>

// Attaches a libcurl easy handle to the shared store (cookies, name look-ups and TLS sessions).
// The store is loaded from the program folder on first use.
void AttachCookieStore(void* easyHandle);
// Marks the store changed; SaveCookieStore writes it only then.
void MarkCookiesChanged();
void SaveCookieStore();
// Forgets every cookie in memory and on disk.
void ClearCookieStore();
// The file of the store.
std::string CookieStorePath();
