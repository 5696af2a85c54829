#pragma once
// Message boxes of the small dialogs; tests answer in their place.
#include <functional>
#include <string>

class QWidget;

// Shows an information box; replaced by tests.
extern std::function<void(QWidget* parent, const std::string& text, const std::string& caption)> DialogMessage;
