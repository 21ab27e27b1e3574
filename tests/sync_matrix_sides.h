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

#include <map>
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

// Fields beyond title and detail, by a name shared by the kinds: "text" (a
// contact's home telephone number, a task's or appointment's body), "date" (a
// contact's birthday, a task's due date) and "num" (a task's sensitivity, an
// appointment's busy status). Dates are written "yyyy-mm-dd" and shown
// "yyyy-mm-dd 00:00"; a number 0 is shown as empty, as is a field not set.
struct ExtraField {
    const char* name;          // "text", "date", "num"
    const char* handheld;      // skiff pim field
    const char* desktop;       // corvel-store property name as shown
    const char* desktopValue;  // the property as assigned ("...:PT_SYSTIME" where needed)
    enum Form { kText, kDate, kNumber } form;
};
// The extra fields of a kind; null for a name the kind lacks.
const ExtraField* ExtraFieldOf(PimKind kind, const std::string& name);
const std::vector<ExtraField>& ExtraFieldsOf(PimKind kind);

// One item as both sides are compared.
struct SideItem {
    std::string key;  // oid on the handheld, entry identifier on the desktop
    std::string title, detail, start, end;
    std::map<std::string, std::string> extra;  // extra field name -> shown value
    // "title | detail" (and " | start | end" for appointments), then " | name=value"
    // for every extra field that is not empty, in name order.
    std::string Line(PimKind kind) const;
};
// The shown form of an extra field's value, from either side.
std::string ShownExtra(const ExtraField& field, const std::string& value);

// What one sync reports for a folder: the items it added, changed and deleted on the
// handheld and on the desktop, and the deletions the mass-delete guard held back.
struct MatrixCounts {
    int added = 0, changed = 0, deleted = 0, matched = 0, kept = 0;
};
struct MatrixReport {
    bool found = false;
    MatrixCounts handheld, desktop;
    int heldHandheld = 0, heldDesktop = 0;
    int conflicts = 0, notStored = 0;
    bool newStore = false;  // "first sync of a new handheld store"
    // "H+a~c-d D+a~c-d", then, each only when not zero: " matched H<m> D<m>",
    // " kept H<k> D<k>", " conflicts <n>", " notstored <n>", " held H-x D-y", and
    // " newstore"; "no report".
    std::string Text() const;
};
// The report of folder reportName in a run's output: the line
// "Sync report: [first sync of a new handheld store; ]Contacts: handheld +1 ~0 -0,
// desktop +2 (1 matched) ~1 -0 (1 kept: changed on the desktop), conflicts 1, not
// stored 1 (held: desktop -3); Tasks: ...".
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
    // extra: extra field name -> value written ("" clears).
    bool HandheldAdd(PimKind kind, const std::string& title, const std::string& detail,
                     const std::map<std::string, std::string>& extra = {});
    bool HandheldSetDetail(PimKind kind, const std::string& title, const std::string& detail);
    bool HandheldSetExtra(PimKind kind, const std::string& title,
                          const std::map<std::string, std::string>& extra);
    // Makes the handheld's PIM store afresh (empty), its state files left as they are.
    bool HandheldNewStore();
    bool HandheldRename(PimKind kind, const std::string& title, const std::string& newTitle);
    bool HandheldDelete(PimKind kind, const std::string& title);
    // Deletes the items of those titles, listing the folder once.
    bool HandheldDeleteAll(PimKind kind, const std::vector<std::string>& titles);
    std::vector<SideItem> Handheld(PimKind kind);

    // Desktop side ("corvel-store").
    bool DesktopAdd(PimKind kind, const std::string& title, const std::string& detail,
                    const std::map<std::string, std::string>& extra = {});
    bool DesktopSetDetail(PimKind kind, const std::string& title, const std::string& detail);
    bool DesktopSetExtra(PimKind kind, const std::string& title,
                         const std::map<std::string, std::string>& extra);
    bool DesktopRename(PimKind kind, const std::string& title, const std::string& newTitle);
    bool DesktopDelete(PimKind kind, const std::string& title);
    bool DesktopDeleteAll(PimKind kind, const std::vector<std::string>& titles);
    std::vector<SideItem> Desktop(PimKind kind);

    // By key, for items of repeated names. fields: "title", "detail" (a number, shown
    // per kind) and extra field names, each -> value ("" clears; a title cleared on
    // the desktop is removed). Adds return the new item's key ("" on failure).
    std::string HandheldAddItem(PimKind kind, const std::map<std::string, std::string>& fields);
    bool HandheldSet(PimKind kind, const std::string& key,
                     const std::map<std::string, std::string>& fields);
    bool HandheldDeleteKey(const std::string& key);
    std::string DesktopAddItem(PimKind kind, const std::map<std::string, std::string>& fields);
    bool DesktopSet(PimKind kind, const std::string& key,
                    const std::map<std::string, std::string>& fields);
    bool DesktopDeleteKey(const std::string& key);

    // One "skiff sync --json" with the extra arguments and environment, straight to
    // the server or through a relay that drops the answer.
    SyncOutcome Sync(const std::vector<std::string>& args = {},
                     const std::vector<std::string>& env = {}, bool loseAnswer = false);

    // The last bytes corvel wrote (both streams), after a note when it is gone.
    std::string ServerOutputTail(size_t bytes = 2000);

    // The dump of the last answer in corvel's protocol trace ("" when there is none).
    std::string LastAnswerTrace() const;

    // What went wrong in the side operations so far.
    const std::vector<std::string>& Problems() const { return problems_; }

private:
    bool Fail(const std::string& what, const ProgramRun& run);
    // The item of title among items of one side (handheld, desktop); a problem
    // noted when there is none.
    std::optional<SideItem> FindOn(const std::vector<SideItem>& items, const char* side,
                                   PimKind kind, const std::string& title);
    std::optional<SideItem> FindHandheld(PimKind kind, const std::string& title);
    // Each of titles found among items and removed with remove; false when one is
    // missing or its removal failed (the others are still removed).
    bool DeleteAllOn(const std::vector<SideItem>& items, const char* side, PimKind kind,
                     const std::vector<std::string>& titles,
                     bool (SyncSides::*remove)(const SideItem&, const std::string&));
    // Deletes item (of title) with skiff pim delete, or with corvel-store delete.
    bool RemoveHandheld(const SideItem& item, const std::string& title);
    bool RemoveDesktop(const SideItem& item, const std::string& title);
    std::optional<SideItem> FindDesktop(PimKind kind, const std::string& title);
    bool ConfigureSkiff(int port);
    bool HandheldAssignments(PimKind kind, const std::map<std::string, std::string>& fields,
                             std::vector<std::string>& assignments);
    bool DesktopAssignments(PimKind kind, const std::map<std::string, std::string>& fields,
                            std::vector<std::string>& set, std::vector<std::string>& unset);

    TempFolder temp_;
    std::unique_ptr<BackgroundProgram> corvel_;
    int port_ = 0;
    std::string error_;
    std::vector<std::string> problems_;
};

// The detail as a side shows the number n ("Firma 2", "2", "Raum 2").
std::string ShownDetail(PimKind kind, const std::string& n);
// The items as sorted lines, one per item, for whole-text comparison.
std::string ViewOf(PimKind kind, const std::vector<SideItem>& items);
// "2026-12-10 09:00" from "10.12.2026 09:00.00:0" (handheld) or
// "2026-12-10T09:00:00Z" (desktop); other text as it is.
std::string NormalDate(const std::string& text);
