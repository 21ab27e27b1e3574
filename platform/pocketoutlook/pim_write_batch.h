// PimWriteBatch: many saves of the handheld's PIM store in few transactions (the
// batch of pim_database.h) for as long as the object lives. Saves and deletes of
// the application's items join it; Commit makes them durable, and what is not
// committed when the object ends is rolled back.
//
// Belongs to the thread of its application; one batch per application at a time.
#pragma once

#include <memory>

#include "platform/pocketoutlook/pocket_outlook.h"

class PimWriteBatch {
public:
    static constexpr int kDefaultBound = 1000;  // saves per transaction
    // Begins the batch on a logged-on application; Active() tells whether it did.
    explicit PimWriteBatch(PocketOutlookApplication& app, int bound = kDefaultBound);
    ~PimWriteBatch();
    PimWriteBatch(const PimWriteBatch&) = delete;
    PimWriteBatch& operator=(const PimWriteBatch&) = delete;

    bool Active() const { return open_; }
    // Commits and ends the batch; false when something it held could not be stored.
    bool Commit();

private:
    std::shared_ptr<PimDatabase> db_;
    bool open_ = false;
};
