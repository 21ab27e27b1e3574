// Fuzz target: what Skiff reads of recurring appointments. The first byte picks the
// reader; the rest is its input.
//   0: a Recurrence element (WBXML) as an answer carries it; a series it accepts
//      is stored and expanded; written back and read again it is the same series
//      from the first exchange on (a time that daylight saving skips is moved once)
//   1: the text form of a pattern ("skiff pim ... --recurrence"); a pattern that
//      reads is written and read again as the same pattern
//   2: "NAME=VALUE" fields of an exception
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "client/appointment_recurrence.h"
#include "client/recurrence_text.h"

namespace {

struct Scratch {
    Scratch() {
        auto dir = std::filesystem::temp_directory_path() /
                   ("skiff-recurrence-fuzz-" + std::to_string(::getpid()));
        setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
        setenv("TZ", "Europe/Berlin", 1);
        app.Logon();
        appointment = app.GetDefaultFolder(olFolderCalendar)->Items().Add();
        appointment->SetText("Subject", "Jour fixe");
        appointment->SetDate("Start", 45369.4166666667);  // 2024-03-18 10:00
        appointment->SetDate("End", 45369.4375);
    }
    PocketOutlookApplication app;
    std::unique_ptr<PimItem> appointment;
};

CWBXMLLiterals Children(const std::string& document) {
    CWBXML reader;
    reader.SetDocument(document);
    CWBXMLEvent event;
    CWBXMLLiterals children;
    reader.NextEvent(event);
    if (event.EventKind == kWBXMLStartTag) reader.BuildTree(children, event);
    return children;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    if (size == 0) return 0;
    std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    PimItem& item = *scratch.appointment;
    switch (data[0] % 3) {
        case 0: {
            ReceivedRecurrence received =
                ReadRecurrenceBlock(Children(input), item.AppointmentFields());
            if (!received.recurrence) break;
            std::string why;
            // What the reader accepts can be stored and expanded.
            if (!item.SetRecurrence(*received.recurrence, &why)) abort();
            ExpandOccurrences(item.AppointmentFields(), *item.GetRecurrence(), 0, 1e6);
            std::string signatures[2];
            for (std::string& signature : signatures) {
                CWBXML writer;
                writer.BeginDocument();
                WriteRecurrenceBlock(writer, item, false);
                ReceivedRecurrence again = ReadRecurrenceBlock(
                    Children(std::string(writer.Document().View())), item.AppointmentFields());
                if (!again.recurrence || !item.SetRecurrence(*again.recurrence, &why)) abort();
                signature = RecurrenceSignature(item.GetRecurrence());
            }
            if (signatures[0] != signatures[1]) abort();
            break;
        }
        case 1: {
            PimRecurrencePattern pattern;
            std::string error;
            if (!ParseRecurrencePattern(input, 45369, pattern, error)) break;
            PimRecurrencePattern again;
            if (!ParseRecurrencePattern(FormatRecurrencePattern(pattern), 0, again, error)) abort();
            if (FormatRecurrencePattern(again) != FormatRecurrencePattern(pattern)) abort();
            break;
        }
        case 2: {
            PimException e;
            std::string error;
            size_t eq = input.find('=');
            if (eq == std::string::npos) break;
            if (ApplyExceptionField(input.substr(0, eq), input.substr(eq + 1), e, error))
                FormatException(e);
            break;
        }
    }
    return 0;
}
