#include "SocialSDK/framework/network/RAZududeMultipartFormData.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "platform/Format.h"
#include "platform/Random.h"

namespace {

constexpr const char* kCRLF = "\r\n";

// The request body ran out before the length it promised: the platform's code for that.
constexpr long kUrlErrorRequestBodyStreamExhausted = -1021;

platform::Error notOpenError() {
    return platform::Error(
        platform::kPosixErrorDomain, EBADF,
        platform::Map{{platform::kLocalizedDescriptionKey, "The stream is not open."}});
}

platform::Error fileUrlError(std::string_view reason) {
    return platform::Error(kRAZududeURLRequestSerializationErrorDomain, platform::kUrlErrorBadUrl,
                           platform::Map{{platform::kLocalizedFailureReasonErrorKey,
                                          rzs_network::localizedString(reason)}});
}

// A name inside a quoted header parameter: what could end the quoted string (a quote, or a
// backslash that a receiver reading RFC 822 quoting takes as an escape) or the header line is
// percent-escaped, as browsers do for form fields.
std::string quotedParameterText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '"':
                out += "%22";
                break;
            case '\r':
                out += "%0D";
                break;
            case '\n':
                out += "%0A";
                break;
            case '\\':
                out += "%5C";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

platform::HeaderFields fileHeaders(std::string_view name, std::string_view fileName,
                                   std::string_view mimeType) {
    if (hasLineBreak(mimeType)) {
        throw std::invalid_argument("Invalid parameter not satisfying: mimeType without CR or LF");
    }
    platform::HeaderFields headers;
    headers.set("Content-Disposition",
                platform::format("form-data; name=\"%@\"; filename=\"%@\"",
                                 quotedParameterText(name), quotedParameterText(fileName)));
    headers.set("Content-Type", std::string(mimeType));
    return headers;
}

// Reads bytes shared with the part that owns them, so that a picture is never copied to be
// sent.
class SharedBytesInputStream final : public platform::InputStream {
  public:
    explicit SharedBytesInputStream(std::shared_ptr<const platform::Bytes> data)
        : data_(std::move(data)) {}

    void open() override {
        if (status_ == platform::StreamStatus::kNotOpen) {
            status_ =
                data_->empty() ? platform::StreamStatus::kAtEnd : platform::StreamStatus::kOpen;
        }
    }
    void close() override { status_ = platform::StreamStatus::kClosed; }
    platform::StreamStatus streamStatus() const override { return status_; }
    std::optional<platform::Error> streamError() const override { return error_; }

    long read(std::uint8_t* buffer, std::size_t maxLength) override {
        if (status_ != platform::StreamStatus::kOpen && status_ != platform::StreamStatus::kAtEnd) {
            error_ = notOpenError();
            return -1;
        }
        const std::size_t count = std::min(maxLength, data_->size() - offset_);
        if (count > 0) {
            std::memcpy(buffer, data_->data() + offset_, count);
            offset_ += count;
        }
        if (offset_ == data_->size()) {
            status_ = platform::StreamStatus::kAtEnd;
        }
        return static_cast<long>(count);
    }
    bool hasBytesAvailable() const override {
        return status_ == platform::StreamStatus::kOpen && offset_ < data_->size();
    }

  private:
    std::shared_ptr<const platform::Bytes> data_;
    std::size_t offset_ = 0;
    platform::StreamStatus status_ = platform::StreamStatus::kNotOpen;
    std::optional<platform::Error> error_;
};

}  // namespace

// RAZududeHTTPBodyPart

RAZududeHTTPBodyPart::RAZududeHTTPBodyPart() {
    transitionToNextPhase();
}

RAZududeHTTPBodyPart::~RAZududeHTTPBodyPart() {
    if (inputStream_) {
        inputStream_->close();
    }
}

void RAZududeHTTPBodyPart::setStringEncoding(rzs_network::StringEncoding encoding) {
    stringEncoding_ = encoding;
    opening_.reset();
    headerText_.reset();
    closing_.reset();
}

void RAZududeHTTPBodyPart::setHeaders(platform::HeaderFields headers) {
    headers_ = std::move(headers);
    headerText_.reset();
}

void RAZududeHTTPBodyPart::setBoundary(std::string boundary) {
    boundary_ = std::move(boundary);
    opening_.reset();
    closing_.reset();
}

const std::shared_ptr<platform::InputStream>& RAZududeHTTPBodyPart::inputStream() {
    if (!inputStream_) {
        if (const auto* data = std::get_if<std::shared_ptr<const platform::Bytes>>(&body_);
            data && *data) {
            inputStream_ = std::make_shared<SharedBytesInputStream>(*data);
        } else if (const auto* path = std::get_if<std::filesystem::path>(&body_)) {
            inputStream_ = platform::InputStream::withFile(*path);
        } else if (const auto* stream = std::get_if<std::shared_ptr<platform::InputStream>>(&body_);
                   stream && *stream) {
            inputStream_ = *stream;
        } else {
            inputStream_ = platform::InputStream::withData({});
        }
    }
    return inputStream_;
}

std::string RAZududeHTTPBodyPart::stringForHeaders() const {
    std::string text;
    for (const auto& [name, value] : headers_.fields()) {
        text += platform::format("%@: %@%@", name, value, kCRLF);
    }
    text += kCRLF;
    return text;
}

platform::Bytes RAZududeHTTPBodyPart::encoded(std::string_view text) const {
    // The builder refuses headers its encoding cannot hold, so the fallback is for parts made
    // by hand.
    return rzs_network::encodeText(text, stringEncoding_).value_or(platform::toBytes(text));
}

const platform::Bytes& RAZududeHTTPBodyPart::openingBoundaryBytes() {
    if (!opening_) {
        opening_ =
            encoded(hasInitialBoundary_ ? platform::format("--%@%@", boundary_, kCRLF)
                                        : platform::format("%@--%@%@", kCRLF, boundary_, kCRLF));
    }
    return *opening_;
}

const platform::Bytes& RAZududeHTTPBodyPart::headerBytes() {
    if (!headerText_) {
        headerText_ = encoded(stringForHeaders());
    }
    return *headerText_;
}

const platform::Bytes& RAZududeHTTPBodyPart::closingBoundaryBytes() {
    if (!closing_) {
        closing_ = hasFinalBoundary_
                       ? encoded(platform::format("%@--%@--%@", kCRLF, boundary_, kCRLF))
                       : platform::Bytes();
    }
    return *closing_;
}

std::uint64_t RAZududeHTTPBodyPart::contentLength() const {
    std::uint64_t length =
        encoded(hasInitialBoundary_ ? platform::format("--%@%@", boundary_, kCRLF)
                                    : platform::format("%@--%@%@", kCRLF, boundary_, kCRLF))
            .size();
    length += encoded(stringForHeaders()).size();
    length += bodyContentLength_;
    if (hasFinalBoundary_) {
        length += encoded(platform::format("%@--%@--%@", kCRLF, boundary_, kCRLF)).size();
    }
    return length;
}

long RAZududeHTTPBodyPart::read(std::uint8_t* buffer, std::size_t length) {
    std::size_t total = 0;
    if (phase_ == kEncapsulationBoundaryPhase) {
        total += readData(openingBoundaryBytes(), buffer + total, length - total);
    }
    if (phase_ == kHeaderPhase) {
        total += readData(headerBytes(), buffer + total, length - total);
    }
    if (phase_ == kBodyPhase) {
        const long n = readBody(buffer + total, length - total);
        if (n < 0) {
            return -1;
        }
        total += static_cast<std::size_t>(n);
    }
    if (phase_ == kFinalBoundaryPhase) {
        total += readData(closingBoundaryBytes(), buffer + total, length - total);
    }
    return static_cast<long>(total);
}

// The body is held to its declared length: that length is already in "Content-Length", so a
// stream that goes on is cut there, and one that ends sooner fails the read rather than send
// a body shorter than announced. Streams here never wait for data, so a read of nothing before
// the declared length is the end, not a pause.
long RAZududeHTTPBodyPart::readBody(std::uint8_t* buffer, std::size_t length) {
    const std::uint64_t remaining = bodyContentLength_ - bodyBytesRead_;
    if (remaining == 0) {
        transitionToNextPhase();
        return 0;
    }
    if (length == 0) {
        return 0;
    }
    const auto& stream = inputStream();
    const long n =
        stream->read(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(length, remaining)));
    if (n < 0) {
        error_ = stream->streamError();
        if (!error_) {
            error_ = notOpenError();
        }
        return -1;
    }
    if (n == 0) {
        error_ = platform::Error(
            platform::kUrlErrorDomain, kUrlErrorRequestBodyStreamExhausted,
            platform::Map{
                {platform::kLocalizedDescriptionKey,
                 rzs_network::localizedString("request body stream exhausted")},
                {platform::kLocalizedFailureReasonErrorKey,
                 rzs_network::fillFormat(
                     rzs_network::localizedString("A part's body ended after %llu of its %llu "
                                                  "bytes."),
                     {std::to_string(bodyBytesRead_), std::to_string(bodyContentLength_)})}});
        return -1;
    }
    bodyBytesRead_ += static_cast<std::uint64_t>(n);
    if (bodyBytesRead_ == bodyContentLength_) {
        transitionToNextPhase();
    }
    return n;
}

std::size_t RAZududeHTTPBodyPart::readData(const platform::Bytes& data, std::uint8_t* buffer,
                                           std::size_t length) {
    const std::size_t offset =
        static_cast<std::size_t>(std::min<std::uint64_t>(phaseReadOffset_, data.size()));
    const std::size_t count = std::min(data.size() - offset, length);
    if (count > 0) {
        std::memcpy(buffer, data.data() + offset, count);
    }
    phaseReadOffset_ = offset + count;
    if (phaseReadOffset_ >= data.size()) {
        transitionToNextPhase();
    }
    return count;
}

// Phase changes stay on the reading thread: streams here need no run loop to be opened on,
// and a hop to the main thread would stall every upload while the main thread waits for it.
void RAZududeHTTPBodyPart::transitionToNextPhase() {
    switch (phase_) {
        case kEncapsulationBoundaryPhase:
            phase_ = kHeaderPhase;
            break;
        case kHeaderPhase:
            phase_ = kBodyPhase;
            bodyBytesRead_ = 0;
            inputStream()->open();
            break;
        case kBodyPhase:
            inputStream()->close();
            phase_ = kFinalBoundaryPhase;
            break;
        case kFinalBoundaryPhase:
            finished_ = true;
            phase_ = kEncapsulationBoundaryPhase;
            break;
        default:
            phase_ = kEncapsulationBoundaryPhase;
            break;
    }
    phaseReadOffset_ = 0;
}

std::shared_ptr<RAZududeHTTPBodyPart> RAZududeHTTPBodyPart::copy() const {
    auto part = std::make_shared<RAZududeHTTPBodyPart>();
    part->setStringEncoding(stringEncoding_);
    part->setHeaders(headers_);
    part->setBodyContentLength(bodyContentLength_);
    part->setBody(body_);
    part->setBoundary(boundary_);
    return part;
}

// RAZududeMultipartBodyStream

RAZududeMultipartBodyStream::RAZududeMultipartBodyStream(rzs_network::StringEncoding encoding)
    : stringEncoding_(encoding) {}

void RAZududeMultipartBodyStream::appendHTTPBodyPart(std::shared_ptr<RAZududeHTTPBodyPart> part) {
    parts_.push_back(std::move(part));
}

void RAZududeMultipartBodyStream::setInitialAndFinalBoundaries() {
    if (parts_.empty()) {
        return;
    }
    for (const auto& part : parts_) {
        part->setHasInitialBoundary(false);
        part->setHasFinalBoundary(false);
    }
    parts_.front()->setHasInitialBoundary(true);
    parts_.back()->setHasFinalBoundary(true);
}

std::uint64_t RAZududeMultipartBodyStream::contentLength() const {
    std::uint64_t length = 0;
    for (const auto& part : parts_) {
        length += part->contentLength();
    }
    return length;
}

void RAZududeMultipartBodyStream::open() {
    if (status_ != platform::StreamStatus::kNotOpen) {
        return;
    }
    status_ = platform::StreamStatus::kOpen;
    setInitialAndFinalBoundaries();
    nextPart_ = 0;
    currentPart_.reset();
}

void RAZududeMultipartBodyStream::close() {
    if (status_ != platform::StreamStatus::kError) {
        status_ = platform::StreamStatus::kClosed;
    }
}

long RAZududeMultipartBodyStream::read(std::uint8_t* buffer, std::size_t maxLength) {
    switch (status_) {
        case platform::StreamStatus::kClosed:
        case platform::StreamStatus::kAtEnd:
            return 0;
        case platform::StreamStatus::kError:
            return -1;
        case platform::StreamStatus::kOpen:
            break;
        default:
            error_ = notOpenError();
            return -1;
    }
    if (const double wait = secondsUntilReadable(); wait > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(wait));
    }
    // At least one byte per read, whatever the throttle says: a read of 0 means the end.
    const std::uint64_t limit =
        std::min<std::uint64_t>(maxLength, std::max<std::uint64_t>(numberOfBytesInPacket_, 1));
    std::size_t total = 0;
    while (total < limit) {
        if (!currentPart_ || !currentPart_->hasBytesAvailable()) {
            if (nextPart_ == parts_.size()) {
                currentPart_.reset();
                status_ = platform::StreamStatus::kAtEnd;
                break;
            }
            currentPart_ = parts_[nextPart_++];
            continue;
        }
        const long n = currentPart_->read(buffer + total, maxLength - total);
        if (n < 0) {
            // What was gathered in this read is dropped with the rest: the body is broken,
            // and a count of bytes would let the reader take it for a whole one.
            status_ = platform::StreamStatus::kError;
            error_ = currentPart_->streamError();
            return -1;
        }
        total += static_cast<std::size_t>(n);
    }
    if ((!currentPart_ || !currentPart_->hasBytesAvailable()) && nextPart_ == parts_.size()) {
        // Said now, so that a reader that looks for more bytes needs no read (nor wait) to
        // learn there are none.
        currentPart_.reset();
        status_ = platform::StreamStatus::kAtEnd;
    }
    if (delay_ > 0) {
        readableAt_ = std::chrono::steady_clock::now() +
                      std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                          std::chrono::duration<double>(delay_));
    }
    return static_cast<long>(total);
}

double RAZududeMultipartBodyStream::secondsUntilReadable() const {
    if (delay_ <= 0 || status_ != platform::StreamStatus::kOpen) {
        return 0;
    }
    const auto left = readableAt_ - std::chrono::steady_clock::now();
    return std::max(0.0, std::chrono::duration<double>(left).count());
}

std::shared_ptr<RAZududeMultipartBodyStream> RAZududeMultipartBodyStream::copy() const {
    auto stream = std::make_shared<RAZududeMultipartBodyStream>(stringEncoding_);
    for (const auto& part : parts_) {
        stream->appendHTTPBodyPart(part->copy());
    }
    stream->setInitialAndFinalBoundaries();
    return stream;
}

// RAZududeStreamingMultipartFormData

RAZududeStreamingMultipartFormData::RAZududeStreamingMultipartFormData(
    const platform::UrlRequest& request, rzs_network::StringEncoding encoding)
    : request_(request),
      stringEncoding_(encoding),
      boundary_(platform::format("Boundary+%08X%08X", platform::random32(), platform::random32())),
      bodyStream_(std::make_shared<RAZududeMultipartBodyStream>(encoding)) {}

bool RAZududeStreamingMultipartFormData::appendPartWithFileURL(const platform::Url& fileURL,
                                                               std::string_view name,
                                                               platform::Error* error) {
    return appendPartWithFileURL(fileURL, name, fileURL.lastPathComponent(), "", error);
}

bool RAZududeStreamingMultipartFormData::appendPartWithFileURL(const platform::Url& fileURL,
                                                               std::string_view name,
                                                               std::string_view fileName,
                                                               std::string_view mimeType,
                                                               platform::Error* error) {
    auto fail = [error](platform::Error made) {
        if (error) {
            *error = std::move(made);
        }
        return false;
    };
    if (!fileURL.isFileUrl()) {
        return fail(fileUrlError("Expected URL to be a file URL"));
    }
    const std::filesystem::path path = fileURL.path();
    std::error_code code;
    if (!std::filesystem::exists(path, code)) {
        return fail(fileUrlError("File URL not reachable."));
    }
    const std::uintmax_t size = std::filesystem::file_size(path, code);
    if (code) {
        return fail(
            platform::Error(platform::kPosixErrorDomain, code.value(),
                            platform::Map{{platform::kLocalizedDescriptionKey,
                                           platform::format("Cannot read the size of %@: %@",
                                                            path.string(), code.message())}}));
    }
    appendPart(fileHeaders(name, fileName, mimeType), path, size);
    return true;
}

void RAZududeStreamingMultipartFormData::appendPartWithInputStream(
    std::shared_ptr<platform::InputStream> inputStream, std::string_view name,
    std::string_view fileName, std::int64_t length, std::string_view mimeType) {
    if (!inputStream) {
        throw std::invalid_argument("Invalid parameter not satisfying: inputStream");
    }
    if (length < 0) {
        throw std::invalid_argument("Invalid parameter not satisfying: length >= 0");
    }
    appendPart(fileHeaders(name, fileName, mimeType), std::move(inputStream),
               static_cast<std::uint64_t>(length));
}

void RAZududeStreamingMultipartFormData::appendPartWithFileData(const platform::Bytes& data,
                                                                std::string_view name,
                                                                std::string_view fileName,
                                                                std::string_view mimeType) {
    appendPartWithHeaders(fileHeaders(name, fileName, mimeType), data);
}

void RAZududeStreamingMultipartFormData::appendPartWithFormData(const platform::Bytes& data,
                                                                std::string_view name) {
    platform::HeaderFields headers;
    headers.set("Content-Disposition",
                platform::format("form-data; name=\"%@\"", quotedParameterText(name)));
    appendPartWithHeaders(headers, data);
}

void RAZududeStreamingMultipartFormData::appendPartWithHeaders(
    const platform::HeaderFields& headers, const platform::Bytes& body) {
    appendPart(headers, std::make_shared<const platform::Bytes>(body), body.size());
}

void RAZududeStreamingMultipartFormData::throttleBandwidthWithPacketSize(std::size_t numberOfBytes,
                                                                         double delay) {
    bodyStream_->setNumberOfBytesInPacket(numberOfBytes);
    bodyStream_->setDelay(delay);
}

void RAZududeStreamingMultipartFormData::appendPart(platform::HeaderFields headers,
                                                    RAZududeHTTPBodyPart::Body body,
                                                    std::uint64_t length) {
    for (const auto& [name, value] : headers.fields()) {
        if (hasLineBreak(name) || hasLineBreak(value)) {
            throw std::invalid_argument(
                "Invalid parameter not satisfying: part headers without CR or LF");
        }
    }
    auto part = std::make_shared<RAZududeHTTPBodyPart>();
    part->setStringEncoding(stringEncoding_);
    part->setHeaders(std::move(headers));
    if (!rzs_network::encodeText(part->stringForHeaders(), stringEncoding_)) {
        throw std::invalid_argument(
            "Invalid parameter not satisfying: part headers in the builder's string encoding");
    }
    part->setBoundary(boundary_);
    part->setBody(std::move(body));
    part->setBodyContentLength(length);
    bodyStream_->appendHTTPBodyPart(std::move(part));
}

platform::UrlRequest RAZududeStreamingMultipartFormData::requestByFinalizingMultipartFormData() {
    if (bodyStream_->isEmpty()) {
        return request_;
    }
    bodyStream_->setInitialAndFinalBoundaries();
    request_.setHttpBodyStream(bodyStream_);
    request_.setValue(platform::format("multipart/form-data; boundary=%@", boundary_),
                      "Content-Type");
    request_.setValue(platform::format("%llu", bodyStream_->contentLength()), "Content-Length");
    return request_;
}
