// MAPIAllocateBuffer / MAPIAllocateMore / MAPIFreeBuffer: a root block keeps the list
// of the blocks linked to it, and freeing the root frees them all.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/mapi/mapi_functions.h"

namespace {

constexpr std::uint64_t kRootMagic = 0x4D415049524F4F54ull;  // "MAPIROOT"
constexpr std::uint64_t kMoreMagic = 0x4D4150494D4F5245ull;  // "MAPIMORE"
constexpr ULONG kMaxBlock = 0x7FFFFFF0u;

// Sits in front of every block, so the block itself stays aligned for any value.
struct alignas(std::max_align_t) BlockHeader {
  std::uint64_t magic;
  BlockHeader* nextMore;  // root: first linked block; linked block: next one
  std::mutex* lock;       // root only: guards the list
};

BlockHeader* HeaderOf(void* block) {
  return reinterpret_cast<BlockHeader*>(static_cast<char*>(block) - sizeof(BlockHeader));
}

void* NewBlock(ULONG cbSize, std::uint64_t magic) {
  if (cbSize > kMaxBlock) return nullptr;
  void* raw = std::calloc(1, sizeof(BlockHeader) + cbSize);
  if (raw == nullptr) return nullptr;
  auto* header = static_cast<BlockHeader*>(raw);
  header->magic = magic;
  header->nextMore = nullptr;
  header->lock = nullptr;
  return static_cast<char*>(raw) + sizeof(BlockHeader);
}

}  // namespace

SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
  if (lppBuffer == nullptr) return MAPI_E_INVALID_PARAMETER;
  *lppBuffer = nullptr;
  void* block = NewBlock(cbSize, kRootMagic);
  if (block == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
  BlockHeader* header = HeaderOf(block);
  header->lock = new (std::nothrow) std::mutex;
  if (header->lock == nullptr) {
    std::free(header);
    return MAPI_E_NOT_ENOUGH_MEMORY;
  }
  *lppBuffer = block;
  return S_OK;
}

SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
  if (lppBuffer == nullptr) return MAPI_E_INVALID_PARAMETER;
  *lppBuffer = nullptr;
  if (lpObject == nullptr) return MAPI_E_INVALID_PARAMETER;
  BlockHeader* root = HeaderOf(lpObject);
  if (root->magic != kRootMagic) return MAPI_E_INVALID_PARAMETER;
  void* block = NewBlock(cbSize, kMoreMagic);
  if (block == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
  BlockHeader* header = HeaderOf(block);
  {
    std::lock_guard<std::mutex> guard(*root->lock);
    header->nextMore = root->nextMore;
    root->nextMore = header;
  }
  *lppBuffer = block;
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
  delete root->lock;
  std::free(root);
  return S_OK;
}
