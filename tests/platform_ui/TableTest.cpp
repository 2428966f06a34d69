// Tables: what the data source is asked and when, cell reuse, sections with titles and
// views, the index, selection by tap, and the scroll callbacks.
#include "platform/ui/TableView.h"

#include "platform/ui/Window.h"
#include "tests/platform_ui/UiTest.h"

using namespace platform;

namespace {

// Sections of rows named "s.r"; records every call it gets.
class Source : public TableViewDataSource, public TableViewDelegate {
  public:
    std::vector<int> rows{3, 2};
    std::vector<std::string> titles{"A", ""};
    std::vector<std::string> index;
    double tallRowHeight = 0;
    std::shared_ptr<View> customHeader;
    std::vector<std::string> calls;
    std::vector<IndexPath> asked;
    std::vector<IndexPath> selected;
    int scrolls = 0;
    int drags = 0;

    int numberOfSectionsInTableView(TableView&) override {
        calls.push_back("sections");
        return static_cast<int>(rows.size());
    }
    int numberOfRowsInSection(TableView&, int section) override {
        calls.push_back("rows " + std::to_string(section));
        return rows[static_cast<std::size_t>(section)];
    }
    std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& table,
                                                         const IndexPath& path) override {
        asked.push_back(path);
        auto cell = table.dequeueReusableCellWithIdentifier("cell");
        if (!cell) {
            cell = std::make_shared<TableViewCell>(TableViewCellStyle::kDefault, "cell");
            ++made;
        }
        cell->textLabel().setText(std::to_string(path.section) + "." + std::to_string(path.row));
        return cell;
    }
    std::optional<std::string> titleForHeaderInSection(TableView&, int section) override {
        return titles[static_cast<std::size_t>(section)];
    }
    std::vector<std::string> sectionIndexTitlesForTableView(TableView&) override { return index; }
    std::optional<double> heightForRowAtIndexPath(TableView&, const IndexPath& path) override {
        if (tallRowHeight > 0 && path.row == 0) {
            return tallRowHeight;
        }
        return std::nullopt;
    }
    std::shared_ptr<View> viewForHeaderInSection(TableView&, int section) override {
        return section == 1 ? customHeader : nullptr;
    }
    std::optional<double> heightForHeaderInSection(TableView&, int section) override {
        if (section == 1 && customHeader) {
            return 10;
        }
        return std::nullopt;
    }
    void didSelectRowAtIndexPath(TableView&, const IndexPath& path) override {
        selected.push_back(path);
    }
    void scrollViewDidScroll(ScrollView&) override { ++scrolls; }
    void scrollViewWillBeginDragging(ScrollView&) override { ++drags; }

    int made = 0;
};

class TableTest : public ui_test::UiTest {
  protected:
    std::shared_ptr<Source> source = std::make_shared<Source>();
    std::shared_ptr<Window> window = keyWindow();
    std::shared_ptr<TableView> table = std::make_shared<TableView>(Rect{0, 0, 320, 190});

    void attach() {
        table->setDataSource(source);
        table->setDelegate(source);
        window->addSubview(table);
    }
};

TEST_F(TableTest, CountsAreAskedOnReloadAndCellsOnlyForRowsInView) {
    attach();
    EXPECT_TRUE(source->calls.empty());  // nothing until the table is laid out or asked
    table->layoutIfNeeded();
    EXPECT_EQ(source->calls, (std::vector<std::string>{"sections", "rows 0", "rows 1"}));
    // Header "A" of 22, rows of 44: 22 + 3 x 44 = 154, then no header, 2 rows: 242 in all.
    EXPECT_EQ(table->contentSize(), (Size{320, 242}));
    EXPECT_EQ(table->rectForRowAtIndexPath({1, 0}), (Rect{0, 154, 320, 44}));
    EXPECT_EQ(table->rectForRowAtIndexPath({5, 0}), Rect{});
    // 190 points show rows up to y 190: all of section 0 and the first of section 1.
    EXPECT_EQ(source->asked, (std::vector<IndexPath>{{0, 0}, {0, 1}, {0, 2}, {1, 0}}));
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 1})->textLabel().text(), "0.1");
    EXPECT_EQ(table->cellForRowAtIndexPath({1, 1}), nullptr);
    EXPECT_EQ(table->headerTitle(0), "A");
    EXPECT_EQ(table->visibleHeaderViews().size(), 1u);

    source->calls.clear();
    source->asked.clear();
    source->rows = {1};
    source->titles = {"only"};
    table->reloadData();
    EXPECT_EQ(source->calls, (std::vector<std::string>{"sections", "rows 0"}));
    EXPECT_TRUE(source->asked.empty());
    EXPECT_EQ(table->visibleCells().size(), 1u);
    EXPECT_EQ(source->asked, (std::vector<IndexPath>{{0, 0}}));
}

TEST_F(TableTest, ScrolledOutCellsAreReusedByIdentifier) {
    source->rows = {20};
    source->titles = {""};
    attach();
    table->layoutIfNeeded();
    EXPECT_EQ(source->made, 5);  // 190 / 44: rows 0 to 4 show
    source->asked.clear();
    table->setContentOffset({0, 440});
    table->layoutIfNeeded();
    EXPECT_EQ(source->asked.front(), (IndexPath{0, 10}));
    EXPECT_EQ(source->made, 5);  // the five that left came back for the five that came in
    EXPECT_EQ(table->indexPathsForVisibleRows().front(), (IndexPath{0, 10}));
    EXPECT_EQ(table->cellForRowAtIndexPath({0, 12})->textLabel().text(), "0.12");
    EXPECT_EQ(source->scrolls, 1);
    // The offset never leaves the content.
    table->setContentOffset({0, 10000});
    table->dragBy({0, -10000});
    EXPECT_EQ(table->contentOffset(), (Point{0, 880 - 190}));
}

TEST_F(TableTest, HeightsHeadersAndTheIndexComeFromDataSourceAndDelegate) {
    ScopedTextMeasurer fixed;
    source->tallRowHeight = 80;
    source->customHeader = std::make_shared<View>();
    source->index = {"A", "B"};
    table->setFrame({0, 0, 320, 200});
    attach();
    table->layoutIfNeeded();
    EXPECT_EQ(table->rectForRowAtIndexPath({0, 0}), (Rect{0, 22, 320, 80}));
    EXPECT_EQ(table->rectForHeaderInSection(1), (Rect{0, 190, 320, 10}));
    auto headers = table->visibleHeaderViews();
    ASSERT_EQ(headers.size(), 2u);
    EXPECT_EQ(headers[1], source->customHeader);
    EXPECT_EQ(source->customHeader->frame(), (Rect{0, 190, 320, 10}));
    EXPECT_EQ(table->sectionIndexTitles(), (std::vector<std::string>{"A", "B"}));
    ASSERT_NE(table->sectionIndexView(), nullptr);
    EXPECT_EQ(table->sectionIndexView()->frame(), (Rect{304, 0, 16, 200}));

    // A tap on the index's second title scrolls to that section.
    Point second = table->sectionIndexView()->convertPointTo({8, 100 + 8}, nullptr);
    window->tap(second);
    EXPECT_EQ(table->contentOffset().y, 124);  // as far as the content allows: 324 - 200
}

TEST_F(TableTest, TappingARowSelectsItAndTellsTheDelegate) {
    attach();
    table->layoutIfNeeded();
    auto cell = table->cellForRowAtIndexPath({0, 2});
    window->tapView(cell->textLabel());
    EXPECT_EQ(source->selected, (std::vector<IndexPath>{{0, 2}}));
    EXPECT_EQ(table->indexPathForSelectedRow(), (IndexPath{0, 2}));
    EXPECT_TRUE(cell->isSelected());
    table->deselectRowAtIndexPath({0, 2}, true);
    EXPECT_FALSE(cell->isSelected());
    EXPECT_FALSE(table->indexPathForSelectedRow());
    window->tap({10, 10});  // the header is not a row
    EXPECT_EQ(source->selected.size(), 1u);
}

TEST_F(TableTest, DraggingTellsTheDelegateAndPagingRestsOnWholePages) {
    source->rows = {20};
    source->titles = {""};
    attach();
    table->layoutIfNeeded();
    table->dragBy({0, -130});
    EXPECT_EQ(source->drags, 1);
    EXPECT_EQ(table->contentOffset().y, 130);
    table->setPagingEnabled(true);
    table->dragBy({0, -90});  // to 220: the nearest page is 190
    EXPECT_EQ(table->contentOffset().y, 190);
    table->setScrollEnabled(false);
    table->dragBy({0, -500});
    EXPECT_EQ(source->drags, 2);
    EXPECT_EQ(table->contentOffset().y, 190);
}

TEST_F(TableTest, ControllerTableReloadsWhenItFirstAppears) {
    class Rows : public TableViewController {
      public:
        int numberOfRowsInSection(TableView&, int) override { return 2; }
        std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView&,
                                                             const IndexPath&) override {
            return std::make_shared<TableViewCell>(TableViewCellStyle::kValue1, "row");
        }
    };
    auto rows = std::make_shared<Rows>();
    window->setRootViewController(rows);
    EXPECT_EQ(rows->tableView().numberOfRowsInSection(0), 2);
    auto cell = rows->tableView().cellForRowAtIndexPath({0, 1});
    ASSERT_TRUE(cell);
    ASSERT_NE(cell->detailTextLabel(), nullptr);
    EXPECT_EQ(cell->reuseIdentifier(), "row");
}

}  // namespace
