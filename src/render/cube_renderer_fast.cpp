// renderCube's fast paths, for the frames fastPathsFit (cube_renderer.cpp)
// accepts: whole frames at steps 1 to 10 with the per-sample work of
// plotSample unrolled for each step and, where the compiler targets SSE2,
// vector rotation and depth marking. The 32-bit program builds this file
// twice, the second time for SSE2 as drawCubeFastSse2.
//
// They keep plotSample's results bit for bit: the rotation sums are formed in
// the same order from the same products (a product hoisted out of a loop is
// the same double), and the unrolled forms only run where every cell and
// pixel they touch lies inside the buffers, where the linear depth index and
// the clipped surface agree with plain two-dimensional addressing. Samples
// near an edge go to plotSample itself.
//
// drawCubeFast, at the bottom, is the one way in.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <type_traits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "render/cube_renderer_paths.h"
#include "render/depth_buffer.h"
#include "render/side_table.h"

namespace cube_paths {
namespace {

struct ChunkCoords {
    alignas(16) std::int32_t x[kChunk];
    alignas(16) std::int32_t y[kChunk];
    alignas(16) std::int32_t z[kChunk];
    alignas(16) std::int32_t cell[kChunk];  // f = 1 only: the depth index or -1
};

// The depth buffer and the surface of a fast frame, with the frame's centre:
// the buffer the size of the surface, depths that fit 16 bits, and cells to
// test against. Samples off the screen's top or bottom fail their depth test
// at once; only those near an edge go to plotSample.
//
// The per-sample loops keep a copy in locals: the vector stores may alias
// anything, so a field behind a reference would be read again per sample.
struct FastView {
    std::int64_t centerX;
    std::int64_t centerY;
    std::int64_t width;
    std::int64_t height;
    std::int64_t stride;
    std::int16_t* cells;
    std::uint32_t* pixels;
};

// depthRaise on three neighbouring cells of a row, the k = 1 block's, whose
// indices are known to lie inside the buffer. On SSE2 the three move at once,
// with a fourth beside them raised to the lowest depth, which leaves it as it
// was; the caller keeps it inside the buffer.
#if defined(__SSE2__)
using DepthLanes = __m128i;
inline DepthLanes depthLanes(std::int16_t z) {
    return _mm_insert_epi16(_mm_shufflelo_epi16(_mm_cvtsi32_si128(z), 0), INT16_MIN, 3);
}
inline void depthRaiseThree(std::int16_t* c, DepthLanes zz) {
    auto* at = reinterpret_cast<__m128i*>(c);
    _mm_storel_epi64(at, _mm_max_epi16(_mm_loadl_epi64(at), zz));
}
#else
using DepthLanes = std::int16_t;
inline DepthLanes depthLanes(std::int16_t z) { return z; }
inline void depthRaiseThree(std::int16_t* c, DepthLanes z) {
    for (int t = 0; t < 3; ++t)
        if (depthPasses(c[t], z)) c[t] = z;
}
#endif

// The depth index of every sample whose splat lies inside the buffer, -1 for
// the others: at k = 1 the 3x3 block and the fourth depth lane beside its
// rows (1 <= col <= width - 3 and 1 <= row <= height - 2), above it the
// square and runs of plotSampleSplat (k + 1 <= col <= width - 1 - k and
// k + 1 <= row <= height - 2 - k). The rotated coordinates fit
// 16 bits here (|X| <= sqrt(3) * h < 32736 below the 16-bit depth limit);
// positions are compared unsigned, by flipping the sign bit, and wrap-around
// in the 32-bit lanes cannot bring a position outside into range.
// fastPathsFit makes sure both ranges are not empty.
struct FastRange {
    std::int64_t low, colHigh, rowHigh;
};
FastRange fastRange(const FastView& v, std::int64_t k) {
    if (k == 1) return {1, v.width - 3, v.height - 2};
    return {k + 1, v.width - 1 - k, v.height - 2 - k};
}

#if defined(__SSE2__)
struct CellMap {
    __m128i colShift, rowShift, colLimit, rowLimit, rowAndOne, base;
};

CellMap cellMapFor(const FastView& v, std::int64_t k) {
    const auto wrap = [](std::int64_t x) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(x));
    };
    const FastRange r = fastRange(v, k);
    return {_mm_set1_epi32(wrap(v.centerX - r.low)),
            _mm_set1_epi32(wrap(v.centerY - r.low)),
            _mm_set1_epi32(wrap((r.colHigh - r.low + 1) ^ INT32_MIN)),
            _mm_set1_epi32(wrap((r.rowHigh - r.low + 1) ^ INT32_MIN)),
            _mm_set1_epi32(wrap(v.width | 0x10000)),
            _mm_set1_epi32(wrap(v.centerY * v.width + v.centerX))};
}

inline __m128i cellLanes(const CellMap& map, __m128i x, __m128i y) {
    const __m128i sign = _mm_set1_epi32(INT32_MIN);
    const __m128i colIn =
        _mm_cmpgt_epi32(map.colLimit, _mm_xor_si128(_mm_add_epi32(x, map.colShift), sign));
    const __m128i rowIn =
        _mm_cmpgt_epi32(map.rowLimit, _mm_xor_si128(_mm_add_epi32(y, map.rowShift), sign));
    // Y * width + X in one multiply-add of the 16-bit halves (Y, X).
    const __m128i pairYX =
        _mm_or_si128(_mm_and_si128(y, _mm_set1_epi32(0xFFFF)), _mm_slli_epi32(x, 16));
    const __m128i index = _mm_add_epi32(_mm_madd_epi16(pairYX, map.rowAndOne), map.base);
    const __m128i outside = _mm_xor_si128(_mm_and_si128(colIn, rowIn), _mm_set1_epi32(-1));
    return _mm_or_si128(index, outside);
}
#else
void cellsOfChunk(const FastView& v, std::int64_t k, std::int32_t n, ChunkCoords& c) {
    const FastRange r = fastRange(v, k);
    for (std::int32_t t = 0; t < n; ++t) {
        const std::int64_t col = v.centerX + c.x[t];
        const std::int64_t row = v.centerY + c.y[t];
        const bool inside =
            col >= r.low && col <= r.colHigh && row >= r.low && row <= r.rowHigh;
        c.cell[t] = inside ? static_cast<std::int32_t>(row * v.width + col) : -1;
    }
}
#endif

// Fixed-length runs for the splats: depthMarkRun is one row of
// depthTestAndMark's square (markDepthSquare's runs), fillSurfaceRunOf one
// run of plotSample's fill (fillSurfaceRun), both with the run known to lie
// inside the buffers. Raising to a maximum and storing one colour are both
// idempotent, so the vector pieces may overlap; they change no cell or pixel
// outside the run.
template <int N>
inline void depthMarkRun(std::int16_t* c, std::int16_t z) {
#if defined(__SSE2__)
    if constexpr (N >= 8) {
        const __m128i zz = _mm_set1_epi16(z);
        for (int t = 0; t + 8 <= N; t += 8) {
            auto* at = reinterpret_cast<__m128i*>(c + t);
            _mm_storeu_si128(at, _mm_max_epi16(_mm_loadu_si128(at), zz));
        }
        if constexpr (N % 8 != 0) {
            auto* at = reinterpret_cast<__m128i*>(c + N - 8);
            _mm_storeu_si128(at, _mm_max_epi16(_mm_loadu_si128(at), zz));
        }
        return;
    } else if constexpr (N >= 4) {
        // One store of eight cells, the ones past the run raised to the
        // lowest depth, which leaves them as they were. The fast range keeps
        // them inside the buffer: they run at most into the row below.
        const __m128i zz = _mm_set1_epi16(z);
        const __m128i past = _mm_slli_si128(_mm_set1_epi16(-1), 2 * N);
        const __m128i lanes = _mm_or_si128(_mm_andnot_si128(past, zz),
                                           _mm_and_si128(past, _mm_set1_epi16(INT16_MIN)));
        auto* at = reinterpret_cast<__m128i*>(c);
        _mm_storeu_si128(at, _mm_max_epi16(_mm_loadu_si128(at), lanes));
        return;
    }
#endif
    for (int t = 0; t < N; ++t)
        if (depthPasses(c[t], z)) c[t] = z;
}

template <int N>
inline void fillSurfaceRunOf(std::uint32_t* p, std::uint32_t pixel) {
#if defined(__SSE2__)
    if constexpr (N >= 4) {
        const __m128i v = _mm_set1_epi32(static_cast<int>(pixel));
        for (int t = 0; t + 4 <= N; t += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(p + t), v);
        if constexpr (N % 4 != 0) _mm_storeu_si128(reinterpret_cast<__m128i*>(p + N - 4), v);
        return;
    }
#endif
    for (int t = 0; t < N; ++t) p[t] = pixel;
}

// plotSample's work after a passed test, 2 <= k <= kMaxUnrolledStep: the
// (2k+1)^2 depth cells around cell marked, then 2k+3 runs of 2k+2 pixels
// from topLeft filled.
template <int K>
inline void plotSampleSplat(std::int16_t* cell, std::int64_t w, std::int32_t Z,
                            std::uint32_t* topLeft, std::int64_t stride, std::uint32_t pixel) {
    const auto z = static_cast<std::int16_t>(Z);
    std::int16_t* c = cell - K * w - K;
    for (int r = 0; r < 2 * K + 1; ++r, c += w) depthMarkRun<2 * K + 1>(c, z);
    for (int r = 0; r < 2 * K + 3; ++r, topLeft += stride)
        fillSurfaceRunOf<2 * K + 2>(topLeft, pixel);
}

// plotSample at 2 <= k <= kMaxUnrolledStep and f > 1, unrolled where the
// whole splat lies inside the buffers.
template <int K>
inline void plotSampleStepK(const Frame& frame, const FastView& v, const SidePaint& paint,
                            std::int64_t texX, std::int32_t X, std::int32_t Y, std::int32_t Z) {
    const std::int64_t col = v.centerX + X / frame.reduce;
    const std::int64_t row = v.centerY + Y / frame.reduce;
    if (col < K + 1 || row < K + 1 || col > v.width - 1 - K || row > v.height - 2 - K) {
        plotSample(frame, paint, texX, X, Y, Z);
        return;
    }
    const std::int64_t w = v.width;
    std::int16_t* cell = v.cells + row * w + col;
    if (!depthPasses(*cell, Z)) return;
    plotSampleSplat<K>(cell, w, Z, v.pixels + (row - K - 1) * v.stride + (col - K - 1),
                       v.stride, paintPixel(paint, texX));
}

// plotSample at f = 1 from the sample's precomputed depth index, with
// everything the loop reads in locals: at k = 1 the 3x3 block (the nine
// offsets land on it), above it the square and runs of plotSampleSplat.
template <int K>
inline void plotSampleReduce1(const Frame& frame, const FastView& v, const SidePaint& paint,
                        std::int64_t texX, std::int32_t index, std::int32_t X, std::int32_t Y,
                        std::int32_t Z) {
    const std::int64_t col = v.centerX + X;
    const std::int64_t row = v.centerY + Y;
    if (index < 0) {
        // Off the buffer's linear indices the sample fails its test; saving
        // the call matters for a large cube, most of whose samples are.
        const std::int64_t at = v.width * row + col;
        if (at < 0 || at >= v.width * v.height) return;
        plotSample(frame, paint, texX, X, Y, Z);
        return;
    }
    std::int16_t* cell = v.cells + index;
    if (!depthPasses(*cell, Z)) return;
    const std::int64_t w = v.width;
    if constexpr (K == 1) {
        const DepthLanes z = depthLanes(static_cast<std::int16_t>(Z));
        depthRaiseThree(cell - w - 1, z);
        depthRaiseThree(cell - 1, z);
        depthRaiseThree(cell + w - 1, z);
        const std::uint32_t pixel = paintPixel(paint, texX);
        std::uint32_t* p = v.pixels + (row - 1) * v.stride + col;
        for (int r = 0; r < 3; ++r, p += v.stride) {
            p[-1] = pixel;
            p[0] = pixel;
            p[1] = pixel;
        }
    } else {
        plotSampleSplat<K>(cell, w, Z, v.pixels + (row - K - 1) * v.stride + (col - K - 1),
                           v.stride, paintPixel(paint, texX));
    }
}

template <int K, bool ShowA, bool ShowB>
void splatChunk(const Frame& frame, const FastView& view, const SidePaint& paintA,
                const SidePaint& paintB, std::int64_t texX0, std::int32_t m, ChunkCoords& ca,
                ChunkCoords& cb) {
    const FastView v = view;
#if !defined(__SSE2__)
    if constexpr (ShowA) cellsOfChunk(v, K, m, ca);
    if constexpr (ShowB) cellsOfChunk(v, K, m, cb);
#endif
    const SidePaint pa = paintA;
    const SidePaint pb = paintB;
    for (std::int32_t t = 0; t < m; ++t) {
        const std::int64_t texX = texX0 + static_cast<std::int64_t>(t) * K;
        if constexpr (ShowA)
            plotSampleReduce1<K>(frame, v, pa, texX, ca.cell[t], ca.x[t], ca.y[t], ca.z[t]);
        if constexpr (ShowB)
            plotSampleReduce1<K>(frame, v, pb, texX, cb.cell[t], cb.x[t], cb.y[t], cb.z[t]);
    }
}

#if defined(__SSE2__)
// Both sides of a pair share the inner value's product with the matrix (the
// same double for each), and the first pair also shares the sum with the row
// term. The inner value itself is counted in doubles, exactly, since it is an
// integer far below 2^53.
template <bool ShowA, bool ShowB, bool SharedRow, bool Cells>
void rotatePairChunk(const Frame& frame, const RowGeometry& ga, const RowGeometry& gb,
                     std::int32_t first, std::int32_t step, std::int32_t n, const CellMap& map,
                     ChunkCoords& ca, ChunkCoords& cb) {
    const int c = ga.innerAxis;
    const __m128d m[3] = {_mm_set1_pd(frame.m[0][c]), _mm_set1_pd(frame.m[1][c]),
                          _mm_set1_pd(frame.m[2][c])};
    __m128d aA[3], aB[3], bA[3], bB[3];
    for (int r = 0; r < 3; ++r) {
        aA[r] = _mm_set1_pd(ga.fixedA[r]);
        aB[r] = _mm_set1_pd(gb.fixedA[r]);
        bA[r] = _mm_set1_pd(ga.fixedB[r]);
        bB[r] = _mm_set1_pd(gb.fixedB[r]);
    }
    const double f = first, s = step;
    __m128d d0 = _mm_set_pd(f + s, f);
    __m128d d1 = _mm_set_pd(f + 3 * s, f + 2 * s);
    const __m128d d4 = _mm_set1_pd(4 * s);
    // The third pair's sums have no second term: a + P, and a + P = P + a.
    const bool second = c == 0;
    auto finish = [second](__m128d sum, __m128d b) {
        return _mm_cvttpd_epi32(second ? _mm_add_pd(sum, b) : sum);
    };
    auto put = [](std::int32_t* at, __m128i v) {
        _mm_store_si128(reinterpret_cast<__m128i*>(at), v);
    };
    for (std::int32_t t = 0; t < n; t += 4, d0 = _mm_add_pd(d0, d4), d1 = _mm_add_pd(d1, d4)) {
        __m128i xyzA[3], xyzB[3];
        for (int r = 0; r < 3; ++r) {
            const __m128d p0 = _mm_mul_pd(m[r], d0), p1 = _mm_mul_pd(m[r], d1);
            const __m128d sA0 = _mm_add_pd(p0, aA[r]), sA1 = _mm_add_pd(p1, aA[r]);
            if constexpr (ShowA)
                xyzA[r] = _mm_unpacklo_epi64(finish(sA0, bA[r]), finish(sA1, bA[r]));
            if constexpr (ShowB) {
                const __m128d sB0 = SharedRow ? sA0 : _mm_add_pd(p0, aB[r]);
                const __m128d sB1 = SharedRow ? sA1 : _mm_add_pd(p1, aB[r]);
                xyzB[r] = _mm_unpacklo_epi64(finish(sB0, bB[r]), finish(sB1, bB[r]));
            }
        }
        if constexpr (ShowA) {
            put(ca.x + t, xyzA[0]);
            put(ca.y + t, xyzA[1]);
            put(ca.z + t, xyzA[2]);
            if constexpr (Cells) put(ca.cell + t, cellLanes(map, xyzA[0], xyzA[1]));
        }
        if constexpr (ShowB) {
            put(cb.x + t, xyzB[0]);
            put(cb.y + t, xyzB[1]);
            put(cb.z + t, xyzB[2]);
            if constexpr (Cells) put(cb.cell + t, cellLanes(map, xyzB[0], xyzB[1]));
        }
    }
}
#endif

// Whether every f = 1 sample of one side's chunk falls outside the depth
// buffer's linear indices, so that each would fail its test at once.
// A rotated coordinate is monotonic along the chunk (each rounding step is),
// so the chunk's first and last samples bound all the others; they are
// worked out with the very operations of rotatePairChunk.
bool chunkMissesBuffer(const Frame& frame, const FastView& v, const RowGeometry& g,
                       std::int32_t first, std::int32_t step, std::int32_t n) {
#if defined(__SSE2__)
    const int c = g.innerAxis;
    const double f = first, s = step;
    const __m128d d = _mm_set_pd(f + (n - 1) * s, f);
    auto coordinate = [&](int r) {
        const __m128d sum =
            _mm_add_pd(_mm_mul_pd(_mm_set1_pd(frame.m[r][c]), d), _mm_set1_pd(g.fixedA[r]));
        const __m128d whole = c == 0 ? _mm_add_pd(sum, _mm_set1_pd(g.fixedB[r])) : sum;
        alignas(16) std::int32_t ends[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(ends), _mm_cvttpd_epi32(whole));
        return std::pair<std::int64_t, std::int64_t>{std::min(ends[0], ends[1]),
                                                     std::max(ends[0], ends[1])};
    };
    const auto [xLow, xHigh] = coordinate(0);
    const auto [yLow, yHigh] = coordinate(1);
    const std::int64_t w = v.width;
    const std::int64_t highest = w * (v.centerY + yHigh) + v.centerX + xHigh;
    const std::int64_t lowest = w * (v.centerY + yLow) + v.centerX + xLow;
    return highest < 0 || lowest >= w * v.height;
#else
    (void)frame, (void)v, (void)g, (void)first, (void)step, (void)n;
    return false;
#endif
}

// Rotates the pair's chunk; with a view, also works out the f = 1 depth
// indices for step k (on SSE2; elsewhere the splat loop does).
void rotatePair(const Frame& frame, int pair, const RowGeometry& ga, const RowGeometry& gb,
                bool showA, bool showB, std::int32_t first, std::int32_t step, std::int32_t n,
                const FastView* view, std::int64_t k, ChunkCoords& ca, ChunkCoords& cb) {
#if defined(__SSE2__)
    // Past the last sample, up to three more are worked out, which the
    // arrays have room for and nobody reads.
    const CellMap map = view != nullptr ? cellMapFor(*view, k) : CellMap{};
    auto run = [&](auto showA_, auto showB_, auto shared_) {
        constexpr bool A = decltype(showA_)::value, B = decltype(showB_)::value,
                       S = decltype(shared_)::value;
        if (view != nullptr)
            rotatePairChunk<A, B, S, true>(frame, ga, gb, first, step, n, map, ca, cb);
        else
            rotatePairChunk<A, B, S, false>(frame, ga, gb, first, step, n, map, ca, cb);
    };
    using T = std::true_type;
    using F = std::false_type;
    if (showA && showB) {
        if (pair == 0)
            run(T{}, T{}, T{});
        else
            run(T{}, T{}, F{});
    } else if (showA) {
        run(T{}, F{}, F{});
    } else if (showB) {
        run(F{}, T{}, F{});
    }
#else
    (void)pair;
    (void)view;
    (void)k;
    if (showA) rotateChunk(frame, ga, first, step, n, ca.x, ca.y, ca.z);
    if (showB) rotateChunk(frame, gb, first, step, n, cb.x, cb.y, cb.z);
#endif
}

// One pair of sides in the plain route's order: rows of the outer loop value
// q upwards, and within a row each grid position's even side first. Step 1
// comes here only with f = 1.
template <int K, bool Reduce1>
void drawPair(const Frame& frame, const FastView& view, int pair) {
    const int sideA = 2 * pair;
    const int sideB = 2 * pair + 1;
    const bool showA = sideShown(sideA) != 0;
    const bool showB = sideShown(sideB) != 0;
    if (!showA && !showB) return;
    const std::int64_t step = frame.step;
    const std::int64_t span = frame.half - frame.low;
    if (span <= 0) return;
    const std::int64_t samplesPerRow = (span + step - 1) / step;

    ChunkCoords ca, cb;

    for (std::int64_t q = frame.low; q < frame.half; q += step) {
        const SidePaint paintA = showA ? paintForRow(sideA, frame.half, q) : SidePaint{};
        const SidePaint paintB = showB ? paintForRow(sideB, frame.half, q) : SidePaint{};
        const RowGeometry ga = geometryFor(frame, sideA, q);
        const RowGeometry gb = geometryFor(frame, sideB, q);
        for (std::int64_t j0 = 0; j0 < samplesPerRow; j0 += kChunk) {
            const auto m =
                static_cast<std::int32_t>(std::min<std::int64_t>(kChunk, samplesPerRow - j0));
            // Inner loop values stay within [lo, h), so they fit 32 bits.
            const auto first = static_cast<std::int32_t>(frame.low + j0 * step);
            const auto stepInner = static_cast<std::int32_t>(std::min<std::int64_t>(step, span));
            if constexpr (Reduce1) {
                // A chunk wholly off the screen's top or bottom, common for a
                // large cube, is left out without being rotated; the depth
                // indices come with the rotation.
                const bool doA = showA && !chunkMissesBuffer(frame, view, ga, first, stepInner, m);
                const bool doB = showB && !chunkMissesBuffer(frame, view, gb, first, stepInner, m);
                if (!doA && !doB) continue;
                rotatePair(frame, pair, ga, gb, doA, doB, first, stepInner, m, &view, K, ca, cb);
                const std::int64_t texX0 = j0 * step;  // inner value + h
                if (doA && doB)
                    splatChunk<K, true, true>(frame, view, paintA, paintB, texX0, m, ca, cb);
                else if (doA)
                    splatChunk<K, true, false>(frame, view, paintA, paintB, texX0, m, ca, cb);
                else
                    splatChunk<K, false, true>(frame, view, paintA, paintB, texX0, m, ca, cb);
            } else {
                rotatePair(frame, pair, ga, gb, showA, showB, first, stepInner, m, nullptr, K,
                           ca, cb);
                for (std::int32_t t = 0; t < m; ++t) {
                    const std::int64_t texX = (j0 + t) * step;  // inner value + h
                    if (showA)
                        plotSampleStepK<K>(frame, view, paintA, texX, ca.x[t], ca.y[t], ca.z[t]);
                    if (showB)
                        plotSampleStepK<K>(frame, view, paintB, texX, cb.x[t], cb.y[t], cb.z[t]);
                }
            }
        }
    }
}

template <int K, bool Reduce1>
void drawAllPairs(const Frame& frame, const FastView& view) {
    for (int pair = 0; pair < 3; ++pair) drawPair<K, Reduce1>(frame, view, pair);
}

template <int K>
void drawStepK(const Frame& frame, const FastView& view) {
    if (frame.reduce == 1)
        drawAllPairs<K, true>(frame, view);
    else
        drawAllPairs<K, false>(frame, view);
}

}  // namespace

#if defined(ROVANTA_RENDER_SSE2_BUILD)
void drawCubeFastSse2(const Frame& frame) {
#else
void drawCubeFast(const Frame& frame) {
#endif
    const PixelSurface& target = *frame.target;
    const FastView view{frame.centerX,  frame.centerY, depthBuffer.width, depthBuffer.height,
                        target.stride,  depthBuffer.cells, target.pixels};
    switch (frame.step) {
        case 1: drawAllPairs<1, true>(frame, view); break;
        case 2: drawStepK<2>(frame, view); break;
        case 3: drawStepK<3>(frame, view); break;
        case 4: drawStepK<4>(frame, view); break;
        case 5: drawStepK<5>(frame, view); break;
        case 6: drawStepK<6>(frame, view); break;
        case 7: drawStepK<7>(frame, view); break;
        case 8: drawStepK<8>(frame, view); break;
        case 9: drawStepK<9>(frame, view); break;
        default: drawStepK<10>(frame, view); break;
    }
}

}  // namespace cube_paths
