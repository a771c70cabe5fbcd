#include "tests/fuzz/fuzz_support.h"

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

// --- Mutations -------------------------------------------------------------------

bool MutationRecord::Untouched(const Range& range) const noexcept {
    if (moved && firstMoved < range.end) return false;
    for (const Range& r : overwritten) {
        if (r.Overlaps(range)) return false;
    }
    return true;
}

namespace {

std::size_t Position(Bytes& bytes, Random& random, const std::vector<std::size_t>& hotSpots) {
    if (bytes.empty()) return 0;
    if (!hotSpots.empty() && random.OneIn(2)) {
        const std::size_t spot = hotSpots[random.Below(static_cast<std::uint32_t>(hotSpots.size()))];
        const std::size_t p = spot + random.Below(48);
        return std::min(p, bytes.size() - 1);
    }
    return random.Below(static_cast<std::uint32_t>(bytes.size()));
}

// Values that sit on the edges of what lengths, sizes and counts can hold.
std::uint32_t InterestingValue(Random& random, std::uint32_t old) {
    static const std::uint32_t values[] = {0,       1,          2,           0x7F,        0x80,       0xFF,
                                           0x100,   0x3FFF,     0x4000,      0x7FFF,      0x8000,     0xFFFF,
                                           0x10000, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFEu};
    switch (random.Below(4)) {
        case 0:
            return old + 1;
        case 1:
            return old - 1;
        case 2:
            return old + (random.Below(64) - 32);
        default:
            return values[random.Below(sizeof values / sizeof values[0])];
    }
}

}  // namespace

MutationRecord Mutate(Bytes& bytes, Random& random, const std::vector<std::size_t>& hotSpots) {
    MutationRecord record;
    const int count = 1 + static_cast<int>(random.Below(4));
    char text[96];
    auto moved = [&](std::size_t at) {
        record.moved = true;
        record.firstMoved = std::min(record.firstMoved, at);
    };
    for (int m = 0; m < count; ++m) {
        if (bytes.empty()) {
            bytes.push_back(static_cast<std::uint8_t>(random.Next()));
            moved(0);
            record.description += "grow-from-empty;";
            continue;
        }
        const std::size_t p = Position(bytes, random, hotSpots);
        const std::uint32_t kind = random.Below(100);
        if (kind < 30) {  // flip one bit
            bytes[p] ^= static_cast<std::uint8_t>(1u << random.Below(8));
            record.overwritten.push_back({p, p + 1});
            std::snprintf(text, sizeof text, "flip@%zu;", p);
        } else if (kind < 45) {  // one byte to a random value
            bytes[p] = static_cast<std::uint8_t>(random.Next());
            record.overwritten.push_back({p, p + 1});
            std::snprintf(text, sizeof text, "byte@%zu;", p);
        } else if (kind < 70) {  // a 16- or 32-bit little-endian field to an edge value
            const std::size_t width = random.OneIn(2) ? 2 : 4;
            if (p + width > bytes.size()) continue;
            std::uint32_t old = 0;
            for (std::size_t k = 0; k < width; ++k) old |= static_cast<std::uint32_t>(bytes[p + k]) << (8 * k);
            const std::uint32_t value = InterestingValue(random, old);
            for (std::size_t k = 0; k < width; ++k) bytes[p + k] = static_cast<std::uint8_t>(value >> (8 * k));
            record.overwritten.push_back({p, p + width});
            std::snprintf(text, sizeof text, "field%zu@%zu=%08x;", width * 8, p, static_cast<unsigned>(value));
        } else if (kind < 78) {  // copy a piece of the input over another place
            const std::size_t from = random.Below(static_cast<std::uint32_t>(bytes.size()));
            const std::size_t length = std::min<std::size_t>(
                {1 + random.Below(64), bytes.size() - from, bytes.size() - p});
            std::memmove(&bytes[p], &bytes[from], length);
            record.overwritten.push_back({p, p + length});
            std::snprintf(text, sizeof text, "copy%zu@%zu<-%zu;", length, p, from);
        } else if (kind < 85) {  // insert random bytes
            const std::size_t length = 1 + random.Below(16);
            Bytes extra(length);
            for (auto& b : extra) b = static_cast<std::uint8_t>(random.Next());
            bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(p), extra.begin(), extra.end());
            moved(p);
            std::snprintf(text, sizeof text, "insert%zu@%zu;", length, p);
        } else if (kind < 92) {  // delete a piece
            const std::size_t length = std::min<std::size_t>(1 + random.Below(32), bytes.size() - p);
            bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(p),
                        bytes.begin() + static_cast<std::ptrdiff_t>(p + length));
            moved(p);
            std::snprintf(text, sizeof text, "delete%zu@%zu;", length, p);
        } else if (kind < 97) {  // cut the end off
            bytes.resize(p);
            moved(p);
            std::snprintf(text, sizeof text, "truncate@%zu;", p);
        } else {  // append junk
            const std::size_t at = bytes.size();
            const std::size_t length = 1 + random.Below(100);
            for (std::size_t k = 0; k < length; ++k) bytes.push_back(static_cast<std::uint8_t>(random.Next()));
            moved(at);
            std::snprintf(text, sizeof text, "append%zu;", length);
        }
        record.description += text;
    }
    return record;
}

// --- Watchdog and crash reporter -----------------------------------------------------------

namespace {

std::atomic<ULONGLONG> g_caseStart{0};  // 0: no case under way
std::atomic<std::uint64_t> g_caseNumber{0};
const char* volatile g_campaign = "";
const Bytes* volatile g_input = nullptr;

void SaveAndReport(const char* what) {
    const Bytes* input = g_input;
    std::string file = "(no input)";
    if (input != nullptr) file = CaseGuard::SaveReproducer(g_campaign, g_caseNumber.load(), *input);
    std::fprintf(stderr, "\nFUZZ FINDING: %s in %s case %llu; reproducer %s\n", what, g_campaign,
                 static_cast<unsigned long long>(g_caseNumber.load()), file.c_str());
    if (input != nullptr && input->size() <= 4096) std::fprintf(stderr, "%s\n", HexDump(*input, 4096).c_str());
    std::fflush(stderr);
}

LONG WINAPI CrashReporter(EXCEPTION_POINTERS* info) {
    char what[96];
    std::snprintf(what, sizeof what, "exception 0x%08lx at %p",
                  static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                  info->ExceptionRecord->ExceptionAddress);
    SaveAndReport(what);
    ::TerminateProcess(::GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

DWORD WINAPI Watchdog(void*) {
    for (;;) {
        ::Sleep(200);
        const ULONGLONG start = g_caseStart.load();
        if (start != 0 && ::GetTickCount64() - start > kCaseLimitMs) {
            SaveAndReport("hang (over 5 s)");
            ::TerminateProcess(::GetCurrentProcess(), 4);
        }
    }
}

}  // namespace

void CaseGuard::Install() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    ::SetUnhandledExceptionFilter(CrashReporter);
    HANDLE thread = ::CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
    if (thread != nullptr) ::CloseHandle(thread);
}

void CaseGuard::Begin(const char* campaign, std::uint64_t caseNumber, const Bytes& input) {
    g_campaign = campaign;
    g_input = &input;
    g_caseNumber.store(caseNumber);
    g_caseStart.store(::GetTickCount64());
}

void CaseGuard::End() {
    g_caseStart.store(0);
    g_input = nullptr;
}

std::string CaseGuard::SaveReproducer(const char* campaign, std::uint64_t caseNumber, const Bytes& bytes) {
    char name[128];
    std::snprintf(name, sizeof name, "fuzz-%s-%llu.bin", campaign, static_cast<unsigned long long>(caseNumber));
    // The current directory is the sandbox: the reproducer goes beside the
    // program's own working folder instead, which the test runner keeps.
    char folder[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableA("LARKSPAN_FUZZ_OUT", folder, MAX_PATH);
    std::string path = (length > 0 && length < MAX_PATH) ? std::string(folder) + "\\" + name : std::string(name);
    if (!support::WriteWholeFile(path, bytes)) path += " (could not be written)";
    return path;
}

// --- Sandbox ---------------------------------------------------------------------------------

namespace {

// Makes fence and the target folder inside it; returns the target.
const std::string& MadeTarget(const std::string& fence, const std::string& target) {
    ::CreateDirectoryA(fence.c_str(), nullptr);
    ::CreateDirectoryA(target.c_str(), nullptr);
    return target;
}

}  // namespace

Sandbox::Sandbox()
    : root_("fuzz"), fence_(root_ / "fence"), target_(fence_ + "\\target"), inTarget_(MadeTarget(fence_, target_)) {}

Sandbox::~Sandbox() = default;

std::string Sandbox::Check() const {
    std::string problems;
    const std::vector<std::string> inRoot = support::ListFolder(root_.path());
    if (inRoot != std::vector<std::string>{"fence"}) problems += "something appeared beside the sandbox; ";
    const std::vector<std::string> inFence = support::ListFolder(fence_);
    if (inFence != std::vector<std::string>{"target"}) problems += "something appeared beside the target folder; ";
    char current[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, current);
    if (_stricmp(current, target_.c_str()) != 0)
        problems += std::string("the current directory moved to ") + current + "; ";
    return problems;
}

void Sandbox::Clean() const {
    for (const std::string& name : support::ListFolder(target_)) support::RemoveTree(target_ + "\\" + name);
    // Whatever escaped is removed too, so that one finding is reported once.
    for (const std::string& name : support::ListFolder(root_.path())) {
        if (name != "fence") support::RemoveTree(root_ / name);
    }
    for (const std::string& name : support::ListFolder(fence_)) {
        if (name != "target") support::RemoveTree(fence_ + "\\" + name);
    }
    ::SetCurrentDirectoryA(target_.c_str());
}

// --- Budget and counts ------------------------------------------------------------------------

namespace {

bool EnvNumber(const char* name, double& value) {
    char text[64] = {};
    const DWORD length = ::GetEnvironmentVariableA(name, text, sizeof text);
    if (length == 0 || length >= sizeof text) return false;
    value = std::strtod(text, nullptr);
    return true;
}

}  // namespace

Budget Budget::FromEnvironment(std::uint64_t seed, std::uint64_t cases, double seconds) {
    Budget budget;
    budget.seed = seed;
    budget.cases = cases;
    budget.seconds = seconds;
    double value = 0;
    if (EnvNumber("LARKSPAN_FUZZ_SEED", value)) budget.seed = static_cast<std::uint64_t>(value);
    if (EnvNumber("LARKSPAN_FUZZ_CASES", value)) budget.cases = static_cast<std::uint64_t>(value);
    if (EnvNumber("LARKSPAN_FUZZ_SECONDS", value)) budget.seconds = value;
    if (EnvNumber("LARKSPAN_FUZZ_CASE", value)) {
        budget.firstCase = static_cast<std::uint64_t>(value);
        budget.cases = 1;
    }
    return budget;
}

namespace {

// Counts open handles by asking about every handle value up to a bound: for
// systems whose GetProcessHandleCount reports nothing (Wine answers 0).
DWORD ProbeHandles() {
    DWORD count = 0;
    for (std::uintptr_t value = 4; value <= 4 * 16384; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

}  // namespace

ResourceCount ResourceCount::Take() {
    ResourceCount count;
    if (!::GetProcessHandleCount(::GetCurrentProcess(), &count.handles) || count.handles == 0) {
        count.handles = ProbeHandles();
    }
    ::SetLastError(0);
    count.gdiObjects = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    count.userObjects = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
    count.guiCounted = !(count.gdiObjects == 0 && ::GetLastError() == ERROR_CALL_NOT_IMPLEMENTED);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                               sizeof memory)) {
        // Wine leaves PrivateUsage at 0; the commit charge says the same there.
        count.privateBytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
    }
    return count;
}

std::string ResourceCount::Describe(const ResourceCount& before, const ResourceCount& after) {
    char text[256];
    std::snprintf(
        text, sizeof text, "handles %lu -> %lu, GDI %lu -> %lu, USER %lu -> %lu%s, private memory %.1f -> %.1f MiB",
        before.handles, after.handles, before.gdiObjects, after.gdiObjects, before.userObjects, after.userObjects,
        after.guiCounted ? "" : " (not counted by this system)", static_cast<double>(before.privateBytes) / 1048576.0,
        static_cast<double>(after.privateBytes) / 1048576.0);
    return text;
}

std::string ResourceCount::Growth(const ResourceCount& before, const ResourceCount& after) {
    // A leak of one object per case shows as hundreds; a few come and go with the system.
    std::string problems;
    if (after.handles > before.handles + 8) problems += "handles grow over the run; ";
    if (after.guiCounted && after.gdiObjects > before.gdiObjects + 8) problems += "GDI objects grow over the run; ";
    if (after.guiCounted && after.userObjects > before.userObjects + 8) problems += "USER objects grow over the run; ";
    // Without GDI counts, the memory that leaked pictures or streams hold still shows.
    if (after.privateBytes > before.privateBytes + (48u << 20)) problems += "private memory grows over the run; ";
    return problems;
}

void RunCampaign(const char* name, const Budget& budget, std::uint64_t settle, std::size_t dumpBytes,
                 const std::function<CampaignCase(Random&)>& make) {
    constexpr std::uint64_t kReportedFindings = 20;
    const double start = Now();
    ResourceCount before;
    std::uint64_t done = 0, findings = 0;
    for (std::uint64_t c = budget.firstCase; c < budget.firstCase + budget.cases; ++c) {
        if (Now() - start > budget.seconds) break;
        if (done == settle) before = ResourceCount::Take();  // after the first allocations have settled
        Random random(budget.seed * 0x9E3779B97F4A7C15ULL + c);
        const CampaignCase one = make(random);
        CaseGuard::Begin(name, c, one.bytes);
        const std::string problems = one.check(one.bytes);
        CaseGuard::End();
        ++done;
        if (problems.empty() || ++findings > kReportedFindings) continue;
        const std::string file = CaseGuard::SaveReproducer(name, c, one.bytes);
        ADD_FAILURE() << "case " << c << " (" << one.origin << "): " << problems << "\nreproducer: " << file
                      << (dumpBytes > 0 ? "\n" + HexDump(one.bytes, dumpBytes) : std::string());
    }
    const ResourceCount after = ResourceCount::Take();
    std::printf("%s campaign: %llu cases in %.1f s, %llu with findings; %s\n", name,
                static_cast<unsigned long long>(done), Now() - start, static_cast<unsigned long long>(findings),
                ResourceCount::Describe(before, after).c_str());
    if (done > settle) {
        EXPECT_EQ(ResourceCount::Growth(before, after), "");
    }
    EXPECT_GT(done, 0u);
}

std::string HexDump(const Bytes& bytes, std::size_t limit) {
    std::string out;
    char cell[8];
    const std::size_t n = std::min(bytes.size(), limit);
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(cell, sizeof cell, "%02x", bytes[i]);
        out += cell;
        out += (i % 32 == 31) ? '\n' : ' ';
    }
    if (n < bytes.size()) out += "...";
    return out;
}

}  // namespace fuzz
