#include "platform/PropertyList.h"
#include "platform/Utf8.h"

#include <plist/plist.h>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/TextPropertyList.h"

namespace platform {

namespace {
constexpr const char* kUidKey = "CF$UID";
}

Value Uid::toValue() const {
    return Value(Map{{kUidKey, Value(static_cast<std::int64_t>(index))}});
}

std::optional<Uid> Uid::from(const Value& value) {
    const Map* map = value.map();
    if (!map || map->size() != 1) {
        return std::nullopt;
    }
    const Value* index = map->find(kUidKey);
    if (!index || !index->isInteger() || index->integerValue() < 0) {
        return std::nullopt;
    }
    return Uid{static_cast<std::uint64_t>(index->integerValue())};
}

namespace PropertyList {

namespace {

// Containers deeper than this are refused on both roads, so that no input can exhaust the stack.
constexpr int kMaxDepth = 512;

struct NodeDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Node = std::unique_ptr<void, NodeDeleter>;

Error makeError(long code, const std::string& message) {
    return Error(kCocoaErrorDomain, code, Map{{kLocalizedDescriptionKey, message}});
}

bool isPlainText(std::string_view text) {
    return text.find('\0') == std::string_view::npos && utf8::isValid(text);
}

// ---------------------------------------------------------------------------------------------
// Value -> libplist

class Writer {
  public:
    Node convert(const Value& value, int depth) {
        if (depth > kMaxDepth) {
            return fail("the value nests too deeply");
        }
        switch (value.type()) {
            case Value::Type::kNull:
                return fail("a property list holds no null");
            case Value::Type::kBool:
                return Node(plist_new_bool(value.boolValue() ? 1 : 0));
            case Value::Type::kInteger:
                // The library keeps integers as 64 bits without a sign and writes them back
                // in two's complement, which is how both forms spell negative numbers.
                return Node(plist_new_uint(static_cast<std::uint64_t>(value.integerValue())));
            case Value::Type::kReal:
                return Node(plist_new_real(value.doubleValue()));
            case Value::Type::kDecimal:
                // The forms hold no decimals: a whole number that fits stays exact, any
                // other becomes the nearest real.
                if (auto integer = value.decimal()->toInteger()) {
                    return Node(plist_new_uint(static_cast<std::uint64_t>(*integer)));
                }
                return Node(plist_new_real(value.doubleValue()));
            case Value::Type::kString: {
                const std::string& text = *value.string();
                if (!isPlainText(text)) {
                    return fail("a string is not valid UTF-8 or holds a NUL character");
                }
                return Node(plist_new_string(text.c_str()));
            }
            case Value::Type::kBytes: {
                const Bytes& bytes = *value.bytes();
                return Node(
                    plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
            }
            case Value::Type::kDate:
                return convertDate(*value.date());
            case Value::Type::kArray: {
                Node array(plist_new_array());
                for (const Value& item : *value.array()) {
                    Node child = convert(item, depth + 1);
                    if (!child) {
                        return nullptr;
                    }
                    plist_array_append_item(array.get(), child.release());
                }
                return array;
            }
            case Value::Type::kMap: {
                if (auto uid = Uid::from(value)) {
                    return Node(plist_new_uid(uid->index));
                }
                Node dict(plist_new_dict());
                for (const auto& [key, item] : *value.map()) {
                    if (!isPlainText(key)) {
                        return fail("a key is not valid UTF-8 or holds a NUL character");
                    }
                    Node child = convert(item, depth + 1);
                    if (!child) {
                        return nullptr;
                    }
                    plist_dict_set_item(dict.get(), key.c_str(), child.release());
                }
                return dict;
            }
        }
        return fail("unknown value type");
    }

    const std::string& problem() const { return problem_; }

  private:
    Node convertDate(const Date& date) {
        // The library holds whole seconds in 32 bits, which reaches from 1933 to 2069.
        double interval = date.timeIntervalSinceReferenceDate();
        double whole = std::floor(interval);
        if (!std::isfinite(interval) || whole <= INT32_MIN || whole > INT32_MAX) {
            return fail("a date lies outside the years a property list can hold here");
        }
        auto seconds = static_cast<std::int32_t>(whole);
        auto micros = static_cast<std::int32_t>(std::lround((interval - whole) * 1e6));
        if (micros >= 1000000) {
            if (seconds == INT32_MAX) {
                return fail("a date lies outside the years a property list can hold here");
            }
            ++seconds;
            micros -= 1000000;
        }
        return Node(plist_new_date(seconds, micros));
    }

    Node fail(const std::string& problem) {
        if (problem_.empty()) {
            problem_ = problem;
        }
        return nullptr;
    }

    std::string problem_;
};

// ---------------------------------------------------------------------------------------------
// libplist -> Value

class Reader {
  public:
    std::optional<Value> convert(plist_t node, int depth) {
        if (depth > kMaxDepth) {
            return fail("the property list nests too deeply");
        }
        switch (plist_get_node_type(node)) {
            case PLIST_BOOLEAN: {
                std::uint8_t b = 0;
                plist_get_bool_val(node, &b);
                return Value(b != 0);
            }
            case PLIST_UINT: {
                std::uint64_t n = 0;
                plist_get_uint_val(node, &n);
                return Value(static_cast<std::int64_t>(n));
            }
            case PLIST_REAL: {
                double d = 0;
                plist_get_real_val(node, &d);
                return Value(d);
            }
            case PLIST_STRING: {
                std::uint64_t length = 0;
                const char* text = plist_get_string_ptr(node, &length);
                if (!text) {
                    return fail("a string could not be read");
                }
                std::string value(text, length);
                if (!utf8::isValid(value)) {
                    return fail("a string is not valid text");
                }
                return Value(std::move(value));
            }
            case PLIST_DATA: {
                std::uint64_t length = 0;
                const char* data = plist_get_data_ptr(node, &length);
                if (!data && length > 0) {
                    return fail("data could not be read");
                }
                auto* begin = reinterpret_cast<const std::uint8_t*>(data);
                return Value(Bytes(begin, begin + length));
            }
            case PLIST_DATE: {
                std::int32_t seconds = 0;
                std::int32_t micros = 0;
                plist_get_date_val(node, &seconds, &micros);
                // The library clamps dates it cannot hold to the least 32-bit second; a real
                // date there is implausible, so it is taken as out of range, not as 1932.
                if (seconds == INT32_MIN) {
                    return fail("a date lies outside the years this reader can hold");
                }
                return Value(Date::fromReferenceInterval(seconds + micros / 1e6));
            }
            case PLIST_UID: {
                std::uint64_t index = 0;
                plist_get_uid_val(node, &index);
                if (index > static_cast<std::uint64_t>(INT64_MAX)) {
                    return fail("a UID is out of range");
                }
                return Uid{index}.toValue();
            }
            case PLIST_ARRAY: {
                Array items;
                const std::uint32_t count = plist_array_get_size(node);
                items.reserve(count);
                for (std::uint32_t i = 0; i < count; ++i) {
                    plist_t child = plist_array_get_item(node, i);
                    if (!child) {
                        return fail("an array item is missing");
                    }
                    auto value = convert(child, depth + 1);
                    if (!value) {
                        return std::nullopt;
                    }
                    items.push_back(std::move(*value));
                }
                return Value(std::move(items));
            }
            case PLIST_DICT:
                return convertDict(node, depth);
            default:
                return fail("the property list holds an element of unknown type");
        }
    }

    const std::string& problem() const { return problem_; }

  private:
    std::optional<Value> convertDict(plist_t node, int depth) {
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        std::unique_ptr<void, decltype(&std::free)> iterGuard(iter, &std::free);
        Map entries;
        entries.reserve(plist_dict_get_size(node));
        while (true) {
            char* rawKey = nullptr;
            plist_t child = nullptr;
            plist_dict_next_item(node, iter, &rawKey, &child);
            std::unique_ptr<char, decltype(&std::free)> key(rawKey, &std::free);
            if (!child) {
                break;
            }
            if (!key || !utf8::isValid(key.get())) {
                return fail("a dictionary key is not valid text");
            }
            auto value = convert(child, depth + 1);
            if (!value) {
                return std::nullopt;
            }
            entries.set(key.get(), std::move(*value));
        }
        return Value(std::move(entries));
    }

    std::nullopt_t fail(const std::string& problem) {
        if (problem_.empty()) {
            problem_ = problem;
        }
        return std::nullopt;
    }

    std::string problem_;
};

// ---------------------------------------------------------------------------------------------
// Shape checks made before the library sees an input. Its parsers recurse once per level of
// nesting, and its binary parser copies an object once for every reference to it, so a small
// hostile file could exhaust the stack or make billions of nodes. These walks are iterative
// and refuse such files up front.

// Nodes a binary property list may expand to once every shared reference is copied.
constexpr std::uint64_t kMaxExpandedNodes = std::uint64_t{1} << 22;

std::uint64_t readBigEndian(const std::uint8_t* p, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value = (value << 8) | p[i];
    }
    return value;
}

class BinaryShape {
  public:
    explicit BinaryShape(std::span<const std::uint8_t> data) : data_(data) {}

    // Empty when the shape is acceptable, else what is wrong with it.
    std::string check() {
        constexpr std::size_t kHeader = 8;
        constexpr std::size_t kTrailer = 32;
        if (data_.size() < kHeader + kTrailer + 1) {
            return "the binary property list is cut short";
        }
        const std::uint8_t* trailer = data_.data() + data_.size() - kTrailer;
        offsetSize_ = trailer[6];
        refSize_ = trailer[7];
        count_ = readBigEndian(trailer + 8, 8);
        const std::uint64_t top = readBigEndian(trailer + 16, 8);
        tableStart_ = readBigEndian(trailer + 24, 8);
        end_ = data_.size() - kTrailer;
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8 || count_ == 0 ||
            top >= count_ || tableStart_ < kHeader || tableStart_ >= end_ ||
            count_ > (end_ - tableStart_) / offsetSize_) {
            return "the binary property list has a corrupt trailer";
        }
        return walk(top);
    }

  private:
    struct Children {
        std::uint64_t first = 0;  // position of the first reference
        std::uint64_t count = 0;  // number of references
        bool dictionary = false;  // keys first, then as many values
    };

    // Where the object starts, or 0 when its offset is corrupt.
    std::uint64_t offsetOf(std::uint64_t object) const {
        std::uint64_t offset =
            readBigEndian(data_.data() + tableStart_ + object * offsetSize_, offsetSize_);
        return offset >= 8 && offset < tableStart_ ? offset : 0;
    }

    // The references an object holds; false when they do not fit in the file.
    // The count of an object: the marker's low nibble, or, when that is 15, the integer object
    // that follows the marker. `position` moves past what was read.
    bool readCount(std::uint8_t marker, std::uint64_t& position, std::uint64_t& count) const {
        count = marker & 0x0F;
        if (count != 0x0F) {
            return true;
        }
        if (position >= end_ || (data_[position] & 0xF0) != 0x10) {
            return false;
        }
        const std::size_t size = std::size_t{1} << (data_[position] & 0x0F);
        ++position;
        if (size > 8 || position + size > end_) {
            return false;
        }
        count = readBigEndian(data_.data() + position, size);
        position += size;
        return true;
    }

    bool childrenOf(std::uint64_t object, Children& children) const {
        std::uint64_t offset = offsetOf(object);
        if (offset == 0) {
            return false;
        }
        const std::uint8_t marker = data_[offset];
        const unsigned type = marker >> 4;
        if (type != 0xA && type != 0xC && type != 0xD) {
            children = {};
            return true;
        }
        std::uint64_t count = 0;
        std::uint64_t position = offset + 1;
        if (!readCount(marker, position, count)) {
            return false;
        }
        if (type == 0xD) {
            if (count > UINT64_MAX / 2) {
                return false;
            }
            count *= 2;  // keys, then values
        }
        if (count > (end_ - position) / refSize_) {
            return false;
        }
        children = {position, count, type == 0xD};
        return true;
    }

    // The library aborts on a dictionary key with a NUL character in it, so such keys are
    // refused here; keys of other types it refuses by itself.
    bool keyHasNul(std::uint64_t object) const {
        std::uint64_t offset = object < count_ ? offsetOf(object) : 0;
        if (offset == 0) {
            return false;  // reported as a corrupt reference elsewhere
        }
        const std::uint8_t marker = data_[offset];
        const unsigned type = marker >> 4;
        if (type != 0x5 && type != 0x6) {
            return false;
        }
        std::uint64_t length = 0;
        std::uint64_t position = offset + 1;
        if (!readCount(marker, position, length)) {
            return false;
        }
        const std::uint64_t unit = type == 0x6 ? 2 : 1;
        if (length > (end_ - position) / unit) {
            return false;
        }
        for (std::uint64_t i = 0; i < length; ++i) {
            const std::uint8_t* p = data_.data() + position + i * unit;
            if (unit == 1 ? p[0] == 0 : (p[0] == 0 && p[1] == 0)) {
                return true;
            }
        }
        return false;
    }

    std::uint64_t childAt(const Children& children, std::uint64_t i) const {
        return readBigEndian(data_.data() + children.first + i * refSize_, refSize_);
    }

    std::string walk(std::uint64_t top) {
        enum : std::uint8_t { kNew, kOpen, kDone };
        std::vector<std::uint8_t> state(count_, kNew);
        std::vector<std::uint32_t> depth(count_, 0);
        std::vector<std::uint64_t> nodes(count_, 0);
        struct Frame {
            std::uint64_t object;
            Children children;
            std::uint64_t next;
        };
        std::vector<Frame> stack;
        auto open = [&](std::uint64_t object) -> std::string {
            Children children;
            if (!childrenOf(object, children)) {
                return "the binary property list has a corrupt object";
            }
            if (stack.size() >= static_cast<std::size_t>(kMaxDepth)) {
                return "the property list nests too deeply";
            }
            for (std::uint64_t i = 0; children.dictionary && i < children.count / 2; ++i) {
                if (keyHasNul(childAt(children, i))) {
                    return "a dictionary key holds a NUL character";
                }
            }
            state[object] = kOpen;
            nodes[object] = 1;
            stack.push_back({object, children, 0});
            return {};
        };
        if (auto problem = open(top); !problem.empty()) {
            return problem;
        }
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next == frame.children.count) {
                state[frame.object] = kDone;
                const std::uint64_t object = frame.object;
                stack.pop_back();
                if (!stack.empty()) {
                    const std::uint64_t parent = stack.back().object;
                    depth[parent] = std::max(depth[parent], depth[object] + 1);
                    nodes[parent] += nodes[object];
                    if (nodes[parent] > kMaxExpandedNodes) {
                        return "the binary property list expands too far";
                    }
                }
                continue;
            }
            const std::uint64_t child = childAt(frame.children, frame.next++);
            if (child >= count_) {
                return "the binary property list refers to a missing object";
            }
            if (state[child] == kOpen) {
                return "the binary property list contains itself";
            }
            if (state[child] == kDone) {
                const std::uint64_t parent = frame.object;
                depth[parent] = std::max(depth[parent], depth[child] + 1);
                nodes[parent] += nodes[child];
                if (nodes[parent] > kMaxExpandedNodes) {
                    return "the binary property list expands too far";
                }
                continue;
            }
            if (auto problem = open(child); !problem.empty()) {
                return problem;
            }
        }
        return {};
    }

    std::span<const std::uint8_t> data_;
    std::size_t offsetSize_ = 0;
    std::size_t refSize_ = 0;
    std::uint64_t count_ = 0;
    std::uint64_t tableStart_ = 0;
    std::uint64_t end_ = 0;
};

// Nesting of <array> and <dict> elements; comments, processing instructions, declarations and
// character data sections are skipped.
bool xmlNestsTooDeeply(std::string_view text) {
    int depth = 0;
    std::size_t pos = 0;
    while ((pos = text.find('<', pos)) != std::string_view::npos) {
        std::string_view rest = text.substr(pos);
        auto skipPast = [&](std::string_view closing) {
            std::size_t end = text.find(closing, pos);
            pos = end == std::string_view::npos ? text.size() : end + closing.size();
        };
        if (rest.starts_with("<!--")) {
            skipPast("-->");
        } else if (rest.starts_with("<![CDATA[")) {
            skipPast("]]>");
        } else if (rest.starts_with("<?") || rest.starts_with("<!")) {
            skipPast(">");
        } else {
            std::size_t end = text.find('>', pos);
            if (end == std::string_view::npos) {
                return false;
            }
            std::string_view tag = text.substr(pos + 1, end - pos - 1);
            const bool closing = tag.starts_with('/');
            if (closing) {
                tag.remove_prefix(1);
            }
            const bool selfClosing = tag.ends_with('/');
            const std::string_view name = tag.substr(0, tag.find_first_of(" \t\r\n/"));
            if (name == "array" || name == "dict") {
                if (closing) {
                    --depth;
                } else if (!selfClosing && ++depth > kMaxDepth) {
                    return true;
                }
            }
            pos = end + 1;
        }
    }
    return false;
}

bool looksLikeXml(std::span<const std::uint8_t> data) {
    std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) {
        return false;
    }
    text.remove_prefix(start);
    return text.starts_with("<?xml") || text.starts_with("<!") || text.starts_with("<plist");
}

}  // namespace

std::optional<Value> read(std::span<const std::uint8_t> data, Error* error, Format* format) {
    auto fail = [&](const std::string& message) -> std::optional<Value> {
        if (error) {
            *error = makeError(kReadCorruptError, message);
        }
        return std::nullopt;
    };
    if (data.empty()) {
        return fail("The property list is empty.");
    }
    if (data.size() > UINT32_MAX) {
        return fail("The property list is too large.");
    }
    const auto* raw = reinterpret_cast<const char*>(data.data());
    const auto length = static_cast<std::uint32_t>(data.size());

    Format found;
    plist_t root = nullptr;
    if (plist_is_binary(raw, length)) {
        found = Format::kBinary;
        if (std::string problem = BinaryShape(data).check(); !problem.empty()) {
            return fail("The property list could not be read: " + problem + ".");
        }
        plist_from_bin(raw, length, &root);
    } else if (looksLikeXml(data)) {
        found = Format::kXml;
        std::string_view text(raw, length);
        if (xmlNestsTooDeeply(text)) {
            return fail("The property list could not be read: it nests too deeply.");
        }
        // The library forgives a missing end, which would let a cut-short file pass as whole.
        text.remove_suffix(text.size() - (text.find_last_not_of(" \t\r\n") + 1));
        if (!text.ends_with("</plist>")) {
            return fail("The XML property list is cut short.");
        }
        plist_from_xml(raw, length, &root);
    } else {
        Error textError;
        auto text = detail::decodeText(data, &textError);
        std::optional<Value> value =
            text ? detail::parseTextPropertyList(*text, &textError) : std::nullopt;
        if (!value) {
            if (error) {
                *error = makeError(kReadCorruptError, "The property list could not be read: " +
                                                          textError.localizedDescription());
            }
            return std::nullopt;
        }
        if (format) {
            *format = Format::kText;
        }
        return value;
    }
    if (!root) {
        return fail(std::string("The ") + (found == Format::kBinary ? "binary" : "XML") +
                    " property list is corrupt or cut short.");
    }
    Node guard(root);
    Reader reader;
    auto value = reader.convert(root, 0);
    if (!value) {
        return fail("The property list could not be read: " + reader.problem() + ".");
    }
    if (format) {
        *format = found;
    }
    return value;
}

std::optional<Bytes> write(const Value& value, Format format, Error* error) {
    auto fail = [&](const std::string& message) -> std::optional<Bytes> {
        if (error) {
            *error = makeError(kWriteInvalidError, message);
        }
        return std::nullopt;
    };
    if (format == Format::kText) {
        return fail("Property lists are not written in the text form.");
    }
    Writer writer;
    Node root = writer.convert(value, 0);
    if (!root) {
        return fail("The value is not a valid property list: " + writer.problem() + ".");
    }
    char* out = nullptr;
    std::uint32_t length = 0;
    if (format == Format::kBinary) {
        plist_to_bin(root.get(), &out, &length);
    } else {
        plist_to_xml(root.get(), &out, &length);
    }
    std::unique_ptr<char, decltype(&std::free)> guard(out, &std::free);
    if (!out) {
        return fail("The property list could not be written.");
    }
    auto* begin = reinterpret_cast<const std::uint8_t*>(out);
    return Bytes(begin, begin + length);
}

std::optional<Value> readFile(const std::filesystem::path& path, Error* error) {
    auto data = Files::read(path, error);
    if (!data) {
        return std::nullopt;
    }
    Error parseError;
    auto value = read(*data, &parseError);
    if (!value && error) {
        parseError.userInfo().set(kFilePathErrorKey, path.string());
        *error = std::move(parseError);
    }
    return value;
}

bool writeFile(const Value& value, const std::filesystem::path& path, Format format, Error* error,
               Files::Access access) {
    auto data = write(value, format, error);
    return data && Files::writeAtomically(path, *data, error, access);
}

}  // namespace PropertyList
}  // namespace platform
