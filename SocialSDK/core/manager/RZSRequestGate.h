// Where the requests of the data managers and the user manager to the share service go.
//
// The request pipeline (jobs, cipher, HTTP) takes this place once it is built. Until then every
// request is answered on the main loop as one that could not be sent: code 5050, the request's
// kind as response type, and an error that says why, so that each road that waits for an answer
// ends cleanly and visibly.
#pragma once

#include <functional>

#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "platform/Value.h"

// The kinds of request to the share service that the share record, the flows and the usage
// counts start.
enum RZSRequestKind : int {
    kRZSRequestShareToMultiSns = 5,
    kRZSRequestBarInfo = 3,
    kRZSRequestSnsAccount = 10,
    kRZSRequestAddSnsAccount = 15,
    kRZSRequestAppInfo = 16,
    kRZSRequestOpAnalytics = 18,
};

struct RZSRequest {
    int kind = 0;
    // What the request carries, as the request builder reads it.
    platform::Map parameters;
    // Called once with the answer; may be empty.
    RAZududeResponseCompletion completion;
};

class RZSRequestGate {
  public:
    using Sender = std::function<void(RZSRequest request)>;

    static void send(RZSRequest request);

    // Makes `sender` take every request from now on and answers the one it replaces; an empty
    // sender brings back the answer of an unsent request.
    static Sender setSender(Sender sender);

    // The answer to a request that could not be sent.
    static RAZududeResponsePtr unsentResponse(int kind);

    static constexpr const char* kErrorDomain = "RAZududeRequestErrorDomain";
};
