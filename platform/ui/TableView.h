// Tables: rows in sections, with header titles or header views, row heights, a section index
// at the right edge, and cells that are reused by identifier. The data source is asked for the
// counts and heights on reload and for cells only as rows come into view (at layout, or when a
// cell is looked up). A tap on a row selects it and tells the delegate.
#pragma once

#include <compare>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/ViewController.h"

namespace platform {

class TableView;
class TableViewCell;

struct IndexPath {
    int section = 0;
    int row = 0;
    auto operator<=>(const IndexPath&) const = default;
};

class TableViewDataSource {
  public:
    virtual ~TableViewDataSource() = default;
    virtual int numberOfSectionsInTableView(TableView&) { return 1; }
    virtual int numberOfRowsInSection(TableView&, int section) = 0;
    virtual std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView&, const IndexPath&) = 0;
    // No title: no header (unless the delegate gives a view).
    virtual std::optional<std::string> titleForHeaderInSection(TableView&, int /*section*/) {
        return std::nullopt;
    }
    // Empty: no index.
    virtual std::vector<std::string> sectionIndexTitlesForTableView(TableView&) { return {}; }
};

class TableViewDelegate : public ScrollViewDelegate {
  public:
    // Without an answer the table's rowHeight and sectionHeaderHeight apply.
    virtual std::optional<double> heightForRowAtIndexPath(TableView&, const IndexPath&) {
        return std::nullopt;
    }
    virtual std::optional<double> heightForHeaderInSection(TableView&, int /*section*/) {
        return std::nullopt;
    }
    virtual std::shared_ptr<View> viewForHeaderInSection(TableView&, int /*section*/) {
        return nullptr;
    }
    virtual void didSelectRowAtIndexPath(TableView&, const IndexPath&) {}
};

enum class TableViewCellStyle { kDefault = 0, kValue1 = 1 };

// A row's view: an image at the left, a text label, and for style 1 a detail label at the
// right; all inside the content view, over an optional background view.
class TableViewCell : public View {
  public:
    TableViewCell(TableViewCellStyle style, std::string reuseIdentifier);

    TableViewCellStyle style() const { return style_; }
    const std::string& reuseIdentifier() const { return reuseIdentifier_; }

    View& contentView() { return *contentView_; }
    Label& textLabel() { return *textLabel_; }
    // Null for style 0.
    Label* detailTextLabel() { return detailTextLabel_.get(); }
    ImageView& imageView() { return *imageView_; }
    const std::shared_ptr<View>& backgroundView() const { return backgroundView_; }
    void setBackgroundView(std::shared_ptr<View> view);

    bool isSelected() const { return selected_; }
    virtual void setSelected(bool selected, bool animated = false);
    // Called before the table hands the cell out again.
    virtual void prepareForReuse() {}

    void layoutSubviews() override;
    void drawContent(GraphicsContext& context) const override;

  private:
    TableViewCellStyle style_;
    std::string reuseIdentifier_;
    std::shared_ptr<View> backgroundView_;
    std::shared_ptr<View> contentView_;
    std::shared_ptr<Label> textLabel_;
    std::shared_ptr<Label> detailTextLabel_;
    std::shared_ptr<ImageView> imageView_;
    bool selected_ = false;
};

enum class TableViewStyle { kPlain = 0, kGrouped = 1 };

class TableView : public ScrollView {
  public:
    explicit TableView(const Rect& frame = {}, TableViewStyle style = TableViewStyle::kPlain);
    ~TableView() override;

    TableViewStyle style() const { return style_; }

    std::shared_ptr<TableViewDataSource> dataSource() const { return dataSource_.lock(); }
    void setDataSource(std::weak_ptr<TableViewDataSource> dataSource);
    std::shared_ptr<TableViewDelegate> tableDelegate() const { return delegate_.lock(); }
    // The delegate also hears the scrolling.
    void setDelegate(std::weak_ptr<TableViewDelegate> delegate);

    double rowHeight() const { return rowHeight_; }
    void setRowHeight(double height);
    double sectionHeaderHeight() const { return sectionHeaderHeight_; }
    void setSectionHeaderHeight(double height);
    const std::shared_ptr<View>& backgroundView() const { return backgroundView_; }
    void setBackgroundView(std::shared_ptr<View> view);

    // Asks the data source again for the counts, titles, index and heights; visible cells go
    // back to the reuse pool and are asked for again at the next layout.
    void reloadData();

    // A cell the table no longer shows, ready for reuse; null when there is none.
    std::shared_ptr<TableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);

    int numberOfSections();
    int numberOfRowsInSection(int section);
    const std::vector<std::string>& sectionIndexTitles();
    // The header title of a section as the data source gave it.
    std::optional<std::string> headerTitle(int section);
    Rect rectForRowAtIndexPath(const IndexPath& path);
    Rect rectForHeaderInSection(int section);
    std::optional<IndexPath> indexPathForRowAtPoint(Point p);
    // The cell of a visible row, laid out; null for a row out of view.
    std::shared_ptr<TableViewCell> cellForRowAtIndexPath(const IndexPath& path);
    std::vector<std::shared_ptr<TableViewCell>> visibleCells();
    std::vector<IndexPath> indexPathsForVisibleRows();
    // The header views in view now, by section.
    std::map<int, std::shared_ptr<View>> visibleHeaderViews();
    View* sectionIndexView() const { return indexView_.get(); }

    std::optional<IndexPath> indexPathForSelectedRow() const { return selected_; }
    void selectRowAtIndexPath(const IndexPath& path, bool animated = false);
    void deselectRowAtIndexPath(const IndexPath& path, bool animated = false);
    void scrollToRowAtIndexPath(const IndexPath& path, bool animated = false);

    void layoutSubviews() override;
    void touchesEnded(const Touch& touch) override;

    static constexpr double kSectionIndexWidth = 16;

  protected:
    void didScroll() override { setNeedsLayout(); }

  private:
    struct Section {
        double headerY = 0;
        double headerHeight = 0;
        std::optional<std::string> title;
        std::vector<double> rowY;
        std::vector<double> rowHeight;
    };
    void ensureLoaded();
    void recycle(const IndexPath& path);
    std::shared_ptr<View> makeHeader(int section);

    TableViewStyle style_;
    std::weak_ptr<TableViewDataSource> dataSource_;
    std::weak_ptr<TableViewDelegate> delegate_;
    double rowHeight_ = 44;
    double sectionHeaderHeight_ = 22;
    std::shared_ptr<View> backgroundView_;

    bool loaded_ = false;
    std::vector<Section> sections_;
    std::vector<std::string> indexTitles_;
    std::map<IndexPath, std::shared_ptr<TableViewCell>> visible_;
    std::map<int, std::shared_ptr<View>> headers_;
    std::map<std::string, std::vector<std::shared_ptr<TableViewCell>>> reusable_;
    std::shared_ptr<View> indexView_;
    std::optional<IndexPath> selected_;
};

// A controller whose view is a table, with itself as the table's data source and delegate;
// it reloads the table when it first appears.
class TableViewController : public ViewController,
                            public TableViewDataSource,
                            public TableViewDelegate {
  public:
    explicit TableViewController(TableViewStyle style = TableViewStyle::kPlain) : style_(style) {}

    TableView& tableView();
    void loadView() override;
    void viewWillAppear(bool animated) override;

    int numberOfRowsInSection(TableView&, int) override { return 0; }
    std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView&, const IndexPath&) override {
        return nullptr;
    }

  private:
    TableViewStyle style_;
    bool reloaded_ = false;
};

}  // namespace platform
