// Folivo — multi-page TIFF editor.
// The document model: entries, current page, selection in selection order.
#include "formats/pagelist.h"

#include <gtest/gtest.h>

namespace folivo {
namespace {

// Pages are told apart by their width: page made as number n is n pixels wide.
void Fill(TPageList& list, int count) {
  for (int i = 0; i < count; ++i) {
    int at = list.Append();
    list.Bitmap(at).Allocate(i + 1, 1, ie8g);
  }
}

std::vector<int> Order(const TPageList& list) {
  std::vector<int> widths;
  for (int i = 0; i < list.PageCount(); ++i) widths.push_back(list.FullWidth(i));
  return widths;
}

struct TRecorder : TPageListObserver {
  std::vector<std::string> events;
  void PagesInserted(int first, int count) override { events.push_back("ins " + std::to_string(first)); }
  void PagesRemoved(int first, int) override { events.push_back("del " + std::to_string(first)); }
  void PageMoved(int from, int to) override {
    events.push_back("mov " + std::to_string(from) + ">" + std::to_string(to));
  }
  void ListCleared() override { events.push_back("clr"); }
};

TEST(PageListTest, SelectionKeepsSelectionOrder) {
  TPageList list;
  Fill(list, 6);
  list.Select(2);
  list.MultiSelecting = true;
  list.Select(5);
  list.Select(3);
  list.Select(5);  // already selected: stays where it was
  EXPECT_EQ(list.Selection(), (std::vector<int>{2, 5, 3}));
  EXPECT_EQ(list.CurrentPage(), 5);
  EXPECT_EQ(list.SelectedPage(1), 5);
  EXPECT_EQ(list.SelectedPage(3), -1);
  EXPECT_EQ(list.SelectedPage(-1), -1);
  list.SortSelection();
  EXPECT_EQ(list.Selection(), (std::vector<int>{2, 3, 5}));
  list.MultiSelecting = false;
  list.Select(0);
  EXPECT_EQ(list.Selection(), (std::vector<int>{0}));
  list.Select(6);  // no such page
  EXPECT_EQ(list.CurrentPage(), 0);
}

TEST(PageListTest, InsertShiftsCurrentAndSelectionWithoutSelecting) {
  TPageList list;
  Fill(list, 5);
  list.Select(2);
  list.Insert(2).Bitmap.Allocate(99, 1, ie8g);
  EXPECT_EQ(Order(list), (std::vector<int>{1, 2, 99, 3, 4, 5}));
  EXPECT_EQ(list.CurrentPage(), 3);  // still the page that was current
  EXPECT_EQ(list.Selection(), (std::vector<int>{3}));
  EXPECT_FALSE(list.IsSelected(2));
}

TEST(PageListTest, DeleteSelectedRemovesHighestFirst) {
  TPageList list;
  TRecorder rec;
  list.AddObserver(&rec);
  Fill(list, 6);
  list.Select(4);
  list.MultiSelecting = true;
  list.Select(1);
  list.Select(5);
  rec.events.clear();
  list.DeleteSelected();
  EXPECT_EQ(Order(list), (std::vector<int>{1, 3, 4}));
  EXPECT_EQ(rec.events, (std::vector<std::string>{"del 5", "del 4", "del 1"}));
  EXPECT_EQ(list.SelectedCount(), 0);
  EXPECT_EQ(list.CurrentPage(), 1);
  list.RemoveObserver(&rec);
}

TEST(PageListTest, MoveRemapsSelectionAndCurrent) {
  struct {
    int from, to;
    std::vector<int> order;
    std::vector<int> selection;
  } cases[] = {
      {0, 3, {2, 3, 4, 1, 5}, {3, 2}},
      {3, 0, {4, 1, 2, 3, 5}, {1, 0}},
      {2, 3, {1, 2, 4, 3, 5}, {0, 2}},
      {4, 4, {1, 2, 3, 4, 5}, {0, 3}},
      {0, 7, {1, 2, 3, 4, 5}, {0, 3}},  // out of range: nothing
  };
  for (const auto& c : cases) {
    TPageList list;
    Fill(list, 5);
    list.Select(0);
    list.MultiSelecting = true;
    list.Select(3);
    list.Move(c.from, c.to);
    EXPECT_EQ(Order(list), c.order) << c.from << ">" << c.to;
    EXPECT_EQ(list.Selection(), c.selection) << c.from << ">" << c.to;
    EXPECT_EQ(list.CurrentPage(), c.selection[1]);
  }
}

TEST(PageListTest, ClearAppendAndSetBitmapCopies) {
  TPageList list;
  Fill(list, 3);
  list.SelectAll();
  EXPECT_EQ(list.SelectedCount(), 3);
  list.Clear();
  EXPECT_EQ(list.PageCount(), 0);
  EXPECT_EQ(list.CurrentPage(), -1);
  EXPECT_EQ(list.SelectedCount(), 0);
  int at = list.Append();
  EXPECT_EQ(at, 0);
  EXPECT_EQ(list.CurrentPage(), 0);
  EXPECT_FALSE(list.IsSelected(0));
  TIEBitmap source(4, 2, ie24RGB);
  source.Fill(0x0000FF);
  list.SetBitmap(0, source);
  source.Fill(0);
  EXPECT_EQ(list.FullWidth(0), 4);
  EXPECT_EQ(list.Bitmap(0).GetScanline(1)[2], 0xFF);  // red stays in the page's own copy
  EXPECT_EQ(list.Params(0).DpiX(), 300);             // a new page has default parameters
}

}  // namespace
}  // namespace folivo
