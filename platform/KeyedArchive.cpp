#include "platform/KeyedArchive.h"

#include <climits>
#include <exception>

#include "platform/NoDestructor.h"
#include "platform/PropertyList.h"
#include "platform/Utf8.h"

namespace platform {

namespace {

constexpr const char* kArchiverName = "NSKeyedArchiver";
constexpr std::int64_t kArchiveVersion = 100000;
constexpr const char* kNullMarker = "$null";
constexpr const char* kRootKey = "root";
constexpr const char* kObjectRoot = "NSObject";

// Object graphs deeper than this are refused both ways, so that no archive exhausts the stack.
constexpr int kMaxDepth = 256;
// Nodes a decoded graph may expand to as Values, counting shared objects at every use.
constexpr std::uint64_t kMaxWeight = std::uint64_t{1} << 22;

// Keys that begin with "$" belong to the format; an object's own such keys get one more "$".
std::string escapedKey(std::string_view key) {
    std::string result;
    if (key.starts_with('$')) {
        result += '$';
    }
    result += key;
    return result;
}

Error archiveError(long code, const std::string& message) {
    return Error(kCocoaErrorDomain, code, Map{{kLocalizedDescriptionKey, message}});
}

bool isScalar(const Value& value) {
    switch (value.type()) {
        case Value::Type::kBool:
        case Value::Type::kInteger:
        case Value::Type::kReal:
        case Value::Type::kString:
        case Value::Type::kBytes:
        case Value::Type::kDate:
            return true;
        default:
            return false;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// ArchiveObject

ArchiveObject::ArchiveObject(Value value) {
    if (!value.isNull()) {
        value_ = std::move(value);
    }
}

ArchiveObject::ArchiveObject(Array items)
    : array_(std::make_shared<const Array>(std::move(items))) {}

ArchiveObject::ArchiveObject(Dictionary entries)
    : dictionary_(std::make_shared<const Dictionary>(std::move(entries))) {}

bool ArchiveObject::isNil() const {
    return !value_ && !object_ && !array_ && !dictionary_;
}

std::optional<Value> ArchiveObject::toValue() const {
    if (value_) {
        return *value_;
    }
    if (object_) {
        return std::nullopt;
    }
    if (array_) {
        platform::Array items;
        items.reserve(array_->size());
        for (const ArchiveObject& item : *array_) {
            auto value = item.toValue();
            if (!value) {
                return std::nullopt;
            }
            items.push_back(std::move(*value));
        }
        return Value(std::move(items));
    }
    if (dictionary_) {
        Map entries;
        entries.reserve(dictionary_->size());
        for (const auto& [key, item] : *dictionary_) {
            auto value = item.toValue();
            if (!value) {
                return std::nullopt;
            }
            entries.set(key, std::move(*value));
        }
        return Value(std::move(entries));
    }
    return Value();
}

const ArchiveObject& ArchiveObject::operator[](std::string_view key) const {
    if (dictionary_) {
        for (const auto& [name, item] : *dictionary_) {
            if (name == key) {
                return item;
            }
        }
    }
    return nil();
}

const ArchiveObject& ArchiveObject::nil() {
    static const NoDestructor<ArchiveObject> kNil;
    return *kNil;
}

// ---------------------------------------------------------------------------------------------
// ArchiveRegistry

ArchiveRegistry& ArchiveRegistry::shared() {
    static NoDestructor<ArchiveRegistry> registry;
    return *registry;
}

void ArchiveRegistry::add(std::string className, Factory factory) {
    std::lock_guard lock(mutex_);
    factories_[std::move(className)] = std::move(factory);
}

ArchiveRegistry::Factory ArchiveRegistry::find(std::string_view className) const {
    std::lock_guard lock(mutex_);
    auto it = factories_.find(className);
    return it == factories_.end() ? Factory() : it->second;
}

// ---------------------------------------------------------------------------------------------
// KeyedArchiver

KeyedArchiver::KeyedArchiver() {
    objects_.push_back(kNullMarker);
}

std::optional<Bytes> KeyedArchiver::archivedData(const ArchiveObject& root, Error* error) {
    KeyedArchiver coder;
    Value rootReference;
    try {
        rootReference = coder.reference(root, 0);
    } catch (const std::exception& e) {
        coder.problem_ = std::string("an object failed to encode: ") + e.what();
    }
    if (!coder.problem_.empty()) {
        if (error) {
            *error = archiveError(kCoderInvalidValueError,
                                  "The object could not be archived: " + coder.problem_ + ".");
        }
        return std::nullopt;
    }
    Map archive;
    archive.append("$version", kArchiveVersion);
    archive.append("$archiver", kArchiverName);
    archive.append("$top", Map{{kRootKey, std::move(rootReference)}});
    archive.append("$objects", std::move(coder.objects_));
    return PropertyList::write(Value(std::move(archive)), PropertyList::Format::kBinary, error);
}

Value KeyedArchiver::allocate() {
    objects_.emplace_back();
    return Uid{objects_.size() - 1}.toValue();
}

Value KeyedArchiver::reference(const ArchiveObject& object, int depth) {
    if (depth > kMaxDepth) {
        if (problem_.empty()) {
            problem_ = "the object graph nests too deeply";
        }
        return Uid{0}.toValue();
    }
    if (const Value* value = object.value()) {
        return referenceValue(*value, depth);
    }
    if (object.object()) {
        return referenceObject(object.object(), depth);
    }
    // Arrays and dictionaries cannot hold nil: it stands there as the null object.
    auto item = [&](const ArchiveObject& child) {
        return child.isNil() ? referenceValue(Value(), depth) : reference(child, depth + 1);
    };
    if (const void* shared = object.array() ? static_cast<const void*>(object.array())
                                            : static_cast<const void*>(object.dictionary())) {
        if (const auto found = containerIds_.find(shared); found != containerIds_.end()) {
            return Uid{found->second}.toValue();
        }
    }
    if (const auto* items = object.array()) {
        Value self = allocate();
        containerIds_.emplace(items, Uid::from(self)->index);
        Array references;
        references.reserve(items->size());
        for (const ArchiveObject& child : *items) {
            references.push_back(item(child));
        }
        objects_[Uid::from(self)->index] =
            Map{{"NS.objects", std::move(references)},
                {"$class", classReference("NSArray", {kObjectRoot})}};
        return self;
    }
    if (const auto* entries = object.dictionary()) {
        Value self = allocate();
        containerIds_.emplace(entries, Uid::from(self)->index);
        Array keys;
        Array values;
        keys.reserve(entries->size());
        values.reserve(entries->size());
        for (const auto& [key, child] : *entries) {
            keys.push_back(referenceString(key));
            values.push_back(item(child));
        }
        objects_[Uid::from(self)->index] =
            Map{{"NS.keys", std::move(keys)},
                {"NS.objects", std::move(values)},
                {"$class", classReference("NSDictionary", {kObjectRoot})}};
        return self;
    }
    return Uid{0}.toValue();
}

Value KeyedArchiver::referenceValue(const Value& value, int depth) {
    if (depth > kMaxDepth) {
        if (problem_.empty()) {
            problem_ = "the value nests too deeply";
        }
        return Uid{0}.toValue();
    }
    switch (value.type()) {
        case Value::Type::kNull: {
            // One null object serves every place, as the platform's null is a single object.
            if (nullId_ != 0) {
                return Uid{nullId_}.toValue();
            }
            Value self = allocate();
            nullId_ = Uid::from(self)->index;
            objects_[nullId_] = Map{{"$class", classReference("NSNull", {kObjectRoot})}};
            return self;
        }
        case Value::Type::kString:
            return referenceString(*value.string());
        case Value::Type::kDate: {
            Value self = allocate();
            objects_[Uid::from(self)->index] =
                Map{{"NS.time", value.date()->timeIntervalSinceReferenceDate()},
                    {"$class", classReference("NSDate", {kObjectRoot})}};
            return self;
        }
        case Value::Type::kArray: {
            Value self = allocate();
            Array references;
            references.reserve(value.array()->size());
            for (const Value& item : *value.array()) {
                references.push_back(referenceValue(item, depth + 1));
            }
            objects_[Uid::from(self)->index] =
                Map{{"NS.objects", std::move(references)},
                    {"$class", classReference("NSArray", {kObjectRoot})}};
            return self;
        }
        case Value::Type::kMap: {
            Value self = allocate();
            Array keys;
            Array values;
            keys.reserve(value.map()->size());
            values.reserve(value.map()->size());
            for (const auto& [key, item] : *value.map()) {
                keys.push_back(referenceString(key));
                values.push_back(referenceValue(item, depth + 1));
            }
            objects_[Uid::from(self)->index] =
                Map{{"NS.keys", std::move(keys)},
                    {"NS.objects", std::move(values)},
                    {"$class", classReference("NSDictionary", {kObjectRoot})}};
            return self;
        }
        default:
            // Numbers and data stand inline in the object list.
            objects_.push_back(value);
            return Uid{objects_.size() - 1}.toValue();
    }
}

Value KeyedArchiver::referenceString(const std::string& text) {
    auto found = stringIds_.find(text);
    if (found != stringIds_.end()) {
        return Uid{found->second}.toValue();
    }
    objects_.push_back(text);
    stringIds_.emplace(text, objects_.size() - 1);
    return Uid{objects_.size() - 1}.toValue();
}

Value KeyedArchiver::referenceObject(const std::shared_ptr<Archivable>& object, int depth) {
    // An object met again, even while it is being encoded, is referred to, not copied.
    if (auto found = objectIds_.find(object.get()); found != objectIds_.end()) {
        return Uid{found->second}.toValue();
    }
    Value self = allocate();
    const std::uint64_t index = Uid::from(self)->index;
    objectIds_.emplace(object.get(), index);
    pending_.emplace_back();
    const int savedDepth = depth_;
    depth_ = depth + 1;
    object->encode(*this);
    depth_ = savedDepth;
    Map entries = std::move(pending_.back());
    pending_.pop_back();
    entries.set("$class",
                classReference(object->archiveClassName(), object->archiveSuperclassNames()));
    objects_[index] = std::move(entries);
    return self;
}

Value KeyedArchiver::classReference(const std::string& name,
                                    const std::vector<std::string>& superclasses) {
    if (auto found = classIds_.find(name); found != classIds_.end()) {
        return Uid{found->second}.toValue();
    }
    Array chain{name};
    for (const std::string& superclass : superclasses) {
        chain.push_back(superclass);
    }
    objects_.push_back(Map{{"$classname", name}, {"$classes", std::move(chain)}});
    classIds_.emplace(name, objects_.size() - 1);
    return Uid{objects_.size() - 1}.toValue();
}

void KeyedArchiver::setEntry(std::string_view key, Value entry) {
    if (pending_.empty()) {
        if (problem_.empty()) {
            problem_ = "a value was encoded outside an object";
        }
        return;
    }
    pending_.back().set(escapedKey(key), std::move(entry));
}

void KeyedArchiver::encodeObject(const Value& value, std::string_view key) {
    setEntry(key, value.isNull() ? Uid{0}.toValue() : referenceValue(value, depth_));
}

void KeyedArchiver::encodeObject(const ArchiveObject& object, std::string_view key) {
    setEntry(key, reference(object, depth_));
}

void KeyedArchiver::encodeInt64(std::int64_t value, std::string_view key) {
    setEntry(key, value);
}

void KeyedArchiver::encodeBool(bool value, std::string_view key) {
    setEntry(key, value);
}

void KeyedArchiver::encodeDouble(double value, std::string_view key) {
    setEntry(key, value);
}

void KeyedArchiver::encodeBytes(std::span<const std::uint8_t> bytes, std::string_view key) {
    setEntry(key, Bytes(bytes.begin(), bytes.end()));
}

// ---------------------------------------------------------------------------------------------
// KeyedUnarchiver

namespace {
enum : std::uint8_t { kNotYet, kInProgress, kDone };
}

KeyedUnarchiver::KeyedUnarchiver(const Array& objects, const ArchiveRegistry& registry)
    : objects_(objects),
      registry_(registry),
      state_(objects.size(), kNotYet),
      decoded_(objects.size()),
      weight_(objects.size(), 0) {}

std::optional<ArchiveObject> KeyedUnarchiver::unarchiveObject(std::span<const std::uint8_t> data,
                                                              Error* error,
                                                              const ArchiveRegistry& registry) {
    auto fail = [&](const std::string& message) -> std::optional<ArchiveObject> {
        if (error) {
            *error = archiveError(kCoderReadCorruptError,
                                  "The archive could not be read: " + message + ".");
        }
        return std::nullopt;
    };
    Error plistError;
    auto archive = PropertyList::read(data, &plistError);
    if (!archive) {
        return fail(plistError.localizedDescription());
    }
    if (!archive->isMap()) {
        return fail("it is no dictionary");
    }
    const Value& archiver = (*archive)["$archiver"];
    if (!archiver.isString() || *archiver.string() != kArchiverName) {
        return fail("it names no keyed archiver");
    }
    if (!(*archive)["$version"].isInteger()) {
        return fail("it has no version");
    }
    const Array* objects = (*archive)["$objects"].array();
    if (!objects || objects->empty() || (*objects)[0] != Value(kNullMarker)) {
        return fail("its object list is missing or does not start with the null marker");
    }
    const Value& root = (*archive)["$top"][kRootKey];
    if (!Uid::from(root)) {
        return fail("it has no root object");
    }
    KeyedUnarchiver coder(*objects, registry);
    ArchiveObject result;
    try {
        result = coder.objectAt(root, 0);
    } catch (const std::exception& e) {
        coder.failWithMessage(std::string("an object failed to decode: ") + e.what());
    }
    if (coder.failed()) {
        return fail(coder.problem_);
    }
    return result;
}

void KeyedUnarchiver::failWithMessage(const std::string& message) {
    if (problem_.empty()) {
        problem_ = message;
    }
}

void KeyedUnarchiver::failWrongType(std::string_view key) {
    failWithMessage("the value for the key \"" + std::string(key) + "\" is of the wrong type");
}

ArchiveObject KeyedUnarchiver::objectAt(const Value& reference, int depth) {
    auto uid = Uid::from(reference);
    if (!uid) {
        failWithMessage("a reference is not a UID");
        return {};
    }
    ArchiveObject object = decodeAt(uid->index, depth);
    // Whatever an object refers to adds to its weight, once per reference, so that shared
    // objects cannot multiply into more Values than memory holds.
    if (!currentIndex_.empty() && uid->index < weight_.size()) {
        std::uint64_t& weight = weight_[currentIndex_.back()];
        weight += weight_[uid->index];
        if (weight > kMaxWeight) {
            failWithMessage("the archive expands too far");
            return {};
        }
    }
    return object;
}

ArchiveObject KeyedUnarchiver::decodeAt(std::uint64_t index, int depth) {
    if (failed()) {
        return {};
    }
    if (index >= objects_.size()) {
        failWithMessage("a reference points past the end of the object list (" +
                        std::to_string(index) + ")");
        return {};
    }
    if (index == 0) {
        return {};
    }
    if (state_[index] == kDone) {
        return decoded_[index];
    }
    if (state_[index] == kInProgress) {
        failWithMessage("object " + std::to_string(index) + " contains itself");
        return {};
    }
    if (depth > kMaxDepth) {
        failWithMessage("the object graph nests too deeply");
        return {};
    }
    state_[index] = kInProgress;
    const Value& stored = objects_[index];
    ArchiveObject result;
    weight_[index] = 1;
    if (isScalar(stored)) {
        result = ArchiveObject(stored);
    } else if (const Map* entries = stored.map(); entries && !Uid::from(stored)) {
        // The depth travels through the factories in the member, for their nested objects.
        const int savedDepth = depth_;
        depth_ = depth + 1;
        currentIndex_.push_back(index);
        result = decodeClassed(*entries, depth + 1);
        currentIndex_.pop_back();
        depth_ = savedDepth;
    } else {
        failWithMessage("object " + std::to_string(index) + " is of no archivable type");
    }
    if (failed()) {
        return {};
    }
    state_[index] = kDone;
    decoded_[index] = result;
    return result;
}

ArchiveObject KeyedUnarchiver::decodeClassed(const Map& entries, int depth) {
    auto classUid = Uid::from(entries["$class"]);
    if (!classUid || classUid->index == 0 || classUid->index >= objects_.size()) {
        failWithMessage("an object has no valid class reference");
        return {};
    }
    const Value& classInfo = objects_[classUid->index];
    const Value& className = classInfo["$classname"];
    if (!className.isString()) {
        failWithMessage("a class description has no class name");
        return {};
    }
    const std::string& name = *className.string();

    auto child = [&](const Value& reference) { return objectAt(reference, depth); };

    if (name == "NSArray" || name == "NSMutableArray" || name == "NSSet" ||
        name == "NSMutableSet" || name == "NSOrderedSet" || name == "NSMutableOrderedSet") {
        const Value& references = entries["NS.objects"];
        if (!references.isNull() && !references.isArray()) {
            failWithMessage("an array's objects are not a list");
            return {};
        }
        ArchiveObject::Array items;
        items.reserve(references.count());
        for (const Value& reference : references.array() ? *references.array() : Array{}) {
            items.push_back(child(reference));
            if (failed()) {
                return {};
            }
        }
        return ArchiveObject(std::move(items));
    }
    if (name == "NSDictionary" || name == "NSMutableDictionary") {
        const Value& keys = entries["NS.keys"];
        const Value& values = entries["NS.objects"];
        if (!(keys.isNull() && values.isNull()) &&
            (!keys.isArray() || !values.isArray() || keys.count() != values.count())) {
            failWithMessage("a dictionary's keys and objects do not match");
            return {};
        }
        ArchiveObject::Dictionary result;
        result.reserve(keys.count());
        for (std::size_t i = 0; i < keys.count(); ++i) {
            ArchiveObject key = child(keys[i]);
            if (failed()) {
                return {};
            }
            const Value* keyValue = key.value();
            if (!keyValue || !keyValue->isString()) {
                failWithMessage("a dictionary key is not a string");
                return {};
            }
            ArchiveObject value = child(values[i]);
            if (failed()) {
                return {};
            }
            result.emplace_back(*keyValue->string(), std::move(value));
        }
        return ArchiveObject(std::move(result));
    }
    if (name == "NSString" || name == "NSMutableString") {
        const Value& text = entries["NS.string"];
        if (text.isString()) {
            return ArchiveObject(text);
        }
        const Value& bytes = entries["NS.bytes"];
        if (bytes.isBytes()) {
            std::string decoded = toString(*bytes.bytes());
            if (!utf8::isValid(decoded)) {
                failWithMessage("a string object's bytes are not UTF-8");
                return {};
            }
            return ArchiveObject(Value(std::move(decoded)));
        }
        failWithMessage("a string object holds no text");
        return {};
    }
    if (name == "NSData" || name == "NSMutableData") {
        const Value& data = entries["NS.data"];
        if (data.isBytes()) {
            return ArchiveObject(data);
        }
        ArchiveObject inner = Uid::from(data) ? objectAt(data, depth) : ArchiveObject();
        if (inner.value() && inner.value()->isBytes()) {
            return inner;
        }
        failWithMessage("a data object holds no bytes");
        return {};
    }
    if (name == "NSDate") {
        const Value& time = entries["NS.time"];
        if (!time.isInteger() && !time.isReal()) {
            failWithMessage("a date object holds no time");
            return {};
        }
        return ArchiveObject(Value(Date::fromReferenceInterval(time.doubleValue())));
    }
    if (name == "NSNull") {
        return {};
    }

    ArchiveRegistry::Factory factory = registry_.find(name);
    if (!factory) {
        failWithMessage("cannot decode an object of class " + name +
                        ": no such class is registered");
        return {};
    }
    current_.push_back(&entries);
    std::shared_ptr<Archivable> object = factory(*this);
    current_.pop_back();
    if (!object && !failed()) {
        failWithMessage("the class " + name + " made no object");
    }
    return failed() ? ArchiveObject() : ArchiveObject(std::move(object));
}

const Value* KeyedUnarchiver::entry(std::string_view key) const {
    if (current_.empty()) {
        return nullptr;
    }
    return current_.back()->find(escapedKey(key));
}

bool KeyedUnarchiver::containsValue(std::string_view key) const {
    return entry(key) != nullptr;
}

ArchiveObject KeyedUnarchiver::decodeObject(std::string_view key) {
    const Value* value = entry(key);
    if (!value || failed()) {
        return {};
    }
    if (Uid::from(*value)) {
        return objectAt(*value, depth_);
    }
    if (isScalar(*value)) {
        return ArchiveObject(*value);
    }
    failWrongType(key);
    return {};
}

std::optional<std::string> KeyedUnarchiver::decodeString(std::string_view key) {
    ArchiveObject object = decodeObject(key);
    if (object.isNil()) {
        return std::nullopt;
    }
    if (object.value() && object.value()->isString()) {
        return *object.value()->string();
    }
    failWrongType(key);
    return std::nullopt;
}

std::optional<Date> KeyedUnarchiver::decodeDate(std::string_view key) {
    ArchiveObject object = decodeObject(key);
    if (object.isNil()) {
        return std::nullopt;
    }
    if (object.value() && object.value()->isDate()) {
        return *object.value()->date();
    }
    failWrongType(key);
    return std::nullopt;
}

std::optional<Bytes> KeyedUnarchiver::decodeBytes(std::string_view key) {
    ArchiveObject object = decodeObject(key);
    if (object.isNil()) {
        return std::nullopt;
    }
    if (object.value() && object.value()->isBytes()) {
        return *object.value()->bytes();
    }
    failWrongType(key);
    return std::nullopt;
}

Value KeyedUnarchiver::decodeValue(std::string_view key) {
    ArchiveObject object = decodeObject(key);
    auto value = object.toValue();
    if (!value) {
        failWrongType(key);
        return Value();
    }
    return std::move(*value);
}

std::int64_t KeyedUnarchiver::decodeInt64(std::string_view key) {
    const Value* value = entry(key);
    if (!value || failed()) {
        return 0;
    }
    if (Uid::from(*value)) {
        ArchiveObject object = objectAt(*value, depth_);
        value = object.value();
        if (value && value->isNumber()) {
            return value->integerValue();
        }
    } else if (value->isNumber()) {
        return value->integerValue();
    }
    failWrongType(key);
    return 0;
}

int KeyedUnarchiver::decodeInt(std::string_view key) {
    const std::int64_t wide = decodeInt64(key);
    if (wide < INT_MIN || wide > INT_MAX) {
        failWithMessage("the value for the key \"" + std::string(key) +
                        "\" does not fit in 32 bits");
        return 0;
    }
    return static_cast<int>(wide);
}

bool KeyedUnarchiver::decodeBool(std::string_view key) {
    const Value* value = entry(key);
    if (!value || failed()) {
        return false;
    }
    if (value->isNumber()) {
        return value->boolValue();
    }
    if (Uid::from(*value)) {
        ArchiveObject object = objectAt(*value, depth_);
        if (object.value() && object.value()->isNumber()) {
            return object.value()->boolValue();
        }
    }
    failWrongType(key);
    return false;
}

double KeyedUnarchiver::decodeDouble(std::string_view key) {
    const Value* value = entry(key);
    if (!value || failed()) {
        return 0;
    }
    if (value->isNumber()) {
        return value->doubleValue();
    }
    if (Uid::from(*value)) {
        ArchiveObject object = objectAt(*value, depth_);
        if (object.value() && object.value()->isNumber()) {
            return object.value()->doubleValue();
        }
    }
    failWrongType(key);
    return 0;
}

}  // namespace platform
