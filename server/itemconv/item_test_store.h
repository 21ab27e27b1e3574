// Test fixture for the item element writer, reader and matching: a fresh store
// (adapter_test_store.h) with its contacts, tasks, calendar and inbox folders,
// the live trace and message boxes captured, a fixed UTC+1 zone without daylight
// saving, and helpers to render a written document as its dump.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/wbxml/wbxml.h"
#include "server/config/live_trace.h"
#include "server/itemconv/time_zone_info.h"
#include "server/mapi/adapter_test_store.h"

namespace itemtest {

// UTC+1 all year.
inline const CRuleTimeZone& PlusOne() {
    static const CRuleTimeZone zone([] {
        CTimeZoneStruct s;
        s.bias = -60;
        return s;
    }());
    return zone;
}

// The dump with its column padding removed: "<Tag> 'value' </Tag>".
inline std::string Compact(const std::string& dump) {
    std::string out = std::regex_replace(dump, std::regex(" +\t +"), " ");
    out = std::regex_replace(out, std::regex("' +</"), "' </");
    return std::regex_replace(out, std::regex(" +\n"), "\n");
}

// The body of a dump between its cut lines, without the XML declaration.
inline std::string Elements(const CWBXML& doc) {
    CWBXML dumper;
    std::ostringstream out;
    dumper.DumpDocument(out, doc.Document().View());
    std::string text = Compact(out.str());
    size_t begin = text.find("?>\n");
    size_t end = text.rfind("----------------------");
    if (begin == std::string::npos || end == std::string::npos || end < begin) return text;
    return text.substr(begin + 3, end - begin - 3);
}

inline FILETIME Filetime(int y, int mo, int d, int h, int mi, int s = 0) {
    CItemTime t{y, mo, d, h, mi, s, 0};
    std::uint64_t v = FiletimeFromItemTime(t);
    return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
}

class ItemStoreTest : public adaptertest::AdapterStoreTest {
protected:
    void SetUp() override {
        AdapterStoreTest::SetUp();
        SetLiveTraceSink([this](const std::string& line) { trace.push_back(line); });
        tasks = store.OpenFolder(inbox.GetBinaryProp(PR_IPM_TASK_ENTRYID));
        calendar = store.OpenFolder(inbox.GetBinaryProp(PR_IPM_APPOINTMENT_ENTRYID));
    }
    void TearDown() override {
        SetLiveTraceSink(nullptr);
        tasks.Reset();
        calendar.Reset();
        AdapterStoreTest::TearDown();
    }

    // A new item of message class cls in folder with a subject, not saved yet.
    static IMessagePtr NewItem(IMAPIFolderPtr& folder, const char* cls, const char* subject) {
        IMessagePtr m = folder.CreateMessage();
        m.SetStrProp(PR_MESSAGE_CLASS, cls);
        m.SetStrProp(PR_SUBJECT, subject);
        return m;
    }
    ULONG Named(IMessagePtr& m, const GUID& set, LONG id, ULONG type) {
        return m.GetIDFromName(set, id, type, MAPI_CREATE);
    }
    ULONG Keywords(IMessagePtr& m) {
        return m.GetIDFromName(PS_PUBLIC_STRINGS, std::u16string(u"Keywords"), PT_MV_STRING8,
                               MAPI_CREATE);
    }
    void SetTime(IMessagePtr& m, ULONG tag, FILETIME ft) {
        m.SetProp(*CPropValue::Time(tag, ft).Get());
    }
    void SetBool(IMessagePtr& m, ULONG tag, bool v) {
        m.SetProp(*CPropValue::Boolean(tag, v).Get());
    }

    std::vector<std::string> trace;
    IMAPIFolderPtr tasks;
    IMAPIFolderPtr calendar;
};

}  // namespace itemtest
