// The task and session notifications that the app HTTP client and the share service's network
// layer post and observe under one set of names, with the user-information keys of the
// task-complete notification.
#pragma once

#include "platform/net/UrlSessionTask.h"

// Posted on the main queue by a session manager when one of its own tasks starts running or
// is suspended; the object is the task (a `const platform::UrlSessionTask*`).
inline constexpr const char* RAZNetworkingTaskDidResumeNotification =
    "com.razudude.networking.task.resume";
inline constexpr const char* RAZNetworkingTaskDidSuspendNotification =
    "com.razudude.networking.task.suspend";
// Posted on the main queue after a task's completion handler ran; the object is the task.
inline constexpr const char* RAZNetworkingTaskDidCompleteNotification =
    "com.razudude.networking.task.complete";
// Posted on the session's delegate queue when a manager's session becomes invalid; the object
// is the session (a `const platform::UrlSession*`).
inline constexpr const char* RAZURLSessionDidInvalidateNotification =
    "com.razudude.networking.session.invalidate";
// Posted on the delegate queue when a finished download cannot be moved to its destination;
// the object is the download task, the user information that of the move's error.
inline constexpr const char* RAZURLSessionDownloadTaskDidFailToMoveFileNotification =
    "com.razudude.networking.session.download.file-manager-error";

// Posted by every session task itself, once per real change into running or suspended: the
// platform's own names are these strings.
inline constexpr const char* RAZNSURLSessionTaskDidResumeNotification =
    platform::kUrlSessionTaskDidResumeNotification;
inline constexpr const char* RAZNSURLSessionTaskDidSuspendNotification =
    platform::kUrlSessionTaskDidSuspendNotification;

// User-information keys of the task-complete notification.
inline constexpr const char* RAZNetworkingTaskDidCompleteResponseSerializerKey =
    "com.razudude.networking.task.complete.responseserializer";
inline constexpr const char* RAZNetworkingTaskDidCompleteResponseDataKey =
    "com.razudude.networking.complete.finish.responsedata";
inline constexpr const char* RAZNetworkingTaskDidCompleteSerializedResponseKey =
    "com.razudude.networking.task.complete.serializedresponse";
inline constexpr const char* RAZNetworkingTaskDidCompleteAssetPathKey =
    "com.razudude.networking.task.complete.assetpath";
inline constexpr const char* RAZNetworkingTaskDidCompleteErrorKey =
    "com.razudude.networking.task.complete.error";
