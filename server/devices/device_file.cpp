// Text format of user and device files.
#include "server/devices/device_file.h"

#include <climits>
#include <vector>

#include "common/base/text.h"
#include "common/base/utf.h"
#include "server/config/log_text.h"
#include "server/config/text_file.h"

namespace {

// A token that is an integer on its own: optional sign, digits, nothing else.
bool IsIntegerToken(std::string_view text) {
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    if (i >= text.size()) return false;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

std::string Join(const std::vector<std::string_view>& tokens, size_t from, size_t to) {
    std::string out;
    for (size_t i = from; i < to; ++i) {
        if (i > from) out += ',';
        out.append(tokens[i]);
    }
    return out;
}

// The writer's blank for an empty text reads back as empty.
std::string FieldText(std::string_view token) {
    if (token == " ") return std::string();
    return std::string(token);
}

std::string OneLine(std::string_view text) { return OneLineValue(text); }

std::string NonEmpty(std::string_view text) {
    if (text.empty()) return " ";
    return OneLine(text);
}

// Cuts text (at a character's start) to room bytes; true when it was longer.
bool CutTo(std::string& text, size_t room) {
    size_t cut = Utf8CutLength(text, room);
    if (cut == text.size()) return false;
    text.resize(cut);
    return true;
}

// value as its "key=value" line writes it, cut so that the line fits the reader.
bool FitValue(std::string& value, std::string_view key) {
    size_t room = kMaxLineLength - key.size() - 2;  // "=" and the line end
    if (value.size() <= room) return false;
    value = OneLine(value);
    return CutTo(value, room);
}

// Each line of the signature cut so that it fits the reader with its line end.
bool FitSignature(std::string& signature) {
    const size_t room = kMaxLineLength - 1;
    if (signature.size() <= room) return false;
    std::string fitted;
    bool cut = false;
    std::string_view rest = signature;
    while (true) {
        size_t end = rest.find('\n');
        std::string line(rest.substr(0, end));
        cut |= CutTo(line, room);
        fitted += line;
        if (end == std::string_view::npos) break;
        fitted += '\n';
        rest.remove_prefix(end + 1);
    }
    if (cut) signature = std::move(fitted);
    return cut;
}

void AppendLine(std::string& out, std::string_view key, std::string_view value) {
    out.append(key);
    out += '=';
    out += OneLine(value);
    out += '\n';
}

}  // namespace

CFolderSetting ParseFolderValue(std::string_view value) {
    CFolderSetting folder;
    if (value.find(',') == std::string_view::npos) {
        folder.outlookPath = FieldText(value);
        folder.kind = KindForDefaultCode(folder.defaultCode);
        return folder;
    }
    std::vector<std::string_view> tokens = SplitSkippingEmpty(value, ',');
    if (tokens.size() <= 6) {
        if (tokens.size() > 0) folder.outlookPath = FieldText(tokens[0]);
        if (tokens.size() > 1) folder.subfolders = LeadingInteger(tokens[1]);
        if (tokens.size() > 2) folder.reserved = LeadingInteger(tokens[2]);
        if (tokens.size() > 3) folder.virtualPath = FieldText(tokens[3]);
        if (tokens.size() > 4) folder.defaultCode = LeadingInteger(tokens[4]);
        if (tokens.size() > 5) folder.kind = LeadingInteger(tokens[5]);
    } else {
        // A path or virtual path with "," in it: the two integers after the path and
        // the two at the end hold their places.
        size_t last = tokens.size();
        size_t numbers = 1;
        while (numbers < last - 4 &&
               !(IsIntegerToken(tokens[numbers]) && IsIntegerToken(tokens[numbers + 1]))) {
            ++numbers;
        }
        folder.outlookPath = FieldText(Join(tokens, 0, numbers));
        folder.subfolders = LeadingInteger(tokens[numbers]);
        folder.reserved = LeadingInteger(tokens[numbers + 1]);
        folder.virtualPath = FieldText(Join(tokens, numbers + 2, last - 2));
        folder.defaultCode = LeadingInteger(tokens[last - 2]);
        folder.kind = LeadingInteger(tokens[last - 1]);
    }
    folder.kind = KindForDefaultCode(folder.defaultCode);
    return folder;
}

void ParseDeviceFileLine(std::string_view line, CDeviceConfig& record, bool& inSignature) {
    if (inSignature) {
        record.Signatur.append(line);
        record.Signatur += '\n';
        return;
    }
    if (EqualsIgnoringCase(line, "Signatur:")) {
        inSignature = true;
        return;
    }
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) return;
    std::string_view key = line.substr(0, equals);
    std::string_view value = line.substr(equals + 1);
    if (EqualsIgnoringCase(key, "Name")) {
        record.Name.assign(value);
    } else if (EqualsIgnoringCase(key, "Passwort")) {
        record.Passwort.assign(value);
    } else if (EqualsIgnoringCase(key, "DeviceID")) {
        record.DeviceID.assign(value);
    } else if (EqualsIgnoringCase(key, "ProfileName")) {
        record.ProfileName.assign(value);
    } else if (EqualsIgnoringCase(key, "SignaturShort")) {
        record.SignaturShort.assign(value);
    } else if (EqualsIgnoringCase(key, "SignaturAlways")) {
        record.SignaturAlways = LeadingInteger(value) != 0;
    } else if (EqualsIgnoringCase(key, "TimeZoneDifference")) {
        record.TimeZoneDifference = LeadingInteger(value);
    } else if (EqualsIgnoringCase(key, "Folder")) {
        record.folders.push_back(ParseFolderValue(value));
    }
}

void FinishDeviceFile(CDeviceConfig& record) {
    if (!record.Signatur.empty() && record.Signatur.back() == '\n') record.Signatur.pop_back();
}

void ParseDeviceFile(std::string_view text, CDeviceConfig& record) {
    record.Signatur.clear();
    bool inSignature = false;
    std::string_view rest = text;
    while (!rest.empty()) ParseDeviceFileLine(StripLineEnd(TakeLine(rest)), record, inSignature);
    FinishDeviceFile(record);
}

bool FitDeviceFileLines(CDeviceConfig& record) {
    bool cut = FitValue(record.Name, "Name");
    cut |= FitValue(record.Passwort, "Passwort");
    cut |= FitValue(record.DeviceID, "DeviceID");
    cut |= FitValue(record.ProfileName, "ProfileName");
    cut |= FitValue(record.SignaturShort, "SignaturShort");
    cut |= FitSignature(record.Signatur);
    return cut;
}

std::string SerializeDeviceFile(const CDeviceConfig& whole) {
    CDeviceConfig record = whole;
    FitDeviceFileLines(record);
    std::string out;
    AppendLine(out, "Name", record.Name);
    AppendLine(out, "Passwort", record.Passwort);
    AppendLine(out, "DeviceID", record.DeviceID);
    AppendLine(out, "ProfileName", record.ProfileName);
    AppendLine(out, "SignaturShort", record.SignaturShort);
    AppendLine(out, "SignaturAlways", record.SignaturAlways ? "1" : "0");
    AppendLine(out, "TimeZoneDifference", std::to_string(record.TimeZoneDifference));
    for (const CFolderSetting& folder : record.folders) {
        out += "Folder=";
        out += NonEmpty(folder.outlookPath);
        out += ',' + std::to_string(folder.subfolders);
        out += ',' + std::to_string(folder.reserved);
        out += ',' + NonEmpty(folder.virtualPath);
        out += ',' + std::to_string(folder.defaultCode);
        out += ',' + std::to_string(folder.kind);
        out += '\n';
    }
    out += "Signatur:\n";
    out += record.Signatur;
    out += '\n';
    return out;
}
