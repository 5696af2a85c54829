#pragma once
// The one cookie store of all requests, kept as "cookies.txt" in the program folder
// (one cookie a line, in the tab-separated format libcurl reads and writes).
#include <string>

// Loads the store from the program folder, at start: a file that cannot be read, or is no plain
// file, is moved aside; one with lines that are no cookies (or cut) has its bytes copied aside;
// each is a user notice. One that could be kept neither way is never written. Every write
// gives the file mode 0600 (it holds site logins).
void OpenCookieStore();
// Attaches a libcurl easy handle to the shared store (cookies, name look-ups and TLS sessions);
// the store is opened first if it was not.
void AttachCookieStore(void* easyHandle);
// Marks the store changed; SaveCookieStore writes it only then.
void MarkCookiesChanged();
void SaveCookieStore();
// Forgets every cookie in memory and on disk.
void ClearCookieStore();
// The file of the store.
std::string CookieStorePath();
