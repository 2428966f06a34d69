// Writes values as JSON text, compact by default or indented for people, members in their
// own order or sorted by key.
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
    bool appendValue(const platform::Value& value, std::string& out);
    bool appendArray(const platform::Array& array, std::string& out);
    bool appendDictionary(const platform::Map& map, std::string& out);
    bool appendString(const std::string& text, std::string& out);
    bool appendMember(const platform::Map::Entry& member, bool first, std::string& out);
    void indent(std::string& out) const;

    bool sortKeys_ = false;
    bool humanReadable_ = false;
};
