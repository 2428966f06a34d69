// Batches of operations: one more operation that waits for all of them, with progress as each
// one finishes.

#include "SocialSDK/framework/network/RAZududeURLConnectionOperation.h"

std::vector<std::shared_ptr<platform::Operation>>
RAZududeURLConnectionOperation::batchOfRequestOperations(const Operations& operations,
                                                         BatchProgressBlock progressBlock,
                                                         BatchCompletionBlock completionBlock) {
    if (operations.empty()) {
        return {platform::BlockOperation::create([completionBlock] {
            platform::DispatchQueue::main()->async([completionBlock] {
                if (completionBlock) {
                    completionBlock({});
                }
            });
        })};
    }

    auto group = platform::DispatchGroup::create();
    auto batchedOperation = platform::BlockOperation::create([group, completionBlock, operations] {
        group->notify(platform::DispatchQueue::main(), [completionBlock, operations] {
            if (completionBlock) {
                completionBlock(operations);
            }
        });
    });

    std::vector<std::weak_ptr<RAZududeURLConnectionOperation>> watched(operations.begin(),
                                                                       operations.end());
    auto report = [group, progressBlock, watched] {
        if (progressBlock) {
            std::size_t finished = 0;
            for (const auto& weak : watched) {
                auto operation = weak.lock();
                finished += operation && operation->isFinished() ? 1 : 0;
            }
            progressBlock(finished, watched.size());
        }
        group->leave();
    };

    for (const auto& operation : operations) {
        group->enter();
        operation->setCompletionGroup(group);
        // Reported once per operation, by whichever comes first: its completion block, or the
        // check below for an operation that had finished before the batch was made (its
        // completion block will never run, and the batch must not wait for it).
        auto reported = std::make_shared<std::atomic<bool>>(false);
        {
            // Taken and replaced in one step, so that a finish in between cannot run the
            // caller's block and then lose the batch's.
            std::lock_guard lock(operation->lock_);
            std::function<void()> original = operation->callerCompletion_;
            // Runs on the operation's completion queue within the batch's group: the caller's
            // block first, then the count.
            operation->setCompletionBlock([original, reported, report] {
                if (original) {
                    original();
                }
                if (!reported->exchange(true)) {
                    report();
                }
            });
        }
        if (operation->isFinished() && !reported->exchange(true)) {
            auto queue = operation->completionQueue();
            group->async(queue ? queue : platform::DispatchQueue::main(), report);
        }
        batchedOperation->addDependency(operation);
    }

    std::vector<std::shared_ptr<platform::Operation>> result(operations.begin(), operations.end());
    result.push_back(batchedOperation);
    return result;
}
