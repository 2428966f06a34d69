// Multipart form bodies that are streamed to the connection rather than held in one buffer.
//
// The request serializer makes a RAZududeStreamingMultipartFormData builder for a request, adds
// the text parameters as form parts, lets the caller add more (a picture file, say) through the
// RAZududeMultipartFormData interface, and asks for the finished request. Its body stream is a
// RAZududeMultipartBodyStream that reads the RAZududeHTTPBodyParts in order; "Content-Length"
// is known before the first byte is read, from the parts' declared lengths.
//
// Threads: a builder is used on one thread. The body stream is then read by whoever sends the
// request (the network thread), one thread at a time; it needs no run loop and never calls
// back to the main thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "SocialSDK/framework/network/RAZududeNetworkingText.h"
#include "platform/Error.h"
#include "platform/Url.h"
#include "platform/Value.h"
#include "platform/net/Stream.h"
#include "platform/net/UrlRequest.h"

// Errors of building requests: bad URLs and file parts.
inline constexpr const char* kRAZududeURLRequestSerializationErrorDomain =
    "com.razudude.error.serialization.request";

// What a builder offers the caller's constructing block.
//
// Field names and file names are written into "Content-Disposition" as quoted strings; a
// quote, CR, LF or backslash in them is percent-escaped ("%22", "%0D", "%0A", "%5C"), as
// browsers escape form fields, so that no name can end the quoted string or the header line.
// Header names, values and MIME types given by the caller are not data but code: one holding
// CR or LF is refused with std::invalid_argument.
class RAZududeMultipartFormData {
  public:
    virtual ~RAZududeMultipartFormData() = default;

    // A file part named after the file, with an empty "Content-Type". False, with the error,
    // when the URL is not a file URL, the file cannot be reached or its size cannot be read.
    virtual bool appendPartWithFileURL(const platform::Url& fileURL, std::string_view name,
                                       platform::Error* error) = 0;
    virtual bool appendPartWithFileURL(const platform::Url& fileURL, std::string_view name,
                                       std::string_view fileName, std::string_view mimeType,
                                       platform::Error* error) = 0;
    // A file part read from the stream when its turn comes: exactly `length` bytes of it. A
    // stream that ends sooner fails the body's read; one that goes on is cut at the length.
    // Throws std::invalid_argument for a negative length.
    virtual void appendPartWithInputStream(std::shared_ptr<platform::InputStream> inputStream,
                                           std::string_view name, std::string_view fileName,
                                           std::int64_t length, std::string_view mimeType) = 0;
    virtual void appendPartWithFileData(const platform::Bytes& data, std::string_view name,
                                        std::string_view fileName, std::string_view mimeType) = 0;
    virtual void appendPartWithFormData(const platform::Bytes& data, std::string_view name) = 0;
    // A part with exactly these headers.
    virtual void appendPartWithHeaders(const platform::HeaderFields& headers,
                                       const platform::Bytes& body) = 0;
    // Each read of the body gathers parts' bytes until at least numberOfBytes are in, and
    // lets `delay` seconds pass after every packet read.
    virtual void throttleBandwidthWithPacketSize(std::size_t numberOfBytes, double delay) = 0;
};

// One part of a multipart body: its opening boundary, headers, body and, for the last part,
// the closing boundary, read in that order (phases 1 to 4).
class RAZududeHTTPBodyPart {
  public:
    enum Phase : int {
        kEncapsulationBoundaryPhase = 1,
        kHeaderPhase = 2,
        kBodyPhase = 3,
        kFinalBoundaryPhase = 4,
    };

    // The body: nothing (read as empty), bytes, a file, or a stream.
    using Body = std::variant<std::monostate, std::shared_ptr<const platform::Bytes>,
                              std::filesystem::path, std::shared_ptr<platform::InputStream>>;

    RAZududeHTTPBodyPart();
    ~RAZududeHTTPBodyPart();
    RAZududeHTTPBodyPart(const RAZududeHTTPBodyPart&) = delete;
    RAZududeHTTPBodyPart& operator=(const RAZududeHTTPBodyPart&) = delete;

    rzs_network::StringEncoding stringEncoding() const { return stringEncoding_; }
    void setStringEncoding(rzs_network::StringEncoding encoding);
    const platform::HeaderFields& headers() const { return headers_; }
    void setHeaders(platform::HeaderFields headers);
    const std::string& boundary() const { return boundary_; }
    void setBoundary(std::string boundary);
    const Body& body() const { return body_; }
    void setBody(Body body) { body_ = std::move(body); }
    std::uint64_t bodyContentLength() const { return bodyContentLength_; }
    void setBodyContentLength(std::uint64_t length) { bodyContentLength_ = length; }
    bool hasInitialBoundary() const { return hasInitialBoundary_; }
    void setHasInitialBoundary(bool has) { hasInitialBoundary_ = has; }
    bool hasFinalBoundary() const { return hasFinalBoundary_; }
    void setHasFinalBoundary(bool has) { hasFinalBoundary_ = has; }

    int phase() const { return phase_; }

    // The stream the body phase reads, made from the body on first use.
    const std::shared_ptr<platform::InputStream>& inputStream();
    // Every header as "Name: value\r\n", then "\r\n".
    std::string stringForHeaders() const;
    // Every byte the part reads: boundary texts, headers and the declared body length.
    std::uint64_t contentLength() const;
    // Until the part has been read to its end.
    bool hasBytesAvailable() const { return !finished_; }

    // Up to `length` bytes of the part, through as many phases as fit; -1 when the body
    // cannot be read, or ends before its declared length (streamError() then says why).
    long read(std::uint8_t* buffer, std::size_t length);
    // Copies what is left of the data from the phase's read offset; moves to the next phase
    // once all of it has been copied.
    std::size_t readData(const platform::Bytes& data, std::uint8_t* buffer, std::size_t length);
    void transitionToNextPhase();

    std::optional<platform::Error> streamError() const { return error_; }

    // Same encoding, headers, boundary, body and length, at the start and without the
    // boundary flags. A stream body is the same stream.
    std::shared_ptr<RAZududeHTTPBodyPart> copy() const;

  private:
    platform::Bytes encoded(std::string_view text) const;
    const platform::Bytes& openingBoundaryBytes();
    const platform::Bytes& headerBytes();
    const platform::Bytes& closingBoundaryBytes();
    long readBody(std::uint8_t* buffer, std::size_t length);

    rzs_network::StringEncoding stringEncoding_ = rzs_network::kUTF8StringEncoding;
    platform::HeaderFields headers_;
    std::string boundary_;
    Body body_;
    std::uint64_t bodyContentLength_ = 0;
    bool hasInitialBoundary_ = false;
    bool hasFinalBoundary_ = false;

    int phase_ = 0;
    std::uint64_t phaseReadOffset_ = 0;
    std::uint64_t bodyBytesRead_ = 0;
    bool finished_ = false;
    std::shared_ptr<platform::InputStream> inputStream_;
    std::optional<platform::Error> error_;
    // Encoded texts, made when first read.
    std::optional<platform::Bytes> opening_;
    std::optional<platform::Bytes> headerText_;
    std::optional<platform::Bytes> closing_;
};

// The body of a multipart request: its parts read one after the other.
class RAZududeMultipartBodyStream : public platform::InputStream {
  public:
    explicit RAZududeMultipartBodyStream(rzs_network::StringEncoding encoding);

    rzs_network::StringEncoding stringEncoding() const { return stringEncoding_; }
    const std::vector<std::shared_ptr<RAZududeHTTPBodyPart>>& HTTPBodyParts() const {
        return parts_;
    }
    void appendHTTPBodyPart(std::shared_ptr<RAZududeHTTPBodyPart> part);
    // The first part opens with the initial boundary, the last one closes the body.
    void setInitialAndFinalBoundaries();
    bool isEmpty() const { return parts_.empty(); }
    std::uint64_t contentLength() const;

    std::uint64_t numberOfBytesInPacket() const { return numberOfBytesInPacket_; }
    void setNumberOfBytesInPacket(std::uint64_t n) { numberOfBytesInPacket_ = n; }
    double delay() const { return delay_; }
    void setDelay(double seconds) { delay_ = seconds; }

    void open() override;
    void close() override;
    platform::StreamStatus streamStatus() const override { return status_; }
    std::optional<platform::Error> streamError() const override { return error_; }
    // The parts' bytes in order: 0 once every part has been read (the stream is then at its
    // end), -1 when a part cannot be read, which puts the stream in the error state for good.
    long read(std::uint8_t* buffer, std::size_t maxLength) override;
    bool hasBytesAvailable() const override { return status_ == platform::StreamStatus::kOpen; }
    // With a delay, each read gives at most one packet and the next may come that much later.
    double secondsUntilReadable() const override;

    // Same encoding and a copy of every part, not yet opened; throttling is not copied.
    std::shared_ptr<RAZududeMultipartBodyStream> copy() const;

  private:
    rzs_network::StringEncoding stringEncoding_;
    std::vector<std::shared_ptr<RAZududeHTTPBodyPart>> parts_;
    std::size_t nextPart_ = 0;
    std::shared_ptr<RAZududeHTTPBodyPart> currentPart_;
    std::uint64_t numberOfBytesInPacket_ = INT64_MAX;
    double delay_ = 0;
    std::chrono::steady_clock::time_point readableAt_{};
    platform::StreamStatus status_ = platform::StreamStatus::kNotOpen;
    std::optional<platform::Error> error_;
};

// The builder of a multipart request.
class RAZududeStreamingMultipartFormData : public RAZududeMultipartFormData {
  public:
    RAZududeStreamingMultipartFormData(const platform::UrlRequest& request,
                                       rzs_network::StringEncoding encoding);

    const platform::UrlRequest& request() const { return request_; }
    rzs_network::StringEncoding stringEncoding() const { return stringEncoding_; }
    // "Boundary+" and 16 upper-case hexadecimal digits, new for every builder.
    const std::string& boundary() const { return boundary_; }
    const std::shared_ptr<RAZududeMultipartBodyStream>& bodyStream() const { return bodyStream_; }

    bool appendPartWithFileURL(const platform::Url& fileURL, std::string_view name,
                               platform::Error* error) override;
    bool appendPartWithFileURL(const platform::Url& fileURL, std::string_view name,
                               std::string_view fileName, std::string_view mimeType,
                               platform::Error* error) override;
    void appendPartWithInputStream(std::shared_ptr<platform::InputStream> inputStream,
                                   std::string_view name, std::string_view fileName,
                                   std::int64_t length, std::string_view mimeType) override;
    void appendPartWithFileData(const platform::Bytes& data, std::string_view name,
                                std::string_view fileName, std::string_view mimeType) override;
    void appendPartWithFormData(const platform::Bytes& data, std::string_view name) override;
    void appendPartWithHeaders(const platform::HeaderFields& headers,
                               const platform::Bytes& body) override;
    void throttleBandwidthWithPacketSize(std::size_t numberOfBytes, double delay) override;

    // The request with the body stream, "Content-Type" and "Content-Length"; unchanged when
    // no part was added.
    platform::UrlRequest requestByFinalizingMultipartFormData();

  private:
    void appendPart(platform::HeaderFields headers, RAZududeHTTPBodyPart::Body body,
                    std::uint64_t length);

    platform::UrlRequest request_;
    rzs_network::StringEncoding stringEncoding_;
    std::string boundary_;
    std::shared_ptr<RAZududeMultipartBodyStream> bodyStream_;
};
