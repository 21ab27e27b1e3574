// MAPIAllocateBuffer / MAPIAllocateMore / MAPIFreeBuffer. A root block keeps the
// list of the blocks linked to it; small linked blocks are carved from 4 KB chunks,
// so a row of values costs a few allocations, not one per string. Freeing the root
// frees them all.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>

#include "platform/mapi/mapi_functions.h"

namespace {

constexpr std::uint64_t kRootMagic = 0x4D415049524F4F54ull;  // "MAPIROOT"
constexpr std::uint64_t kMoreMagic = 0x4D4150494D4F5245ull;  // "MAPIMORE"
constexpr ULONG kMaxBlock = 0x7FFFFFF0u;
constexpr std::size_t kChunkBytes = 4096;
constexpr std::size_t kCarveLimit = 1024;  // larger blocks get an allocation of their own
constexpr std::size_t kAlign = alignof(std::max_align_t);
constexpr std::size_t kLockStripes = 64;

// Sits in front of every block, so the block itself stays aligned for any value.
struct alignas(std::max_align_t) BlockHeader {
  std::uint64_t magic;
  BlockHeader* nextMore;  // root: first linked allocation; linked: the next one
  char* carve;            // root: free space in the current chunk
  std::size_t left;       // root: bytes left there
};

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
  if (root->magic != kRootMagic) return MAPI_E_INVALID_PARAMETER;
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
  if (root->magic != kRootMagic) return static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
  root->magic = 0;
  BlockHeader* more = root->nextMore;
  while (more != nullptr) {
    BlockHeader* next = more->nextMore;
    more->magic = 0;
    std::free(more);
    more = next;
  }
  std::free(root);
  return S_OK;
}
