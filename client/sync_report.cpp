// The sync report line and its JSON form.
#include "client/sync_report.h"

namespace {

std::string Counts(const char* side, const SideCounts& c) {
    return std::string(side) + " +" + std::to_string(c.added) + " ~" + std::to_string(c.changed) +
           " -" + std::to_string(c.deleted);
}

std::string CountsJson(const SideCounts& c) {
    return "{\"added\":" + std::to_string(c.added) + ",\"changed\":" + std::to_string(c.changed) +
           ",\"deleted\":" + std::to_string(c.deleted) + "}";
}

}  // namespace

std::string FormatReportLine(const SyncReport& report) {
    if (report.empty()) return "Sync report: no folder";
    std::string line = "Sync report: ";
    for (size_t i = 0; i < report.size(); ++i) {
        const FolderReport& f = report[i];
        if (i > 0) line += "; ";
        line +=
            f.name + ": " + Counts("handheld", f.handheld) + ", " + Counts("desktop", f.desktop);
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
    for (size_t i = 0; i < report.size(); ++i) {
        const FolderReport& f = report[i];
        if (i > 0) json += ",";
        // Folder names are fixed ASCII words, so no escaping is needed.
        json += "{\"folder\":\"" + f.name + "\",\"handheld\":" + CountsJson(f.handheld) +
                ",\"desktop\":" + CountsJson(f.desktop) +
                ",\"held\":{\"handheld\":" + std::to_string(f.heldHandheld) +
                ",\"desktop\":" + std::to_string(f.heldDesktop) + "}}";
    }
    return json + "]";
}

bool MassDeleteHeld(const SyncReport& report) {
    for (const FolderReport& f : report) {
        if (f.heldHandheld > 0 || f.heldDesktop > 0) return true;
    }
    return false;
}
