#include "SocialSDK/core/protocol/RAZududeJob.h"

#include <algorithm>
#include <chrono>

#include "RZBase_Source/Encode/RAZududeCryptor.h"
#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/protocol/RAZududeHttpClient.h"
#include "SocialSDK/core/protocol/RAZududeJobFactory.h"
#include "SocialSDK/core/protocol/RZSEntityFactory.h"
#include "SocialSDK/framework/network/RAZududeHTTPRequestOperation.h"
#include "SocialSDK/framework/network/RAZududeMultipartFormData.h"
#include "SocialSDK/framework/network/RAZududeURLRequestSerialization.h"
#include "platform/Format.h"
#include "platform/MainLoop.h"
#include "platform/Operation.h"

namespace {

constexpr int kLikeKind = 1;
constexpr int kBarKind = 3;

platform::Error jobError(int code, const std::string& message) {
    return platform::Error(RAZududeJob::kErrorDomain, code,
                           {{platform::kLocalizedDescriptionKey, message}});
}

}  // namespace

RAZududeJob::RAZududeJob()
    : rzHttpClient_(RAZududeHttpClient::sharedInstance()),
      queue_(std::make_unique<platform::OperationQueue>()) {
    rzHttpClient_->setTimeoutInterval(std::chrono::seconds(60));
    dataManagerHash_ = RZSDataManager::currentDataManager()->identifier().value_or(std::string());
}

RAZududeJob::~RAZududeJob() = default;

std::shared_ptr<RZSDataManager> RAZududeJob::ownDataManager() const {
    return RZSDataManagerSet::shareInstance().dataManagerForIdentifier(dataManagerHash_);
}

// ---- sending ---------------------------------------------------------------------------

std::optional<std::string> RAZududeJob::encryPathString(const std::string& path) const {
    if (!isEncry_) {
        return path;
    }
    const std::size_t mark = path.find('?');
    if (mark == std::string::npos || mark + 1 == path.size()) {
        return path;
    }
    auto cipher = RAZududeCryptor::sharedInstance().AES128Encrypt(path.substr(mark + 1));
    if (!cipher) {
        return std::nullopt;
    }
    return path.substr(0, mark + 1) + "ud_get=" + *cipher;
}

void RAZududeJob::makeResquest() {
    RAZududeUtils::outLog([&] {
        return platform::format("makeRequestWithPath is %@, parameters is %@", pathString_,
                                baseDic_ ? platform::Value(*baseDic_) : platform::Value());
    });
    if (networkType_ != kNetworkPost && networkType_ != kNetworkGet &&
        networkType_ != kNetworkMultipartPost) {
        failLater(
            kErrorNotSent,
            platform::format("request kind %d has no transport; nothing was sent", actionType_));
        return;
    }
    auto path = encryPathString(pathString_.value_or(std::string()));
    if (!path) {
        failLater(kErrorNotSent, "the request could not be enciphered: no AppKey is set");
        return;
    }
    pathString_ = *path;
    if (isEncry_ && baseDic_) {
        // The picture travels as its own part; the rest as one enciphered field.
        auto json = RAZududeUtils::JSONFragment(platform::Value(*baseDic_));
        auto cipher = json ? RAZududeCryptor::sharedInstance().AES128Encrypt(*json) : std::nullopt;
        if (!cipher) {
            failLater(kErrorNotSent, "the request body could not be enciphered");
            return;
        }
        baseDic_ = platform::Map{{"ud_post", *cipher}};
    }
    switch (networkType_) {
        case kNetworkGet:
            makeRequestWithMethord("GET", *pathString_, baseDic_);
            break;
        case kNetworkPost:
            makeRequestWithMethord("POST", *pathString_, baseDic_);
            break;
        default:
            makeMutilPostRequest(*pathString_);
            break;
    }
}

std::string RAZududeJob::urlString(const std::string& path) const {
    const auto& base = rzHttpClient_->baseURL();
    return platform::format("%@%@", base ? base->absoluteString() : std::string(), path);
}

void RAZududeJob::makeRequestWithMethord(const std::string& method, const std::string& path,
                                         const std::optional<platform::Map>& parameters) {
    std::optional<platform::Value> values;
    if (parameters) {
        values = platform::Value(*parameters);
    }
    platform::Error error;
    send(rzHttpClient_->requestSerializer()->requestWithMethod(method, urlString(path), values,
                                                               &error));
}

void RAZududeJob::makeMutilPostRequest(const std::string& path) {
    std::optional<platform::Value> values;
    if (baseDic_) {
        values = platform::Value(*baseDic_);
    }
    RAZududeShareImage picture = shareImage_;
    platform::Error error;
    auto request = rzHttpClient_->requestSerializer()->multipartFormRequestWithMethod(
        "POST", urlString(path), values,
        [picture](RAZududeMultipartFormData& form) {
            if (auto image = picture.image()) {
                form.appendPartWithFileData(image->encodeJpeg(0.9), "pic", "pic.jpg", "file-data");
            } else if (const platform::Bytes* bytes = picture.data()) {
                form.appendPartWithFileData(*bytes, "pic", "pic.gif", "file-data");
            }
        },
        &error);
    shareImage_ = RAZududeShareImage();
    send(std::move(request));
}

void RAZududeJob::send(std::optional<platform::UrlRequest> request) {
    if (!request) {
        failLater(kErrorNotSent, "the request could not be built");
        return;
    }
    request->setTimeoutInterval(platform::Seconds(rzHttpClient_->timeoutInterval()).count());
    request->setCachePolicy(platform::UrlRequestCachePolicy::kReloadIgnoringLocalCacheData);
    operation_ = RAZududeHTTPRequestOperation::create(std::move(*request));
    auto self = shared_from_this();
    operation_->setCompletionBlockWithSuccess(
        [self](const std::shared_ptr<RAZududeHTTPRequestOperation>&,
               const RAZududeResponseObject& object) {
            const platform::Bytes* bytes = object.data();
            self->handleSuccessJson(bytes ? *bytes : platform::Bytes());
        },
        [self](const std::shared_ptr<RAZududeHTTPRequestOperation>&, const platform::Error& error) {
            self->handleFail(error);
        });
    queue_->addOperation(operation_);
}

void RAZududeJob::cancel() {
    cancelled_ = true;
    completion_ = nullptr;
    if (operation_) {
        operation_->cancel();
    }
}

// ---- finishing -------------------------------------------------------------------------

void RAZududeJob::failLater(int code, std::string message) {
    platform::MainLoop::main().post(
        [self = shared_from_this(), code, message = std::move(message)] {
            self->fail(jobError(code, message), message);
        });
}

RAZududeResponsePtr RAZududeJob::failureResponse(int kind, const platform::Error& error,
                                                 std::string message) {
    auto response = makeRAZududeResponse(kRAZududeResponseNetworkError, std::move(message));
    response->setError(error);
    response->setResponseType(kind);
    return response;
}

void RAZududeJob::handleFail(const platform::Error& error) {
    fail(error, kNetworkErrorMessage);
}

void RAZududeJob::fail(const platform::Error& error, std::string message) {
    if (cancelled_ || finished_) {
        return;
    }
    finished_ = true;
    operation_.reset();
    RAZududeUtils::outLog([&] {
        return platform::format("request kind %d failed: %@ (%@)", actionType_, message,
                                error.localizedDescription());
    });
    handleNextAction();
    auto manager = ownDataManager();
    // A fresh response: one that a caller kept from an earlier reply stays as it was.
    auto response = failureResponse(actionType_, error, std::move(message));
    if (manager) {
        manager->setResponseEntity(response);
    }
    if (auto completion = std::exchange(completion_, nullptr)) {
        completion(response);
    }
    if (manager) {
        if (auto delegate = manager->netWorkDelegate()) {
            delegate->didFinishGetResponseInSDK(response);
        }
    }
}

void RAZududeJob::handleSuccessJson(const platform::Bytes& reply) {
    if (cancelled_ || finished_) {
        return;
    }
    std::string text(reply.begin(), reply.end());
    std::optional<std::string> plain =
        isEncry_ ? RAZududeCryptor::sharedInstance().AES128Decrypt(text) : std::optional(text);
    if (!plain) {
        fail(jobError(kErrorUnreadableReply, "not cipher text"),
             "the share service's reply could not be deciphered");
        return;
    }
    std::optional<platform::Value> parsed = RAZududeUtils::JSONValue(*plain);
    RAZududeUtils::outLog([&] {
        return platform::format("actionType is %d , received json Dic is %@", actionType_,
                                parsed ? parsed->description() : std::string("(null)"));
    });
    if (!parsed || !parsed->map()) {
        fail(jobError(kErrorUnreadableReply, "not a JSON object"),
             "the share service's reply is not a JSON object");
        return;
    }
    const platform::Map& envelope = *parsed->map();
    if (!envelope["st"].isNumber()) {
        fail(jobError(kErrorUnreadableReply, "no result code"),
             "the share service's reply has no result code");
        return;
    }
    finished_ = true;
    operation_.reset();
    const platform::Value* data = envelope.find("data");
    const platform::Value& payload = data ? *data : *parsed;

    auto& set = RZSDataManagerSet::shareInstance();
    set.setCurrentDataHash(dataManagerHash_);
    auto manager = ownDataManager();
    auto& factory = RZSEntityFactory::sharedInstance();
    factory.setConfig(actionType_);
    if (envelope["st"].intValue() == kRAZududeResponseSuccess) {
        // Only a reply that succeeded may replace what the device stores.
        factory.saveObjects(payload, paramDic_);
    }
    auto response = factory.makeResponse(envelope);
    handleNextAction();
    if (manager) {
        response = manager->responseEntity();
    }
    response->setResponseType(actionType_);

    if (actionType_ == kLikeKind && response->responseCode() == kRAZududeResponseSuccess &&
        manager) {
        auto bar = manager->barEntity();
        bar->setLikeCount(bar->likeCount() + (bar->isLike() ? -1 : 1));
        bar->setIsLike(!bar->isLike());
        manager->setBarEntity(bar);
    }
    if (auto completion = std::exchange(completion_, nullptr)) {
        completion(response);
    }
    if (auto current = set.dataManager()) {
        if (auto delegate = current->netWorkDelegate()) {
            delegate->didFinishGetResponseInSDK(response);
        }
    }
}

void RAZududeJob::handleNextAction() {
    auto manager = ownDataManager();
    if (!manager) {
        return;
    }
    manager->removeAction(shared_from_this());
    const auto& queue = manager->actionArray();
    if (queue.empty()) {
        return;
    }
    RAZududeJobPtr next = queue.front();
    // The next request reads the entity key and the share of its own record.
    RZSDataManagerSet::shareInstance().setCurrentDataHash(dataManagerHash_);
    if (!next->updateAction()) {
        next->failLater(kErrorNotSent, "the request could not be rebuilt: no AppKey is set");
        return;
    }
    next->makeResquest();
}

bool RAZududeJob::updateAction() {
    auto fresh = RAZududeJobFactory::sharedInstance().createSocialJob(actionType_, paramDic_);
    if (!fresh) {
        return false;
    }
    if (actionType_ != kBarKind) {
        pathString_ = fresh->pathString();
    }
    baseDic_ = fresh->baseDic();
    shareImage_ = fresh->shareImage();
    networkType_ = fresh->networkType();
    return true;
}
