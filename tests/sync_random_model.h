// What a two-way sync must leave on both sides, for the randomized sync test: the
// items of one kind as the handheld and the desktop hold them, and what the desktop
// last exchanged with the handheld for each (docs/vantro-sync.md):
//   - an item is one item: a handheld Add becomes one desktop item, and the other
//     way round, whatever its name; only on the first sync are same-named items of
//     both sides paired (the desktop's value wins a field both set);
//   - a field changed on one side only since the last exchange is taken from that
//     side; changed on both, the desktop's value wins; a cleared field travels;
//   - a change beats a deletion: changed on one side, deleted on the other, the
//     item stays with the changer's fields;
//   - a number the handheld never set is 0 there and goes to the desktop as 0; the
//     desktop removing it is a change of the desktop, though both show no value;
//   - an answer lost, or a handheld stopped or ended while applying it, changes
//     nothing of the result: the desktop did its part, the next run the rest.
// The model follows the operations; it does not drive the programs.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/sync_matrix_sides.h"

// "title", "detail" (a number) and the kind's extra fields -> value; absent or ""
// is an empty field.
using ModelFields = std::map<std::string, std::string>;

// How a run of skiff sync ended.
enum class ModelSync {
    kPlain,        // the answer came and was applied
    kAnswerLost,   // the desktop did its part, the handheld learnt nothing
    kInterrupted,  // the desktop did its part, the handheld applied some of the answer
};

struct ModelItem {
    bool onHandheld = false;
    bool onDesktop = false;
    bool exchanged = false;  // the desktop maps it to the handheld's item
    ModelFields handheld, desktop;
    // What the desktop last knew each side to hold (while exchanged).
    ModelFields handheldBase, desktopBase;
    // The programs' keys while known ("" until looked up).
    std::string handheldKey, desktopKey;
};

class KindModel {
public:
    explicit KindModel(PimKind kind);
    PimKind Kind() const { return kind_; }
    // The names of the kind's fields: title, detail and the extra fields.
    const std::vector<std::string>& FieldNames() const { return names_; }

    // Each returns the item's index (stable for the model's life).
    size_t AddOnHandheld(const ModelFields& fields);
    size_t AddOnDesktop(const ModelFields& fields);
    void ChangeOnHandheld(size_t item, const ModelFields& changes);
    void ChangeOnDesktop(size_t item, const ModelFields& changes);
    void DeleteOnHandheld(size_t item);
    void DeleteOnDesktop(size_t item);
    // firstSync: the folder's first sync, whose same-named items are paired.
    void Sync(ModelSync how, bool firstSync);

    // The indexes of the items on one side now.
    std::vector<size_t> OnHandheld() const;
    std::vector<size_t> OnDesktop() const;
    ModelItem& Item(size_t index) { return items_[index]; }
    const ModelItem& Item(size_t index) const { return items_[index]; }
    size_t Size() const { return items_.size(); }

    // The items as SyncSides shows them.
    std::vector<SideItem> HandheldView() const;
    std::vector<SideItem> DesktopView() const;
    SideItem Shown(const ModelFields& fields) const;
    // The fields as the handheld holds them: a number without value is 0 there (its
    // PIM store has no empty number), and travels so; the desktop may hold no value.
    ModelFields HandheldForm(const ModelFields& fields) const;

private:
    std::string Value(const ModelFields& fields, const std::string& name) const;
    bool Differs(const ModelFields& a, const ModelFields& b) const;
    // The merge of a changed handheld item with the desktop's, field by field.
    ModelFields Merged(const ModelItem& item) const;
    // Same-named items of both sides that neither has exchanged become one item.
    void PairTwins();
    void Exchanged(ModelItem& item, const ModelFields& both);

    PimKind kind_;
    std::vector<std::string> names_;
    std::vector<ModelItem> items_;
};
