// The two sides of a sync, as a person sees them: a handheld (the skiff program and
// its PIM store) and a desktop (corvel --headless over a message store, inspected and
// changed with corvel-store), both over one temporary data home.
//
// Items are compared in a reduced form that both sides hold: a title (the match key:
// FileAs of a contact, the subject of a task or appointment), a detail (a contact's
// company, a task's importance, an appointment's location) and, for appointments,
// start and end. Details are written as small numbers and shown per kind ("Firma 2",
// importance 2, "Raum 2").
//
// One test thread uses a SyncSides at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/config/config_test_util.h"
#include "tests/sync_matrix_json.h"
#include "tests/sync_matrix_process.h"
#include "tests/sync_matrix_proxy.h"

enum class PimKind { kContacts, kTasks, kAppointments };

struct PimKindInfo {
    PimKind kind;
    const char* name;          // "contacts", "tasks", "appointments"
    const char* pimFolder;     // skiff pim folder name
    const char* storeFolder;   // corvel-store folder path
    const char* messageClass;  // class of items made on the desktop
    const char* reportName;    // the folder's name in skiff's sync report
};
const PimKindInfo& InfoOf(PimKind kind);

// One item as both sides are compared.
struct SideItem {
    std::string key;  // oid on the handheld, entry identifier on the desktop
    std::string title, detail, start, end;
    // "title | detail" (and " | start | end" for appointments).
    std::string Line(PimKind kind) const;
};

// What one sync reports for a folder: the items it added, changed and deleted on the
// handheld and on the desktop, and the deletions the mass-delete guard held back.
struct MatrixCounts {
    int added = 0, changed = 0, deleted = 0;
};
struct MatrixReport {
    bool found = false;
    MatrixCounts handheld, desktop;
    int heldHandheld = 0, heldDesktop = 0;
    // "H+a~c-d D+a~c-d", then " held H-x D-y" when deletions were held; "no report".
    std::string Text() const;
};
// The report of folder reportName in a run's output: the line
// "Sync report: Contacts: handheld +1 ~0 -0, desktop +2 ~1 -0 (held: desktop -3); Tasks: ...".
MatrixReport ParseSyncReport(const std::string& output, const std::string& reportName);

struct SyncOutcome {
    ProgramRun run;
    std::optional<JsonValue> result;  // the JSON line of "skiff sync --json"
    MatrixReport Report(PimKind kind) const;
};

class SyncSides {
public:
    // Makes the user (corvel user add --auto), starts corvel and configures skiff.
    // Check Error() before use.
    SyncSides();
    ~SyncSides();
    const std::string& Error() const { return error_; }
    const std::string& Home() const { return temp_.Path(); }
    int ServerPort() const { return port_; }

    // Handheld side ("skiff pim"): true when done; failures are added to Problems().
    bool HandheldAdd(PimKind kind, const std::string& title, const std::string& detail);
    bool HandheldSetDetail(PimKind kind, const std::string& title, const std::string& detail);
    bool HandheldRename(PimKind kind, const std::string& title, const std::string& newTitle);
    bool HandheldDelete(PimKind kind, const std::string& title);
    // Deletes the items of those titles, listing the folder once.
    bool HandheldDeleteAll(PimKind kind, const std::vector<std::string>& titles);
    std::vector<SideItem> Handheld(PimKind kind);

    // Desktop side ("corvel-store").
    bool DesktopAdd(PimKind kind, const std::string& title, const std::string& detail);
    bool DesktopSetDetail(PimKind kind, const std::string& title, const std::string& detail);
    bool DesktopRename(PimKind kind, const std::string& title, const std::string& newTitle);
    bool DesktopDelete(PimKind kind, const std::string& title);
    bool DesktopDeleteAll(PimKind kind, const std::vector<std::string>& titles);
    std::vector<SideItem> Desktop(PimKind kind);

    // One "skiff sync --json" with the extra arguments and environment, straight to
    // the server or through a relay that drops the answer.
    SyncOutcome Sync(const std::vector<std::string>& args = {},
                     const std::vector<std::string>& env = {}, bool loseAnswer = false);

    // The dump of the last answer in corvel's protocol trace ("" when there is none).
    std::string LastAnswerTrace() const;

    // What went wrong in the side operations so far.
    const std::vector<std::string>& Problems() const { return problems_; }

private:
    bool Fail(const std::string& what, const ProgramRun& run);
    std::optional<SideItem> FindHandheld(PimKind kind, const std::string& title);
    std::optional<SideItem> FindDesktop(PimKind kind, const std::string& title);
    bool ConfigureSkiff(int port);

    TempFolder temp_;
    std::unique_ptr<BackgroundProgram> corvel_;
    int port_ = 0;
    std::string error_;
    std::vector<std::string> problems_;
};

// The items as sorted lines, one per item, for whole-text comparison.
std::string ViewOf(PimKind kind, const std::vector<SideItem>& items);
// "2026-12-10 09:00" from "10.12.2026 09:00.00:0" (handheld) or
// "2026-12-10T09:00:00Z" (desktop); other text as it is.
std::string NormalDate(const std::string& text);
