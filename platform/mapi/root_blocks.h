// Root blocks carved from shared slabs, for answers of many small blocks (the rows
// of a table): one allocation serves hundreds of rows instead of one each.
#pragma once

#include <cstddef>

namespace mapistore {

// Each block it gives behaves as one from MAPIAllocateBuffer: zero-filled, aligned
// for any value, MAPIAllocateMore links further blocks to it, MAPIFreeBuffer frees
// it (and what is linked to it). A slab is free again when the carver and every
// block carved from it are gone (a block kept long keeps its slab); free slabs up
// to 16 MB are kept for later carvers, the rest go back to the system.
//
// Thread use: one carver is used by one thread; its blocks may be freed on any
// thread, also while the carver still carves.
class RootBlockCarver {
public:
    RootBlockCarver() = default;
    ~RootBlockCarver();
    RootBlockCarver(const RootBlockCarver&) = delete;
    RootBlockCarver& operator=(const RootBlockCarver&) = delete;

    // A block of size bytes; nullptr when memory runs out or size exceeds the
    // largest block MAPIAllocateBuffer gives. Large blocks get an allocation of their own.
    void* Allocate(std::size_t size);

    // The shared allocation; its blocks' headers point at it (mapi_memory.cpp).
    struct Slab;

private:
    void Release();

    Slab* slab_ = nullptr;
    char* cursor_ = nullptr;
    std::size_t left_ = 0;
};

}  // namespace mapistore
