// Any text: the parser answers a value or errors, never crashes; a value it reads is written
// back by the writer and reads again as the same value.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "RZBase_Source/Json/RAZududeRqJsonParser.h"
#include "RZBase_Source/Json/RAZududeRqJsonWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    RAZududeRqJsonParser parser;
    const auto value = parser.fragmentWithString(text);
    if (!value) {
        if (parser.errorTrace().empty()) {
            std::abort();  // a failure must say why
        }
        return 0;
    }
    for (bool humanReadable : {false, true}) {
        RAZududeRqJsonWriter writer;
        writer.setHumanReadable(humanReadable);
        const auto written = writer.stringWithFragment(*value);
        if (!written) {
            std::abort();
        }
        const auto again = RAZududeRqJsonParser().fragmentWithString(*written);
        if (!again || !(*again == *value)) {
            std::abort();
        }
    }
    return 0;
}
