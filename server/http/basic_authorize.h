// BasicAuthorize: whether a request carries acceptable HTTP Basic credentials for
// one virtual directory.
//
// A directory without a user name lets everything through. Otherwise the request's
// "Authorization" value must begin with "Basic " (any case) followed by base64 of
// "user:password"; a "domain\" before the user is dropped. With the user name "*" the
// credentials count when users has them (ICredentialCheck; none: nobody counts);
// otherwise the user must equal the directory's user name ignoring case and the
// password its password exactly.
// Every missing or malformed credential refuses; nothing is logged.
//
// Thread use: any thread (users must answer from any thread).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/http/html_command.h"
#include "server/config/credential_check.h"

bool BasicAuthorize(const CHTMLCommand& request, const std::string& username,
                    const std::string& password, const ICredentialCheck* users);

// Standard base64 with "=" padding, in groups of four characters; characters after
// the last whole group are ignored, and a leading "+ " is skipped. None when a group
// holds a character outside the alphabet or padding in the wrong place.
std::optional<std::string> DecodeBase64(std::string_view text);
