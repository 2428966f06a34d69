// Writes values as JSON text, compact by default or indented for people, members in their
// own order or sorted by key.
//
// One writer per thread at a time; writers share nothing.
#pragma once

#include <optional>
#include <string>

#include "RZBase_Source/Json/RAZududeRqJsonBase.h"
#include "platform/Value.h"

class RAZududeRqJsonWriter : public RAZududeRqJsonBase {
  public:
    // An object or an array as text; anything else is refused.
    std::optional<std::string> stringWithObject(const platform::Value& value);
    // Any value that JSON can hold, at the top level too. Bytes, dates, non-finite numbers
    // and strings that are not UTF-8 are refused.
    std::optional<std::string> stringWithFragment(const platform::Value& value);

    bool humanReadable() const { return humanReadable_; }
    void setHumanReadable(bool humanReadable) { humanReadable_ = humanReadable; }
    bool sortKeys() const { return sortKeys_; }
    void setSortKeys(bool sortKeys) { sortKeys_ = sortKeys; }

  private:
    // The text being written: a string written through a cursor, grown by doubling, cut to
    // its length at the end.
    class Output {
      public:
        explicit Output(std::string& text);
        void reserve(std::size_t n) {
            if (static_cast<std::size_t>(end_ - cursor_) < n) {
                grow(n);
            }
        }
        void put(char c) {
            reserve(1);
            *cursor_++ = c;
        }
        void put(const char* text, std::size_t length);
        char*& cursor() { return cursor_; }  // after reserve()
        void finish();

      private:
        void grow(std::size_t n);
        std::string& text_;
        char* cursor_;
        char* end_;
    };

    bool appendValue(const platform::Value& value, Output& out);
    bool appendArray(const platform::Array& array, Output& out);
    bool appendDictionary(const platform::Map& map, Output& out);
    bool appendString(const std::string& text, Output& out);
    bool appendMember(const platform::Map::Entry& member, bool first, Output& out);
    void indent(Output& out) const;

    bool sortKeys_ = false;
    bool humanReadable_ = false;
};
