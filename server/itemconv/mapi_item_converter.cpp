#include "server/itemconv/mapi_item_converter.h"

#include "server/config/live_trace.h"
#include "server/devices/pocket_device.h"
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
            context.deviceId = device->Config()->DeviceID;
            context.userName = device->Config()->Name;
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
    CMobileMapiFolder& folder, const CWBXMLLiterals& fields, const std::string& className,
    const CTwinSearch* twins, bool* matched) {
    if (matched != nullptr) *matched = false;
    if (!folder.MapiFolder()) return nullptr;
    try {
        IMessagePtr item;
        if (twins != nullptr) {
            std::function<bool(const std::string&)> eligible =
                twins->eligible ? twins->eligible : [](const std::string&) { return true; };
            CByteBuffer twin = FindTwin(folder.MapiFolder(), fields, className, eligible);
            if (!twin.Empty()) {
                item = folder.MapiFolder().OpenMessage(twin, MAPI_BEST_ACCESS);
                if (matched != nullptr) *matched = true;
            }
        }
        if (!item) item = CreateItem(folder.MapiFolder(), className);
        return std::make_unique<CMobileMapiMessage>(&folder, std::move(item));
    } catch (const CMAPIException& e) {
        AddLiveTraceF("FindOrCreateItem: %s", e.what());
        return nullptr;
    }
}
