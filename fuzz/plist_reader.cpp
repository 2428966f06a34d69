// Any bytes, as the binary, XML or text form of a property list: the reader answers a value
// or an error that says why, never crashes. What it reads is written back in both forms and
// reads again as the same value (in XML, unless that form cannot hold it).
#include <cstdint>
#include <cstdlib>

#include "fuzz/SameValue.h"
#include "platform/PropertyList.h"

namespace PropertyList = platform::PropertyList;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::Error error;
    const auto value = PropertyList::read({data, size}, &error);
    if (!value) {
        if (error.code() != PropertyList::kReadCorruptError ||
            error.localizedDescription().empty()) {
            std::abort();
        }
        return 0;
    }
    const auto binary = PropertyList::write(*value, PropertyList::Format::kBinary, &error);
    if (!binary) {
        std::abort();  // every value read is one the binary form holds
    }
    const auto fromBinary = PropertyList::read(*binary);
    if (!fromBinary || !fuzzing::sameValue(*value, *fromBinary)) {
        std::abort();
    }
    if (const auto xml = PropertyList::write(*value, PropertyList::Format::kXml)) {
        const auto fromXml = PropertyList::read(*xml);
        if (!fromXml || !fuzzing::sameValue(*value, *fromXml, /*wholeSeconds=*/true)) {
            std::abort();
        }
    }
    return 0;
}
