// The machinery of the mutation campaigns: a seeded random source, mutations
// that remember which bytes they touched, a watchdog and a crash reporter that name the case and save its bytes,
// a sandbox folder that must stay the only place written, and the budget.
#pragma once

#include "tests/support/bytes.h"
#include "tests/support/files.h"
#include "tests/support/memory.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fuzz {

using support::Bytes;
using support::GuardedBlock;
using support::Now;
// splitmix64: every case draws from a generator seeded by (campaign seed, case).
using support::Random;
using support::ReadWholeFile;

// A byte range [begin, end) of an input.
struct Range {
    std::size_t begin = 0;
    std::size_t end = 0;
    [[nodiscard]] bool Overlaps(const Range& other) const noexcept { return begin < other.end && other.begin < end; }
};

// What the mutations did: the bytes they overwrote in place, and whether any of
// them moved bytes (insert, delete, truncate, append), which shifts every
// offset after the first moved position.
struct MutationRecord {
    std::vector<Range> overwritten;
    bool moved = false;
    std::size_t firstMoved = SIZE_MAX;
    std::string description;
    // True when nothing of `range` (in seed coordinates) was changed or moved.
    [[nodiscard]] bool Untouched(const Range& range) const noexcept;
};

// Applies 1 to 4 mutations. `hotSpots` are positions where structure lives
// (headers, lengths): half of the positions are drawn near one of them.
MutationRecord Mutate(Bytes& bytes, Random& random, const std::vector<std::size_t>& hotSpots);

// The case under way, known to the watchdog and to the crash reporter, which
// save its bytes to fuzz-<campaign>-<case>.bin in the working folder and end
// the process with a failure code.
struct CaseGuard {
    // Starts the watchdog thread (once) and installs the crash reporter.
    static void Install();
    static void Begin(const char* campaign, std::uint64_t caseNumber, const Bytes& input);
    static void End();
    // Saves bytes as a reproducer; returns the file name.
    static std::string SaveReproducer(const char* campaign, std::uint64_t caseNumber, const Bytes& bytes);
};

// How long any one case may run before the watchdog fails it.
constexpr DWORD kCaseLimitMs = 5000;

// A fresh folder tree under the temporary folder: <root>\fence\target, with
// the process's current directory set to target. After every case only
// `target` may hold anything new: Check() compares the listings of root and
// fence and the current directory with what they were, Clean() empties target.
class Sandbox {
public:
    Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;
    ~Sandbox();
    [[nodiscard]] const std::string& target() const noexcept { return target_; }
    // Empty when everything is in place, else what is wrong.
    [[nodiscard]] std::string Check() const;
    void Clean() const;

private:
    support::TempFolder root_;
    std::string fence_, target_;
    support::CurrentDirectory inTarget_;  // last: put back before the tree goes
};

// Budget of one campaign: LARKSPAN_FUZZ_SECONDS (default `seconds`) and
// LARKSPAN_FUZZ_CASES (default `cases`); LARKSPAN_FUZZ_CASE=k runs case k only;
// LARKSPAN_FUZZ_SEED replaces the campaign seed.
struct Budget {
    std::uint64_t seed = 0;
    std::uint64_t firstCase = 0;
    std::uint64_t cases = 0;
    double seconds = 0;
    static Budget FromEnvironment(std::uint64_t seed, std::uint64_t cases, double seconds);
};

// The process's open handles, GDI and USER objects and private memory.
struct ResourceCount {
    DWORD handles = 0;
    DWORD gdiObjects = 0;
    DWORD userObjects = 0;
    bool guiCounted = true;  // false where GetGuiResources is not implemented (Wine)
    SIZE_T privateBytes = 0;
    static ResourceCount Take();
    static std::string Describe(const ResourceCount& before, const ResourceCount& after);
    // Empty when nothing grew beyond the noise, else what grew.
    static std::string Growth(const ResourceCount& before, const ResourceCount& after);
};

std::string HexDump(const Bytes& bytes, std::size_t limit);

// One case as a campaign makes it: its bytes, where they came from (seed and
// mutations), and the check that runs over them and says what went wrong.
struct CampaignCase {
    Bytes bytes;
    std::string origin;
    std::function<std::string(const Bytes&)> check;
};

// Runs a campaign's cases within its budget: case c is made from its own
// generator (campaign seed, c) and checked under the watchdog, its bytes known
// to the crash reporter. The first 20 findings fail the test with a reproducer
// file (and the first `dumpBytes` bytes). Resources are counted once `settle`
// cases have run and must not grow by the end.
void RunCampaign(const char* name, const Budget& budget, std::uint64_t settle, std::size_t dumpBytes,
                 const std::function<CampaignCase(Random&)>& make);

}  // namespace fuzz
