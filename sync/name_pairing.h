// Pairing a level's source entries with its destination entries by name, as a case-sensitive
// file system demands: exactly the same name first, else a name equal with ASCII letters folded.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sync/fs_layer.h"

// Pairs each source entry with at most one destination entry and each destination entry with
// at most one source entry: the destination entry of exactly the same name first, else the
// first unpaired one that equals it with ASCII letters folded, in listing order. A destination
// entry for which exactOnly is true (its exact name is wanted by an entry of the other kind) is
// left to exact matches. pairOfSource receives the destination index of each source entry (-1
// for none); destinationPaired marks the destination entries taken, the others being the extras.
// Linear in the entries.
using ExactOnly = std::function<bool(std::string_view)>;
template <class Source, class Destination>
void PairNames(const std::vector<Source>& source, const std::vector<Destination>& destination,
               std::vector<std::int32_t>& pairOfSource, std::vector<char>& destinationPaired,
               const ExactOnly& exactOnly = {});

extern template void PairNames(const std::vector<FileEntry>&, const std::vector<FileEntry>&, std::vector<std::int32_t>&,
                               std::vector<char>&, const ExactOnly&);
extern template void PairNames(const std::vector<std::string_view>&, const std::vector<std::string_view>&,
                               std::vector<std::int32_t>&, std::vector<char>&, const ExactOnly&);
