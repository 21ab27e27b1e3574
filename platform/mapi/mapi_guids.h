// Property-set GUIDs and interface identifiers with their published values.
#pragma once

#include <string>

#include "platform/mapi/mapi_types.h"

// Property sets ([MS-OXPROPS] 1.3.2).
extern const GUID PS_PUBLIC_STRINGS;   // {00020329-0000-0000-C000-000000000046}
extern const GUID PS_MAPI;             // {00020328-0000-0000-C000-000000000046}
extern const GUID PSETID_Address;      // {00062004-0000-0000-C000-000000000046}
extern const GUID PSETID_Appointment;  // {00062002-0000-0000-C000-000000000046}
extern const GUID PSETID_Task;         // {00062003-0000-0000-C000-000000000046}
extern const GUID PSETID_Common;       // {00062008-0000-0000-C000-000000000046}
extern const GUID PSETID_Meeting;      // {6ED8DA90-450B-101B-98DA-00AA003F1305}
extern const GUID GUID_NULL;           // all zero

// Interfaces. OpenEntry, CreateMessage and the like accept a null interface for the
// object's own one; OpenProperty needs IID_IStream or IID_IMAPITable.
extern const IID IID_IUnknown;        // {00000000-0000-0000-C000-000000000046}
extern const IID IID_IStream;         // {0000000C-0000-0000-C000-000000000046}
extern const IID IID_IMAPISession;    // {00020300-0000-0000-C000-000000000046}
extern const IID IID_IMAPITable;      // {00020301-0000-0000-C000-000000000046}
extern const IID IID_IMAPIProp;       // {00020303-0000-0000-C000-000000000046}
extern const IID IID_IMAPIContainer;  // {0002030B-0000-0000-C000-000000000046}
extern const IID IID_IMAPIFolder;     // {0002030C-0000-0000-C000-000000000046}
extern const IID IID_IMsgStore;       // {00020306-0000-0000-C000-000000000046}
extern const IID IID_IMessage;        // {00020307-0000-0000-C000-000000000046}
extern const IID IID_IAttachment;     // {00020308-0000-0000-C000-000000000046}
extern const IID IID_IProfAdmin;      // {0002031C-0000-0000-C000-000000000046}
// The engine's own: write batches.
extern const IID IID_IWriteBatch;  // {5C1D6B0E-73A4-4C2B-9E51-2F7A0D83B6C4}
// And read snapshots.
extern const IID IID_IReadSnapshot;  // {8E2F4A17-5B3C-4D6E-A1F0-6C9D2B4E7A35}

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, hex digits in
// either case). Returns false and leaves out unchanged on any other text.
bool GuidFromText(const char* text, GUID& out);
// Formats as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::string GuidToText(const GUID& guid);
