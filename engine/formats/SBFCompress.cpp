// Zero-run compression of bitstreams. Bitstreams are long stretches of zero
// words between dense literal frames, so both scans go a vector at a time and
// literals are copied in bulk.
#include "engine/formats/SBFManage.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Groups and runs are counted in signed 32-bit words.
constexpr size_t kMaxCount = 0x7FFFFFFF;

inline uint32_t Word(const uint8_t* in, size_t index) {
    uint32_t w;
    std::memcpy(&w, in + 4 * index, 4);
    return w;
}

// Index of the first zero word at or after i, or n.
size_t FindZeroWord(const uint8_t* in, size_t i, size_t n) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    while (i + 8 <= n) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i + 16));
        const int mask = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(a, zero))) |
                         _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(b, zero))) << 4;
        if (mask != 0)
            return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        i += 8;
    }
#endif
    while (i < n && Word(in, i) != 0) ++i;
    return i;
}

// Index of the first non-zero word at or after i, or n.
size_t SkipZeroWords(const uint8_t* in, size_t i, size_t n) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= n) {
        const uint8_t* p = in + 4 * i;
        const __m128i any =
            _mm_or_si128(_mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16))),
                         _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48))));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, zero)) != 0xFFFF)
            break;
        i += 16;
    }
#else
    while (i + 2 <= n) {
        uint64_t pair;
        std::memcpy(&pair, in + 4 * i, 8);
        if (pair != 0)
            break;
        i += 2;
    }
#endif
    while (i < n && Word(in, i) == 0) ++i;
    return i;
}

// Index of the first word at or after i that starts a run of three or more
// zero words, or n.
size_t FindRunStart(const uint8_t* in, size_t i, size_t n) {
    for (;;) {
        i = FindZeroWord(in, i, n);
        if (n - i < 3)
            return n;
        if (Word(in, i + 1) != 0) {
            i += 2;
        } else if (Word(in, i + 2) != 0) {
            i += 3;
        } else {
            return i;
        }
    }
}

class Writer {
  public:
    explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
    size_t Reserve() {
        const size_t at = out_.size();
        out_.resize(at + 4);
        return at;
    }
    void Put(int32_t word) { Set(Reserve(), word); }
    void Set(size_t at, int32_t word) {
        const auto w = static_cast<uint32_t>(word);
        uint8_t* p = out_.data() + at;
        p[0] = static_cast<uint8_t>(w);
        p[1] = static_cast<uint8_t>(w >> 8);
        p[2] = static_cast<uint8_t>(w >> 16);
        p[3] = static_cast<uint8_t>(w >> 24);
    }
    void Copy(const uint8_t* words, size_t count) {
        out_.insert(out_.end(), words, words + 4 * count);
    }

  private:
    std::vector<uint8_t>& out_;
};

}  // namespace

std::vector<uint8_t> CSBFManage::CompressZeroRuns(const void* data, size_t length) {
    std::vector<uint8_t> out;
    if (!data || length == 0)
        return out;
    const auto in = static_cast<const uint8_t*>(data);
    const size_t n = length / 4;
    // Every word is at worst a literal, plus one group word and the end word.
    out.reserve(4 * (n + 2));
    Writer w(out);

    size_t group = w.Reserve();
    size_t literals = 0;
    size_t i = 0;
    while (i < n) {
        const size_t runStart = FindRunStart(in, i, n);
        while (i < runStart) {
            const size_t take = std::min(runStart - i, kMaxCount - literals);
            w.Copy(in + 4 * i, take);
            literals += take;
            i += take;
            if (literals == kMaxCount) {  // only for inputs beyond 8 GiB
                w.Set(group, static_cast<int32_t>(literals));
                group = w.Reserve();
                literals = 0;
            }
        }
        if (runStart == n)
            break;

        const size_t runEnd = SkipZeroWords(in, runStart, n);
        size_t run = runEnd - runStart;
        size_t piece = std::min(run, kMaxCount);
        if (literals > 0) {
            w.Set(group, static_cast<int32_t>(literals));
            w.Put(-static_cast<int32_t>(piece));
        } else {
            w.Set(group, -static_cast<int32_t>(piece));
        }
        for (run -= piece; run > 0; run -= piece) {
            piece = std::min(run, kMaxCount);
            w.Put(-static_cast<int32_t>(piece));
        }
        group = w.Reserve();
        literals = 0;
        i = runEnd;
    }
    w.Set(group, static_cast<int32_t>(literals));
    if (literals != 0)
        w.Put(0);
    return out;
}
