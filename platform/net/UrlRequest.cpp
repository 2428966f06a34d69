#include "platform/net/UrlRequest.h"

#include <algorithm>

#include "platform/net/Stream.h"

namespace platform {

bool HeaderFields::sameName(std::string_view a, std::string_view b) {
    // Names mostly come spelled alike, which one comparison of their bytes tells.
    return a.size() == b.size() &&
           (a == b || std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                const auto lower = [](char c) {
                    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
                };
                return lower(x) == lower(y);
            }));
}

HeaderFields::HeaderFields(std::initializer_list<Field> fields) {
    for (const auto& [name, value] : fields) {
        set(name, value);
    }
}

std::optional<std::string> HeaderFields::value(std::string_view name) const {
    for (const auto& [field, value] : fields_) {
        if (sameName(field, name)) {
            return value;
        }
    }
    return std::nullopt;
}

void HeaderFields::set(std::string_view name, std::string value) {
    for (auto& field : fields_) {
        if (sameName(field.first, name)) {
            field.second = std::move(value);
            return;
        }
    }
    fields_.emplace_back(std::string(name), std::move(value));
}

void HeaderFields::add(std::string_view name, std::string_view value) {
    for (auto& field : fields_) {
        if (sameName(field.first, name)) {
            field.second += ',';
            field.second += value;
            return;
        }
    }
    fields_.emplace_back(std::string(name), std::string(value));
}

void HeaderFields::remove(std::string_view name) {
    std::erase_if(fields_, [&](const Field& field) { return sameName(field.first, name); });
}

Map HeaderFields::toMap() const {
    Map map;
    for (const auto& [name, value] : fields_) {
        map.set(name, Value(value));
    }
    return map;
}

UrlRequest::UrlRequest(Url url, UrlRequestCachePolicy cachePolicy, double timeoutInterval)
    : url_(std::move(url)), timeout_(timeoutInterval), cachePolicy_(cachePolicy) {}

void UrlRequest::setValue(std::optional<std::string> value, std::string_view field) {
    if (value) {
        headers_.set(field, std::move(*value));
    } else {
        headers_.remove(field);
    }
}

void UrlRequest::setHttpBody(std::optional<Bytes> body) {
    body_ = std::move(body);
    if (body_) {
        bodyStream_.reset();
    }
}

void UrlRequest::setHttpBodyStream(std::shared_ptr<InputStream> stream) {
    bodyStream_ = std::move(stream);
    if (bodyStream_) {
        body_.reset();
    }
}

std::string UrlRequest::description() const {
    return "<UrlRequest: " + url_.absoluteString() + ">";
}

}  // namespace platform
