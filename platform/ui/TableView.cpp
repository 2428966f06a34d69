#include "platform/ui/TableView.h"

#include <algorithm>
#include <cmath>

#include "platform/Log.h"
#include "platform/ui/Screen.h"

namespace platform {

namespace {

// The plain style's header: the title in bold on a light grey band.
class HeaderView : public View {
  public:
    explicit HeaderView(const std::string& title) : label_(std::make_shared<Label>()) {
        setBackgroundColor(Color::gray(0.93));
        label_->setText(title);
        label_->setFont(Font::boldSystem(14));
        label_->setTextColor(Color::gray(0.3));
        label_->setBackgroundColor(std::nullopt);
        addSubview(label_);
    }
    void layoutSubviews() override {
        const Rect& b = bounds();
        label_->setFrame({15, 0, std::max(0.0, b.width() - 30), b.height()});
    }

  private:
    std::shared_ptr<Label> label_;
};

// The section index: its titles from top to bottom, centred on the strip.
class IndexView : public View {
  public:
    IndexView() { setUserInteractionEnabled(false); }
    void setTitles(std::vector<std::string> titles) {
        titles_ = std::move(titles);
        setNeedsDisplay();
    }
    const std::vector<std::string>& titles() const { return titles_; }
    // The row height of one title within the strip.
    double step() const {
        if (titles_.empty()) {
            return 0;
        }
        return std::min(16.0, bounds().height() / static_cast<double>(titles_.size()));
    }
    double top() const {
        return bounds().minY() +
               (bounds().height() - step() * static_cast<double>(titles_.size())) / 2;
    }
    void drawContent(GraphicsContext& context) const override {
        TextStyle style{Font::boldSystem(11), LineBreakMode::kClip, TextAlignment::kCenter, 1};
        double y = top();
        for (const auto& title : titles_) {
            context.drawText(title, {bounds().minX(), y + 1, bounds().width(), step()}, style,
                             Color::rgb255(0, 122, 255));
            y += step();
        }
    }

  private:
    std::vector<std::string> titles_;
};

}  // namespace

// ---- TableViewCell ---------------------------------------------------------------------

TableViewCell::TableViewCell(TableViewCellStyle style, std::string reuseIdentifier)
    : View(Rect{0, 0, 320, 44}),
      style_(style),
      reuseIdentifier_(std::move(reuseIdentifier)),
      contentView_(std::make_shared<View>()),
      textLabel_(std::make_shared<Label>()),
      imageView_(std::make_shared<ImageView>()) {
    setBackgroundColor(Color::white());
    textLabel_->setFont(Font::system(17));
    contentView_->addSubview(imageView_);
    contentView_->addSubview(textLabel_);
    if (style == TableViewCellStyle::kValue1) {
        detailTextLabel_ = std::make_shared<Label>();
        detailTextLabel_->setFont(Font::system(17));
        detailTextLabel_->setTextColor(Color::gray(0.56));
        detailTextLabel_->setTextAlignment(TextAlignment::kRight);
        contentView_->addSubview(detailTextLabel_);
    }
    addSubview(contentView_);
}

void TableViewCell::setBackgroundView(std::shared_ptr<View> view) {
    if (backgroundView_) {
        backgroundView_->removeFromSuperview();
    }
    backgroundView_ = std::move(view);
    if (backgroundView_) {
        insertSubview(backgroundView_, 0);
    }
    setNeedsLayout();
}

void TableViewCell::setSelected(bool selected, bool) {
    selected_ = selected;
    contentView_->setBackgroundColor(selected ? std::optional<Color>(Color::gray(0.85))
                                              : std::nullopt);
}

void TableViewCell::layoutSubviews() {
    const Rect& b = bounds();
    double w = b.width(), h = b.height();
    if (backgroundView_) {
        backgroundView_->setFrame({0, 0, w, h});
    }
    contentView_->setFrame({0, 0, w, h});
    double x = 15;
    if (const ImagePtr& image = imageView_->image()) {
        Size s = image->size();
        double iw = std::min(s.width, h), ih = std::min(s.height, h);
        imageView_->setFrame({x, (h - ih) / 2, iw, ih});
        x += iw + 15;
    } else {
        imageView_->setFrame({});
    }
    double right = w - 15;
    if (detailTextLabel_ && !detailTextLabel_->text().empty()) {
        Size s = measureText(detailTextLabel_->text(), detailTextLabel_->font());
        double dw = std::min(s.width, std::max(0.0, right - x));
        detailTextLabel_->setFrame({right - dw, 0, dw, h});
        right -= dw + 10;
    }
    textLabel_->setFrame({x, 0, std::max(0.0, right - x), h});
}

void TableViewCell::drawContent(GraphicsContext& context) const {
    // The separator at the bottom, from the text's left edge.
    const Rect& b = bounds();
    context.setFillColor(Color::gray(0.8));
    context.fillRect({15, b.maxY() - 0.5, std::max(0.0, b.width() - 15), 0.5});
}

// ---- TableView -------------------------------------------------------------------------

TableView::TableView(const Rect& frame, TableViewStyle style) : ScrollView(frame), style_(style) {
    setBackgroundColor(Color::white());
}

TableView::~TableView() = default;

void TableView::setDataSource(std::weak_ptr<TableViewDataSource> dataSource) {
    dataSource_ = std::move(dataSource);
    loaded_ = false;
    setNeedsLayout();
}

void TableView::setDelegate(std::weak_ptr<TableViewDelegate> delegate) {
    delegate_ = delegate;
    ScrollView::setDelegate(std::weak_ptr<ScrollViewDelegate>(delegate_));
    loaded_ = false;
    setNeedsLayout();
}

void TableView::setRowHeight(double height) {
    rowHeight_ = std::max(height, 0.0);
    loaded_ = false;
    setNeedsLayout();
}

void TableView::setSectionHeaderHeight(double height) {
    sectionHeaderHeight_ = std::max(height, 0.0);
    loaded_ = false;
    setNeedsLayout();
}

void TableView::setBackgroundView(std::shared_ptr<View> view) {
    if (backgroundView_) {
        backgroundView_->removeFromSuperview();
    }
    backgroundView_ = std::move(view);
    if (backgroundView_) {
        insertSubview(backgroundView_, 0);
    }
    setNeedsLayout();
}

void TableView::ensureLoaded() {
    if (!loaded_) {
        reloadData();
    }
}

void TableView::recycle(const IndexPath& path) {
    auto it = visible_.find(path);
    if (it == visible_.end()) {
        return;
    }
    auto cell = it->second;
    visible_.erase(it);
    cell->removeFromSuperview();
    if (!cell->reuseIdentifier().empty()) {
        reusable_[cell->reuseIdentifier()].push_back(std::move(cell));
    }
}

void TableView::reloadData() {
    auto keep = weak_from_this().lock();
    loaded_ = true;
    while (!visible_.empty()) {
        recycle(visible_.begin()->first);
    }
    for (auto& [section, header] : headers_) {
        header->removeFromSuperview();
    }
    headers_.clear();
    selected_.reset();
    sections_.clear();
    indexTitles_.clear();

    auto source = dataSource();
    auto del = tableDelegate();
    int count = source ? std::max(0, source->numberOfSectionsInTableView(*this)) : 0;
    double y = 0;
    for (int s = 0; s < count; ++s) {
        Section section;
        section.title = source->titleForHeaderInSection(*this, s);
        std::optional<double> headerHeight =
            del ? del->heightForHeaderInSection(*this, s) : std::nullopt;
        section.headerHeight =
            std::max(0.0, headerHeight.value_or(
                              section.title && !section.title->empty() ? sectionHeaderHeight_ : 0));
        section.headerY = y;
        y += section.headerHeight;
        int rows = std::max(0, source->numberOfRowsInSection(*this, s));
        section.rowY.reserve(static_cast<std::size_t>(rows));
        section.rowHeight.reserve(static_cast<std::size_t>(rows));
        for (int r = 0; r < rows; ++r) {
            std::optional<double> h =
                del ? del->heightForRowAtIndexPath(*this, {s, r}) : std::nullopt;
            double height = std::max(0.0, h.value_or(rowHeight_));
            section.rowY.push_back(y);
            section.rowHeight.push_back(height);
            y += height;
        }
        sections_.push_back(std::move(section));
    }
    if (source) {
        indexTitles_ = source->sectionIndexTitlesForTableView(*this);
    }
    setContentSize({bounds().width(), y});
    Point max = maximumContentOffset();
    Point offset = contentOffset();
    if (offset.x > max.x || offset.y > max.y) {
        setContentOffset({std::min(offset.x, max.x), std::min(offset.y, max.y)});
    }
    setNeedsLayout();
}

std::shared_ptr<TableViewCell> TableView::dequeueReusableCellWithIdentifier(
    const std::string& identifier) {
    auto it = reusable_.find(identifier);
    if (it == reusable_.end() || it->second.empty()) {
        return nullptr;
    }
    auto cell = std::move(it->second.back());
    it->second.pop_back();
    cell->setSelected(false);
    cell->prepareForReuse();
    return cell;
}

int TableView::numberOfSections() {
    ensureLoaded();
    return static_cast<int>(sections_.size());
}

int TableView::numberOfRowsInSection(int section) {
    ensureLoaded();
    if (section < 0 || section >= static_cast<int>(sections_.size())) {
        return 0;
    }
    return static_cast<int>(sections_[static_cast<std::size_t>(section)].rowY.size());
}

const std::vector<std::string>& TableView::sectionIndexTitles() {
    ensureLoaded();
    return indexTitles_;
}

std::optional<std::string> TableView::headerTitle(int section) {
    ensureLoaded();
    if (section < 0 || section >= static_cast<int>(sections_.size())) {
        return std::nullopt;
    }
    return sections_[static_cast<std::size_t>(section)].title;
}

Rect TableView::rectForRowAtIndexPath(const IndexPath& path) {
    ensureLoaded();
    if (path.section < 0 || path.section >= static_cast<int>(sections_.size())) {
        return {};
    }
    const Section& s = sections_[static_cast<std::size_t>(path.section)];
    if (path.row < 0 || path.row >= static_cast<int>(s.rowY.size())) {
        return {};
    }
    auto r = static_cast<std::size_t>(path.row);
    return {0, s.rowY[r], bounds().width(), s.rowHeight[r]};
}

Rect TableView::rectForHeaderInSection(int section) {
    ensureLoaded();
    if (section < 0 || section >= static_cast<int>(sections_.size())) {
        return {};
    }
    const Section& s = sections_[static_cast<std::size_t>(section)];
    return {0, s.headerY, bounds().width(), s.headerHeight};
}

std::optional<IndexPath> TableView::indexPathForRowAtPoint(Point p) {
    ensureLoaded();
    if (p.x < 0 || p.x >= bounds().width()) {
        return std::nullopt;
    }
    for (std::size_t s = 0; s < sections_.size(); ++s) {
        const Section& section = sections_[s];
        auto it = std::upper_bound(section.rowY.begin(), section.rowY.end(), p.y);
        if (it == section.rowY.begin()) {
            continue;
        }
        auto r = static_cast<std::size_t>(it - section.rowY.begin()) - 1;
        if (p.y < section.rowY[r] + section.rowHeight[r]) {
            return IndexPath{static_cast<int>(s), static_cast<int>(r)};
        }
    }
    return std::nullopt;
}

std::shared_ptr<TableViewCell> TableView::cellForRowAtIndexPath(const IndexPath& path) {
    layoutIfNeeded();
    auto it = visible_.find(path);
    return it == visible_.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<TableViewCell>> TableView::visibleCells() {
    layoutIfNeeded();
    std::vector<std::shared_ptr<TableViewCell>> cells;
    for (auto& [path, cell] : visible_) {
        cells.push_back(cell);
    }
    return cells;
}

std::vector<IndexPath> TableView::indexPathsForVisibleRows() {
    layoutIfNeeded();
    std::vector<IndexPath> paths;
    for (auto& [path, cell] : visible_) {
        paths.push_back(path);
    }
    return paths;
}

std::map<int, std::shared_ptr<View>> TableView::visibleHeaderViews() {
    layoutIfNeeded();
    return headers_;
}

void TableView::selectRowAtIndexPath(const IndexPath& path, bool animated) {
    if (selected_ && *selected_ != path) {
        deselectRowAtIndexPath(*selected_, animated);
    }
    selected_ = path;
    if (auto it = visible_.find(path); it != visible_.end()) {
        it->second->setSelected(true, animated);
    }
}

void TableView::deselectRowAtIndexPath(const IndexPath& path, bool animated) {
    if (selected_ == path) {
        selected_.reset();
    }
    if (auto it = visible_.find(path); it != visible_.end()) {
        it->second->setSelected(false, animated);
    }
}

void TableView::scrollToRowAtIndexPath(const IndexPath& path, bool animated) {
    Rect r = rectForRowAtIndexPath(path);
    if (path.row == 0 && path.section >= 0 && path.section < static_cast<int>(sections_.size())) {
        r = rectForHeaderInSection(path.section).unionWith(r);
    }
    Point max = maximumContentOffset();
    setContentOffset({contentOffset().x, std::clamp(r.minY(), 0.0, max.y)}, animated);
}

std::shared_ptr<View> TableView::makeHeader(int section) {
    if (auto del = tableDelegate()) {
        if (auto view = del->viewForHeaderInSection(*this, section)) {
            return view;
        }
    }
    const auto& title = sections_[static_cast<std::size_t>(section)].title;
    return std::make_shared<HeaderView>(title.value_or(""));
}

void TableView::layoutSubviews() {
    auto keep = weak_from_this().lock();
    ensureLoaded();
    const Rect visibleRect = bounds();
    double width = visibleRect.width();
    if (backgroundView_) {
        backgroundView_->setFrame(visibleRect);
        sendSubviewToBack(backgroundView_.get());
    }

    // Rows: recycle what left the view, ask for what came in.
    std::vector<IndexPath> wanted;
    for (std::size_t s = 0; s < sections_.size(); ++s) {
        const Section& section = sections_[s];
        for (std::size_t r = 0; r < section.rowY.size(); ++r) {
            Rect rect{0, section.rowY[r], width, section.rowHeight[r]};
            if (section.rowHeight[r] > 0 && rect.maxY() > visibleRect.minY() &&
                rect.minY() < visibleRect.maxY()) {
                wanted.push_back({static_cast<int>(s), static_cast<int>(r)});
            }
        }
    }
    std::vector<IndexPath> gone;
    for (auto& [path, cell] : visible_) {
        if (!std::binary_search(wanted.begin(), wanted.end(), path)) {
            gone.push_back(path);
        }
    }
    for (const auto& path : gone) {
        recycle(path);
    }
    auto source = dataSource();
    std::size_t cellIndex = backgroundView_ ? 1 : 0;
    for (const auto& path : wanted) {
        auto& cell = visible_[path];
        if (!cell) {
            cell = source ? source->cellForRowAtIndexPath(*this, path) : nullptr;
            if (!cell) {
                consoleLog("The table's data source gave no cell for row %d of section %d",
                           path.row, path.section);
                cell = std::make_shared<TableViewCell>(TableViewCellStyle::kDefault, "");
            }
            insertSubview(cell, cellIndex);
            cell->setSelected(selected_ == path);
        }
        cell->setFrame(rectForRowAtIndexPath(path));
    }

    // Headers above the rows.
    for (std::size_t s = 0; s < sections_.size(); ++s) {
        const Section& section = sections_[s];
        Rect rect{0, section.headerY, width, section.headerHeight};
        bool shown = section.headerHeight > 0 && rect.maxY() > visibleRect.minY() &&
                     rect.minY() < visibleRect.maxY();
        int key = static_cast<int>(s);
        auto it = headers_.find(key);
        if (!shown) {
            if (it != headers_.end()) {
                it->second->removeFromSuperview();
                headers_.erase(it);
            }
            continue;
        }
        if (it == headers_.end()) {
            it = headers_.emplace(key, makeHeader(key)).first;
            addSubview(it->second);
        }
        it->second->setFrame(rect);
    }

    // The index stays at the right edge of what is in view, above everything.
    if (!indexTitles_.empty()) {
        if (!indexView_) {
            indexView_ = std::make_shared<IndexView>();
        }
        static_cast<IndexView&>(*indexView_).setTitles(indexTitles_);
        indexView_->setFrame({visibleRect.maxX() - kSectionIndexWidth, visibleRect.minY(),
                              kSectionIndexWidth, visibleRect.height()});
        addSubview(indexView_);
    } else if (indexView_) {
        indexView_->removeFromSuperview();
    }
}

void TableView::touchesEnded(const Touch& touch) {
    auto keep = weak_from_this().lock();
    Point p = touch.locationIn(this);
    if (indexView_ && indexView_->superview() == this && !indexTitles_.empty() &&
        p.x >= indexView_->frame().minX()) {
        auto& index = static_cast<IndexView&>(*indexView_);
        double step = index.step();
        double y = p.y - indexView_->frame().minY() - index.top();
        if (step > 0 && y >= 0) {
            auto i = static_cast<int>(y / step);
            if (i < static_cast<int>(sections_.size()) &&
                i < static_cast<int>(indexTitles_.size())) {
                scrollToRowAtIndexPath({i, 0});
            }
        }
        return;
    }
    auto path = indexPathForRowAtPoint(p);
    if (!path) {
        return;
    }
    selectRowAtIndexPath(*path);
    if (auto del = tableDelegate()) {
        del->didSelectRowAtIndexPath(*this, *path);
    }
}

// ---- TableViewController ---------------------------------------------------------------

TableView& TableViewController::tableView() {
    return static_cast<TableView&>(*view());
}

void TableViewController::loadView() {
    auto table = std::make_shared<TableView>(Screen::main().bounds(), style_);
    table->setAutoresizingMask(kFlexibleWidth | kFlexibleHeight);
    table->setDataSource(selfAs<TableViewDataSource>());
    table->setDelegate(selfAs<TableViewDelegate>());
    setView(table);
}

void TableViewController::viewWillAppear(bool) {
    if (!reloaded_) {
        reloaded_ = true;
        tableView().reloadData();
    }
}

}  // namespace platform
