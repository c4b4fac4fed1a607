#include "ui/guard.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "launcher/process_state.h"
#include "platform/ascii_case.h"
#include "platform/platform.h"
#include "ui/catalog.h"
#include "ui/format.h"

namespace sp {

char16_t FirstWatchedExe[512];
char16_t SecondWatchedExe[512];

namespace {

constexpr std::int32_t kLoadCapacity = 512;
constexpr std::uint32_t kCaptionError = 311;
constexpr std::uint32_t kRunningPrompt = 321;

void CopyName(char16_t (&destination)[512], const char16_t* name) {
    std::u16string_view text = name;
    std::size_t count = std::min(text.size(), std::size(destination) - 1);
    std::copy_n(text.begin(), count, destination);
    destination[count] = u'\0';
}

std::u16string BuildPrompt(const char16_t* displayName) {
    std::u16string text;
    LoadResourceString(ModuleInstance, kRunningPrompt, text, kLoadCapacity);
    // The name may add up to 512 characters to the loaded text, and the formatter's limit of
    // 1024 bounds the whole.
    std::size_t capacity = std::min(text.size() + 512, kFormatLimit);
    return FormatText(text, {displayName, u""}, capacity);
}

// Prompts while `exeName` runs. False when the user gave up on it; an answer that is neither
// Retry nor Cancel (0: the box could not be shown) counts as giving up, so that a box that
// cannot appear never leads to prompting without end. Where no user can see the prompt, it is
// not shown and counts as Cancel at once: waiting would last until someone killed the run, and
// retrying later is the deployment tool's business.
bool WaitWhileRunning(const char16_t* exeName, const std::u16string& prompt,
                      const std::u16string& caption) {
    while (IsProcessRunning(exeName)) {
        if (!BoxesAreSeen) return false;
        std::int32_t answer = CurrentPlatform().boxes->Show(prompt, caption, kBoxRetryCancel);
        if (answer != kAnswerRetry) return false;
    }
    return true;
}

}  // namespace

bool IsProcessRunning(const std::u16string& executableName) {
    std::vector<ProcessEntry> entries;
    // A process list that cannot be read counts as the application running.
    if (!CurrentPlatform().processes->Snapshot(entries)) return true;
    for (const ProcessEntry& entry : entries) {
        if (entry.processId == 0) continue;  // the idle process, never an application
        // The watched names are ASCII: no locale's table may decide what matches them.
        if (EqualsIgnoringAsciiCase(entry.exeFile, executableName)) return true;
    }
    return false;
}

bool WaitForBlockingApplications() {
    std::u16string caption = u"Error";
    LoadResourceString(ModuleInstance, kCaptionError, caption, kLoadCapacity);

    std::u16string firstPrompt = BuildPrompt(u"Draftmill\n");
    std::u16string secondPrompt = BuildPrompt(u"Partsmith\n");

    CopyName(SecondWatchedExe, u"partsmith.exe");
    CopyName(FirstWatchedExe, u"dmill.exe");

    bool result = true;
    if (!WaitWhileRunning(FirstWatchedExe, firstPrompt, caption)) result = false;
    // The second application is checked however the first loop ended.
    if (!WaitWhileRunning(SecondWatchedExe, secondPrompt, caption)) result = false;
    return result;
}

}  // namespace sp
