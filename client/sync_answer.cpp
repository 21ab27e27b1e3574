// Walking the answer of a run: server keys of the device's new items, and store
// items for the device.
#include <set>

#include "client/client_log.h"
#include "client/sync_engine.h"

namespace {

using namespace vantro;

// The folder of the session for an answer Folder's ServerID s and ClientID c.
SyncFolder* LookupFolder(SyncSession& session, const std::string& s, const std::string& c) {
    std::string wanted = s;
    auto mapped = session.folderIdMap.find(s);
    if (mapped != session.folderIdMap.end()) wanted = mapped->second;
    for (auto& folder : session.folders) {
        if (folder->ClientId() == wanted) return folder.get();
    }
    session.folderIdMap[s] = c;
    for (auto& folder : session.folders) {
        if (folder->ClientId() == c) return folder.get();
    }
    return nullptr;
}

class AnswerWalker {
public:
    AnswerWalker(SyncSession& session, std::string_view answer, const std::atomic<bool>* stop)
        : session_(session), stop_(stop) {
        reader_.SetDocument(answer);
    }

    AnswerResult Walk() {
        bool more = true;
        while (more && !result_.stopped) {
            more = reader_.NextEvent(event_);
            switch (event_.EventKind) {
                case kWBXMLStartTag:
                    more = Start() && more;
                    break;
                case kWBXMLContent:
                    Text();
                    break;
                case kWBXMLEndTag:
                    End();
                    break;
                default:
                    more = false;
            }
        }
        // Mappings and items applied before a stop stay known.
        for (SyncFolder* folder : dirty_) folder->SaveIdMap();
        return result_;
    }

private:
    enum class Mode { kNone, kMappings, kStoreChanges };
    struct Open {
        int page, token;
    };

    int Parent(size_t up = 1) const {
        if (stack_.size() <= up) return -1;
        const Open& o = stack_[stack_.size() - 1 - up];
        return o.page == 0 ? o.token : -1;
    }

    // Returns false when the document ended while a COLLECTION was read.
    bool Start() {
        stack_.push_back({event_.codePage, event_.token});
        if (event_.codePage != 0) return true;
        int token = event_.token;
        if (mode_ == Mode::kNone && token == kResponse) {
            mode_ = Mode::kMappings;
            responseDepth_ = stack_.size();
        } else if (mode_ != Mode::kStoreChanges && token == kSync) {
            mode_ = Mode::kStoreChanges;
        } else if (token == kFolder && mode_ != Mode::kNone) {
            folderServerId_.clear();
            folderClientId_.clear();
            folder_ = nullptr;
            lookedUp_ = false;
            folderStopped_ = false;
        } else if (token == kElement && mode_ != Mode::kNone) {
            if (!folder_ && !(mode_ == Mode::kMappings && lookedUp_)) {
                folder_ = LookupFolder(session_, folderServerId_, folderClientId_);
                lookedUp_ = true;
            }
            elementServerId_.clear();
            elementClientId_.clear();
        } else if ((token == kAdd || token == kModify) && mode_ == Mode::kStoreChanges) {
            itemServerId_.clear();
        } else if (token == kCollection && mode_ == Mode::kStoreChanges &&
                   (Parent() == kAdd || Parent() == kModify)) {
            stack_.pop_back();  // the tree reader takes the COLLECTION up to its end
            FieldRecord record;
            bool whole = reader_.BuildTree(record, event_);
            for (const auto& node : record) {
                if (node->codePage == -1)
                    AddLogLineF("Literal without field %s", node->value.c_str());
            }
            if (!whole) return false;  // a cut item is not applied
            ApplyItem(record);
        }
        return true;
    }

    void Text() {
        if (stack_.empty() || stack_.back().page != 0) return;
        int token = stack_.back().token;
        int parent = Parent();
        const std::string& value = event_.value;
        if (parent == kFolder && (token == kServerID || token == kClientID)) {
            (token == kServerID ? folderServerId_ : folderClientId_) = value;
            if (mode_ == Mode::kStoreChanges) {
                folder_ = nullptr;  // a new text forgets the folder found so far
            }
        } else if (parent == kElement && (token == kServerID || token == kClientID)) {
            (token == kServerID ? elementServerId_ : elementClientId_) = value;
        } else if ((parent == kAdd || parent == kModify) && token == kServerID) {
            itemServerId_ = value;
        }
    }

    void End() {
        if (stack_.empty()) return;
        Open closed = stack_.back();
        stack_.pop_back();
        if (closed.page != 0) return;
        if (mode_ == Mode::kMappings) {
            if (closed.token == kElement && folder_) {
                folder_->RecordServerId(elementServerId_, elementClientId_);
                dirty_.insert(folder_);
                ++result_.mappings;
            } else if (closed.token == kFolder && folder_) {
                folder_->SaveIdMap();
                dirty_.erase(folder_);
            } else if (closed.token == kResponse && stack_.size() + 1 == responseDepth_) {
                mode_ = Mode::kNone;
            }
        } else if (mode_ == Mode::kStoreChanges) {
            if (closed.token == kElement && folder_) {
                folder_->SaveIdMap();
                dirty_.erase(folder_);
            } else if (closed.token == kFolder && folder_ && !folderStopped_) {
                AddLogLine("Saving status");
                if (folder_->SaveSnapshot(std::string(), stop_)) ++result_.foldersSaved;
            }
        }
    }

    void ApplyItem(const FieldRecord& record) {
        if (!folder_) return;  // items of a folder that was not found are passed over
        if (stop_ && stop_->load()) {
            result_.stopped = true;
            folderStopped_ = true;
            return;
        }
        auto item = folder_->FindIncomingItem(record, itemServerId_);
        if (!item) return;
        if (!item->ApplyFields(record)) {
            AddLogLineF("Saving %s failed", folder_->KindName().c_str());
            return;
        }
        folder_->RecordServerId(itemServerId_, item->ClientId());
        dirty_.insert(folder_);
        ++result_.itemsApplied;
        AddLogLineF("R %s - %s", folder_->KindName().c_str(), item->MatchKey().c_str());
    }

    SyncSession& session_;
    const std::atomic<bool>* stop_;
    CWBXML reader_;
    CWBXMLEvent event_;
    std::vector<Open> stack_;
    Mode mode_ = Mode::kNone;
    size_t responseDepth_ = 0;
    std::string folderServerId_, folderClientId_, elementServerId_, elementClientId_, itemServerId_;
    SyncFolder* folder_ = nullptr;
    bool lookedUp_ = false;
    bool folderStopped_ = false;
    std::set<SyncFolder*> dirty_;  // id maps changed since they were last saved
    AnswerResult result_;
};

}  // namespace

AnswerResult HandleAnswer(SyncSession& session, std::string_view answer,
                          const std::atomic<bool>* stop) {
    return AnswerWalker(session, answer, stop).Walk();
}
