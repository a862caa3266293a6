// Folivo — multi-page TIFF editor.
// The PDF output options dialog: captions, lists, settings on OK only, fallbacks.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "dialogs/pdfoutputfrm.h"
#include "formats/params.h"
#include "platform/inifile.h"
#include "platform/widgets/userprompts.h"

using namespace folivo;

namespace {
QString U(const char* s) {
  return QString::fromUtf8(s);
}

QStringList Items(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}
}  // namespace

class TestPdfOutputForm : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  TScriptedPrompts prompts_;
  QString Ini() const { return dir_.filePath("folivo.ini"); }

 private slots:
  void init() {
    QFile::remove(Ini());
    prompts_ = TScriptedPrompts();
    TUserPrompts::Install(&prompts_);
  }
  void cleanup() { TUserPrompts::Install(nullptr); }

  void captionsListsAndFirstUseDefaults() {
    TPDFOutputForm form(Ini());
    QCOMPARE(form.windowTitle(), U("输出PDF选项"));
    QCOMPARE(form.size(), QSize(353, 353));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QCOMPARE(form.findChild<QGroupBox*>()->title(), U("PDF页面的属性"));
    const struct {
      const char* label;
      QWidget* field;
    } rows[] = {{"文件名(&F)：", form.edFileName},
                {"作者(&A)：", form.edAuthor},
                {"创建者(&R)：", form.edCreator},
                {"主题(&S)：", form.edSubject},
                {"标题(&T)：", form.edTitle},
                {"关键字(&K)：", form.edKeyword},
                {"压缩方式(&C)：", form.cbCompressType},
                {"页面大小(&P)：", form.cbPageSize}};
    for (const auto& row : rows) {
      bool found = false;
      for (QLabel* l : form.findChildren<QLabel*>())
        if (l->buddy() == row.field) found = l->text() == U(row.label);
      QVERIFY2(found, row.label);
    }
    QCOMPARE(form.cbAutoRotate->text(), U("自动旋转页面方向"));
    QCOMPARE(form.BitBtn1->text(), U("保存"));
    QCOMPARE(form.BitBtn2->text(), U("取消"));
    QVERIFY(form.BitBtn1->isDefault());
    QVERIFY(form.edFileName->isReadOnly());
    QVERIFY(!form.cbPageSize->isEditable());
    QVERIFY(!form.cbCompressType->isEditable());
    QCOMPARE(Items(form.cbCompressType),
             QStringList({U("不压缩 - 文件很大 不推荐"), U("RLE"), U("G4FAX - 仅适用黑白图像"),
                          U("G3FAX2D - 仅适用黑白图像"), U("JPEG - 高效有损压缩"),
                          U("LZW - 无损压缩推荐")}));
    QCOMPARE(
        Items(form.cbPageSize),
        QStringList({U("A0"), U("A1"), U("A2"), U("A3"), U("A4 - 推荐"), U("A5"), U("A6"), U("B5"),
                     U("letter (8.5\"x11\")"), U("Legal (8.5\"x14\")"), U("ledger (17\"x11\")"),
                     U("11\"x17\""), U("【自动根据图像尺寸决定页面大小】")}));
    for (QLineEdit* e :
         {form.edAuthor, form.edCreator, form.edSubject, form.edTitle, form.edKeyword})
      QVERIFY(e->text().isEmpty());
    QCOMPARE(form.cbPageSize->currentText(), U("A4 - 推荐"));
    QCOMPARE(form.cbCompressType->currentText(), U("LZW - 无损压缩推荐"));
    QVERIFY(form.cbAutoRotate->isChecked());
  }

  void shownWithTheCaretAtTheEndOfTheFileName() {
    TPDFOutputForm form(Ini());
    form.edFileName->setText("/tmp/文档.pdf");
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form.edFileName));
    QCOMPARE(form.edFileName->cursorPosition(), form.edFileName->text().size());
    QVERIFY(form.edFileName->isReadOnly());
  }

  void okWritesEveryControlAndTheNextDialogReadsThem() {
    {
      TPDFOutputForm form(Ini());
      form.edAuthor->setText(U("张三"));
      form.edCreator->setText("scanner");
      form.edSubject->setText("s");
      form.edTitle->setText("t (1)");
      form.edKeyword->setText("k1 k2");
      form.cbPageSize->setCurrentIndex(12);
      form.cbCompressType->setCurrentIndex(2);
      form.cbAutoRotate->setChecked(false);
      form.show();
      QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
      QCOMPARE(form.result(), int(QDialog::Accepted));
    }
    TIniFile ini(Ini().toStdString());
    QCOMPARE(ini.ReadString("PDF", "Author", ""), std::string("张三"));
    QCOMPARE(ini.ReadString("PDF", "KeyWord", ""), std::string("k1 k2"));
    QCOMPARE(ini.ReadString("PDF", "AutoRotate", ""), std::string("0"));
    QCOMPARE(ini.ReadInteger("PDF", "PageSize", -1), 12);
    QCOMPARE(ini.ReadInteger("PDF", "Compress", -1), 2);

    TPDFOutputForm again(Ini());
    const TPdfOptions o = again.Options();
    QCOMPARE(o.Author, std::string("张三"));
    QCOMPARE(o.Creator, std::string("scanner"));
    QCOMPARE(o.Subject, std::string("s"));
    QCOMPARE(o.Title, std::string("t (1)"));
    QCOMPARE(o.Keywords, std::string("k1 k2"));
    QCOMPARE(o.PageSize, 12);
    QCOMPARE(o.Compression, 2);
    QVERIFY(!o.AutoRotate);
    QVERIFY(prompts_.Asked.empty());
  }

  void cancelLeavesTheSettingsFileAsItWas() {
    const QByteArray before = "[PDF]\r\nAuthor=old\r\nPageSize=7\r\n[Parameter]\r\nUndoCount=3\r\n";
    WriteAll(Ini(), before);
    {
      TPDFOutputForm form(Ini());
      QCOMPARE(form.edAuthor->text(), U("old"));
      QCOMPARE(form.cbPageSize->currentIndex(), 7);
      form.edAuthor->setText("new");
      form.show();
      QTest::mouseClick(form.BitBtn2, Qt::LeftButton);
      QCOMPARE(form.result(), int(QDialog::Rejected));
    }
    QCOMPARE(ReadAll(Ini()), before);
    QFile::remove(Ini());
    {
      TPDFOutputForm form(Ini());
      form.reject();
    }
    QVERIFY(!QFile::exists(Ini()));
  }

  void storedIndexesOutsideTheListsFallBack() {
    const struct {
      const char* pageSize;
      const char* compress;
    } cases[] = {{"13", "6"}, {"-1", "-1"}, {"x", "9999999999"}, {"12", "0"}};
    for (const auto& c : cases) {
      WriteAll(Ini(), QByteArray("[PDF]\nPageSize=") + c.pageSize + "\nCompress=" + c.compress +
                          "\nAutoRotate=0\n");
      TPDFOutputForm form(Ini());
      const bool valid = QByteArray(c.pageSize) == "12";
      QCOMPARE(form.cbPageSize->currentIndex(), valid ? 12 : 4);
      QCOMPARE(form.cbCompressType->currentIndex(), valid ? 0 : 5);
      QVERIFY(!form.cbAutoRotate->isChecked());
    }
  }

  void aSettingsFileThatCannotBeWrittenIsReported() {
    const QString unwritable = dir_.filePath("missing-folder/folivo.ini");
    TPDFOutputForm form(unwritable);
    form.show();
    QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
    QCOMPARE(form.result(), int(QDialog::Accepted));
    QCOMPARE(prompts_.Asked.size(), size_t(1));
    QCOMPARE(prompts_.Asked[0].Kind, TPromptKind::Error);
  }

  void theChoicesBecomeEveryPagesParameters() {
    TPDFOutputForm form(Ini());
    form.edTitle->setText(U("标题"));
    form.cbPageSize->setCurrentIndex(10);  // ledger 1224 x 792
    TIOParamsVals portrait, landscape;
    ApplyPdfOptions(form.Options(), 2480, 3508, portrait);
    ApplyPdfOptions(form.Options(), 3508, 2480, landscape);
    QCOMPARE(portrait.PdfPaperWidth, 792);
    QCOMPARE(portrait.PdfPaperHeight, 1224);
    QCOMPARE(landscape.PdfPaperWidth, 1224);
    QCOMPARE(landscape.PdfPaperHeight, 792);
    QCOMPARE(portrait.PdfTitle, std::string("标题"));
    QCOMPARE(portrait.PdfProducer, std::string("Folivo"));
    QCOMPARE(int(portrait.PdfCompression), 5);
  }
};

QTEST_MAIN(TestPdfOutputForm)
#include "tst_pdfoutputfrm.moc"
