// BasicAuthorize: whether a request carries acceptable HTTP Basic credentials for
// one virtual directory.
//
// A directory without a user name lets everything through. Otherwise the request's
// "Authorization" value must begin with "Basic " (any case) followed by base64 of
// "user:password"; a "domain\" before the user is dropped. With the user name "*" any
// registered user counts whose Name and Passwort equal the credentials exactly
// (records with an empty Name never count); otherwise the user must equal the
// directory's user name ignoring case and the password its password exactly.
// Every missing or malformed credential refuses; nothing is logged.
//
// Thread use: any thread; the user list is read under its own lock.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/http/html_command.h"
#include "server/devices/device_list.h"

bool BasicAuthorize(const CHTMLCommand& request, const std::string& username,
                    const std::string& password, const CDeviceList& users);

// Standard base64 with "=" padding, in groups of four characters; characters after
// the last whole group are ignored, and a leading "+ " is skipped. None when a group
// holds a character outside the alphabet or padding in the wrong place.
std::optional<std::string> DecodeBase64(std::string_view text);
