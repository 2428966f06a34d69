#include "SocialSDK/ui/editor/RZShareEditViewController.h"

#include <cstdlib>

#include "RZBase_Source/Encode/RAZududeUtils.h"
#include "SocialSDK/core/account/RAZududeAccountManager.h"
#include "SocialSDK/core/config/RAZududeConfig.h"
#include "SocialSDK/core/config/RAZududeLocalizable.h"
#include "SocialSDK/core/data/RAZududeData.h"
#include "SocialSDK/core/data/RAZududeExtConfig.h"
#include "SocialSDK/core/data/RAZududeResponseEntity.h"
#include "SocialSDK/core/device/RAZududeProtocolData.h"
#include "SocialSDK/core/manager/RAZududeDataService.h"
#include "SocialSDK/core/manager/RZSBarEntity.h"
#include "SocialSDK/core/manager/RZSDataManager.h"
#include "SocialSDK/core/manager/RZSUserManager.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatform.h"
#include "SocialSDK/core/platform/RAZududeSnsPlatformManager.h"
#include "SocialSDK/ui/controller/RAZududeControllerService.h"
#include "SocialSDK/ui/friend/RAZududeFriendViewController.h"
#include "SocialSDK/ui/helper/RAZududeUIHelper.h"
#include "SocialSDK/ui/toast/RAZududeToast.h"
#include "platform/Device.h"
#include "platform/Format.h"
#include "platform/Text.h"
#include "platform/ThreadCheck.h"
#include "platform/Url.h"
#include "platform/UserDefaults.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"

namespace {

using platform::Color;
using platform::Rect;

std::string buttonImage(const char* name) {
    return std::string("RAZududeSDKResourcesNew.bundle/Buttons/") + name;
}
platform::ImagePtr namedButton(const char* name) {
    return platform::Image::named(buttonImage(name));
}

std::string localized(std::string_view key, std::string_view text) {
    return RAZududeLocalizedString(key, text);
}

std::string followKey(const std::string& platform) {
    return platform::format("RAZudude_Follow_%@", platform);
}

const platform::Regex& urlExpression(unsigned options) {
    static const auto exact = platform::Regex::compile(RZShareEditViewController::kUrlPattern);
    static const auto anyCase = platform::Regex::compile(RZShareEditViewController::kUrlPattern,
                                                         platform::Regex::kCaseInsensitive);
    return options == platform::Regex::kCaseInsensitive ? *anyCase : *exact;
}

bool systemBefore8() {
    return std::atof(RAZududeProtocolData::osVersionString().c_str()) < 8.0;
}

// The style of the names under the switcher's two pictures.
void styleSwitcherLabel(platform::Label& label) {
    label.setTextColor(Color::white());
    label.setShadowColor(Color::black());
    label.setShadowOffset({0, 0});
    label.setTextAlignment(platform::TextAlignment::kCenter);
    label.setAdjustsFontSizeToFitWidth(true);
    label.setBackgroundColor(Color::clear());
}

template <class F>
platform::Control::Action weakAction(const std::weak_ptr<RZShareEditViewController>& weakSelf,
                                     F call) {
    return [weakSelf, call](platform::Control& sender) {
        if (auto self = weakSelf.lock()) {
            call(*self, sender);
        }
    };
}

}  // namespace

const char* const RZShareEditViewController::kUrlPattern =
    R"(((http[s]{0,1}|ftp)://[a-zA-Z0-9\.\-]+\.([a-zA-Z]{2,4})(:\d+)?(/[a-zA-Z0-9\,\.\-~!@#$%^&*+?:_/=<>]*)?)|(www.[a-zA-Z0-9\.\-]+\.([a-zA-Z]{2,4})(:\d+)?(/[a-zA-Z0-9\,\.\-~!@#$%^&*+?:_/=<>]*)?))";

RZShareEditViewController::RZShareEditViewController(std::string nibName)
    : nibName_(std::move(nibName)) {}

RZShareEditViewController::~RZShareEditViewController() {
    stopProgressTimer();
}

std::string RZShareEditViewController::platformName() const {
    if (!socialControllerService_ || !socialControllerService_->currentSnsPlatformName()) {
        return {};
    }
    return *socialControllerService_->currentSnsPlatformName();
}

bool RZShareEditViewController::isPad() const {
    return platform::currentDevice().isPad();
}

bool RZShareEditViewController::hasAttachment() const {
    return shareImageButton_ && shareImageButton_->superview() != nullptr;
}

bool RZShareEditViewController::previewShowsImage() const {
    return hasAttachment() && shareImageButton_->image() != nullptr;
}

bool RZShareEditViewController::previewsUrlResource() const {
    auto extConfig = RAZududeData::defaultData()->extConfig();
    auto snsData = extConfig ? extConfig->snsData(platformName()) : nullptr;
    bool platformHasImage = snsData && snsData->shareImage();
    return urlResource_ && urlResource_->resourceType() != kRAZududeUrlResourceTypeDefault &&
           urlResource_->url() && !platformHasImage;
}

// ---- the interface file ----------------------------------------------------------------

void RZShareEditViewController::loadView() {
    platform::ViewController::loadView();
    auto& root = *view();
    root.setBackgroundColor(Color::white());
    const double width = root.bounds().width();
    const double height = root.bounds().height();
    const double keyboard = platform::Keyboard::shared().frame().height();
    using platform::AutoresizingMask;

    // The text leaves room for the preview at its right.
    textView_ = std::make_shared<platform::TextView>(
        Rect(0, 0, width - 84, height - keyboard - kToolBarHeight));
    textView_->setFont(platform::Font::system(15));
    textView_->setAutoresizingMask(platform::kFlexibleWidth | platform::kFlexibleHeight);
    root.addSubview(textView_);

    shareImageButton_ = std::make_shared<platform::ImageView>(Rect(width - 76, 10, 64, 64));
    shareImageButton_->setContentMode(platform::ContentMode::kScaleAspectFit);
    shareImageButton_->setAutoresizingMask(platform::kFlexibleLeftMargin);
    root.addSubview(shareImageButton_);

    deleteImageButton_ = platform::Button::withType(platform::ButtonType::kCustom);
    deleteImageButton_->setFrame(Rect(width - 24, 2, 20, 20));
    deleteImageButton_->setTitle("×");
    deleteImageButton_->setTitleColor(Color::white());
    deleteImageButton_->setBackgroundColor(Color::rgb255(200, 60, 50));
    deleteImageButton_->layer().setCornerRadius(10);
    deleteImageButton_->setAutoresizingMask(platform::kFlexibleLeftMargin);
    root.addSubview(deleteImageButton_);

    changeAccountBackgroundView_ =
        std::make_shared<platform::ImageView>(Rect(0, height - keyboard, width, keyboard));
    changeAccountBackgroundView_->setUserInteractionEnabled(true);
    changeAccountBackgroundView_->setAutoresizingMask(platform::kFlexibleTopMargin |
                                                      platform::kFlexibleWidth);
    root.addSubview(changeAccountBackgroundView_);
    changeAccountView_ = std::make_shared<platform::View>(Rect(0, 0, 260, 130));

    toolBarView_ = std::make_shared<platform::View>(
        Rect(0, height - keyboard - kToolBarHeight, width, kToolBarHeight));
    toolBarView_->setAutoresizingMask(platform::kFlexibleTopMargin | platform::kFlexibleWidth);
    toolViewBackgroundImage_ =
        std::make_shared<platform::ImageView>(Rect(0, 0, width, kToolBarHeight));
    toolBarView_->addSubview(toolViewBackgroundImage_);
    atButton_ = platform::Button::withType(platform::ButtonType::kCustom);
    atButton_->setFrame(Rect(8, 7, 30, 30));
    toolBarView_->addSubview(atButton_);
    changeAccountButton_ = platform::Button::withType(platform::ButtonType::kCustom);
    changeAccountButton_->setFrame(Rect(46, 7, 30, 30));
    toolBarView_->addSubview(changeAccountButton_);
    followButton_ = platform::Button::withType(platform::ButtonType::kCustom);
    followButton_->setFrame(Rect(88, 11, 22, 22));
    followButton_->setHidden(true);
    toolBarView_->addSubview(followButton_);
    followLabel_ = std::make_shared<platform::Label>(Rect(114, 7, 120, 30));
    followLabel_->setFont(platform::Font::system(13));
    followLabel_->setTextColor(Color::darkGray());
    followLabel_->setHidden(true);
    toolBarView_->addSubview(followLabel_);
    countLabel_ = std::make_shared<platform::Label>(Rect(width - 40, 7, 36, 30));
    countLabel_->setFont(platform::Font::system(15));
    countLabel_->setTextColor(Color::darkGray());
    countLabel_->setTextAlignment(platform::TextAlignment::kCenter);
    toolBarView_->addSubview(countLabel_);
    root.addSubview(toolBarView_);

    nibProgressView_ = std::make_shared<platform::ProgressView>();
    root.addSubview(nibProgressView_);
}

// ---- set-up ----------------------------------------------------------------------------

void RZShareEditViewController::viewDidLoad() {
    RZ_CHECK_MAIN_THREAD();
    auto* navigation = navigationController();
    if (navigation) {
        RAZududeUIHelper::customNavBar(navigation->navigationBar());
    }
    nibProgressView_->setHidden(true);
    textView_->becomeFirstResponder();
    auto self = selfAs<RZShareEditViewController>();
    std::weak_ptr<RZShareEditViewController> weakSelf = self;
    if (socialControllerService_) {
        socialControllerService_->addCloseButton(self);
        takeOverCloseButton();
    }
    countLabel_->setText(std::to_string(kMaxCount));

    const std::string name = platformName();
    auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(name);
    setTitle(localized("shareEdit_title", "分享至") + (platform ? platform->displayName() : ""));

    auto bar = RZSDataManager::currentDataManager()->barEntity();
    RAZududeShareImage shareImage;
    if (bar) {
        textView_->setText(bar->shareText(name).value_or(""));
        shareImage = bar->shareImage(name);
        urlResource_ = bar->urlResource(name);
    }
    textView_->setDelegate(selfAs<platform::TextViewDelegate>());

    auto& config = RAZududeConfigInternal::shareInstance();
    const auto& follow = config.followSnsUids();
    if (follow && follow->contains(name) &&
        platform::UserDefaults::standardUserDefaults().objectForKey(followKey(name)).isNull()) {
        followButton_->setImage(namedButton("RZS_follow_on"));
        followButton_->setTag(kFollowOn);
        followButton_->setHidden(false);
        followButton_->addTarget(
            weakAction(weakSelf,
                       [](RZShareEditViewController& editor, platform::Control& sender) {
                           editor.addFollow(static_cast<platform::Button&>(sender));
                       }),
            platform::kControlEventTouchUpInside);
        followLabel_->setText(localized("shareEdit_addFollow", "关注官方微博"));
        followLabel_->setHidden(false);
    }

    RAZududeUIHelper::customNavigationItem(navigationItem());
    if (const auto& styleBar = config.navigationbarConfig()) {
        styleBar(navigation ? &navigation->navigationBar() : nullptr, nullptr, nullptr, nullptr,
                 nullptr, &navigationItem());
    }

    if (previewsUrlResource()) {
        previewUrlResource();
    } else {
        previewShareImage(shareImage);
    }
    if (!hasAttachment()) {
        // No preview beside the text: the text takes the whole width.
        Rect frame = textView_->frame();
        textView_->setFrame(Rect(0, frame.minY(), view()->bounds().width(), frame.height()));
    }
    updateCountLabel();

    toolViewBackgroundImage_->setImage(namedButton("RZS_comment_bar_background"));
    atButton_->setImage(namedButton("RZS_zizoz_share_at"));
    atButton_->setImage(namedButton("RZS_zizoz_share_atSel"), platform::kControlStateSelected);
    atButton_->addTarget(weakAction(weakSelf, [](RZShareEditViewController& editor,
                                                 platform::Control&) { editor.showFriendList(); }),
                         platform::kControlEventTouchUpInside);
    changeAccountButton_->setImage(namedButton("RZS_share_change_account"));
    changeAccountButton_->setImage(namedButton("RZS_share_change_account_tap"),
                                   platform::kControlStateSelected);
    changeAccountButton_->addTarget(
        weakAction(weakSelf, [](RZShareEditViewController& editor,
                                platform::Control&) { editor.changeAccount(); }),
        platform::kControlEventTouchUpInside);

    progressView_ = std::make_shared<platform::ProgressView>(platform::ProgressViewStyle::kBar);

    auto& center = platform::NotificationCenter::defaultCenter();
    textChangeObserver_ = center.addObserver(platform::kTextViewTextDidChangeNotification,
                                             textView_.get(), [weakSelf](const auto&) {
                                                 if (auto editor = weakSelf.lock()) {
                                                     editor->updateCountLabel();
                                                 }
                                             });
    keyboardObserver_ = center.addObserver(platform::kKeyboardWillShowNotification, nullptr,
                                           [weakSelf](const platform::Notification& note) {
                                               if (auto editor = weakSelf.lock()) {
                                                   editor->keyboardWillShow(note);
                                               }
                                           });

    sendButton_ = platform::Button::withType(platform::ButtonType::kCustom);
    RAZududeUIHelper::customNavPostButton(*sendButton_);
    if (const auto& styleBar = config.navigationbarConfig()) {
        styleBar(navigation ? &navigation->navigationBar() : nullptr, nullptr, nullptr,
                 sendButton_.get(), nullptr, &navigationItem());
    }
    sendButton_->addTarget(weakAction(weakSelf, [](RZShareEditViewController& editor,
                                                   platform::Control&) { editor.pressSend(); }),
                           platform::kControlEventTouchUpInside);
    navigationItem().setRightBarButtonItem(std::make_shared<platform::BarButtonItem>(sendButton_));

    atButton_->setHidden(
        !(name == "sina" || name == "tencent" || name == "renren" || name == "douban"));
    addUserInfo();
}

void RZShareEditViewController::takeOverCloseButton() {
    auto item = navigationItem().leftBarButtonItem();
    auto button = item ? std::dynamic_pointer_cast<platform::Control>(item->customView()) : nullptr;
    if (!button) {
        return;
    }
    button->removeAllTargets();
    button->addTarget(weakAction(selfAs<RZShareEditViewController>(),
                                 [](RZShareEditViewController& editor, platform::Control&) {
                                     editor.closeTapped();
                                 }),
                      platform::kControlEventTouchUpInside);
}

void RZShareEditViewController::closeTapped() {
    if (!socialControllerService_) {
        return;
    }
    // The app's delegate heard how the last share ended: closing now is no cancel of it.
    if (resultReported_ && !sending_) {
        socialControllerService_->close();
    } else {
        socialControllerService_->closeWithCancelResponse();
    }
}

void RZShareEditViewController::previewUrlResource() {
    std::weak_ptr<RZShareEditViewController> weakSelf = selfAs<RZShareEditViewController>();
    deleteImageButton_->removeAllTargets();
    deleteImageButton_->addTarget(
        weakAction(weakSelf, [](RZShareEditViewController& editor,
                                platform::Control&) { editor.selectUrlResource(); }),
        platform::kControlEventTouchUpInside);
    switch (urlResource_->resourceType()) {
        case kRAZududeUrlResourceTypeImage: {
            urlImageView_ = std::make_shared<RAZududeImageView>(namedButton("RZS_url_image"),
                                                                selfAs<RZImageViewDelegate>());
            urlImageView_->setImageURL(urlResource_->url());
            // A picture in the cache is shown by then; one that is on its way comes through
            // imageViewLoadedImage, or its failure through imageViewFailedToLoadImage.
            if (urlImageView_->status() != RAZududeImageView::kLoaded) {
                shareImageButton_->setImage(urlImageView_->placeholderImage());
            }
            break;
        }
        case kRAZududeUrlResourceTypeVideo:
            shareImageButton_->setImage(namedButton("RZS_url_video"));
            break;
        case kRAZududeUrlResourceTypeMusic:
            shareImageButton_->setImage(namedButton("RZS_url_music"));
            break;
        default:
            break;
    }
}

void RZShareEditViewController::previewShareImage(const RAZududeShareImage& image) {
    if (image.isImage()) {
        shareImageButton_->setImage(image.image());
    } else if (image.isData()) {
        shareImageButton_->setImage(image.decodedImage());
        mediaContext_ = *image.data();
    }
    if (!image.isImage() && !image.isData()) {
        shareImageButton_->removeFromSuperview();
        deleteImageButton_->removeFromSuperview();
        return;
    }
    std::weak_ptr<RZShareEditViewController> weakSelf = selfAs<RZShareEditViewController>();
    deleteImageButton_->setTag(kRemovePictureTag);
    deleteImageButton_->removeAllTargets();
    deleteImageButton_->addTarget(
        weakAction(weakSelf, [](RZShareEditViewController& editor,
                                platform::Control&) { editor.selectImage(); }),
        platform::kControlEventTouchUpInside);
}

void RZShareEditViewController::imageViewLoadedImage(RAZududeImageView& imageView) {
    if (&imageView == urlImageView_.get() && shareImageButton_) {
        shareImageButton_->setImage(imageView.image());
    }
}

void RZShareEditViewController::imageViewFailedToLoadImage(RAZududeImageView& imageView,
                                                           const platform::Error&) {
    if (&imageView != urlImageView_.get() || !shareImageButton_) {
        return;
    }
    shareImageButton_->setImage(nullptr);
    deleteImageButton_->removeFromSuperview();
}

// ---- the account switcher ----------------------------------------------------------------

void RZShareEditViewController::addUserInfo() {
    auto subviews = changeAccountView_->subviews();
    for (const auto& subview : subviews) {
        subview->removeFromSuperview();
    }
    auto& background = *changeAccountBackgroundView_;
    for (int tag : {kLeftDividerTag, kRightDividerTag}) {
        if (auto old = background.viewWithTag(tag); old && old.get() != &background) {
            old->removeFromSuperview();
        }
    }
    const double half = background.bounds().width() / 2;
    const Color dividerGrey = Color::rgb255(140, 140, 140);
    auto left = std::make_shared<platform::View>(Rect(0, 0, half, 130));
    left->setTag(kLeftDividerTag);
    left->setBackgroundColor(dividerGrey);
    auto right = std::make_shared<platform::View>(Rect(half + 1, 0, half, 130));
    right->setTag(kRightDividerTag);
    right->setBackgroundColor(dividerGrey);
    background.addSubview(left);
    background.addSubview(right);
    background.setBackgroundColor(Color::rgb255(108, 108, 108));

    const Rect avatarFrame(50, 0, 57, 57);
    auto placeholder = namedButton("RZS_User-Avatar-Placeholder");
    auto frame = std::make_shared<platform::ImageView>(placeholder);
    frame->setFrame(avatarFrame);
    frame->layer().setCornerRadius(7);
    frame->setClipsToBounds(true);
    changeAccountView_->addSubview(frame);

    profileImageView_ = std::make_shared<RAZududeImageView>(placeholder);
    profileImageView_->setFrame(avatarFrame);
    profileImageView_->layer().setCornerRadius(7);
    profileImageView_->setClipsToBounds(true);
    changeAccountView_->addSubview(profileImageView_);

    snsNameLabel_ = std::make_shared<platform::Label>(Rect(0, 0, 80, 30));
    snsNameLabel_->setCenter({avatarFrame.midX(), avatarFrame.midY() + 40});
    styleSwitcherLabel(*snsNameLabel_);
    changeAccountView_->addSubview(snsNameLabel_);

    auto other = platform::Button::withType(platform::ButtonType::kCustom);
    other->setFrame(Rect(avatarFrame.minX() + 160, avatarFrame.minY(), 57, 57));
    other->setImage(namedButton("RZS_share_change_to_account"));
    std::weak_ptr<RZShareEditViewController> weakSelf = selfAs<RZShareEditViewController>();
    other->addTarget(weakAction(weakSelf, [](RZShareEditViewController& editor,
                                             platform::Control&) { editor.oauthToSns(); }),
                     platform::kControlEventTouchUpInside);
    changeAccountView_->addSubview(other);
    auto otherLabel = std::make_shared<platform::Label>(Rect(0, 0, 60, 30));
    otherLabel->setCenter({other->frame().midX(), other->frame().midY() + 40});
    styleSwitcherLabel(*otherLabel);
    otherLabel->setText(localized("shareEdit_change_account", "切换账号"));
    changeAccountView_->addSubview(otherLabel);

    changeAccountView_->setCenter(
        {background.bounds().width() / 2, background.bounds().height() / 2});
    background.addSubview(changeAccountView_);

    refreshAccountInfo();
    auto accounts = RAZududeAccountManager::socialAccountDictionary();
    auto it = accounts.find(platformName());
    bool hasName = it != accounts.end() && it->second && it->second->userName() &&
                   !it->second->userName()->empty();
    if (!hasName && socialControllerService_ && socialControllerService_->socialDataService()) {
        socialControllerService_->socialDataService()->requestSocialAccountWithCompletionInternal(
            [weakSelf](const RAZududeResponsePtr&) {
                if (auto editor = weakSelf.lock()) {
                    editor->refreshAccountInfo();
                }
            });
    }
}

// The name and the avatar of the platform's account, as the account manager holds them now.
void RZShareEditViewController::refreshAccountInfo() {
    auto accounts = RAZududeAccountManager::socialAccountDictionary();
    auto it = accounts.find(platformName());
    auto account = it != accounts.end() ? it->second : nullptr;
    if (snsNameLabel_) {
        snsNameLabel_->setText(account && account->userName() ? *account->userName() : "");
    }
    if (profileImageView_ && account && account->iconURL()) {
        profileImageView_->setImageURL(account->iconURL());
    }
}

// ---- counting ----------------------------------------------------------------------------

std::string RZShareEditViewController::URLDecodedString(const std::string& text) {
    return platform::percentDecode(text);
}

int RZShareEditViewController::weightedLength(const std::string& text,
                                              const std::string& platformName) {
    auto halfWidth = [](const std::string& piece) {
        return static_cast<int>((platform::text::gb18030Length(piece) + 1) / 2);
    };
    int length = halfWidth(text);
    const std::string encoded = RAZududeUtils::urlEncode(text);
    const std::string separator = "%20";
    std::size_t start = 0;
    while (start <= encoded.size()) {
        std::size_t end = encoded.find(separator, start);
        if (end == std::string::npos) {
            end = encoded.size();
        }
        // A piece is tested as the user wrote it: percent-encoded, no link would ever match.
        const std::string piece = URLDecodedString(encoded.substr(start, end - start));
        if (!piece.empty() && urlExpression(platform::Regex::kNone).matches(piece)) {
            length -= halfWidth(piece);
            length += platformName == "sina" ? 10 : 11;
        }
        start = end + separator.size();
    }
    return length;
}

void RZShareEditViewController::updateCountLabel() {
    const std::string name = platformName();
    if (name == "facebook") {
        countLabel_->setText("");
        return;
    }
    if (name == "twitter") {
        figureTwitterTextCount();
        return;
    }
    countLabel_->setText(
        platform::format("%d", kMaxCount - weightedLength(textView_->text(), name)));
}

void RZShareEditViewController::figureTwitterTextCount() {
    const std::string& text = textView_->text();
    auto length = static_cast<long>(platform::text::utf16Length(text));
    for (const auto& match : urlExpression(platform::Regex::kCaseInsensitive).findAll(text)) {
        length += 23 - static_cast<long>(
                           platform::text::utf16Length(text.substr(match.offset, match.length)));
    }
    if (previewShowsImage()) {
        length += 24;
    }
    countLabel_->setText(platform::format("%d", kMaxCount - static_cast<int>(length)));
}

bool RZShareEditViewController::checkAndAlert() {
    const std::string& text = textView_->text();
    bool hasContent = text.find_first_not_of(" \t\n\r\v\f") != std::string::npos || hasAttachment();
    int count = std::atoi(countLabel_->text().c_str());
    if (hasContent && count >= 0) {
        return true;
    }
    std::string message = hasContent ? localized("shareEdit_error_too_long", "分享内容超过长度限制")
                                     : localized("shareEdit_error_not_empty", "分享内容为空");
    auto alert =
        platform::AlertView::make("", std::move(message), selfAs<platform::AlertViewDelegate>(),
                                  localized("button_ok", "好"));
    alert->setTag(kCheckAlertTag);
    alert->show();
    return false;
}

// ---- sending -----------------------------------------------------------------------------

void RZShareEditViewController::pressSend() {
    RZ_CHECK_MAIN_THREAD();
    if (sending_ || !checkAndAlert()) {
        return;
    }
    if (RAZududeConfigInternal::shareInstance().shouldShareSynchronous()) {
        timerDuration_ = 0;
        progressView_->setProgress(0);
        navigationItem().setTitleView(progressView_);
        std::weak_ptr<RZShareEditViewController> weakSelf = selfAs<RZShareEditViewController>();
        stopProgressTimer();
        progressTimer_ = platform::MainLoop::main().every(kProgressInterval, [weakSelf] {
            if (auto editor = weakSelf.lock()) {
                editor->updateProgress();
            }
        });
    }
    postSnsContent();
}

void RZShareEditViewController::stopProgressTimer() {
    if (progressTimer_) {
        progressTimer_->cancel();
        progressTimer_.reset();
    }
}

void RZShareEditViewController::updateProgress() {
    timerDuration_ += kProgressInterval;
    if (timerDuration_ < kProgressSeconds) {
        progressView_->setProgress(timerDuration_ * 0.30303030303030304);
        return;
    }
    stopProgressTimer();
    if (RAZududeConfigInternal::shareInstance().shouldShareSynchronous()) {
        progressView_->setProgress(0.99);
    }
}

void RZShareEditViewController::postSnsContent() {
    const std::string text = textView_->text();
    if (auto delegate = shareDelegate()) {
        RAZududeShareImage image =
            mediaContext_
                ? RAZududeShareImage(*mediaContext_)
                : RAZududeShareImage(shareImageButton_ ? shareImageButton_->image() : nullptr);
        delegate->clickShareButton(text, image, *this);
        return;
    }
    auto service = socialControllerService_;
    if (!service || !service->socialDataService()) {
        return;
    }
    const std::string name = platformName();
    auto dataService = service->socialDataService();

    RAZududeShareImage image;
    std::shared_ptr<RAZududeUrlResource> resource;
    if (hasAttachment()) {
        if (previewsUrlResource()) {
            resource = urlResource_;
        } else {
            image = RZSDataManager::currentDataManager()->barEntity()->shareImage(name);
        }
    }

    const auto& follow = RAZududeConfigInternal::shareInstance().followSnsUids();
    if (!followButton_->isHidden() && followButton_->tag() == kFollowOn && follow) {
        if (const auto* uid = follow->find(name)) {
            dataService->requestAddFollowInternal(
                name, {uid->stringValue()}, [name](const RAZududeResponsePtr&) {
                    auto& defaults = platform::UserDefaults::standardUserDefaults();
                    defaults.setBool(true, followKey(name));
                    defaults.synchronize();
                });
        }
    }

    const bool synchronous = RAZududeConfigInternal::shareInstance().shouldShareSynchronous();
    sending_ = true;
    std::weak_ptr<RZShareEditViewController> weakSelf = selfAs<RZShareEditViewController>();
    RAZududeSnsPostContent content;
    content.content = text;
    if (image && previewShowsImage()) {
        content.image = image;
    }
    content.urlResource = resource;
    content.sourceOpType = "9";
    content.completion = [weakSelf, service, dataService, name](const RAZududeResponsePtr& reply) {
        auto editor = weakSelf.lock();
        if (editor) {
            editor->stopProgressTimer();
            editor->sending_ = false;
        }
        if (!reply) {
            return;
        }
        if (editor) {
            editor->resultReported_ = true;
        }
        reply->setViewControllerType(kRAZududeViewControllerShareEdit);
        rz_ui_delegate::didFinishGetRAZududeDataInViewController(service->socialUIDelegate(),
                                                                 reply);
        if (reply->responseCode() == kRAZududeResponseSuccess) {
            dataService->requestSocialDataWithCompletionInternal([](const RAZududeResponsePtr&) {
                RAZududeToast::makeText(localized("shareEdit_post_finish", "发送成功"))->show();
                platform::NotificationCenter::defaultCenter().post("UpdateSocialBar");
            });
            return;
        }
        showResultToast(reply, name);
    };
    if (!synchronous) {
        service->close();
    }
    dataService->postSNSWithTypesInternal({name}, std::move(content));
}

void RZShareEditViewController::showResultToast(const RAZududeResponsePtr& reply,
                                                const std::string& name) {
    const platform::Value* entry = nullptr;
    if (reply->responseCode() == 510 && reply->data()) {
        entry = reply->data()->find(name);
    }
    if (!entry) {
        RAZududeToast::makeText(localized("shareEdit_error_network_fail_message", "网络不给力"))
            ->show();
        return;
    }
    std::string text;
    switch ((*entry)["st"].intValue()) {
        case 505:
            text = localized("shareEdit_error_user_baned", "对不起，因为违反了用户协议您已被禁言");
            break;
        case 5007:
            text = localized("shareEdit_error_empty_content", "分享内容为空，分享失败");
            break;
        case 5016:
            text = localized("shareEdit_error_text_repeated", "文字内容重复");
            break;
        case 5027: {
            auto& users = RZSUserManager::shareInstance();
            auto accounts = users.snsAccountDictionary();
            accounts.erase(name);
            users.setSnsAccountDictionary(std::move(accounts));
            text = localized("shareEdit_error_auth_expired", "授权过期");
            break;
        }
        case 100031:
            text = localized("shareEdit_error_no_auth", "没有授权");
            break;
        default:
            text = localized("shareEdit_error_fail", "分享失败");
            break;
    }
    RAZududeToast::makeText(std::move(text))->show();
}

// ---- the attachment ----------------------------------------------------------------------

void RZShareEditViewController::selectImage() {
    textView_->resignFirstResponder();
    auto sheet = platform::ActionSheet::make("", selfAs<platform::ActionSheetDelegate>(),
                                             localized("button_cancel", "取消"),
                                             localized("shareEdit_delete_picture", "删除图片"));
    sheet->setTag(0);
    sheet->showInView(*view());
}

void RZShareEditViewController::selectUrlResource() {
    if (!urlResource_) {
        return;
    }
    int type = urlResource_->resourceType();
    std::optional<std::string> destructive;
    if (type == kRAZududeUrlResourceTypeImage) {
        destructive = localized("shareEdit_delete_picture", "删除图片");
    } else if (type == kRAZududeUrlResourceTypeVideo) {
        destructive = localized("shareEdit_delete_video", "删除视频");
    } else if (type == kRAZududeUrlResourceTypeMusic) {
        destructive = localized("shareEdit_delete_music", "删除音乐");
    }
    auto sheet = platform::ActionSheet::make("", selfAs<platform::ActionSheetDelegate>(),
                                             localized("button_cancel", "取消"), destructive);
    sheet->setTag(type + 10);
    sheet->showInView(*view());
}

void RZShareEditViewController::actionSheetClickedButtonAtIndex(platform::ActionSheet& sheet,
                                                                int index) {
    // Only the remove button removes: a sheet without one (a resource of another type) has its
    // cancel button at index 0.
    if (sheet.destructiveButtonIndex() < 0 || index != sheet.destructiveButtonIndex()) {
        return;
    }
    if (sheet.tag() != 0 && sheet.tag() < 10) {
        return;
    }
    if (sheet.tag() >= 10 && shareImageButton_) {
        shareImageButton_->setImage(nullptr);
        if (urlImageView_) {
            urlImageView_->cancelImageLoad();
        }
    }
    removePreview();
    if (platformName() == "twitter") {
        updateCountLabel();
    }
}

void RZShareEditViewController::removePreview() {
    if (shareImageButton_) {
        shareImageButton_->removeFromSuperview();
        shareImageButton_.reset();
    }
    deleteImageButton_->setHidden(true);
}

// ---- the alerts --------------------------------------------------------------------------

void RZShareEditViewController::alertViewClickedButtonAtIndex(platform::AlertView& alert,
                                                              int index) {
    RAZududeUtils::outLog([&] { return platform::format("alertView tag is %d", alert.tag()); });
    switch (alert.tag()) {
        // The notice about the text leaves the user in the editor with the draft.
        case kCheckAlertTag:
        case 5016:
            return;
        case 5027:
            if (index == 1 && socialControllerService_) {
                auto login = socialControllerService_->getSocialViewController(
                    kRAZududeViewControllerOauth, platformName());
                if (login && navigationController()) {
                    navigationController()->pushViewController(login, true);
                }
            }
            return;
        default:
            if (socialControllerService_) {
                socialControllerService_->close();
            }
    }
}

// ---- friends and accounts ----------------------------------------------------------------

void RZShareEditViewController::showFriendList() {
    friendListViewController_.reset();
    if (!socialControllerService_) {
        return;
    }
    auto picker = std::dynamic_pointer_cast<RAZududeFriendViewController>(
        socialControllerService_->getSocialViewController(kRAZududeViewControllerFriend));
    if (!picker) {
        return;
    }
    picker->setRzsDelegate(selfAs<RZSGridViewItemClickedDelegate>());
    friendListViewController_ = picker;
    if (auto* navigation = navigationController()) {
        navigation->pushViewController(picker, true);
    }
}

void RZShareEditViewController::itemClicked(const std::string& text) {
    RZ_CHECK_MAIN_THREAD();
    textView_->setText(textView_->text() + platform::format(" %@ ", text));
    updateCountLabel();
}

void RZShareEditViewController::changeAccount() {
    if (isPad()) {
        return;
    }
    if (textView_->isFirstResponder()) {
        switcherShown_ = textView_->resignFirstResponder();
    } else {
        switcherShown_ = !textView_->becomeFirstResponder();
    }
}

void RZShareEditViewController::oauthToSns() {
    auto service = socialControllerService_;
    if (!service) {
        return;
    }
    service->setNextViewController(kRAZududeViewControllerNone);
    if (auto delegate = service->socialUIDelegate()) {
        socialUIDelegate_ = delegate;
    }
    const std::string name = platformName();
    auto platform = RAZududeSnsPlatformManager::getSocialPlatformWithName(name);
    if (!platform || !platform->loginClickHandler()) {
        return;
    }
    std::weak_ptr<RZShareEditViewController> weakSelf = selfAs<RZShareEditViewController>();
    std::weak_ptr<RAZududeUIDelegate> appDelegate = socialUIDelegate_;
    platform->loginClickHandler()(
        shared_from_this(), service, false,
        [weakSelf, service, appDelegate, name](const RAZududeResponsePtr&) {
            service->setSocialUIDelegate(appDelegate);
            if (!service->socialDataService()) {
                return;
            }
            service->socialDataService()->requestSocialAccountWithCompletionInternal(
                [weakSelf, name](const RAZududeResponsePtr&) {
                    RZSUserManager::shareInstance().forgetFriendsOfSnsName(name);
                    if (auto editor = weakSelf.lock()) {
                        editor->refreshAccountInfo();
                    }
                });
        });
}

void RZShareEditViewController::addFollow(platform::Button& sender) {
    if (sender.tag() == kFollowOn) {
        sender.setImage(namedButton("RZS_follow_off"));
        sender.setTag(kFollowOff);
    } else {
        sender.setImage(namedButton("RZS_follow_on"));
        sender.setTag(kFollowOn);
    }
}

// ---- the keyboard and appearance ---------------------------------------------------------

void RZShareEditViewController::keyboardWillShow(const platform::Notification& notification) {
    if (isPad() || !isViewLoaded()) {
        return;
    }
    const Rect keyboard =
        platform::rectFromValue(notification.userInfo[platform::kKeyboardFrameEndUserInfoKey]);
    const Rect app = platform::Screen::main().applicationFrame();
    const int orientation = interfaceOrientation();
    double width = app.width();
    double height = keyboard.height();
    if (orientation != platform::kOrientationPortrait &&
        orientation != platform::kOrientationPortraitUpsideDown) {
        if (systemBefore8()) {
            width = app.height();
            height = keyboard.width();
        } else {
            width = app.width() + 10;
        }
    }
    keyboardHeight_ = height;
    const Rect& bounds = view()->bounds();

    toolBarView_->setBounds(Rect(0, 0, width, kToolBarHeight));
    toolBarView_->setCenter({bounds.width() / 2, bounds.height() - height - kToolBarHeight / 2});
    toolViewBackgroundImage_->setFrame(Rect(0, 0, width, kToolBarHeight));
    Rect count = countLabel_->frame();
    countLabel_->setFrame(Rect(width - 40, count.minY(), count.width(), count.height()));
    textView_->setFrame(
        Rect(0, 0, textView_->frame().width(), bounds.height() - height - kToolBarHeight));

    auto& background = *changeAccountBackgroundView_;
    background.setFrame(Rect(0, bounds.height() - height, bounds.width(), height));
    changeAccountView_->setBounds(
        Rect(0, 0, changeAccountView_->bounds().width(), background.bounds().height() - 30));
    changeAccountView_->setCenter(
        {background.bounds().width() / 2, background.bounds().height() / 2});
    auto left = background.viewWithTag(kLeftDividerTag);
    auto right = background.viewWithTag(kRightDividerTag);
    if (left && right) {
        const double backgroundWidth = background.bounds().width();
        const double y = left->center().y;
        left->setCenter({(backgroundWidth - left->bounds().width()) / 2, y});
        right->setCenter({(backgroundWidth + right->bounds().width()) / 2 + 1, y});
    }
}

void RZShareEditViewController::viewWillAppear(bool /*animated*/) {
    if (isPad() && navigationController()) {
        if (auto* holder = navigationController()->view()->superview()) {
            holder->setBounds(RAZududeConfigInternal::shareInstance().boundsForiPad());
        }
    }
    if (auto delegate = socialUIDelegate(); delegate && socialControllerService_) {
        socialControllerService_->setSocialUIDelegate(delegate);
    }
}

void RZShareEditViewController::readyForAppear() {
    std::weak_ptr<RZShareEditViewController> weakSelf = selfAs<RZShareEditViewController>();
    keyboardObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        platform::kKeyboardWillShowNotification, nullptr,
        [weakSelf](const platform::Notification& note) {
            if (auto editor = weakSelf.lock()) {
                editor->keyboardWillShow(note);
            }
        });
    // The keyboard comes up with the screen, unless the user put it away for the account
    // switcher.
    if (!switcherShown_) {
        textView_->becomeFirstResponder();
    }
}

void RZShareEditViewController::viewDidAppear(bool /*animated*/) {
    readyForAppear();
    if (isPad()) {
        return;
    }
    const Rect& bounds = view()->bounds();
    toolBarView_->setCenter(
        {bounds.width() / 2, bounds.height() - kToolBarHeight / 2 - keyboardHeight_});
    textView_->setFrame(
        Rect(0, 0, textView_->frame().width(), bounds.height() - kToolBarHeight - keyboardHeight_));
}

void RZShareEditViewController::viewWillDisappear(bool /*animated*/) {
    // The bar gets its translucency back when the editor leaves, not when the friend picker is
    // pushed over it: under a translucent bar the picker's search bar would be hidden.
    auto* navigation = navigationController();
    if (navigation && navigation->topViewController() == this) {
        RAZududeUIHelper::setNavigationBarTranslucent(navigation->navigationBar());
    }
    keyboardObserver_.remove();
}

bool RZShareEditViewController::shouldAutorotateToInterfaceOrientation(int orientation) {
    return RAZududeConfigInternal::shareInstance().shouldAutorotateToInterfaceOrientation(
        orientation);
}

void RZShareEditViewController::willRotateToInterfaceOrientation(int /*orientation*/,
                                                                 double /*duration*/) {
    if (!textView_->isFirstResponder()) {
        textView_->becomeFirstResponder();
    }
}
