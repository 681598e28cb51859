// Scales a 32-bit BGRX picture (a window's client area) into a 24-bit BGR
// picture: a source rectangle into a target rectangle (see
// frame_geometry.h), mirrored left-right if asked. Shrinking averages
// areas; enlarging interpolates bilinearly. Only the target rectangle is
// written.
//
// Two separable passes in integer arithmetic, each a class of its own:
// mostly a vertical pass (CVerticalPass) per output row over the source
// columns of the rectangle, then a horizontal pass into the target: for
// mild horizontal shrinks by windows of adjacent columns that every lane
// of a vector weighs on its own (CHorizontalWindowPass), else per output
// pixel from its own taps (CHorizontalPixelPass). Where the horizontal
// pass over every source row is less work (a strong horizontal shrink with
// little vertical shrink, e.g. 720 rows to 768), that pass comes first,
// into a ring of rows (CHorizontalFirstRing). The weights (axis_weights.h)
// are computed once per size and geometry (Prepare); Scale allocates
// nothing and may run for every frame. The scaler itself chooses the order
// of the passes and runs the rows. The pixel loops exist for SSE2 and for
// AVX2 (chosen at run time when the processor has it); both give exactly
// the same pictures (see frame_scaler_kernels.h).
//
// A rectangle of the target's own size (neither axis scaled, as for a
// 1280x720 window sent at 1280x720) is not filtered at all: its rows are
// copied, as 3-byte pixels, mirrored where asked.
//
// One correction on top (CCheckerboardCorrection): an area average over a
// non-integer number of pixels leaks a one-pixel checkerboard (dithered
// areas, 50% patterns) into coarse beats instead of the grey a viewer
// sees. When the picture shrinks along either axis (so the target cannot
// show that pattern), the vertical pass subtracts from each output row,
// wherever its weights leak the pattern (their even and odd rows weigh
// differently), the local checkerboard of the source times that leak. The
// local checkerboard is measured per tile of 4 x 4 source pixels (a band
// of four rows at a time) from the 2 x 2 blocks' alternating sums, and
// interpolated between tile centres along the row. Flat and smooth areas,
// and straight horizontal or vertical lines and edges, have no such
// component and come out as the plain area average; columns whose tiles
// are all zero are skipped. In the horizontal-first order, each source row
// is corrected before the pixel pass instead (CCorrectedSourceRow).
//
// Threads. Prepare and Scale belong to the owner's thread (checked): the
// streaming thread of a device, the dialog thread of the window page; the
// owner hands the scaler over with DetachFromThread.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

#include "scaler/axis_weights.h"
#include "scaler/checkerboard_correction.h"
#include "scaler/corrected_source_row.h"
#include "scaler/frame_geometry.h"
#include "scaler/frame_scaler_kernels.h"
#include "scaler/horizontal_first_ring.h"
#include "scaler/horizontal_pixel_pass.h"
#include "scaler/horizontal_window_pass.h"
#include "scaler/vertical_pass.h"
#include "framework/cpu_features.h"
#include "framework/thread_checks.h"

class CFrameScaler {
public:
    // Fixed-point scale of the weights of ComputeAxisWeights: 1.0 == kWeightOne.
    static constexpr int kWeightShift = frame_scaler_kernels::kWeightShift;
    static constexpr int kWeightOne = frame_scaler_kernels::kWeightOne;

    // The instruction sets of cpu_features; the pixel loops exist for SSE2
    // and AVX2.
    using Instructions = cpu_features::InstructionSet;
    // Whether the scaler has loops for a set and this processor (and its
    // operating system) can run them.
    [[nodiscard]] static bool IsSupported(Instructions instructions);
    // The fastest set this processor can run: what a new scaler uses, the
    // same set a new CFrameConverter uses.
    static Instructions Best();

    CFrameScaler();

    // Uses another supported set from the next Prepare on (the scaler must
    // be prepared again). E_NOTIMPL when the processor cannot run it.
    [[nodiscard]] HRESULT UseInstructions(Instructions instructions);
    Instructions CurrentInstructions() const { return m_instructions; }

    // Prepares the scaler for a source size, a target size and a geometry;
    // the four-size form scales the whole source over the whole target,
    // unmirrored. Allocates only when sizes or geometry change.
    // E_INVALIDARG (and nothing changes) for a size that is not positive or
    // a rectangle that is empty or not within its picture; E_OUTOFMEMORY
    // leaves the scaler unprepared.
    [[nodiscard]] HRESULT Prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight);
    [[nodiscard]] HRESULT Prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                                  const FrameGeometry& geometry);

    [[nodiscard]] bool IsPreparedFor(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight) const;
    [[nodiscard]] bool IsPreparedFor(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                                     const FrameGeometry& geometry) const;

    // Scales the source into the target rectangle at the prepared sizes;
    // does nothing unless prepared. Both pictures are addressed by their top
    // row and a signed row stride in bytes, so a bottom-up picture passes its
    // last memory row and a negative stride.
    void Scale(const BYTE* sourceTop, ptrdiff_t sourceStride, BYTE* targetTop, ptrdiff_t targetStride);
    // Scale, a band of the target at a time: the band is `bandRows` rows of
    // the target picture from row `bandFirst` on, its first row at
    // bandTop; only what of the target rectangle lies in the band is
    // written. Bands come in order, the first from row 0 (which starts a
    // frame) and each where the one before ended; all of them together
    // write exactly what Scale writes. So a caller can use each band (to
    // convert it, while it is in the cache) before the next is scaled.
    void ScaleBand(const BYTE* sourceTop, ptrdiff_t sourceStride, BYTE* bandTop, ptrdiff_t bandStride, int bandFirst,
                   int bandRows);

    // The weights of one axis, as taps of one output position: source index
    // and weight in units of 1 / kWeightOne. For tests and benchmarks.
    using Tap = AxisTap;
    static std::vector<std::vector<Tap>> ComputeAxisWeights(int sourceLength, int targetLength);

    // The next Prepare or Scale may come from another thread.
    void DetachFromThread() { m_owner.Detach(); }

private:
    void Reset();
    void Build();
    // Whether the horizontal pass goes first: when its estimated work is
    // less.
    bool HorizontalFirstIsLessWork() const;
    // The rows [first, end) of the target rectangle, the band's first row
    // (target row `bandFirst`) at bandTop.
    struct Band {
        BYTE* top;
        ptrdiff_t stride;
        int bandFirst;
        int first;
        int end;
    };
    void ScaleVerticalFirst(const BYTE* sourceTop, ptrdiff_t sourceStride, const Band& band);
    void ScaleHorizontalFirst(const BYTE* sourceTop, ptrdiff_t sourceStride, const Band& band);
    void Copy(const BYTE* sourceTop, ptrdiff_t sourceStride, const Band& band);
    // A source row through the pixel pass into the ring (corrected first,
    // where the correction is on).
    void FilterSourceRow(const BYTE* sourceTop, ptrdiff_t sourceStride, int row);
    BYTE* TargetRow(const Band& band, int y) const;

    Instructions m_instructions;
    const frame_scaler_kernels::KernelSet* m_kernels;

    bool m_prepared = false;
    int m_sourceWidth = 0;
    int m_sourceHeight = 0;
    int m_targetWidth = 0;
    int m_targetHeight = 0;
    FrameGeometry m_geometry = {};
    // The rectangles' sizes.
    int m_columns = 0;
    int m_rows = 0;
    int m_width = 0;
    int m_height = 0;
    // The horizontal-first order: the source rows filtered into the ring so
    // far in this frame (kept from band to band).
    int m_filtered = 0;

    // The choices: a plain copy (no pass at all); else the horizontal pass
    // by windows, else by pixels, and then which pass comes first; whether
    // the checkerboard correction is on.
    bool m_copy = false;
    bool m_useWindows = false;
    bool m_horizontalFirst = false;
    bool m_correct = false;

    CVerticalPass m_vertical;
    CHorizontalWindowPass m_windowPass;
    CHorizontalPixelPass m_pixelPass;
    CHorizontalFirstRing m_ring;
    CCheckerboardCorrection m_correction;
    CCorrectedSourceRow m_correctedRow;
    CThreadChecker m_owner;
};
