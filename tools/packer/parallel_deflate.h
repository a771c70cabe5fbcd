// larkspan-pack's deflating shared out over threads. The work is cut into
// tasks: each item's libdeflate run, and each part of a million bytes of its
// Zopfli run (tools/packer/host_deflaters.h), so that one large item still
// keeps every thread busy. Each task's result has a place of its own, an item
// is put together from its places once its last task is done, and the archive
// is written from those in item order: the output is the same whatever the
// number of threads and whichever task ends first.
#pragma once

#include "tools/packer/zip_packer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace packer {

struct DeflateProgress {
    std::size_t itemsDone = 0;  // items whose data is ready; stored items and folders count from the start
    std::size_t items = 0;
    std::uint64_t bytesDone = 0;  // of the items to deflate, in parts as their tasks end
    std::uint64_t bytes = 0;
};

// Called once before the first task and after each task that ends, one call at
// a time, on whichever thread ended the task.
using DeflateProgressSink = std::function<void(const DeflateProgress&)>;

// The threads the machine lets this process run at once (at least 1).
unsigned AvailableCores();

// The deflate data of every item as SmallestDeflate makes it at the item's
// level, made on `jobs` threads; empty for stored items and folders. The input
// of PackDeflated. An exception thrown by a task (std::bad_alloc) is thrown here
// once every thread has stopped.
std::vector<std::vector<std::uint8_t>> DeflateItems(const std::vector<Item>& items, unsigned jobs,
                                                    const DeflateProgressSink& progress = {});

}  // namespace packer
