// CItemConverter: the item conversion the store layer hands its items to (writing an
// item into the answer, applying a received item, matching an added item against
// the folder). The conversion library implements it and the program installs it in
// the session (CMobileMapiSession::SetItemConverter); without one, the three
// operations report that the conversion is not available.
//
// Thread use: called from the request thread; an implementation keeps no per-call
// state of its own.
#pragma once

#include <memory>
#include <string>

#include "server/store/twin_search.h"

class CMobileMapiFolder;
class CMobileMapiMessage;
class CWBXML;
class CWBXMLLiterals;

class CItemConverter {
public:
    virtual ~CItemConverter() = default;

    // Writes message as an item element into writer; false when its class has no
    // item kind (nothing written).
    virtual bool MessageToXML(CMobileMapiMessage& message, CWBXML& writer, bool withContent) = 0;
    // Applies the element tree to message and saves it.
    virtual bool XMLtoMessage(CMobileMapiMessage& message, const CWBXMLLiterals& fields) = 0;
    // With twins, the item of folder that the added element matches by name among
    // those twins accepts, opened for writing (matched set); otherwise a new item.
    // None on a store error.
    virtual std::unique_ptr<CMobileMapiMessage> FindOrCreateItem(CMobileMapiFolder& folder,
                                                                 const CWBXMLLiterals& fields,
                                                                 const std::string& className,
                                                                 const CTwinSearch* twins,
                                                                 bool* matched) = 0;
};
