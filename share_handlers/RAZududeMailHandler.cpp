#include "share_handlers/RAZududeMailHandler.h"

#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/handler/RAZududeSnsHandler.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformNames.h"
#include "SocialSDK/core/screen/RAZududeScreenHost.h"
#include "platform/NoDestructor.h"
#include "platform/ui/Application.h"
#include "share_handlers/HandlerPlatforms.h"

namespace {

// The attachment of a picture: image bytes as they are, with the type their signature tells.
std::optional<platform::ComposedMessage::Attachment> attachmentOf(const RAZududeShareImage& image) {
    if (const auto* bytes = image.data()) {
        const auto& b = *bytes;
        if (b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) {
            return platform::ComposedMessage::Attachment{"share.jpg", "image/jpeg", b};
        }
        if (b.size() >= 4 && b[0] == 'G' && b[1] == 'I' && b[2] == 'F' && b[3] == '8') {
            return platform::ComposedMessage::Attachment{"share.gif", "image/gif", b};
        }
        return platform::ComposedMessage::Attachment{"share.png", "image/png", b};
    }
    if (auto picture = image.image()) {
        return platform::ComposedMessage::Attachment{"share.png", "image/png",
                                                     picture->encodePng()};
    }
    return std::nullopt;
}

}  // namespace

std::shared_ptr<RAZududeMailHandler> RAZududeMailHandler::shareInstance() {
    static platform::NoDestructor<std::shared_ptr<RAZududeMailHandler>> instance(
        std::make_shared<RAZududeMailHandler>());
    return *instance;
}

std::shared_ptr<RAZududeSnsPlatform> RAZududeMailHandler::getEmailSmsPlatform(
    const std::string& platformName) {
    std::shared_ptr<RAZududeSnsPlatform> platform;
    if (platformName == RZShareToEmail) {
        platform = makeHandlerPlatform(RZShareToEmail, kRAZududeSnsPlatformEmail, "email", "邮件",
                                       "RZS_email");
    } else if (platformName == RZShareToSms) {
        platform =
            makeHandlerPlatform(RZShareToSms, kRAZududeSnsPlatformSms, "sms", "短信", "RZS_sms");
    }
    // A tap goes through the share service's click flow to this handler.
    RAZududeSnsPlatformManager::installClickHandler(platform);
    return platform;
}

void RAZududeMailHandler::clickHandlerWithSnsName(
    const std::string& platformName, const std::shared_ptr<platform::ViewController>&,
    const std::shared_ptr<RAZududeScreenHost>& service) {
    auto data = service ? service->socialData() : RAZududeData::defaultData();
    auto bar = RZSDataManager::currentDataManager()->barEntity();

    platform::ComposedMessage message;
    bool mail = platformName == RZShareToEmail;
    message.kind =
        mail ? platform::ComposedMessage::Kind::kMail : platform::ComposedMessage::Kind::kText;
    std::optional<std::string> text = bar->shareText(platformName);
    if (!text && data) {
        text = data->shareText();
    }
    message.body = text.value_or(std::string());
    auto resource = bar->urlResource(platformName);
    if ((!resource || !resource->url()) && data) {
        resource = data->urlResource();
    }
    if (resource && resource->url() && !resource->url()->empty()) {
        message.body += (message.body.empty() ? "" : "\n") + *resource->url();
    }
    if (mail) {
        auto ext = data ? data->extConfig() : nullptr;
        std::optional<std::string> subject =
            ext && ext->emailData() ? ext->emailData()->title() : std::nullopt;
        if (!subject && ext) {
            subject = ext->title();
        }
        if (!subject && data) {
            subject = data->title();
        }
        message.subject = subject.value_or(std::string());
        if (auto attachment = attachmentOf(RAZududeSnsHandler::getShareImage(data, platformName))) {
            message.attachments.push_back(std::move(*attachment));
        }
    }
    platform::Application::shared().composeMessage(std::move(message));

    RAZududeSnsHandler::handleUIDelegate(service ? service->socialUIDelegate() : nullptr,
                                         platformName, kRAZududeResponseSuccess, "no error",
                                         std::nullopt, {});
    if (RAZududeConfig::shareInstance().statisticsAfterShareEventReturned()) {
        RAZududeSnsHandler::postOpWithText(text, platformName);
    }
}
