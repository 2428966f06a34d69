// Dynamic values: what JSON texts, property lists, parameters and user information hold.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/Decimal.h"

namespace platform {

using Bytes = std::vector<std::uint8_t>;

Bytes toBytes(std::string_view text);
std::string toString(const Bytes& bytes);

// A point in time. Archives and property lists count seconds from 2001-01-01 UTC, and so does
// the date, so that what they hold comes back to the bit; the conversions live here so that
// nobody adds the offset by hand.
class Date {
  public:
    static constexpr double kReferenceOffset = 978307200.0;  // 2001-01-01 minus 1970-01-01

    Date() = default;
    explicit Date(double secondsSince1970) : sinceReference_(secondsSince1970 - kReferenceOffset) {}
    static Date now();
    static Date fromReferenceInterval(double secondsSince2001) {
        Date date;
        date.sinceReference_ = secondsSince2001;
        return date;
    }

    double timeIntervalSince1970() const { return sinceReference_ + kReferenceOffset; }
    double timeIntervalSinceReferenceDate() const { return sinceReference_; }
    double timeIntervalSinceNow() const;
    Date addingTimeInterval(double seconds) const {
        return fromReferenceInterval(sinceReference_ + seconds);
    }

    auto operator<=>(const Date&) const = default;

  private:
    double sinceReference_ = -kReferenceOffset;  // 1970-01-01
};

class Value;
using Array = std::vector<Value>;

// A string-keyed map that keeps its keys in insertion order. Small maps are searched
// linearly; larger ones keep a hash index of entry positions so that look-ups stay O(1)
// while building stays a plain append.
class Map {
  public:
    using Entry = std::pair<std::string, Value>;
    using iterator = std::vector<Entry>::iterator;
    using const_iterator = std::vector<Entry>::const_iterator;

    Map();
    Map(std::initializer_list<Entry> entries);
    // Adopts the entries, indexing each key once: for builders that read many members at a
    // time. A key given more than once keeps its first place and its last value.
    explicit Map(std::vector<Entry>&& entries);
    Map(const Map& other);
    Map(Map&& other) noexcept;
    Map& operator=(const Map& other);
    Map& operator=(Map&& other) noexcept;
    ~Map();

    std::size_t size() const;
    bool empty() const;
    void reserve(std::size_t n);
    void clear();

    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    bool contains(std::string_view key) const { return find(key) != nullptr; }

    // The value under the key, or a shared null value when the key is absent.
    const Value& operator[](std::string_view key) const;

    // Sets the key, replacing the value in place when the key exists already.
    Value& set(std::string_view key, Value value);
    // Appends without looking for an existing key: for builders that know keys are new.
    Value& append(std::string key, Value value);
    bool erase(std::string_view key);

    std::vector<std::string> keys() const;

    iterator begin();
    iterator end();
    const_iterator begin() const;
    const_iterator end() const;

    // Equal when both hold the same keys with equal values, whatever their order.
    bool operator==(const Map& other) const;

  private:
    struct Index;
    std::size_t slotOf(std::string_view key) const;
    void rebuildIndex();
    void indexAdoptedEntries();

    std::vector<Entry> entries_;
    std::unique_ptr<Index> index_;
};

class Value {
  public:
    // A decimal holds a number read from text (JSON) with all its digits; it is a number
    // as integers and reals are, and the lenient accessors answer for it as for them.
    enum class Type {
        kNull,
        kBool,
        kInteger,
        kReal,
        kString,
        kBytes,
        kDate,
        kArray,
        kMap,
        kDecimal
    };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(static_cast<std::int64_t>(i)) {}
    Value(long i) : v_(static_cast<std::int64_t>(i)) {}
    Value(long long i) : v_(static_cast<std::int64_t>(i)) {}
    Value(unsigned i) : v_(static_cast<std::int64_t>(i)) {}
    Value(unsigned long i) : Value(static_cast<unsigned long long>(i)) {}
    Value(unsigned long long i)
        : v_(i > static_cast<unsigned long long>(INT64_MAX)
                 ? Storage(std::in_place_type<std::uint64_t>, i)
                 : Storage(std::in_place_type<std::int64_t>, static_cast<std::int64_t>(i))) {}
    Value(double d) : v_(d) {}
    Value(platform::Decimal d) : v_(d) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(platform::Bytes b) : v_(std::move(b)) {}
    Value(platform::Date d) : v_(d) {}
    Value(platform::Array a) : v_(std::move(a)) {}
    Value(platform::Map m) : v_(std::move(m)) {}

    Type type() const {
        return v_.index() == kUnsignedIndex ? Type::kInteger : static_cast<Type>(v_.index());
    }
    bool isNull() const { return type() == Type::kNull; }
    bool isBool() const { return type() == Type::kBool; }
    bool isInteger() const { return type() == Type::kInteger; }
    bool isReal() const { return type() == Type::kReal; }
    bool isNumber() const { return isBool() || isInteger() || isReal() || isDecimal(); }
    bool isString() const { return type() == Type::kString; }
    bool isBytes() const { return type() == Type::kBytes; }
    bool isDate() const { return type() == Type::kDate; }
    bool isArray() const { return type() == Type::kArray; }
    bool isMap() const { return type() == Type::kMap; }
    bool isDecimal() const { return type() == Type::kDecimal; }

    // Strict accessors: the held alternative, or nullptr when another one is held.
    // An integer above INT64_MAX (property lists hold them up to 2^64-1) answers nullptr from
    // integer() and its value from unsignedInteger(); every other integer the reverse.
    const std::int64_t* integer() const { return std::get_if<std::int64_t>(&v_); }
    const std::uint64_t* unsignedInteger() const { return std::get_if<std::uint64_t>(&v_); }
    const double* real() const { return std::get_if<double>(&v_); }
    const platform::Decimal* decimal() const { return std::get_if<platform::Decimal>(&v_); }
    const std::string* string() const { return std::get_if<std::string>(&v_); }
    const platform::Bytes* bytes() const { return std::get_if<platform::Bytes>(&v_); }
    const platform::Date* date() const { return std::get_if<platform::Date>(&v_); }
    const platform::Array* array() const { return std::get_if<platform::Array>(&v_); }
    platform::Array* array() { return std::get_if<platform::Array>(&v_); }
    const platform::Map* map() const { return std::get_if<platform::Map>(&v_); }
    platform::Map* map() { return std::get_if<platform::Map>(&v_); }

    // Lenient accessors, read the way a number or string object answers them: a numeric
    // string gives its leading number, a number gives its text, anything else 0 or "".
    // integerValue() of an integer above INT64_MAX is INT64_MAX.
    std::int64_t integerValue() const;
    int intValue() const;
    double doubleValue() const;
    bool boolValue() const;
    std::string stringValue() const;

    // Map and array shortcuts that answer null for a missing key, a wrong index or a value
    // that is not a container.
    const Value& operator[](std::string_view key) const;
    const Value& operator[](std::size_t index) const;
    std::size_t count() const;

    // The text a log line shows: strings bare, containers in the old property-list style.
    std::string description() const;

    bool operator==(const Value& other) const;

    static const Value& null();

  private:
    // The alternatives in the order of Type; the unsigned one, last, is a kInteger too.
    static constexpr std::size_t kUnsignedIndex = 10;
    using Storage = std::variant<std::monostate, bool, std::int64_t, double, std::string,
                                 platform::Bytes, platform::Date, platform::Array, platform::Map,
                                 platform::Decimal, std::uint64_t>;
    Storage v_;
};

// Defined once Value is complete: some compilers instantiate the vector's members where the
// body stands.
inline std::size_t Map::size() const {
    return entries_.size();
}
inline bool Map::empty() const {
    return entries_.empty();
}
inline void Map::reserve(std::size_t n) {
    entries_.reserve(n);
}
inline Map::iterator Map::begin() {
    return entries_.begin();
}
inline Map::iterator Map::end() {
    return entries_.end();
}
inline Map::const_iterator Map::begin() const {
    return entries_.begin();
}
inline Map::const_iterator Map::end() const {
    return entries_.end();
}

}  // namespace platform
