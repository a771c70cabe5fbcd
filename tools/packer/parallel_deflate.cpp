#include "tools/packer/parallel_deflate.h"

#include "tools/packer/host_deflaters.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace packer {
namespace {

// Zopfli takes about sixty times libdeflate 12's time over a byte of the
// download-size corpus (bench/RESULTS.md). The tasks start longest first, so
// that the last ones to end are short and no thread waits long at the end.
constexpr std::uint64_t kZopfliCostPerByte = 60;

struct Task {
    std::size_t item;
    bool zopfli;  // one part of the item's Zopfli run, else its libdeflate run
    std::size_t part;
    std::uint64_t cost;
    std::uint64_t bytes;  // the item bytes it counts as deflated once it ends
};

// One item's results, each task writing only its own place; the task that
// brings `pending` to 0 sees the others' places complete and puts them together.
struct ItemWork {
    std::atomic<std::size_t> pending{0};
    std::vector<std::uint8_t> libdeflate;
    std::vector<DeflateBits> zopfliParts;
};

bool IsDeflated(const Item& item) { return !item.folder && item.method == Method::Deflate; }

}  // namespace

unsigned AvailableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&set));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

std::vector<std::vector<std::uint8_t>> DeflateItems(const std::vector<Item>& items, unsigned jobs,
                                                    const DeflateProgressSink& progress) {
    std::vector<ItemWork> work(items.size());
    std::vector<Task> tasks;
    DeflateProgress done;
    done.items = items.size();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        if (!IsDeflated(item)) {
            ++done.itemsDone;
            continue;
        }
        const std::uint64_t size = item.data.size();
        done.bytes += size;
        // The same choice as SmallestDeflate: below 12 libdeflate alone.
        const bool both = item.level >= kLibdeflateSmallestLevel;
        const std::size_t parts = both ? ZopfliPartCount(item.data.size()) : 0;
        // Beside Zopfli, libdeflate's run is short; it goes just before the
        // item's first part, so that the item is ready as soon as its parts are.
        const std::uint64_t firstPartBytes = std::min<std::uint64_t>(kZopfliPartSize, size);
        tasks.push_back({i, false, 0, both ? firstPartBytes * kZopfliCostPerByte : size, both ? 0 : size});
        work[i].zopfliParts.resize(parts);
        for (std::size_t part = 0; part < parts; ++part) {
            const std::uint64_t partBytes = std::min<std::uint64_t>(kZopfliPartSize, size - part * kZopfliPartSize);
            tasks.push_back({i, true, part, partBytes * kZopfliCostPerByte, partBytes});
        }
        work[i].pending = 1 + parts;
    }
    std::stable_sort(tasks.begin(), tasks.end(), [](const Task& a, const Task& b) { return a.cost > b.cost; });

    std::vector<std::vector<std::uint8_t>> deflated(items.size());
    std::mutex lock;  // over `done`, the progress calls and `failure`
    std::exception_ptr failure;
    std::atomic<bool> failed{false};
    std::atomic<std::size_t> next{0};
    if (progress) progress(done);

    auto finish = [&](std::size_t i) {
        ItemWork& w = work[i];
        if (w.zopfliParts.empty()) {
            deflated[i] = std::move(w.libdeflate);
        } else {
            std::vector<std::uint8_t> zopfli = JoinZopfliParts(items[i].data, w.zopfliParts);
            w.zopfliParts = {};
            deflated[i] = SmallerOf(std::move(w.libdeflate), std::move(zopfli));
        }
    };
    auto worker = [&]() {
        while (!failed) {
            const std::size_t t = next.fetch_add(1);
            if (t >= tasks.size()) return;
            const Task& task = tasks[t];
            const Item& item = items[task.item];
            ItemWork& w = work[task.item];
            try {
                if (task.zopfli) {
                    w.zopfliParts[task.part] = ZopfliDeflatePartOf(item.data, task.part, kZopfliIterations);
                } else {
                    w.libdeflate = LibdeflateDeflate(item.data, item.level);
                }
                const bool itemDone = w.pending.fetch_sub(1, std::memory_order_acq_rel) == 1;
                if (itemDone) finish(task.item);
                const std::lock_guard<std::mutex> guard(lock);
                done.bytesDone += task.bytes;
                if (itemDone) ++done.itemsDone;
                if (progress) progress(done);
            } catch (...) {
                const std::lock_guard<std::mutex> guard(lock);
                if (!failure) failure = std::current_exception();
                failed = true;
            }
        }
    };

    const std::size_t threadCount = std::max<std::size_t>(1, std::min<std::size_t>(jobs, tasks.size()));
    std::vector<std::thread> threads;
    threads.reserve(threadCount);
    try {
        while (threads.size() < threadCount) threads.emplace_back(worker);
    } catch (const std::system_error&) {
        // The machine gives no more threads: those started take every task, or
        // this thread does.
        if (threads.empty()) worker();
    }
    for (std::thread& thread : threads) thread.join();
    if (failure) std::rethrow_exception(failure);
    return deflated;
}

}  // namespace packer
