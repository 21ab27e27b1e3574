// FindOrCreateItem: the store item an item added by a device goes to.
//
// The key depends on the folder kind text: "Contacts" (or the store folder's
// class name "Contact") the file-as property
// (address set 0x8005) against the element's (1, 0x2F FileAs); "Task" PR_SUBJECT
// against (3, 0x01 TaskSubject); "Appointment" PR_SUBJECT against (2, 0x01
// Subject); each taken from the top level of the tree. The first item of the
// folder whose key property equals the key text is opened for writing. An empty
// key never matches (an item without a file-as or subject would otherwise
// overwrite the first unrelated item that also lacks one): a new item is made.
// Without a match, and for any other folder kind text, a new item is created in
// the folder; for the three kinds its class is "IPM.Contact", "IPM.Task" or
// "IPM.Appointment".
//
// Runs on the request thread that owns the folder.
#pragma once

#include <string>

#include "common/wbxml/wbxml_literals.h"
#include "server/mapi/mapi_wrapper.h"

// The matching or new item (a new one exists for others after its SaveChanges).
// An empty pointer after a store error, which is traced ("FindOrCreateItem: %s").
IMessagePtr FindOrCreateItem(IMAPIFolderPtr& folder, const CWBXMLLiterals& fields,
                             const std::string& folderKind);

// The entry ID of the first item of folder whose keyTag property equals key, or
// no bytes when none does (and always for an empty key). Raises CMAPIException on
// store errors.
CByteBuffer FindItemByKey(IMAPIFolderPtr& folder, ULONG keyTag, const std::string& key);
