// help.inf reader and writer.
#include "server/config/help_texts.h"

#include "common/base/atomic_file.h"
#include "server/config/text_file.h"

void CHelpTexts::Load(const std::string& path) {
    std::map<std::string, std::string> texts;
    CLineReader reader(path);
    std::string line;
    bool open = false;
    std::string key;
    std::string closingTag;
    std::string text;
    while (reader.Next(line)) {
        if (open && line.compare(0, closingTag.size(), closingTag) == 0) {
            texts[key] = text;
            open = false;
            key.clear();
            closingTag.clear();
            text.clear();
        } else if (!line.empty() && line[0] == '<') {
            // Text gathered before an opening tag stays and joins this entry.
            std::string_view rest = StripLineEnd(line);
            rest.remove_prefix(1);
            key.assign(rest.substr(0, rest.find('>')));
            closingTag = "</" + key + ">";
            open = true;
        } else {
            text += line;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    texts_ = std::move(texts);
}

std::string CHelpTexts::Serialize() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    for (const auto& [key, text] : texts_) {
        out += "<" + key + ">\n";
        out += text;
        if (text.empty() || text.back() != '\n') out += "\n";
        out += "</" + key + ">\n";
    }
    return out;
}

bool CHelpTexts::Save(const std::string& path, std::string& error) const {
    return WriteFileAtomically(path, Serialize(), error);
}

std::string CHelpTexts::Get(const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = texts_.find(key);
    return it == texts_.end() ? std::string() : it->second;
}

void CHelpTexts::Set(const std::string& key, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_[key] = text;
}
