// libFuzzer target: the settings-store parser on arbitrary text, and the writer on what it accepts.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tz/errors.h"
#include "tz/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const tz::SettingsStore store =
            tz::parseSettingsStore(std::string_view(reinterpret_cast<const char*>(data), size));
        // What was accepted must survive a write and a second read unchanged.
        if (tz::parseSettingsStore(tz::formatSettingsStore(store)) != store) {
            __builtin_trap();
        }
    } catch (const tz::Error&) {
        // Refusing the text with a clear error is a correct outcome.
    }
    return 0;
}
