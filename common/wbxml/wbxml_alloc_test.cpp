// The reader allocates nothing per event once its event record has grown to the
// document's needs: a second walk over the same document makes no allocation.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "common/wbxml/wbxml.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }

TEST(WBXMLAllocations, SecondWalkAllocatesNothing) {
    CWBXML w;
    w.BeginDocument(1024);
    w.StartTag(0, 0x01);
    for (int item = 0; item < 20; ++item) {
        w.StartTag(0, 0x1D);
        w.WriteElement(0, 0x18, "0123456789ABCDEF0123456789ABCDEF");
        w.StartTag(0, 0x14);
        for (int field = 0; field < 30; ++field)
            w.WriteElement(1, field, "a field text longer than the small-string buffer");
        w.WriteElement(1, 0x31, "a tag without a table row");
        w.EndTag();
        w.EndTag();
    }
    w.EndTag();
    // The counter sees allocations made inside the library.
    const long probe = g_allocations.load();
    CWBXMLLiterals list;
    list.Add(0, 1);
    ASSERT_GT(g_allocations.load() - probe, 0);

    CWBXML r;
    r.SetDocument(w.Document().View());
    CWBXMLEvent event;
    long events = 0;
    while (r.NextEvent(event)) ++events;
    r.ResetReader();
    const long before = g_allocations.load();
    long again = 0;
    while (r.NextEvent(event)) ++again;
    EXPECT_EQ(g_allocations.load() - before, 0);
    EXPECT_EQ(again, events);
    EXPECT_EQ(event.tagText, "</Sync>");
}
