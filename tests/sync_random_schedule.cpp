// The randomized schedule: operations drawn from a seeded generator, carried out with
// SyncSides and followed by the model.
#include "tests/sync_random_schedule.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <sstream>
#include <vector>

#include "tests/sync_random_model.h"

namespace {

// skiff's test hooks and the exit statuses they lead to.
constexpr const char* kExitAfterApplied = "SKIFF_TEST_EXIT_AFTER_APPLIED";
constexpr const char* kStopAfterSend = "SKIFF_TEST_STOP_AFTER_SEND";
constexpr int kKilledStatus = 137;
constexpr int kStoppedStatus = 130;

// Names repeat on purpose: the empty name, and one with a comma.
const char* const kTitles[] = {"bob", "ann", "", "Smith, John"};

enum class Side { kHandheld, kDesktop };

class ScheduleRun {
public:
    ScheduleRun(std::uint32_t seed, const ScheduleLimits& limits) : rng_(seed), limits_(limits) {
        for (PimKind kind : {PimKind::kContacts, PimKind::kTasks, PimKind::kAppointments})
            models_.emplace_back(kind);
    }

    ScheduleOutcome Run() {
        ScheduleOutcome outcome;
        if (!sides_.Error().empty()) {
            outcome.failure = "no sides: " + sides_.Error();
            return outcome;
        }
        bool ok = FirstSync();
        for (int round = 0; ok && round < limits_.rounds; ++round) {
            int operations = 1 + Pick(limits_.maxOperations);
            for (int i = 0; ok && i < operations; ++i) ok = Operation();
            ok = ok && RandomSync();
        }
        // Two quiet syncs: the first finishes what is left, the second finds nothing.
        ok = ok && Sync("quiet sync", {}, {}, false, ModelSync::kPlain) && Check("quiet sync");
        ok = ok && Sync("second quiet sync", {}, {}, false, ModelSync::kPlain, true) &&
             Check("second quiet sync");
        outcome.passed = ok;
        outcome.syncs = syncs_;
        if (!ok) outcome.failure = failure_ + "\nsteps:\n" + log_.str();
        return outcome;
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    bool Chance(int percent) { return Pick(100) < percent; }
    std::string Fresh() { return std::to_string(++counter_); }

    std::string ValueOf(const ExtraField& field) {
        switch (field.form) {
            case ExtraField::kText:
                return "t" + Fresh();
            case ExtraField::kDate: {
                auto twoDigits = [](int n) { return (n < 10 ? "0" : "") + std::to_string(n); };
                return "2027-" + twoDigits(1 + Pick(12)) + "-" + twoDigits(1 + Pick(28));
            }
            case ExtraField::kNumber:
                break;
        }
        return std::to_string(1 + Pick(3));
    }

    ModelFields NewFields(PimKind kind, const std::string& title) {
        ModelFields fields = {{"title", title}, {"detail", Fresh()}};
        for (const ExtraField& field : ExtraFieldsOf(kind)) {
            if (Chance(50)) fields[field.name] = ValueOf(field);
        }
        return fields;
    }

    ModelFields Changes(PimKind kind) {
        std::vector<std::string> names = models_[Index(kind)].FieldNames();
        std::shuffle(names.begin(), names.end(), rng_);
        names.resize(1 + Pick(std::min<int>(3, static_cast<int>(names.size()))));
        ModelFields changes;
        for (const std::string& name : names) {
            if (name == "title") {
                changes[name] = kTitles[Pick(4)];
            } else if (name == "detail") {
                changes[name] = Fresh();
            } else {
                const ExtraField* field = ExtraFieldOf(kind, name);
                changes[name] = Chance(35) ? "" : ValueOf(*field);
            }
        }
        return changes;
    }

    static size_t Index(PimKind kind) { return static_cast<size_t>(kind); }

    static std::string Text(const ModelFields& fields) {
        std::string text;
        for (const auto& [name, value] : fields) text += " " + name + "='" + value + "'";
        return text;
    }

    void Log(const KindModel& model, const std::string& step) {
        log_ << InfoOf(model.Kind()).name << " " << step << "\n";
    }

    bool Fail(const std::string& what) {
        failure_ = what;
        for (const std::string& problem : sides_.Problems()) failure_ += "\n  " + problem;
        return false;
    }

    // The items of the first sync: names on both sides only once each, so that
    // which two are paired does not depend on the order.
    bool FirstSync() {
        for (KindModel& model : models_) {
            std::map<std::string, int> onHandheld, onDesktop;
            for (int i = Pick(3); i > 0; --i) {
                std::string title = kTitles[Pick(4)];
                ++onHandheld[title];
                if (!Add(model, Side::kHandheld, title)) return false;
            }
            for (int i = Pick(3); i > 0; --i) {
                std::string title = kTitles[Pick(4)];
                if (!title.empty() && onHandheld[title] > 0 &&
                    (onHandheld[title] > 1 || onDesktop[title] > 0))
                    title.clear();
                ++onDesktop[title];
                if (!Add(model, Side::kDesktop, title)) return false;
            }
        }
        return Sync("first sync", {}, {}, false, ModelSync::kPlain) && Check("first sync");
    }

    bool Operation() {
        KindModel& model = models_[static_cast<size_t>(Pick(3))];
        Side side = handheldUncertain_ || Chance(50) ? Side::kDesktop : Side::kHandheld;
        std::vector<size_t> present =
            side == Side::kHandheld ? model.OnHandheld() : model.OnDesktop();
        int what = Pick(10);  // 0-3 add, 4-7 change, 8-9 delete
        if (present.size() >= limits_.maxItems && what < 4) what = 4 + Pick(6);
        if (present.empty() || what < 4) return Add(model, side, kTitles[Pick(4)]);
        size_t item = present[static_cast<size_t>(Pick(static_cast<int>(present.size())))];
        std::string key = KeyOf(model, item, side);
        if (key.empty()) return false;
        const char* who = side == Side::kHandheld ? "H" : "D";
        if (what < 8) {
            ModelFields changes = Changes(model.Kind());
            Log(model, std::string(who) + "~ #" + std::to_string(item) + Text(changes));
            bool done = side == Side::kHandheld ? sides_.HandheldSet(model.Kind(), key, changes)
                                                : sides_.DesktopSet(model.Kind(), key, changes);
            if (!done) return Fail("change failed");
            if (side == Side::kHandheld)
                model.ChangeOnHandheld(item, changes);
            else
                model.ChangeOnDesktop(item, changes);
            return true;
        }
        Log(model, std::string(who) + "- #" + std::to_string(item));
        bool done =
            side == Side::kHandheld ? sides_.HandheldDeleteKey(key) : sides_.DesktopDeleteKey(key);
        if (!done) return Fail("delete failed");
        if (side == Side::kHandheld)
            model.DeleteOnHandheld(item);
        else
            model.DeleteOnDesktop(item);
        return true;
    }

    bool Add(KindModel& model, Side side, const std::string& title) {
        ModelFields fields = NewFields(model.Kind(), title);
        bool handheld = side == Side::kHandheld;
        std::string key = handheld ? sides_.HandheldAddItem(model.Kind(), fields)
                                   : sides_.DesktopAddItem(model.Kind(), fields);
        size_t item = handheld ? model.AddOnHandheld(fields) : model.AddOnDesktop(fields);
        Log(model, std::string(handheld ? "H+ #" : "D+ #") + std::to_string(item) + Text(fields));
        if (key.empty()) return Fail("add failed");
        (handheld ? model.Item(item).handheldKey : model.Item(item).desktopKey) = key;
        return true;
    }

    // The item's key on a side, looked up by its detail when not known.
    std::string KeyOf(KindModel& model, size_t index, Side side) {
        ModelItem& item = model.Item(index);
        std::string& key = side == Side::kHandheld ? item.handheldKey : item.desktopKey;
        if (key.empty()) {
            std::vector<SideItem> listed = side == Side::kHandheld ? sides_.Handheld(model.Kind())
                                                                   : sides_.Desktop(model.Kind());
            NoteKeys(model, side, listed);
        }
        if (key.empty()) {
            Fail(std::string("item #") + std::to_string(index) + " of " +
                 InfoOf(model.Kind()).name + " not found on the " +
                 (side == Side::kHandheld ? "handheld" : "desktop"));
        }
        return key;
    }

    static void NoteKeys(KindModel& model, Side side, const std::vector<SideItem>& listed) {
        for (size_t i = 0; i < model.Size(); ++i) {
            ModelItem& item = model.Item(i);
            bool handheld = side == Side::kHandheld;
            if (!(handheld ? item.onHandheld : item.onDesktop)) continue;
            std::string detail = model.Shown(handheld ? item.handheld : item.desktop).detail;
            for (const SideItem& shown : listed) {
                if (shown.detail == detail)
                    (handheld ? item.handheldKey : item.desktopKey) = shown.key;
            }
        }
    }

    bool RandomSync() {
        int mode = Pick(20);
        if (mode < 11) return Sync("sync", {}, {}, false, ModelSync::kPlain) && Check("sync");
        if (mode < 15)
            return Sync("sync:lost", {}, {}, true, ModelSync::kAnswerLost) &&
                   Check("sync:lost", true);
        if (mode < 18) {
            std::string after = std::to_string(1 + Pick(3));
            return Sync("sync:kill=" + after, {}, {std::string(kExitAfterApplied) + "=" + after},
                        false, ModelSync::kInterrupted) &&
                   Check("sync:kill", handheldUncertain_);
        }
        return Sync("sync:stop", {}, {std::string(kStopAfterSend) + "=1"}, false,
                    ModelSync::kInterrupted) &&
               Check("sync:stop", true);
    }

    bool Sync(const std::string& name, const std::vector<std::string>& args,
              const std::vector<std::string>& env, bool loseAnswer, ModelSync how,
              bool mustBeQuiet = false) {
        log_ << name << "\n";
        ++syncs_;
        SyncOutcome outcome = sides_.Sync(args, env, loseAnswer);
        const int status = outcome.run.status;
        const std::string shown = name + " (status " + std::to_string(status) + "):\n" +
                                  outcome.run.out + outcome.run.err;
        if (loseAnswer) {
            if (status == 0) return Fail("a run without an answer ended well: " + shown);
        } else if (how == ModelSync::kInterrupted) {
            // The hook ends the run only when the answer has that many items.
            const bool killHook = !env.empty() && env.front().rfind(kExitAfterApplied, 0) == 0;
            if (killHook && status == 0) {
                how = ModelSync::kPlain;
            } else if (status != (killHook ? kKilledStatus : kStoppedStatus)) {
                return Fail("unexpected status: " + shown);
            }
        } else if (status != 0) {
            return Fail("sync failed: " + shown + "\n" + sides_.ServerOutputTail());
        }
        for (KindModel& model : models_) {
            if (mustBeQuiet && outcome.Report(model.Kind()).Text() != "H+0~0-0 D+0~0-0")
                return Fail(std::string(InfoOf(model.Kind()).name) + ": not quiet: " + shown);
            model.Sync(how, first_);
            for (size_t i = 0; i < model.Size(); ++i) {
                model.Item(i).handheldKey.clear();
                model.Item(i).desktopKey.clear();
            }
        }
        if (how == ModelSync::kPlain) first_ = false;
        handheldUncertain_ =
            how == ModelSync::kInterrupted || (handheldUncertain_ && how != ModelSync::kPlain);
        return true;
    }

    // Both sides (or the desktop only) hold what the model says.
    bool Check(const std::string& when, bool desktopOnly = false) {
        for (KindModel& model : models_) {
            std::vector<SideItem> handheld;
            if (!desktopOnly) handheld = sides_.Handheld(model.Kind());
            std::vector<SideItem> desktop = sides_.Desktop(model.Kind());
            NoteKeys(model, Side::kHandheld, handheld);
            NoteKeys(model, Side::kDesktop, desktop);
            const std::string name = InfoOf(model.Kind()).name;
            const std::string wantHandheld =
                desktopOnly ? std::string() : ViewOf(model.Kind(), model.HandheldView());
            const std::string wantDesktop = ViewOf(model.Kind(), model.DesktopView());
            const std::string isHandheld = ViewOf(model.Kind(), handheld);
            const std::string isDesktop = ViewOf(model.Kind(), desktop);
            if (isHandheld != wantHandheld || isDesktop != wantDesktop) {
                // SYNC_RANDOM_SERVER_TAIL=n: the last n bytes of corvel's output too.
                const char* tail = std::getenv("SYNC_RANDOM_SERVER_TAIL");
                return Fail("after " + when + ", " + name + ":\nhandheld:\n" + isHandheld +
                            "expected on the handheld:\n" + wantHandheld + "desktop:\n" +
                            isDesktop + "expected on the desktop:\n" + wantDesktop +
                            (tail != nullptr
                                 ? sides_.ServerOutputTail(std::strtoul(tail, nullptr, 10))
                                 : std::string()));
            }
        }
        if (!sides_.Problems().empty()) return Fail("after " + when + ": side operations failed");
        return true;
    }

    std::mt19937 rng_;
    ScheduleLimits limits_;
    SyncSides sides_;
    std::vector<KindModel> models_;
    std::ostringstream log_;
    std::string failure_;
    int counter_ = 0;
    int syncs_ = 0;
    bool first_ = true;
    // A run ended while applying: what the handheld holds is not known until a run
    // goes through, so only the desktop is changed meanwhile.
    bool handheldUncertain_ = false;
};

}  // namespace

ScheduleOutcome RunRandomSchedule(std::uint32_t seed, const ScheduleLimits& limits) {
    ScheduleRun run(seed, limits);
    return run.Run();
}
