#pragma once
// Passwords kept in the settings file are stored scrambled, so that they do not stand there in
// clear text. This is not encryption: anyone with the program can read them back.
#include <string>
#include <string_view>

// "~" followed by hex digits; an empty password stays empty.
std::string ScramblePassword(std::string_view clear);
// Reads a scrambled text back; a text without the mark is taken as it stands (older files).
std::string UnscramblePassword(std::string_view stored);
