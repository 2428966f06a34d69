#include "SocialSDK/ui/startup/RAZududeThemeBlocks.h"

#include <memory>
#include <string>

#include "platform/graphics/Image.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/TableView.h"

namespace {

using platform::Button;
using platform::Color;
using platform::Font;
using platform::Image;

constexpr const char* kButtonBackground =
    "RAZududeSDKResourcesNew.bundle/OtherTheme/RZS_nav_button_normal";
constexpr const char* kBackButtonBackground =
    "RAZududeSDKResourcesNew.bundle/OtherTheme/RZS_nav_back_button_normal";
constexpr const char* kDarkBarBackground =
    "RAZududeSDKResourcesNew.bundle/OtherTheme/RZS_nav_bar_bg_black";

platform::ImagePtr stretchedButtonBackground() {
    auto image = Image::named(kButtonBackground);
    return image ? image->stretchable(8, 10) : nullptr;
}

void styleDarkButton(Button& button, platform::ImagePtr background, std::string title) {
    button.setBackgroundImage(std::move(background));
    button.setImage(nullptr);
    button.setTitle(std::move(title));
    button.titleLabel().setFont(Font::boldSystem(13));
}

// The title of the item in a label of its own, sized to the text.
void setTitleLabel(platform::NavigationItem& item, Color color) {
    auto label = std::make_shared<platform::Label>();
    label->setFont(Font::system(18));
    label->setTextColor(color);
    label->setBackgroundColor(Color::clear());
    label->setText(item.title());
    label->sizeToFit();
    item.setTitleView(std::move(label));
}

RAZududeNavigationBarConfig darkNavigationBarConfig() {
    return [](platform::NavigationBar* bar, Button* closeButton, Button* backButton,
              Button* postButton, Button*, platform::NavigationItem* item) {
        if (closeButton) {
            styleDarkButton(*closeButton, stretchedButtonBackground(), "关 闭");
        }
        if (backButton) {
            styleDarkButton(*backButton, Image::named(kBackButtonBackground), "返 回");
            backButton->setTitleEdgeInsets({0, 6, 0, 0});
        }
        if (bar) {
            bar->setBackgroundImage(Image::named(kDarkBarBackground),
                                    platform::BarMetrics::kDefault);
            bar->setTitleTextAttributes(std::nullopt);
        }
        if (postButton) {
            styleDarkButton(*postButton, stretchedButtonBackground(), "发 布");
            postButton->setTitleEdgeInsets({});
        }
        if (item) {
            setTitleLabel(*item, Color::white());
        }
    };
}

// White hairlines on dark grey. The names take white too: in the template's dark grey they
// would vanish into the panel.
RAZududeGridViewConfig darkGridViewConfig() {
    return [](platform::GraphicsContext* context, platform::View* view, platform::Label* label) {
        if (context) {
            context->setStrokeColor(Color::white());
            context->setLineWidth(0);
        }
        if (view) {
            view->setBackgroundColor(Color::darkGray());
        }
        if (label) {
            label->setTextColor(Color::white());
        }
    };
}

RAZududeNavigationBarConfig lightNavigationBarConfig() {
    return [](platform::NavigationBar*, Button*, Button*, Button*, Button*,
              platform::NavigationItem* item) {
        if (item) {
            setTitleLabel(*item, Color(70 / 255.0, 79 / 255.0, 97 / 255.0, 1));
        }
    };
}

RAZududeTableViewCellConfig lightTableViewCellConfig() {
    return [](platform::TableViewCell* cell) {
        if (cell) {
            cell->textLabel().setTextColor(Color::gray(0.353));
        }
    };
}

}  // namespace

RAZududeScreenHooks::ThemeBlocks RAZududeThemeBlocks(int theme) {
    if (theme == 0) {
        return {darkNavigationBarConfig(), darkGridViewConfig(), nullptr};
    }
    return {lightNavigationBarConfig(), nullptr, lightTableViewCellConfig()};
}
