// The names of the store's profiles, in the order the profile table lists them.
#pragma once

#include <string>
#include <vector>

#include "platform/mapi/mapi.h"

// S_OK with names filled, or the failing call's code (names then empty).
HRESULT ReadProfileNames(std::vector<std::string>& names);
