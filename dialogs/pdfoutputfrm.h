// Folivo — multi-page TIFF editor.
// TPDFOutputForm: the PDF output options (document texts, compression, page
// size, automatic orientation), remembered in the "PDF" settings section.
#pragma once

#include <QDialog>
#include <QString>

#include "formats/pdfoptions.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace folivo {

class TPDFOutputForm : public QDialog {
  Q_OBJECT

 public:
  // Loads every control from the settings file at settingsPath (defaults
  // when the section or a key is missing; stored indexes outside the lists
  // give A4 and LZW).
  TPDFOutputForm(const QString& settingsPath, QWidget* parent = nullptr);

  // The choices as the mapping onto the pages takes them.
  TPdfOptions Options() const;

  QLineEdit* edFileName;
  QLineEdit* edAuthor;
  QLineEdit* edCreator;
  QLineEdit* edSubject;
  QLineEdit* edTitle;
  QLineEdit* edKeyword;
  QComboBox* cbCompressType;
  QComboBox* cbPageSize;
  QCheckBox* cbAutoRotate;
  QPushButton* BitBtn1;  // 保存
  QPushButton* BitBtn2;  // 取消

  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  // Writes every control back; a failure is shown, the dialog still closes.
  void SaveSettings();

  QString settingsPath_;
};

}  // namespace folivo
