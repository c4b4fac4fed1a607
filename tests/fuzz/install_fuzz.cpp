// Install mode's decision walk with arbitrary keywords, template and installed products (the
// fields as in the discovery target; a description's third part is the installer's result for
// that product). What happens is recorded as one sequence of events, a box by its message id
// and a configure call, and then checked: the installer is asked at most once per record and
// reports each time, a 306 in the walk ends the run, and the temporary package is deleted
// exactly when the run reached its end.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/process_state.h"
#include "package/extract.h"
#include "targeting/install.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/fuzz_machine.h"

namespace sp::fuzz {
namespace {

const std::u16string kPackage = u"C:\\users\\me\\Temp\\MSP1";
constexpr int kConfigure = 0;
constexpr int kFailure = 300, kUpToDate = 306, kNoTarget = 307;

// Each text starts with its id, so a box tells which message it shows.
void AddCatalog(fakes::FakeResources& resources) {
    resources.strings = {{300, u"300 %s %d"},  {301, u"301 %s %s"},   {306, u"306 %s %s"},
                         {307, u"307 %s %s"},  {308, u"308 %s %s"},   {311, u"Error"},
                         {312, u"Success"},    {313, u"Unnecessary"}, {320, u"Close these:"},
                         {321, u"Running: %s"}};
}

void RecordEvents(FuzzPlatform& machine, std::vector<int>& events) {
    machine.recorder.onConfigure = [&events] { events.push_back(kConfigure); };
    machine.boxes.onShow = [&events](const fakes::FakeBoxes::Box& box) {
        events.push_back(std::stoi(fakes::Narrow(box.text.substr(0, 3))));
    };
}

bool IsSubsequence(const std::vector<std::u16string>& part, const TargetList& records) {
    std::size_t next = 0;
    for (const PatchTarget& record : records) {
        if (next < part.size() && part[next] == record.productCode) ++next;
    }
    return next == part.size();
}

void CheckConfigureCalls(const std::vector<int>& events, const RecordingInstaller& installer) {
    Require(IsSubsequence(installer.configured, Targets), "products are configured in order");
    // A record's command line is formed in its own slot just before its one configure call.
    const auto formed = std::count_if(Targets.begin(), Targets.end(),
                                      [](const PatchTarget& r) { return !r.commandLine.empty(); });
    Require(installer.configured.size() <= static_cast<std::size_t>(formed),
            "at most one configure call per record");
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i] != kConfigure) continue;
        Require(i + 1 < events.size() && events[i + 1] != kConfigure,
                "every configure call is reported before the next record");
    }
}

void CheckEnd(const std::vector<int>& events, bool reachedEnd, bool packageLeft) {
    Require(reachedEnd != packageLeft, "the package is deleted exactly when the run got through");
    const auto upToDate = std::find(events.begin(), events.end(), kUpToDate);
    if (upToDate == events.end()) {
        Require(reachedEnd ||
                    (!events.empty() && (events.back() == kFailure || events.back() == kNoTarget)),
                "a run that stops early says why");
        return;
    }
    Require(upToDate + 1 == events.end(), "nothing happens after a 306");
    Require(!reachedEnd || events.size() == 1,
            "a 306 at the end of a run is its only report: every product was up to date");
}

}  // namespace
}  // namespace sp::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sp::fuzz;
    const std::vector<std::u16string> fields = DecodeFields(data, size);
    FuzzPlatform machine;
    AddCatalog(machine.resources);
    DescribeMachine(machine, kPackage, fields);
    std::vector<int> events;
    RecordEvents(machine, events);

    sp::Options = sp::LaunchOptions{};
    sp::Targets.clear();
    sp::SetTemporaryNameCounter(1);
    const bool reachedEnd = sp::InstallPatch();
    CheckConfigureCalls(events, machine.recorder);
    CheckEnd(events, reachedEnd, machine.files.files.count(kPackage) == 1);
    sp::Targets.clear();
    return 0;
}
