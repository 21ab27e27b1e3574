// The item conversion as the store layer's folders and elements call it.
#include "server/itemconv/mapi_item_converter.h"

#include <gtest/gtest.h>

#include "server/config/pocket_device.h"
#include "server/itemconv/item_test_store.h"
#include "server/store/mapi_folder.h"
#include "server/store/mapi_message.h"

using itemtest::Elements;
using itemtest::PlusOne;

namespace {

class MapiItemConverterTest : public itemtest::ItemStoreTest {};

}  // namespace

TEST_F(MapiItemConverterTest, AddedContactIsMatchedSavedAndWritten) {
    CPocketDevice device;
    device.DeviceID = "DEV1";
    device.Name = "ann";
    CMobileMapiFolder folder(&device, nullptr, contacts);
    CMapiItemConverter converter(&PlusOne());

    CWBXMLLiterals tree;
    tree.Add(1, 0x1B, "Ann");
    tree.Add(1, 0x1D, "Smith");
    tree.Add(1, 0x2F, "Smith, Ann");
    std::unique_ptr<CMobileMapiMessage> added = converter.FindOrCreateItem(folder, tree, "Contact");
    ASSERT_TRUE(added);
    EXPECT_EQ(&folder, added->Folder());
    EXPECT_TRUE(converter.XMLtoMessage(*added, tree));

    // The same FileAs again: the saved contact, not a new one.
    std::unique_ptr<CMobileMapiMessage> again = converter.FindOrCreateItem(folder, tree, "Contact");
    ASSERT_TRUE(again);
    EXPECT_EQ(added->Message().GetEntryID(), again->Message().GetEntryID());

    // A tree that stores nothing reports that nothing was saved.
    CWBXMLLiterals nothing;
    nothing.Add(1, 0x01, "KEY");
    std::unique_ptr<CMobileMapiMessage> empty =
        converter.FindOrCreateItem(folder, nothing, "Contact");
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
