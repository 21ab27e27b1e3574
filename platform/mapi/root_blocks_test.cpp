// Root blocks carved from shared slabs: they behave as MAPIAllocateBuffer's blocks.
#include "platform/mapi/root_blocks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/mapi/mapi_functions.h"

namespace mapistore {
namespace {

bool AllZero(const void* block, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(block);
    for (std::size_t k = 0; k < size; ++k)
        if (p[k] != 0) return false;
    return true;
}

TEST(RootBlockCarver, BlocksAreZeroedAlignedApartAndFreedOneByOne) {
    std::vector<void*> blocks;
    {
        RootBlockCarver carver;
        // Enough blocks to fill several slabs; each one is written whole.
        for (int k = 0; k < 3000; ++k) {
            const std::size_t size = 1 + static_cast<std::size_t>(k % 200);
            void* block = carver.Allocate(size);
            ASSERT_NE(block, nullptr);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u);
            ASSERT_TRUE(AllZero(block, size)) << k;
            std::memset(block, 0xAB, size);
            blocks.push_back(block);
        }
    }
    // No block overlaps another: each still holds only its own bytes.
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        const std::size_t size = 1 + k % 200;
        const auto* p = static_cast<const unsigned char*>(blocks[k]);
        for (std::size_t b = 0; b < size; ++b) ASSERT_EQ(p[b], 0xAB) << k;
    }
    // The carver is gone; its blocks live until freed, in any order.
    for (std::size_t k = 0; k < blocks.size(); k += 2)
        EXPECT_EQ(MAPIFreeBuffer(blocks[k]), static_cast<ULONG>(S_OK));
    for (std::size_t k = 1; k < blocks.size(); k += 2)
        EXPECT_EQ(MAPIFreeBuffer(blocks[k]), static_cast<ULONG>(S_OK));
}

TEST(RootBlockCarver, MoreBlocksLinkToACarvedBlockAndGoWithIt) {
    RootBlockCarver carver;
    void* root = carver.Allocate(48);
    ASSERT_NE(root, nullptr);
    void* small = nullptr;
    void* large = nullptr;
    ASSERT_EQ(MAPIAllocateMore(16, root, &small), S_OK);
    ASSERT_EQ(MAPIAllocateMore(100000, root, &large), S_OK);
    EXPECT_TRUE(AllZero(large, 100000));
    std::memcpy(small, "linked", 7);
    EXPECT_EQ(std::string(static_cast<const char*>(small)), "linked");
    // A linked block is no root of its own.
    void* refused = nullptr;
    EXPECT_EQ(MAPIAllocateMore(8, small, &refused), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(MAPIFreeBuffer(small), static_cast<ULONG>(MAPI_E_INVALID_PARAMETER));
    EXPECT_EQ(MAPIFreeBuffer(root), static_cast<ULONG>(S_OK));
    // Slabs freed and carved again are zeroed again.
    for (int k = 0; k < 2000; ++k) {
        void* block = carver.Allocate(40);
        ASSERT_NE(block, nullptr);
        ASSERT_TRUE(AllZero(block, 40));
        std::memset(block, 0xFF, 40);
        MAPIFreeBuffer(block);
    }
}

TEST(RootBlockCarver, LargeAndImpossibleSizes) {
    RootBlockCarver carver;
    // Larger than a slab's share: a block of its own, still freed the same way.
    void* large = carver.Allocate(200000);
    ASSERT_NE(large, nullptr);
    EXPECT_TRUE(AllZero(large, 200000));
    EXPECT_EQ(MAPIFreeBuffer(large), static_cast<ULONG>(S_OK));
    void* empty = carver.Allocate(0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(MAPIFreeBuffer(empty), static_cast<ULONG>(S_OK));
    EXPECT_EQ(carver.Allocate(0x80000000u), nullptr);
}

}  // namespace
}  // namespace mapistore
