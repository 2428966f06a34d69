// Texts built the printf way, as the share service builds its log lines, request paths and
// descriptions: "%@" takes any object and prints a missing one as "(null)", because such texts
// reach the wire as they are.
//
//     platform::format("%@/%@?%@", base, path, query)
//     platform::format("Boundary+%08X%08X", a, b)
//
// The format is checked while the program compiles: every conversion needs an argument of a
// kind that fits it, and the count must match. A format can therefore never come from data, and
// a mismatch never reaches run time. To print a text that is data, pass it as an argument:
// format("%@", text).
//
// Conversions: %@ (strings, optional strings, numbers, Values and anything else with a
// description(); an empty optional, a null pointer or nullptr prints "(null)"), %d %i %u %o %x
// %X %c (integers), %f %F %e %E %g %G %a %A (reals), %s (strings), %p (pointers), %%. Flags,
// width and precision work as in printf; length modifiers (h hh l ll q z t j L) are accepted and
// ignored, since the argument's own type decides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace platform {

namespace format_detail {

// What an argument can stand for; a conversion accepts some of these.
enum Category : unsigned {
    kInteger = 1,
    kReal = 2,
    kText = 4,
    kObject = 8,
    kPointer = 16,
};

template <class T>
concept Describable = requires(const T& t) {
    { t.description() } -> std::convertible_to<std::string>;
};

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <class T>
struct IsSharedPtr : std::false_type {};
template <class T>
struct IsSharedPtr<std::shared_ptr<T>> : std::true_type {};

template <class T>
consteval unsigned categoryOf() {
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_same_v<U, std::nullptr_t>) {
        return kText | kObject | kPointer | kInteger | kReal;
    } else if constexpr (std::is_integral_v<U> || std::is_enum_v<U>) {
        return kInteger;
    } else if constexpr (std::is_floating_point_v<U>) {
        return kReal;
    } else if constexpr (std::is_convertible_v<const U&, std::string_view>) {
        return kText;
    } else if constexpr (IsOptional<U>::value) {
        return categoryOf<typename U::value_type>();
    } else if constexpr (Describable<U>) {
        return kObject;
    } else if constexpr (std::is_pointer_v<U> && !std::is_function_v<std::remove_pointer_t<U>>) {
        return Describable<std::remove_cv_t<std::remove_pointer_t<U>>> ? (kObject | kPointer)
                                                                       : kPointer;
    } else if constexpr (IsSharedPtr<U>::value) {
        return Describable<std::remove_cv_t<typename U::element_type>> ? (kObject | kPointer)
                                                                       : kPointer;
    } else {
        return 0;
    }
}

// One conversion of a format, as read from the text.
struct Spec {
    bool valid = false;
    bool literalPercent = false;
    bool leftAlign = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zeroPad = false;
    int width = -1;
    int precision = -1;
    char conversion = 0;
    std::size_t end = 0;  // index just past the conversion
};

inline constexpr int kMaxWidth = 4096;

// Reads the conversion that starts with the '%' at `start`.
constexpr Spec parseSpec(std::string_view format, std::size_t start) {
    Spec spec;
    std::size_t i = start + 1;
    auto at = [&](std::size_t k) { return k < format.size() ? format[k] : '\0'; };
    if (at(i) == '%') {
        spec.valid = true;
        spec.literalPercent = true;
        spec.end = i + 1;
        return spec;
    }
    for (;; ++i) {
        char c = at(i);
        if (c == '-') {
            spec.leftAlign = true;
        } else if (c == '+') {
            spec.plus = true;
        } else if (c == ' ') {
            spec.space = true;
        } else if (c == '#') {
            spec.alternate = true;
        } else if (c == '0') {
            spec.zeroPad = true;
        } else {
            break;
        }
    }
    auto readNumber = [&](int& out) {
        out = 0;
        while (at(i) >= '0' && at(i) <= '9') {
            out = out * 10 + (at(i) - '0');
            if (out > kMaxWidth) {
                return false;
            }
            ++i;
        }
        return true;
    };
    if (at(i) >= '1' && at(i) <= '9' && !readNumber(spec.width)) {
        return spec;
    }
    if (at(i) == '.') {
        ++i;
        if (!readNumber(spec.precision)) {
            return spec;
        }
    }
    // Length modifiers say how wide the C argument was; here the argument's type says it.
    while (at(i) == 'h' || at(i) == 'l' || at(i) == 'q' || at(i) == 'L' || at(i) == 'z' ||
           at(i) == 't' || at(i) == 'j') {
        ++i;
    }
    constexpr std::string_view kConversions = "diouxXcspfFeEgGaA@";
    char c = at(i);
    if (c == '\0' || kConversions.find(c) == std::string_view::npos) {
        return spec;
    }
    spec.conversion = c;
    spec.valid = true;
    spec.end = i + 1;
    return spec;
}

// The kinds of argument a conversion takes.
constexpr unsigned accepted(char conversion) {
    switch (conversion) {
        case '@':
            return kInteger | kReal | kText | kObject;
        case 's':
            return kText;
        case 'p':
            return kPointer;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            return kReal;
        default:
            return kInteger;
    }
}

// Not constexpr on purpose: when the compile-time check reaches one of these, compilation stops
// with the function's name as the message.
void invalid_conversion_in_format();
void format_has_more_conversions_than_arguments();
void format_has_fewer_conversions_than_arguments();
void argument_kind_does_not_fit_its_conversion();
void argument_type_cannot_be_formatted();

consteval void check(std::string_view format, std::initializer_list<unsigned> categories) {
    for (unsigned category : categories) {
        if (category == 0) {
            argument_type_cannot_be_formatted();
        }
    }
    std::size_t used = 0;
    for (std::size_t i = 0; i < format.size();) {
        if (format[i] != '%') {
            ++i;
            continue;
        }
        Spec spec = parseSpec(format, i);
        if (!spec.valid) {
            invalid_conversion_in_format();
        }
        i = spec.end;
        if (spec.literalPercent) {
            continue;
        }
        if (used >= categories.size()) {
            format_has_more_conversions_than_arguments();
        }
        if ((categories.begin()[used] & accepted(spec.conversion)) == 0) {
            argument_kind_does_not_fit_its_conversion();
        }
        ++used;
    }
    if (used != categories.size()) {
        format_has_fewer_conversions_than_arguments();
    }
}

template <class... Args>
class BasicFormatString {
  public:
    template <class S>
    requires std::convertible_to<const S&, std::string_view>
    consteval BasicFormatString(const S& text) : text_(text) {
        check(text_, {categoryOf<Args>()...});
    }

    std::string_view get() const { return text_; }

  private:
    std::string_view text_;
};

// One argument, reduced to what the formatter needs. Objects are described when the argument
// is made; the text then lives inside the argument, which is therefore neither copied nor moved.
class Arg {
  public:
    enum class Kind : std::uint8_t { kNil, kSigned, kUnsigned, kReal, kText, kPointer };

    template <class T>
    explicit Arg(const T& value) {
        assign(value);
    }
    Arg(const Arg&) = delete;
    Arg& operator=(const Arg&) = delete;

    Kind kind = Kind::kNil;
    std::uint8_t bits = 64;  // width of an integer argument, for %u and %x of negative values
    std::int64_t signedValue = 0;
    std::uint64_t unsignedValue = 0;
    double real = 0;
    const void* address = nullptr;
    std::string_view text;

  private:
    template <class T>
    void assign(const T& value) {
        using U = std::remove_cvref_t<T>;
        if constexpr (std::is_same_v<U, std::nullptr_t>) {
            kind = Kind::kNil;
        } else if constexpr (std::is_enum_v<U>) {
            assign(static_cast<std::underlying_type_t<U>>(value));
        } else if constexpr (std::is_integral_v<U>) {
            bits = static_cast<std::uint8_t>(sizeof(U) * 8);
            if constexpr (std::is_signed_v<U>) {
                kind = Kind::kSigned;
                signedValue = value;
            } else {
                kind = Kind::kUnsigned;
                unsignedValue = value;
            }
        } else if constexpr (std::is_floating_point_v<U>) {
            kind = Kind::kReal;
            real = static_cast<double>(value);
        } else if constexpr (std::is_pointer_v<U> &&
                             std::is_convertible_v<const U&, std::string_view>) {
            if (value != nullptr) {
                kind = Kind::kText;
                text = value;
            }
        } else if constexpr (std::is_convertible_v<const U&, std::string_view>) {
            kind = Kind::kText;
            text = std::string_view(value);
        } else if constexpr (IsOptional<U>::value) {
            if (value.has_value()) {
                assign(*value);
            }
        } else if constexpr (Describable<U>) {
            kind = Kind::kText;
            owned_ = value.description();
            text = owned_;
        } else if constexpr (std::is_pointer_v<U>) {
            assignPointer(value);
        } else if constexpr (IsSharedPtr<U>::value) {
            assignPointer(value.get());
        } else {
            static_assert(sizeof(U) == 0, "this type cannot be formatted");
        }
    }

    template <class P>
    void assignPointer(P* pointer) {
        address = pointer;
        if (pointer == nullptr) {
            kind = Kind::kNil;
        } else if constexpr (Describable<std::remove_cv_t<P>>) {
            kind = Kind::kText;
            owned_ = pointer->description();
            text = owned_;
        } else {
            kind = Kind::kPointer;
        }
    }

    std::string owned_;
};

// The formatter proper: walks a format that the compile-time check has accepted.
std::string vformat(std::string_view format, std::span<const Arg> args);

}  // namespace format_detail

// A format text checked against the types of the arguments that come with it.
template <class... Args>
using FormatString = format_detail::BasicFormatString<std::type_identity_t<Args>...>;

template <class... Args>
std::string format(FormatString<Args...> fmt, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
        return format_detail::vformat(fmt.get(), {});
    } else {
        const format_detail::Arg list[] = {format_detail::Arg(args)...};
        return format_detail::vformat(fmt.get(), list);
    }
}

}  // namespace platform
