// Any bytes: the decoder answers bytes or nothing, never reads or writes out of bounds; what
// it decodes encodes back to text that decodes to the same bytes.
#include <cstdint>
#include <cstdlib>

#include "RZBase_Source/Encode/RAZududeBase64.h"
#include "RZBase_Source/Encode/RAZududeUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto decoded = RAZududeBase64::decodeBytes(data, size);
    if (!decoded) {
        return 0;
    }
    if (decoded->empty() || decoded->size() > (size + 3) / 4 * 3) {
        std::abort();
    }
    const std::string encoded = RAZududeUtils::base64EncodeData(*decoded);
    if (RAZududeBase64::decodeString(encoded) != decoded) {
        std::abort();
    }
    return 0;
}
