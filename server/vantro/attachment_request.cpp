// Attachment downloads.
#include "server/vantro/attachment_request.h"

#include "common/http/html_answer.h"
#include "server/config/live_trace.h"
#include "server/config/settings.h"
#include "server/http/basic_authorize.h"
#include "server/http/web_answers.h"
#include "server/mapi/mapi_exception.h"
#include "server/mapi/mapi_item_ptrs.h"
#include "server/mapi/mapi_table_ptr.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (std::tolower(x) != std::tolower(y)) return false;
    }
    return true;
}

}  // namespace

std::string DecodePercent(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

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
    link.attachmentName = DecodePercent(name);
    return true;
}

bool HandleAttachmentRequest(Settings& settings, const CHTMLCommand& request, CDataString& answer) {
    answer.Reset();
    std::string userName = request.GetParameter("username");
    std::string deviceId = request.GetParameter("device");
    std::shared_ptr<CPocketDevice> device = settings.Devices().FindExistingDevice(deviceId);
    if (!device || device->Name.empty() || device->Name != userName) return false;
    if (!BasicAuthorize(request, device->Name, device->Passwort, settings.Devices())) {
        answer.AppendText(UnauthorizedAnswer(kAttachmentRealm));
        return false;
    }
    CAttachmentLink link;
    if (!ParseAttachmentLink(request.URL(), link)) return false;
    MapiShared<IMessage> raw = device->OpenMessage(link.entryId);
    if (!raw) return false;
    try {
        IMessagePtr message(CMapiRef<IMessage>::Share(raw.get()));
        IMAPITablePtr table = message.GetAttachmentTable();
        CRowSet rows = table.QueryAllRows(CPropTagArray{PR_ATTACH_NUM, PR_ATTACH_LONG_FILENAME});
        for (ULONG i = 0; i < rows.Count(); ++i) {
            if (!EqualIgnoringCase(CRowSet::Text(rows[i], PR_ATTACH_LONG_FILENAME), link.attachmentName)) {
                continue;
            }
            IAttachPtr attach = message.OpenAttach(static_cast<ULONG>(CRowSet::Long(rows[i], PR_ATTACH_NUM)));
            CByteBuffer data = attach.GetBinaryProp(PR_ATTACH_DATA_BIN);
            CHTMLAnswer http;
            http.SetContentType("application/binary");
            http.Body().AppendBytes(data.Size(), data.Data());
            http.Serialize(answer);
            break;
        }
    } catch (const CMAPIException&) {
        answer.Reset();
    }
    return true;
}
