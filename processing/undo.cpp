// Folivo — multi-page TIFF editor.
#include "processing/undo.h"

#include "processing/viewstate.h"

namespace folivo {

bool TUndoHistory::Push(std::deque<TUndoEntry>& list, const TIEBitmap& page,
                        const std::string& caption) {
  if (UndoLimit <= 0 || page.Width() < 2 || page.Height() < 2) return false;
  // Copy first: a failed allocation must not cost an old entry.
  auto snapshot = std::make_unique<TIEBitmap>();
  snapshot->SetLocation(page.Location());
  snapshot->Assign(page);
  while (static_cast<int>(list.size()) >= UndoLimit) list.pop_front();
  list.push_back(TUndoEntry{std::move(snapshot), caption});
  return true;
}

bool TUndoHistory::PushUndo(const TIEBitmap& page, const std::string& caption) {
  return Push(undo_, page, caption);
}

bool TUndoHistory::PushRedo(const TIEBitmap& page, const std::string& caption) {
  return Push(redo_, page, caption);
}

bool TUndoHistory::Restore(std::deque<TUndoEntry>& from, std::deque<TUndoEntry>& to,
                           TViewState& view) {
  if (from.empty()) return false;
  Push(to, view.Bitmap, std::string());
  view.Bitmap.Assign(*from.back().Snapshot);
  from.pop_back();
  // A selection drawn on a larger page must not reach past the restored one.
  if (view.HasSelection()) {
    const TRect& s = view.Selection();
    if (s.Right > view.Bitmap.Width() || s.Bottom > view.Bitmap.Height()) view.Select(s);
  }
  if (view.OnChanged) view.OnChanged();
  return true;
}

bool TUndoHistory::Undo(TViewState& view) {
  return Restore(undo_, redo_, view);
}

bool TUndoHistory::Redo(TViewState& view) {
  return Restore(redo_, undo_, view);
}

void TUndoHistory::Clear() {
  undo_.clear();
  redo_.clear();
}

}  // namespace folivo
