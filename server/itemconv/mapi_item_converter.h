// CMapiItemConverter: the item conversion as the store layer calls it
// (CItemConverter of server/store/item_converter.h). The program installs one in
// the session: session.SetItemConverter(std::make_shared<CMapiItemConverter>()).
//
// Keeps no state; one object may serve every request thread.
#pragma once

#include "server/itemconv/time_zone.h"
#include "server/store/item_converter.h"

class CMapiItemConverter : public CItemConverter {
public:
    // zone: the zone item dates are shown in (null: the server's zone); must
    // outlive the converter.
    explicit CMapiItemConverter(const CTimeZone* zone = nullptr) : zone_(zone) {}

    // MessageToXML of item_writer.h with the item's folder name, the folder's
    // device ID and user name for the download links, and the element's
    // include-headers flag.
    bool MessageToXML(CMobileMapiMessage& message, CWBXML& writer, bool withContent) override;
    // XMLtoMessage of item_reader.h; true only when the item was saved (an item
    // whose fields stored nothing, or whose save failed, gives false, so that no
    // key is reported for an item that does not exist). A part refused while the
    // rest was saved is noted on the message (SetRefusedPart).
    bool XMLtoMessage(CMobileMapiMessage& message, const CWBXMLLiterals& fields) override;
    // With twins, FindTwin of item_matching.h (the twins' filter) opened for
    // writing; otherwise, or without a twin, CreateItem; wrapped for the folder.
    // None on a store error (traced "FindOrCreateItem: %s") or for a folder that
    // is not open.
    std::unique_ptr<CMobileMapiMessage> FindOrCreateItem(CMobileMapiFolder& folder,
                                                         const CWBXMLLiterals& fields,
                                                         const std::string& className,
                                                         const CTwinSearch* twins,
                                                         bool* matched) override;

private:
    const CTimeZone* zone_;
};
