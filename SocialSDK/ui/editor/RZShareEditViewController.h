// The share editor: the compose screen of the platforms that are shared to through the share
// service. It shows the share text in a text view with a counter of the characters left, a
// preview of the attached picture or URL resource that the user can remove, an @ button that
// opens the friend picker, a follow-the-official-account check box, an account switcher under
// the keyboard, and a send button that posts the share through the data service and reports the
// result with a toast and to the app's UI delegate.
//
// The controller service's factory makes it (view type 3) and wraps it in the share service's
// navigation container. The editor holds its controller service; its UI delegate, share
// delegate and URL resource it does not own. Calls that come back later (the share's reply,
// the account reply, a picture's download, the progress timer) hold the editor weakly: once
// the editor has gone they change no screen, while the share's reply still reaches the app's
// delegate and the result toast.
//
// Threads: main thread only, checked at its entry points in debug builds. The share's reply,
// the account reply, a picture's download and the progress timer come back from the main loop;
// the share delegate (when an app sets one) is called on the main thread, from inside the send
// button's tap.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "SocialSDK/core/data/RAZududeShareImage.h"
#include "SocialSDK/core/data/RAZududeUrlResource.h"
#include "SocialSDK/core/handler/RAZududeUIDelegate.h"
#include "SocialSDK/ui/friend/RZSGridViewItemClickedDelegate.h"
#include "SocialSDK/ui/image/RAZududeImageView.h"
#include "platform/MainLoop.h"
#include "platform/NotificationCenter.h"
#include "platform/ui/Alert.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Indicators.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextView.h"
#include "platform/ui/ViewController.h"

class RAZududeControllerService;
class RAZududeFriendViewController;
class RZShareEditViewController;

// Takes the share in place of the data service, when an app sets it. Called on the main thread.
class RZShareEditControllerDelegate {
  public:
    virtual ~RZShareEditControllerDelegate() = default;
    virtual void clickShareButton(const std::string& text, const RAZududeShareImage& image,
                                  RZShareEditViewController& controller) = 0;
};

class RZShareEditViewController : public platform::ViewController,
                                  public RZSGridViewItemClickedDelegate,
                                  public RZImageViewDelegate,
                                  public platform::AlertViewDelegate,
                                  public platform::ActionSheetDelegate,
                                  public platform::TextViewDelegate {
  public:
    // The interface file the screen is made from: one for phones, one for pads.
    static constexpr const char* kNibName = "RZShareEditViewController";
    static constexpr const char* kNibNamePad = "RZShareEditViewControlleriPad";
    // Tags of the follow check box, the picture's remove button and the switcher's dividers.
    static constexpr int kFollowOn = 101;
    static constexpr int kFollowOff = 100;
    static constexpr int kRemovePictureTag = 103;
    static constexpr int kLeftDividerTag = 101;
    static constexpr int kRightDividerTag = 102;
    // The tag of the notice that the text is empty or too long.
    static constexpr int kCheckAlertTag = 1;
    static constexpr int kMaxCount = 140;
    static constexpr double kToolBarHeight = 44;
    static constexpr double kProgressInterval = 0.1;
    // The send progress climbs for this long, then waits at 0.99.
    static constexpr double kProgressSeconds = 3.0;
    // The user defaults key (with the platform name) that is YES once the follow was sent.
    static constexpr const char* kFollowDefaultsKey = "RAZudude_Follow_%@";
    // The expression that tells a link in the text.
    static const char* const kUrlPattern;

    explicit RZShareEditViewController(std::string nibName = kNibName);
    ~RZShareEditViewController() override;

    const std::string& nibName() const { return nibName_; }

    // ---- properties
    const std::shared_ptr<RAZududeControllerService>& socialControllerService() const {
        return socialControllerService_;
    }
    void setSocialControllerService(std::shared_ptr<RAZududeControllerService> service) {
        socialControllerService_ = std::move(service);
    }
    std::shared_ptr<RAZududeUIDelegate> socialUIDelegate() const {
        return socialUIDelegate_.lock();
    }
    void setSocialUIDelegate(std::weak_ptr<RAZududeUIDelegate> delegate) {
        socialUIDelegate_ = std::move(delegate);
    }
    const std::shared_ptr<RAZududeUrlResource>& urlResource() const { return urlResource_; }
    void setUrlResource(std::shared_ptr<RAZududeUrlResource> resource) {
        urlResource_ = std::move(resource);
    }
    // The picture's bytes, when the share picture was given as bytes.
    const std::optional<platform::Bytes>& mediaContext() const { return mediaContext_; }
    void setMediaContext(std::optional<platform::Bytes> data) { mediaContext_ = std::move(data); }
    std::shared_ptr<RZShareEditControllerDelegate> shareDelegate() const {
        return shareDelegate_.lock();
    }
    void setShareDelegate(std::weak_ptr<RZShareEditControllerDelegate> delegate) {
        shareDelegate_ = std::move(delegate);
    }

    // ---- life cycle
    // Makes the views of the interface file.
    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;
    void willRotateToInterfaceOrientation(int orientation, double duration) override;
    void addUserInfo();
    void readyForAppear();
    void keyboardWillShow(const platform::Notification& notification);

    // ---- actions
    // Checks the text, then posts it; a second tap while a share is under way does nothing.
    void pressSend();
    void selectImage();
    void selectUrlResource();
    void showFriendList();
    void changeAccount();
    void oauthToSns();
    void addFollow(platform::Button& sender);

    // ---- counting
    void updateCountLabel();
    void figureTwitterTextCount();
    static std::string URLDecodedString(const std::string& text);
    // The characters the text takes on the platform: two ASCII characters count as one, a link
    // as 10 on "sina" and 11 elsewhere.
    static int weightedLength(const std::string& text, const std::string& platformName);
    // An empty share, or one over the limit, gets a notice and answers false.
    bool checkAndAlert();

    // ---- sending
    void postSnsContent();
    void updateProgress();

    // ---- delegates
    void itemClicked(const std::string& text) override;
    bool textViewShouldBeginEditing(platform::TextView&) override { return true; }
    void actionSheetClickedButtonAtIndex(platform::ActionSheet& sheet, int index) override;
    void alertViewClickedButtonAtIndex(platform::AlertView& alert, int index) override;
    void imageViewLoadedImage(RAZududeImageView& imageView) override;
    void imageViewFailedToLoadImage(RAZududeImageView& imageView,
                                    const platform::Error& error) override;

    // ---- the views, for those who look at the screen
    const std::shared_ptr<platform::TextView>& textView() const { return textView_; }
    // The attachment's preview; null once the user removed the attachment.
    const std::shared_ptr<platform::ImageView>& shareImageButton() const {
        return shareImageButton_;
    }
    const std::shared_ptr<platform::View>& toolBarView() const { return toolBarView_; }
    const std::shared_ptr<platform::Label>& countLabel() const { return countLabel_; }
    const std::shared_ptr<platform::Button>& followButton() const { return followButton_; }
    const std::shared_ptr<platform::Label>& followLabel() const { return followLabel_; }
    const std::shared_ptr<platform::Button>& deleteImageButton() const {
        return deleteImageButton_;
    }
    const std::shared_ptr<platform::ImageView>& toolViewBackgroundImage() const {
        return toolViewBackgroundImage_;
    }
    const std::shared_ptr<platform::Button>& atButton() const { return atButton_; }
    const std::shared_ptr<platform::Button>& changeAccountButton() const {
        return changeAccountButton_;
    }
    const std::shared_ptr<platform::View>& changeAccountView() const { return changeAccountView_; }
    const std::shared_ptr<platform::ImageView>& changeAccountBackgroundView() const {
        return changeAccountBackgroundView_;
    }
    const std::shared_ptr<platform::Label>& snsNameLabel() const { return snsNameLabel_; }
    const std::shared_ptr<RAZududeImageView>& profileImageView() const { return profileImageView_; }
    const std::shared_ptr<platform::ProgressView>& progressView() const { return progressView_; }
    const std::shared_ptr<platform::Button>& sendButton() const { return sendButton_; }
    const std::shared_ptr<RAZududeFriendViewController>& friendListViewController() const {
        return friendListViewController_;
    }
    double keyboardHeight() const { return keyboardHeight_; }
    double timerDuration() const { return timerDuration_; }
    bool isProgressTimerRunning() const { return progressTimer_ != nullptr; }
    // Whether a share was handed to the data service and its reply has not come.
    bool isSending() const { return sending_; }

  private:
    std::string platformName() const;
    bool isPad() const;
    // The preview is on screen: the user has not removed the attachment and there is one.
    bool hasAttachment() const;
    bool previewShowsImage() const;
    // The URL resource is what the preview shows (rather than the share picture).
    bool previewsUrlResource() const;
    void previewUrlResource();
    void previewShareImage(const RAZududeShareImage& image);
    void removePreview();
    void stopProgressTimer();
    // The close button: a cancel for the app's delegate, unless it heard the share's result.
    void takeOverCloseButton();
    void closeTapped();
    void refreshAccountInfo();
    static void showResultToast(const RAZududeResponsePtr& response, const std::string& platform);

    std::string nibName_;
    std::shared_ptr<RAZududeControllerService> socialControllerService_;
    std::weak_ptr<RAZududeUIDelegate> socialUIDelegate_;
    std::shared_ptr<RAZududeUrlResource> urlResource_;
    std::optional<platform::Bytes> mediaContext_;
    std::weak_ptr<RZShareEditControllerDelegate> shareDelegate_;

    // The views of the interface file.
    std::shared_ptr<platform::TextView> textView_;
    std::shared_ptr<platform::ImageView> shareImageButton_;
    std::shared_ptr<platform::View> toolBarView_;
    std::shared_ptr<platform::Label> countLabel_;
    std::shared_ptr<platform::Button> followButton_;
    std::shared_ptr<platform::Label> followLabel_;
    std::shared_ptr<platform::Button> deleteImageButton_;
    std::shared_ptr<platform::ImageView> toolViewBackgroundImage_;
    std::shared_ptr<platform::Button> atButton_;
    std::shared_ptr<platform::Button> changeAccountButton_;
    std::shared_ptr<platform::View> changeAccountView_;
    std::shared_ptr<platform::ImageView> changeAccountBackgroundView_;
    std::shared_ptr<platform::ProgressView> nibProgressView_;

    std::shared_ptr<platform::ProgressView> progressView_;
    std::shared_ptr<RAZududeFriendViewController> friendListViewController_;
    std::shared_ptr<RAZududeImageView> profileImageView_;
    std::shared_ptr<RAZududeImageView> urlImageView_;
    std::shared_ptr<platform::Label> snsNameLabel_;
    std::shared_ptr<platform::Button> sendButton_;
    double keyboardHeight_ = 0;
    double timerDuration_ = 0;
    std::shared_ptr<platform::TimerHandle> progressTimer_;
    bool sending_ = false;
    // The app's delegate heard the result of the last share sent from this editor.
    bool resultReported_ = false;
    // The user put the keyboard away to see the account switcher.
    bool switcherShown_ = false;

    platform::ObserverToken textChangeObserver_;
    platform::ObserverToken keyboardObserver_;
};
