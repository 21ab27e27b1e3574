// Both sides of a sync for recurring appointments, as a person sees them: skiff and
// its PIM store, corvel --headless over a message store inspected and changed with
// corvel-store, all over one temporary data home and in one time zone.
//
// Desktop series are stored as the desktop keeps them: the recurrence blob
// (PSETID_Appointment 0x8216) with the recurring flag, the recurrence type and the
// whole start and end, which the tests write and read as hexadecimal text.
//
// One test thread uses a RecurrenceSides at a time.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/config/config_test_util.h"
#include "server/itemconv/recurrence_blob.h"
#include "tests/sync_matrix_json.h"
#include "tests/sync_matrix_process.h"

class RecurrenceSides {
public:
    // zone: the TZ of every program. Check Error() before use.
    explicit RecurrenceSides(const std::string& zone = "UTC");
    ~RecurrenceSides();
    const std::string& Error() const { return error_; }
    // corvel's web port, and what it wrote so far (its live trace).
    int Port() const { return port_; }
    std::string ServerOutput() { return corvel_ ? corvel_->Out() : std::string(); }

    ProgramRun Skiff(const std::vector<std::string>& args);
    ProgramRun Store(const std::vector<std::string>& args);
    // "skiff sync --json"; its report line ("" when there is none).
    std::string Sync();

    // A desktop appointment with the blob and the start and end (ISO 8601 UTC);
    // its entry identifier.
    std::string DesktopSeries(const std::string& subject, const std::string& blobHex,
                              const std::string& startIso, const std::string& endIso);
    // The entry identifier of the desktop item with that subject ("" when none).
    std::string DesktopKey(const std::string& subject);
    // The value of a property of a desktop item as corvel-store shows it ("" when
    // the item lacks it).
    std::string DesktopProperty(const std::string& key, const std::string& name);
    std::string DesktopBlobHex(const std::string& key) {
        return DesktopProperty(key, "PSETID_Appointment:0x8216");
    }
    std::optional<CRecurrenceBlob> DesktopBlob(const std::string& key);
    // Replaces a desktop item's blob.
    bool SetDesktopBlob(const std::string& key, const std::string& blobHex);

    // The handheld appointment with that subject: its object identifier ("" when none).
    std::string HandheldOid(const std::string& subject);
    std::string HandheldShow(const std::string& oid);
    // "start end subject[ changed]" per occurrence of that item in [from, to].
    std::vector<std::string> HandheldOccurrences(const std::string& oid, const std::string& from,
                                                 const std::string& to);

private:
    TempFolder temp_;
    std::vector<std::string> env_;
    std::unique_ptr<BackgroundProgram> corvel_;
    int port_ = 0;
    std::string error_;
};

// "2007-03-26T10:00:00Z" for minutes since 1601 (the blob's count).
std::string IsoOfMinutes(std::int64_t minutes);
// The recurrence type property (1 daily ... 4 yearly) of a blob.
int RecurrenceTypeOf(const CRecurrenceBlob& blob);
