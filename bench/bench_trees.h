// The trees the benchmarks pack and install: many small text-like files, or
// a few large ones. Generated once and kept in the benchmark's work folder.
#ifndef QORV_BENCH_BENCH_TREES_H_
#define QORV_BENCH_BENCH_TREES_H_

#include <cstddef>
#include <string>

#include "kit/kit_writer.h"

namespace qorv::bench {

// Writes (when missing) `files` files of `fileSize` bytes under `root`, a
// hundred per directory, and describes them for the kit writer.
KitContent MakeTree(const std::string& root, size_t files, size_t fileSize);
// The kit of that tree at `kitPath`, packed when missing.
void EnsureKit(const KitContent& content, const std::string& kitPath);

}  // namespace qorv::bench

#endif  // QORV_BENCH_BENCH_TREES_H_
