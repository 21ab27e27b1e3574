// ICredentialCheck: whether a user name and password belong to a registered user.
// The web server asks it for a protected directory whose user name is "*"; the
// users and devices of the server (server/devices/device_list.h) answer it, so the
// web server needs no more of them than this.
//
// Thread use: HasCredentials may be called from any thread at once.
#pragma once

#include <string>

class ICredentialCheck {
public:
    virtual ~ICredentialCheck() = default;
    // True when some registered user has the non-empty name and the password (both
    // compared exactly).
    virtual bool HasCredentials(const std::string& name, const std::string& password) const = 0;
};
