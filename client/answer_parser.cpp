// Reading an answer into mappings and store changes.
#include "client/answer_parser.h"

#include "client/value_forms.h"

namespace {

using namespace vantro;

class AnswerReader {
public:
    explicit AnswerReader(std::string_view document) : size_(document.size()) {
        reader_.SetDocument(document);
    }

    ParsedAnswer Read() {
        if (size_ < CWBXML::kHeaderSize) return std::move(answer_);
        bool whole = true;
        bool more = !reader_.ReaderAtEnd();  // a header alone is a whole, empty answer
        while (more) {
            more = reader_.NextEvent(event_);
            if (event_.EventKind == kWBXMLNoEvent) {
                whole = false;  // a cut token was left
                break;
            }
            if (event_.EventKind == kWBXMLStartTag) {
                if (!Start()) {
                    whole = false;
                    break;
                }
            } else if (event_.EventKind == kWBXMLContent) {
                Text();
            } else if (event_.EventKind == kWBXMLEndTag) {
                if (stack_.empty()) {
                    whole = false;  // an end without an open element
                    break;
                }
                End();
            }
        }
        answer_.whole = whole && stack_.empty();
        return std::move(answer_);
    }

private:
    struct Open {
        int page, token;
    };

    // The page-0 token of the element `up` levels above the innermost one; -1 when
    // there is none or it is on another page.
    int Parent(size_t up = 1) const {
        if (stack_.size() <= up) return -1;
        const Open& o = stack_[stack_.size() - 1 - up];
        return o.page == 0 ? o.token : -1;
    }

    bool InChangeFolder() const { return changeFolder_ != nullptr; }

    // False when the document ended inside a COLLECTION.
    bool Start() {
        stack_.push_back({event_.codePage, event_.token});
        if (event_.codePage != 0) return true;
        int token = event_.token;
        if (token == kResponse && responseDepth_ == 0) {
            responseDepth_ = stack_.size();
        } else if (token == kSync) {
            storeChanges_ = true;
        } else if (token == kFolder && responseDepth_ != 0) {
            answer_.mappingFolders.emplace_back();
            mappingFolder_ = &answer_.mappingFolders.back();
            changeFolder_ = nullptr;
            change_ = nullptr;
        } else if (token == kFolder && storeChanges_) {
            answer_.changeFolders.emplace_back();
            changeFolder_ = &answer_.changeFolders.back();
            mappingFolder_ = nullptr;
            change_ = nullptr;
        } else if (token == kElement && mappingFolder_ && Parent() == kFolder) {
            mappingFolder_->mappings.emplace_back();
        } else if ((token == kAdd || token == kModify || token == kDelete) && InChangeFolder() &&
                   Parent() == kElement) {
            changeFolder_->changes.emplace_back();
            changeFolder_->changes.back().change = token;
            change_ = &changeFolder_->changes.back();
        } else if (token == kCollection && change_ && change_->change != kDelete &&
                   (Parent() == kAdd || Parent() == kModify)) {
            stack_.pop_back();  // the tree reader takes the COLLECTION up to its end
            FieldRecord record;
            bool whole = reader_.BuildTree(record, event_);
            for (const auto& node : record) {
                if (node->codePage == -1) answer_.strayTexts.push_back(node->value);
            }
            if (!whole) return false;
            change_->record = std::move(record);
        }
        return true;
    }

    void Text() {
        if (stack_.empty() || stack_.back().page != 0) return;
        int token = stack_.back().token;
        int parent = Parent();
        const std::string& value = event_.value;
        if (parent == kFolder) {
            std::string* serverId = nullptr;
            std::string* clientId = nullptr;
            if (mappingFolder_) {
                serverId = &mappingFolder_->serverId;
                clientId = &mappingFolder_->clientId;
            } else if (changeFolder_) {
                serverId = &changeFolder_->serverId;
                clientId = &changeFolder_->clientId;
                if (token == kAckString) changeFolder_->ackStrings.push_back(value);
            }
            if (token == kServerID && serverId) *serverId = value;
            if (token == kClientID && clientId) *clientId = value;
        } else if (parent == kElement && mappingFolder_ && !mappingFolder_->mappings.empty()) {
            AnswerMapping& m = mappingFolder_->mappings.back();
            if (token == kServerID) m.serverId = value;
            if (token == kClientID) m.clientId = value;
            if (token == kErrorCode) m.errorCode = value.empty() ? "?" : value;
            if (token == kMatched) m.matched = ParseDecimal(value) != 0;
        } else if ((parent == kAdd || parent == kModify || parent == kDelete) && change_ &&
                   token == kServerID) {
            change_->serverId = value;
        }
    }

    void End() {
        Open closed = stack_.back();
        stack_.pop_back();
        if (closed.page != 0) return;
        if (closed.token == kResponse && stack_.size() + 1 == responseDepth_) {
            responseDepth_ = 0;
            mappingFolder_ = nullptr;
        } else if (closed.token == kFolder) {
            mappingFolder_ = nullptr;
            changeFolder_ = nullptr;
            change_ = nullptr;
        } else if (closed.token == kAdd || closed.token == kModify || closed.token == kDelete) {
            change_ = nullptr;
        }
    }

    size_t size_;
    CWBXML reader_;
    CWBXMLEvent event_;
    std::vector<Open> stack_;
    ParsedAnswer answer_;
    size_t responseDepth_ = 0;
    bool storeChanges_ = false;
    AnswerMappingFolder* mappingFolder_ = nullptr;
    AnswerChangeFolder* changeFolder_ = nullptr;
    AnswerChange* change_ = nullptr;
};

}  // namespace

ParsedAnswer ParseAnswer(std::string_view document) { return AnswerReader(document).Read(); }
