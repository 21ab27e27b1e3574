// The product's version, as the build names it (the project version in
// CMakeLists.txt).
#pragma once

#include <string>
#include <string_view>

// "0.90".
std::string_view ProductVersion();
// "Corvel Version 0.90": --version, the headless banner and the about box.
std::string VersionText();
