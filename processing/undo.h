// Folivo — multi-page TIFF editor.
// TUndoHistory: the undo and redo lists of one page, with one depth limit.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "formats/bitmap.h"

namespace folivo {

class TViewState;

struct TUndoEntry {
  std::unique_ptr<TIEBitmap> Snapshot;  // the page with its alpha channel
  std::string Caption;                  // empty for entries pushed by undo and redo
};

class TUndoHistory {
 public:
  TUndoHistory() = default;
  TUndoHistory(const TUndoHistory&) = delete;
  TUndoHistory& operator=(const TUndoHistory&) = delete;

  // Depth of each list; 0 keeps no history. Lowering it drops nothing until
  // the next push.
  int UndoLimit = 5;

  // Push rules, for either list: nothing with the limit 0 or a page narrower
  // or lower than 2 pixels; otherwise the oldest entries go until there is
  // room, and a copy of page is appended. Returns whether it was pushed.
  bool PushUndo(const TIEBitmap& page, const std::string& caption);
  bool PushRedo(const TIEBitmap& page, const std::string& caption);

  // Undo: the view's bitmap goes on the redo list (push rules above) and
  // becomes the newest undo snapshot, which leaves the list. Redo is the
  // mirror image. Both do nothing and return false on an empty list.
  bool Undo(TViewState& view);
  bool Redo(TViewState& view);

  void Clear();
  int UndoCount() const { return static_cast<int>(undo_.size()); }
  int RedoCount() const { return static_cast<int>(redo_.size()); }
  // Entry i of a list, 0 the oldest.
  const TUndoEntry& UndoEntry(int i) const { return undo_.at(i); }
  const TUndoEntry& RedoEntry(int i) const { return redo_.at(i); }

 private:
  bool Push(std::deque<TUndoEntry>& list, const TIEBitmap& page, const std::string& caption);
  bool Restore(std::deque<TUndoEntry>& from, std::deque<TUndoEntry>& to, TViewState& view);

  std::deque<TUndoEntry> undo_;
  std::deque<TUndoEntry> redo_;
};

}  // namespace folivo
