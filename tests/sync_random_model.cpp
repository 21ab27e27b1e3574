// The model of the randomized sync test.
#include "tests/sync_random_model.h"

KindModel::KindModel(PimKind kind) : kind_(kind), names_{"title", "detail"} {
    for (const ExtraField& field : ExtraFieldsOf(kind)) names_.push_back(field.name);
}

std::string KindModel::Value(const ModelFields& fields, const std::string& name) const {
    auto it = fields.find(name);
    return it == fields.end() ? std::string() : it->second;
}

bool KindModel::Differs(const ModelFields& a, const ModelFields& b) const {
    for (const std::string& name : names_) {
        if (Value(a, name) != Value(b, name)) return true;
    }
    return false;
}

ModelFields KindModel::HandheldForm(const ModelFields& fields) const {
    ModelFields held = fields;
    for (const ExtraField& field : ExtraFieldsOf(kind_)) {
        if (field.form == ExtraField::kNumber && Value(held, field.name).empty())
            held[field.name] = "0";
    }
    return held;
}

size_t KindModel::AddOnHandheld(const ModelFields& fields) {
    ModelItem item;
    item.onHandheld = true;
    item.handheld = HandheldForm(fields);
    items_.push_back(item);
    return items_.size() - 1;
}

size_t KindModel::AddOnDesktop(const ModelFields& fields) {
    ModelItem item;
    item.onDesktop = true;
    item.desktop = fields;
    items_.push_back(item);
    return items_.size() - 1;
}

void KindModel::ChangeOnHandheld(size_t item, const ModelFields& changes) {
    for (const auto& [name, value] : changes) items_[item].handheld[name] = value;
    items_[item].handheld = HandheldForm(items_[item].handheld);
}

void KindModel::ChangeOnDesktop(size_t item, const ModelFields& changes) {
    for (const auto& [name, value] : changes) items_[item].desktop[name] = value;
}

void KindModel::DeleteOnHandheld(size_t item) { items_[item].onHandheld = false; }

void KindModel::DeleteOnDesktop(size_t item) { items_[item].onDesktop = false; }

ModelFields KindModel::Merged(const ModelItem& item) const {
    ModelFields merged;
    for (const std::string& name : names_) {
        const std::string desktop = Value(item.desktop, name);
        const bool desktopChanged = desktop != Value(item.desktopBase, name);
        const bool handheldChanged = Value(item.handheld, name) != Value(item.handheldBase, name);
        merged[name] = desktopChanged || !handheldChanged ? desktop : Value(item.handheld, name);
    }
    return merged;
}

void KindModel::Exchanged(ModelItem& item, const ModelFields& both) {
    item.onHandheld = item.onDesktop = item.exchanged = true;
    item.desktop = item.desktopBase = both;
    item.handheld = item.handheldBase = HandheldForm(both);
}

void KindModel::PairTwins() {
    for (ModelItem& handheld : items_) {
        const std::string title = Value(handheld.handheld, "title");
        if (!handheld.onHandheld || handheld.onDesktop || handheld.exchanged || title.empty())
            continue;
        for (ModelItem& desktop : items_) {
            if (!desktop.onDesktop || desktop.onHandheld || desktop.exchanged ||
                Value(desktop.desktop, "title") != title)
                continue;
            // No common past: a field set on one side only comes from that side.
            ModelFields twin;
            for (const std::string& name : names_) {
                const std::string d = Value(desktop.desktop, name);
                twin[name] = d.empty() ? Value(handheld.handheld, name) : d;
            }
            Exchanged(handheld, twin);
            handheld.desktopKey = desktop.desktopKey;
            desktop.onDesktop = false;
            break;
        }
    }
}

void KindModel::Sync(ModelSync how, bool firstSync) {
    if (firstSync) PairTwins();
    for (ModelItem& item : items_) {
        const bool handheldChanged = item.exchanged && Differs(item.handheld, item.handheldBase);
        const bool desktopChanged = item.exchanged && Differs(item.desktop, item.desktopBase);
        if (item.onHandheld && !item.onDesktop) {
            // New on the handheld, or deleted on the desktop: a change there restores it.
            if (!item.exchanged || handheldChanged) {
                ModelFields fields = item.handheld;
                Exchanged(item, fields);
            } else if (how == ModelSync::kPlain) {
                item.onHandheld = false;
            }
        } else if (!item.onHandheld && item.onDesktop) {
            if (item.exchanged && !desktopChanged) {
                item.onDesktop = false;
            } else if (how == ModelSync::kPlain) {
                // New on the desktop, or deleted on the handheld and kept: changed there.
                ModelFields fields = item.desktop;
                Exchanged(item, fields);
            }
        } else if (item.onHandheld && item.onDesktop) {
            if (how == ModelSync::kPlain) {
                Exchanged(item, Merged(item));
            } else if (handheldChanged) {
                // The desktop merged what the handheld sent; the handheld holds its own.
                item.desktop = Merged(item);
                item.desktopBase = item.desktop;
                item.handheldBase = item.handheld;
            }
        }
    }
}

std::vector<size_t> KindModel::OnHandheld() const {
    std::vector<size_t> on;
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].onHandheld) on.push_back(i);
    }
    return on;
}

std::vector<size_t> KindModel::OnDesktop() const {
    std::vector<size_t> on;
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].onDesktop) on.push_back(i);
    }
    return on;
}

SideItem KindModel::Shown(const ModelFields& fields) const {
    SideItem item;
    item.title = Value(fields, "title");
    item.detail = ShownDetail(kind_, Value(fields, "detail"));
    if (kind_ == PimKind::kAppointments) {
        item.start = "2026-12-10 09:00";
        item.end = "2026-12-10 10:00";
    }
    for (const ExtraField& field : ExtraFieldsOf(kind_))
        item.extra[field.name] = ShownExtra(field, Value(fields, field.name));
    return item;
}

std::vector<SideItem> KindModel::HandheldView() const {
    std::vector<SideItem> view;
    for (const ModelItem& item : items_) {
        if (item.onHandheld) view.push_back(Shown(item.handheld));
    }
    return view;
}

std::vector<SideItem> KindModel::DesktopView() const {
    std::vector<SideItem> view;
    for (const ModelItem& item : items_) {
        if (item.onDesktop) view.push_back(Shown(item.desktop));
    }
    return view;
}
