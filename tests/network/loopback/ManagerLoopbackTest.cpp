// The operation manager's verbs against the loopback peer's echo, with the real request and
// response serializers; multipart bodies are read back by Python's email parser.
#include <gtest/gtest.h>

#include <string>

#include "SocialSDK/framework/network/RAZududeHTTPRequestOperationManager.h"
#include "SocialSDK/framework/network/RAZududeMultipartFormData.h"
#include "SocialSDK/framework/network/RAZududeURLRequestSerialization.h"
#include "SocialSDK/framework/network/RAZududeURLResponseSerialization.h"
#include "platform/Value.h"
#include "tests/network/OperationTestSupport.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/TempDir.h"

namespace {

using operation_tests::drainMainLoop;
using operation_tests::pumpUntil;
using HTTPOp = RAZududeHTTPRequestOperation;
using Manager = RAZududeHTTPRequestOperationManager;

class ManagerLoopback : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { peer_.start(); }
    static void TearDownTestSuite() { peer_.stop(); }

    void SetUp() override { manager_ = std::make_unique<Manager>(platform::Url::parse(base())); }

    static std::string base() { return peer_->baseUrl() + "/echo"; }

    // Waits for the one callback of the operation; the echo's JSON on success.
    struct Result {
        int successes = 0;
        int failures = 0;
        std::shared_ptr<HTTPOp> operation;
        RAZududeResponseObject object;
        std::optional<platform::Error> error;
    };
    static std::pair<HTTPOp::SuccessBlock, HTTPOp::FailureBlock> blocks(Result& result) {
        return {[&result](const std::shared_ptr<HTTPOp>& op, const RAZududeResponseObject& o) {
                    ++result.successes;
                    result.operation = op;
                    result.object = o;
                },
                [&result](const std::shared_ptr<HTTPOp>& op, const platform::Error& e) {
                    ++result.failures;
                    result.operation = op;
                    result.error = e;
                }};
    }
    static void wait(const Result& result) {
        ASSERT_TRUE(pumpUntil([&] { return result.successes + result.failures > 0; }));
        drainMainLoop(0.05);
        EXPECT_EQ(result.successes + result.failures, 1);
    }
    static const platform::Value& json(const Result& result) {
        static const platform::Value none;
        return result.object.value() ? *result.object.value() : none;
    }

    static inline testing_support::SuitePeer peer_{"operation_peer.py"};
    std::unique_ptr<Manager> manager_;
};

TEST_F(ManagerLoopback, GetPutsParametersInTheQueryBelowTheBase) {
    Result result;
    auto [success, failure] = blocks(result);
    auto op = manager_->GET("items", platform::Value(platform::Map{{"b", 1}, {"a", "x y"}}),
                            success, failure);
    ASSERT_TRUE(op);
    wait(result);
    ASSERT_EQ(result.successes, 1) << (result.error ? result.error->description() : "");
    EXPECT_EQ(result.operation, op);
    EXPECT_EQ(json(result)["method"].stringValue(), "GET");
    EXPECT_EQ(json(result)["path"].stringValue(), "/echo/items?a=x%20y&b=1");
}

TEST_F(ManagerLoopback, EveryVerbReachesTheServerWithItsMethod) {
    for (const std::string verb : {"POST", "PUT", "PATCH", "DELETE"}) {
        SCOPED_TRACE(verb);
        Result result;
        auto [success, failure] = blocks(result);
        const platform::Value parameters(platform::Map{{"k", "v"}});
        std::shared_ptr<HTTPOp> op;
        if (verb == "POST") {
            op = manager_->POST("v", parameters, success, failure);
        } else if (verb == "PUT") {
            op = manager_->PUT("v", parameters, success, failure);
        } else if (verb == "PATCH") {
            op = manager_->PATCH("v", parameters, success, failure);
        } else {
            op = manager_->DELETE("v", parameters, success, failure);
        }
        ASSERT_TRUE(op);
        wait(result);
        ASSERT_EQ(result.successes, 1);
        EXPECT_EQ(json(result)["method"].stringValue(), verb);
        const std::string body = testing_support::runPython(
            "import base64,json,sys; sys.stdout.write(base64.b64decode(json.load(sys.stdin)"
            "['body']).decode())",
            op->responseString().value_or(""));
        if (verb == "DELETE") {
            EXPECT_EQ(json(result)["path"].stringValue(), "/echo/v?k=v");
            EXPECT_EQ(body, "");
        } else {
            EXPECT_EQ(body, "k=v");
        }
    }
}

TEST_F(ManagerLoopback, HeadSucceedsWithTheOperationOnly) {
    int successes = 0;
    std::shared_ptr<HTTPOp> received;
    auto op = manager_->HEAD(
        "h", std::nullopt,
        [&](const std::shared_ptr<HTTPOp>& operation) {
            ++successes;
            received = operation;
        },
        nullptr);
    ASSERT_TRUE(op);
    ASSERT_TRUE(pumpUntil([&] { return successes == 1; }));
    EXPECT_EQ(received, op);
}

TEST_F(ManagerLoopback, AMultipartPostCarriesTheParametersThenTheBlocksParts) {
    Result result;
    auto [success, failure] = blocks(result);
    auto op = manager_->POST(
        "upload", platform::Value(platform::Map{{"title", "hello"}}),
        [](RAZududeMultipartFormData& form) {
            form.appendPartWithFileData(platform::Bytes{0x89, 'P', 'N', 'G'}, "pic", "pic.png",
                                        "image/png");
        },
        success, failure);
    ASSERT_TRUE(op);
    wait(result);
    ASSERT_EQ(result.successes, 1);
    const std::string parts = testing_support::runPython(R"(
import base64, email, json, sys
echo = json.load(sys.stdin)
headers = dict((k.lower(), v) for k, v in echo['headers'])
raw = b'Content-Type: ' + headers['content-type'].encode() + b'\r\n\r\n' + base64.b64decode(echo['body'])
for part in email.message_from_bytes(raw).get_payload():
    print(part.get_param('name', header='content-disposition'), part.get_content_type(),
          part.get_payload(decode=True).hex())
)",
                                                         op->responseString().value_or(""));
    EXPECT_EQ(parts, "title text/plain 68656c6c6f\npic image/png 89504e47\n");
}

TEST_F(ManagerLoopback, ANonJsonReplyFailsWithTheSerializersError) {
    Manager manager(platform::Url::parse(peer_->baseUrl()));
    Result result;
    auto [success, failure] = blocks(result);
    ASSERT_TRUE(manager.GET("text?body=plain", std::nullopt, success, failure));
    wait(result);
    ASSERT_EQ(result.failures, 1);
    EXPECT_EQ(result.error->domain(), kRAZududeURLResponseSerializationErrorDomain);
    EXPECT_EQ(result.error->code(), platform::kUrlErrorCannotDecodeContentData);
}

TEST_F(ManagerLoopback, AServerErrorFailsAndCancellingFailsWithTheCancellation) {
    Manager manager(platform::Url::parse(peer_->baseUrl()));
    Result broken;
    auto [success, failure] = blocks(broken);
    ASSERT_TRUE(manager.GET("status/503", std::nullopt, success, failure));
    wait(broken);
    ASSERT_EQ(broken.failures, 1);
    EXPECT_EQ(broken.error->code(), platform::kUrlErrorBadServerResponse);

    Result stalled;
    auto [stalledSuccess, stalledFailure] = blocks(stalled);
    auto op = manager.GET("stall", std::nullopt, stalledSuccess, stalledFailure);
    ASSERT_TRUE(op);
    ASSERT_TRUE(pumpUntil([&] { return op->totalBytesRead() > 0; }));
    manager.operationQueue()->cancelAllOperations();
    wait(stalled);
    ASSERT_EQ(stalled.failures, 1);
    EXPECT_EQ(stalled.error->code(), platform::kUrlErrorCancelled);
}

}  // namespace
