// Reading a server answer into its parts before anything of it is applied, so that
// an answer that is not whole is never applied in part.
//
// The answer: Response sections hold Folder { ClientID, ServerID, Element {
// ClientID, ServerID[, Matched] } ... }: the server's keys of the device's new items
// (Matched "1" when the desktop paired the item with one it already held), or, for
// an item whose save failed, Element { ClientID, ErrorCode }. From the first Sync on,
// every Folder outside a Response is a folder of store changes: Folder { AckString,
// ServerID, FolderPath, Element { Add|Modify { ServerID, COLLECTION } | Delete {
// ServerID } | ReadFlag | Moved } ... }; ReadFlag and Moved are passed over (the
// handheld has no mail and one folder per kind). A text of ServerID or ClientID
// inside a Folder names the folder (the last one counts).
//
// Whole: the document has its four header bytes, every element is closed, no token
// is cut and no element nests deeper than the codec follows.
//
// Pure; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "client/sync_item.h"

struct AnswerMapping {
    std::string clientId;
    std::string serverId;   // empty when the server reported an error
    std::string errorCode;  // not empty: the item was not stored
    bool matched = false;   // Matched "1": the desktop took it for an item it held
};

struct AnswerMappingFolder {
    std::string serverId, clientId;
    std::vector<AnswerMapping> mappings;
};

struct AnswerChange {
    int change = 0;  // vantro::kAdd, kModify or kDelete
    std::string serverId;
    FieldRecord record;  // empty for a Delete
};

struct AnswerChangeFolder {
    std::string serverId, clientId;
    std::vector<std::string> ackStrings;
    std::vector<AnswerChange> changes;
};

struct ParsedAnswer {
    bool whole = false;
    std::vector<AnswerMappingFolder> mappingFolders;
    std::vector<AnswerChangeFolder> changeFolders;
    std::vector<std::string> strayTexts;  // texts inside COLLECTION outside any field
};

ParsedAnswer ParseAnswer(std::string_view document);
