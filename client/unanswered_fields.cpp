// The fields of Modifies sent without an answer applied, and their file.
#include "client/unanswered_fields.h"

#include <vector>

#include "client/state_files.h"
#include "client/value_forms.h"
#include "common/base/text.h"

void UnansweredFields::Load(const std::function<long(std::string_view)>& oidOf) {
    fields_.clear();
    for (const std::string& line : ReadLineFile(path_)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        const long oid = oidOf(std::string_view(line).substr(0, tab));
        if (oid <= 0) continue;
        std::set<int> tags;
        for (std::string_view text :
             SplitSkippingEmpty(std::string_view(line).substr(tab + 1), ',')) {
            const long tag = ParseDecimal(text);
            if (tag >= 0 && tag < 64 && std::to_string(tag) == text)
                tags.insert(static_cast<int>(tag));
        }
        if (!tags.empty()) fields_[oid].insert(tags.begin(), tags.end());
    }
}

bool UnansweredFields::Save(const std::function<std::string(long)>& clientIdOf) const {
    std::vector<std::string> lines;
    for (const auto& [oid, tags] : fields_) {
        std::string line = clientIdOf(oid) + "\t";
        bool first = true;
        for (int tag : tags) {
            if (!first) line += ',';
            line += std::to_string(tag);
            first = false;
        }
        lines.push_back(std::move(line));
    }
    return WriteLineFile(path_, lines);
}

void UnansweredFields::Note(long oid, const std::set<int>& tags) {
    if (oid <= 0 || tags.empty()) return;
    fields_[oid].insert(tags.begin(), tags.end());
}

const std::set<int>* UnansweredFields::Of(long oid) const {
    auto found = fields_.find(oid);
    return found == fields_.end() ? nullptr : &found->second;
}
