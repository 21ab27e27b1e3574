#include "common/base/version.h"

#ifndef CORVEL_PROJECT_VERSION
#error "the build passes CORVEL_PROJECT_VERSION"
#endif

std::string_view ProductVersion() { return CORVEL_PROJECT_VERSION; }

std::string VersionText() { return "Corvel Version " + std::string(ProductVersion()); }
