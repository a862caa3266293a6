// Folivo — multi-page TIFF editor.
// The main window: layout texts, settings, title and status bar, busy window, quitting.
#include <QAction>
#include <QFile>
#include <QMenuBar>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "app/commandtable.h"
#include "app/mainfrm.h"
#include "app/statusbar.h"
#include "app/waitfrm.h"
#include "platform/inifile.h"
#include "platform/widgets/imageview.h"
#include "platform/widgets/userprompts.h"

using namespace folivo;

namespace {
QString U(const char* s) { return QString::fromUtf8(s); }
const QString kBlank = "        ";
}  // namespace

class TestMainForm : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  TScriptedPrompts prompts_;
  QString Ini() const { return dir_.filePath("folivo.ini"); }
  void AddPage(TMainForm& form, int w, int h, int bits, int samples, TPagePixelFormat format) {
    int i = form.Pages().Append();
    form.Pages().Bitmap(i).Allocate(w, h, format);
    form.Pages().Bitmap(i).Fill(0xFFFFFF);
    form.Pages().Params(i).BitsPerSample = bits;
    form.Pages().Params(i).SamplesPerPixel = samples;
  }

 private slots:
  void init() {
    QFile::remove(Ini());
    prompts_ = TScriptedPrompts();
    TUserPrompts::Install(&prompts_);
  }
  void cleanup() { TUserPrompts::Install(nullptr); }

  void firstStartUsesDefaultsAndQuitsWithoutAsking() {
    {
      TMainForm form({}, Ini());
      QVERIFY(form.windowState() & Qt::WindowMaximized);
      QVERIFY(!form.SkinEnabled());
      QVERIFY(form.ShowPageNumber());
      QVERIFY(!form.ShowResolution());
      QVERIFY(form.QuitConfirm());
      QCOMPARE(form.RecentFileNumber(), 5);
      QCOMPARE(form.UndoLimit(), 5);
      QCOMPARE(form.ViewState().BackgroundColor, 0xA4A0A0u);
      QCOMPARE(form.ViewState().Bitmap.Width(), 1);  // the emptied page view
      QCOMPARE(form.windowTitle(), U("【Folivo】"));
      QVERIFY(form.close());
    }
    QVERIFY(prompts_.Asked.empty());
    // Only the main window's own keys are written at exit.
    TIniFile ini(Ini().toStdString());
    QCOMPARE(ini.ReadSection("Parameter"),
             (std::vector<std::string>{"LastOpen", "LastSaved", "LastExport", "LastExportFormat",
                                       "LastSaveFormat"}));
    QCOMPARE(ini.ReadInteger("Parameter", "LastSaveFormat", -1), 0);
  }

  void settingsAreReadAtStart() {
    {
      TIniFile ini(Ini().toStdString());
      ini.WriteString("Parameter", "BackgrdColor", "clSkyBlue");
      ini.WriteString("Parameter", "LastOpen", "/scan/a.tif");
      ini.WriteInteger("Parameter", "LastExportFormat", 3);
      ini.WriteInteger("Parameter", "LastSaveFormat", 2);
      ini.WriteBool("Parameter", "QuitConfirm", false);
      ini.WriteBool("Parameter", "ShowPageNumber", false);
      ini.WriteBool("Parameter", "ShowResolution", true);
      ini.WriteInteger("Parameter", "RecentFileNumber", 9);
      ini.WriteInteger("Parameter", "UndoCount", 12);
    }
    TMainForm form({}, Ini());
    QCOMPARE(form.ViewState().BackgroundColor, 0xF0CAA6u);
    QCOMPARE(form.LastOpen(), QString("/scan/a.tif"));
    QCOMPARE(form.ExportTypeIndex(), 3);
    QCOMPARE(form.SaveTypeIndex(), 0);  // never read
    QVERIFY(!form.QuitConfirm());
    QVERIFY(!form.ShowPageNumber());
    QVERIFY(form.ShowResolution());
    QCOMPARE(form.RecentFileNumber(), 9);
    QCOMPARE(form.UndoLimit(), 12);
  }

  void badBackgroundColourFallsBack() {
    {
      TIniFile ini(Ini().toStdString());
      ini.WriteString("Parameter", "BackgrdColor", "not a colour");
    }
    TMainForm form({}, Ini());
    QCOMPARE(form.ViewState().BackgroundColor, 0xA4A0A0u);
  }

  void toolButtonsMatchTheirTexts() {
    TMainForm form({}, Ini());
    const char* main[][3] = {
        {"sbBrowse", "浏览", "打开多页TIF图像文件"},
        {"sbOpenFile", "打开", "打开多页TIF图像文件"},
        {"sbSaveAs", "另存", "所有页面打包成一个TIF文件输出"},
        {"sbAcquire", "扫描", "从扫描仪进行扫描"},
        {"sbPrint", "打印", "打印输出"},
        {"sbExportPage", "导出", "把每个页面导出成一个独立图像文件"},
        {"sbRotateDropDown", "旋转", "旋转和翻转图像"},
        {"sbResize", "缩放", "自动调整图像的长宽大小"},
        {"sbNegative", "反色", "黑白反色"},
        {"sbCorrect", "倾斜", "自动识别和校正图像的倾斜角度"},
        {"sbAE", "自动对比", "自动调节图像的对比度"},
        {"sbLevel", "色阶", "调整图像的色阶"},
        {"sbSelectAll", "全选", "选择所有页面"},
        {"sbInvertSelect", "反选", "页面反选"},
        {"SpeedButton8", "新增", "当前位置插入新页面新图像"},
        {"sbCropPage", "裁剪", "选定内容，双击完成裁剪"},
        {"SpeedButton1", "模糊", "对选择的区域进行模糊处理，若未选择区域则全图模糊"},
        {"sbNavigator", "", "图像导航，当显示大图时可实现快速定位"},
        {"sbZoomTo100", "", "100%大小查看"},
        {"sbPrevPage", "上一页", ""},
        {"sbNextPage", "下一页", ""},
    };
    for (auto& row : main) {
      QToolButton* b = form.Button(row[0]);
      QVERIFY2(b, row[0]);
      QCOMPARE(b->text(), U(row[1]));
      QCOMPARE(b->toolTip(), U(row[2]));
    }
    QCOMPARE(int(MainToolButtons().size()), 12);
    QCOMPARE(form.Button("sbNegative")->property("tag").toInt(), 6);
    QCOMPARE(form.Button("sbAE")->property("tag").toInt(), 7);
    QVERIFY(form.Button("sbCropPage")->isCheckable());
    QCOMPARE(form.Button("sbOpenFile")->size(), QSize(50, 50));
  }

  void menusHoldTheirEntriesAndShortcuts() {
    TMainForm form({}, Ini());
    QStringList top;
    for (QAction* a : form.menuBar()->actions()) top << a->text();
    QCOMPARE(top, (QStringList{U("文件(&F)"), U("编辑(&E)"), U("页面(&P)"), U("图像(&G)"),
                               U("工具(&T)"), U("帮助(&H)")}));
    const char* entries[][3] = {
        {"mnOpenFile", "打开(&O)...", "Ctrl+O"},     {"mnSaveAs", "另存(&S)...", "Ctrl+S"},
        {"mnUndo", "撤消(&U)", "Ctrl+Z"},            {"mnRedo", "重做(&R)", "Ctrl+Y"},
        {"mnCopyImage", "复制页面图像(&C)", "Ctrl+C"}, {"mnPasteImage", "粘贴为新页面(&N)", "Ctrl+V"},
        {"mnSelectAll", "全选", "Ctrl+A"},            {"mnInvertSelect", "反选", "Ctrl+I"},
        {"mnQuickCountPage", "快速统计和拆分TIF页面(&T)", "F3"},
        {"mnQuit", "退出(&Q)", ""},                   {"mnAbout", "关于(&A)...", ""},
        {"mnBrightContrast", "亮度/对比度/Gamma调整(&B)...", ""},
    };
    for (auto& row : entries) {
      QAction* a = form.Action(row[0]);
      QVERIFY2(a, row[0]);
      QCOMPARE(a->text(), U(row[1]));
      QCOMPARE(a->shortcut().toString(), QString::fromLatin1(row[2]));
    }
    // Rotate entries carry the tags 1, 3, 2, 4, 5 in menu order.
    QStringList order = {"mnRotateLeft", "mnRotateRight", "mnRotate180", "mnFlipVertical",
                         "mnFlipHorizontal"};
    QList<int> tags;
    for (const QString& n : order) tags << form.Action(n)->property("tag").toInt();
    QCOMPARE(tags, (QList<int>{1, 3, 2, 4, 5}));
    // Undo waits for a history; quitting works.
    QVERIFY(form.Action("mnQuit")->isEnabled());
    QVERIFY(!form.Action("mnUndo")->isEnabled());
  }

  void depthTexts() {
    struct {
      int bits;
      const char* text;
    } cases[] = {{0, "1"}, {1, "2"}, {4, "16"}, {8, "256"}, {9, "9b"}, {24, "24b"},
                 {31, "31b"}, {32, "32"}, {48, "48"}};
    for (auto& c : cases) QCOMPARE(DepthText(c.bits), QString(c.text));
  }

  void titleAndPanels() {
    TMainForm form({}, Ini());
    QCOMPARE(form.StatusPanels().PanelText(0), kBlank);
    QCOMPARE(form.StatusPanels().PanelText(1), kBlank);
    QCOMPARE(form.StatusPanels().PanelText(2), kBlank);

    form.SetDocumentName("/scan/a.tif");
    AddPage(form, 1728, 2290, 1, 1, ie1g);
    AddPage(form, 30, 20, 8, 3, ie24RGB);
    AddPage(form, 30, 20, 16, 3, ie24RGB);
    form.Pages().SetCurrentPage(-1);
    form.RefreshStatus();
    QCOMPARE(form.windowTitle(), U("【Folivo】 - a.tif"));
    QCOMPARE(form.StatusPanels().PanelText(0), QString("/scan/a.tif"));
    QCOMPARE(form.StatusPanels().PanelText(1), U("总页数 3 "));
    QCOMPARE(form.StatusPanels().PanelText(2), kBlank);

    // The view still holds its 1-pixel image: no zoom is appended.
    const char* panel2[] = {"1728 x 2290 x 2", "30 x 20 x 24b", "30 x 20 x 48"};
    for (int page = 0; page < 3; ++page) {
      form.Pages().SetCurrentPage(page);
      form.RefreshStatus();
      QCOMPARE(form.StatusPanels().PanelText(1), QString(" %1/3 ").arg(page + 1));
      QCOMPARE(form.StatusPanels().PanelText(2), QString(panel2[page]));
    }
    // With a page in the view, its zoom follows.
    form.ViewState().Bitmap.Allocate(30, 20, ie24RGB);
    form.PageView().Update();
    form.PageView().SetShrinkToFit(false);
    form.PageView().SetZoom(150);
    form.RefreshStatus();
    QCOMPARE(form.StatusPanels().PanelText(2), QString("30 x 20 x 48 (150%)"));

    // Widths follow the texts: round((width + 5) × k).
    QFontMetrics m(form.StatusPanels().font());
    QCOMPARE(form.StatusPanels().PanelWidth(1),
             qRound((m.horizontalAdvance(" 3/3 ") + 5) * 1.5));
    QCOMPARE(form.StatusPanels().PanelWidth(2),
             qRound((m.horizontalAdvance("30 x 20 x 48 (150%)") + 5) * 1.1));
  }

  void navigatorPanelTurnsWithThePage() {
    TMainForm form({}, Ini());
    form.ViewState().Bitmap.Allocate(300, 100, ie24RGB);
    form.RefreshStatus();
    QCOMPARE(form.NavigatorPanel()->size(), QSize(200, 150));
    form.ViewState().Bitmap.Allocate(100, 300, ie24RGB);
    form.RefreshStatus();
    QCOMPARE(form.NavigatorPanel()->size(), QSize(150, 200));
  }

  void hintsGoToTheStatusBar() {
    TMainForm form({}, Ini());
    QStatusTipEvent show(U("打印输出"));
    QCoreApplication::sendEvent(&form, &show);
    QVERIFY(form.StatusPanels().MessageMode());
    QCOMPARE(form.StatusPanels().MessageText(), U("打印输出"));
    QStatusTipEvent hide{QString()};
    QCoreApplication::sendEvent(&form, &hide);
    QVERIFY(!form.StatusPanels().MessageMode());
  }

  void progressBarIsDrawnAfterThePanels() {
    TMainForm form({}, Ini());
    form.ShowProgress(40);
    TMainStatusBar& bar = form.StatusPanels();
    QCOMPARE(bar.Progress(), 40);
    int x = bar.PanelWidth(0) + bar.PanelWidth(1) + bar.PanelWidth(2) + 1;
    QCOMPARE(bar.ProgressRect(40), QRect(QPoint(x, 4), QPoint(x + 39, 19)));
    QCOMPARE(bar.ProgressRect(250).width(), 100);
    form.RestoreStatus();
    QCOMPARE(bar.Progress(), -1);
  }

  void busyWindowClosesWhenACommandThrows() {
    TMainForm form({}, Ini());
    try {
      TBusyGuard busy(form);
      QVERIFY(form.WaitForm());
      QCOMPARE(form.WaitForm()->Text(), U("请稍候，正在执行中……"));
      QCOMPARE(form.WaitForm()->size(), QSize(289, 71));
      QVERIFY(form.WaitForm()->Animating());
      QVERIFY(!form.centralWidget()->isEnabled());
      throw std::runtime_error("command failed");
    } catch (const std::runtime_error&) {
    }
    QVERIFY(!form.WaitForm());
    QVERIFY(form.centralWidget()->isEnabled());
  }

  void quitAsksOnlyWithPagesAndTheOptionOn() {
    TMainForm form({}, Ini());
    AddPage(form, 10, 10, 1, 1, ie1g);
    prompts_.MessageAnswers = {pbNo};
    QVERIFY(!form.close());
    QCOMPARE(int(prompts_.Asked.size()), 1);
    QCOMPARE(prompts_.Asked[0].Text, U("现在退出 『Folivo』 吗？\n"));
    QCOMPARE(prompts_.Asked[0].Buttons, pbYes | pbNo);
    QVERIFY(!QFile::exists(Ini()));  // nothing saved while the window stays
    prompts_.MessageAnswers = {pbYes};
    QVERIFY(form.close());
    QVERIFY(QFile::exists(Ini()));
  }

  void quitDoesNotAskWithTheOptionOff() {
    {
      TIniFile ini(Ini().toStdString());
      ini.WriteBool("Parameter", "QuitConfirm", false);
    }
    TMainForm form({}, Ini());
    AddPage(form, 10, 10, 1, 1, ie1g);
    QVERIFY(form.close());
    QVERIFY(prompts_.Asked.empty());
  }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainfrm.moc"
