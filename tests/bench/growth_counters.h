// What every growth benchmark shares: the entry counts it runs at and the time per entry it
// reports, so that one run shows whether the cost per entry stays flat as the list grows.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace sp::bench {

// 1, 100 and 10,000 entries; use as BENCHMARK(X)->Apply(GrowthSizes).
inline void GrowthSizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(1)->Arg(100)->Arg(10000);
}

inline void ReportPerEntry(benchmark::State& state, std::int64_t entries) {
    state.counters["per_entry"] = benchmark::Counter(
        static_cast<double>(entries),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Distinct product codes in the braced form the installer takes: {0000002A-0000-4000-...}.
inline std::u16string NumberedProductCode(std::int64_t number) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string code = u"{00000000-0000-4000-8000-000000000000}";
    for (int digit = 8; digit >= 1; --digit, number >>= 4) code[digit] = kHex[number & 0xF];
    return code;
}

}  // namespace sp::bench
