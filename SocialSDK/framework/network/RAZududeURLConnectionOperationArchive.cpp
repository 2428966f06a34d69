// An operation's archive: its request, state, response, error and the body read so far, as
// plain dictionaries that any reader of the archive can take apart.

#include "SocialSDK/framework/network/RAZududeURLConnectionOperation.h"

#include "platform/Format.h"

using platform::Bytes;
using platform::Error;
using platform::Map;
using platform::UrlRequest;
using platform::UrlResponse;
using platform::Value;

namespace {

Value headersValue(const platform::HeaderFields& headers) {
    platform::Array fields;
    for (const auto& [name, value] : headers.fields()) {
        fields.push_back(Value(platform::Array{Value(name), Value(value)}));
    }
    return Value(std::move(fields));
}

std::optional<platform::HeaderFields> headersFromValue(const Value& value) {
    platform::HeaderFields headers;
    if (value.isNull()) {
        return headers;
    }
    if (!value.isArray()) {
        return std::nullopt;
    }
    for (const Value& field : *value.array()) {
        if (!field.isArray() || field.count() != 2 || !field[0].isString() ||
            !field[1].isString()) {
            return std::nullopt;
        }
        headers.set(*field[0].string(), *field[1].string());
    }
    return headers;
}

Value requestValue(const UrlRequest& request) {
    Map map;
    map.set("URL", Value(request.url().absoluteString()));
    map.set("HTTPMethod", Value(request.httpMethod()));
    map.set("HTTPHeaderFields", headersValue(request.allHttpHeaderFields()));
    if (request.httpBody()) {
        map.set("HTTPBody", Value(*request.httpBody()));
    }
    map.set("timeoutInterval", Value(request.timeoutInterval()));
    map.set("cachePolicy", Value(static_cast<unsigned>(request.cachePolicy())));
    map.set("HTTPShouldHandleCookies", Value(request.httpShouldHandleCookies()));
    map.set("HTTPShouldUsePipelining", Value(request.httpShouldUsePipelining()));
    map.set("allowsCellularAccess", Value(request.allowsCellularAccess()));
    map.set("networkServiceType", Value(static_cast<unsigned>(request.networkServiceType())));
    return Value(std::move(map));
}

std::optional<UrlRequest> requestFromValue(const Value& value) {
    if (!value.isMap() || !value["URL"].isString() || !value["HTTPMethod"].isString()) {
        return std::nullopt;
    }
    auto url = platform::Url::parse(*value["URL"].string());
    auto headers = headersFromValue(value["HTTPHeaderFields"]);
    if (!url || !headers) {
        return std::nullopt;
    }
    UrlRequest request(*url);
    request.setHttpMethod(*value["HTTPMethod"].string());
    request.setAllHttpHeaderFields(std::move(*headers));
    if (const Bytes* body = value["HTTPBody"].bytes()) {
        request.setHttpBody(*body);
    }
    if (value["timeoutInterval"].isNumber()) {
        request.setTimeoutInterval(value["timeoutInterval"].doubleValue());
    }
    const std::int64_t policy = value["cachePolicy"].integerValue();
    if (policy >= 0 && policy <= 3) {
        request.setCachePolicy(static_cast<platform::UrlRequestCachePolicy>(policy));
    }
    if (value["HTTPShouldHandleCookies"].isBool()) {
        request.setHttpShouldHandleCookies(value["HTTPShouldHandleCookies"].boolValue());
    }
    if (value["HTTPShouldUsePipelining"].isBool()) {
        request.setHttpShouldUsePipelining(value["HTTPShouldUsePipelining"].boolValue());
    }
    if (value["allowsCellularAccess"].isBool()) {
        request.setAllowsCellularAccess(value["allowsCellularAccess"].boolValue());
    }
    const std::int64_t service = value["networkServiceType"].integerValue();
    if (service >= 0 && service <= 4) {
        request.setNetworkServiceType(static_cast<platform::NetworkServiceType>(service));
    }
    return request;
}

Value responseValue(const std::shared_ptr<const UrlResponse>& response) {
    if (!response) {
        return {};
    }
    Map map;
    map.set("URL", Value(response->url().absoluteString()));
    if (auto http = std::dynamic_pointer_cast<const platform::HttpUrlResponse>(response)) {
        map.set("statusCode", Value(http->statusCode()));
        map.set("HTTPVersion", Value(http->httpVersion()));
        map.set("allHeaderFields", headersValue(http->allHeaderFields()));
    } else {
        map.set("MIMEType", Value(response->mimeType()));
        map.set("expectedContentLength", Value(response->expectedContentLength()));
        if (response->textEncodingName()) {
            map.set("textEncodingName", Value(*response->textEncodingName()));
        }
    }
    return Value(std::move(map));
}

std::shared_ptr<const UrlResponse> responseFromValue(const Value& value) {
    if (!value.isMap() || !value["URL"].isString()) {
        return nullptr;
    }
    auto url = platform::Url::parse(*value["URL"].string());
    if (!url) {
        return nullptr;
    }
    if (value["statusCode"].isInteger()) {
        auto headers = headersFromValue(value["allHeaderFields"]);
        if (!headers) {
            return nullptr;
        }
        return std::make_shared<const platform::HttpUrlResponse>(
            *url, value["statusCode"].intValue(), value["HTTPVersion"].stringValue(),
            std::move(*headers));
    }
    std::optional<std::string> encodingName;
    if (value["textEncodingName"].isString()) {
        encodingName = *value["textEncodingName"].string();
    }
    const std::int64_t length = value["expectedContentLength"].isInteger()
                                    ? value["expectedContentLength"].integerValue()
                                    : -1;
    return std::make_shared<const UrlResponse>(*url, value["MIMEType"].stringValue(), length,
                                               std::move(encodingName));
}

constexpr int kMaxUnderlyingErrors = 16;

Value errorValue(const Error& error, int depth = 0) {
    Map map;
    map.set("domain", Value(error.domain()));
    map.set("code", Value(error.code()));
    map.set("userInfo", Value(error.userInfo()));
    if (error.underlyingError() && depth < kMaxUnderlyingErrors) {
        map.set("underlyingError", errorValue(*error.underlyingError(), depth + 1));
    }
    return Value(std::move(map));
}

std::optional<Error> errorFromValue(const Value& value, int depth = 0) {
    if (!value.isMap() || !value["domain"].isString() || !value["code"].isInteger()) {
        return std::nullopt;
    }
    Error error(*value["domain"].string(), static_cast<long>(value["code"].integerValue()),
                value["userInfo"].isMap() ? *value["userInfo"].map() : Map{});
    if (depth < kMaxUnderlyingErrors) {
        if (auto underlying = errorFromValue(value["underlyingError"], depth + 1)) {
            error.setUnderlyingError(std::move(*underlying));
        }
    }
    return error;
}

}  // namespace

void RAZududeURLConnectionOperation::encode(platform::KeyedArchiver& coder) const {
    // What is archived must be a request that can go on: an operation in flight stops first.
    const_cast<RAZududeURLConnectionOperation*>(this)->pause();
    std::lock_guard lock(lock_);
    coder.encodeObject(requestValue(request_), "request");
    const std::int64_t state = state_ == kExecuting || state_ == kPaused ? kReady : state_;
    coder.encodeInt64(state, "state");
    coder.encodeObject(responseValue(response_), "response");
    coder.encodeObject(error_ ? errorValue(*error_) : Value(), "error");
    // A paused operation's body so far goes with it, so that the ranged request it resumes
    // with continues what is kept.
    std::optional<Bytes> data = responseData_;
    if (!data && outputStream_) {
        const Value written =
            outputStream_->propertyForKey(platform::kStreamDataWrittenToMemoryStreamKey);
        if (written.bytes() && !written.bytes()->empty()) {
            data = *written.bytes();
        }
    }
    coder.encodeObject(data ? Value(*data) : Value(), "responseData");
    coder.encodeInt64(totalBytesRead_.load(), "totalBytesRead");
}

void RAZududeURLConnectionOperation::decodeInto(platform::KeyedUnarchiver& coder) {
    std::lock_guard lock(lock_);
    const std::int64_t state = coder.decodeInt64("state");
    // Only a change allowed from Ready, and never Executing: there is no connection to run.
    if (state != kExecuting) {
        setState(static_cast<State>(state));
    }
    response_ = responseFromValue(coder.decodeValue("response"));
    error_ = errorFromValue(coder.decodeValue("error"));
    const Value data = coder.decodeValue("responseData");
    if (const Bytes* bytes = data.bytes()) {
        responseData_ = *bytes;
        // The ranged request of a paused operation continues these bytes: they go first into
        // the stream that the rest will be appended to.
        const auto range = request_.valueForHttpHeaderField("Range");
        if (range && *range == platform::format("bytes=%llu-", bytes->size())) {
            auto stream = outputStreamLocked();
            stream->open();
            if (!bytes->empty()) {
                stream->write(bytes->data(), bytes->size());
            }
            responseData_.reset();
        }
    }
    totalBytesRead_ = coder.decodeInt64("totalBytesRead");
}

std::optional<UrlRequest> RAZududeURLConnectionOperation::decodedRequest(
    platform::KeyedUnarchiver& coder) {
    auto request = requestFromValue(coder.decodeValue("request"));
    if (!request) {
        coder.failWithMessage("an operation's archive holds no request");
    }
    return request;
}

std::shared_ptr<RAZududeURLConnectionOperation> RAZududeURLConnectionOperation::decode(
    platform::KeyedUnarchiver& coder) {
    auto request = decodedRequest(coder);
    if (!request) {
        return nullptr;
    }
    auto operation = create(std::move(*request));
    operation->decodeInto(coder);
    return operation;
}

void RAZududeURLConnectionOperation::registerArchiveClass() {
    platform::ArchiveRegistry::shared().add(
        kClassName, [](platform::KeyedUnarchiver& coder) -> std::shared_ptr<platform::Archivable> {
            return decode(coder);
        });
}
