// The check every .x mesh file passes before Assimp reads it. Assimp's .x reader trusts the file:
// it allocates whatever count a file declares and follows face indices without looking, so a
// damaged file can cost gigabytes or crash it. This check walks the text the way that reader
// tokenises it, without allocating for any declared count, and refuses what it cannot vouch for.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace scene {

// Far above any mesh of ours (the largest is about 50 kB): a bigger file is refused unread.
constexpr std::size_t kMaxMeshFileBytes = 4u << 20;

// True when `text` is a text .x file whose every count fits in the file, whose every face
// index (corners and normals alike) names an entry of its list, whose numbers are finite and
// within range, and which holds nothing the reader would act on that is left unchecked
// (skinning, vertex colours, animations, materials given by reference). Otherwise false with
// why, and the line it was found on, in `problem`.
bool CheckXFile(std::string_view text, std::string& problem);

}  // namespace scene
