// Mutation campaign over the picture control: the shipped animation (and a
// three-frame cut of it) is mutated, walked from memory that ends at a
// no-access page (InspectGifStream: block walk and frame cutting), loaded with
// LoadFromMemory (walk, frame assembly, decoding) and, for some cases, drawn
// through all its frames.
//
// Checks: no crash, no hang, a layout that stays inside the stream, frames that
// are whole stand-alone streams, a loaded control whose frames all hold a
// picture and a disposal method of 0-7, a failed load that leaves the control
// not ready, the caller's block left unchanged, and no handle or GDI object
// growth over the run.
#include "picture/animated_picture_wnd.h"
#include "tests/fuzz/fuzz_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using fuzz::Bytes;

struct GifSeed {
    std::string name;
    Bytes bytes;
    std::vector<std::size_t> hotSpots;
};

std::vector<GifSeed> MakeSeeds() {
    std::vector<GifSeed> seeds;
    const Bytes shipped = fuzz::ReadWholeFile(LARKSPAN_FUZZ_GIF).value_or(Bytes());
    if (shipped.empty()) return seeds;
    CAnimatedPictureWnd inspector;
    const GifStreamLayout layout = inspector.InspectGifStream(shipped.data(), static_cast<DWORD>(shipped.size()));
    auto spots = [&](std::size_t frames) {
        std::vector<std::size_t> s = {0, 6, 10};
        for (std::size_t f = 0; f < layout.frames.size() && f < frames; ++f) {
            const std::size_t at = layout.frames[f].offset;
            for (std::size_t d : {0, 8, 27, 37}) s.push_back(at + d);
        }
        return s;
    };
    GifSeed full{"shipped", shipped, spots(layout.frames.size())};
    full.hotSpots.push_back(shipped.size() - 1);
    seeds.push_back(full);
    if (layout.frames.size() >= 3) {
        const std::size_t cut = layout.frames[2].offset + layout.frames[2].extent;
        Bytes three(shipped.begin(), shipped.begin() + static_cast<std::ptrdiff_t>(cut));
        three.push_back(0x3B);
        GifSeed small{"three-frames", three, spots(3)};
        small.hotSpots.push_back(three.size() - 1);
        seeds.push_back(small);
    }
    return seeds;
}

// How far the cases got: loads that succeeded, and of those, animations.
std::uint64_t g_loaded = 0, g_animated = 0;

// Walk, load and (sometimes) draw one stream; the problems found.
std::string RunPictureCase(const Bytes& bytes, bool draw) {
    std::string problems;
    CAnimatedPictureWnd control;

    {
        fuzz::GuardedBlock fenced(bytes.data(), bytes.size(), true);
        const GifStreamLayout layout = control.InspectGifStream(fenced.data(), static_cast<DWORD>(fenced.size()));
        for (const GifFrameLayout& frame : layout.frames) {
            if (static_cast<std::uint64_t>(frame.offset) + frame.extent > bytes.size()) {
                problems += "a walked frame reaches past the stream; ";
            }
            if (frame.streamSize != frame.stream.size() || frame.stream.size() < 14 ||
                std::memcmp(frame.stream.data(), "GIF", 3) != 0 || frame.stream.back() != 0x3B) {
                problems += "a cut frame is not a whole stand-alone stream; ";
            }
        }
    }

    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, bytes.empty() ? 1 : bytes.size());
    if (block == nullptr) return problems + "no memory; ";
    if (void* p = ::GlobalLock(block)) {
        if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
        ::GlobalUnlock(block);
    }
    const BOOL loaded = control.LoadFromMemory(block, static_cast<DWORD>(bytes.size()));
    ::GlobalFree(block);

    if (loaded) {
        ++g_loaded;
        if (control.HasAnimation()) ++g_animated;
        if (control.FrameCount() == 0 && !control.HasStill()) problems += "loaded with neither frames nor a still; ";
        for (DWORD f = 0; f < control.FrameCount(); ++f) {
            const GifFrame& frame = control.Frame(f);
            if (!frame.picture) problems += "a loaded frame without a picture; ";
        }
        if (draw) static_cast<void>(control.DrawFramesThrough(control.FrameCount()));
    } else if (control.IsReady()) {
        // A failed load may keep what it decoded (the next Stop releases it),
        // but never a surface: a surface the size of a mutated screen fails to
        // be made in a 32-bit process long before it does in a 64-bit one.
        problems += "a failed load left the control ready; ";
    }
    control.Stop();
    return problems;
}

TEST(PictureFuzz, MutatedAnimationsLoadOrFailCleanly) {
    const fuzz::Budget budget = fuzz::Budget::FromEnvironment(0x47494646555A5AULL, 1500, 18);
    fuzz::CaseGuard::Install();
    const std::vector<GifSeed> seeds = MakeSeeds();
    ASSERT_FALSE(seeds.empty()) << "the shipped animation is missing: " << LARKSPAN_FUZZ_GIF;

    // The seeds themselves load as animations and pass every check.
    for (const GifSeed& seed : seeds) {
        const std::uint64_t animated = g_animated;
        EXPECT_EQ(RunPictureCase(seed.bytes, true), "") << seed.name;
        EXPECT_EQ(g_animated, animated + 1) << seed.name << " loads as an animation";
    }

    fuzz::RunCampaign("picture", budget, 20, 0, [&](fuzz::Random& random) {
        // The short seed most of the time: it decodes ten times faster.
        const GifSeed& seed = seeds[seeds.size() > 1 && !random.OneIn(5) ? 1 : 0];
        fuzz::CampaignCase one{seed.bytes, {}, {}};
        const fuzz::MutationRecord mutation = fuzz::Mutate(one.bytes, random, seed.hotSpots);
        const bool draw = random.OneIn(3);
        one.origin = "seed " + seed.name + ", " + mutation.description;
        one.check = [draw](const Bytes& bytes) { return RunPictureCase(bytes, draw); };
        return one;
    });
    std::printf("picture campaign: %llu loads succeeded, %llu of them animations\n",
                static_cast<unsigned long long>(g_loaded), static_cast<unsigned long long>(g_animated));
}

}  // namespace
