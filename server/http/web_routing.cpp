// Routing of requests: Vantro, attachments, web files, forwarding.
#include "server/http/web_routing.h"

#include "server/config/live_trace.h"
#include "server/http/basic_authorize.h"
#include "server/http/content_types.h"
#include "server/http/forwarding.h"
#include "server/http/socket_util.h"
#include "server/http/web_answers.h"
#include "server/http/web_files.h"
#include "server/http/web_path.h"

namespace {

std::mutex& HandlersLock() {
    static std::mutex lock;
    return lock;
}

std::shared_ptr<IProtocolHandlers>& Handlers() {
    static std::shared_ptr<IProtocolHandlers> handlers;
    return handlers;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool IsAttachmentPath(std::string_view clean) { return StartsWith(clean, "/OutlookAttachments"); }

// The live trace line of a request that gets no answer, and why.
void NoAnswer(const CHTMLCommand& request, const std::string& reason) {
    AddLiveTrace("No answer to " + request.Method() + " " + request.URL() + ": " + reason);
}

void RefusedOverPlainHttp(const CHTMLCommand& request) {
    AddLiveTrace("Refused over plain HTTP (RequireTls): " + request.Method() + " " + request.URL());
}

// The folders on disk of the protected directories other than the matched one: a
// file that resolves into one of them (reached through the base folder, another
// directory or a link) is not served without that directory's own check.
std::vector<std::string> ProtectedFoldersBesides(
    const std::map<std::string, CWebDirectory>& directories, const CWebMapping& mapping) {
    std::vector<std::string> folders;
    for (const auto& [key, record] : directories) {
        if (record.Username.empty() || record.URL.empty()) continue;
        if (StartsWith(record.URL, "http://")) continue;
        if (mapping.matched && key == mapping.record.Directory) continue;
        folders.push_back(record.URL);
    }
    return folders;
}

}  // namespace

void SetProtocolHandlers(std::shared_ptr<IProtocolHandlers> handlers) {
    std::lock_guard<std::mutex> lock(HandlersLock());
    Handlers() = std::move(handlers);
}

std::shared_ptr<IProtocolHandlers> GetProtocolHandlers() {
    std::lock_guard<std::mutex> lock(HandlersLock());
    return Handlers();
}

void IProtocolHandlers::BetweenRequests(Settings& settings, std::function<void(Settings&)> change) {
    change(settings);
}

bool IsVantroRequest(const CHTMLCommand& request) {
    std::string contentType = request.GetHeader("Content-Type");
    if (contentType.empty()) contentType = request.GetHeader("ContentType");
    return request.URL() == "vantro" || contentType == "application/vantro";
}

CWebMapping MapToVirtualDirectory(const std::map<std::string, CWebDirectory>& directories,
                                  const std::string& cleanPath) {
    CWebMapping mapping;
    std::string path = StartsWith(cleanPath, "/") ? cleanPath.substr(1) : cleanPath;
    mapping.remaining = cleanPath;
    for (const auto& [key, record] : directories) {
        // A name written with a leading "/" claims the same path as without it.
        std::string name = key.substr(std::min(key.find_first_not_of("/\\"), key.size()));
        if (!StartsWith(path, name)) continue;
        mapping.matched = true;
        mapping.record = record;
        mapping.name = name;
        mapping.remaining = path.substr(name.size());
        break;
    }
    return mapping;
}

void RouteRequest(int socket, Settings& settings, const CHTMLCommand& request,
                  std::string_view raw) {
    CSocketAnswerStream out(socket);
    RouteRequest(out, settings, request, raw);
}

void RouteRequest(IAnswerStream& out, Settings& settings, const CHTMLCommand& request,
                  std::string_view raw, bool overTls, const ICredentialCheck* users) {
    std::shared_ptr<IProtocolHandlers> handlers = GetProtocolHandlers();
    // Decoded once and normalised before any route is chosen by it.
    std::optional<std::string> clean = CleanRequestPath(request.URL());
    bool attachment = clean && IsAttachmentPath(*clean);
    bool vantro = IsVantroRequest(request);
    // Passwords travel only encrypted: the plain listener takes none.
    bool credentialsRefused = !overTls && settings.RequireTls();
    if (credentialsRefused && (vantro || attachment)) {
        RefusedOverPlainHttp(request);
        out.Write(vantro ? RefusedLogonAnswer() : UnauthorizedAnswer(kAttachmentRealm));
        return;
    }
    if (handlers && (vantro || attachment)) handlers->EnsureSession(settings);

    if (vantro && handlers) {
        CDataString answer;
        if (handlers->HandleVantroRequest(settings, request, answer)) {
            out.Write(answer.View());
            return;  // one answer per connection
        }
    }
    if (attachment) {
        // The handler reads the link as it came; only the form the server writes
        // its links in is taken, so what it reads is what was routed.
        if (!handlers || !IsNormalRequestPath(request.URL())) {
            NoAnswer(request, handlers ? "not an attachment link in the form the server writes"
                                       : "the protocol server is not running");
            return;
        }
        handlers->HandleAttachmentRequest(settings, request, out);
        return;
    }
    if (request.MethodCode() != CHTMLCommand::kGet) {
        if (!vantro) NoAnswer(request, "only GET, Vantro and attachment requests are answered");
        return;
    }
    if (!clean) {
        NoAnswer(request, "not allowed: the path holds \"..\" or a NUL");
        return;
    }

    std::map<std::string, CWebDirectory> directories = settings.WebDirectories();
    CWebMapping mapping = MapToVirtualDirectory(directories, *clean);
    std::string root = settings.WebBaseDir();
    if (mapping.matched) {
        if (!mapping.record.Username.empty() && credentialsRefused) {
            RefusedOverPlainHttp(request);
            out.Write(UnauthorizedAnswer(mapping.record.Realm));
            return;
        }
        if (!mapping.record.Username.empty() &&
            !BasicAuthorize(request, mapping.record.Username, mapping.record.Password, users)) {
            out.Write(UnauthorizedAnswer(mapping.record.Realm));
            return;
        }
        if (StartsWith(mapping.record.URL, "http://")) {
            ForwardRequest(out, settings, mapping.record.URL, mapping.name, mapping.remaining, raw);
            return;
        }
        root = mapping.record.URL;
    }
    CFileRequest file;
    file.root = root;
    file.remainingUrl = mapping.remaining;
    file.name = mapping.name;
    file.linkBase = *clean;
    file.contentType = ContentTypeForUrl(*clean);
    file.excludedRoots = ProtectedFoldersBesides(directories, mapping);
    std::string reason;
    if (!ServeFileRequest(out, file, &reason) && !reason.empty()) NoAnswer(request, reason);
}
