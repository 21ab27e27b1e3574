// The text format of user (.dxt) and device (.ifo) files, as pure functions over
// text so that tests need no files.
//
// Writing, lines ended by a single line feed, in this order:
//   "Name=%s" "Passwort=%s" "DeviceID=%s" "ProfileName=%s" "SignaturShort=%s"
//   "SignaturAlways=%d" "TimeZoneDifference=%d"
//   "Folder=%s,%d,%d,%s,%d,%d" per folder: Outlook path, subfolders, reserved,
//        virtual path, default code, kind; an empty path is written as one blank
//   "Signatur:" then the signature text and a line feed.
// CR and LF inside a value (the signature excepted) are written as blanks, so no
// value can add a line of its own. A value, or a line of the signature, that would
// make its line longer than the reader takes (kMaxLineLength, line end included) is
// cut at the start of a UTF-8 character to what fits (FitDeviceFileLines), so that
// the file gives back what was written; Folder lines are written whole.
//
// Reading, line by line (any line end: "\n" or "\r\n"; lines longer than
// kMaxLineLength are skipped):
//  - a line equal to "Signatur:" (any case) ends the keys; every later line is part
//    of the signature, which is the lines joined by line feeds (the line feed the
//    writer puts after the text is not part of it);
//  - other lines split at the first "="; keys compare ignoring case; unknown keys
//    and lines without "=" are skipped;
//  - a Folder value without "," is the Outlook path alone; otherwise it is cut at
//    every "," (runs give no empty tokens). Six tokens fill path, subfolders,
//    reserved, virtual path, default code and kind. With more than six (a path or a
//    virtual path holding ","), the path runs up to the first two consecutive integer
//    tokens, the last two tokens are code and kind, and what lies between is the
//    virtual path; the pieces are joined with "," again. A token of one blank is an
//    empty text. The kind is then replaced by the one the default code implies.
#pragma once

#include <string>
#include <string_view>

#include "server/devices/pocket_device.h"

// The whole file text for record, its values fitted first (FitDeviceFileLines).
std::string SerializeDeviceFile(const CDeviceConfig& record);

// Cuts the values of record whose lines the reader would skip, as the file format
// above says; true when anything was cut. A record's configuration is kept fitted,
// so it holds what its file gives back.
bool FitDeviceFileLines(CDeviceConfig& record);

// Reads one line (without its line end) into record. inSignature tracks whether the
// "Signatur:" line was seen; start it false. The signature collects each of its
// lines followed by a line feed; FinishDeviceFile removes the last line feed.
void ParseDeviceFileLine(std::string_view line, CDeviceConfig& record, bool& inSignature);
void FinishDeviceFile(CDeviceConfig& record);

// Parses a whole text (clearing the signature first).
void ParseDeviceFile(std::string_view text, CDeviceConfig& record);

// The folder of one Folder value.
CFolderSetting ParseFolderValue(std::string_view value);
