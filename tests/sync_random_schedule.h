// One randomized, seeded schedule of two-way syncs: skiff against corvel --headless
// (tests/sync_matrix_sides.h), contacts, tasks and appointments at once.
//
// A schedule: items added on both sides (same-named ones among them, empty names
// too), a first sync, then rounds of random operations on both sides (adds with
// repeated and empty names, changes of title, detail and extra fields, clears,
// deletions) each ended by a sync that goes through, loses its answer (the relay),
// or whose handheld ends itself while applying the answer or stops right after its
// request went out; then two quiet syncs. After every sync that went through, both
// sides must hold exactly what the model (tests/sync_random_model.h) says, and the
// last quiet sync must find nothing to do. While a handheld may hold part of an
// answer, only the desktop is changed (what it holds then is not known).
//
// Details are numbers never used twice, so an item is found on either side by its
// detail even among items of the same name.
#pragma once

#include <cstdint>
#include <string>

struct ScheduleLimits {
    int rounds = 4;         // rounds of operations after the first sync
    int maxOperations = 4;  // operations per round (at least one)
    size_t maxItems = 6;    // items per kind and side (well below the mass-delete guard)
};

struct ScheduleOutcome {
    bool passed = false;
    // What differed or failed, followed by the steps up to there (one a line).
    std::string failure;
    int syncs = 0;
};

ScheduleOutcome RunRandomSchedule(std::uint32_t seed, const ScheduleLimits& limits = {});
