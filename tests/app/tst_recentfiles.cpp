// Folivo — multi-page TIFF editor.
// Recent files (case folding, limits, the settings section) and favourite
// folders (the menu entries and the dialog).
#include <QAction>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

#include "app/favourdirfrm.h"
#include "app/mainfrm.h"
#include "app/openfilter.h"
#include "app/recentfiles.h"
#include "platform/inifile.h"
#include "platform/widgets/userprompts.h"

using namespace folivo;

namespace {
QString U(const char* s) {
  return QString::fromUtf8(s);
}
QStringList Captions(QMenu* menu) {
  QStringList out;
  for (QAction* a : menu->actions()) out << (a->isSeparator() ? QString("-") : a->text());
  return out;
}
}  // namespace

class TestRecentFiles : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  TScriptedPrompts prompts_;
  QString Ini() const { return dir_.filePath("folivo.ini"); }
  QString Favourites() const { return dir_.filePath("MyFavourateDir.txt"); }
  void WriteHistory(int entries, int recentNumber) {
    TIniFile ini(Ini().toStdString());
    ini.WriteInteger("Parameter", "RecentFileNumber", recentNumber);
    for (int n = 0; n < entries; ++n) {
      ini.WriteString("HistoryMenu", "Time" + std::to_string(n),
                      DaysToText(45000 + n).toStdString());  // later n is newer
      ini.WriteString("HistoryMenu", "File" + std::to_string(n),
                      "/scan/f" + std::to_string(n) + ".tif");
    }
  }

 private slots:
  void init() {
    QFile::remove(Ini());
    QFile::remove(Favourites());
    prompts_ = TScriptedPrompts();
    TUserPrompts::Install(&prompts_);
  }
  void cleanup() { TUserPrompts::Install(nullptr); }

  void imageNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("upper-case extension") << "/a/B.TIF" << true;
    QTest::newRow("no extension") << "/a/scan" << true;
    QTest::newRow("dot in a folder only") << "/a.b/scan" << true;
    QTest::newRow("camera raw") << "x.nef" << true;
    QTest::newRow("not an image") << "x.exe" << false;
    QTest::newRow("last extension counts") << "x.tif.zip" << false;
  }
  void imageNames() {
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    QCOMPARE(IsImageFileName(name), accepted);
  }

  void addFoldsCaseAndKeepsTheLaterTime() {
    for (bool laterFirst : {false, true}) {
      TRecentFiles list;
      list.Add("/scan/A.TIF", laterFirst ? 20 : 10);
      list.Add("/scan/a.tif", laterFirst ? 10 : 20);
      list.Add("/scan/notes.exe", 30);
      QCOMPARE(list.Items().size(), size_t(1));
      QCOMPARE(list.Items()[0].FileName, QString("/scan/A.TIF"));
      QCOMPARE(list.Items()[0].Time, 20.0);
    }
  }

  void timesSurviveTheSettingsText() {
    const double t = DateTimeToDays(QDateTime(QDate(2024, 3, 5), QTime(14, 30, 15)));
    QCOMPARE(DaysToText(t), QString("2024-03-05 14:30:15"));
    double back = 0;
    QVERIFY(TextToDays(DaysToText(t), back));
    QVERIFY(qAbs(back - t) < 1e-8);
    QVERIFY(!TextToDays("yesterday", back));
  }

  void menuAndSectionFollowTheLimit_data() {
    QTest::addColumn<int>("limit");
    QTest::addColumn<QStringList>("menu");
    QTest::newRow("three of five")
        << 3 << QStringList{"&1 /scan/f4.tif", "&2 /scan/f3.tif", "&3 /scan/f2.tif"};
    QTest::newRow("none") << 0 << QStringList{U("[无]")};
  }
  void menuAndSectionFollowTheLimit() {
    QFETCH(int, limit);
    QFETCH(QStringList, menu);
    WriteHistory(5, limit);
    {
      TMainForm form({}, Ini());
      QMenu* recent = form.Menu("mnRecentFiles");
      QCOMPARE(Captions(recent), menu);
      QCOMPARE(recent->actions()[0]->isEnabled(), limit > 0);
      form.close();
    }
    TIniFile ini(Ini().toStdString());
    std::vector<std::string> keys;
    for (int n = 0; n < limit; ++n) {
      keys.push_back("Time" + std::to_string(n));
      keys.push_back("File" + std::to_string(n));
    }
    QCOMPARE(ini.ReadSection("HistoryMenu"), keys);
    if (limit > 0)
      QCOMPARE(ini.ReadString("HistoryMenu", "File0", ""), std::string("/scan/f4.tif"));
  }

  void readingStopsAtAnUnreadableTime() {
    WriteHistory(4, 9);
    {
      TIniFile ini(Ini().toStdString());
      ini.WriteString("HistoryMenu", "Time2", "garbage");
    }
    TIniFile ini(Ini().toStdString());
    TRecentFiles list;
    list.Load(ini);
    // Entry 2 is added with time 0 and ends the reading; entry 3 is lost.
    QCOMPARE(list.Items().size(), size_t(3));
    QCOMPARE(list.Items()[2].Time, 0.0);
  }

  void choosingAnEntryOpensItAsTheDocument() {
    // A recent file that is gone: the normal load reports it and the document stays empty.
    WriteHistory(1, 5);
    TMainForm form({}, Ini());
    form.SetDocumentName("/other.tif");
    form.Menu("mnRecentFiles")->actions()[0]->trigger();
    QCOMPARE(form.Pages().PageCount(), 0);
    QVERIFY(form.DocumentName().isEmpty());
    QCOMPARE(prompts_.Asked.size(), size_t(1));
    QCOMPARE(prompts_.Asked[0].Kind, TPromptKind::Error);
  }

  void favouritesSitAboveTheFixedItemsOnce() {
    WriteFavourites(Favourites(), {"/home/a", "/home/b", "/home/c"});
    TMainForm form({}, Ini());
    form.BuildFavouritesMenu();
    const QStringList expected{"&1 /home/a", "&2 /home/b",           "&3 /home/c",
                               "-",          U("整理收藏夹(&C)..."), U("收藏当前文件夹(&T)...")};
    QCOMPARE(Captions(form.Menu("mnFavourites")), expected);
    QCOMPARE(form.Menu("mnFavourites")->actions()[1]->statusTip(), QString("/home/b"));
    QCOMPARE(form.Menu("mnFavourites")->actions()[1]->property("tag").toInt(), -1);
  }

  void addingTheDocumentsFolderToFavourites() {
    TMainForm form({}, Ini());
    form.SetDocumentName("/scan/2024/a.tif");
    form.mnAddFavouriteClick();
    form.mnAddFavouriteClick();  // a second time: warned, not added
    QCOMPARE(ReadFavourites(Favourites()), QStringList{"/scan/2024"});
    QCOMPARE(prompts_.Asked.size(), size_t(1));
    QCOMPARE(Captions(form.Menu("mnFavourites")).front(), QString("&1 /scan/2024"));
  }

  void favouritesDialog() {
    WriteFavourites(Favourites(), {"/home/a", "/home/b"});
    {
      TFavourDirForm form(Favourites());
      QCOMPARE(form.Folders(), (QStringList{"/home/a", "/home/b"}));
      form.AddFolder("/HOME/A");
      QCOMPARE(prompts_.Asked.size(), size_t(1));
      QCOMPARE(prompts_.Asked[0].Kind, TPromptKind::Warning);
      QCOMPARE(prompts_.Asked[0].Text, U("信息：文件夹\n/HOME/A\n以前曾被收藏过，不必再次收藏！"));
      prompts_.FolderAnswers = {"/home/c"};
      form.bbAddClick();
      QCOMPARE(form.Folders(), (QStringList{"/home/a", "/home/b", "/home/c"}));
      form.List()->setCurrentRow(0);
      form.bbMoveUpClick();  // already first: stays
      form.bbMoveDownClick();
      QCOMPARE(form.Folders(), (QStringList{"/home/b", "/home/a", "/home/c"}));
      QCOMPARE(form.List()->currentRow(), 1);
      prompts_.MessageAnswers = {pbNo, pbYes};
      form.bbDeleteClick();
      QCOMPARE(form.Folders().size(), 3);
      form.bbDeleteClick();
      QCOMPARE(prompts_.Asked.back().Text, U("是否把选中的文件夹从收藏中删除？"));
      QCOMPARE(form.Folders(), (QStringList{"/home/b", "/home/c"}));
      form.reject();  // closed without OK: still written
    }
    QFile file(Favourites());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("/home/b\r\n/home/c\r\n"));
  }
};

QTEST_MAIN(TestRecentFiles)
#include "tst_recentfiles.moc"
