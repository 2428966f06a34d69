// The binary form: "bplist00", the objects, a table of their offsets and a 32-byte trailer.
// Containers refer to their members by index into the offset table, so one object may stand
// in many places; a Value holds its own copy at each.

#include <bit>
#include <cmath>
#include <cstring>
#include <deque>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/PropertyList.h"
#include "platform/PropertyListForms.h"
#include "platform/Utf8.h"

namespace platform::detail {

namespace {

using PropertyList::kMaxDepth;

constexpr std::string_view kSignature = "bplist00";
constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kTrailerSize = 32;

// Each Value a list expands to needs a reference of at least one byte, unless containers are
// shared, which no writer does for an honest list: a list may expand to as many Values as it
// has bytes. Shared strings and data are honest, but copied at every use, so their bytes are
// bounded too: by this many per byte of input, beyond a floor that small lists never reach.
constexpr std::uint64_t kTextPerInputByte = 32;
constexpr std::uint64_t kTextFloor = std::uint64_t{16} << 20;

// The high nibble of an object's marker.
enum Kind : std::uint8_t {
    kSimple = 0x0,  // 0x08 false, 0x09 true
    kInteger = 0x1,
    kReal = 0x2,
    kDate = 0x3,
    kData = 0x4,
    kAscii = 0x5,
    kUtf16 = 0x6,
    kUid = 0x8,
    kArray = 0xA,
    kSet = 0xC,  // read as an array
    kDict = 0xD,
};

bool isContainer(std::uint8_t kind) {
    return kind == kArray || kind == kSet || kind == kDict;
}

bool isString(std::uint8_t kind) {
    return kind == kAscii || kind == kUtf16;
}

std::uint64_t readBigEndian(const std::uint8_t* p, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value = (value << 8) | p[i];
    }
    return value;
}

// The fewest of 1, 2, 4 or 8 bytes that hold every number below `limit`.
std::size_t bytesFor(std::uint64_t limit) {
    if (limit <= 0x100) {
        return 1;
    }
    if (limit <= 0x10000) {
        return 2;
    }
    return limit <= 0x100000000 ? 4 : 8;
}

// ---------------------------------------------------------------------------------------------
// Reading

class BinaryReader {
  public:
    explicit BinaryReader(std::span<const std::uint8_t> data) : data_(data) {}

    std::optional<Value> read() {
        if (!readTrailer() || !measure()) {
            return std::nullopt;
        }
        return build(top_);
    }

    const std::string& problem() const { return problem_; }

  private:
    // An object once its marker and count are read.
    struct Object {
        std::uint8_t kind = 0;
        std::uint8_t info = 0;       // the marker's low nibble
        std::uint64_t count = 0;     // bytes, UTF-16 units, references or entries, by kind
        std::uint64_t position = 0;  // where what the count counts starts
    };

    bool refuse(const std::string& problem) {
        if (problem_.empty()) {
            problem_ = problem;
        }
        return false;
    }

    std::nullopt_t fail(const std::string& problem) {
        refuse(problem);
        return std::nullopt;
    }

    bool readTrailer() {
        if (data_.size() < kHeaderSize + kTrailerSize + 1) {
            return refuse("the binary property list is cut short");
        }
        const std::uint8_t* trailer = data_.data() + data_.size() - kTrailerSize;
        offsetSize_ = trailer[6];
        referenceSize_ = trailer[7];
        count_ = readBigEndian(trailer + 8, 8);
        top_ = readBigEndian(trailer + 16, 8);
        tableStart_ = readBigEndian(trailer + 24, 8);
        const std::uint64_t end = data_.size() - kTrailerSize;
        if (offsetSize_ < 1 || offsetSize_ > 8 || referenceSize_ < 1 || referenceSize_ > 8 ||
            count_ == 0 || top_ >= count_ || tableStart_ <= kHeaderSize || tableStart_ >= end ||
            count_ > (end - tableStart_) / offsetSize_) {
            return refuse("the binary property list has a corrupt trailer");
        }
        valueBudget_ = data_.size();
        textBudget_ = kTextFloor + kTextPerInputByte * data_.size();
        return true;
    }

    // A count of more than 14 follows the marker as an integer object.
    bool readCount(Object& object) {
        if (object.info != 0x0F) {
            object.count = object.info;
            return true;
        }
        const std::uint64_t at = object.position;
        if (at >= tableStart_ || (data_[at] >> 4) != kInteger || (data_[at] & 0x0F) > 3) {
            return refuse("an object's length is corrupt");
        }
        const std::size_t size = std::size_t{1} << (data_[at] & 0x0F);
        if (size > tableStart_ - at - 1) {
            return refuse("an object's length is cut short");
        }
        object.count = readBigEndian(data_.data() + at + 1, size);
        object.position = at + 1 + size;
        return true;
    }

    // Reads the object's marker and count, and checks that all it holds lies before the offset
    // table.
    bool objectAt(std::uint64_t index, Object& object) {
        const std::uint64_t offset =
            readBigEndian(data_.data() + tableStart_ + index * offsetSize_, offsetSize_);
        if (offset < kHeaderSize || offset >= tableStart_) {
            return refuse("an object's offset is corrupt");
        }
        const std::uint8_t marker = data_[offset];
        object.kind = marker >> 4;
        object.info = marker & 0x0F;
        object.position = offset + 1;
        std::uint64_t unit = 1;  // bytes per counted element
        switch (object.kind) {
            case kSimple:
                if (object.info == 0x08 || object.info == 0x09) {
                    object.count = 0;
                    return true;
                }
                return refuse(object.info == 0 ? "it holds a null, which property lists cannot"
                                               : "it holds an object of unknown type");
            case kInteger:
                if (object.info > 4) {
                    return refuse("an integer has an unknown size");
                }
                object.count = std::uint64_t{1} << object.info;
                break;
            case kReal:
                if (object.info != 2 && object.info != 3) {
                    return refuse("a real has an unknown size");
                }
                object.count = std::uint64_t{1} << object.info;
                break;
            case kDate:
                if (object.info != 3) {
                    return refuse("a date has an unknown size");
                }
                object.count = 8;
                break;
            case kUid:
                object.count = object.info + 1;
                break;
            case kData:
            case kAscii:
            case kUtf16:
            case kArray:
            case kSet:
            case kDict:
                if (!readCount(object)) {
                    return false;
                }
                unit = object.kind == kUtf16      ? 2
                       : object.kind == kDict     ? 2 * referenceSize_
                       : isContainer(object.kind) ? referenceSize_
                                                  : 1;
                break;
            default:
                return refuse("it holds an object of unknown type");
        }
        if (object.count > (tableStart_ - object.position) / unit) {
            return refuse("an object runs past the end of the object area");
        }
        return true;
    }

    std::uint64_t referenceAt(const Object& object, std::uint64_t i) const {
        return readBigEndian(data_.data() + object.position + i * referenceSize_, referenceSize_);
    }

    static std::uint64_t referencesOf(const Object& object) {
        return object.kind == kDict ? object.count * 2 : object.count;
    }

    // Walks the graph once, without recursion, before anything is built: every reference
    // resolves, nothing contains itself, nesting stays within the limit, and the Values and
    // text the list expands to, counted at every use of a shared object, stay within budget.
    bool measure() {
        state_.assign(count_, kNew);
        kind_.assign(count_, 0);
        values_.assign(count_, 0);
        text_.assign(count_, 0);
        depth_.assign(count_, 0);
        struct Frame {
            std::uint64_t index;
            Object object;
            std::uint64_t next;
        };
        std::vector<Frame> stack;

        // Takes a new object in; containers are opened, the rest are done at once.
        auto enter = [&](std::uint64_t index, bool asKey) -> bool {
            Object object;
            if (!objectAt(index, object)) {
                return false;
            }
            kind_[index] = object.kind;
            values_[index] = 1;
            if (!isContainer(object.kind)) {
                if (object.kind == kData || object.kind == kAscii) {
                    text_[index] = object.count;
                } else if (object.kind == kUtf16) {
                    text_[index] = object.count * 3;  // UTF-8 bytes at most
                }
                state_[index] = kDone;
                return true;
            }
            if (asKey) {
                return refuse("a dictionary key is not a string");
            }
            if (stack.size() >= static_cast<std::size_t>(kMaxDepth)) {
                return refuse("the property list nests too deeply");
            }
            state_[index] = kOpen;
            depth_[index] = 1;
            stack.push_back({index, object, 0});
            return true;
        };
        // Adds a finished child to the container on top of the stack.
        auto account = [&](std::uint64_t child, bool asKey) -> bool {
            const std::uint64_t parent = stack.back().index;
            if (asKey) {
                if (!isString(kind_[child])) {
                    return refuse("a dictionary key is not a string");
                }
            } else {
                values_[parent] += values_[child];
                if (stack.size() + depth_[child] > static_cast<std::size_t>(kMaxDepth)) {
                    return refuse("the property list nests too deeply");
                }
                depth_[parent] = std::max(depth_[parent], depth_[child] + 1);
            }
            text_[parent] += text_[child];
            if (values_[parent] > valueBudget_ || text_[parent] > textBudget_) {
                return refuse("the binary property list expands too far");
            }
            return true;
        };

        if (!enter(top_, false)) {
            return false;
        }
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next == referencesOf(frame.object)) {
                const std::uint64_t done = frame.index;
                state_[done] = kDone;
                stack.pop_back();
                if (!stack.empty() && !account(done, false)) {
                    return false;
                }
                continue;
            }
            const bool asKey = frame.object.kind == kDict && frame.next < frame.object.count;
            const std::uint64_t child = referenceAt(frame.object, frame.next++);
            if (child >= count_) {
                return refuse("the binary property list refers to a missing object");
            }
            if (state_[child] == kOpen) {
                return refuse("the binary property list contains itself");
            }
            if (state_[child] == kNew) {
                if (!enter(child, asKey)) {
                    return false;
                }
                if (state_[child] == kOpen) {
                    continue;  // accounted for once it is done
                }
            }
            if (!account(child, asKey)) {
                return false;
            }
        }
        return true;
    }

    // Builds the Value of an object that measure() has approved.
    std::optional<Value> build(std::uint64_t index) {
        Object object;
        if (!objectAt(index, object)) {
            return std::nullopt;
        }
        const std::uint8_t* p = data_.data() + object.position;
        switch (object.kind) {
            case kSimple:
                return Value(object.info == 0x09);
            case kInteger:
                return integer(p, object.count);
            case kReal:
                if (object.count == 4) {
                    return Value(static_cast<double>(
                        std::bit_cast<float>(static_cast<std::uint32_t>(readBigEndian(p, 4)))));
                }
                return Value(std::bit_cast<double>(readBigEndian(p, 8)));
            case kDate: {
                const double seconds = std::bit_cast<double>(readBigEndian(p, 8));
                if (!std::isfinite(seconds)) {
                    return fail("a date is no finite time");
                }
                return Value(Date::fromReferenceInterval(seconds));
            }
            case kData:
                return Value(Bytes(p, p + object.count));
            case kAscii:
            case kUtf16: {
                auto text = string(object);
                if (!text) {
                    return std::nullopt;
                }
                return Value(std::move(*text));
            }
            case kUid: {
                for (std::uint64_t i = 0; i + 8 < object.count; ++i) {
                    if (p[i] != 0) {
                        return fail("a UID is out of range");
                    }
                }
                const std::size_t low = std::min<std::size_t>(object.count, 8);
                return Uid{readBigEndian(p + object.count - low, low)}.toValue();
            }
            case kArray:
            case kSet: {
                Array items;
                items.reserve(object.count);
                for (std::uint64_t i = 0; i < object.count; ++i) {
                    auto item = build(referenceAt(object, i));
                    if (!item) {
                        return std::nullopt;
                    }
                    items.push_back(std::move(*item));
                }
                return Value(std::move(items));
            }
            case kDict: {
                std::vector<Map::Entry> entries;
                entries.reserve(object.count);
                for (std::uint64_t i = 0; i < object.count; ++i) {
                    Object key;
                    if (!objectAt(referenceAt(object, i), key)) {
                        return std::nullopt;
                    }
                    auto name = string(key);
                    auto item = name ? build(referenceAt(object, object.count + i)) : std::nullopt;
                    if (!item) {
                        return std::nullopt;
                    }
                    entries.emplace_back(std::move(*name), std::move(*item));
                }
                return Value(Map(std::move(entries)));
            }
            default:
                return fail("it holds an object of unknown type");
        }
    }

    std::optional<Value> integer(const std::uint8_t* p, std::uint64_t size) {
        // One, two and four bytes hold no sign; eight hold two's complement; sixteen hold a
        // 128-bit two's complement number, which must fit in 64 bits with or without a sign.
        if (size <= 4) {
            return Value(static_cast<std::int64_t>(readBigEndian(p, size)));
        }
        const std::uint64_t low = readBigEndian(p + size - 8, 8);
        const std::uint64_t high = size == 16 ? readBigEndian(p, 8) : 0;
        if (size == 8 || (high == UINT64_MAX && (low >> 63) != 0)) {
            return Value(static_cast<std::int64_t>(low));
        }
        if (high == 0) {
            return Value(low);
        }
        return fail("an integer lies outside the range of 64 bits");
    }

    std::optional<std::string> string(const Object& object) {
        const std::uint8_t* p = data_.data() + object.position;
        if (object.kind == kAscii) {
            for (std::uint64_t i = 0; i < object.count; ++i) {
                if (p[i] >= 0x80) {
                    return fail("an ASCII string holds a byte above 127");
                }
            }
            return std::string(reinterpret_cast<const char*>(p), object.count);
        }
        if (object.kind != kUtf16) {
            return fail("a dictionary key is not a string");
        }
        std::string text;
        text.reserve(object.count);
        for (std::uint64_t i = 0; i < object.count; ++i) {
            std::uint32_t unit = (p[2 * i] << 8) | p[2 * i + 1];
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < object.count) {
                const std::uint32_t next = (p[2 * i + 2] << 8) | p[2 * i + 3];
                if (next >= 0xDC00 && next <= 0xDFFF) {
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
                    ++i;
                }
            }
            if (unit >= 0xD800 && unit <= 0xDFFF) {
                return fail("a string is not valid UTF-16");
            }
            utf8::append(text, unit);
        }
        return text;
    }

    enum State : std::uint8_t { kNew, kOpen, kDone };

    std::span<const std::uint8_t> data_;
    std::size_t offsetSize_ = 0;
    std::size_t referenceSize_ = 0;
    std::uint64_t count_ = 0;
    std::uint64_t top_ = 0;
    std::uint64_t tableStart_ = 0;
    std::uint64_t valueBudget_ = 0;
    std::uint64_t textBudget_ = 0;
    // Per object, filled by measure(): where the walk stands, the object's kind, and the Values,
    // bytes of text and levels of nesting it expands to.
    std::vector<std::uint8_t> state_;
    std::vector<std::uint8_t> kind_;
    std::vector<std::uint64_t> values_;
    std::vector<std::uint64_t> text_;
    std::vector<std::uint32_t> depth_;
    std::string problem_;
};

// ---------------------------------------------------------------------------------------------
// Writing

template <class Out>
void appendBigEndian(Out& out, std::uint64_t value, std::size_t size) {
    for (std::size_t i = size; i-- > 0;) {
        out.push_back(static_cast<typename Out::value_type>((value >> (8 * i)) & 0xFF));
    }
}

void appendMarker(std::string& out, std::uint8_t kind, std::uint64_t count) {
    if (count < 0x0F) {
        out.push_back(static_cast<char>((kind << 4) | count));
        return;
    }
    out.push_back(static_cast<char>((kind << 4) | 0x0F));
    const std::size_t size = bytesFor(count + 1);
    out.push_back(static_cast<char>((kInteger << 4) | std::countr_zero(size)));
    appendBigEndian(out, count, size);
}

class BinaryWriter {
  public:
    std::optional<Bytes> write(const Value& value) {
        if (!flatten(value, 0)) {
            return std::nullopt;
        }
        return serialize();
    }

    const std::string& problem() const { return problem_; }

  private:
    // Objects in the order written, the top first. Strings, numbers, dates and data are
    // written once however often they occur; arrays and dictionaries never shared.
    struct Object {
        std::string encoded;                    // the whole object, for all but containers
        std::uint8_t container = 0;             // kArray or kDict
        std::vector<std::uint64_t> references;  // items; or keys, then their values
    };

    std::nullopt_t fail(const std::string& problem) {
        if (problem_.empty()) {
            problem_ = problem;
        }
        return std::nullopt;
    }

    std::optional<std::uint64_t> scalar(std::string encoded) {
        if (auto found = unique_.find(encoded); found != unique_.end()) {
            return found->second;
        }
        const std::uint64_t index = objects_.size();
        objects_.push_back({std::move(encoded), 0, {}});
        // The deque never moves its elements, so the key may point into them.
        unique_.emplace(objects_.back().encoded, index);
        return index;
    }

    std::optional<std::uint64_t> string(std::string_view text) {
        std::string encoded;
        bool ascii = true;
        for (unsigned char c : text) {
            ascii = ascii && c < 0x80;
        }
        if (ascii) {
            appendMarker(encoded, kAscii, text.size());
            encoded.append(text);
            return scalar(std::move(encoded));
        }
        if (!utf8::isValid(text)) {
            return fail("a string is not valid UTF-8");
        }
        std::u16string units;
        for (char32_t c : utf8::decode(text)) {
            if (c >= 0x10000) {
                units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
                units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
            } else {
                units.push_back(static_cast<char16_t>(c));
            }
        }
        appendMarker(encoded, kUtf16, units.size());
        for (char16_t unit : units) {
            appendBigEndian(encoded, unit, 2);
        }
        return scalar(std::move(encoded));
    }

    std::optional<std::uint64_t> integer(const Value& value) {
        std::string encoded;
        if (const std::uint64_t* big = value.unsignedInteger()) {
            // Beyond the signed range only the sixteen-byte form holds a number without a sign.
            encoded.push_back(static_cast<char>((kInteger << 4) | 4));
            appendBigEndian(encoded, 0, 8);
            appendBigEndian(encoded, *big, 8);
        } else {
            const std::int64_t n = *value.integer();
            const std::size_t size = n < 0 ? 8 : bytesFor(static_cast<std::uint64_t>(n) + 1);
            encoded.push_back(static_cast<char>((kInteger << 4) | std::countr_zero(size)));
            appendBigEndian(encoded, static_cast<std::uint64_t>(n), size);
        }
        return scalar(std::move(encoded));
    }

    std::optional<std::uint64_t> eightBytes(std::uint8_t marker, double number) {
        std::string encoded(1, static_cast<char>(marker));
        appendBigEndian(encoded, std::bit_cast<std::uint64_t>(number), 8);
        return scalar(std::move(encoded));
    }

    // `depth` counts the containers around the value.
    std::optional<std::uint64_t> flatten(const Value& value, int depth) {
        switch (value.type()) {
            case Value::Type::kNull:
                return fail("a property list holds no null");
            case Value::Type::kBool:
                return scalar(std::string(1, value.boolValue() ? '\x09' : '\x08'));
            case Value::Type::kInteger:
                return integer(value);
            case Value::Type::kReal:
                return eightBytes((kReal << 4) | 3, *value.real());
            case Value::Type::kDecimal:
                return flatten(plainNumber(*value.decimal()), depth);
            case Value::Type::kDate: {
                const double seconds = value.date()->timeIntervalSinceReferenceDate();
                if (!std::isfinite(seconds)) {
                    return fail("a date is no finite time");
                }
                return eightBytes((kDate << 4) | 3, seconds);
            }
            case Value::Type::kString:
                return string(*value.string());
            case Value::Type::kBytes: {
                std::string encoded;
                appendMarker(encoded, kData, value.bytes()->size());
                encoded.append(value.bytes()->begin(), value.bytes()->end());
                return scalar(std::move(encoded));
            }
            case Value::Type::kArray:
            case Value::Type::kMap:
                break;
        }
        if (auto uid = Uid::from(value)) {
            std::string encoded;
            const std::size_t size = bytesFor(uid->index + 1 == 0 ? UINT64_MAX : uid->index + 1);
            encoded.push_back(static_cast<char>((kUid << 4) | (size - 1)));
            appendBigEndian(encoded, uid->index, size);
            return scalar(std::move(encoded));
        }
        if (depth >= kMaxDepth) {
            return fail("the value nests too deeply");
        }
        const std::uint64_t index = objects_.size();
        objects_.push_back({});
        std::vector<std::uint64_t> references;
        if (const Array* items = value.array()) {
            objects_[index].container = kArray;
            references.reserve(items->size());
            for (const Value& item : *items) {
                auto reference = flatten(item, depth + 1);
                if (!reference) {
                    return std::nullopt;
                }
                references.push_back(*reference);
            }
        } else {
            objects_[index].container = kDict;
            const Map& entries = *value.map();
            references.reserve(entries.size() * 2);
            for (const auto& entry : entries) {
                auto key = string(entry.first);
                if (!key) {
                    return std::nullopt;
                }
                references.push_back(*key);
            }
            for (const auto& entry : entries) {
                auto item = flatten(entry.second, depth + 1);
                if (!item) {
                    return std::nullopt;
                }
                references.push_back(*item);
            }
        }
        objects_[index].references = std::move(references);
        return index;
    }

    Bytes serialize() const {
        const std::size_t referenceSize = bytesFor(objects_.size());
        Bytes out(kSignature.begin(), kSignature.end());
        std::vector<std::uint64_t> offsets;
        offsets.reserve(objects_.size());
        std::string marker;
        for (const Object& object : objects_) {
            offsets.push_back(out.size());
            if (object.container == 0) {
                out.insert(out.end(), object.encoded.begin(), object.encoded.end());
                continue;
            }
            marker.clear();
            appendMarker(marker, object.container,
                         object.container == kDict ? object.references.size() / 2
                                                   : object.references.size());
            out.insert(out.end(), marker.begin(), marker.end());
            for (std::uint64_t reference : object.references) {
                appendBigEndian(out, reference, referenceSize);
            }
        }
        const std::uint64_t tableStart = out.size();
        const std::size_t offsetSize = bytesFor(tableStart);
        for (std::uint64_t offset : offsets) {
            appendBigEndian(out, offset, offsetSize);
        }
        out.insert(out.end(), 6, 0);  // unused, and the sort version
        out.push_back(static_cast<std::uint8_t>(offsetSize));
        out.push_back(static_cast<std::uint8_t>(referenceSize));
        appendBigEndian(out, objects_.size(), 8);
        appendBigEndian(out, 0, 8);  // the top object
        appendBigEndian(out, tableStart, 8);
        return out;
    }

    std::deque<Object> objects_;
    std::unordered_map<std::string_view, std::uint64_t> unique_;
    std::string problem_;
};

}  // namespace

bool isBinaryPropertyList(std::span<const std::uint8_t> data) {
    return data.size() >= kSignature.size() &&
           std::memcmp(data.data(), kSignature.data(), kSignature.size()) == 0;
}

std::optional<Value> readBinaryPropertyList(std::span<const std::uint8_t> data,
                                            std::string& problem) {
    BinaryReader reader(data);
    auto value = reader.read();
    if (!value) {
        problem = reader.problem();
    }
    return value;
}

std::optional<Bytes> writeBinaryPropertyList(const Value& value, std::string& problem) {
    BinaryWriter writer;
    auto data = writer.write(value);
    if (!data) {
        problem = writer.problem();
    }
    return data;
}

}  // namespace platform::detail
