// CClientMap: the index file, its marker, and the lookups.
#include "server/syncstate/client_map.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <random>
#include <tuple>

#include "common/base/text.h"
#include "platform/win/message_box.h"
#include "server/config/live_trace.h"
#include "server/syncstate/contents_table_file.h"

namespace {

constexpr std::string_view kIndexHeader = "[ClientMap]";
constexpr std::string_view kVersionLine = "Version=1";
constexpr std::string_view kEpochKey = "Epoch=";
constexpr size_t kEpochDigits = 16;

bool IsHexText(std::string_view text) {
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

std::optional<std::uint64_t> ParseHex(std::string_view text) {
    // Upper-case digits only, as the file is written.
    if (!IsHexText(text)) return std::nullopt;
    return ParseHexNumber(text);
}

bool IsPlainClientIdByte(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '@' ||
           c == '.' || c == '-' || c == '_';
}

// Appends text with every byte that is not plain written as %XX; runs of plain
// bytes go in whole.
void AppendEscaped(std::string& out, std::string_view text, bool (*isPlain)(unsigned char)) {
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (isPlain(c)) continue;
        out.append(text.data() + run, i - run);
        out.push_back('%');
        AppendHexByte(out, c);
        run = i + 1;
    }
    out.append(text.data() + run, text.size() - run);
}

// The value of an escape's two digits (upper case, as the file is written); -1
// for any other pair.
int EscapedByte(std::string_view digits) {
    if (!IsHexText(digits)) return -1;
    return HexDigitValue(digits[0]) << 4 | HexDigitValue(digits[1]);
}

std::string EscapeClientId(std::string_view id) {
    std::string out;
    AppendEscaped(out, id, IsPlainClientIdByte);
    return out;
}

std::optional<std::string> UnescapeClientId(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            std::optional<std::uint64_t> byte = ParseHex(text.substr(i + 1, 2));
            if (!byte) return std::nullopt;
            out.push_back(static_cast<char>(*byte));
            i += 2;
        } else if (IsPlainClientIdByte(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            return std::nullopt;
        }
    }
    return out;
}

bool IsPlainTextByte(unsigned char c) { return c >= 0x20 && c != 0x7F && c != '%' && c != ','; }

// About the length AppendTexts gives fields (their escapes left out).
size_t TextsSize(const CFieldValues& fields) {
    size_t size = 0;
    for (const auto& [id, text] : fields) size += text.size() + 6;
    return size;
}

// Writes a field set: "<id><separator><value>" for each field, "," between them,
// the id in four hex digits; appendValue writes a value. The comma, the digits and
// the separator go in with one append (an index holds hundreds of thousands).
template <class Fields, class AppendValue>
void AppendFieldSet(std::string& out, const Fields& fields, char separator,
                    AppendValue appendValue) {
    bool first = true;
    for (const auto& [id, value] : fields) {
        const char head[6] = {',',
                              kUpperHexDigits[(id >> 12) & 15],
                              kUpperHexDigits[(id >> 8) & 15],
                              kUpperHexDigits[(id >> 4) & 15],
                              kUpperHexDigits[id & 15],
                              separator};
        out.append(first ? head + 1 : head, first ? 5 : 6);
        first = false;
        appendValue(out, value);
    }
}

// Hands each comma-separated item of a field set to readItem; false when readItem
// refuses one or the set ends in a comma.
template <class ReadItem>
bool ForEachFieldItem(std::string_view text, ReadItem readItem) {
    while (!text.empty()) {
        size_t comma = text.find(',');
        if (!readItem(text.substr(0, comma))) return false;
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
        if (text.empty()) return false;
    }
    return true;
}

void AppendTexts(std::string& out, const CFieldValues& fields) {
    AppendFieldSet(out, fields, '=', [](std::string& to, const std::string& text) {
        // Most texts need no escape: they go in whole.
        if (std::all_of(text.begin(), text.end(),
                        [](char c) { return IsPlainTextByte(static_cast<unsigned char>(c)); }))
            to += text;
        else
            AppendEscaped(to, text, IsPlainTextByte);
    });
}

// Reads the text of one field, from its "%XX" escapes, into value (none: only
// checks it); false for a byte that is neither plain nor a whole escape.
bool UnescapeText(std::string_view text, std::string* value) {
    if (value != nullptr) {
        value->clear();
        value->reserve(text.size());
    }
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsPlainTextByte(c)) continue;
        if (c != '%' || i + 2 >= text.size()) return false;
        const int byte = EscapedByte(text.substr(i + 1, 2));
        if (byte < 0) return false;
        if (value != nullptr) {
            value->append(text.data() + run, i - run);
            value->push_back(static_cast<char>(byte));
        }
        i += 2;
        run = i + 1;
    }
    if (value != nullptr) value->append(text.data() + run, text.size() - run);
    return true;
}

// Reads a field set of texts into fields (none: only checks it).
bool ParseTexts(std::string_view text, CFieldValues* fields) {
    if (fields != nullptr) fields->clear();
    std::string value;
    return ForEachFieldItem(text, [&](std::string_view item) {
        if (item.size() < 6 || item[4] != '=') return false;
        std::optional<std::uint64_t> id = ParseHex(item.substr(0, 4));
        if (!id) return false;
        if (!UnescapeText(item.substr(5), fields != nullptr ? &value : nullptr)) return false;
        // The index writes fields in order, so the end is where each one goes.
        if (fields != nullptr)
            fields->insert_or_assign(fields->end(), static_cast<CFieldId>(*id), std::move(value));
        return true;
    });
}

void AppendHashes(std::string& out, const CFieldHashes& fields) {
    AppendFieldSet(out, fields, ':', [](std::string& to, std::uint64_t hash) {
        char digits[16];
        for (int i = 15; i >= 0; --i, hash >>= 4) digits[i] = kUpperHexDigits[hash & 15];
        to.append(digits, sizeof digits);
    });
}

// Reads a field set of hashes into fields (none: only checks it).
bool ParseFields(std::string_view text, CFieldHashes* fields) {
    if (fields != nullptr) fields->clear();
    return ForEachFieldItem(text, [&](std::string_view item) {
        if (item.size() != 21 || item[4] != ':') return false;
        if (fields == nullptr) return IsHexText(item.substr(0, 4)) && IsHexText(item.substr(5));
        std::optional<std::uint64_t> id = ParseHex(item.substr(0, 4));
        std::optional<std::uint64_t> hash = ParseHex(item.substr(5));
        if (!id || !hash) return false;
        fields->insert_or_assign(fields->end(), static_cast<CFieldId>(*id), *hash);
        return true;
    });
}

// A field set of an index row: its text when that is current (the set unchanged
// since the index was loaded or written), else as written by append. Returns where
// it went in out (offset, length).
template <class Fields>
std::pair<size_t, size_t> AppendSet(std::string& out, bool current, const Fields& fields,
                                    void (*append)(std::string&, const Fields&),
                                    std::string_view text) {
    const size_t from = out.size();
    if (current)
        out += text;
    else
        append(out, fields);
    return {from, out.size() - from};
}

// The whole content of path; empty when it cannot be read.
std::string ReadFileText(const std::string& path) {
    std::string content;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return content;
    // Read straight into the text, sized by the file (one byte more, where the end
    // shows); it grows only when full, so a file that grows meanwhile is still read
    // to its end, and one of the size it had is never copied to a larger text.
    struct stat info {};
    size_t room = 16 * 1024;
    if (fstat(fd, &info) == 0 && info.st_size > 0) room = static_cast<size_t>(info.st_size) + 1;
    size_t length = 0;
    for (;;) {
        if (content.size() == length) content.resize(length + room);
        ssize_t got = read(fd, content.data() + length, content.size() - length);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        length += static_cast<size_t>(got);
        room = 16 * 1024;
    }
    close(fd);
    content.resize(length);
    return content;
}

constexpr size_t kRowFields = 7;

// The seven tab-separated fields of an index row; false for a row with more or fewer.
bool SplitRow(std::string_view line, std::array<std::string_view, kRowFields>& parts) {
    for (size_t i = 0;; ++i) {
        size_t tab = line.find('\t');
        if (i == kRowFields) return false;
        parts[i] = line.substr(0, tab);
        if (tab == std::string_view::npos) return i + 1 == kRowFields;
        line.remove_prefix(tab + 1);
    }
}

}  // namespace

std::uint64_t FieldTextHash(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

std::string KeptFieldText(std::string_view text) {
    if (text.size() <= kMaxKeptFieldText) return std::string(text);
    return "\x02" + HexNumber(FieldTextHash(text), 16);
}

bool IsHashOnly(std::string_view kept) {
    return kept.size() == 17 && kept[0] == '\x02' && IsHexText(kept.substr(1));
}

std::uint64_t KeptFieldHash(std::string_view kept) {
    if (IsHashOnly(kept)) return *ParseHex(kept.substr(1));
    return FieldTextHash(kept);
}

CFieldHashes KeptFieldHashes(const CFieldValues& fields) {
    CFieldHashes hashes;
    for (const auto& [field, text] : fields) {
        if (!text.empty()) hashes[field] = KeptFieldHash(text);
    }
    return hashes;
}

bool IsUsableClientId(std::string_view clientId) {
    return !clientId.empty() && clientId.size() <= kMaxClientIdLength;
}

std::string_view ClientIdStoreIdentity(std::string_view clientId) {
    size_t at = clientId.rfind('@');
    return at == std::string_view::npos ? std::string_view() : clientId.substr(at + 1);
}

CClientMap::CClientMap(std::string dataFolder, std::string deviceId, std::string folderKey)
    : dataFolder_(std::move(dataFolder)),
      deviceId_(std::move(deviceId)),
      folderKey_(std::move(folderKey)) {
    NewEpoch();
}

std::string CClientMap::IndexPath() const {
    return dataFolder_ + "/" + deviceId_ + "/" + folderKey_ + ".map";
}

std::string CClientMap::MarkerPath() const { return IndexPath() + "-dirty"; }

void CClientMap::NewEpoch() {
    std::random_device random;
    std::uint64_t value = (static_cast<std::uint64_t>(random()) << 32) ^ random();
    epoch_ = HexNumber(value, kEpochDigits);
}

CClientMap::LoadResult CClientMap::Load() {
    records_.clear();
    byClientId_.clear();
    changed_ = false;
    std::string marker;
    bool hasMarker = false;
    if (access(MarkerPath().c_str(), F_OK) == 0) {
        hasMarker = true;
        markFound_ = true;
        marker = ReadFileText(MarkerPath());
        // The marker names the epoch its request wrote the item properties with.
        while (!marker.empty() && (marker.back() == '\n' || marker.back() == '\r'))
            marker.pop_back();
    }
    if (access(IndexPath().c_str(), F_OK) != 0) {
        if (hasMarker && marker.size() == kEpochDigits && IsHexText(marker)) epoch_ = marker;
        return hasMarker ? LoadResult::kRebuild : LoadResult::kNone;
    }
    if (!ParseOwned(std::make_shared<const std::string>(ReadFileText(IndexPath())))) {
        records_.clear();
        byClientId_.clear();
        NewEpoch();
        std::string aside = IndexPath() + ".bad";
        std::rename(IndexPath().c_str(), aside.c_str());
        unlink(MarkerPath().c_str());
        markFound_ = false;
        changed_ = true;
        ShowMessageBox("The ClientID map " + IndexPath() + " cannot be read; set aside as " +
                       aside + ", the folder is synchronised as on its first sync");
        return LoadResult::kSetAside;
    }
    return hasMarker ? LoadResult::kRebuild : LoadResult::kLoaded;
}

void CClientMap::Rebuild(const std::vector<std::pair<std::string, std::string>>& properties,
                         const std::vector<std::string>& allKeys) {
    std::map<std::string, bool> present;
    for (const std::string& key : allKeys) present[key] = true;
    for (auto it = records_.begin(); it != records_.end();) {
        it = present.count(it->first) != 0 ? std::next(it) : records_.erase(it);
    }
    byClientId_.clear();
    for (const auto& [key, slot] : records_) IndexClientId(slot.record);
    for (const auto& [key, value] : properties) {
        std::optional<std::string> clientId = ClientIdOfProperty(value);
        if (clientId && present.count(key) != 0) MapClientId(key, *clientId);
    }
    changed_ = true;
}

std::string CClientMap::PropertyValue(const std::string& clientId) const {
    return epoch_ + "/" + clientId;
}

std::optional<std::string> CClientMap::ClientIdOfProperty(std::string_view value) const {
    if (value.size() <= kEpochDigits + 1 || value.substr(0, kEpochDigits) != epoch_ ||
        value[kEpochDigits] != '/')
        return std::nullopt;
    std::string clientId(value.substr(kEpochDigits + 1));
    if (!IsUsableClientId(clientId)) return std::nullopt;
    return clientId;
}

const CClientMapRecord* CClientMap::FindByServerKey(const std::string& serverKey) const {
    auto found = records_.find(serverKey);
    return found == records_.end() ? nullptr : &ReadSets(found->second);
}

const CClientMapRecord* CClientMap::FindByClientId(const std::string& clientId) const {
    auto found = byClientId_.find(clientId);
    return found == byClientId_.end() ? nullptr : FindByServerKey(found->second);
}

CClientMapRecord& CClientMap::Record(const std::string& serverKey) {
    changed_ = true;
    CClientMapRecord& record = ChangeSets(records_[serverKey]);
    record.serverKey = serverKey;
    return record;
}

void CClientMap::SetPending(const std::string& serverKey, std::uint64_t generation,
                            CFieldValues pending) {
    changed_ = true;
    Slot& slot = records_[serverKey];
    slot.record.serverKey = serverKey;
    slot.record.pendingGeneration = generation;
    slot.record.pending = std::move(pending);
    slot.pendingText = std::string_view();
    slot.pendingRead = true;
    slot.pendingCurrent = false;
}

CClientMapRecord& CClientMap::ReadSets(Slot& slot) {
    // The texts were checked when the index was loaded; they stay current.
    if (!slot.fieldsRead) {
        ParseTexts(slot.fieldsText, &slot.record.fields);
        ParseFields(slot.storedText, &slot.record.stored);
        slot.fieldsRead = true;
    }
    if (!slot.pendingRead) {
        ParseTexts(slot.pendingText, &slot.record.pending);
        slot.pendingRead = true;
    }
    return slot.record;
}

CClientMapRecord& CClientMap::ChangeSets(Slot& slot) {
    CClientMapRecord& record = ReadSets(slot);
    slot.fieldsCurrent = slot.pendingCurrent = false;
    slot.fieldsText = slot.storedText = slot.pendingText = std::string_view();
    return record;
}

void CClientMap::IndexClientId(const CClientMapRecord& record) {
    if (!record.clientId.empty()) byClientId_[record.clientId] = record.serverKey;
}

void CClientMap::MapClientId(const std::string& serverKey, const std::string& clientId) {
    if (clientId.empty()) return;
    auto held = byClientId_.find(clientId);
    if (held != byClientId_.end() && held->second != serverKey) {
        auto other = records_.find(held->second);
        if (other != records_.end()) other->second.record.clientId.clear();
    }
    CClientMapRecord& record = Record(serverKey);
    if (!record.clientId.empty() && record.clientId != clientId) byClientId_.erase(record.clientId);
    record.clientId = clientId;
    byClientId_[clientId] = serverKey;
}

void CClientMap::Remove(const std::string& serverKey) {
    auto found = records_.find(serverKey);
    if (found == records_.end()) return;
    if (!found->second.record.clientId.empty()) byClientId_.erase(found->second.record.clientId);
    records_.erase(found);
    changed_ = true;
}

std::string CClientMap::ReplacementOf(const std::string& serverKey) const {
    std::string at = serverKey;
    for (int hop = 0; hop < 8; ++hop) {
        const CClientMapRecord* record = FindByServerKey(at);
        const std::string next = record != nullptr ? record->ReplacedBy() : std::string();
        if (next.empty() || next == serverKey) break;
        at = next;
    }
    return at == serverKey ? std::string() : at;
}

bool CClientMap::MappedToIdentity(const std::string& serverKey, std::string_view identity) const {
    auto found = records_.find(serverKey);
    if (found == records_.end()) return false;
    const std::string& clientId = found->second.record.clientId;
    return !clientId.empty() && ClientIdStoreIdentity(clientId) == identity;
}

void CClientMap::ConfirmUpTo(std::uint64_t generation) {
    std::vector<std::string> deleted;
    for (auto& [key, slot] : records_) {
        if (slot.record.pendingGeneration == 0 || slot.record.pendingGeneration > generation)
            continue;
        CClientMapRecord& record = ChangeSets(slot);
        if (record.pending.count(kDeleteSentField) != 0) {
            // The answer deleted the item on the device.
            deleted.push_back(key);
            continue;
        }
        record.stored = KeptFieldHashes(record.pending);
        record.fields = std::move(record.pending);
        record.pending.clear();
        record.hasFields = true;
        record.pendingGeneration = 0;
        changed_ = true;
    }
    for (const std::string& key : deleted) Remove(key);
}

bool CClientMap::MarkDirty(std::string& error) {
    if (marked_) return true;
    if (!WriteStateFile(MarkerPath(), epoch_ + "\n", error)) return false;
    marked_ = true;
    return true;
}

bool CClientMap::Save(std::string& error) {
    if (!changed_ && !marked_ && !markFound_) return true;
    std::string index;
    std::vector<RowSets> rows;
    SerializeTo(index, &rows);
    if (!WriteStateFile(IndexPath(), index, error)) return false;
    // The written index holds every set as it is now: the texts are current again
    // (the index loaded before is no longer needed, no set lies there any more).
    auto written = std::make_shared<const std::string>(std::move(index));
    const std::string_view whole = *written;
    size_t row = 0;
    for (auto& [key, slot] : records_) {
        const RowSets& at = rows[row++];
        slot.fieldsText = whole.substr(at.fields, at.fieldsLength);
        slot.storedText = whole.substr(at.stored, at.storedLength);
        slot.pendingText = whole.substr(at.pending, at.pendingLength);
        slot.fieldsCurrent = slot.pendingCurrent = true;
    }
    text_ = std::move(written);
    if (unlink(MarkerPath().c_str()) != 0 && errno != ENOENT) {
        error = "cannot remove " + MarkerPath() + ": " + std::strerror(errno);
        return false;
    }
    changed_ = false;
    marked_ = false;
    markFound_ = false;
    return true;
}

std::string CClientMap::Serialize() const {
    std::string out;
    SerializeTo(out, nullptr);
    return out;
}

void CClientMap::SerializeTo(std::string& out, std::vector<RowSets>* rows) const {
    // Sized once: an index of a large folder runs to megabytes, and growing it step
    // by step would copy it again each time.
    size_t size = kIndexHeader.size() + kVersionLine.size() + kEpochKey.size() + epoch_.size() + 3;
    for (const auto& [key, slot] : records_) {
        const CClientMapRecord& record = slot.record;
        size += key.size() + record.clientId.size() * 3 + 32;
        size += slot.fieldsCurrent ? slot.fieldsText.size() + slot.storedText.size()
                                   : TextsSize(record.fields) + record.stored.size() * 22;
        size += slot.pendingCurrent ? slot.pendingText.size() : TextsSize(record.pending);
    }
    out.clear();
    out.reserve(size);
    if (rows != nullptr) {
        rows->clear();
        rows->reserve(records_.size());
    }
    out += kIndexHeader;
    out += '\n';
    out += kVersionLine;
    out += '\n';
    out += kEpochKey;
    out += epoch_;
    out += '\n';
    for (const auto& [key, slot] : records_) {
        const CClientMapRecord& record = slot.record;
        out += key;
        out += '\t';
        out += EscapeClientId(record.clientId);
        out += '\t';
        if (record.matched) out += 'm';
        if (record.hasFields) out += 'f';
        out += '\t';
        // A set unchanged since the index was loaded or written goes back as its text.
        RowSets at;
        std::tie(at.fields, at.fieldsLength) =
            AppendSet(out, slot.fieldsCurrent, record.fields, AppendTexts, slot.fieldsText);
        out += '\t';
        std::tie(at.stored, at.storedLength) =
            AppendSet(out, slot.fieldsCurrent, record.stored, AppendHashes, slot.storedText);
        out += '\t';
        out += std::to_string(record.pendingGeneration);
        out += '\t';
        std::tie(at.pending, at.pendingLength) =
            AppendSet(out, slot.pendingCurrent, record.pending, AppendTexts, slot.pendingText);
        out += '\n';
        if (rows != nullptr) rows->push_back(at);
    }
}

bool CClientMap::Parse(std::string_view text) {
    return ParseOwned(std::make_shared<const std::string>(text));
}

bool CClientMap::ParseOwned(std::shared_ptr<const std::string> owned) {
    std::string_view text = *owned;
    std::map<std::string, Slot> records;
    std::string epoch;
    int line = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        if (end == std::string_view::npos) return false;  // a cut index is no index
        std::string_view row = text.substr(0, end);
        text.remove_prefix(end + 1);
        ++line;
        if (line == 1) {
            if (row != kIndexHeader) return false;
            continue;
        }
        if (line == 2) {
            if (row != kVersionLine) return false;
            continue;
        }
        if (line == 3) {
            if (row.substr(0, kEpochKey.size()) != kEpochKey) return false;
            epoch = std::string(row.substr(kEpochKey.size()));
            if (epoch.size() != kEpochDigits || !IsHexText(epoch)) return false;
            continue;
        }
        std::array<std::string_view, kRowFields> parts;
        if (!SplitRow(row, parts) || parts[0].empty() || !IsHexText(parts[0])) return false;
        Slot slot;
        CClientMapRecord& record = slot.record;
        record.serverKey = std::string(parts[0]);
        std::optional<std::string> clientId = UnescapeClientId(parts[1]);
        if (!clientId || clientId->size() > kMaxClientIdLength) return false;
        record.clientId = std::move(*clientId);
        for (char flag : parts[2]) {
            if (flag == 'm')
                record.matched = true;
            else if (flag == 'f')
                record.hasFields = true;
            else
                return false;
        }
        // The field sets are checked now and read at their first use.
        if (!ParseTexts(parts[3], nullptr) || !ParseFields(parts[4], nullptr)) return false;
        std::string_view generation = parts[5];
        auto [stop, error] = std::from_chars(
            generation.data(), generation.data() + generation.size(), record.pendingGeneration);
        if (error != std::errc() || stop != generation.data() + generation.size()) return false;
        if (!ParseTexts(parts[6], nullptr)) return false;
        slot.fieldsText = parts[3];
        slot.storedText = parts[4];
        slot.pendingText = parts[6];
        slot.fieldsRead = parts[3].empty() && parts[4].empty();
        slot.pendingRead = parts[6].empty();
        slot.fieldsCurrent = slot.pendingCurrent = true;
        std::string key = record.serverKey;
        if (!records.emplace(std::move(key), std::move(slot)).second) return false;
    }
    if (line < 3) return false;
    records_ = std::move(records);
    text_ = std::move(owned);
    epoch_ = std::move(epoch);
    byClientId_.clear();
    for (auto& [key, slot] : records_) {
        CClientMapRecord& record = slot.record;
        if (record.clientId.empty()) continue;
        // A ClientID named twice keeps its first item; the other loses it.
        if (!byClientId_.emplace(record.clientId, key).second) record.clientId.clear();
    }
    return true;
}
