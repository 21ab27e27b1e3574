// A JSON string literal for the --json output of corvel's commands: quotes
// included, '"' and '\' escaped, control characters as \u00XX; other bytes as
// they are (the texts are UTF-8).
#pragma once

#include <string>

std::string JsonText(const std::string& text);
