// The accepted-versions walk install mode makes per product, over N accepted versions with
// the installed one last: every entry is cut out, parsed and compared.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "targeting/accepted_versions.h"
#include "targeting/version_quad.h"
#include "tests/bench/growth_counters.h"

namespace sp::bench {
namespace {

std::u16string AcceptedVersions(std::int64_t count) {
    std::u16string versions;
    for (std::int64_t i = 0; i + 1 < count; ++i) {
        std::string version = "14.0." + std::to_string(i / 100) + "." + std::to_string(i % 100);
        versions.append(version.begin(), version.end());
        versions += u',';
    }
    return versions + u"15.0.106.0,";
}

void BM_WalkAcceptedVersions(benchmark::State& state) {
    const std::int64_t count = state.range(0);
    const std::u16string accepted = AcceptedVersions(count);
    const VersionQuad installed = ParseVersionQuad(u"15.0.106.0");
    const VersionQuad upgrade = ParseVersionQuad(u"15.0.205.0");
    for (auto _ : state) {
        PatchVerdict verdict = WalkAcceptedVersions(accepted, installed, upgrade);
        benchmark::DoNotOptimize(verdict);
    }
    if (WalkAcceptedVersions(accepted, installed, upgrade) != PatchVerdict::Apply)
        state.SkipWithError("the installed version was not found last");
    ReportPerEntry(state, count);
}
BENCHMARK(BM_WalkAcceptedVersions)->Apply(GrowthSizes);

}  // namespace
}  // namespace sp::bench
