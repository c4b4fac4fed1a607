// DiscoverTargets over a template of N product codes, every one of them installed, against
// the fake installer: three installer calls and one appended record per entry.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "launcher/process_state.h"
#include "targeting/discovery.h"
#include "tests/bench/growth_counters.h"
#include "tests/fakes/fake_platform.h"

namespace sp::bench {
namespace {

std::u16string InstallProducts(fakes::FakeInstaller& installer, std::int64_t count) {
    std::u16string productCodes;
    for (std::int64_t i = 0; i < count; ++i) {
        const std::u16string code = NumberedProductCode(i);
        auto& product = installer.products[code];
        product.properties[u"ProductName"] = u"Product";
        product.properties[u"VersionString"] = u"15.0.106.0";
        if (i > 0) productCodes += u';';
        productCodes += code;
    }
    return productCodes;
}

void BM_DiscoverTargets(benchmark::State& state) {
    fakes::FakePlatform fake;
    const std::int64_t count = state.range(0);
    const std::u16string productCodes = InstallProducts(fake.installer, count);
    PatchTarget templateRecord;
    templateRecord.upgradeVersion = u"15.0.205.0";
    templateRecord.acceptedVersions = u"15.0.106.0,";
    for (auto _ : state) {
        Targets.clear();
        fake.installer.calls.clear();
        DiscoverTargets(templateRecord, productCodes);
        benchmark::DoNotOptimize(Targets.data());
    }
    if (Targets.size() != static_cast<std::size_t>(count)) state.SkipWithError("lost a product");
    Targets.clear();
    ReportPerEntry(state, count);
}
BENCHMARK(BM_DiscoverTargets)->Apply(GrowthSizes);

}  // namespace
}  // namespace sp::bench
