// Batches of operations without a network: operations cancelled before they start finish at
// once, which is all a batch needs to see.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

#include "SocialSDK/framework/network/RAZududeURLConnectionOperation.h"
#include "platform/Operation.h"
#include "tests/network/OperationTestSupport.h"

namespace {

using operation_tests::drainMainLoop;
using operation_tests::pumpUntil;
using operation_tests::requestFor;
using Op = RAZududeURLConnectionOperation;

std::shared_ptr<Op> cancelledOperation(const std::string& path) {
    auto op = Op::create(requestFor("http://127.0.0.1:9/" + path));
    op->cancel();
    return op;
}

// What a batch reported, in order; written on the main thread only.
struct BatchLog {
    std::vector<std::pair<std::size_t, std::size_t>> progress;
    std::vector<std::string> events;
    std::optional<Op::Operations> completed;
    bool onMainThread = true;

    Op::BatchProgressBlock progressBlock() {
        return [this](std::size_t finished, std::size_t total) {
            progress.emplace_back(finished, total);
            events.push_back("progress");
            onMainThread = onMainThread && platform::MainLoop::main().isMainThread();
        };
    }
    Op::BatchCompletionBlock completionBlock() {
        return [this](const Op::Operations& operations) {
            completed = operations;
            events.push_back("completion");
            onMainThread = onMainThread && platform::MainLoop::main().isMainThread();
        };
    }
};

TEST(Batch, OfNothingIsOneOperationThatCompletesWithNothing) {
    BatchLog log;
    auto batch = Op::batchOfRequestOperations({}, log.progressBlock(), log.completionBlock());
    ASSERT_EQ(batch.size(), 1u);
    platform::OperationQueue queue;
    queue.addOperations(batch, false);
    ASSERT_TRUE(pumpUntil([&] { return log.completed.has_value(); }));
    EXPECT_TRUE(log.completed->empty());
    EXPECT_TRUE(log.progress.empty());
    EXPECT_TRUE(log.onMainThread);
}

TEST(Batch, RunsEachBlockThenReportsProgressThenCompletesWithTheOperationsGiven) {
    BatchLog log;
    Op::Operations operations;
    for (int i = 0; i < 3; ++i) {
        auto op = cancelledOperation("batch" + std::to_string(i));
        op->setCompletionBlock([&log, i] { log.events.push_back("op" + std::to_string(i)); });
        operations.push_back(op);
    }
    auto batch =
        Op::batchOfRequestOperations(operations, log.progressBlock(), log.completionBlock());
    ASSERT_EQ(batch.size(), 4u);
    for (std::size_t i = 0; i < operations.size(); ++i) {
        EXPECT_EQ(batch[i], operations[i]);
        EXPECT_EQ(operations[i]->completionGroup(), operations[0]->completionGroup());
    }
    platform::OperationQueue queue;
    queue.addOperations(batch, false);
    ASSERT_TRUE(pumpUntil([&] { return log.completed.has_value(); }));
    drainMainLoop();

    EXPECT_EQ(*log.completed, operations);
    ASSERT_EQ(log.progress.size(), 3u);
    EXPECT_EQ(log.progress.back(), std::make_pair(std::size_t{3}, std::size_t{3}));
    for (const auto& [finished, total] : log.progress) {
        EXPECT_GE(finished, 1u);
        EXPECT_EQ(total, 3u);
    }
    EXPECT_EQ(log.events.back(), "completion");
    EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "completion"), 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "op" + std::to_string(i)), 1);
    }
    EXPECT_TRUE(log.onMainThread);
}

TEST(Batch, HoldingAnOperationThatHadAlreadyFinishedStillCompletes) {
    auto done = cancelledOperation("done");
    done->start();
    ASSERT_TRUE(pumpUntil([&] { return done->isFinished(); }));

    BatchLog log;
    auto pending = cancelledOperation("pending");
    auto batch =
        Op::batchOfRequestOperations({done, pending}, log.progressBlock(), log.completionBlock());
    platform::OperationQueue queue;
    queue.addOperation(pending);
    queue.addOperation(batch.back());
    ASSERT_TRUE(pumpUntil([&] { return log.completed.has_value(); }));
    EXPECT_EQ(log.completed->size(), 2u);
    ASSERT_EQ(log.progress.size(), 2u);
    EXPECT_EQ(log.progress.back(), std::make_pair(std::size_t{2}, std::size_t{2}));
}

TEST(Batch, AnOperationsBlockIsLetGoWhenItIsDoneNotWhenTheBatchIs) {
    auto first = cancelledOperation("first");
    auto sentinel = std::make_shared<int>(7);
    std::weak_ptr<int> watch = sentinel;
    std::atomic<bool> firstRan{false};
    first->setCompletionBlock([sentinel, &firstRan] { firstRan = true; });
    sentinel.reset();
    auto second = Op::create(requestFor("http://127.0.0.1:9/held"));

    BatchLog log;
    auto batch =
        Op::batchOfRequestOperations({first, second}, log.progressBlock(), log.completionBlock());
    first->start();
    ASSERT_TRUE(pumpUntil([&] { return firstRan.load(); }));
    ASSERT_TRUE(pumpUntil([&] { return watch.expired(); }))
        << "the first operation is done; the second one still holds the batch open";
    EXPECT_FALSE(log.completed);

    second->cancel();
    second->start();
    ASSERT_TRUE(pumpUntil([&] { return batch.back()->isReady(); }));
    batch.back()->start();
    ASSERT_TRUE(pumpUntil([&] { return log.completed.has_value(); }));
}

TEST(Batch, TheFinalOperationWaitsForEveryOperation) {
    auto a = cancelledOperation("a");
    auto b = cancelledOperation("b");
    BatchLog log;
    auto batch = Op::batchOfRequestOperations({a, b}, nullptr, log.completionBlock());
    const auto& final = batch.back();
    EXPECT_EQ(final->dependencies().size(), 2u);
    EXPECT_FALSE(final->isReady());
    a->start();
    ASSERT_TRUE(pumpUntil([&] { return a->isFinished(); }));
    EXPECT_FALSE(final->isReady());
    b->start();
    ASSERT_TRUE(pumpUntil([&] { return b->isFinished(); }));
    EXPECT_TRUE(final->isReady());
    final->start();
    ASSERT_TRUE(pumpUntil([&] { return log.completed.has_value(); }));
}

}  // namespace
