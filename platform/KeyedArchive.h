// Keyed archives: object graphs kept as the binary property lists the platform's keyed archiver
// writes ("$archiver", "$version", "$top", "$objects"), so that archives pass both ways between
// us and anyone else who reads or writes that format.
//
// Plain values (strings, numbers, data, dates, arrays and dictionaries) are written exactly as
// the platform writes its own: strings, numbers and data inline in "$objects", dates as
// {"NS.time"}, arrays as {"NS.objects"}, dictionaries as {"NS.keys", "NS.objects"}, each with
// its class description. Objects of our own classes implement Archivable, encode themselves by
// key, and are made again by class name through an ArchiveRegistry filled at start-up.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "platform/Value.h"

namespace platform {

class KeyedArchiver;
class KeyedUnarchiver;

// Error codes of the platform's error domain (kCocoaErrorDomain) for archives.
enum ArchiveErrorCode : long {
    kCoderReadCorruptError = 4864,
    kCoderValueNotFoundError = 4865,
    kCoderInvalidValueError = 4866,
};

// An object that archives itself by key.
class Archivable {
  public:
    virtual ~Archivable() = default;
    // The name written as "$classname" and looked up in the registry on reading.
    virtual std::string archiveClassName() const = 0;
    // The names of its superclasses, nearest first, written after it in "$classes".
    virtual std::vector<std::string> archiveSuperclassNames() const { return {"NSObject"}; }
    virtual void encode(KeyedArchiver& coder) const = 0;
};

// What an archive holds in one place: nil, a plain Value, an archivable object, or an array or
// dictionary of any of these. A null Value is nil; inside arrays and dictionaries nil is
// written as the platform's null object.
class ArchiveObject {
  public:
    using Array = std::vector<ArchiveObject>;
    using Dictionary = std::vector<std::pair<std::string, ArchiveObject>>;

    ArchiveObject() = default;
    ArchiveObject(std::nullptr_t) {}
    ArchiveObject(Value value);
    template <std::derived_from<Archivable> T>
    ArchiveObject(std::shared_ptr<T> object) {
        if (object) {
            object_ = std::move(object);
        }
    }
    ArchiveObject(Array items);
    ArchiveObject(Dictionary entries);

    bool isNil() const;
    const Value* value() const { return value_ ? &*value_ : nullptr; }
    const std::shared_ptr<Archivable>& object() const { return object_; }
    const Array* array() const { return array_.get(); }
    const Dictionary* dictionary() const { return dictionary_.get(); }

    // The object as T, or nullptr when it is something else.
    template <class T>
    std::shared_ptr<T> as() const {
        return std::dynamic_pointer_cast<T>(object_);
    }
    // The whole graph as a Value when it holds no archivable object; nil gives null.
    std::optional<Value> toValue() const;
    // An entry of a dictionary, or nil.
    const ArchiveObject& operator[](std::string_view key) const;

    static const ArchiveObject& nil();

  private:
    std::optional<Value> value_;
    std::shared_ptr<Archivable> object_;
    // Shared, so that an object reached twice in an archive is held once.
    std::shared_ptr<const Array> array_;
    std::shared_ptr<const Dictionary> dictionary_;
};

// Class names and the functions that make their objects again from an archive.
class ArchiveRegistry {
  public:
    using Factory = std::function<std::shared_ptr<Archivable>(KeyedUnarchiver&)>;

    // The registry that unarchiving uses unless told otherwise.
    static ArchiveRegistry& shared();

    void add(std::string className, Factory factory);
    // For classes made from the decoder by their constructor.
    template <class T>
    requires std::constructible_from<T, KeyedUnarchiver&>
    void add(std::string className) {
        add(std::move(className),
            [](KeyedUnarchiver& coder) { return std::make_shared<T>(coder); });
    }
    Factory find(std::string_view className) const;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, Factory, std::less<>> factories_;
};

class KeyedArchiver {
  public:
    // The archive of a root object as a binary property list; fails for values that no
    // property list can hold (text that is not UTF-8, a date that is no finite time).
    static std::optional<Bytes> archivedData(const ArchiveObject& root, Error* error = nullptr);

    // Called by Archivable::encode: entries of the object being encoded.
    void encodeObject(const Value& value, std::string_view key);
    void encodeObject(const ArchiveObject& object, std::string_view key);
    void encodeInt(int value, std::string_view key) { encodeInt64(value, key); }
    void encodeInt64(std::int64_t value, std::string_view key);
    void encodeBool(bool value, std::string_view key);
    void encodeDouble(double value, std::string_view key);
    // Raw bytes kept in the object's own entry, not as a data object.
    void encodeBytes(std::span<const std::uint8_t> bytes, std::string_view key);

  private:
    KeyedArchiver();
    Value reference(const ArchiveObject& object, int depth);
    Value referenceValue(const Value& value, int depth);
    Value referenceObject(const std::shared_ptr<Archivable>& object, int depth);
    Value referenceString(const std::string& text);
    Value classReference(const std::string& name, const std::vector<std::string>& superclasses);
    Value allocate();
    void setEntry(std::string_view key, Value entry);

    Array objects_;
    std::vector<Map> pending_;  // entries of the objects being encoded, innermost last
    std::unordered_map<const Archivable*, std::uint64_t> objectIds_;
    // Arrays and dictionaries shared between places (as a decoded archive shares them): one
    // object each, so that writing back costs no more than what was read.
    std::unordered_map<const void*, std::uint64_t> containerIds_;
    std::unordered_map<std::string, std::uint64_t> stringIds_;
    std::unordered_map<std::string, std::uint64_t> classIds_;
    std::uint64_t nullId_ = 0;  // the null object, once one is needed
    int depth_ = 0;
    std::string problem_;
};

class KeyedUnarchiver {
  public:
    // The root object of an archive, or nothing and the error when the archive is corrupt,
    // names a class the registry does not know, or its objects do not decode.
    static std::optional<ArchiveObject> unarchiveObject(
        std::span<const std::uint8_t> data, Error* error = nullptr,
        const ArchiveRegistry& registry = ArchiveRegistry::shared());

    // Called by the factories: entries of the object being decoded. An absent key gives nil
    // or zero; an entry of the wrong type fails the whole archive.
    bool containsValue(std::string_view key) const;
    ArchiveObject decodeObject(std::string_view key);
    std::optional<std::string> decodeString(std::string_view key);
    std::optional<Date> decodeDate(std::string_view key);
    // Data, whether kept as a data object or as raw bytes in the entry.
    std::optional<Bytes> decodeBytes(std::string_view key);
    // A plain value (no archivable objects inside); null when absent.
    Value decodeValue(std::string_view key);
    int decodeInt(std::string_view key);
    std::int64_t decodeInt64(std::string_view key);
    bool decodeBool(std::string_view key);
    double decodeDouble(std::string_view key);

    template <class T>
    std::shared_ptr<T> decodeObjectOf(std::string_view key) {
        ArchiveObject object = decodeObject(key);
        if (object.isNil()) {
            return nullptr;
        }
        auto typed = object.as<T>();
        if (!typed) {
            failWrongType(key);
        }
        return typed;
    }
    template <class T>
    std::vector<std::shared_ptr<T>> decodeArrayOf(std::string_view key) {
        std::vector<std::shared_ptr<T>> result;
        ArchiveObject object = decodeObject(key);
        if (object.isNil()) {
            return result;
        }
        if (!object.array()) {
            failWrongType(key);
            return result;
        }
        for (const ArchiveObject& item : *object.array()) {
            auto typed = item.template as<T>();
            if (!typed) {
                failWrongType(key);
                return {};
            }
            result.push_back(std::move(typed));
        }
        return result;
    }
    template <class T>
    std::vector<std::pair<std::string, std::shared_ptr<T>>> decodeDictionaryOf(
        std::string_view key) {
        std::vector<std::pair<std::string, std::shared_ptr<T>>> result;
        ArchiveObject object = decodeObject(key);
        if (object.isNil()) {
            return result;
        }
        if (!object.dictionary()) {
            failWrongType(key);
            return result;
        }
        for (const auto& [name, item] : *object.dictionary()) {
            auto typed = item.template as<T>();
            if (!typed) {
                failWrongType(key);
                return {};
            }
            result.emplace_back(name, std::move(typed));
        }
        return result;
    }

    // Lets a factory refuse what it read: the whole archive then fails with this message.
    void failWithMessage(const std::string& message);
    bool failed() const { return !problem_.empty(); }

  private:
    KeyedUnarchiver(const Array& objects, const ArchiveRegistry& registry);
    ArchiveObject objectAt(const Value& reference, int depth);
    ArchiveObject decodeAt(std::uint64_t index, int depth);
    ArchiveObject decodeClassed(const Map& entries, int depth);
    const Value* entry(std::string_view key) const;
    void failWrongType(std::string_view key);

    const Array& objects_;
    const ArchiveRegistry& registry_;
    std::vector<const Map*> current_;  // entries of the objects being decoded, innermost last
    std::vector<std::uint8_t> state_;  // per object: not yet, in progress, done
    std::vector<ArchiveObject> decoded_;
    std::vector<std::uint64_t> weight_;        // nodes an object expands to when turned into Values
    std::vector<std::uint64_t> currentIndex_;  // objects being decoded, innermost last
    int depth_ = 0;
    std::string problem_;
};

}  // namespace platform
