// An HTTP request operation: a connection operation whose response goes through a response
// serializer and ends in exactly one of two callbacks, success with the serialized response
// object or failure with an error. This is what the share service's request jobs queue.
//
// Threads
//   - As for RAZududeURLConnectionOperation: set it up on any thread, the load runs on the
//     network thread.
//   - The response serializer runs once the operation has finished, on the concurrent queue
//     "com.razudude.networking.http-request.processing", off the main thread; several
//     operations may serialize at once. A serializer that only checks the response and hands
//     the body on as it is (handsBodyOnAsIs()) runs on the completion queue instead, just
//     before the callback, which saves two hops for nothing.
//   - Success and failure run on completionQueue() (the main queue when none is set).
//
// Ownership
//   - The completion installed by setCompletionBlockWithSuccess() keeps the operation alive
//     from its finish until the success or failure block has run, and lets go of the blocks
//     then; it never keeps an operation that does not finish.
//   - The response object and the serialization error are kept by the operation until its
//     response serializer is replaced.
//
// Order of callbacks
//   The finish notification, then one of success or failure (exactly one when both are given,
//   never both), last. A transport error, a cancel (the URL error -999) or an untrusted server
//   goes to failure without running the serializer. A status or content type that the
//   serializer refuses goes to failure with the serializer's error; responseObject() still
//   holds what it made of the body. When completionGroup() is set, it is entered before the
//   serializer runs and left after the callback was submitted, so that its notification
//   comes after the callback.
//
// pause() adds "Range" (and "If-Range" with the response's ETag) to the request, so that
// resume() asks only for the bytes not yet received; a server that sends the whole body
// instead makes the body start again.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "SocialSDK/framework/network/RAZududeURLConnectionOperation.h"
#include "SocialSDK/framework/network/RAZududeURLResponseSerialization.h"
#include "platform/Error.h"
#include "platform/Mutex.h"
#include "platform/Value.h"

class RAZududeHTTPRequestOperation : public RAZududeURLConnectionOperation {
  public:
    // What a response serializer makes of a body: the bytes themselves for the default
    // serializer, parsed JSON for the JSON serializer, an image…; nil for nothing.
    using ResponseObject = RAZududeResponseObject;
    using SuccessBlock =
        std::function<void(const std::shared_ptr<RAZududeHTTPRequestOperation>& operation,
                           const ResponseObject& responseObject)>;
    // The operation is null when the request could not even be built (operation manager).
    using FailureBlock =
        std::function<void(const std::shared_ptr<RAZududeHTTPRequestOperation>& operation,
                           const platform::Error& error)>;

    static constexpr const char* kClassName = "RAZududeHTTPRequestOperation";

    // Ready, with the default HTTP response serializer (the body's bytes, statuses 200-299).
    static std::shared_ptr<RAZududeHTTPRequestOperation> create(platform::UrlRequest request);
    explicit RAZududeHTTPRequestOperation(platform::UrlRequest request);

    // Installs the completion that serializes the response and calls one of the blocks; either
    // may be empty. Replaces any completion block set before.
    void setCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure);

    std::shared_ptr<RAZududeHTTPResponseSerializer> responseSerializer() const;
    // Throws std::invalid_argument for a null serializer. Clears the response object and the
    // serialization error, so that the next read serializes again with the new serializer.
    void setResponseSerializer(std::shared_ptr<RAZududeHTTPResponseSerializer> serializer);

    // The serializer's result, worked out once the operation has finished without an error;
    // nil before that.
    ResponseObject responseObject() const;
    void setResponseObject(ResponseObject object);
    std::optional<platform::Error> responseSerializationError() const;
    void setResponseSerializationError(std::optional<platform::Error> error);
    // The serialization error when there is one, else the connection's error.
    std::optional<platform::Error> error() const override;

    // The response as an HTTP response (null before one came, or for another scheme).
    std::shared_ptr<const platform::HttpUrlResponse> httpResponse() const;

    // The base copy with a copy of the response serializer.
    std::shared_ptr<RAZududeURLConnectionOperation> copy() const override;

    std::string archiveClassName() const override { return kClassName; }
    std::vector<std::string> archiveSuperclassNames() const override {
        return {RAZududeURLConnectionOperation::kClassName, "NSOperation", "NSObject"};
    }
    void encode(platform::KeyedArchiver& coder) const override;
    static std::shared_ptr<RAZududeHTTPRequestOperation> decode(platform::KeyedUnarchiver& coder);
    static void registerArchiveClass();

  protected:
    // The paused request asking for the rest of the body: "Range" from the bytes kept, and
    // "If-Range" with the response's entity tag, so that a changed body comes whole.
    platform::UrlRequest requestToResume(platform::UrlRequest paused) const override;

  private:
    mutable platform::Mutex mutex_;
    mutable std::shared_ptr<RAZududeHTTPResponseSerializer> responseSerializer_
        RZ_GUARDED_BY(mutex_);
    mutable ResponseObject responseObject_ RZ_GUARDED_BY(mutex_);
    mutable std::optional<platform::Error> responseSerializationError_ RZ_GUARDED_BY(mutex_);
};
