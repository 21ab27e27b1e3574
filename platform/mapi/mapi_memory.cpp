// MAPIAllocateBuffer / MAPIAllocateMore / MAPIFreeBuffer. A root block keeps the
// list of the blocks linked to it; small linked blocks are carved from 4 KB chunks,
// so a row of values costs a few allocations, not one per string. Freeing the root
// frees them all. A root block may also be carved from a shared slab
// (RootBlockCarver); the slab counts its live blocks and goes when none is left.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <vector>

#include "platform/mapi/mapi_functions.h"
#include "platform/mapi/root_blocks.h"

namespace mapistore {

// Blocks carved from it plus one while a carver still carves from it.
struct alignas(std::max_align_t) RootBlockCarver::Slab {
    std::atomic<std::size_t> refs;
};

}  // namespace mapistore

namespace {

using Slab = mapistore::RootBlockCarver::Slab;

constexpr std::uint64_t kRootMagic = 0x4D415049524F4F54ull;    // "MAPIROOT"
constexpr std::uint64_t kCarvedMagic = 0x4D41504943415256ull;  // "MAPICARV": a root in a slab
constexpr std::uint64_t kMoreMagic = 0x4D4150494D4F5245ull;    // "MAPIMORE"
constexpr ULONG kMaxBlock = 0x7FFFFFF0u;
constexpr std::size_t kChunkBytes = 4096;
constexpr std::size_t kCarveLimit = 1024;  // larger blocks get an allocation of their own
constexpr std::size_t kAlign = alignof(std::max_align_t);
constexpr std::size_t kLockStripes = 64;
// Slabs are aligned to their size, so a carved block finds its slab from its address.
constexpr std::size_t kSlabBytes = 64 * 1024;
constexpr std::size_t kSlabCarveLimit =
    kSlabBytes / 8;  // larger blocks get an allocation of their own
// Free slabs kept for the next answers (16 MB at most): fresh pages from the system
// cost far more than the rows written into them.
constexpr std::size_t kCachedSlabs = 256;

// Sits in front of every block, so the block itself stays aligned for any value.
struct alignas(std::max_align_t) BlockHeader {
    std::uint64_t magic;
    BlockHeader* nextMore;  // root: first linked allocation; linked: the next one
    char* carve;            // root: free space in the current chunk
    std::size_t left;       // root: bytes left there
};

bool IsRoot(const BlockHeader* header) {
    return header->magic == kRootMagic || header->magic == kCarvedMagic;
}

Slab* SlabOf(BlockHeader* carved) {
    return reinterpret_cast<Slab*>(reinterpret_cast<std::uintptr_t>(carved) &
                                   ~(std::uintptr_t{kSlabBytes} - 1));
}

// Roots share a few locks instead of owning one each.
std::mutex& LockFor(const void* root) {
    static std::mutex locks[kLockStripes];
    return locks[std::hash<const void*>{}(root) % kLockStripes];
}

BlockHeader* HeaderOf(void* block) {
    return reinterpret_cast<BlockHeader*>(static_cast<char*>(block) - sizeof(BlockHeader));
}

BlockHeader* NewBlock(std::size_t cbSize, std::uint64_t magic) {
    void* raw = std::calloc(1, sizeof(BlockHeader) + cbSize);
    if (raw == nullptr) return nullptr;
    auto* header = static_cast<BlockHeader*>(raw);
    header->magic = magic;
    return header;
}

std::size_t Rounded(std::size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

struct SlabCache {
    std::mutex mutex;
    std::vector<void*> free;
};

// Never destroyed, so that blocks freed late in the process's exit still find it.
SlabCache& Cache() {
    static SlabCache& cache = *new SlabCache;
    return cache;
}

void* TakeSlabMemory() {
    SlabCache& cache = Cache();
    {
        std::lock_guard<std::mutex> guard(cache.mutex);
        if (!cache.free.empty()) {
            void* raw = cache.free.back();
            cache.free.pop_back();
            return raw;
        }
    }
    return std::aligned_alloc(kSlabBytes, kSlabBytes);
}

void Unref(Slab* slab) {
    if (slab->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    slab->~Slab();
    void* raw = slab;
    SlabCache& cache = Cache();
    {
        std::lock_guard<std::mutex> guard(cache.mutex);
        if (cache.free.size() < kCachedSlabs) {
            if (cache.free.capacity() == 0) cache.free.reserve(kCachedSlabs);
            cache.free.push_back(raw);
            return;
        }
    }
    std::free(raw);
}

}  // namespace

SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
    if (lppBuffer == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = nullptr;
    if (cbSize > kMaxBlock) return MAPI_E_NOT_ENOUGH_MEMORY;
    BlockHeader* header = NewBlock(cbSize, kRootMagic);
    if (header == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
    *lppBuffer = reinterpret_cast<char*>(header) + sizeof(BlockHeader);
    return S_OK;
}

SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
    if (lppBuffer == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = nullptr;
    if (lpObject == nullptr) return MAPI_E_INVALID_PARAMETER;
    if (cbSize > kMaxBlock) return MAPI_E_NOT_ENOUGH_MEMORY;
    BlockHeader* root = HeaderOf(lpObject);
    if (!IsRoot(root)) return MAPI_E_INVALID_PARAMETER;
    const std::size_t need = Rounded(cbSize == 0 ? 1 : cbSize);
    std::lock_guard<std::mutex> guard(LockFor(root));
    if (need <= kCarveLimit) {
        if (root->left < need) {
            BlockHeader* chunk = NewBlock(kChunkBytes, kMoreMagic);
            if (chunk == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
            chunk->nextMore = root->nextMore;
            root->nextMore = chunk;
            root->carve = reinterpret_cast<char*>(chunk) + sizeof(BlockHeader);
            root->left = kChunkBytes;
        }
        *lppBuffer = root->carve;
        root->carve += need;
        root->left -= need;
        return S_OK;
    }
    BlockHeader* block = NewBlock(cbSize, kMoreMagic);
    if (block == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
    block->nextMore = root->nextMore;
    root->nextMore = block;
    *lppBuffer = reinterpret_cast<char*>(block) + sizeof(BlockHeader);
    return S_OK;
}

ULONG MAPIFreeBuffer(LPVOID lpBuffer) {
    if (lpBuffer == nullptr) return S_OK;
    BlockHeader* root = HeaderOf(lpBuffer);
    if (!IsRoot(root)) return static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
    const bool carved = root->magic == kCarvedMagic;
    root->magic = 0;
    BlockHeader* more = root->nextMore;
    while (more != nullptr) {
        BlockHeader* next = more->nextMore;
        more->magic = 0;
        std::free(more);
        more = next;
    }
    if (carved)
        Unref(SlabOf(root));
    else
        std::free(root);
    return S_OK;
}

namespace mapistore {

RootBlockCarver::~RootBlockCarver() { Release(); }

void RootBlockCarver::Release() {
    if (slab_ != nullptr) Unref(slab_);
    slab_ = nullptr;
    cursor_ = nullptr;
    left_ = 0;
}

void* RootBlockCarver::Allocate(std::size_t size) {
    if (size > kMaxBlock) return nullptr;
    const std::size_t need = sizeof(BlockHeader) + Rounded(size == 0 ? 1 : size);
    if (need > kSlabCarveLimit) {
        void* block = nullptr;
        return MAPIAllocateBuffer(static_cast<ULONG>(size), &block) == S_OK ? block : nullptr;
    }
    if (left_ < need) {
        Release();
        void* raw = TakeSlabMemory();
        if (raw == nullptr) return nullptr;
        slab_ = new (raw) Slab{{1}};
        cursor_ = static_cast<char*>(raw) + sizeof(Slab);
        left_ = kSlabBytes - sizeof(Slab);
    }
    std::memset(cursor_, 0, need);
    auto* header = reinterpret_cast<BlockHeader*>(cursor_);
    header->magic = kCarvedMagic;
    slab_->refs.fetch_add(1, std::memory_order_relaxed);
    cursor_ += need;
    left_ -= need;
    return reinterpret_cast<char*>(header) + sizeof(BlockHeader);
}

}  // namespace mapistore
