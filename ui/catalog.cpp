#include "ui/catalog.h"

#include <algorithm>
#include <memory>

#include "launcher/process_state.h"
#include "platform/platform.h"
#include "ui/format.h"
#include "ui/table_language.h"

namespace sp {

namespace {

constexpr std::int32_t kLoadCapacity = 512;
constexpr std::uint32_t kCaptionError = 311;
constexpr std::uint32_t kCaptionSuccess = 312;
constexpr std::uint32_t kCaptionUnnecessary = 313;

// Inserted untranslated into every language's text.
constexpr char16_t kServicePack[] = u"service pack";

enum class Insert { ServicePack, ProductName, ErrorCode };

struct CatalogRow {
    std::uint32_t id;
    std::uint32_t caption;
    std::uint32_t flags;
    int insertCount;
    Insert inserts[2];
};

constexpr CatalogRow kCatalog[] = {
    {300, kCaptionError, kBoxError, 2, {Insert::ServicePack, Insert::ErrorCode}},
    // English leaves the product name out; a translation may still show it second.
    {301, kCaptionSuccess, kBoxInformation, 2, {Insert::ServicePack, Insert::ProductName}},
    {306, kCaptionUnnecessary, kBoxInformation, 2, {Insert::ProductName, Insert::ServicePack}},
    {307, kCaptionError, kBoxError, 2, {Insert::ServicePack, Insert::ServicePack}},
    {308, kCaptionError, kBoxError, 2, {Insert::ServicePack, Insert::ProductName}},
    {309, kCaptionError, kBoxError, 0, {}},
    {310, kCaptionError, kBoxError, 1, {Insert::ServicePack}},
};

const CatalogRow* FindRow(std::uint32_t id) {
    auto it = std::find_if(std::begin(kCatalog), std::end(kCatalog),
                           [id](const CatalogRow& row) { return row.id == id; });
    return it == std::end(kCatalog) ? nullptr : it;
}

FormatInsert MakeInsert(Insert kind, std::int32_t errorCode) {
    switch (kind) {
        case Insert::ServicePack:
            return FormatInsert(kServicePack);
        case Insert::ProductName:
            return FormatInsert(CurrentProductName);
        case Insert::ErrorCode:
            break;
    }
    return FormatInsert(errorCode);
}

}  // namespace

std::int32_t LoadResourceString(ModuleHandle module, std::uint32_t id, std::u16string& destination,
                                std::int32_t capacity) {
    // The platform loader reads a capacity of 0 as a request for a pointer into the image, which
    // a scratch buffer cannot take: nothing is loaded then.
    if (capacity < 1) {
        destination.clear();
        return 0;
    }
    // The table is named rather than left to the platform's resource search, which finds a
    // table only under the user's exact language ID or its neutral sublanguage (so an Austrian
    // or a Mexican would read English), follows the thread locale under Wine but not on
    // Windows, and would change with the run's own locale reset before its last report.
    const std::uint16_t table = TableLanguageFor(CurrentPlatform().thread->UiLanguage());
    auto scratch = std::make_unique<char16_t[]>(static_cast<std::size_t>(capacity));
    std::int32_t count =
        CurrentPlatform().resources->LoadString(module, id, table, scratch.get(), capacity);
    char16_t* end = std::find(scratch.get(), scratch.get() + capacity, u'\0');
    destination.assign(scratch.get(), end);
    return count;
}

std::int32_t ShowMessage(std::uint32_t id) {
    // Where nobody can see a box, nobody would ever close it: the same as a quiet run.
    if (Options.quiet || !BoxesAreSeen) return kAnswerNo;
    // No caller passes an id outside the catalog; should one arrive, nothing is shown.
    const CatalogRow* row = FindRow(id);
    if (!row) return 0;
    // Read before anything else runs, so the code is the one the caller left behind.
    std::int32_t errorCode = static_cast<std::int32_t>(CurrentPlatform().thread->GetLastError());

    std::u16string text;
    LoadResourceString(ModuleInstance, id, text, kLoadCapacity);
    std::u16string caption;
    LoadResourceString(ModuleInstance, row->caption, caption, kLoadCapacity);

    // The formatter's own limit of 1024 characters is what bounds the text.
    const std::size_t capacity = kFormatLimit;
    std::u16string message;
    switch (row->insertCount) {
        case 0:
            message = FormatText(text, {}, capacity);
            break;
        case 1:
            message = FormatText(text, {MakeInsert(row->inserts[0], errorCode)}, capacity);
            break;
        default:
            message = FormatText(
                text,
                {MakeInsert(row->inserts[0], errorCode), MakeInsert(row->inserts[1], errorCode)},
                capacity);
            break;
    }
    return CurrentPlatform().boxes->Show(message, caption, row->flags);
}

}  // namespace sp
