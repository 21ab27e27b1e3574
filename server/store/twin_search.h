// CTwinSearch: how an item a device adds may be paired by its name with an item
// the folder holds already (twins of a first sync): only with an item eligible
// accepts, and only by a name that is not empty (the server's rules per kind).
//
// Plain value; the function is called on the request thread.
#pragma once

#include <functional>
#include <string>

struct CTwinSearch {
    // True for the key of an item that may be paired.
    std::function<bool(const std::string& itemKey)> eligible;
};
