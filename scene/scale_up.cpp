#include "scene/scale_up.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace scene {

namespace {

constexpr int kWhole = 256;   // weights are in 256ths

// Two pixels at once, a byte to a 16-bit lane. A lane holds a byte (0..255), and a weighed
// pair of them (weights adding up to 256) never passes 65280.
using Lanes = uint16_t __attribute__((vector_size(16)));
using Bytes = uint8_t __attribute__((vector_size(8)));

// A pixel and the next one, their bytes in lanes.
Lanes pairAt(const uint32_t* p) {
    Bytes v;
    std::memcpy(&v, p, sizeof v);
    return __builtin_convertvector(v, Lanes);
}

Lanes loadLanes(const uint16_t* p) {
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

// Pixel centres line up: the centre of `to`'s pixel i lies at (i + 0.5) * from / to - 0.5 in
// `from`, clamped to its first and last pixel; worked in 256ths with whole numbers. The
// second pixel is always the next one (with one pixel only, weighed nothing).
void ScaleUp::taps(int from, int to, Taps& out) {
    if (out.from == from && int(out.first.size()) == to) return;
    out.from = from;
    out.first.resize(size_t(to));
    out.weight.resize(size_t(to));
    for (int i = 0; i < to; ++i) {
        const int64_t at = ((2 * int64_t(i) + 1) * from * kWhole) / (2 * int64_t(to)) - kWhole / 2;
        int first = 0, weight = 0;
        if (at >= int64_t(from - 1) * kWhole) {
            first = std::max(from - 2, 0);
            weight = from > 1 ? kWhole : 0;
        } else if (at > 0) {
            first = int(at / kWhole);
            weight = int(at % kWhole);
        }
        out.first[size_t(i)] = first;
        out.weight[size_t(i)] = uint16_t(weight);
    }
}

// One source row blended across, for the pixels left..right-1 of `to`, two at a time. A pixel's
// two source pixels lie side by side, so one 8-byte load fetches both; they are weighed by the
// pixel's own pair of weights and added.
void ScaleUp::blendAcross(const uint32_t* row, int width, int left, int right, uint16_t* into) const {
    const int* first = across_.first.data();
    size_t x = size_t(left);
    const size_t end = size_t(right);
    if (width >= 2) {
        for (; x + 2 <= end; x += 2) {
            const Lanes a = pairAt(row + first[x]) * loadLanes(weights_.data() + 8 * x);
            const Lanes b = pairAt(row + first[x + 1]) * loadLanes(weights_.data() + 8 * x + 8);
            const Lanes firsts = __builtin_shufflevector(a, b, 0, 1, 2, 3, 8, 9, 10, 11);
            const Lanes seconds = __builtin_shufflevector(a, b, 4, 5, 6, 7, 12, 13, 14, 15);
            const Lanes blended = (firsts + seconds) >> 8;
            std::memcpy(into + 4 * x, &blended, sizeof blended);
        }
    }
    for (; x < end; ++x) {
        const uint32_t p = row[first[x]], q = row[std::min(first[x] + 1, width - 1)];
        const int w = across_.weight[x];
        for (int k = 0; k < 4; ++k) {
            const int pb = (p >> (8 * k)) & 0xff, qb = (q >> (8 * k)) & 0xff;
            into[4 * x + size_t(k)] = uint16_t((pb * (kWhole - w) + qb * w) >> 8);
        }
    }
}

void ScaleUp::operator()(const PixelsIn& from, const PixelsOut& to) {
    (*this)(from, to, {0, 0, to.width, to.height});
}

void ScaleUp::operator()(const PixelsIn& from, const PixelsOut& to, PixelRect part) {
    if (from.width < 1 || from.height < 1 || to.width < 1 || to.height < 1) return;
    const int left = std::max(part.left, 0), right = std::min(part.left + part.width, to.width);
    const int top = std::max(part.top, 0), bottom = std::min(part.top + part.height, to.height);
    if (left >= right || top >= bottom) return;
    if (from.width == to.width && from.height == to.height) {
        for (int y = top; y < bottom; ++y)
            std::memcpy(to.pixels + size_t(y) * to.stride + left,
                        from.pixels + size_t(y) * from.stride + left, size_t(right - left) * 4);
        return;
    }
    const bool newAcross = across_.from != from.width || int(across_.first.size()) != to.width;
    taps(from.width, to.width, across_);
    taps(from.height, to.height, down_);
    const size_t n = size_t(to.width);
    if (newAcross) {
        weights_.resize(8 * n);
        for (size_t x = 0; x < n; ++x) {
            const auto at = weights_.begin() + std::ptrdiff_t(8 * x);
            std::fill_n(at, 4, uint16_t(kWhole - across_.weight[x]));
            std::fill_n(at + 4, 4, across_.weight[x]);
        }
    }
    for (int k = 0; k < 2; ++k) {
        rows_[k].resize(4 * n);
        held_[k] = -1;
    }
    for (int y = top; y < bottom; ++y) {
        const int rows[2] = {down_.first[size_t(y)], std::min(down_.first[size_t(y)] + 1, from.height - 1)};
        // Rows move down the source as `to` does: the second row of the last pair is often the
        // first of this one, and is kept rather than blended again.
        if (held_[0] != rows[0] && held_[1] == rows[0]) {
            std::swap(rows_[0], rows_[1]);
            std::swap(held_[0], held_[1]);
        }
        for (int k = 0; k < 2; ++k) {
            if (held_[k] == rows[k]) continue;
            blendAcross(from.pixels + size_t(rows[k]) * from.stride, from.width, left, right,
                        rows_[k].data());
            held_[k] = rows[k];
        }
        // Down: the two rows blended, two pixels at a time, and the lanes back to bytes.
        const uint16_t w = down_.weight[size_t(y)], v = uint16_t(kWhole - w);
        const uint16_t *upper = rows_[0].data(), *lower = rows_[1].data();
        uint32_t* out = to.pixels + size_t(y) * to.stride;
        size_t x = size_t(left);
        const size_t end = size_t(right);
        for (; x + 2 <= end; x += 2) {
            const Lanes blended = (loadLanes(upper + 4 * x) * v + loadLanes(lower + 4 * x) * w) >> 8;
            const Bytes bytes = __builtin_convertvector(blended, Bytes);
            std::memcpy(out + x, &bytes, sizeof bytes);
        }
        for (; x < end; ++x) {
            uint32_t pixel = 0;
            for (int k = 0; k < 4; ++k)
                pixel |= uint32_t((upper[4 * x + size_t(k)] * v + lower[4 * x + size_t(k)] * w) >> 8)
                         << (8 * k);
            out[x] = pixel;
        }
    }
}

ScaleUpInTwo::~ScaleUpInTwo() {
    if (!helper_.joinable()) return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    helper_.join();
}

void ScaleUpInTwo::helperLoop() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        wake_.wait(hold, [this] { return given_ || stopping_; });
        if (stopping_) return;
        hold.unlock();
        helpers_(from_, to_, part_);
        hold.lock();
        given_ = false;
        wake_.notify_all();
    }
}

// The lower half of the rows goes to the helper, the upper half is done here; it returns when
// both are done. Too few rows to share are done here alone.
void ScaleUpInTwo::operator()(const PixelsIn& from, const PixelsOut& to, PixelRect part) {
    constexpr int kRowsWorthSharing = 64;
    if (part.height < kRowsWorthSharing) {
        mine_(from, to, part);
        return;
    }
    if (!helper_.joinable()) helper_ = std::thread([this] { helperLoop(); });
    PixelRect upper = part, lower = part;
    upper.height = part.height / 2;
    lower.top = part.top + upper.height;
    lower.height = part.height - upper.height;
    {
        std::lock_guard<std::mutex> hold(lock_);
        from_ = from;
        to_ = to;
        part_ = lower;
        given_ = true;
    }
    wake_.notify_all();
    mine_(from, to, upper);
    std::unique_lock<std::mutex> hold(lock_);
    wake_.wait(hold, [this] { return !given_; });
}

}  // namespace scene
