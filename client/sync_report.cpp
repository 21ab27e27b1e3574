// The sync report line and its JSON form.
#include "client/sync_report.h"

namespace {

std::string Counts(const char* side, const SideCounts& c, const char* keptBecause) {
    std::string text = std::string(side) + " +" + std::to_string(c.added);
    if (c.matched > 0) text += " (" + std::to_string(c.matched) + " matched)";
    text += " ~" + std::to_string(c.changed) + " -" + std::to_string(c.deleted);
    if (c.kept > 0) text += " (" + std::to_string(c.kept) + " kept: " + keptBecause + ")";
    return text;
}

std::string CountsJson(const SideCounts& c) {
    return "{\"added\":" + std::to_string(c.added) + ",\"matched\":" + std::to_string(c.matched) +
           ",\"changed\":" + std::to_string(c.changed) +
           ",\"deleted\":" + std::to_string(c.deleted) + ",\"kept\":" + std::to_string(c.kept) +
           "}";
}

}  // namespace

std::string FormatReportLine(const SyncReport& report) {
    if (report.folders.empty()) return "Sync report: no folder";
    std::string line = "Sync report: ";
    if (report.newHandheldStore) line += "first sync of a new handheld store; ";
    for (size_t i = 0; i < report.folders.size(); ++i) {
        const FolderReport& f = report.folders[i];
        if (i > 0) line += "; ";
        line += f.name + ": " + Counts("handheld", f.handheld, "changed on the handheld") + ", " +
                Counts("desktop", f.desktop, "changed on the desktop");
        if (f.conflicts > 0) line += ", conflicts " + std::to_string(f.conflicts);
        if (f.notStored > 0) line += ", not stored " + std::to_string(f.notStored);
        std::string held;
        if (f.heldHandheld > 0) held = "handheld -" + std::to_string(f.heldHandheld);
        if (f.heldDesktop > 0) {
            held += (held.empty() ? "" : ", ") + std::string("desktop -") +
                    std::to_string(f.heldDesktop);
        }
        if (!held.empty()) line += " (held: " + held + ")";
    }
    return line;
}

std::string ReportJson(const SyncReport& report) {
    std::string json = "[";
    for (size_t i = 0; i < report.folders.size(); ++i) {
        const FolderReport& f = report.folders[i];
        if (i > 0) json += ",";
        // Folder names are fixed ASCII words, so no escaping is needed.
        json += "{\"folder\":\"" + f.name + "\",\"handheld\":" + CountsJson(f.handheld) +
                ",\"desktop\":" + CountsJson(f.desktop) +
                ",\"conflicts\":" + std::to_string(f.conflicts) +
                ",\"notStored\":" + std::to_string(f.notStored) +
                ",\"held\":{\"handheld\":" + std::to_string(f.heldHandheld) +
                ",\"desktop\":" + std::to_string(f.heldDesktop) + "}}";
    }
    return json + "]";
}

bool MassDeleteHeld(const SyncReport& report) {
    for (const FolderReport& f : report.folders) {
        if (f.heldHandheld > 0 || f.heldDesktop > 0) return true;
    }
    return false;
}

int NotStoredCount(const SyncReport& report) {
    int count = 0;
    for (const FolderReport& f : report.folders) count += f.notStored;
    return count;
}

int ConflictCount(const SyncReport& report) {
    int count = 0;
    for (const FolderReport& f : report.folders) count += f.conflicts;
    return count;
}
