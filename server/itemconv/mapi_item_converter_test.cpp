// The item conversion as the store layer's folders and elements call it.
#include "server/itemconv/mapi_item_converter.h"

#include <gtest/gtest.h>

#include "server/devices/pocket_device.h"
#include "server/itemconv/item_test_store.h"
#include "server/store/mapi_folder.h"
#include "server/store/mapi_message.h"

using itemtest::Elements;
using itemtest::PlusOne;

namespace {

class MapiItemConverterTest : public itemtest::ItemStoreTest {};

}  // namespace

TEST_F(MapiItemConverterTest, AddedContactIsMatchedSavedAndWritten) {
    CPocketDevice device([&] {
        CDeviceConfig c;
        c.Name = "ann";
        c.DeviceID = "DEV1";
        return c;
    }());
    CMobileMapiFolder folder(&device, nullptr, contacts);
    CMapiItemConverter converter(&PlusOne());

    CWBXMLLiterals tree;
    tree.Add(1, 0x1B, "Ann");
    tree.Add(1, 0x1D, "Smith");
    tree.Add(1, 0x2F, "Smith, Ann");
    bool matched = true;
    std::unique_ptr<CMobileMapiMessage> added =
        converter.FindOrCreateItem(folder, tree, "Contacts", nullptr, &matched);
    ASSERT_TRUE(added);
    EXPECT_FALSE(matched);
    EXPECT_EQ(&folder, added->Folder());
    EXPECT_TRUE(converter.XMLtoMessage(*added, tree));
    const CByteBuffer addedId = added->Message().GetEntryID();

    // The same FileAs again, pairing allowed: the saved contact, not a new one.
    CTwinSearch twins;
    std::unique_ptr<CMobileMapiMessage> again =
        converter.FindOrCreateItem(folder, tree, "Contacts", &twins, &matched);
    ASSERT_TRUE(again);
    EXPECT_TRUE(matched);
    EXPECT_EQ(addedId, again->Message().GetEntryID());
    // Not when the filter refuses it, not in a folder of class "Contact", and not
    // without pairing: new items then.
    twins.eligible = [&](const std::string& key) { return key != addedId.ToText(); };
    std::unique_ptr<CMobileMapiMessage> refused =
        converter.FindOrCreateItem(folder, tree, "Contacts", &twins, &matched);
    EXPECT_FALSE(matched);
    EXPECT_TRUE(refused->Message().GetEntryID() != addedId);
    // Saved, it is a second item of that name: passed over the first, the search
    // finds the next one, and with both refused there is none.
    ASSERT_TRUE(converter.XMLtoMessage(*refused, tree));
    const CByteBuffer secondId = refused->Message().GetEntryID();
    std::unique_ptr<CMobileMapiMessage> second =
        converter.FindOrCreateItem(folder, tree, "Contacts", &twins, &matched);
    EXPECT_TRUE(matched);
    EXPECT_EQ(secondId, second->Message().GetEntryID());
    twins.eligible = [&](const std::string& key) {
        return key != addedId.ToText() && key != secondId.ToText();
    };
    std::unique_ptr<CMobileMapiMessage> third =
        converter.FindOrCreateItem(folder, tree, "Contacts", &twins, &matched);
    EXPECT_FALSE(matched);
    EXPECT_TRUE(third->Message().GetEntryID() != addedId &&
                third->Message().GetEntryID() != secondId);
    twins.eligible = nullptr;
    std::unique_ptr<CMobileMapiMessage> byClass =
        converter.FindOrCreateItem(folder, tree, "Contact", &twins, &matched);
    EXPECT_FALSE(matched);
    EXPECT_EQ(byClass->Message().GetPropText(PR_MESSAGE_CLASS), "IPM.Contact");
    EXPECT_TRUE(byClass->Message().GetEntryID() != addedId);

    // A tree that stores nothing reports that nothing was saved.
    CWBXMLLiterals nothing;
    nothing.Add(1, 0x01, "KEY");
    std::unique_ptr<CMobileMapiMessage> empty =
        converter.FindOrCreateItem(folder, nothing, "Contact", nullptr, nullptr);
    ASSERT_TRUE(empty);
    EXPECT_FALSE(converter.XMLtoMessage(*empty, nothing));

    CWBXML doc;
    doc.BeginDocument();
    EXPECT_TRUE(converter.MessageToXML(*again, doc, true));
    EXPECT_EQ(Elements(doc),
              " <COLLECTION>\n"
              "  <FirstName> 'Ann' </FirstName>\n"
              "  <LastName> 'Smith' </LastName>\n"
              "  <FileAs> 'Smith, Ann' </FileAs>\n"
              " </COLLECTION>\n");

    // An element without an open item writes nothing.
    CMobileMapiMessage keyOnly(&folder);
    EXPECT_FALSE(converter.MessageToXML(keyOnly, doc, true));
    EXPECT_FALSE(converter.XMLtoMessage(keyOnly, tree));
}
