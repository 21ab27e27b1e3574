// A test client for the Vantro protocol: builds request bodies from a readable
// description and turns answer bodies back into the same form, so tests compare
// whole documents as text. A test helper, not product code.
//
// Description: one element per line, nesting by two spaces of indentation.
// "Name" opens a container, "Name value" is a text element (the value runs to the
// end of the line and may be empty with "Name ="; "Name ~" is the empty element a
// cleared field is sent as, WriteEmptyElement). Names are those of the tag table;
// "P:Name" picks code page P ("1:FileAs"), otherwise page 0 is tried first and then
// the first page that has the name.
//   Logon
//     DeviceID PPC1_Pocket
//   Sync
//     GetData
//       Folder
//         FolderType Contact
#pragma once

#include <string>
#include <string_view>

// The WBXML body for description (03 01 6A 00 first). Throws std::invalid_argument
// for an unknown name or a line indented deeper than its parent allows.
std::string BuildVantroBody(const std::string& description);

// The readable form of a WBXML document (header skipped): the description syntax,
// with "P:" before names of pages other than 0, a value after every text element,
// and "!cut" when the document ends inside an element.
std::string DescribeVantroBody(std::string_view body);

// The whole HTTP request for body ("POST vantro", content type "application/vantro").
std::string VantroHttpRequest(const std::string& body);

// The body of an HTTP answer (after the first blank line); empty when there is none.
std::string AnswerBody(const std::string& answer);
