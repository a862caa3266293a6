// Folivo — multi-page TIFF editor.
// TPageListView: the page list — a view of the document model (TPageList)
// with one cell per page, its thumbnail and its two captions.
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <functional>

#include "formats/pagelist.h"

namespace folivo {

// Qt model over a TPageList; it follows the list through the observer.
class TPageListModel : public QAbstractListModel, private TPageListObserver {
  Q_OBJECT

 public:
  explicit TPageListModel(TPageList& pages, QObject* parent = nullptr);
  ~TPageListModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  TPageList& Pages() { return pages_; }
  // Called before a cell is drawn, to set its two captions.
  std::function<void(int page, QString& bottomText, QString& infoText)> BeforeImageDraw;

 private:
  void PagesInserted(int first, int count) override;
  void PagesRemoved(int first, int count) override;
  void PageMoved(int from, int to) override;
  void PageChanged(int index) override;
  void ListCleared() override;

  TPageList& pages_;
};

class TPageListView : public QListView {
  Q_OBJECT

 public:
  explicit TPageListView(TPageListModel& model, QWidget* parent = nullptr);

  static constexpr int kCellSize = 180;  // pixels
};

}  // namespace folivo
