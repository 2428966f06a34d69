// A web resource a share points at instead of carrying it: an image, a video or music by URL.
//
// Main thread only, with its share record.
#pragma once

#include <memory>
#include <optional>
#include <string>

enum RAZududeUrlResourceType : int {
    kRAZududeUrlResourceTypeDefault = 0,  // none
    kRAZududeUrlResourceTypeImage = 1,
    kRAZududeUrlResourceTypeVideo = 2,
    kRAZududeUrlResourceTypeMusic = 3,
    kRAZududeUrlResourceTypeWeb = 4,  // a web page; accepted and stored
};

class RAZududeUrlResource {
  public:
    RAZududeUrlResource() = default;
    // Nothing for type 0; otherwise a resource of the type (checked as setResourceType does).
    static std::shared_ptr<RAZududeUrlResource> initWithSnsResourceType(
        int type, std::optional<std::string> url);

    int resourceType() const { return resourceType_; }
    // A type of 5 or more (or below 0) is refused: the type becomes 0.
    void setResourceType(int type);
    // Sets the type, and the URL only when the type is then not 0.
    void setResourceType(int type, std::optional<std::string> url);

    const std::optional<std::string>& url() const { return url_; }
    void setUrl(std::optional<std::string> url) { url_ = std::move(url); }

  private:
    int resourceType_ = kRAZududeUrlResourceTypeDefault;
    std::optional<std::string> url_;
};
