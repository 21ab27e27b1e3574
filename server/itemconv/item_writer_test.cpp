// Item elements written from real stores: whole documents compared as dump text.
#include "server/itemconv/item_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "server/itemconv/item_test_store.h"
#include "server/itemconv/value_format.h"

using itemtest::Elements;
using itemtest::Filetime;
using itemtest::PlusOne;

namespace {

class ItemWriterTest : public itemtest::ItemStoreTest {
protected:
    // The dump of a document holding only what MessageToXML wrote for m.
    std::string Write(IMessagePtr& m, bool* written = nullptr) {
        CWBXML doc;
        doc.BeginDocument();
        bool ok = MessageToXML(m, doc, context);
        if (written) *written = ok;
        return Elements(doc);
    }

    std::string TimeText(IMessagePtr& m, ULONG tag) {
        return PropValueToElementText(*m.GetProp(tag).Get(), PlusOne());
    }

    void AddRecipient(IMessagePtr& m, const char* name, const char* address, LONG type) {
        SPropValue r[3];
        r[0].ulPropTag = PR_DISPLAY_NAME;
        r[0].Value.lpszA = const_cast<char*>(name);
        r[1].ulPropTag = PR_EMAIL_ADDRESS;
        r[1].Value.lpszA = const_cast<char*>(address);
        r[2].ulPropTag = PR_RECIPIENT_TYPE;
        r[2].Value.l = type;
        alignas(ADRLIST) char buf[CbNewADRLIST(1)];
        auto* list = reinterpret_cast<ADRLIST*>(buf);
        list->cEntries = 1;
        list->aEntries[0] = ADRENTRY{0, 3, r};
        ASSERT_EQ(m.Get()->ModifyRecipients(MODRECIP_ADD, list), S_OK);
    }

    void AddAttachment(IMessagePtr& m, const char* longName, const char* shortName,
                       const std::string& data) {
        IAttachPtr a = m.CreateAttach();
        a.SetLongProp(PR_ATTACH_METHOD, ATTACH_BY_VALUE);
        if (longName) a.SetStrProp(PR_ATTACH_LONG_FILENAME, longName);
        if (shortName) a.SetStrProp(PR_ATTACH_FILENAME, shortName);
        a.SetProp(*CPropValue::Binary(PR_ATTACH_DATA_BIN, data.data(), data.size()).Get());
        a.SaveChanges(0);
    }

    CItemWriteContext context = [] {
        CItemWriteContext c;
        c.folderName = "Inbox";
        c.deviceId = "DEV1";
        c.userName = "ann";
        c.zone = &PlusOne();
        return c;
    }();
};

}  // namespace

TEST_F(ItemWriterTest, ContactFieldsInTableOrder) {
    IMessagePtr m = contacts.CreateMessage();
    m.SetStrProp(PR_MESSAGE_CLASS, "IPM.Contact");
    m.SetStrProp(PR_SURNAME, "M\xC3\xBCller");
    m.SetStrProp(PR_GIVEN_NAME, "Ann");
    m.SetStrProp(Named(m, PSETID_Address, 0x8005, PT_STRING8), "M\xC3\xBCller, Ann");
    m.SetStrProp(Named(m, PSETID_Address, 0x8083, PT_STRING8), "ann@example.org");
    m.SetStrProp(PR_COMPANY_NAME, "ACME GmbH");
    m.SetStrProp(PR_MOBILE_TELEPHONE_NUMBER, "+49 170 1");
    m.SetStrProp(PR_PRIMARY_TELEPHONE_NUMBER, "+49 30 2");
    m.SetStrProp(0x3A27001E, "Berlin");  // business city
    m.SetStrProp(PR_HOME_ADDRESS_CITY, "Potsdam");
    m.SetProp(*CPropValue::MultiString8(PR_CHILDRENS_NAMES, {"Tom", "Eva"}).Get());
    m.SetProp(*CPropValue::MultiString8(Keywords(m), {"A", "B"}).Get());
    SetTime(m, PR_BIRTHDAY, Filetime(1975, 5, 19, 23, 0));
    m.SetStrProp(PR_DISPLAY_NAME, "not written for contacts");
    m.SetBody("Line 1\r\nLine 2");
    m.SaveChanges(KEEP_OPEN_READWRITE);

    bool written = false;
    EXPECT_EQ(Write(m, &written),
              " <COLLECTION>\n"
              "  <Birthday> '20.05.1975 00:00.00:0' </Birthday>\n"
              "  <CompanyName> 'ACME GmbH' </CompanyName>\n"
              "  <Email1Address> 'ann@example.org' </Email1Address>\n"
              "  <MobileTelephoneNumber> '+49 170 1' </MobileTelephoneNumber>\n"
              "  <unknown 1 32> '+49 30 2' </unknown 1 32>\n"
              "  <Children> 'Tom, Eva' </Children>\n"
              "  <Categories> 'A, B' </Categories>\n"
              "  <FirstName> 'Ann' </FirstName>\n"
              "  <LastName> 'M\xC3\xBCller' </LastName>\n"
              "  <HomeAddressCity> 'Potsdam' </HomeAddressCity>\n"
              "  <BusinessAddressCity> 'Berlin' </BusinessAddressCity>\n"
              "  <FileAs> 'M\xC3\xBCller, Ann' </FileAs>\n"
              "  <Body> 'Line 1\r\nLine 2' </Body>\n"
              " </COLLECTION>\n");
    EXPECT_TRUE(written);

    // A custom contact form is a contact too.
    m.SetStrProp(PR_MESSAGE_CLASS, "IPM.Contact.Club member");
    EXPECT_NE(Write(m).find("<FileAs> 'M\xC3\xBCller, Ann' </FileAs>"), std::string::npos);
}

TEST_F(ItemWriterTest, TaskFieldsWithNamedDatesAndFlags) {
    IMessagePtr m = NewItem(tasks, "IPM.Task", "Call Bob");
    m.SetProp(*CPropValue::MultiString8(Keywords(m), {"Work"}).Get());
    SetTime(m, Named(m, PSETID_Task, 0x8104, PT_SYSTIME), Filetime(2009, 3, 7, 13, 5, 9));
    SetTime(m, Named(m, PSETID_Task, 0x8105, PT_SYSTIME), Filetime(2009, 3, 9, 23, 0));
    m.SetLongProp(PR_IMPORTANCE, 2);
    SetBool(m, Named(m, PSETID_Task, 0x811C, PT_BOOLEAN), false);
    m.SetLongProp(PR_SENSITIVITY, 0);
    SetBool(m, Named(m, PSETID_Common, 0x8503, PT_BOOLEAN), true);
    SetTime(m, Named(m, PSETID_Common, 0x8502, PT_SYSTIME), Filetime(2009, 3, 7, 12, 0));
    m.SetBody("Ask about the offer");
    m.SaveChanges(KEEP_OPEN_READWRITE);

    EXPECT_EQ(Write(m),
              " <COLLECTION>\n"
              "  <TaskSubject> 'Call Bob' </TaskSubject>\n"
              "  <TaskCategories> 'Work' </TaskCategories>\n"
              "  <TaskStartDate> '07.03.2009 14:05.09:0' </TaskStartDate>\n"
              "  <TaskDueDate> '10.03.2009 00:00.00:0' </TaskDueDate>\n"
              "  <TaskImportance> '2' </TaskImportance>\n"
              "  <TaskComplete> '0' </TaskComplete>\n"
              "  <TaskSensitivity> '0' </TaskSensitivity>\n"
              "  <TaskBody> 'Ask about the offer' </TaskBody>\n"
              "  <TaskReminderSet> '1' </TaskReminderSet>\n"
              "  <TaskReminderTime> '07.03.2009 13:00.00:0' </TaskReminderTime>\n"
              " </COLLECTION>\n");
}

TEST_F(ItemWriterTest, AppointmentWithoutLocationAndItsRecurrenceBlock) {
    IMessagePtr m = NewItem(calendar, "IPM.Appointment", "Review");
    SetBool(m, Named(m, PSETID_Appointment, 0x8223, PT_BOOLEAN), false);
    SetTime(m, Named(m, PSETID_Appointment, 0x820D, PT_SYSTIME), Filetime(2009, 3, 7, 13, 5, 9));
    m.SetLongProp(Named(m, PSETID_Appointment, 0x8213, PT_LONG), 55);
    SetTime(m, Named(m, PSETID_Appointment, 0x820E, PT_SYSTIME), Filetime(2009, 3, 7, 14, 0));
    SetBool(m, Named(m, PSETID_Appointment, 0x8215, PT_BOOLEAN), false);
    m.SetLongProp(Named(m, PSETID_Appointment, 0x8205, PT_LONG), 2);
    m.SetLongProp(PR_SENSITIVITY, 2);
    m.SetLongProp(Named(m, PSETID_Appointment, 0x8217, PT_LONG), 0);
    SetBool(m, Named(m, PSETID_Common, 0x8503, PT_BOOLEAN), true);
    m.SetLongProp(Named(m, PSETID_Common, 0x8501, PT_LONG), 15);
    m.SaveChanges(KEEP_OPEN_READWRITE);

    // A single appointment carries no Recurrence block.
    EXPECT_EQ(Write(m),
              " <COLLECTION>\n"
              "  <IsRecurring> '0' </IsRecurring>\n"
              "  <Subject> 'Review' </Subject>\n"
              "  <Start> '07.03.2009 14:05.09:0' </Start>\n"
              "  <Duration> '55' </Duration>\n"
              "  <End> '07.03.2009 15:00.00:0' </End>\n"
              "  <AllDayEvent> '0' </AllDayEvent>\n"
              "  <BusyStatus> '2' </BusyStatus>\n"
              "  <Sensitivity> '2' </Sensitivity>\n"
              "  <MeetingStatus> '0' </MeetingStatus>\n"
              "  <ReminderSet> '1' </ReminderSet>\n"
              "  <ReminderMinutesBeforeStart> '15' </ReminderMinutesBeforeStart>\n"
              " </COLLECTION>\n");
}

TEST_F(ItemWriterTest, ItemsWithoutKindWriteNothing) {
    IMessagePtr m = NewItem(inbox, "IPM.Schedule.Meeting.Request", "Meeting");
    m.SaveChanges(KEEP_OPEN_READWRITE);
    CWBXML doc;
    doc.BeginDocument();
    EXPECT_FALSE(MessageToXML(m, doc, context));
    EXPECT_EQ(CWBXML::kHeaderSize, doc.Document().Length());
}

TEST_F(ItemWriterTest, MailWithAttachmentsRecipientsAndHtmlBody) {
    IMessagePtr m = NewItem(inbox, "IPM.Note", "Offer");
    m.SetStrProp(PR_SENDER_NAME, "Bob");
    m.SetStrProp(PR_SENDER_EMAIL_ADDRESS, "bob@example.org");
    m.SetLongProp(PR_IMPORTANCE, 1);
    m.SetStrProp(PR_TRANSPORT_MESSAGE_HEADERS, "X-Test: 1");
    const std::uint8_t key[] = {1, 2, 3};
    m.SetProp(*CPropValue::Binary(PR_CONVERSATION_KEY, key, sizeof key).Get());
    m.SetBody(
        "  <HTML><head><style>p{}</style></head><body class=\"x\">Hi&nbsp;Ann<br/>Price &lt; "
        "5&#8364;</body></HTML>");
    AddAttachment(m, "Angebot 2010.pdf", "ANGEBO~1.PDF", "12345");
    AddAttachment(m, nullptr, "NOTES.TXT", "ab");
    AddRecipient(m, "Ann", "ann@example.org", MAPI_TO);
    AddRecipient(m, "", "", MAPI_CC);
    m.SaveChanges(KEEP_OPEN_READWRITE);

    context.folderName = "In box/2010?";
    std::string entryId = m.GetEntryID().ToText();
    std::string flags = std::to_string(m.GetLongProp(PR_MESSAGE_FLAGS));
    std::string expected =
        " <COLLECTION>\n"
        "  <PR_SENDER_EMAIL_ADDRESS> 'bob@example.org' </PR_SENDER_EMAIL_ADDRESS>\n"
        "  <PR_SENDER_NAME> 'Bob' </PR_SENDER_NAME>\n"
        "  <PR_CONVERSATION_KEY> 'AQID' </PR_CONVERSATION_KEY>\n"
        "  <PR_IMPORTANCE> '1' </PR_IMPORTANCE>\n"
        "  <PR_MESSAGE_CLASS > 'IPM.Note' </PR_MESSAGE_CLASS >\n"
        "  <PR_SUBJECT > 'Offer' </PR_SUBJECT >\n"
        "  <PR_CREATION_TIME> '" +
        TimeText(m, PR_CREATION_TIME) +
        "' </PR_CREATION_TIME>\n"
        "  <PR_LAST_MODIFICATION_TIME> '" +
        TimeText(m, PR_LAST_MODIFICATION_TIME) +
        "' </PR_LAST_MODIFICATION_TIME>\n"
        "HEADERS"
        "  <PR_MESSAGE_FLAGS> '" +
        flags +
        "' </PR_MESSAGE_FLAGS>\n"
        "  <Attachments>\n"
        "   <Attach>\n"
        "    <AttachMethod> '1' </AttachMethod>\n"
        // The store's size: method 4, names 17 and 13 with their zeros, data 5.
        "    <AttachSize> '39' </AttachSize>\n"
        "    <AttachLink> 'OutlookAttachments/In%20box%2F2010%3F/" +
        entryId +
        ".EML/Angebot%202010.pdf?device=DEV1&username=ann' </AttachLink>\n"
        "    <AttachName> 'Angebot 2010.pdf' </AttachName>\n"
        "   </Attach>\n"
        "   <Attach>\n"
        "    <AttachMethod> '1' </AttachMethod>\n"
        "    <AttachSize> '16' </AttachSize>\n"
        "    <AttachLink> 'OutlookAttachments/In%20box%2F2010%3F/" +
        entryId +
        ".EML/NOTES.TXT?device=DEV1&username=ann' </AttachLink>\n"
        "    <AttachName> 'NOTES.TXT' </AttachName>\n"
        "   </Attach>\n"
        "  </Attachments>\n"
        "  <Email_Recipients>\n"
        "   <Email_Recipient>\n"
        "    <PR_DISPLAY_NAME> 'Ann' </PR_DISPLAY_NAME>\n"
        "    <PR_EMAIL_ADDRESS> 'ann@example.org' </PR_EMAIL_ADDRESS>\n"
        "    <PR_RECIPIENT_TYPE> '1' </PR_RECIPIENT_TYPE>\n"
        "   </Email_Recipient>\n"
        "   <Email_Recipient>\n"
        "    <PR_DISPLAY_NAME> '' </PR_DISPLAY_NAME>\n"
        "    <PR_EMAIL_ADDRESS> '' </PR_EMAIL_ADDRESS>\n"
        "    <PR_RECIPIENT_TYPE> '2' </PR_RECIPIENT_TYPE>\n"
        "   </Email_Recipient>\n"
        "  </Email_Recipients>\n"
        "  <PR_BODY> 'Hi Ann\r\nPrice < 5\xE2\x82\xAC' </PR_BODY>\n"
        "  <PR_MESSAGE_FLAGS> '" +
        flags +
        "' </PR_MESSAGE_FLAGS>\n"
        " </COLLECTION>\n";
    std::string headers =
        "  <PR_TRANSPORT_MESSAGE_HEADERS> 'X-Test: 1' </PR_TRANSPORT_MESSAGE_HEADERS>\n";
    std::string withHeaders = expected;
    withHeaders.replace(withHeaders.find("HEADERS"), 7, headers);
    EXPECT_EQ(Write(m), withHeaders);

    context.includeHeaders = false;
    std::string withoutHeaders = expected;
    withoutHeaders.replace(withoutHeaders.find("HEADERS"), 7, "");
    EXPECT_EQ(Write(m), withoutHeaders);
}

// The body element of a mail, as the device receives it.
TEST_F(ItemWriterTest, HtmlBodiesAreSentAsReadableUtf8Text) {
    auto bodyOf = [this](const std::string& body, const char* headers) {
        IMessagePtr m = inbox.CreateMessage();
        m.SetStrProp(PR_MESSAGE_CLASS, "IPM.Note");
        if (headers) m.SetStrProp(PR_TRANSPORT_MESSAGE_HEADERS, headers);
        m.SetBody(body);
        m.SaveChanges(KEEP_OPEN_READWRITE);
        context.includeHeaders = false;
        std::string dump = Write(m);
        std::size_t start = dump.find("<PR_BODY> '");
        std::size_t end = dump.find("' </PR_BODY>");
        if (start == std::string::npos || end == std::string::npos) return std::string("none");
        return dump.substr(start + 11, end - start - 11);
    };
    // An 8-bit body is rendered in its own encoding and converted once, whole.
    EXPECT_EQ(
        "Gr\xC3\xBC\xC3\x9F"
        "e \xC3\xBC"
        "ber \xE2\x82\xAC",
        bodyOf("<html><body>Gr\xFC\xDF"
               "e &#252;ber &#8364;</body></html>",
               nullptr));
    // A fragment without an html tag is rendered when the headers say HTML...
    const char* htmlHeaders = "From: a@example.org\r\nContent-Type: text/html; charset=utf-8\r\n";
    EXPECT_EQ("- one\r\n- two\r\n", bodyOf("<ul><li>one<li>two</ul>", htmlHeaders));
    // ...and sent as it stands otherwise.
    EXPECT_EQ("<ul><li>one</ul>", bodyOf("<ul><li>one</ul>", "Content-Type: text/plain\r\n"));
    EXPECT_EQ("<ul><li>one</ul>", bodyOf("<ul><li>one</ul>", nullptr));
    EXPECT_EQ(
        "Gr\xC3\xBC\xC3\x9F"
        "e",
        bodyOf("Gr\xFC\xDF"
               "e",
               htmlHeaders));
}

TEST_F(ItemWriterTest, AFailureClosesTheOpenElementsAndReportsTheStep) {
    IMessagePtr m = NewItem(inbox, "IPM.Note", "Offer");
    AddAttachment(m, "a.txt", nullptr, "a");
    AddRecipient(m, "Ann", "ann@example.org", MAPI_TO);
    m.SetBody("Hello");
    m.SaveChanges(KEEP_OPEN_READWRITE);

    // Let each append of the document fail in turn (element writes retry once and
    // pass; start and end tags raise).
    int failures = 0;
    for (int n = 0; n < 300; ++n) {
        boxes.clear();
        CWBXML doc;
        doc.BeginDocument();
        doc.TEST_FailAppendAfter(n);
        ASSERT_TRUE(MessageToXML(m, doc, context)) << n;
        // Every element that was started is closed.
        CWBXML reader;
        reader.SetDocument(doc.Document().View());
        CWBXMLEvent event;
        int depth = 0;
        for (bool more = true; more;) {
            more = reader.NextEvent(event);
            if (event.EventKind == kWBXMLStartTag) ++depth;
            if (event.EventKind == kWBXMLEndTag) --depth;
            ASSERT_GE(depth, 0) << n;
            if (event.EventKind == kWBXMLNoEvent) break;
        }
        EXPECT_EQ(0, depth) << n;
        if (boxes.empty()) continue;
        ++failures;
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(0u, boxes[0].find("|Error in CMobileMapiMessage::MessageToXML line "))
            << boxes[0];
    }
    EXPECT_GT(failures, 8);
    EXPECT_TRUE(boxes.empty());  // past the document's last append
}

TEST(ItemLinks, FolderAndFileNamesArePercentEncoded) {
    EXPECT_EQ(
        "OutlookAttachments/Posteingang/00AB.EML/a%20b%26c%3Fd%2Fe.txt?device=D 1&username=u&x",
        AttachmentLink("Posteingang", "00AB", "a b&c?d/e.txt", "D 1", "u&x"));
    EXPECT_EQ("-._~AZaz09%25%C3%BC", PercentEncode("-._~AZaz09%\xC3\xBC"));
}
