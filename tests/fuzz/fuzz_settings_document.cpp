// The settings document parser, as a settings file and as the display's reply reach
// it. Properties: it never crashes; a failure says why; a parsed document leaves
// only plain texts in the record; and the document built from that record parses
// back to the same record.
#include "fuzz_check.h"

#include "settings/settings_document.h"
#include "settings/settings_ops.h"
#include "settings/tables.h"
#include "util/codepage.h"
#include "util/text.h"

#include <cstddef>
#include <cstdint>

using namespace tarsel;

namespace {

struct Start {
    TDisplayInfo info;
    WindowValues values;
    Start()
    {
        std::string error;
        ParseSettingsJson(Utf8ToUtf16(DefaultSettingsJson), info, values, error);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Start start;
    const Bytes document(reinterpret_cast<const char*>(data), size);

    TDisplayInfo info = start.info;
    WindowValues values = start.values;
    std::string error;
    std::vector<std::string> cleaned;
    if (!ParseSettingsDocument(document, info, values, error, &cleaned)) {
        TARSEL_FUZZ_CHECK(!error.empty());
    } else {
        TARSEL_FUZZ_CHECK(IsPlainDisplayText(info.wel_mess1));
        TARSEL_FUZZ_CHECK(IsPlainDisplayText(info.wel_mess2));
        TARSEL_FUZZ_CHECK(IsPlainDisplayText(info.main_str));
        TARSEL_FUZZ_CHECK(cleaned.size() <= 3);

        TDisplayInfo again = start.info;
        WindowValues shown = start.values;
        std::vector<std::string> cleanedAgain;
        TARSEL_FUZZ_CHECK(ParseSettingsDocument(BuildSettingsDocument(info), again, shown, error, &cleanedAgain));
        TARSEL_FUZZ_CHECK(cleanedAgain.empty());
        TARSEL_FUZZ_CHECK(again == info);
        TARSEL_FUZZ_CHECK(shown == values);
    }

    // The display's reply: the same bytes with their final 00.
    TDisplayInfo fromDisplay = start.info;
    WindowValues shownFromDisplay = start.values;
    const ApplyResult result = ApplyDisplaySettings(document + '\0', fromDisplay, shownFromDisplay);
    TARSEL_FUZZ_CHECK(!result.status.text.empty());
    TARSEL_FUZZ_CHECK(!result.applied || IsPlainDisplayText(fromDisplay.main_str));
    return 0;
}
