// Each case must stop compilation with the named check; "fits" must compile. Run by CTest.
#include <string>

#include "platform/Format.h"

struct Opaque {};

int data = 0;

std::string misuse() {
#if defined(CASE_fits)
    return platform::format("%@ %d %.2f %s %p %%", std::string("a"), 1, 2.0, "b", &data);
#elif defined(CASE_wrong_kind)
    return platform::format("%d", std::string("not a number"));
#elif defined(CASE_too_few_arguments)
    return platform::format("%@ and %@", "one");
#elif defined(CASE_too_many_arguments)
    return platform::format("%@", "one", "two");
#elif defined(CASE_bad_conversion)
    return platform::format("%y", 1);
#elif defined(CASE_unformattable)
    return platform::format("%@", Opaque{});
#elif defined(CASE_text_from_data)
    std::string data = "%@";
    return platform::format(data, 1);
#endif
}
