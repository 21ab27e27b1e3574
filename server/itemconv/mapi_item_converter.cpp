#include "server/itemconv/mapi_item_converter.h"

#include "server/config/pocket_device.h"
#include "server/itemconv/item_matching.h"
#include "server/itemconv/item_reader.h"
#include "server/itemconv/item_writer.h"
#include "server/store/mapi_folder.h"
#include "server/store/mapi_message.h"

bool CMapiItemConverter::MessageToXML(CMobileMapiMessage& message, CWBXML& writer,
                                      bool withContent) {
    if (!message.Message()) return false;
    CItemWriteContext context;
    if (CMobileMapiFolder* folder = message.Folder()) {
        context.folderName = folder->GetName();
        if (CPocketDevice* device = folder->Device()) {
            context.deviceId = device->DeviceID;
            context.userName = device->Name;
        }
    }
    context.includeHeaders = message.TransportHeaders() != 0;
    context.wholeBody = withContent;
    context.zone = zone_;
    return ::MessageToXML(message.Message(), writer, context);
}

bool CMapiItemConverter::XMLtoMessage(CMobileMapiMessage& message, const CWBXMLLiterals& fields) {
    if (!message.Message()) return false;
    std::string refused;
    bool saved =
        ::XMLtoMessage(message.Message(), fields, zone_, &refused) == ItemApplyResult::kSaved;
    message.SetRefusedPart(std::move(refused));
    return saved;
}

std::unique_ptr<CMobileMapiMessage> CMapiItemConverter::FindOrCreateItem(
    CMobileMapiFolder& folder, const CWBXMLLiterals& fields, const std::string& className) {
    if (!folder.MapiFolder()) return nullptr;
    IMessagePtr item = ::FindOrCreateItem(folder.MapiFolder(), fields, className);
    if (!item) return nullptr;
    return std::make_unique<CMobileMapiMessage>(&folder, std::move(item));
}
