// One request sent over one URL connection, run as an operation: put it on an OperationQueue
// (or call start()) and it loads the request, collects the response and its body, and then
// runs its completion block.
//
// Threads
//   - Any thread (usually the main thread) makes the operation, sets it up and calls start(),
//     cancel(), pause() and resume(); a queue calls start() on one of its workers.
//   - The connection runs on the process's one network thread (networkRequestThread()); every
//     connection callback of every operation runs there, one at a time.
//   - Progress blocks and the start and finish notifications arrive on the main queue; what
//     one turn of the network thread produces for it arrives in one go. A notification
//     that nobody observes when the operation gets to it is not posted.
//   - The completion block runs on completionQueue() (the main queue when none is set).
//
// Ownership
//   - Make operations with create() (or std::make_shared): they hand themselves to their
//     connection and to the queues they post to.
//   - While it loads, the connection keeps the operation alive, and the operation the
//     connection; both let go when the load ends, fails or is cancelled.
//   - Blocks are kept until replaced. The completion block is let go as soon as it has run,
//     which is when the operation finishes; a block posted to the completion queue keeps the
//     operation alive until it has run.
//   - The output stream is the operation's until the load ends; a memory stream is then
//     released (its bytes are responseData()), any other stream is closed and kept.
//
// Order of callbacks for one run
//   1. the start notification ("com.razudude.networking.operation.start"), once the
//      connection is set up (also when a cancel came between start() and the set-up);
//   2. the authentication-challenge, redirect and cache blocks (network thread) and the upload
//      and then download progress blocks (main queue), as the load goes on;
//   3. the finish notification ("com.razudude.networking.operation.finish");
//   4. the completion block, once, last (after the notification when both are on the main
//      queue; a completion block on another queue is not ordered with the notifications).
//   An operation cancelled before it started posts no start notification; it finishes with
//   the URL error -999 and its completion block runs. A cancel that reaches an executing
//   operation ends its load on the network thread, with the same error; progress of bytes
//   that came before it is still reported. pause() stops the load and posts the finish
//   notification (the operation is not finished); bytes that arrive after pause() are
//   dropped, so that a resumed request continues exactly after those kept. resume() makes
//   the operation ready and starts it again.
//
// Failures
//   A transport error, the cancellation, an untrusted server, or an output stream that cannot
//   take the bytes (no space left, a failed write, a file that cannot be opened or written)
//   end the operation with error() set; its completion block still runs. A resumed request
//   answered with a whole body instead of the range starts the body again in a memory stream,
//   and fails with -1011 for any other stream, which cannot be emptied.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "SocialSDK/framework/network/RAZududeNetworkingText.h"
#include "platform/Dispatch.h"
#include "platform/Error.h"
#include "platform/KeyedArchive.h"
#include "platform/Mutex.h"
#include "platform/Operation.h"
#include "platform/Value.h"
#include "platform/net/Authentication.h"
#include "platform/net/NetworkThread.h"
#include "platform/net/Stream.h"
#include "platform/net/UrlConnection.h"
#include "platform/net/UrlRequest.h"
#include "platform/net/UrlResponse.h"

class RAZududeSecurityPolicy;

inline constexpr char RAZududeNetworkingOperationDidStartNotification[] =
    "com.razudude.networking.operation.start";
inline constexpr char RAZududeNetworkingOperationDidFinishNotification[] =
    "com.razudude.networking.operation.finish";

class RAZududeURLConnectionOperation : public platform::Operation,
                                       public platform::UrlConnectionDelegate,
                                       public platform::Archivable {
  public:
    enum State : std::int64_t {
        kPaused = -1,
        kReady = 1,
        kExecuting = 2,
        kFinished = 3,
    };

    // (bytes this time, total bytes so far, total bytes expected or -1)
    using ProgressBlock = std::function<void(std::size_t, std::int64_t, std::int64_t)>;
    using AuthenticationChallengeBlock = std::function<void(
        platform::UrlConnection& connection, const platform::AuthenticationChallenge& challenge)>;
    // Returns the response to cache, nullopt for none.
    using CacheResponseBlock = std::function<std::optional<platform::CachedUrlResponse>(
        platform::UrlConnection& connection, const platform::CachedUrlResponse& proposed)>;
    // Returns the request to send, nullopt to stop at the redirect response.
    using RedirectResponseBlock = std::function<std::optional<platform::UrlRequest>(
        platform::UrlConnection& connection, const platform::UrlRequest& proposed,
        const std::shared_ptr<const platform::UrlResponse>& redirectResponse)>;

    using Operations = std::vector<std::shared_ptr<RAZududeURLConnectionOperation>>;
    // (operations finished so far, operations in the batch)
    using BatchProgressBlock = std::function<void(std::size_t, std::size_t)>;
    using BatchCompletionBlock = std::function<void(const Operations& operations)>;

    static constexpr const char* kClassName = "RAZududeURLConnectionOperation";

    // Ready, for the request; uses credential storage and the default security policy.
    static std::shared_ptr<RAZududeURLConnectionOperation> create(platform::UrlRequest request);
    explicit RAZududeURLConnectionOperation(platform::UrlRequest request);
    ~RAZududeURLConnectionOperation() override;

    // The process's network thread, made on first use: every connection runs there.
    static platform::NetworkThread& networkRequestThread();

    // --- the operation's life (any thread) ---
    void start() override;
    void cancel() override;
    // Stops a ready or executing operation until resume(); nothing when it is paused,
    // finished or cancelled.
    virtual void pause();
    // Makes a paused operation ready and starts it again.
    void resume();
    bool isPaused() const;
    bool isReady() const override;
    bool isAsynchronous() const override { return true; }
    // start() only hands the load to the network thread.
    bool startReturnsAtOnce() const override { return true; }
    State state() const;

    // The block runs on completionQueue() within completionGroup() once the operation has
    // finished; an empty block clears it.
    void setCompletionBlock(std::function<void()> block) override;

    // --- what was sent and what came back ---
    platform::UrlRequest request() const;
    std::shared_ptr<const platform::UrlResponse> response() const;
    // The transport error, cancellation (-999 in the URL error domain) or output-stream error.
    virtual std::optional<platform::Error> error() const;
    // The body, once the load finished into a memory stream; nullopt before and for other
    // output streams.
    std::optional<platform::Bytes> responseData() const;
    // The body as text in responseStringEncoding(); nullopt without a response or body, or
    // when the body is not valid text in that encoding. Worked out once.
    std::optional<std::string> responseString() const;
    // The response's charset, UTF-8 when it names none or an unknown one; 0 before a response
    // arrived. Worked out once.
    rzs_network::StringEncoding responseStringEncoding() const;
    // Bytes received so far; grows on the main queue.
    std::int64_t totalBytesRead() const { return totalBytesRead_.load(); }

    // The request's body stream; setting one replaces the request's body.
    std::shared_ptr<platform::InputStream> inputStream() const;
    void setInputStream(std::shared_ptr<platform::InputStream> stream);
    // Where received bytes go: a memory stream unless set. Set it before the operation starts;
    // a different stream closes the one it replaces.
    std::shared_ptr<platform::OutputStream> outputStream() const;
    void setOutputStream(std::shared_ptr<platform::OutputStream> stream);
    // The most bytes, once decoded, that an output stream to memory may gather; a body past it
    // fails the operation with -1103 in the URL error domain and what was gathered is let go.
    // 64 MiB unless set; 0 means no ceiling. Streams to files or elsewhere have none.
    static constexpr std::size_t kDefaultMaximumResponseDataLength = std::size_t{64} << 20;
    std::size_t maximumResponseDataLength() const { return maximumResponseDataLength_.get(); }
    void setMaximumResponseDataLength(std::size_t bytes) { maximumResponseDataLength_.set(bytes); }

    // --- authentication ---
    bool shouldUseCredentialStorage() const { return shouldUseCredentialStorage_.get(); }
    void setShouldUseCredentialStorage(bool use) { shouldUseCredentialStorage_.set(use); }
    // Offered once to an HTTP authentication challenge.
    std::optional<platform::Credential> credential() const { return credential_.get(); }
    void setCredential(std::optional<platform::Credential> credential) {
        credential_.set(std::move(credential));
    }
    // Decides server-trust challenges unless an authentication-challenge block is set.
    std::shared_ptr<RAZududeSecurityPolicy> securityPolicy() const { return securityPolicy_.get(); }
    void setSecurityPolicy(std::shared_ptr<RAZududeSecurityPolicy> policy) {
        securityPolicy_.set(std::move(policy));
    }

    // --- where the completion block runs; empty: the main queue and a shared group ---
    std::shared_ptr<platform::DispatchQueue> completionQueue() const {
        return completionQueue_.get();
    }
    void setCompletionQueue(std::shared_ptr<platform::DispatchQueue> queue) {
        completionQueue_.set(std::move(queue));
    }
    std::shared_ptr<platform::DispatchGroup> completionGroup() const {
        return completionGroup_.get();
    }
    void setCompletionGroup(std::shared_ptr<platform::DispatchGroup> group) {
        completionGroup_.set(std::move(group));
    }

    // Free for the caller.
    platform::Map userInfo() const { return userInfo_.get(); }
    void setUserInfo(platform::Map userInfo) { userInfo_.set(std::move(userInfo)); }

    // --- blocks; each replaces the one before ---
    void setUploadProgressBlock(ProgressBlock block) { uploadProgress_.set(std::move(block)); }
    void setDownloadProgressBlock(ProgressBlock block) { downloadProgress_.set(std::move(block)); }
    // Answers every authentication challenge itself, through the challenge's sender.
    void setWillSendRequestForAuthenticationChallengeBlock(AuthenticationChallengeBlock block) {
        authenticationChallenge_.set(std::move(block));
    }
    void setCacheResponseBlock(CacheResponseBlock block) { cacheResponse_.set(std::move(block)); }
    void setRedirectResponseBlock(RedirectResponseBlock block) {
        redirectResponse_.set(std::move(block));
    }

    // The operations followed by one more that runs once all of them have finished and calls
    // the completion block, on the main queue, with the operations given. Each operation's
    // completion block is kept and runs first; the progress block then gets the count of
    // finished operations. Queue everything returned. An empty list gives one operation that
    // calls the completion block with an empty list.
    static std::vector<std::shared_ptr<platform::Operation>> batchOfRequestOperations(
        const Operations& operations, BatchProgressBlock progressBlock,
        BatchCompletionBlock completionBlock);

    // "<RAZududeURLConnectionOperation: 0x…, state: isReady, cancelled: NO request: …,
    // response: …>"
    std::string description() const;

    // A new ready operation for the same request with the same blocks (not the completion
    // block), completion queue and group; neither state nor response is copied.
    virtual std::shared_ptr<RAZududeURLConnectionOperation> copy() const;

    // Archiving: an operation in flight is paused first and comes back ready.
    static constexpr bool supportsSecureCoding() { return true; }
    std::string archiveClassName() const override { return kClassName; }
    std::vector<std::string> archiveSuperclassNames() const override {
        return {"NSOperation", "NSObject"};
    }
    void encode(platform::KeyedArchiver& coder) const override;
    // Makes an operation again from an archive; nullptr (and the archive fails) when it holds
    // no request.
    static std::shared_ptr<RAZududeURLConnectionOperation> decode(platform::KeyedUnarchiver& coder);
    // Lets archives make operations of this class again; done before they are read.
    static void registerArchiveClass();

    // --- connection delegate (network thread) ---
    void willSendRequestForAuthenticationChallenge(
        platform::UrlConnection& connection,
        const platform::AuthenticationChallenge& challenge) override;
    // The security policy's, unless the authentication-challenge block answers.
    std::optional<std::string> serverTrustJudgement(platform::UrlConnection& connection) override;
    bool connectionShouldUseCredentialStorage(platform::UrlConnection& connection) override;
    std::optional<platform::UrlRequest> willSendRequest(
        platform::UrlConnection& connection, const platform::UrlRequest& request,
        const std::shared_ptr<const platform::UrlResponse>& redirectResponse) override;
    void didSendBodyData(platform::UrlConnection& connection, std::int64_t bytesWritten,
                         std::int64_t totalBytesWritten,
                         std::int64_t totalBytesExpectedToWrite) override;
    void didReceiveResponse(platform::UrlConnection& connection,
                            const std::shared_ptr<const platform::UrlResponse>& response) override;
    void didReceiveData(platform::UrlConnection& connection,
                        std::span<const std::uint8_t> data) override;
    // Only a cache-response block reads the offer: nothing caches here.
    bool respondsToWillCacheResponse() const override;
    std::optional<platform::CachedUrlResponse> willCacheResponse(
        platform::UrlConnection& connection, const platform::CachedUrlResponse& proposed) override;
    void didFinishLoading(platform::UrlConnection& connection) override;
    void didFailWithError(platform::UrlConnection& connection,
                          const platform::Error& error) override;

  protected:
    // Applies a change the state machine allows and ignores any other:
    //   Ready -> Paused, Executing, or Finished when cancelled; Executing -> Paused, Finished;
    //   Paused -> Ready; Finished -> nothing.
    void setState(State state);
    // The text of a state in descriptions: "isPaused", "isReady", "isExecuting", "isFinished".
    static const char* stateKey(std::int64_t state);

    void setRequest(platform::UrlRequest request);
    // Bytes written to the output stream so far: its file offset, else its memory length.
    std::uint64_t bytesWrittenToOutputStream() const;

    // Copies what copy() keeps into another operation.
    void copyInto(RAZududeURLConnectionOperation& other) const;
    // The archived request; nullopt (and the archive fails) when there is none.
    static std::optional<platform::UrlRequest> decodedRequest(platform::KeyedUnarchiver& coder);
    // Reads what encode() wrote into an operation made for the archived request.
    void decodeInto(platform::KeyedUnarchiver& coder);

    std::shared_ptr<RAZududeURLConnectionOperation> sharedSelf();

    // The request a paused operation resumes with, asked with the operation's lock held when
    // a pause takes effect: the paused request itself, unless a subclass asks the server to
    // continue what the operation kept.
    virtual platform::UrlRequest requestToResume(platform::UrlRequest paused) const {
        return paused;
    }

  private:
    // Guards the state and the load's fields below; recursive, so that a method holding it
    // may call another that takes it.
    mutable std::recursive_mutex lock_;

    void operationDidStart(std::uint64_t run);
    void operationDidPause();
    void cancelConnection();
    void finish();
    // Ends the load with an error of the operation's own (an output stream that failed).
    void failConnection(const platform::Error& error);
    bool isCurrentConnection(const platform::UrlConnection& connection) const;
    void restartBodyForFullResponse(const std::shared_ptr<const platform::UrlResponse>& response);
    std::shared_ptr<platform::OutputStream> outputStreamLocked() const;

    State state_ = kReady;
    // Counts pauses: a load set up on the network thread belongs to the run that asked for it.
    std::uint64_t run_ = 0;
    // The run whose load `connection_` is: after a pause and a quick resume, the paused run's
    // connection may still deliver until the network thread cancels it.
    std::uint64_t connectionRun_ = 0;
    platform::UrlRequest request_;
    std::shared_ptr<const platform::UrlResponse> response_;
    std::optional<platform::Error> error_;
    std::optional<platform::Bytes> responseData_;
    mutable std::optional<std::optional<std::string>> responseString_;
    mutable rzs_network::StringEncoding responseStringEncoding_ = 0;
    mutable std::shared_ptr<platform::OutputStream> outputStream_;
    // The caller's completion block until the operation finishes and hands it to its queue.
    std::function<void()> callerCompletion_;
    std::shared_ptr<platform::UrlConnection> connection_;
    std::atomic<std::int64_t> totalBytesRead_{0};

    // Settings, each on its own: none depends on the state or on another.
    platform::Guarded<std::size_t> maximumResponseDataLength_{kDefaultMaximumResponseDataLength};
    platform::Guarded<bool> shouldUseCredentialStorage_{true};
    platform::Guarded<std::optional<platform::Credential>> credential_;
    platform::Guarded<std::shared_ptr<RAZududeSecurityPolicy>> securityPolicy_;
    platform::Guarded<std::shared_ptr<platform::DispatchQueue>> completionQueue_;
    platform::Guarded<std::shared_ptr<platform::DispatchGroup>> completionGroup_;
    platform::Guarded<platform::Map> userInfo_;
    platform::Guarded<ProgressBlock> uploadProgress_;
    platform::Guarded<ProgressBlock> downloadProgress_;
    platform::Guarded<AuthenticationChallengeBlock> authenticationChallenge_;
    platform::Guarded<CacheResponseBlock> cacheResponse_;
    platform::Guarded<RedirectResponseBlock> redirectResponse_;
};
