// Folivo — multi-page TIFF editor.
#include "platform/widgets/pagelistview.h"

namespace folivo {

TPageListModel::TPageListModel(TPageList& pages, QObject* parent)
    : QAbstractListModel(parent), pages_(pages) {
  pages_.AddObserver(this);
}

TPageListModel::~TPageListModel() { pages_.RemoveObserver(this); }

int TPageListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : pages_.PageCount();
}

QVariant TPageListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= pages_.PageCount()) return {};
  if (role == Qt::DisplayRole) {
    QString bottom, info;
    if (BeforeImageDraw) BeforeImageDraw(index.row(), bottom, info);
    return bottom;
  }
  return {};
}

void TPageListModel::PagesInserted(int first, int count) {
  beginInsertRows(QModelIndex(), first, first + count - 1);
  endInsertRows();
}

void TPageListModel::PagesRemoved(int first, int count) {
  beginRemoveRows(QModelIndex(), first, first + count - 1);
  endRemoveRows();
}

void TPageListModel::PageMoved(int, int) {
  beginResetModel();
  endResetModel();
}

void TPageListModel::PageChanged(int index) {
  emit dataChanged(this->index(index), this->index(index));
}

void TPageListModel::ListCleared() {
  beginResetModel();
  endResetModel();
}

TPageListView::TPageListView(TPageListModel& model, QWidget* parent) : QListView(parent) {
  setModel(&model);
  setViewMode(QListView::IconMode);
  setFlow(QListView::LeftToRight);
  setWrapping(true);
  setResizeMode(QListView::Adjust);
  setGridSize(QSize(kCellSize, kCellSize));
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setUniformItemSizes(true);
  setStyleSheet("QListView { background: white; }");
}

}  // namespace folivo
