// The compositing pass as the device runs it: decodes the bindings, gives each band its scratch
// rows and hands the rows to the variant of the row shader that suits this CPU.

#include "Compositor/engine/scene_pass_kernel.h"

#include "Compositor/engine/frame_reuse.h"

#include "Compositor/engine/scene_pass_rows.h"
#include "Compositor/engine/scene_uniforms.h"
#include "platform/core/cpu_features.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <pthread.h>

namespace qv {

namespace {

using namespace scenepass;
using platform::PixelFormat;

Inputs readInputs(const platform::gfx::FragmentBindings &b) {
    Inputs in;
    std::memset(&in.u, 0, sizeof in.u);
    std::memcpy(&in.u, b.buffers[0].data(), std::min(b.buffers[0].size(), sizeof in.u));
    const int available = static_cast<int>(b.buffers[1].size() / sizeof(MaskRect));
    const int requested = static_cast<int>(in.u.maskCount);
    in.maskCount = std::clamp(std::min(requested, available), 0, kMaxMasks);
    std::memcpy(in.masks, b.buffers[1].data(), in.maskCount * sizeof(MaskRect));
    for (int s = 0; s < sceneSlotCount; ++s) in.tex[s] = b.textures[s].get();
    return in;
}

// Working memory of one band, kept per thread so that frames reuse it.
struct ScratchStore {
    std::vector<float> px, sfx, win;
    std::vector<std::int16_t> vrow;
    std::vector<std::uint64_t> fxw;
    std::vector<std::int32_t> sx0, sx1;
    std::vector<std::uint8_t> flags, maskBits, winAny, special, shown, fastMask;

    ColumnKey columnKey{};
    bool columnsValid = false;
    int columnRanges[4] = {};

    Scratch view(int columns, int sourceColumns) {
        const auto n = static_cast<std::size_t>(columns);
        // Growing the tables may move them: what they held is then gone.
        if (px.size() < n || vrow.size() < 4 * (static_cast<std::size_t>(sourceColumns) + 8))
            columnsValid = false;
        px.resize(n), sfx.resize(n), sx0.resize(n), sx1.resize(n);
        flags.resize(n), maskBits.resize(n), winAny.resize(n), special.resize(n);
        shown.resize(n), fastMask.resize(n);
        win.resize(4 * n);
        fxw.resize(n);
        // Vector loads may read one block past the last source column.
        vrow.resize(4 * (static_cast<std::size_t>(sourceColumns) + 8));
        Scratch s;
        s.columns = columns;
        s.sourceColumns = sourceColumns;
        s.px = px.data(), s.flags = flags.data(), s.sx0 = sx0.data(), s.sx1 = sx1.data();
        s.sfx = sfx.data(), s.maskBits = maskBits.data(), s.winAny = winAny.data();
        s.special = special.data(), s.shown = shown.data(), s.fastMask = fastMask.data();
        s.win = win.data(), s.fxw = fxw.data(), s.vrow = vrow.data();
        s.columnKey = &columnKey, s.columnsValid = &columnsValid, s.columnRanges = columnRanges;
        return s;
    }
};

// This thread's scratch, made on first use. A thread_local object with a destructor registers
// that destructor on first use, and the C library ends the process when the registration finds
// no memory; a thread key's destructor needs no registration, and memory that runs out here is a
// std::bad_alloc, which fails the frame.
ScratchStore &threadScratch() {
    static const pthread_key_t key = [] {
        pthread_key_t k{};
        if (pthread_key_create(&k, [](void *p) { delete static_cast<ScratchStore *>(p); }) != 0)
            throw std::bad_alloc();
        return k;
    }();
    if (auto *kept = static_cast<ScratchStore *>(pthread_getspecific(key))) return *kept;
    auto store = std::make_unique<ScratchStore>();
    if (pthread_setspecific(key, store.get()) != 0) throw std::bad_alloc();
    return *store.release();
}

using ShadeRows = void (*)(const Inputs &, platform::gfx::Texture &, int, int, Scratch &,
                           const platform::RowChanges *);

// The columns to shade per row; the rest of the row is either copied from the previous frame
// or, with no previous frame named, already in the target. Everything is shaded when there is
// no plan, or when the previous frame is not the one the plan was made against (it failed to
// draw).
struct Redraw {
    std::vector<platform::RowChanges> spans;
    const platform::gfx::Texture *previous = nullptr; // null: draw over the target in place
};

bool readRedraw(const platform::gfx::FragmentBindings &b, const platform::gfx::Texture &target,
                int rowBegin, int rowEnd, Redraw &out) {
    std::uint64_t expected = 0;
    if (!readRedrawPlan(b.buffers[kRedrawPlanBuffer], target.height(), target.width(), rowBegin,
                        rowEnd, expected, out.spans))
        return false;
    if (expected) {
        const platform::gfx::Texture *previous = b.textures[kPreviousFrameSlot].get();
        if (!previous || previous->width() != target.width() ||
            previous->height() != target.height() || previous->format() != target.format())
            return false;
        const platform::FrameLineageRef &lineage = previous->buffer().lineage();
        if (!lineage || lineage->id != expected) return false;
        out.previous = previous;
    }
    return true;
}

ShadeRows chooseVariant() {
    return platform::cpuHasAvx2Fma() ? &avx2::shadeRows : &base::shadeRows;
}

std::atomic<ShadeRows> &currentVariant() {
    static std::atomic<ShadeRows> variant{chooseVariant()};
    return variant;
}

} // namespace

void sceneFragmentProgram(const platform::gfx::FragmentBindings &bindings,
                          platform::gfx::Texture &target, int rowBegin, int rowEnd) {
    if (target.format() != PixelFormat::bgra8) return;
    const Inputs in = readInputs(bindings);
    if (!in.tex[slotBehind]) {
        // Without a background the canvas is opaque black, like the cleared target.
        for (int j = rowBegin; j < rowEnd; ++j) {
            auto *row = reinterpret_cast<std::uint32_t *>(target.buffer().row(j));
            std::fill(row, row + target.width(), 0xFF000000u);
        }
        return;
    }
    Redraw redraw;
    const bool partial = readRedraw(bindings, target, rowBegin, rowEnd, redraw);
    if (partial) {
        bool any = false;
        for (int j = rowBegin; j < rowEnd; ++j) {
            const platform::RowChanges &r = redraw.spans[j];
            any = any || !r.empty();
            if (!redraw.previous) continue;
            // The columns between the spans come from the previous frame.
            std::uint8_t *dst = target.buffer().row(j);
            const std::uint8_t *src = redraw.previous->buffer().row(j);
            int from = 0;
            for (platform::RowSpan s : r) {
                std::memcpy(dst + 4 * from, src + 4 * from, std::size_t(s.begin - from) * 4);
                from = s.end;
            }
            std::memcpy(dst + 4 * from, src + 4 * from, std::size_t(target.width() - from) * 4);
        }
        if (!any) return;
    }
    const ShadeRows shade = currentVariant().load(std::memory_order_relaxed);
    ScratchStore &store = threadScratch();
    const platform::gfx::Texture *screen = in.tex[slotScreen];
    Scratch scratch = store.view(target.width(), screen ? screen->width() + 1 : 2);
    shade(in, target, rowBegin, rowEnd, scratch, partial ? redraw.spans.data() : nullptr);
}

bool setScenePassVariantForTesting(ScenePassVariant variant) {
    switch (variant) {
    case ScenePassVariant::automatic:
        currentVariant().store(chooseVariant());
        return true;
    case ScenePassVariant::base:
        currentVariant().store(&base::shadeRows);
        return true;
    case ScenePassVariant::avx2:
        if (!platform::cpuHasAvx2Fma()) return false;
        currentVariant().store(&avx2::shadeRows);
        return true;
    }
    return false;
}

void registerScenePassProgram() {
    static const bool registered = [] {
        platform::gfx::registerFragmentProgram(kSceneFragmentFunction, &sceneFragmentProgram);
        return true;
    }();
    (void)registered;
}

platform::gfx::RenderPipelineDescriptor scenePipelineDescriptor() {
    return {kSceneVertexFunction, kSceneFragmentFunction, PixelFormat::bgra8, true};
}

} // namespace qv
