#include "SocialSDK/core/manager/RZSRequestGate.h"

#include <mutex>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "platform/Format.h"
#include "platform/MainLoop.h"

namespace {

std::mutex& senderMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

RZSRequestGate::Sender& currentSender() {
    static auto* sender = new RZSRequestGate::Sender;
    return *sender;
}

}  // namespace

void RZSRequestGate::send(RZSRequest request) {
    Sender sender;
    {
        std::lock_guard lock(senderMutex());
        sender = currentSender();
    }
    if (sender) {
        sender(std::move(request));
        return;
    }
    RAZududeUtils::outLog([&] {
        return platform::format("request kind %d not sent: no request pipeline", request.kind);
    });
    platform::MainLoop::main().post(
        [kind = request.kind, completion = std::move(request.completion)] {
            if (completion) {
                completion(unsentResponse(kind));
            }
        });
}

RZSRequestGate::Sender RZSRequestGate::setSender(Sender sender) {
    std::lock_guard lock(senderMutex());
    std::swap(currentSender(), sender);
    return sender;
}

RAZududeResponsePtr RZSRequestGate::unsentResponse(int kind) {
    auto response = makeRAZududeResponse(kRAZududeResponseNetworkError,
                                         "network error, you can get details in error");
    response->setResponseType(kind);
    response->setError(
        platform::Error(kErrorDomain, -1,
                        {{platform::kLocalizedDescriptionKey,
                          "The request could not be sent: this build has no request pipeline."}}));
    return response;
}
