#include "numerics/summary_statistics.h"

#include <algorithm>
#include <array>
#include <cmath>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace kelmar {

namespace {

// What std::nth_element does, for doubles and faster on the samples
// summarised here: quickselect whose partition (Lomuto's, moving every
// value whatever its side) has no branch on the values, which a predictor
// cannot guess on a sample in random order. A partition that leaves one
// side with almost everything (a pivot among many equal values) and short
// ranges go to std::nth_element, so the time stays linear.
template <class Iterator>
void SelectNth(Iterator begin, Iterator nthIterator, Iterator end) {
    double* first = &*begin;
    double* const nth = &*nthIterator;
    double* last = first + (end - begin);
    constexpr std::ptrdiff_t SHORT = 32;
    while (last - first > SHORT) {
        const std::ptrdiff_t n = last - first;
        // The median of the first, middle and last value as the pivot, at the front.
        double* const middle = first + n / 2;
        double* const back = last - 1;
        double* pivotAt = middle;
        if ((*first < *middle) != (*first < *back))
            pivotAt = first;
        else if ((*back < *first) != (*back < *middle))
            pivotAt = back;
        std::swap(*first, *pivotAt);
        const double pivot = *first;
        std::ptrdiff_t below = 1;  // first + 1 .. first + below hold the values under the pivot
        for (std::ptrdiff_t i = 1; i < n; ++i) {
            const double v = first[i];
            first[i] = first[below];
            first[below] = v;
            below += v < pivot;
        }
        double* const pivotEnd = first + below - 1;
        std::swap(*first, *pivotEnd);
        if (below - 1 < n / 16 || below - 1 > n - n / 16) break;  // lopsided: leave it to the library
        if (nth == pivotEnd) return;
        if (nth < pivotEnd)
            last = pivotEnd;
        else
            first = pivotEnd + 1;
    }
    std::nth_element(first, nth, last);
}

// Position h = (n - 1) p split into its order statistic and fraction.
struct QuantilePosition {
    std::size_t Index;
    double Fraction;
};

QuantilePosition Position(std::size_t n, double p) {
    const double h = static_cast<double>(n - 1) * p;
    const double below = std::floor(h);
    const std::size_t index = std::min(static_cast<std::size_t>(below), n - 1);
    return {index, h - below};
}

double Interpolate(double lower, double upper, double fraction) {
    return fraction == 0 ? lower : lower + fraction * (upper - lower);
}

}  // namespace

double SortedQuantile(const std::vector<double>& sorted, double p) {
    const QuantilePosition at = Position(sorted.size(), p);
    const double upper = at.Index + 1 < sorted.size() ? sorted[at.Index + 1] : sorted[at.Index];
    return Interpolate(sorted[at.Index], upper, at.Fraction);
}

namespace {

// Below this many values the percentiles are selected directly.
constexpr std::size_t HISTOGRAM_FROM = 4096;
// Bins of the histogram that finds each percentile's neighbourhood: small
// enough to stay in the cache, many enough that a bin holds a few dozen of
// a million values.
constexpr std::size_t BINS = std::size_t{1} << 14;

// The percentiles by repeated selection on the part at and above the last
// one, which holds every value not below it.
void SelectPercentiles(std::span<double> values, SampleSummary& summary) {
    const std::size_t n = values.size();
    std::size_t from = 0;
    for (std::size_t q = 0; q < SUMMARY_PROBABILITIES.size(); ++q) {
        const QuantilePosition at = Position(n, SUMMARY_PROBABILITIES[q]);
        const auto nth = values.begin() + static_cast<std::ptrdiff_t>(at.Index);
        SelectNth(values.begin() + static_cast<std::ptrdiff_t>(from), nth, values.end());
        const double upper = at.Fraction != 0 && at.Index + 1 < n ? *std::min_element(nth + 1, values.end()) : *nth;
        summary.Percentiles[q] = Interpolate(*nth, upper, at.Fraction);
        from = at.Index;
    }
}

// The order statistics the percentiles need, through a histogram: the bin of
// a value never decreases with the value, so the value of rank k lies in
// the bin where the running count passes k; only the values of those bins
// are then selected from. Linear passes instead of selections over the
// whole sample.
void HistogramPercentiles(std::span<const double> values, double low, double high, SampleSummary& summary) {
    const std::size_t n = values.size();
    if (low == high) {
        summary.Percentiles.fill(low);
        return;
    }
    const double scale = static_cast<double>(BINS) / (high - low);
    const auto binOf = [low, scale](double v) {
        return std::min(static_cast<std::size_t>((v - low) * scale), BINS - 1);
    };
    std::vector<std::size_t> counts(BINS, 0);
    for (const double v : values) ++counts[binOf(v)];

    // The ranks wanted and the bin of each, with the values before that bin.
    struct Wanted {
        std::size_t Rank, Bin, Before;
    };
    std::vector<Wanted> wanted;
    for (const double p : SUMMARY_PROBABILITIES) {
        const QuantilePosition at = Position(n, p);
        wanted.push_back({at.Index, 0, 0});
        if (at.Fraction != 0 && at.Index + 1 < n) wanted.push_back({at.Index + 1, 0, 0});
    }
    std::size_t bin = 0, before = 0;
    for (Wanted& w : wanted) {  // ranks ascend
        while (before + counts[bin] <= w.Rank) before += counts[bin++];
        w.Bin = bin;
        w.Before = before;
    }
    // At most ten bins are needed: each gets a slot of its own.
    std::vector<int> slotOf(BINS, -1);
    int slots = 0;
    for (const Wanted& w : wanted)
        if (slotOf[w.Bin] < 0) slotOf[w.Bin] = slots++;
    std::vector<std::vector<double>> inBin(static_cast<std::size_t>(slots));
    for (const double v : values) {
        const int slot = slotOf[binOf(v)];
        if (slot >= 0) inBin[static_cast<std::size_t>(slot)].push_back(v);
    }
    const auto rankValue = [&](std::size_t rank) {
        for (const Wanted& w : wanted)
            if (w.Rank == rank) {
                std::vector<double>& part = inBin[static_cast<std::size_t>(slotOf[w.Bin])];
                const auto nth = part.begin() + static_cast<std::ptrdiff_t>(rank - w.Before);
                SelectNth(part.begin(), nth, part.end());
                return *nth;
            }
        return 0.0;  // every rank asked for is wanted
    };
    for (std::size_t q = 0; q < SUMMARY_PROBABILITIES.size(); ++q) {
        const QuantilePosition at = Position(n, SUMMARY_PROBABILITIES[q]);
        const double lower = rankValue(at.Index);
        const double upper = at.Fraction != 0 && at.Index + 1 < n ? rankValue(at.Index + 1) : lower;
        summary.Percentiles[q] = Interpolate(lower, upper, at.Fraction);
    }
}

}  // namespace

Moments Moments::Of(const double* values, std::size_t count) {
    Moments m;
    m.Count = count;
    if (count == 0) return m;
    double sum = 0;
    m.Low = m.High = values[0];
    for (std::size_t i = 0; i < count; ++i) {
        sum += values[i];
        m.Low = std::min(m.Low, values[i]);
        m.High = std::max(m.High, values[i]);
    }
    m.Mean = sum / static_cast<double>(count);
    for (std::size_t i = 0; i < count; ++i) m.M2 += (values[i] - m.Mean) * (values[i] - m.Mean);
    return m;
}

void Moments::Merge(const Moments& piece) {
    if (piece.Count == 0) return;
    if (Count == 0) {
        *this = piece;
        return;
    }
    const double n = static_cast<double>(Count), k = static_cast<double>(piece.Count);
    const double delta = piece.Mean - Mean;
    Mean += delta * k / (n + k);
    M2 += piece.M2 + delta * delta * n * k / (n + k);
    Count += piece.Count;
    Low = std::min(Low, piece.Low);
    High = std::max(High, piece.High);
}

SampleSummary MomentsSummary(const Moments& moments) {
    SampleSummary summary;
    summary.Count = moments.Count;
    summary.Mean = moments.Mean;
    if (moments.Count > 1) summary.Sd = std::sqrt(moments.M2 / static_cast<double>(moments.Count - 1));
    return summary;
}

SampleSummary Summarize(std::span<double> values, const Moments& moments) {
    SampleSummary summary = MomentsSummary(moments);
    if (values.size() < HISTOGRAM_FROM)
        SelectPercentiles(values, summary);
    else
        HistogramPercentiles(values, moments.Low, moments.High, summary);
    return summary;
}

SampleSummary Summarize(std::span<double> values) {
    return Summarize(values, Moments::Of(values.data(), values.size()));
}

namespace {

// How far, in probability, the bins kept for a percentile reach from the
// pilot's estimate of it: five standard errors of a quantile estimated from
// `pilot` independent values (sqrt(p (1 - p) / n)), so that a percentile of
// the whole sample outside them is a one-in-a-million event for a pilot
// drawn like the rest. Values of a year within a replicate are not quite
// independent; a miss costs time, never exactness.
constexpr double MARGIN_ERRORS = 5;
// The bin of `v`, which never decreases with the value: values beyond the
// bins' span go to the end bins.
std::size_t BinOf(double v, double low, double scale) {
    constexpr double LAST = static_cast<double>(BinnedPercentiles::BINS - 1);
    const double x = (v - low) * scale;
#if defined(__SSE2__) || defined(_M_X64)
    // The processor's maximum and minimum (x > 0 ? x : 0, then x < LAST ?
    // x : LAST), which the compiler does not choose by itself over branches.
    const double bin = _mm_cvtsd_f64(_mm_min_sd(_mm_max_sd(_mm_set_sd(x), _mm_setzero_pd()), _mm_set_sd(LAST)));
#else
    double bin = x > 0.0 ? x : 0.0;
    bin = bin < LAST ? bin : LAST;
#endif
    return static_cast<std::size_t>(static_cast<int>(bin));  // int: a single conversion instruction
}

// Gaps and windows: five windows at most and a gap around each.
constexpr std::size_t MAX_SEGMENTS = 2 * SUMMARY_PROBABILITIES.size() + 1;

}  // namespace

BinnedPercentiles::BinnedPercentiles(std::span<double> pilot) {
    const std::size_t m = pilot.size();
    const double last = static_cast<double>(m - 1);
    const auto rankAt = [last](double q) { return static_cast<std::size_t>(std::clamp(q, 0.0, 1.0) * last); };
    // The pilot's values of rank first and last of each window, selected in
    // ascending order of rank, each from the part at and above the last.
    std::array<std::size_t, 2 * SUMMARY_PROBABILITIES.size()> ranks{};
    for (std::size_t q = 0; q < SUMMARY_PROBABILITIES.size(); ++q) {
        const double p = SUMMARY_PROBABILITIES[q];
        const double margin = MARGIN_ERRORS * std::sqrt(p * (1 - p) / static_cast<double>(m)) + 1 / static_cast<double>(m);
        ranks[2 * q] = rankAt(p - margin);
        ranks[2 * q + 1] = std::min(rankAt(p + margin) + 1, m - 1);
    }
    std::array<std::size_t, 2 * SUMMARY_PROBABILITIES.size()> order{};
    for (std::size_t j = 0; j < order.size(); ++j) order[j] = j;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return ranks[a] < ranks[b]; });
    std::array<double, 2 * SUMMARY_PROBABILITIES.size()> at{};
    std::size_t from = 0;
    for (const std::size_t j : order) {
        const auto nth = pilot.begin() + static_cast<std::ptrdiff_t>(ranks[j]);
        SelectNth(pilot.begin() + static_cast<std::ptrdiff_t>(from), nth, pilot.end());
        at[j] = *nth;
        from = ranks[j];
    }
    // The bins span the windows and a little more (a thirty-second of their
    // span on each side), so that a long tail does not take the bins from
    // the percentiles and the end bins, which take every value beyond, lie
    // in gaps. When every window is at one value, they span the pilot.
    double low = *std::min_element(at.begin(), at.end()), high = *std::max_element(at.begin(), at.end());
    if (high > low) {
        const double pad = (high - low) / 32;
        low -= pad;
        high += pad;
    } else {
        const auto [lowest, highest] = std::minmax_element(pilot.begin(), pilot.end());
        low = *lowest;
        high = *highest;
    }
    low_ = low;
    scale_ = high > low ? static_cast<double>(BINS) / (high - low) : 0;
    const auto binOf = [this](double v) { return BinOf(v, low_, scale_); };
    // Bins first to last.
    struct Window {
        std::size_t First, Last;
    };
    std::vector<Window> windows;
    for (std::size_t q = 0; q < SUMMARY_PROBABILITIES.size(); ++q) {
        // One bin more on each side: the pilot's values at the margins may
        // sit on a bin's edge.
        const std::size_t first = binOf(at[2 * q]), lastBin = binOf(at[2 * q + 1]);
        windows.push_back({first > 0 ? first - 1 : 0, std::min(lastBin + 1, BINS - 1)});
    }
    // Windows of neighbouring percentiles that meet become one.
    std::sort(windows.begin(), windows.end(), [](const Window& a, const Window& b) { return a.First < b.First; });
    std::size_t joined = 0;
    for (std::size_t w = 1; w < windows.size(); ++w) {
        if (windows[w].First <= windows[joined].Last + 1)
            windows[joined].Last = std::max(windows[joined].Last, windows[w].Last);
        else
            windows[++joined] = windows[w];
    }
    windows.resize(joined + 1);
    segmentOf_.assign(BINS, 0);
    for (std::size_t w = 0; w < windows.size(); ++w) {
        for (std::size_t b = windows[w].First; b <= windows[w].Last; ++b) segmentOf_[b] = static_cast<std::uint8_t>(2 * w + 1);
        for (std::size_t b = windows[w].Last + 1; b < BINS; ++b) segmentOf_[b] = static_cast<std::uint8_t>(2 * w + 2);
    }
    gapCounts_.assign(windows.size() + 1, 0);
    kept_.resize(windows.size());
}

BinnedPercentiles BinnedPercentiles::EmptyCopy(std::size_t expected) const {
    BinnedPercentiles copy;
    copy.low_ = low_;
    copy.scale_ = scale_;
    copy.segmentOf_ = segmentOf_;
    copy.gapCounts_.assign(gapCounts_.size(), 0);
    copy.kept_.resize(kept_.size());
    const std::size_t count = Count();
    if (expected > 0 && count > 0)
        for (std::size_t w = 0; w < kept_.size(); ++w)
            copy.kept_[w].reserve(static_cast<std::size_t>(1.25 * static_cast<double>(expected) *
                                                           static_cast<double>(kept_[w].size()) / static_cast<double>(count)));
    return copy;
}

void BinnedPercentiles::Add(std::span<const double> values) {
    // Without a branch on the value's segment (which a predictor cannot
    // guess) and without counters in memory: a chunk's values are counted
    // by segment in two registers, ten bits a gap or window (what a segment
    // adds to each looked up), those in windows gathered, and only then put
    // into their windows.
    constexpr std::size_t CHUNK = 512;  // below 2^10: a count fits its ten bits
    constexpr unsigned BITS = 10;
    static_assert(MAX_SEGMENTS / 2 + 1 <= 64 / BITS);
    std::array<std::uint64_t, MAX_SEGMENTS> toGaps{}, toWindows{};
    for (unsigned segment = 0; segment < MAX_SEGMENTS; ++segment)
        (segment & 1 ? toWindows : toGaps)[segment] = std::uint64_t{1} << (BITS * (segment / 2));
    std::array<double, CHUNK> inWindows;
    std::array<std::uint8_t, CHUNK> segmentIn;
    const double low = low_, scale = scale_;
    const std::uint8_t* segmentOf = segmentOf_.data();
    for (std::size_t start = 0; start < values.size(); start += CHUNK) {
        const std::size_t end = std::min(values.size(), start + CHUNK);
        std::uint64_t gaps = 0, windows = 0;
        std::size_t gathered = 0;
        const auto account = [&](double v, std::size_t bin) {
            const unsigned segment = segmentOf[bin];
            gaps += toGaps[segment];
            windows += toWindows[segment];
            inWindows[gathered] = v;
            segmentIn[gathered] = static_cast<std::uint8_t>(segment);
            gathered += segment & 1;
        };
        std::size_t i = start;
#if defined(__SSE2__) || defined(_M_X64)
        // Two bins at a time, by the very operations of BinOf.
        const __m128d lowPair = _mm_set1_pd(low), scalePair = _mm_set1_pd(scale), zero = _mm_setzero_pd(),
                      last = _mm_set1_pd(static_cast<double>(BINS - 1));
        for (; i + 2 <= end; i += 2) {
            const __m128d x = _mm_mul_pd(_mm_sub_pd(_mm_loadu_pd(&values[i]), lowPair), scalePair);
            const __m128i bins = _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(x, zero), last));
            account(values[i], static_cast<std::size_t>(_mm_cvtsi128_si32(bins)));
            account(values[i + 1], static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_shuffle_epi32(bins, 1))));
        }
#endif
        for (; i < end; ++i) account(values[i], BinOf(values[i], low, scale));
        constexpr std::uint64_t MASK = (std::uint64_t{1} << BITS) - 1;
        for (std::size_t g = 0; g < gapCounts_.size(); ++g) gapCounts_[g] += (gaps >> (BITS * g)) & MASK;
        std::array<double*, MAX_SEGMENTS> next{};  // by segment: the windows' odd ones
        for (std::size_t w = 0; w < kept_.size(); ++w) {
            const std::size_t old = kept_[w].size();
            kept_[w].resize(old + ((windows >> (BITS * w)) & MASK));
            next[2 * w + 1] = kept_[w].data() + old;
        }
        for (std::size_t g = 0; g < gathered; ++g) *next[segmentIn[g]]++ = inWindows[g];
    }
}

void BinnedPercentiles::Merge(BinnedPercentiles&& part) {
    for (std::size_t j = 0; j < gapCounts_.size(); ++j) gapCounts_[j] += part.gapCounts_[j];
    for (std::size_t w = 0; w < kept_.size(); ++w) {
        // The smaller set of values is copied onto the larger.
        if (kept_[w].size() < part.kept_[w].size()) kept_[w].swap(part.kept_[w]);
        kept_[w].insert(kept_[w].end(), part.kept_[w].begin(), part.kept_[w].end());
    }
    part = BinnedPercentiles();
}

std::size_t BinnedPercentiles::Count() const {
    std::size_t n = 0;
    for (const std::uint64_t c : gapCounts_) n += c;
    return n + Kept();
}

std::size_t BinnedPercentiles::Kept() const {
    std::size_t n = 0;
    for (const auto& part : kept_) n += part.size();
    return n;
}

std::optional<std::array<double, 5>> BinnedPercentiles::Percentiles() {
    const std::size_t n = Count();
    // The value of rank `rank` (from 0): the segments follow the order of
    // the values, so it lies in the segment where their running count
    // passes the rank; in a window it is the window's value of the rank
    // less the values before the window.
    // Within a window the values after the last one selected hold every
    // larger rank (ranks are mostly asked for in ascending order), and the
    // rank just after it is their least.
    constexpr std::size_t NONE = static_cast<std::size_t>(-1);
    std::vector<std::size_t> selected(kept_.size(), NONE);
    const auto rankValue = [&](std::size_t rank) -> std::optional<double> {
        std::size_t before = 0;
        for (std::size_t w = 0; w <= kept_.size(); ++w) {
            before += gapCounts_[w];
            if (rank < before || w == kept_.size()) return std::nullopt;
            std::vector<double>& part = kept_[w];
            if (rank < before + part.size()) {
                const std::size_t within = rank - before;
                const auto nth = part.begin() + static_cast<std::ptrdiff_t>(within);
                if (selected[w] != NONE && within == selected[w] + 1) {
                    std::iter_swap(nth, std::min_element(nth, part.end()));
                } else {
                    const std::size_t start = selected[w] != NONE && selected[w] < within ? selected[w] + 1 : 0;
                    SelectNth(part.begin() + static_cast<std::ptrdiff_t>(start), nth, part.end());
                }
                selected[w] = within;
                return *nth;
            }
            before += part.size();
        }
        return std::nullopt;
    };
    std::array<double, 5> percentiles{};
    for (std::size_t q = 0; q < SUMMARY_PROBABILITIES.size(); ++q) {
        const QuantilePosition at = Position(n, SUMMARY_PROBABILITIES[q]);
        const std::optional<double> lower = rankValue(at.Index);
        if (!lower) return std::nullopt;
        double upper = *lower;
        if (at.Fraction != 0 && at.Index + 1 < n) {
            const std::optional<double> next = rankValue(at.Index + 1);
            if (!next) return std::nullopt;
            upper = *next;
        }
        percentiles[q] = Interpolate(*lower, upper, at.Fraction);
    }
    return percentiles;
}

}  // namespace kelmar
