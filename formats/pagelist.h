// Folivo — multi-page TIFF editor.
// TPageList: the document. Ordered page entries (bitmap + parameters), the
// current page, and the selection kept in the order the pages were selected.
#pragma once

#include <memory>
#include <vector>

#include "formats/bitmap.h"
#include "formats/params.h"

namespace folivo {

struct TPageEntry {
  TIEBitmap Bitmap;
  TIOParamsVals Params;
};

// Told about every change, so that a view can follow. All calls come from
// the thread that changes the list.
class TPageListObserver {
 public:
  virtual ~TPageListObserver() = default;
  virtual void PagesInserted(int first, int count) {}
  virtual void PagesRemoved(int first, int count) {}
  virtual void PageMoved(int from, int to) {}
  virtual void PageChanged(int index) {}
  virtual void ListCleared() {}
  virtual void SelectionChanged() {}
};

class TPageList {
 public:
  TPageList() = default;
  TPageList(const TPageList&) = delete;
  TPageList& operator=(const TPageList&) = delete;

  int PageCount() const { return static_cast<int>(entries_.size()); }
  int CurrentPage() const { return current_; }

  int SelectedCount() const { return static_cast<int>(selection_.size()); }
  // The i-th selected page in selection order; -1 when i is out of range.
  int SelectedPage(int i) const;
  const std::vector<int>& Selection() const { return selection_; }
  void SortSelection();
  bool IsSelected(int index) const;
  // Makes index current and selected; with MultiSelecting set, adds it to
  // the selection instead of replacing the selection.
  void Select(int index);
  void Unselect(int index);
  void SelectAll();
  void DeselectAll();
  bool MultiSelecting = false;
  // Makes index current without touching the selection (-1 for none).
  void SetCurrentPage(int index);

  void Clear();
  // Removes the selected entries, highest index first.
  void DeleteSelected();
  void Delete(int index);
  void Move(int from, int to);
  // Inserts an empty entry at index without selecting it; returns it.
  TPageEntry& Insert(int at);
  // Appends an empty entry, makes it current, returns its index.
  int Append();

  TIEBitmap& Bitmap(int index) { return entries_.at(index)->Bitmap; }
  const TIEBitmap& Bitmap(int index) const { return entries_.at(index)->Bitmap; }
  // Replaces a page's bitmap by a copy of source.
  void SetBitmap(int index, const TIEBitmap& source);
  int FullWidth(int index) const { return entries_.at(index)->Bitmap.Width(); }
  int FullHeight(int index) const { return entries_.at(index)->Bitmap.Height(); }
  TIOParamsVals& Params(int index) { return entries_.at(index)->Params; }
  const TIOParamsVals& Params(int index) const { return entries_.at(index)->Params; }
  // Tells observers that a page was changed in place.
  void NotifyChanged(int index);

  void AddObserver(TPageListObserver* observer);
  void RemoveObserver(TPageListObserver* observer);

 private:
  void RemoveFromSelection(int index);
  void ShiftIndexes(int from, int delta);
  template <typename F>
  void Notify(F f) {
    for (TPageListObserver* o : observers_) f(o);
  }

  std::vector<std::unique_ptr<TPageEntry>> entries_;
  int current_ = -1;
  std::vector<int> selection_;
  std::vector<TPageListObserver*> observers_;
};

}  // namespace folivo
