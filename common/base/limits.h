// Limits every layer shares.
#pragma once

// Folders nest at most this deep below the root of a store: deeper folders are
// not made, and walks up or down the tree stop there (a loop in a damaged store
// cannot keep them going).
inline constexpr int kMaxFolderDepth = 64;
