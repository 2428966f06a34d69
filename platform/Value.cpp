#include "platform/Value.h"
#include "platform/NoDestructor.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace platform {

Bytes toBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string toString(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

Date Date::now() {
    using namespace std::chrono;
    return Date(duration<double>(system_clock::now().time_since_epoch()).count());
}

double Date::timeIntervalSinceNow() const {
    return sinceReference_ - now().sinceReference_;
}

// ---------------------------------------------------------------------------------------------
// Map

namespace {
constexpr std::size_t kIndexThreshold = 8;
constexpr std::uint32_t kEmptySlot = UINT32_MAX;

std::size_t hashKey(std::string_view key) {
    return std::hash<std::string_view>{}(key);
}
}  // namespace

struct Map::Index {
    std::vector<std::uint32_t> slots;  // entry positions, kEmptySlot where free
    std::size_t mask() const { return slots.size() - 1; }
};

Map::Map() = default;
Map::Map(std::initializer_list<Entry> entries) {
    for (const auto& entry : entries) {
        set(entry.first, entry.second);
    }
}
Map::Map(std::vector<Entry>&& entries) : entries_(std::move(entries)) {
    indexAdoptedEntries();
}
Map::Map(const Map& other) : entries_(other.entries_) {
    rebuildIndex();
}
Map::Map(Map&& other) noexcept = default;
Map& Map::operator=(const Map& other) {
    if (this != &other) {
        entries_ = other.entries_;
        rebuildIndex();
    }
    return *this;
}
Map& Map::operator=(Map&& other) noexcept = default;
Map::~Map() = default;

void Map::clear() {
    entries_.clear();
    index_.reset();
}

void Map::rebuildIndex() {
    if (entries_.size() <= kIndexThreshold) {
        index_.reset();
        return;
    }
    std::size_t capacity = 16;
    while (capacity < entries_.size() * 2) {
        capacity *= 2;
    }
    if (!index_) {
        index_ = std::make_unique<Index>();
    }
    index_->slots.assign(capacity, kEmptySlot);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        std::size_t slot = hashKey(entries_[i].first) & index_->mask();
        while (index_->slots[slot] != kEmptySlot) {
            slot = (slot + 1) & index_->mask();
        }
        index_->slots[slot] = static_cast<std::uint32_t>(i);
    }
}

void Map::indexAdoptedEntries() {
    std::vector<bool> dropped;
    if (entries_.size() <= kIndexThreshold) {
        for (std::size_t i = 1; i < entries_.size(); ++i) {
            for (std::size_t j = 0; j < i; ++j) {
                if (entries_[j].first == entries_[i].first) {  // j is the first, kept, occurrence
                    entries_[j].second = std::move(entries_[i].second);
                    dropped.resize(entries_.size());
                    dropped[i] = true;
                    break;
                }
            }
        }
    } else {
        std::size_t capacity = 16;
        while (capacity < entries_.size() * 2) {
            capacity *= 2;
        }
        std::vector<std::uint32_t> slots(capacity, kEmptySlot);
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            std::size_t slot = hashKey(entries_[i].first) & (capacity - 1);
            while (slots[slot] != kEmptySlot && entries_[slots[slot]].first != entries_[i].first) {
                slot = (slot + 1) & (capacity - 1);
            }
            if (slots[slot] == kEmptySlot) {
                slots[slot] = static_cast<std::uint32_t>(i);
            } else {
                entries_[slots[slot]].second = std::move(entries_[i].second);
                dropped.resize(entries_.size());
                dropped[i] = true;
            }
        }
        if (dropped.empty()) {
            // Every key is new: the slots are the index.
            index_ = std::make_unique<Index>();
            index_->slots = std::move(slots);
            return;
        }
    }
    if (!dropped.empty()) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (!dropped[i]) {
                if (kept != i) {
                    entries_[kept] = std::move(entries_[i]);
                }
                ++kept;
            }
        }
        entries_.resize(kept);
    }
    rebuildIndex();
}

// The index slot holding the key, or the free slot where it would go.
std::size_t Map::slotOf(std::string_view key) const {
    std::size_t slot = hashKey(key) & index_->mask();
    while (true) {
        std::uint32_t position = index_->slots[slot];
        if (position == kEmptySlot || entries_[position].first == key) {
            return slot;
        }
        slot = (slot + 1) & index_->mask();
    }
}

const Value* Map::find(std::string_view key) const {
    if (index_) {
        std::uint32_t position = index_->slots[slotOf(key)];
        return position == kEmptySlot ? nullptr : &entries_[position].second;
    }
    for (const auto& entry : entries_) {
        if (entry.first == key) {
            return &entry.second;
        }
    }
    return nullptr;
}

Value* Map::find(std::string_view key) {
    return const_cast<Value*>(static_cast<const Map*>(this)->find(key));
}

const Value& Map::operator[](std::string_view key) const {
    const Value* value = find(key);
    return value ? *value : Value::null();
}

Value& Map::set(std::string_view key, Value value) {
    if (Value* existing = find(key)) {
        *existing = std::move(value);
        return *existing;
    }
    return append(std::string(key), std::move(value));
}

Value& Map::append(std::string key, Value value) {
    entries_.emplace_back(std::move(key), std::move(value));
    if (entries_.size() > kIndexThreshold) {
        if (!index_ || entries_.size() * 2 > index_->slots.size()) {
            rebuildIndex();
        } else {
            index_->slots[slotOf(entries_.back().first)] =
                static_cast<std::uint32_t>(entries_.size() - 1);
        }
    }
    return entries_.back().second;
}

bool Map::erase(std::string_view key) {
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& entry) { return entry.first == key; });
    if (it == entries_.end()) {
        return false;
    }
    entries_.erase(it);
    rebuildIndex();
    return true;
}

std::vector<std::string> Map::keys() const {
    std::vector<std::string> result;
    result.reserve(entries_.size());
    for (const auto& entry : entries_) {
        result.push_back(entry.first);
    }
    return result;
}

bool Map::operator==(const Map& other) const {
    if (size() != other.size()) {
        return false;
    }
    for (const auto& [key, value] : entries_) {
        const Value* theirs = other.find(key);
        if (!theirs || !(*theirs == value)) {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Value: lenient accessors

namespace {

std::string_view skipSpace(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    return text.substr(i);
}

// Leading decimal integer with optional sign, saturating; 0 when there is none.
std::int64_t leadingInteger(std::string_view text) {
    text = skipSpace(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    std::int64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        int digit = c - '0';
        if (result > (INT64_MAX - digit) / 10) {
            return negative ? INT64_MIN : INT64_MAX;
        }
        result = result * 10 + digit;
    }
    return negative ? -result : result;
}

double leadingReal(std::string_view text) {
    std::string copy(skipSpace(text));
    char* end = nullptr;
    double result = std::strtod(copy.c_str(), &end);
    return end == copy.c_str() ? 0.0 : result;
}

std::string formatReal(double d) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, d);
    return ec == std::errc() ? std::string(buffer, end) : std::string("nan");
}

}  // namespace

std::int64_t Value::integerValue() const {
    switch (type()) {
        case Type::kBool:
            return std::get<bool>(v_) ? 1 : 0;
        case Type::kInteger:
            return integer() ? *integer() : INT64_MAX;
        case Type::kReal: {
            double d = std::get<double>(v_);
            if (std::isnan(d)) {
                return 0;
            }
            if (d >= 9.2233720368547758e18) {
                return INT64_MAX;
            }
            if (d <= -9.2233720368547758e18) {
                return INT64_MIN;
            }
            return static_cast<std::int64_t>(d);
        }
        case Type::kString:
            return leadingInteger(std::get<std::string>(v_));
        case Type::kDecimal:
            return std::get<Decimal>(v_).integerValue();
        default:
            return 0;
    }
}

int Value::intValue() const {
    std::int64_t wide = integerValue();
    return static_cast<int>(std::clamp<std::int64_t>(wide, INT_MIN, INT_MAX));
}

double Value::doubleValue() const {
    switch (type()) {
        case Type::kBool:
            return std::get<bool>(v_) ? 1.0 : 0.0;
        case Type::kInteger:
            return integer() ? static_cast<double>(*integer())
                             : static_cast<double>(*unsignedInteger());
        case Type::kReal:
            return std::get<double>(v_);
        case Type::kString:
            return leadingReal(std::get<std::string>(v_));
        case Type::kDecimal:
            return std::get<Decimal>(v_).doubleValue();
        default:
            return 0.0;
    }
}

bool Value::boolValue() const {
    switch (type()) {
        case Type::kBool:
            return std::get<bool>(v_);
        case Type::kInteger:
            return !integer() || *integer() != 0;
        case Type::kReal:
            return std::get<double>(v_) != 0.0;
        case Type::kDecimal:
            return !std::get<Decimal>(v_).isZero();
        case Type::kString: {
            // A string is true when, after blanks and an optional sign with zeros, it starts
            // with Y, y, T, t or a digit 1-9.
            std::string_view text = skipSpace(std::get<std::string>(v_));
            if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
                text.remove_prefix(1);
            }
            while (!text.empty() && text[0] == '0') {
                text.remove_prefix(1);
            }
            if (text.empty()) {
                return false;
            }
            char c = text[0];
            return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
        }
        default:
            return false;
    }
}

std::string Value::stringValue() const {
    switch (type()) {
        case Type::kBool:
            return std::get<bool>(v_) ? "1" : "0";
        case Type::kInteger:
            return integer() ? std::to_string(*integer()) : std::to_string(*unsignedInteger());
        case Type::kReal:
            return formatReal(std::get<double>(v_));
        case Type::kString:
            return std::get<std::string>(v_);
        case Type::kDecimal:
            return std::get<Decimal>(v_).stringValue();
        default:
            return {};
    }
}

const Value& Value::operator[](std::string_view key) const {
    const platform::Map* m = map();
    return m ? (*m)[key] : null();
}

const Value& Value::operator[](std::size_t index) const {
    const platform::Array* a = array();
    return a && index < a->size() ? (*a)[index] : null();
}

std::size_t Value::count() const {
    if (const platform::Array* a = array()) {
        return a->size();
    }
    if (const platform::Map* m = map()) {
        return m->size();
    }
    return 0;
}

const Value& Value::null() {
    static const NoDestructor<Value> kNull;
    return *kNull;
}

// Numbers compare by value: as doubles when either is one, else exactly.
bool Value::operator==(const Value& other) const {
    if (isNumber() && other.isNumber()) {
        if ((isReal() || other.isReal())) {
            return doubleValue() == other.doubleValue();
        }
        if (isDecimal() || other.isDecimal()) {
            auto exact = [](const Value& value) {
                if (const std::uint64_t* big = value.unsignedInteger()) {
                    return Decimal::fromParts(false, *big, 0);
                }
                const Decimal* decimal = value.decimal();
                return decimal ? *decimal : Decimal(value.integerValue());
            };
            return exact(*this) == exact(other);
        }
        if (unsignedInteger() || other.unsignedInteger()) {
            return unsignedInteger() && other.unsignedInteger() &&
                   *unsignedInteger() == *other.unsignedInteger();
        }
        return integerValue() == other.integerValue();
    }
    return v_ == other.v_;
}

// ---------------------------------------------------------------------------------------------
// Value: description

namespace {

bool needsQuotes(std::string_view text) {
    if (text.empty()) {
        return true;
    }
    for (unsigned char c : text) {
        if (!(std::isalnum(c) || c == '_' || c == '.' || c == '$' || c == '/' || c == ':' ||
              c >= 0x80)) {
            return true;
        }
    }
    return false;
}

std::string quoted(std::string_view text) {
    if (!needsQuotes(text)) {
        return std::string(text);
    }
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    out += '"';
    return out;
}

// Dates come from stored archives and property lists, so any double can arrive. Within some
// thirty million years of 1970 the proleptic Gregorian calendar is worked out in 64-bit
// integers, exactly; anything further, or not a number, is told as its seconds instead.
std::string formatDate(const Date& date) {
    constexpr double kCalendarLimit = 1e15;
    const double seconds = std::floor(date.timeIntervalSince1970());
    char buffer[64];
    if (!(std::fabs(seconds) <= kCalendarLimit)) {
        std::snprintf(buffer, sizeof buffer, "<date: %g seconds since 1970>",
                      date.timeIntervalSince1970());
        return buffer;
    }
    const auto total = static_cast<std::int64_t>(seconds);
    std::int64_t days = total / 86400;
    std::int64_t secondOfDay = total % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    // Days since 1970-01-01 to a civil date, counted in 400-year eras from 0000-03-01.
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const std::int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld +0000",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(secondOfDay / 3600),
                  static_cast<long long>(secondOfDay / 60 % 60),
                  static_cast<long long>(secondOfDay % 60));
    return buffer;
}

void describe(const Value& value, int depth, bool nested, std::string& out) {
    const std::string indent(static_cast<std::size_t>(depth) * 4, ' ');
    switch (value.type()) {
        case Value::Type::kNull:
            out += "<null>";
            break;
        case Value::Type::kString:
            out += nested ? quoted(*value.string()) : *value.string();
            break;
        case Value::Type::kBytes: {
            static const char* kHex = "0123456789abcdef";
            out += '<';
            std::size_t i = 0;
            for (std::uint8_t b : *value.bytes()) {
                if (i > 0 && i % 4 == 0) {
                    out += ' ';
                }
                out += kHex[b >> 4];
                out += kHex[b & 15];
                ++i;
            }
            out += '>';
            break;
        }
        case Value::Type::kDate:
            out += formatDate(*value.date());
            break;
        case Value::Type::kArray: {
            out += "(\n";
            const Array& items = *value.array();
            for (std::size_t i = 0; i < items.size(); ++i) {
                out += indent + "    ";
                describe(items[i], depth + 1, true, out);
                out += i + 1 < items.size() ? ",\n" : "\n";
            }
            out += indent + ")";
            break;
        }
        case Value::Type::kMap: {
            out += "{\n";
            for (const auto& [key, item] : *value.map()) {
                out += indent + "    " + quoted(key) + " = ";
                describe(item, depth + 1, true, out);
                out += ";\n";
            }
            out += indent + "}";
            break;
        }
        default:
            out += value.stringValue();
    }
}

}  // namespace

std::string Value::description() const {
    std::string out;
    describe(*this, 0, false, out);
    return out;
}

}  // namespace platform
