// CMAPIException: result names, texts for other codes, the extended-error form and
// ReportError through the message box sink.
#include "server/mapi/mapi_exception.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/mapi/mapi_names.h"
#include "platform/win/message_box.h"
#include "server/mapi/mapi_error_names.h"

namespace {

// An object that describes its last failure, as a store object does after
// MAPI_E_EXTENDED_ERROR. Every other call is refused.
class CErrorSource : public IMAPIProp {
public:
    CErrorSource(const char* error, const char* component, ULONG context, ULONG lowLevel)
        : error_(error), component_(component), context_(context), lowLevel_(lowLevel) {}

    int lastErrorCalls = 0;

    HRESULT QueryInterface(REFIID, LPVOID*) override { return MAPI_E_INTERFACE_NOT_SUPPORTED; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR* out) override {
        ++lastErrorCalls;
        void* block = nullptr;
        if (FAILED(MAPIAllocateBuffer(sizeof(MAPIERROR), &block))) return MAPI_E_NOT_ENOUGH_MEMORY;
        auto* error = static_cast<MAPIERROR*>(block);
        error->lpszError = Copy(error_, block);
        error->lpszComponent = Copy(component_, block);
        error->ulContext = context_;
        error->ulLowLevelError = lowLevel_;
        *out = error;
        return S_OK;
    }
    HRESULT SaveChanges(ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetProps(LPSPropTagArray, ULONG, ULONG*, LPSPropValue*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetPropList(ULONG, LPSPropTagArray*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) override {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override {
        return MAPI_E_NO_SUPPORT;
    }

private:
    static char* Copy(const char* text, void* root) {
        if (text == nullptr) return nullptr;
        void* block = nullptr;
        MAPIAllocateMore(static_cast<ULONG>(std::strlen(text) + 1), root, &block);
        std::memcpy(block, text, std::strlen(text) + 1);
        return static_cast<char*>(block);
    }

    const char* error_;
    const char* component_;
    ULONG context_;
    ULONG lowLevel_;
};

// Collects what the message box sink receives during a test.
class CaptureBoxes : public ::testing::Test {
protected:
    void SetUp() override {
        SetMessageBoxSink([this](const std::string& text, const std::string& caption) {
            boxes.push_back(caption + "|" + text);
        });
    }
    void TearDown() override { SetMessageBoxSink(nullptr); }
    std::vector<std::string> boxes;
};

TEST(MapiExceptionText, NamedResultsGiveTheirSymbol) {
    EXPECT_EQ(CMAPIException(MAPI_E_NOT_FOUND, "x").GetErrorText(), "MAPI_E_NOT_FOUND");
    EXPECT_STREQ(CMAPIException(MAPI_E_NOT_FOUND, "x").what(), "MAPI_E_NOT_FOUND");
    EXPECT_EQ(CMAPIException(MAPI_E_CALL_FAILED, "x").GetErrorText(), "MAPI_E_CALL_FAILED");
    EXPECT_EQ(CMAPIException(MAPI_E_NO_ACCESS, "x").GetErrorText(), "MAPI_E_NO_ACCESS");
    EXPECT_EQ(CMAPIException(MAPI_E_AMBIGUOUS_RECIP, "x").GetErrorText(), "MAPI_E_AMBIGUOUS_RECIP");
    EXPECT_EQ(CMAPIException::ResultText(MAPI_W_ERRORS_RETURNED), "MAPI_W_ERRORS_RETURNED");
}

TEST(MapiExceptionText, OtherResultsGiveTheSystemTextOrUnknownError) {
    EXPECT_EQ(CMAPIException(STG_E_ACCESSDENIED, "x").GetErrorText(), "Access denied.");
    EXPECT_EQ(CMAPIException(MapiCode(0x80041234), "x").GetErrorText(), "Unknown Error 80041234");
    EXPECT_EQ(CMAPIException::ResultText(MapiCode(0x8004ABCD)), "Unknown Error 8004abcd");
}

TEST(MapiExceptionText, KeepsResultAndPlace) {
    CMAPIException e(MAPI_E_NOT_FOUND, "CGenMapiPropPtr::GetIDFromName");
    EXPECT_EQ(e.GetHResult(), MAPI_E_NOT_FOUND);
    EXPECT_EQ(static_cast<uint32_t>(e.GetHResult()), 0x8004010Fu);
    EXPECT_EQ(e.GetPlace(), "CGenMapiPropPtr::GetIDFromName");
    EXPECT_FALSE(e.GetDetails().present);
}

TEST(MapiExceptionText, ExtendedErrorAddsTheObjectsDetails) {
    CErrorSource source("Store is locked", "engine", 7, 0xFFFFFFFFu);
    CMAPIException e(MAPI_E_EXTENDED_ERROR, "CGenMapiPropPtr::SaveChanges", &source);
    EXPECT_EQ(source.lastErrorCalls, 1);
    EXPECT_EQ(
        e.GetErrorText(),
        "MAPI_E_EXTENDED_ERROR\nErr=Store is locked\nComponent=engine\nContext=7,LowLevel=-1");
}

TEST(MapiExceptionText, DetailsAreAskedOnlyForExtendedErrors) {
    CErrorSource source("ignored", "engine", 1, 2);
    CMAPIException e(MAPI_E_NOT_FOUND, "x", &source);
    EXPECT_EQ(source.lastErrorCalls, 0);
    EXPECT_EQ(e.GetErrorText(), "MAPI_E_NOT_FOUND");
    CMAPIException none(MAPI_E_EXTENDED_ERROR, "x", static_cast<IMAPIProp*>(nullptr));
    EXPECT_EQ(none.GetErrorText(), "MAPI_E_EXTENDED_ERROR");
}

TEST(MapiExceptionText, StoreTextIsNeverAFormat) {
    CErrorSource source("%s%s%n%x", "%n", 0, 0);
    CMAPIException e(MAPI_E_EXTENDED_ERROR, "x", &source);
    EXPECT_EQ(e.GetErrorText(),
              "MAPI_E_EXTENDED_ERROR\nErr=%s%s%n%x\nComponent=%n\nContext=0,LowLevel=0");
}

TEST(MapiExceptionText, MissingDetailTextsAreEmpty) {
    CErrorSource source(nullptr, nullptr, 3, 4);
    CMAPIException e(MAPI_E_EXTENDED_ERROR, "x", &source);
    EXPECT_EQ(e.GetErrorText(), "MAPI_E_EXTENDED_ERROR\nErr=\nComponent=\nContext=3,LowLevel=4");
}

TEST(MapiCheck, RaisesForFailuresOnly) {
    EXPECT_NO_THROW(MapiCheck(S_OK, "x"));
    EXPECT_NO_THROW(MapiCheck(MAPI_W_ERRORS_RETURNED, "x"));
    try {
        MapiCheck(MAPI_E_BUSY, "IMAPITablePtr::QueryRows");
        FAIL() << "no exception";
    } catch (const CMAPIException& e) {
        EXPECT_EQ(e.GetHResult(), MAPI_E_BUSY);
        EXPECT_EQ(e.GetPlace(), "IMAPITablePtr::QueryRows");
    }
}

TEST_F(CaptureBoxes, ReportErrorShowsTextPlaceAndContext) {
    CMAPIException(MAPI_E_NOT_FOUND, "CGenMapiPropPtr::SaveProps").ReportError("SaveProps");
    CMAPIException(MAPI_E_BUSY, "").ReportError("Store");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], "SaveProps|MAPI_E_NOT_FOUND\r\nin CGenMapiPropPtr::SaveProps");
    EXPECT_EQ(boxes[1], "Store|MAPI_E_BUSY");
}

TEST_F(CaptureBoxes, ReportErrorSurvivesAFailingSink) {
    SetMessageBoxSink(
        [](const std::string&, const std::string&) { throw std::runtime_error("x"); });
    EXPECT_NO_THROW(CMAPIException(MAPI_E_BUSY, "p").ReportError("c"));
}

// Every MAPI_E_ and MAPI_W_ code of the engine's public header has its name in the
// engine's table, once, and is the symbol of its value; other named codes are none.
TEST(MapiErrorNames, TableCoversEveryCodeOfTheStoreHeader) {
    const char* source = std::getenv("CORVEL_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    std::ifstream header(std::string(source) + "/platform/mapi/mapi_codes.h");
    ASSERT_TRUE(header.good());
    std::stringstream text;
    text << header.rdbuf();
    std::string all = text.str();
    std::regex declaration(R"(constexpr HRESULT (MAPI_[EW]_\w+) =)");
    std::set<std::string> declared;
    for (auto it = std::sregex_iterator(all.begin(), all.end(), declaration);
         it != std::sregex_iterator(); ++it)
        declared.insert((*it)[1].str());
    ASSERT_GT(declared.size(), 60u);

    size_t count = 0;
    const MapiErrorNameEntry* table = MapiErrorNameTable(count);
    std::set<std::string> named;
    std::set<HRESULT> values;
    for (size_t i = 0; i < count; ++i) {
        EXPECT_TRUE(values.insert(table[i].code).second) << "value twice: " << table[i].text;
        EXPECT_STREQ(MapiErrorName(table[i].code), table[i].text);
        if (std::string(table[i].text).rfind("MAPI_", 0) != 0) {
            EXPECT_EQ(MapiErrorSymbol(table[i].code), nullptr) << table[i].text;
            continue;
        }
        named.insert(table[i].text);
        EXPECT_STREQ(MapiErrorSymbol(table[i].code), table[i].text);
    }
    EXPECT_EQ(named, declared);
    EXPECT_EQ(MapiErrorSymbol(S_OK), nullptr);
    EXPECT_EQ(MapiErrorSymbol(STG_E_ACCESSDENIED), nullptr);
}

}  // namespace
