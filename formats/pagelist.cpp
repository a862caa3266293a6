// Folivo — multi-page TIFF editor.
#include "formats/pagelist.h"

#include <algorithm>
#include <stdexcept>

namespace folivo {

int TPageList::SelectedPage(int i) const {
  return i >= 0 && i < SelectedCount() ? selection_[i] : -1;
}

void TPageList::SortSelection() { std::sort(selection_.begin(), selection_.end()); }

bool TPageList::IsSelected(int index) const {
  return std::find(selection_.begin(), selection_.end(), index) != selection_.end();
}

void TPageList::Select(int index) {
  if (index < 0 || index >= PageCount()) return;
  current_ = index;
  if (MultiSelecting) {
    if (!IsSelected(index)) selection_.push_back(index);
  } else {
    selection_.assign(1, index);
  }
  Notify([](TPageListObserver* o) { o->SelectionChanged(); });
}

void TPageList::Unselect(int index) {
  if (!IsSelected(index)) return;
  RemoveFromSelection(index);
  Notify([](TPageListObserver* o) { o->SelectionChanged(); });
}

void TPageList::SelectAll() {
  selection_.clear();
  for (int i = 0; i < PageCount(); ++i) selection_.push_back(i);
  Notify([](TPageListObserver* o) { o->SelectionChanged(); });
}

void TPageList::DeselectAll() {
  selection_.clear();
  Notify([](TPageListObserver* o) { o->SelectionChanged(); });
}

void TPageList::SetCurrentPage(int index) {
  current_ = index >= 0 && index < PageCount() ? index : -1;
  Notify([](TPageListObserver* o) { o->SelectionChanged(); });
}

void TPageList::Clear() {
  entries_.clear();
  selection_.clear();
  current_ = -1;
  Notify([](TPageListObserver* o) { o->ListCleared(); });
}

void TPageList::RemoveFromSelection(int index) {
  selection_.erase(std::remove(selection_.begin(), selection_.end(), index), selection_.end());
}

// Indexes at or above from move by delta (selection and current page).
void TPageList::ShiftIndexes(int from, int delta) {
  for (int& s : selection_)
    if (s >= from) s += delta;
  if (current_ >= from) current_ += delta;
}

void TPageList::Delete(int index) {
  if (index < 0 || index >= PageCount()) return;
  entries_.erase(entries_.begin() + index);
  RemoveFromSelection(index);
  if (current_ == index) current_ = -1;
  ShiftIndexes(index + 1, -1);
  if (current_ >= PageCount()) current_ = PageCount() - 1;
  Notify([index](TPageListObserver* o) { o->PagesRemoved(index, 1); });
}

void TPageList::DeleteSelected() {
  std::vector<int> doomed = selection_;
  std::sort(doomed.begin(), doomed.end());
  for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) Delete(*it);
  // The page after the removed block becomes current, as a list view does.
  if (!doomed.empty() && PageCount() > 0 && current_ < 0)
    current_ = std::min(doomed.front(), PageCount() - 1);
  Notify([](TPageListObserver* o) { o->SelectionChanged(); });
}

void TPageList::Move(int from, int to) {
  if (from < 0 || from >= PageCount() || to < 0 || to >= PageCount() || from == to) return;
  auto entry = std::move(entries_[from]);
  entries_.erase(entries_.begin() + from);
  entries_.insert(entries_.begin() + to, std::move(entry));
  auto remap = [from, to](int i) {
    if (i == from) return to;
    if (from < to && i > from && i <= to) return i - 1;
    if (to < from && i >= to && i < from) return i + 1;
    return i;
  };
  for (int& s : selection_) s = remap(s);
  if (current_ >= 0) current_ = remap(current_);
  Notify([from, to](TPageListObserver* o) { o->PageMoved(from, to); });
}

TPageEntry& TPageList::Insert(int at) {
  at = std::clamp(at, 0, PageCount());
  entries_.insert(entries_.begin() + at, std::make_unique<TPageEntry>());
  ShiftIndexes(at, 1);
  Notify([at](TPageListObserver* o) { o->PagesInserted(at, 1); });
  return *entries_[at];
}

int TPageList::Append() {
  int at = PageCount();
  entries_.push_back(std::make_unique<TPageEntry>());
  Notify([at](TPageListObserver* o) { o->PagesInserted(at, 1); });
  current_ = at;
  Notify([](TPageListObserver* o) { o->SelectionChanged(); });
  return at;
}

void TPageList::SetBitmap(int index, const TIEBitmap& source) {
  entries_.at(index)->Bitmap.Assign(source);
  NotifyChanged(index);
}

void TPageList::NotifyChanged(int index) {
  Notify([index](TPageListObserver* o) { o->PageChanged(index); });
}

void TPageList::AddObserver(TPageListObserver* observer) { observers_.push_back(observer); }

void TPageList::RemoveObserver(TPageListObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

}  // namespace folivo
