#include "SocialSDK/framework/network/RAZududeHTTPSessionManager.h"

#include <stdexcept>
#include <utility>

#include "SocialSDK/framework/network/RAZududeURLRequestSerialization.h"
#include "SocialSDK/framework/network/RAZududeURLResponseSerialization.h"
#include "platform/Format.h"

std::shared_ptr<RAZududeHTTPSessionManager> RAZududeHTTPSessionManager::manager() {
    return create();
}

std::shared_ptr<RAZududeHTTPSessionManager> RAZududeHTTPSessionManager::create(
    std::optional<platform::Url> baseURL,
    std::optional<platform::UrlSessionConfiguration> configuration) {
    auto manager = std::make_shared<RAZududeHTTPSessionManager>(Key{}, std::move(baseURL),
                                                                std::move(configuration));
    manager->start();
    return manager;
}

RAZududeHTTPSessionManager::RAZududeHTTPSessionManager(
    Key key, std::optional<platform::Url> baseURL,
    std::optional<platform::UrlSessionConfiguration> configuration)
    : RAZududeURLSessionManager(key, std::move(configuration), std::move(baseURL)) {}

std::shared_ptr<RAZududeHTTPRequestSerializer> RAZududeHTTPSessionManager::requestSerializer()
    const {
    return shell().requestSerializer();
}

void RAZududeHTTPSessionManager::setRequestSerializer(
    std::shared_ptr<RAZududeHTTPRequestSerializer> serializer) {
    shell().setRequestSerializer(std::move(serializer));
}

std::shared_ptr<RAZududeHTTPResponseSerializer> RAZududeHTTPSessionManager::responseSerializer()
    const {
    return std::dynamic_pointer_cast<RAZududeHTTPResponseSerializer>(
        RAZududeURLSessionManager::responseSerializer());
}

void RAZududeHTTPSessionManager::setResponseSerializer(
    std::shared_ptr<RAZududeHTTPResponseSerializer> serializer) {
    if (!serializer) {
        throw std::invalid_argument("Invalid parameter not satisfying: responseSerializer");
    }
    RAZududeURLSessionManager::setResponseSerializer(std::move(serializer));
}

RAZududeURLSessionManager::CompletionHandler RAZududeHTTPSessionManager::splitCompletion(
    std::shared_ptr<DataTask> holder, SuccessBlock success, FailureBlock failure) {
    // The holder is filled once the task exists and keeps it for the blocks; it goes with the
    // task's delegate when the task completes or the session ends.
    return [holder = std::move(holder), success = std::move(success), failure = std::move(failure)](
               const std::shared_ptr<const platform::UrlResponse>&,
               const RAZududeResponseObject& responseObject,
               const std::optional<platform::Error>& error) {
        if (error) {
            if (failure) {
                failure(*holder, *error);
            }
        } else if (success) {
            success(*holder, responseObject);
        }
    };
}

RAZududeURLSessionManager::DataTask RAZududeHTTPSessionManager::dataTaskWithHTTPMethod(
    const std::string& method, const std::string& URLString,
    const std::optional<platform::Value>& parameters, SuccessBlock success, FailureBlock failure) {
    platform::Error error;
    auto request = shell().requestWithMethod(method, URLString, parameters, &error);
    if (!request) {
        shell().reportFailure(failure, std::move(error));
        return nullptr;
    }
    auto holder = std::make_shared<DataTask>();
    *holder = dataTaskWithRequest(*request,
                                  splitCompletion(holder, std::move(success), std::move(failure)));
    return *holder;
}

namespace {

RAZududeURLSessionManager::DataTask resumed(RAZududeURLSessionManager::DataTask task) {
    if (task) {
        task->resume();
    }
    return task;
}

}  // namespace

RAZududeURLSessionManager::DataTask RAZududeHTTPSessionManager::GET(
    const std::string& URLString, const std::optional<platform::Value>& parameters,
    SuccessBlock success, FailureBlock failure) {
    return resumed(dataTaskWithHTTPMethod("GET", URLString, parameters, std::move(success),
                                          std::move(failure)));
}

RAZududeURLSessionManager::DataTask RAZududeHTTPSessionManager::HEAD(
    const std::string& URLString, const std::optional<platform::Value>& parameters,
    HeadSuccessBlock success, FailureBlock failure) {
    SuccessBlock wrapped;
    if (success) {
        wrapped = [success = std::move(success)](const DataTask& task,
                                                 const RAZududeResponseObject&) { success(task); };
    }
    return resumed(dataTaskWithHTTPMethod("HEAD", URLString, parameters, std::move(wrapped),
                                          std::move(failure)));
}

RAZududeURLSessionManager::DataTask RAZududeHTTPSessionManager::POST(
    const std::string& URLString, const std::optional<platform::Value>& parameters,
    SuccessBlock success, FailureBlock failure) {
    return resumed(dataTaskWithHTTPMethod("POST", URLString, parameters, std::move(success),
                                          std::move(failure)));
}

RAZududeURLSessionManager::DataTask RAZududeHTTPSessionManager::POST(
    const std::string& URLString, const std::optional<platform::Value>& parameters,
    ConstructingBodyBlock block, SuccessBlock success, FailureBlock failure) {
    platform::Error error;
    auto request =
        shell().multipartFormRequestWithMethod("POST", URLString, parameters, block, &error);
    if (!request) {
        shell().reportFailure(failure, std::move(error));
        return nullptr;
    }
    auto holder = std::make_shared<DataTask>();
    *holder = uploadTaskWithStreamedRequest(
        *request, nullptr, splitCompletion(holder, std::move(success), std::move(failure)));
    return resumed(*holder);
}

RAZududeURLSessionManager::DataTask RAZududeHTTPSessionManager::PUT(
    const std::string& URLString, const std::optional<platform::Value>& parameters,
    SuccessBlock success, FailureBlock failure) {
    return resumed(dataTaskWithHTTPMethod("PUT", URLString, parameters, std::move(success),
                                          std::move(failure)));
}

RAZududeURLSessionManager::DataTask RAZududeHTTPSessionManager::PATCH(
    const std::string& URLString, const std::optional<platform::Value>& parameters,
    SuccessBlock success, FailureBlock failure) {
    return resumed(dataTaskWithHTTPMethod("PATCH", URLString, parameters, std::move(success),
                                          std::move(failure)));
}

RAZududeURLSessionManager::DataTask RAZududeHTTPSessionManager::DELETE(
    const std::string& URLString, const std::optional<platform::Value>& parameters,
    SuccessBlock success, FailureBlock failure) {
    return resumed(dataTaskWithHTTPMethod("DELETE", URLString, parameters, std::move(success),
                                          std::move(failure)));
}

std::string RAZududeHTTPSessionManager::description() const {
    const auto& baseURL = shell().baseURL();
    const std::optional<std::string> base =
        baseURL ? std::optional<std::string>(baseURL->absoluteString()) : std::nullopt;
    const std::string queue = platform::format("<OperationQueue: %p>{name = '%@'}",
                                               static_cast<const void*>(operationQueue().get()),
                                               operationQueue()->name());
    return platform::format("<%@: %p, baseURL: %@, session: %@, operationQueue: %@>",
                            archiveClassName(), static_cast<const void*>(this), base,
                            session()->description(), queue);
}

std::shared_ptr<RAZududeHTTPSessionManager> RAZududeHTTPSessionManager::copy() const {
    auto manager = create(shell().baseURL(), session()->configuration());
    manager->setRequestSerializer(requestSerializer()->copy());
    manager->setResponseSerializer(responseSerializer()->copy());
    return manager;
}

void RAZududeHTTPSessionManager::encode(platform::KeyedArchiver& coder) const {
    RAZududeURLSessionManager::encode(coder);
    const auto& baseURL = shell().baseURL();
    coder.encodeObject(baseURL ? platform::Value(baseURL->absoluteString()) : platform::Value(),
                       "baseURL");
    // Every configuration here archives itself (none has a background identifier), so the
    // base class's "sessionConfiguration" is all there is to store of it.
    coder.encodeObject(platform::ArchiveObject(requestSerializer()), "requestSerializer");
    coder.encodeObject(platform::ArchiveObject(responseSerializer()), "responseSerializer");
}

std::shared_ptr<RAZududeHTTPSessionManager> RAZududeHTTPSessionManager::decode(
    platform::KeyedUnarchiver& coder) {
    std::optional<platform::Url> baseURL;
    if (auto text = coder.decodeString("baseURL")) {
        baseURL = platform::Url::parse(*text);
    }
    auto configuration =
        coder.decodeObjectOf<platform::UrlSessionConfiguration>("sessionConfiguration");
    auto request = coder.decodeObjectOf<RAZududeHTTPRequestSerializer>("requestSerializer");
    auto response = coder.decodeObjectOf<RAZududeHTTPResponseSerializer>("responseSerializer");
    if (coder.failed() || !request || !response) {
        // An archive without serializers would make a manager that cannot work.
        return nullptr;
    }
    auto manager =
        create(std::move(baseURL), configuration ? std::optional(*configuration) : std::nullopt);
    manager->setRequestSerializer(std::move(request));
    manager->setResponseSerializer(std::move(response));
    return manager;
}

void RAZududeHTTPSessionManager::registerArchiveClass() {
    platform::UrlSessionConfiguration::registerArchiveClass();
    platform::ArchiveRegistry::shared().add(
        kClassName, [](platform::KeyedUnarchiver& coder) -> std::shared_ptr<platform::Archivable> {
            return decode(coder);
        });
}
