// The view tree: geometry and autoresizing, the tree itself, tags, hit-testing, injected taps
// with recognizers and controls, and the deferred layout and display passes.
#include "platform/ui/View.h"

#include <numbers>

#include "platform/ui/Button.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/Label.h"
#include "tests/platform_ui/UiTest.h"

using namespace platform;

namespace {

class ViewTest : public ui_test::UiTest {};

TEST(Geometry, RectanglesAndTransformsCombineAsExpected) {
    Rect a{10, 20, 30, 40};
    EXPECT_EQ(a.intersection({20, 30, 100, 100}), (Rect{20, 30, 20, 30}));
    EXPECT_TRUE(a.intersection({100, 100, 1, 1}).isNull());
    EXPECT_EQ(a.unionWith({0, 0, 5, 5}), (Rect{0, 0, 40, 60}));
    EXPECT_EQ(Rect(10, 10, -4, -6).standardized(), (Rect{6, 4, 4, 6}));
    EXPECT_EQ(Rect(0.5, 0.2, 1, 1).integral(), (Rect{0, 0, 2, 2}));
    EXPECT_TRUE(a.contains({10, 20}));
    EXPECT_FALSE(a.contains({40, 20}));  // the far edge is outside
    EXPECT_TRUE(Rect::null().isNull());
    EXPECT_TRUE(Rect::null().isEmpty());

    AffineTransform t = AffineTransform::scale(2, 3).concat(AffineTransform::translation(5, 0));
    EXPECT_EQ(t.apply(Point{1, 1}), (Point{7, 3}));
    Point back = t.inverted().apply(Point{7, 3});
    EXPECT_NEAR(back.x, 1, 1e-12);
    EXPECT_NEAR(back.y, 1, 1e-12);
    Rect turned = AffineTransform::rotation(std::numbers::pi / 2).apply(Rect{0, 0, 10, 20});
    EXPECT_NEAR(turned.width(), 20, 1e-9);
    EXPECT_NEAR(turned.height(), 10, 1e-9);
    EXPECT_EQ(rectFromValue(toValue(a)), a);
    EXPECT_EQ(rectFromValue(Value("no rect")), Rect{});
}

TEST_F(ViewTest, FrameBoundsCentreAndTransformStayConsistent) {
    auto v = std::make_shared<View>(Rect{10, 20, 100, 50});
    EXPECT_EQ(v->center(), (Point{60, 45}));
    EXPECT_EQ(v->bounds(), (Rect{0, 0, 100, 50}));
    v->setCenter({100, 100});
    EXPECT_EQ(v->frame(), (Rect{50, 75, 100, 50}));
    v->setTransform(AffineTransform::scale(2, 2));
    EXPECT_EQ(v->frame(), (Rect{0, 50, 200, 100}));  // scaled about the centre
    EXPECT_EQ(v->bounds().size, (Size{100, 50}));
    v->setTransform(AffineTransform::identity());
    v->setBounds({0, 0, 40, 40});
    EXPECT_EQ(v->frame(), (Rect{80, 80, 40, 40}));  // the centre holds

    // A view made with the null rectangle keeps it as its frame until given geometry.
    auto template_ = std::make_shared<View>(Rect::null());
    EXPECT_TRUE(template_->frame().isNull());
    EXPECT_EQ(template_->bounds(), Rect{});
    template_->setFrame({1, 2, 3, 4});
    EXPECT_EQ(template_->frame(), (Rect{1, 2, 3, 4}));
    template_->setFrame(Rect::null());
    EXPECT_TRUE(template_->frame().isNull());
}

TEST_F(ViewTest, AutoresizingSharesTheChangeAmongTheFlexibleParts) {
    auto parent = std::make_shared<View>(Rect{0, 0, 200, 100});
    auto fixed = std::make_shared<View>(Rect{10, 10, 50, 20});
    auto stretch = std::make_shared<View>(Rect{10, 10, 180, 80});
    stretch->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    auto pinnedRight = std::make_shared<View>(Rect{150, 10, 40, 20});
    pinnedRight->setAutoresizingMask(kFlexibleLeftMargin);
    auto centred = std::make_shared<View>(Rect{50, 40, 100, 20});  // margins 50 and 50
    centred->setAutoresizingMask(kFlexibleLeftMargin | kFlexibleRightMargin | kFlexibleTopMargin |
                                 kFlexibleBottomMargin);
    auto proportional = std::make_shared<View>(Rect{20, 0, 60, 10});  // margin 20, width 60
    proportional->setAutoresizingMask(kFlexibleLeftMargin | kFlexibleWidth);
    for (auto& v : {fixed, stretch, pinnedRight, centred, proportional}) {
        parent->addSubview(v);
    }

    parent->setFrame({0, 0, 300, 200});
    EXPECT_EQ(fixed->frame(), (Rect{10, 10, 50, 20}));
    EXPECT_EQ(stretch->frame(), (Rect{10, 10, 280, 180}));
    EXPECT_EQ(pinnedRight->frame(), (Rect{250, 10, 40, 20}));
    EXPECT_EQ(centred->frame(), (Rect{100, 90, 100, 20}));
    EXPECT_EQ(proportional->frame(), (Rect{45, 0, 135, 10}));  // 100 more, split 20:60

    parent->setAutoresizesSubviews(false);
    parent->setFrame({0, 0, 100, 100});
    EXPECT_EQ(stretch->frame(), (Rect{10, 10, 280, 180}));
}

TEST_F(ViewTest, TreeKeepsOrderMovesViewsAndFindsTags) {
    auto root = std::make_shared<View>(Rect{0, 0, 100, 100});
    auto a = std::make_shared<View>();
    auto b = std::make_shared<View>();
    auto c = std::make_shared<View>();
    root->addSubview(a);
    root->addSubview(b);
    root->insertSubview(c, 0);
    ASSERT_EQ(root->subviews(), (std::vector<std::shared_ptr<View>>{c, a, b}));
    root->bringSubviewToFront(c.get());
    EXPECT_EQ(root->subviews().back(), c);
    root->sendSubviewToBack(b.get());
    EXPECT_EQ(root->subviews().front(), b);
    root->insertSubviewAbove(b, a.get());
    EXPECT_EQ(root->subviews(), (std::vector<std::shared_ptr<View>>{a, b, c}));

    // Adding to another parent moves the view; a view cannot hold an ancestor.
    a->addSubview(c);
    EXPECT_EQ(root->subviews().size(), 2u);
    EXPECT_EQ(c->superview(), a.get());
    c->addSubview(root);
    EXPECT_EQ(root->superview(), nullptr);

    c->setTag(1013);
    b->setTag(100);
    EXPECT_EQ(root->viewWithTag(1013), c);
    EXPECT_EQ(root->viewWithTag(100), b);
    EXPECT_EQ(root->viewWithTag(7), nullptr);
    EXPECT_EQ(root->viewWithTagAs<Label>(100), nullptr);

    std::weak_ptr<View> gone = c;
    c->removeFromSuperview();
    c.reset();
    EXPECT_TRUE(gone.expired());  // the superview held the only reference
}

TEST_F(ViewTest, PointsConvertThroughBoundsOriginsAndTransforms) {
    auto window = keyWindow();
    auto scroller = std::make_shared<View>(Rect{10, 10, 100, 100});
    scroller->setBounds({0, 50, 100, 100});  // scrolled down by 50
    auto inner = std::make_shared<View>(Rect{0, 60, 20, 20});
    window->addSubview(scroller);
    scroller->addSubview(inner);
    EXPECT_EQ(inner->convertPointTo({0, 0}, nullptr), (Point{10, 20}));
    EXPECT_EQ(inner->convertPointFrom({15, 25}, nullptr), (Point{5, 5}));
    EXPECT_EQ(inner->convertRectTo(inner->bounds(), scroller.get()), (Rect{0, 60, 20, 20}));

    inner->setTransform(AffineTransform::scale(2, 2));
    Point p = inner->convertPointTo({0, 0}, nullptr);
    EXPECT_EQ(p, (Point{0, 10}));
}

TEST_F(ViewTest, HitTestingSkipsHiddenFaintAndInertViews) {
    auto window = keyWindow();
    auto back = std::make_shared<View>(Rect{0, 0, 200, 200});
    auto front = std::make_shared<View>(Rect{50, 50, 100, 100});
    auto child = std::make_shared<View>(Rect{10, 10, 20, 20});
    auto outside = std::make_shared<View>(Rect{150, 150, 100, 100});  // beyond its parent
    window->addSubview(back);
    window->addSubview(front);
    front->addSubview(child);
    front->addSubview(outside);

    EXPECT_EQ(window->hitTest({65, 65}), child);
    EXPECT_EQ(window->hitTest({100, 100}), front);
    EXPECT_EQ(window->hitTest({10, 10}), back);
    EXPECT_EQ(window->hitTest({180, 180}), back);  // not the part of `outside` past `front`

    front->setHidden(true);
    EXPECT_EQ(window->hitTest({65, 65}), back);
    front->setHidden(false);
    front->setAlpha(0.009);
    EXPECT_EQ(window->hitTest({65, 65}), back);
    front->setAlpha(0.01);
    EXPECT_EQ(window->hitTest({65, 65}), child);
    child->setUserInteractionEnabled(false);
    EXPECT_EQ(window->hitTest({65, 65}), front);
    front->setUserInteractionEnabled(false);
    EXPECT_EQ(window->hitTest({65, 65}), back);
    EXPECT_EQ(window->hitTest({-1, 5}), nullptr);
}

TEST_F(ViewTest, TapsReachControlsUnlessARecognizerTakesThem) {
    auto window = keyWindow();
    auto overlay = std::make_shared<View>(window->bounds());
    window->addSubview(overlay);
    auto button = std::make_shared<Button>(Rect{20, 20, 80, 80});
    overlay->addSubview(button);
    std::vector<std::string> events;
    button->addTarget([&](Control&) { events.push_back("down"); }, kControlEventTouchDown);
    button->addTarget([&](Control&) { events.push_back("up"); }, kControlEventTouchUpInside);

    EXPECT_EQ(window->tapView(*button), button);
    EXPECT_EQ(events, (std::vector<std::string>{"down", "up"}));
    EXPECT_FALSE(button->isHighlighted());

    // A recognizer on an ancestor takes the tap: the button sees it land, not lift.
    int overlayTaps = 0;
    auto overlayTap = std::make_shared<TapGestureRecognizer>([&](GestureRecognizer& r) {
        ++overlayTaps;
        EXPECT_EQ(r.view(), overlay.get());
    });
    overlay->addGestureRecognizer(overlayTap);
    events.clear();
    window->tap({60, 60});
    EXPECT_EQ(overlayTaps, 1);
    EXPECT_EQ(overlayTap->locationInView(button.get()), (Point{40, 40}));
    EXPECT_EQ(events, (std::vector<std::string>{"down"}));

    // The button's own recognizer comes before the ancestor's, and tells which view it is on.
    int tagSeen = 0;
    button->setTag(111);
    button->addGestureRecognizer(std::make_shared<TapGestureRecognizer>(
        [&](GestureRecognizer& r) { tagSeen = r.view()->tag(); }));
    window->tap({60, 60});
    EXPECT_EQ(tagSeen, 111);
    EXPECT_EQ(overlayTaps, 1);

    // Disabled controls send nothing; a tap on bare overlay space reaches its recognizer.
    events.clear();
    button->setEnabled(false);
    button->gestureRecognizers()[0]->setEnabled(false);
    window->tap({60, 60});
    EXPECT_TRUE(events.empty());
    window->tap({300, 500});
    EXPECT_EQ(overlayTaps, 3);
}

TEST_F(ViewTest, AnActionMayRemoveItsOwnButtonDuringTheTap) {
    auto window = keyWindow();
    auto button = std::make_shared<Button>(Rect{0, 0, 50, 50});
    window->addSubview(button);
    std::weak_ptr<Button> weak = button;
    button->addTarget([](Control& c) { c.removeFromSuperview(); }, kControlEventTouchUpInside);
    button.reset();
    window->tap({10, 10});
    EXPECT_TRUE(weak.expired());
}

class CountingView : public View {
  public:
    using View::View;
    int layouts = 0;
    int draws = 0;
    void layoutSubviews() override { ++layouts; }
    void draw(GraphicsContext& context, const Rect& rect) override {
        ++draws;
        context.setFillColor(Color::red());
        context.fillRect(rect);
    }
};

TEST_F(ViewTest, LayoutAndDisplayRunOnceOnTheNextTurnOfTheLoop) {
    auto window = keyWindow();
    auto v = std::make_shared<CountingView>(Rect{0, 0, 10, 10});
    window->addSubview(v);
    drain();
    EXPECT_EQ(v->layouts, 1);
    EXPECT_EQ(v->draws, 1);
    ASSERT_TRUE(v->drawing());

    v->setNeedsLayout();
    v->setNeedsLayout();
    v->setNeedsDisplay();
    EXPECT_EQ(v->layouts, 1);
    drain();
    EXPECT_EQ(v->layouts, 2);
    EXPECT_EQ(v->draws, 2);

    // A resize lays out again; it redraws only in the redraw content mode.
    v->setFrame({0, 0, 20, 20});
    drain();
    EXPECT_EQ(v->layouts, 3);
    EXPECT_EQ(v->draws, 2);
    v->setContentMode(ContentMode::kRedraw);
    v->setFrame({0, 0, 30, 30});
    drain();
    EXPECT_EQ(v->draws, 3);

    // Hidden views wait to be drawn until they are shown.
    v->setHidden(true);
    v->setNeedsDisplay();
    drain();
    EXPECT_EQ(v->draws, 3);
    v->setHidden(false);
    drain();
    EXPECT_EQ(v->draws, 4);
}

TEST_F(ViewTest, LabelsSizeToTheirText) {
    ScopedTextMeasurer fixed;
    auto label = std::make_shared<Label>(Rect{5, 5, 0, 0});
    label->setFont(Font::system(10));
    label->setText("Hello world");
    label->sizeToFit();
    EXPECT_EQ(label->frame(), (Rect{5, 5, 55, 12}));
    label->setNumberOfLines(0);
    label->setFrame({0, 0, 30, 0});
    label->sizeToFit();
    EXPECT_EQ(label->bounds().size, (Size{25, 24}));
    EXPECT_FALSE(label->isUserInteractionEnabled());

    label->setNumberOfLines(1);
    label->setFrame({0, 0, 30, 12});
    label->setAdjustsFontSizeToFitWidth(true);
    EXPECT_NEAR(label->fontForDrawing().pointSize(), 10 * 30 / 55.0, 1e-9);
    label->setMinimumScaleFactor(0.8);
    EXPECT_DOUBLE_EQ(label->fontForDrawing().pointSize(), 8);
}

TEST_F(ViewTest, ButtonsShowPerStateContentAndCentreImageAndTitle) {
    ScopedTextMeasurer fixed;
    auto button = std::make_shared<Button>(Rect{0, 0, 100, 40});
    ImagePtr icon = std::make_shared<Image>(20, 20, 1);
    button->setTitle("Send");
    button->setTitle("Sending", kControlStateHighlighted);
    button->setImage(icon);
    button->titleLabel().setFont(Font::system(10));
    EXPECT_EQ(button->currentTitle(), "Send");
    button->setHighlighted(true);
    EXPECT_EQ(button->currentTitle(), "Sending");
    EXPECT_EQ(button->currentImage(), icon);  // falls back to normal
    button->setHighlighted(false);
    button->setSelected(true);
    EXPECT_EQ(button->currentTitle(), "Send");
    button->setSelected(false);

    button->layoutIfNeeded();
    // Image 20 + title 20 = 40, centred in 100: image at 30, title at 50.
    EXPECT_EQ(button->imageView().frame(), (Rect{30, 10, 20, 20}));
    EXPECT_EQ(button->titleLabel().frame(), (Rect{50, 14, 20, 12}));
    button->setTitleEdgeInsets({0, 6, 0, 0});
    button->layoutIfNeeded();
    EXPECT_EQ(button->titleLabel().frame().origin.x, 53);
}

}  // namespace
