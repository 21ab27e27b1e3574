// Published GUID values and their text form.
#include "platform/mapi/mapi_guids.h"

#include <cstdio>

namespace {
constexpr GUID OleGuid(std::uint32_t l) { return GUID{l, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; }
}  // namespace

const GUID PS_PUBLIC_STRINGS = OleGuid(0x00020329);
const GUID PS_MAPI = OleGuid(0x00020328);
const GUID PSETID_Address = OleGuid(0x00062004);
const GUID PSETID_Appointment = OleGuid(0x00062002);
const GUID PSETID_Task = OleGuid(0x00062003);
const GUID PSETID_Common = OleGuid(0x00062008);
const GUID PSETID_Meeting = {
    0x6ED8DA90, 0x450B, 0x101B, {0x98, 0xDA, 0x00, 0xAA, 0x00, 0x3F, 0x13, 0x05}};
const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

const IID IID_IUnknown = OleGuid(0x00000000);
const IID IID_IStream = OleGuid(0x0000000C);
const IID IID_IMAPISession = OleGuid(0x00020300);
const IID IID_IMAPITable = OleGuid(0x00020301);
const IID IID_IMAPIProp = OleGuid(0x00020303);
const IID IID_IMsgStore = OleGuid(0x00020306);
const IID IID_IMessage = OleGuid(0x00020307);
const IID IID_IAttachment = OleGuid(0x00020308);
const IID IID_IMAPIContainer = OleGuid(0x0002030B);
const IID IID_IMAPIFolder = OleGuid(0x0002030C);
const IID IID_IProfAdmin = OleGuid(0x0002031C);
const IID IID_IWriteBatch = {
    0x5C1D6B0E, 0x73A4, 0x4C2B, {0x9E, 0x51, 0x2F, 0x7A, 0x0D, 0x83, 0xB6, 0xC4}};
const IID IID_IReadSnapshot = {
    0x8E2F4A17, 0x5B3C, 0x4D6E, {0xA1, 0xF0, 0x6C, 0x9D, 0x2B, 0x4E, 0x7A, 0x35}};

namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

bool GuidFromText(const char* text, GUID& out) {
    if (text == nullptr) return false;
    std::string s(text);
    if (!s.empty() && s.front() == '{') {
        if (s.size() < 2 || s.back() != '}') return false;
        s = s.substr(1, s.size() - 2);
    }
    // 8-4-4-4-12
    if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') return false;
    unsigned char bytes[16];
    int n = 0;
    for (std::size_t i = 0; i < s.size();) {
        if (s[i] == '-') {
            ++i;
            continue;
        }
        int hi = HexDigit(s[i]);
        int lo = i + 1 < s.size() ? HexDigit(s[i + 1]) : -1;
        if (hi < 0 || lo < 0 || n >= 16) return false;
        bytes[n++] = static_cast<unsigned char>(hi * 16 + lo);
        i += 2;
    }
    if (n != 16) return false;
    GUID g;
    g.Data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
              (std::uint32_t{bytes[2]} << 8) | bytes[3];
    g.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
    g.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
    out = g;
    return true;
}

std::string GuidToText(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2),
                  static_cast<unsigned>(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                  g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}
