// The two sides of the recurrence end-to-end tests.
#include "tests/recurrence_sides.h"

#include <cstdio>

#include "server/itemconv/item_time.h"
#include "server/itemconv/recurrence_vectors_test.h"

std::string IsoOfMinutes(std::int64_t minutes) {
    CItemTime t = ItemTimeFromMinutes(minutes);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:00Z", t.year, t.month, t.day, t.hour,
                  t.minute);
    return buf;
}

int RecurrenceTypeOf(const CRecurrenceBlob& blob) {
    return blob.recurFrequency == kRecurFrequencyDaily     ? 1
           : blob.recurFrequency == kRecurFrequencyWeekly  ? 2
           : blob.recurFrequency == kRecurFrequencyMonthly ? 3
                                                           : 4;
}

RecurrenceSides::RecurrenceSides(const std::string& zone) : env_{"TZ=" + zone} {
    if (temp_.Path().empty()) {
        error_ = "no temporary folder";
        return;
    }
    ProgramRun add = RunProgram("corvel", temp_.Path(),
                                {"user", "add", "alice", "--password", "Secret", "--auto"}, env_);
    if (add.status != 0) {
        error_ = "corvel user add: " + add.out + add.err;
        return;
    }
    corvel_ = std::make_unique<BackgroundProgram>(
        "corvel", temp_.Path(),
        std::vector<std::string>{"--headless", "--port", "0", "--https-port", "0", "--trace-port",
                                 "0"},
        env_);
    std::string port = corvel_->WaitFor("Web server listening on port ([0-9]+)\n");
    if (port.empty()) {
        error_ = "corvel did not start: " + corvel_->Out();
        return;
    }
    port_ = std::stoi(port);
    ProgramRun config = Skiff(
        {"config", "--server", "127.0.0.1:" + port, "--user", "alice", "--password", "Secret"});
    if (config.status != 0) error_ = "skiff config: " + config.out + config.err;
}

RecurrenceSides::~RecurrenceSides() {
    if (corvel_) corvel_->Stop();
}

ProgramRun RecurrenceSides::Skiff(const std::vector<std::string>& args) {
    return RunProgram("skiff", temp_.Path(), args, env_);
}

ProgramRun RecurrenceSides::Store(const std::vector<std::string>& args) {
    return RunProgram("corvel-store", temp_.Path(), args, env_);
}

std::string RecurrenceSides::Sync() {
    ProgramRun run = Skiff({"sync", "--json"});
    EXPECT_EQ(0, run.status) << run.out << run.err;
    std::optional<JsonValue> result = FirstJsonLine(run.out);
    return result ? result->Text("reportLine") : "";
}

std::string RecurrenceSides::DesktopSeries(const std::string& subject, const std::string& blobHex,
                                           const std::string& startIso, const std::string& endIso) {
    std::optional<CRecurrenceBlob> blob = DecodeRecurrenceBlob(HexBytes(blobHex));
    EXPECT_TRUE(blob) << blobHex;
    ProgramRun add = Store(
        {"--json", "add", "Calendar", "--class", "IPM.Appointment", "PR_SUBJECT=" + subject,
         "PSETID_Appointment:0x8216:PT_BINARY=" + blobHex, "PSETID_Appointment:0x8223:PT_BOOLEAN=1",
         "PSETID_Appointment:0x8231:PT_LONG=" + std::to_string(blob ? RecurrenceTypeOf(*blob) : 0),
         "PSETID_Appointment:0x820D:PT_SYSTIME=" + startIso,
         "PSETID_Appointment:0x820E:PT_SYSTIME=" + endIso});
    EXPECT_EQ(0, add.status) << add.out << add.err;
    std::optional<JsonValue> result = ParseJson(add.out);
    return result ? result->Text("entryid") : "";
}

std::string RecurrenceSides::DesktopKey(const std::string& subject) {
    ProgramRun items = Store({"--json", "items", "Calendar"});
    std::optional<JsonValue> list = ParseJson(items.out);
    if (!list) return "";
    for (const JsonValue& item : list->items) {
        if (item.Text("subject") == subject) return item.Text("entryid");
    }
    return "";
}

std::string RecurrenceSides::DesktopProperty(const std::string& key, const std::string& name) {
    ProgramRun show = Store({"--json", "show", key});
    std::optional<JsonValue> shown = ParseJson(show.out);
    const JsonValue* properties = shown ? shown->Find("properties") : nullptr;
    if (!properties) return "";
    for (const JsonValue& p : properties->items) {
        if (p.Text("name") != name) continue;
        const JsonValue* value = p.Find("value");
        if (value && value->type == JsonValue::Type::kBool) return value->boolean ? "1" : "0";
        return p.Text("value");
    }
    return "";
}

std::optional<CRecurrenceBlob> RecurrenceSides::DesktopBlob(const std::string& key) {
    return DecodeRecurrenceBlob(HexBytes(DesktopBlobHex(key)));
}

bool RecurrenceSides::SetDesktopBlob(const std::string& key, const std::string& blobHex) {
    ProgramRun set = Store({"set", key, "PSETID_Appointment:0x8216:PT_BINARY=" + blobHex});
    EXPECT_EQ(0, set.status) << set.out << set.err;
    return set.status == 0;
}

std::string RecurrenceSides::HandheldOid(const std::string& subject) {
    ProgramRun list = Skiff({"pim", "list", "calendar", "--json"});
    std::optional<JsonValue> items = ParseJson(list.out);
    if (!items) return "";
    for (const JsonValue& item : items->items) {
        const JsonValue* fields = item.Find("fields");
        if (fields && fields->Text("Subject") == subject) return item.Text("oid");
    }
    return "";
}

std::string RecurrenceSides::HandheldShow(const std::string& oid) {
    return Skiff({"pim", "show", oid}).out;
}

std::vector<std::string> RecurrenceSides::HandheldOccurrences(const std::string& oid,
                                                              const std::string& from,
                                                              const std::string& to) {
    std::vector<std::string> out;
    ProgramRun run = Skiff({"pim", "occurrences", from, to, "--json"});
    std::optional<JsonValue> list = ParseJson(run.out);
    if (!list) return out;
    for (const JsonValue& o : list->items) {
        if (o.Text("oid") != oid) continue;
        const JsonValue* changed = o.Find("changed");
        out.push_back(o.Text("start") + " " + o.Text("end").substr(11) + " " + o.Text("subject") +
                      (changed && changed->boolean ? " changed" : ""));
    }
    return out;
}
