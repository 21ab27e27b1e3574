// The two keys an item has in a sync: the handheld's ClientID and the desktop's
// server key.
//
// ClientID: the item's object identifier in decimal, "@" and the identity of the
// handheld PIM store that holds it ("12@8F0C2A44D1E3B907"), so a recreated store
// never reuses the keys of the old one. State files of older versions hold the
// object identifier alone; such a ClientID belongs to no store in particular and is
// taken for the current one.
//
// Server key: the desktop's entry identifier as upper-case hexadecimal text, at
// most kMaxServerKeyLength characters. Nothing else is ever written into an id map:
// an answer naming an item by any other text is refused whole.
//
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

constexpr size_t kMaxServerKeyLength = 256;
constexpr size_t kMaxClientIdLength = 64;

// "<oid>@<store>", or the object identifier alone when store is empty.
std::string MakeClientId(long oid, std::string_view store);

// Splits a ClientID: decimal object identifier (1 to 10 digits, above 0), then
// optionally "@" and the store identity. False for any other text (longer than
// kMaxClientIdLength included).
bool ParseClientId(std::string_view text, long& oid, std::string& store);

// True for 1 to kMaxServerKeyLength upper-case hexadecimal digits.
bool IsWellFormedServerKey(std::string_view key);
