// Attachment downloads.
#include "server/vantro/attachment_request.h"

#include <vector>

#include "common/base/text.h"
#include "common/http/html_answer.h"
#include "server/config/live_trace.h"
#include "server/devices/device_list.h"
#include "server/http/basic_authorize.h"
#include "server/http/web_answers.h"
#include "server/mapi/mapi_exception.h"
#include "server/mapi/mapi_item_ptrs.h"
#include "server/mapi/mapi_query.h"
#include "server/mapi/mapi_status_calls.h"
#include "server/mapi/mapi_table_ptr.h"
#include "server/store/offered_folders.h"

namespace {

// The attachment's bytes as a stream at its start, and their count; null when the
// message has no attachment of that name.
CMapiRef<IStream> OpenAttachmentData(IMessage* raw, const std::string& name, uint64_t& size) {
    IMessagePtr message(CMapiRef<IMessage>::Share(raw));
    IMAPITablePtr table = message.GetAttachmentTable();
    CRowSet rows = table.QueryAllRows(CPropTagArray{PR_ATTACH_NUM, PR_ATTACH_LONG_FILENAME});
    for (ULONG i = 0; i < rows.Count(); ++i) {
        if (!EqualsIgnoringCase(CRowSet::Text(rows[i], PR_ATTACH_LONG_FILENAME), name)) continue;
        IAttachPtr attach =
            message.OpenAttach(static_cast<ULONG>(CRowSet::Long(rows[i], PR_ATTACH_NUM)));
        IUnknown* unknown = nullptr;
        HRESULT hr = attach.Get()->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, 0, &unknown);
        if (FAILED(hr) || unknown == nullptr)
            throw CMAPIException(FAILED(hr) ? hr : MAPI_E_NOT_FOUND, "OpenAttachmentData");
        CMapiRef<IUnknown> held = CMapiRef<IUnknown>::Adopt(unknown);
        CMapiRef<IStream> stream = MapiQueryAs<IStream>(held.Get(), "OpenAttachmentData");
        STATSTG stat{};
        hr = stream->Stat(&stat, STATFLAG_NONAME);
        if (FAILED(hr)) throw CMAPIException(hr, "OpenAttachmentData");
        size = stat.cbSize.QuadPart;
        return stream;
    }
    return CMapiRef<IStream>();
}

}  // namespace

bool ParseAttachmentLink(const std::string& url, CAttachmentLink& link) {
    std::string path = url.substr(0, url.find('?'));
    size_t start = path.find("OutlookAttachments");
    if (start == std::string::npos) return false;
    path = path.substr(start + std::string("OutlookAttachments").size());
    if (path.empty() || path[0] != '/') return false;
    path.erase(0, 1);
    size_t first = path.find('/');
    if (first == std::string::npos) return false;
    size_t second = path.find('/', first + 1);
    if (second == std::string::npos) return false;
    link.folder = path.substr(0, first);
    std::string item = path.substr(first + 1, second - first - 1);
    std::string name = path.substr(second + 1);
    name = name.substr(0, name.find('/'));
    if (link.folder.empty() || item.empty() || name.empty()) return false;
    link.entryId = item.substr(0, item.find('.'));
    link.attachmentName = PercentDecode(name);
    return true;
}

CAttachmentDownload PrepareAttachmentDownload(CDeviceList& devices, const CHTMLCommand& request) {
    CAttachmentDownload download;
    try {
        std::string userName = request.GetParameter("username");
        std::string deviceId = request.GetParameter("device");
        std::shared_ptr<CPocketDevice> device = devices.FindExistingDevice(deviceId);
        if (!device) return download;
        // The console may change a record's configuration at any time: one snapshot.
        std::shared_ptr<const CDeviceConfig> config = device->Config();
        const std::string& name = config->Name;
        const std::string& password = config->Passwort;
        if (name.empty() || name != userName) return download;
        if (!BasicAuthorize(request, name, password, &devices)) {
            download.refusal = UnauthorizedAnswer(kAttachmentRealm);
            return download;
        }
        CAttachmentLink link;
        if (!ParseAttachmentLink(request.URL(), link)) return download;
        // The record's session and folders are the protocol side's, which the
        // caller holds (one request at a time).
        CMapiRef<IMessage> message = device->OpenMessage(link.entryId);
        if (!message) return download;
        bool offered =
            IsFolderOffered(*device, GetBinaryProperty(message.Get(), PR_PARENT_ENTRYID));
        if (!offered) {
            AddLiveTraceF("Attachment refused: item %s is not in a folder of device %s",
                          link.entryId.c_str(), deviceId.c_str());
            return download;
        }
        download.knownMessage = true;
        download.data = OpenAttachmentData(message.Get(), link.attachmentName, download.size);
    } catch (const CMAPIException&) {
        download.data.Reset();
        download.size = 0;
    } catch (const std::exception&) {
        download.data.Reset();
        download.size = 0;
    }
    return download;
}

bool SendAttachmentDownload(CAttachmentDownload& download, IAnswerStream& out, size_t pieceBytes) {
    if (!download.refusal.empty()) return out.Write(download.refusal);
    if (!download.data) return true;
    CHTMLAnswer answer(download.date);
    answer.SetContentType("application/binary");
    if (!out.Write(StreamedAnswerHeader(answer, download.size))) return false;
    if (pieceBytes == 0) pieceBytes = kAttachmentPieceBytes;
    std::vector<char> piece(pieceBytes);
    uint64_t left = download.size;
    while (left > 0) {
        ULONG want = static_cast<ULONG>(std::min<uint64_t>(left, piece.size()));
        ULONG got = 0;
        HRESULT hr = download.data->Read(piece.data(), want, &got);
        if (FAILED(hr) || got == 0 || got > want) {
            AddLiveTraceF("Attachment stream ended after %llu of %llu bytes",
                          static_cast<unsigned long long>(download.size - left),
                          static_cast<unsigned long long>(download.size));
            return false;
        }
        if (!out.Write(std::string_view(piece.data(), got))) return false;
        left -= got;
    }
    return true;
}

bool HandleAttachmentRequest(CDeviceList& devices, const CHTMLCommand& request,
                             IAnswerStream& out) {
    CAttachmentDownload download = PrepareAttachmentDownload(devices, request);
    SendAttachmentDownload(download, out);
    return download.knownMessage;
}
