// Any bytes, as a keyed archive: unarchiving answers an object graph or an error that says
// why, never crashes. What it reads archives again and unarchives to the same graph. One
// class of our own is registered, so that the decoding calls a factory makes are fuzzed too.
#include <cstdint>
#include <cstdlib>

#include "fuzz/SameValue.h"
#include "platform/KeyedArchive.h"

namespace {

using platform::ArchiveObject;
using platform::Value;

class Sample : public platform::Archivable {
  public:
    explicit Sample(platform::KeyedUnarchiver& coder)
        : text_(coder.decodeString("text")),
          date_(coder.decodeDate("date")),
          bytes_(coder.decodeBytes("bytes")),
          value_(coder.decodeValue("value")),
          number_(coder.decodeInt64("number")),
          small_(coder.decodeInt("small")),
          flag_(coder.decodeBool("flag")),
          real_(coder.decodeDouble("real")),
          child_(coder.decodeObjectOf<Sample>("child")),
          children_(coder.decodeArrayOf<Sample>("children")) {}

    std::string archiveClassName() const override { return "Sample"; }

    void encode(platform::KeyedArchiver& coder) const override {
        if (text_) {
            coder.encodeObject(Value(*text_), "text");
        }
        if (date_) {
            coder.encodeObject(Value(*date_), "date");
        }
        if (bytes_) {
            coder.encodeBytes(*bytes_, "bytes");
        }
        coder.encodeObject(value_, "value");
        coder.encodeInt64(number_, "number");
        coder.encodeInt(small_, "small");
        coder.encodeBool(flag_, "flag");
        coder.encodeDouble(real_, "real");
        coder.encodeObject(ArchiveObject(child_), "child");
        ArchiveObject::Array children(children_.begin(), children_.end());
        coder.encodeObject(ArchiveObject(std::move(children)), "children");
    }

    bool same(const Sample& other) const {
        return text_ == other.text_ && date_.has_value() == other.date_.has_value() &&
               (!date_ || fuzzing::sameNumber(date_->timeIntervalSinceReferenceDate(),
                                              other.date_->timeIntervalSinceReferenceDate())) &&
               bytes_ == other.bytes_ && fuzzing::sameValue(value_, other.value_) &&
               number_ == other.number_ && small_ == other.small_ && flag_ == other.flag_ &&
               fuzzing::sameNumber(real_, other.real_) &&
               (child_ == nullptr) == (other.child_ == nullptr) &&
               (!child_ || child_->same(*other.child_)) &&
               children_.size() == other.children_.size();
    }

  private:
    std::optional<std::string> text_;
    std::optional<platform::Date> date_;
    std::optional<platform::Bytes> bytes_;
    Value value_;
    std::int64_t number_;
    int small_;
    bool flag_;
    double real_;
    std::shared_ptr<Sample> child_;
    std::vector<std::shared_ptr<Sample>> children_;
};

const platform::ArchiveRegistry& registry() {
    static auto* registry = [] {
        auto* made = new platform::ArchiveRegistry();
        made->add<Sample>("Sample");
        return made;
    }();
    return *registry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::Error error;
    const auto root = platform::KeyedUnarchiver::unarchiveObject({data, size}, &error, registry());
    if (!root) {
        if (error.localizedDescription().empty()) {
            std::abort();
        }
        return 0;
    }
    const auto archived = platform::KeyedArchiver::archivedData(*root, &error);
    if (!archived) {
        std::abort();  // what reads must archive again
    }
    const auto again = platform::KeyedUnarchiver::unarchiveObject(*archived, &error, registry());
    if (!again) {
        std::abort();
    }
    if (const auto value = root->toValue()) {
        const auto valueAgain = again->toValue();
        if (!valueAgain || !fuzzing::sameValue(*value, *valueAgain)) {
            std::abort();
        }
    } else if (const auto sample = root->as<Sample>()) {
        const auto sampleAgain = again->as<Sample>();
        if (!sampleAgain || !sample->same(*sampleAgain)) {
            std::abort();
        }
    }
    return 0;
}
