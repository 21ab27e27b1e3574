// Restriction text with named properties named by a real store (GetNamesFromIDs).
#include <gtest/gtest.h>

#include <cstdio>

#include "server/mapi/adapter_test_store.h"
#include "server/mapi/restriction_tree.h"
#include "server/restriction/compile_restriction.h"

namespace {

using adaptertest::AdapterStoreTest;

class NamedRestrictionTest : public AdapterStoreTest {};

std::string Hex(ULONG tag) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(tag));
    return text;
}

TEST_F(NamedRestrictionTest, FileAsMatchOfTheItemSearch) {
    ULONG fileAs = contacts.GetIDFromName(PSETID_Address, 0x8005, PT_STRING8, MAPI_CREATE);
    adaptertest::RestrictionTree t;
    SRestriction* r = t.Property(RELOP_EQ, fileAs, t.Str(fileAs, "Doe, Ann"));
    CCompileRestriction compile(contacts);
    EXPECT_EQ(compile.Compile(r), "FileAs = \"Doe, Ann\" ");
}

TEST_F(NamedRestrictionTest, DateWindowOnTheAppointmentEnd) {
    IMAPIFolderPtr calendar = store.OpenFolder(inbox.GetBinaryProp(PR_IPM_APPOINTMENT_ENTRYID));
    ULONG end = calendar.GetIDFromName(PSETID_Appointment, 0x820E, PT_SYSTIME, MAPI_CREATE);
    SPropValue cutoff{};
    cutoff.ulPropTag = end;
    cutoff.Value.ft = UtcToFileTime({2010, 2, 1, 23, 0, 0, 0});
    SRestriction r{};
    r.rt = RES_PROPERTY;
    r.res.resProperty = {RELOP_GE, end, &cutoff};
    CCompileRestriction compile(calendar);
    EXPECT_EQ(compile.Compile(&r), "AppointmentEndWhole >= Date(1,2,2010) ");
    // The store accepts the same restriction on the calendar's table.
    IMAPITablePtr table = calendar.GetContentsTable();
    table.Restrict(&r);
    EXPECT_EQ(table.GetRowCount(), 0u);
}

TEST_F(NamedRestrictionTest, StringNamesUnknownNumbersAndUnmappedIds) {
    ULONG keywords =
        inbox.GetIDFromName(PS_PUBLIC_STRINGS, u"Keywords", PT_MV_STRING8, MAPI_CREATE);
    ULONG custom = inbox.GetIDFromName(PS_PUBLIC_STRINGS, u"Corvel-Key", PT_STRING8, MAPI_CREATE);
    ULONG unknown = inbox.GetIDFromName(PSETID_Common, 0x8999, PT_LONG, MAPI_CREATE);
    ULONG unmapped = PROP_TAG(PT_STRING8, 0xFFF0);

    SRestriction parts[4]{};
    ULONG tags[4] = {keywords, custom, unknown, unmapped};
    for (int i = 0; i < 4; ++i) {
        parts[i].rt = RES_EXIST;
        parts[i].res.resExist = {0, tags[i], 0};
    }
    SRestriction all{};
    all.rt = RES_OR;
    all.res.resOr = {4, parts};
    CCompileRestriction compile(inbox);
    EXPECT_EQ(compile.Compile(&all), "(exist Keywords  or exist Corvel-Key  or exist " +
                                         Hex(unknown) + "  or exist 0xfff0001e )");
    // Asked again, the names come from the cache with the same result.
    EXPECT_EQ(compile.PropertyName(keywords), "Keywords");
}

}  // namespace
