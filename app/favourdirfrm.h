// Folivo — multi-page TIFF editor.
// TFavourDirForm: the favourite-folders dialog ("整理收藏夹") over the
// favourites file, one folder per line.
#pragma once

#include <QDialog>
#include <QStringList>

class QListWidget;
class QPushButton;

namespace folivo {

// Lines of the favourites file; an empty list when it is missing. UTF-8, or
// GB18030 for files brought from elsewhere.
QStringList ReadFavourites(const QString& path);
// Writes the folders, CR LF after each, replacing the file in one step.
void WriteFavourites(const QString& path, const QStringList& folders);

class TFavourDirForm : public QDialog {
  Q_OBJECT

 public:
  // path: the favourites file. It is read now and written when the dialog
  // is destroyed, whatever the result.
  explicit TFavourDirForm(const QString& path, QWidget* parent = nullptr);
  ~TFavourDirForm() override;

  QStringList Folders() const;
  QListWidget* List() const { return tlbFavourate; }
  // Appends folder unless it is there already (compared in upper case), in
  // which case the user is warned and nothing changes.
  void AddFolder(const QString& folder);

  void bbAddClick();
  void bbDeleteClick();
  void bbMoveUpClick();
  void bbMoveDownClick();

 private:
  void FormCreate();
  void FormDestroy();

  QString path_;
  QListWidget* tlbFavourate;
  QPushButton* bbAdd;
  QPushButton* bbDelete;
  QPushButton* bbMoveUp;
  QPushButton* bbMoveDown;
};

}  // namespace folivo
