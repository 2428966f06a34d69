#include "SocialSDK/core/handler/RAZududeHandlerRegistry.h"
#include "platform/NoDestructor.h"

#include <map>
#include <mutex>

namespace {

struct Classes {
    std::mutex mutex;
    std::map<std::string, RAZududeHandlerRegistry::ShareInstance, std::less<>> byName;
};

Classes& classes() {
    static platform::NoDestructor<Classes> c;
    return *c;
}

}  // namespace

void RAZududeHandlerRegistry::registerHandlerClass(std::string className,
                                                   ShareInstance shareInstance) {
    std::lock_guard lock(classes().mutex);
    classes().byName.insert_or_assign(std::move(className), std::move(shareInstance));
}

bool RAZududeHandlerRegistry::hasHandlerClass(std::string_view className) {
    std::lock_guard lock(classes().mutex);
    return classes().byName.find(className) != classes().byName.end();
}

RAZududeHandlerRegistry::ScopedClassForTesting::ScopedClassForTesting(std::string className,
                                                                      ShareInstance shareInstance)
    : className_(std::move(className)) {
    std::lock_guard lock(classes().mutex);
    auto& byName = classes().byName;
    if (auto it = byName.find(className_); it != byName.end()) {
        previous_ = it->second;
    }
    byName.insert_or_assign(className_, std::move(shareInstance));
}

RAZududeHandlerRegistry::ScopedClassForTesting::~ScopedClassForTesting() {
    std::lock_guard lock(classes().mutex);
    if (previous_) {
        classes().byName.insert_or_assign(className_, std::move(*previous_));
    } else {
        classes().byName.erase(className_);
    }
}

std::shared_ptr<RAZududePlatformHandler> RAZududeHandlerRegistry::shareInstanceOf(
    std::string_view className) {
    ShareInstance make;
    {
        std::lock_guard lock(classes().mutex);
        auto it = classes().byName.find(className);
        if (it == classes().byName.end()) {
            return nullptr;
        }
        make = it->second;
    }
    return make ? make() : nullptr;
}
