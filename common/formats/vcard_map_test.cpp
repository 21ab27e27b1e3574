#include "common/formats/vcard_map.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

namespace pimfmt {
namespace {

std::vector<PimRecord> Contacts(const std::string& text) {
    std::istringstream in(text);
    vcard::VCardReader reader(in);
    std::vector<PimRecord> out;
    vcard::VCardEntry e;
    vcard::VCardError err;
    for (;;) {
        auto r = reader.Next(e, err);
        if (r == vcard::VCardReader::Result::kEnd) break;
        EXPECT_EQ(r, vcard::VCardReader::Result::kEntry) << err.line << ": " << err.message;
        if (r == vcard::VCardReader::Result::kEntry) out.push_back(ContactFromVCard(e));
    }
    return out;
}

// A phone's address book export: 2.1, quoted-printable UTF-8, bare types.
const char kPhone21[] =
    "BEGIN:VCARD\r\n"
    "VERSION:2.1\r\n"
    "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=BCrgen;;Dr.;\r\n"
    "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Dr. J=C3=BCrgen M=C3=BCller\r\n"
    "TEL;CELL;PREF:+49 170 1111\r\n"
    "TEL;WORK;VOICE:+49 30 2222\r\n"
    "TEL;WORK:+49 30 3333\r\n"
    "TEL;HOME:+49 30 4444\r\n"
    "TEL;WORK;FAX:+49 30 5555\r\n"
    "TEL:+49 30 6666\r\n"
    "EMAIL;INTERNET:j@example.de\r\n"
    "EMAIL;PREF;INTERNET:juergen@example.de\r\n"
    "ADR;HOME;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;;Hauptstra=C3=9Fe "
    "1;Berlin;;10115;Deutschla=\r\n"
    "nd\r\n"
    "BDAY:19800401\r\n"
    "PHOTO;ENCODING=BASE64;TYPE=JPEG:/9j/4AAQ\r\n"
    "\r\n"
    "END:VCARD\r\n";

TEST(ContactFromVCard, PhoneExport21) {
    auto all = Contacts(kPhone21);
    ASSERT_EQ(all.size(), 1u);
    const PimRecord& r = all[0];
    EXPECT_EQ(r.Text("LastName"), "M\xC3\xBCller");
    EXPECT_EQ(r.Text("FirstName"), "J\xC3\xBCrgen");
    EXPECT_EQ(r.Text("Title"), "Dr.");
    EXPECT_EQ(r.Text("FileAs"), "M\xC3\xBCller, J\xC3\xBCrgen");
    EXPECT_EQ(r.Text("MobileTelephoneNumber"), "+49 170 1111");
    EXPECT_EQ(r.Text("BusinessTelephoneNumber"), "+49 30 2222");
    EXPECT_EQ(r.Text("Business2TelephoneNumber"), "+49 30 3333");
    EXPECT_EQ(r.Text("HomeTelephoneNumber"), "+49 30 4444");
    EXPECT_EQ(r.Text("BusinessFaxNumber"), "+49 30 5555");
    EXPECT_EQ(r.Text("OtherTelephoneNumber"), "+49 30 6666");
    // The preferred address comes first.
    EXPECT_EQ(r.Text("Email1Address"), "juergen@example.de");
    EXPECT_EQ(r.Text("Email2Address"), "j@example.de");
    EXPECT_EQ(r.Text("HomeAddressStreet"),
              "Hauptstra\xC3\x9F"
              "e 1");
    EXPECT_EQ(r.Text("HomeAddressCountry"), "Deutschland");
    EXPECT_EQ(r.times.at("Birthday").time, (CivilTime{1980, 4, 1}));
    EXPECT_EQ(r.dropped, (std::vector<std::string>{"PHOTO"}));
}

TEST(ContactFromVCard, TypesBeyondTheFieldsFallBackOrAreDropped) {
    auto all = Contacts(
        "BEGIN:VCARD\nVERSION:3.0\nN:A;B;;;\nFN:B A\n"
        "TEL;TYPE=HOME:1\nTEL;TYPE=HOME:2\nTEL;TYPE=HOME:3\nTEL;TYPE=HOME:4\n"
        "TEL;TYPE=FAX:5\nTEL;TYPE=FAX:6\nTEL;TYPE=FAX:7\n"
        "EMAIL:a@x\nEMAIL:b@x\nEMAIL:c@x\nEMAIL:d@x\n"
        "ADR;TYPE=HOME:;;H1;;;;\nADR;TYPE=HOME:;;H2;;;;\nADR;TYPE=HOME:;;H3;;;;\nEND:VCARD\n");
    ASSERT_EQ(all.size(), 1u);
    const PimRecord& r = all[0];
    EXPECT_EQ(r.Text("HomeTelephoneNumber"), "1");
    EXPECT_EQ(r.Text("Home2TelephoneNumber"), "2");
    EXPECT_EQ(r.Text("OtherTelephoneNumber"), "3");
    EXPECT_EQ(r.Text("BusinessFaxNumber"), "5");
    EXPECT_EQ(r.Text("HomeFaxNumber"), "6");
    EXPECT_EQ(r.Text("Email3Address"), "c@x");
    EXPECT_EQ(r.Text("HomeAddressStreet"), "H1");
    EXPECT_EQ(r.Text("OtherAddressStreet"), "H2");
    // The fourth home number goes to the first free voice field.
    EXPECT_EQ(r.Text("BusinessTelephoneNumber"), "4");
    std::set<std::string> dropped(r.dropped.begin(), r.dropped.end());
    EXPECT_TRUE(dropped.count("TEL (no free field)"));
    EXPECT_TRUE(dropped.count("EMAIL (no free field)"));
    EXPECT_TRUE(dropped.count("ADR (no free field)"));
}

PimRecord FullContact() {
    PimRecord r;
    r.kind = RecordKind::kContact;
    r.SetText("FileAs", "Doe, Jane");
    r.SetText("LastName", "Doe");
    r.SetText("FirstName", "Jane");
    r.SetText("MiddleName", "Q.");
    r.SetText("Title", "Dr.");
    r.SetText("CompanyName", "Example; Inc.");
    r.SetText("Department", "Sales");
    r.SetText("JobTitle", "Manager");
    r.SetText("Email1Address", "jane@example.com");
    r.SetText("Email2Address", "jd@example.org");
    r.SetText("BusinessTelephoneNumber", "+1 555 0100");
    r.SetText("MobileTelephoneNumber", "+1 555 0101");
    r.SetText("HomeFaxNumber", "+1 555 0102");
    r.SetText("OtherTelephoneNumber", "+1 555 0103");
    r.SetText("BusinessAddressStreet", "1 Main St\nSuite 5");
    r.SetText("BusinessAddressCity", "Springfield");
    r.SetText("BusinessAddressPostalCode", "12345");
    r.SetText("OtherAddressCity", "Elsewhere");
    r.SetText("Body", "Met at the fair, 2023.\nLikes tea.");
    r.SetText("Spouse", "John");
    r.categories = {"Work", "VIP"};
    r.children = {"Ann", "Bob"};
    RecordTime bday;
    bday.time = CivilTime{1980, 4, 1};
    bday.form = TimeForm::kDate;
    r.times["Birthday"] = bday;
    r.uid = "contact-1";
    return r;
}

TEST(WriteVCard, Version4ByteForByte) {
    EXPECT_EQ(WriteVCard(FullContact(), 4),
              "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Dr. Jane Q. Doe\r\nX-FILE-AS:Doe\\, Jane\r\n"
              "N:Doe;Jane;Q.;Dr.;\r\nORG:Example\\; Inc.;Sales\r\nTITLE:Manager\r\n"
              "BDAY:19800401\r\nEMAIL:jane@example.com\r\nEMAIL:jd@example.org\r\n"
              "TEL;TYPE=work,voice:+1 555 0100\r\nTEL;TYPE=cell:+1 555 0101\r\n"
              "TEL;TYPE=home,fax:+1 555 0102\r\nTEL;TYPE=voice:+1 555 0103\r\n"
              "ADR;TYPE=work:;;1 Main St\\nSuite 5;Springfield;;12345;\r\n"
              "ADR:;;;Elsewhere;;;\r\nCATEGORIES:Work,VIP\r\nX-CHILDREN:Ann,Bob\r\n"
              "X-SPOUSE:John\r\nNOTE:Met at the fair\\, 2023.\\nLikes tea.\r\n"
              "UID:contact-1\r\nEND:VCARD\r\n");
}

TEST(WriteVCard, Version3DiffersInDatesEmailTypesAndAnniversary) {
    PimRecord r = FullContact();
    RecordTime ann;
    ann.time = CivilTime{2005, 6, 18};
    ann.form = TimeForm::kDate;
    r.times["Anniversary"] = ann;
    std::string text = WriteVCard(r, 3);
    EXPECT_NE(text.find("VERSION:3.0\r\n"), std::string::npos);
    EXPECT_NE(text.find("BDAY:1980-04-01\r\n"), std::string::npos);
    EXPECT_NE(text.find("X-ANNIVERSARY:2005-06-18\r\n"), std::string::npos);
    EXPECT_NE(text.find("EMAIL;TYPE=internet:jane@example.com\r\n"), std::string::npos);
    EXPECT_NE(WriteVCard(r, 4).find("ANNIVERSARY:20050618\r\n"), std::string::npos);
}

TEST(WriteVCard, EveryFieldSurvivesBothVersions) {
    PimRecord r = FullContact();
    // Every text field of the table, so a row that writes but does not read shows.
    for (std::size_t i = 0; i < VCardMapSize(); ++i) {
        const VCardMapEntry& row = kVCardMap[i];
        if (row.property == nullptr || row.value == VCardValue::kDate ||
            row.value == VCardValue::kList)
            continue;
        r.SetText(row.field, std::string("v-") + row.field + " \xC3\xA9;,\\");
    }
    r.SetText("FileAs", "Filed, As");
    for (int version : {3, 4}) {
        auto back = Contacts(WriteVCard(r, version));
        ASSERT_EQ(back.size(), 1u);
        EXPECT_EQ(back[0], r) << version;
        EXPECT_EQ(WriteVCard(back[0], version), WriteVCard(r, version));
    }
}

TEST(VCardMap, NamesEachFieldOnceAndGivesReasonsForWhatItDoesNotCarry) {
    std::set<std::string> fields;
    for (std::size_t i = 0; i < VCardMapSize(); ++i) {
        const VCardMapEntry& row = kVCardMap[i];
        EXPECT_TRUE(fields.insert(row.field).second) << row.field;
        if (row.property == nullptr || row.token < 0 || !row.handheld) {
            EXPECT_NE(row.note, nullptr) << row.field;
        }
    }
    for (std::size_t i = 0; i < VCardNotCarriedSize(); ++i)
        EXPECT_NE(std::string(kVCardNotCarried[i].reason), "");
}

}  // namespace
}  // namespace pimfmt
