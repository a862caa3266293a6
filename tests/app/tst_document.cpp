// Folivo — multi-page TIFF editor.
// The document in the main window: loading and inserting, the page commands,
// the clipboard, the page list's selection and thumbnails, the page view's
// zoom, navigator and crop selection, and the readers of the other formats.
#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "app/mainfrm.h"
#include "app/statusbar.h"
#include "formats/pagelist.h"
#include "formats/pcx.h"
#include "formats/stream.h"
#include "platform/clipboardraw.h"
#include "platform/imageio.h"
#include "platform/inifile.h"
#include "platform/qtbitmap.h"
#include "platform/widgets/imageview.h"
#include "platform/widgets/pagelistview.h"
#include "platform/widgets/userprompts.h"

using namespace folivo;

namespace {

QString U(const char* s) {
  return QString::fromUtf8(s);
}

const char kJp2Hex[] =
    "0000000c6a5020200d0a870a00000014667479706a703220000000006a7032200000002d6a70326800000016696864"
    "72"
    "000000030000000400030f0700000000000f636f6c7201000000000010000000b36a703263ff4fff51002f00000000"
    "00"
    "040000000300000000000000000000000400000003000000000000000000030f01010f01010f0101ff52000c000000"
    "01"
    "010104040001ff5c00074080888890ff640025000143726561746564206279204f70656e4a5045472076657273696f"
    "6e"
    "20322e352e30ff90000a0000000000380001ff93c3ff0004000885743a6cd075b3c7fe0c1201cd603a6cd0789d7fc7"
    "fe"
    "0c120885743a6cd0789d7f808080ffd9";
const char kGifHex[] =
    "47494638396103000200f00000ff000000000021f904000000000021ff0b4e45545343415045322e3003010000002c"
    "00"
    "00000003000200000202845f0021f90400000000002c0000000003000200800000ff0000000202845f003b";

QByteArray FromHex(const char* hex) {
  return QByteArray::fromHex(hex);
}

void Put16(std::string& s, uint16_t v) {
  s += char(v & 0xFF);
  s += char(v >> 8);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

// A little-endian TIFF with one uncompressed 1-bit white page per width in
// widths (height 4); breakAt >= 0 gives that page a compression no reader knows.
void WriteTiff(const QString& path, const std::vector<int>& widths, int breakAt = -1) {
  std::string f = "II";
  Put16(f, 42);
  Put32(f, 8);
  constexpr int kHeight = 4;
  for (size_t i = 0; i < widths.size(); ++i) {
    const int w = widths[i];
    const uint32_t stripBytes = uint32_t((w + 7) / 8) * kHeight;
    const uint32_t ifd = static_cast<uint32_t>(f.size());
    const int entries = 8;
    const uint32_t data = ifd + 2 + entries * 12 + 4;
    const uint32_t next = i + 1 < widths.size() ? data + stripBytes : 0;
    Put16(f, entries);
    auto tag = [&](uint16_t t, uint16_t type, uint32_t value) {
      Put16(f, t);
      Put16(f, type);
      Put32(f, 1);
      Put32(f, value);
    };
    tag(256, 4, w);
    tag(257, 4, kHeight);
    tag(258, 3, 1);
    tag(259, 3, int(i) == breakAt ? 60000 : 1);
    tag(262, 3, 0);  // white is zero
    tag(273, 4, data);
    tag(278, 4, kHeight);
    tag(279, 4, stripBytes);
    Put32(f, next);
    f.append(stripBytes, '\0');
  }
  QFile out(path);
  QVERIFY(out.open(QIODevice::WriteOnly));
  out.write(f.data(), qint64(f.size()));
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile out(path);
  QVERIFY(out.open(QIODevice::WriteOnly));
  out.write(bytes);
}

std::vector<int> Widths(TMainForm& form) {
  std::vector<int> w;
  for (int i = 0; i < form.Pages().PageCount(); ++i) w.push_back(form.Pages().FullWidth(i));
  return w;
}

// A 128-byte PCX header.
QByteArray PcxHeader(int bits, int planes, int w, int h, int bytesPerLine) {
  QByteArray hd(128, '\0');
  hd[0] = 0x0A;
  hd[1] = 5;
  hd[2] = 1;
  hd[3] = char(bits);
  hd[8] = char((w - 1) & 0xFF);
  hd[9] = char((w - 1) >> 8);
  hd[10] = char((h - 1) & 0xFF);
  hd[11] = char((h - 1) >> 8);
  hd[12] = char(200);
  hd[14] = char(200);
  hd[65] = char(planes);
  hd[66] = char(bytesPerLine);
  return hd;
}

}  // namespace

class TestDocument : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  TScriptedPrompts prompts_;
  QString Ini() const { return dir_.filePath("folivo.ini"); }
  QString File(const char* name) const { return dir_.filePath(name); }
  void AddPages(TMainForm& form, const std::vector<int>& widths) {
    for (int w : widths) {
      int i = form.Pages().Append();
      form.Pages().Bitmap(i).Allocate(w, 5, ie8g);
      form.Pages().Bitmap(i).Fill(200);
    }
  }

 private slots:
  void init() {
    QFile::remove(Ini());
    prompts_ = TScriptedPrompts();
    TUserPrompts::Install(&prompts_);
  }
  void cleanup() { TUserPrompts::Install(nullptr); }

  void insertGoesBeforeTheCurrentPageAndKeepsTheName() {
    WriteTiff(File("two.tif"), {21, 22});
    TMainForm form({}, Ini());
    AddPages(form, {11, 12, 13, 14, 15});
    form.SetDocumentName("/docs/named.tif");
    form.Pages().Select(2);
    form.LoadDocumentFile(File("two.tif"));
    QCOMPARE(Widths(form), (std::vector<int>{11, 12, 21, 22, 13, 14, 15}));
    QCOMPARE(form.DocumentName(), QString("/docs/named.tif"));
    QVERIFY(prompts_.Asked.empty());
  }

  void insertAfterEmptyAllGoesToTheEndAndShowsPageZero() {
    WriteTiff(File("two.tif"), {21, 22});
    TMainForm form({}, Ini());
    AddPages(form, {11, 12});
    form.Pages().Select(1);
    form.sbEmptyAllClick();
    QCOMPARE(form.ViewState().Bitmap.Width(), 1);  // the blank keeps the view's size
    form.LoadDocumentFile(File("two.tif"));
    QCOMPARE(Widths(form), (std::vector<int>{21, 22}));
    QCOMPARE(form.Pages().CurrentPage(), 0);
    QCOMPARE(form.ViewState().Bitmap.Width(), 21);
    // A nameless document takes the first file's name and remembers it.
    QCOMPARE(form.DocumentName(), File("two.tif"));
    QCOMPARE(form.LastOpen(), File("two.tif"));
    QCOMPARE(form.RecentFiles().Items().size(), size_t(1));
    QCOMPARE(form.windowTitle(), U("【Folivo】 - two.tif"));
  }

  void largeFilesAskFirst_data() {
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<int>("loaded");
    QTest::newRow("500 pages load without asking") << 500 << int(pbNo) << false << 500;
    QTest::newRow("501 pages, No") << 501 << int(pbNo) << true << 0;
    QTest::newRow("501 pages, Yes") << 501 << int(pbYes) << true << 501;
  }
  void largeFilesAskFirst() {
    QFETCH(int, pages);
    QFETCH(int, answer);
    QFETCH(bool, asked);
    QFETCH(int, loaded);
    const QString name = File("many.tif");
    WriteTiff(name, std::vector<int>(pages, 8));
    prompts_.MessageAnswers = {answer};
    TMainForm form({}, Ini());
    form.LoadDocumentFile(name);
    QCOMPARE(form.Pages().PageCount(), loaded);
    QCOMPARE(prompts_.Asked.size(), size_t(asked ? 1 : 0));
    if (asked) {
      QCOMPARE(prompts_.Asked[0].Kind, TPromptKind::Warning);
      QCOMPARE(prompts_.Asked[0].Buttons, int(pbYes | pbNo));
      QCOMPARE(prompts_.Asked[0].Text,
               U("此图像文件包含大量独立页面，可能会影响加载速度，是否继续加载？\n文件名　：") +
                   name + U("\n页面数量：501"));
    }
    QCOMPARE(form.DocumentName().isEmpty(), loaded == 0);
  }

  void damagedAndUnknownFilesAreReported() {
    WriteTiff(File("broken.tif"), {31, 32, 33}, 1);
    WriteBytes(File("notes.xyz"), "plain text, no image");
    TMainForm form({}, Ini());
    form.LoadDocumentFile(File("broken.tif"));
    QCOMPARE(Widths(form), (std::vector<int>{31}));  // the page before the fault stays
    QCOMPARE(prompts_.Asked.size(), size_t(1));
    QCOMPARE(prompts_.Asked[0].Kind, TPromptKind::Error);
    QVERIFY(prompts_.Asked[0].Text.contains(File("broken.tif")));
    form.sbEmptyAllClick();
    form.SetDocumentName({});
    form.LoadDocumentFile(File("notes.xyz"));
    QCOMPARE(form.Pages().PageCount(), 0);  // never an empty page
    QCOMPARE(prompts_.Asked.size(), size_t(2));
    QCOMPARE(prompts_.Asked[1].Kind, TPromptKind::Error);
    QVERIFY(form.DocumentName().isEmpty());
    QVERIFY(!form.WaitForm());  // the busy window closed on every path
  }

  void openAndDropAndReopen() {
    WriteTiff(File("a.tif"), {21, 22});
    WriteTiff(File("b.tif"), {23});
    TMainForm form({}, Ini());
    form.DropFiles({File("a.tif"), File("b.tif")});
    // The second file goes before the current page, which the first made page 0.
    QCOMPARE(Widths(form), (std::vector<int>{23, 21, 22}));
    QCOMPARE(form.DocumentName(), File("a.tif"));
    // Open replaces the document; the dialog starts in the last file's folder.
    prompts_.FileAnswers = {{File("b.tif")}};
    form.mnOpenFileClick();
    QCOMPARE(prompts_.FileRequests.back().StartFolder, dir_.path());
    QVERIFY(prompts_.FileRequests.back().Filter.startsWith(U("一般图像文件|*.tif;*.gif;")));
    QCOMPARE(Widths(form), (std::vector<int>{23}));
    QCOMPARE(form.DocumentName(), File("b.tif"));
    AddPages(form, {99});
    form.mnOpenAgainClick();
    QCOMPARE(Widths(form), (std::vector<int>{23}));
    // Add inserts every chosen file at the current position.
    form.Pages().Select(0);
    prompts_.FileAnswers = {{File("a.tif"), File("b.tif")}};
    form.sbAddFilesClick();
    QCOMPARE(Widths(form), (std::vector<int>{21, 22, 23, 23}));
    QCOMPARE(form.DocumentName(), File("b.tif"));
  }

  void commandLineFilesMakeOneDocument() {
    WriteTiff(File("a.tif"), {21});
    WriteTiff(File("b.tif"), {22, 23});
    TMainForm form({File("a.tif"), File("b.tif")}, Ini());
    QCOMPARE(form.Pages().PageCount(), 3);
    QCOMPARE(form.DocumentName(), File("a.tif"));
  }

  void moveBlocks_data() {
    QTest::addColumn<std::vector<int>>("selection");
    QTest::addColumn<bool>("up");
    QTest::addColumn<std::vector<int>>("order");
    QTest::newRow("up {0,1,3}: only 3 moves")
        << std::vector<int>{0, 1, 3} << true << std::vector<int>{10, 11, 13, 12, 14};
    QTest::newRow("down {3,4}: the block touches the end")
        << std::vector<int>{3, 4} << false << std::vector<int>{10, 11, 12, 13, 14};
    QTest::newRow("up {2,1}: a free block moves whole")
        << std::vector<int>{2, 1} << true << std::vector<int>{11, 12, 10, 13, 14};
    QTest::newRow("down {0,2}") << std::vector<int>{0, 2} << false
                                << std::vector<int>{11, 10, 13, 12, 14};
  }
  void moveBlocks() {
    QFETCH(std::vector<int>, selection);
    QFETCH(bool, up);
    QFETCH(std::vector<int>, order);
    TMainForm form({}, Ini());
    AddPages(form, {10, 11, 12, 13, 14});
    form.Pages().DeselectAll();
    form.Pages().MultiSelecting = true;
    for (int p : selection) form.Pages().Select(p);
    form.Pages().MultiSelecting = false;
    up ? form.sbMoveUpClick() : form.sbMoveDownClick();
    QCOMPARE(Widths(form), order);
  }

  void selectionCommands() {
    TMainForm form({}, Ini());
    AddPages(form, {10, 11, 12, 13});
    form.Pages().Select(1);
    form.sbInvertSelectClick();
    std::vector<int> sel = form.Pages().Selection();
    std::sort(sel.begin(), sel.end());
    QCOMPARE(sel, (std::vector<int>{0, 2, 3}));
    form.sbSelectAllClick();
    QCOMPARE(form.Pages().SelectedCount(), 4);
    // Delete removes the selection and shows what is current afterwards.
    form.Pages().Select(1);
    form.sbDeleteClick();
    QCOMPARE(Widths(form), (std::vector<int>{10, 12, 13}));
    QCOMPARE(form.ViewState().Bitmap.Width(), form.Pages().FullWidth(form.Pages().CurrentPage()));
    // Next and previous stop at the ends.
    form.Pages().Select(0);
    form.sbPrevPageClick();
    QCOMPARE(form.Pages().CurrentPage(), 0);
    form.sbNextPageClick();
    form.sbNextPageClick();
    form.sbNextPageClick();
    QCOMPARE(form.Pages().CurrentPage(), 2);
    QCOMPARE(form.ViewState().Bitmap.Width(), 13);
    QCOMPARE(form.StatusPanels().PanelText(1), QString(" 3/3 "));
  }

  void checkSelectionGuard() {
    const QString message = U("在使用本功能前，请先选定需要进行处理的页面。");
    TMainForm form({}, Ini());
    QVERIFY(form.CheckSelection(message));  // no pages: stop, silently
    AddPages(form, {10});
    form.Pages().DeselectAll();
    QVERIFY(!form.CheckSelection(message));  // the only page gets selected and shown
    QCOMPARE(form.ViewState().Bitmap.Width(), 10);
    AddPages(form, {11, 12});
    form.Pages().DeselectAll();
    QVERIFY(!form.CheckSelection(message));
    QCOMPARE(form.Pages().SelectedCount(), 3);
    QVERIFY(prompts_.Asked.empty());
  }

  void storePageWritesBackAndRedrawsTheThumbnail() {
    TMainForm form({}, Ini());
    AddPages(form, {40});
    form.Pages().Select(0);
    form.ShowPage(0);
    TPageListModel& model = form.PageListView().PageModel();
    QModelIndex index = model.index(0);
    model.data(index, TPageListModel::ThumbnailRole);
    model.WaitForThumbnails();
    QImage before = model.data(index, TPageListModel::ThumbnailRole).value<QImage>();
    QVERIFY(!before.isNull());
    QCOMPARE(before.pixelColor(0, 0).red(), 200);
    form.ViewState().Bitmap.Fill(10);
    form.StorePage(0);
    QCOMPARE(form.Pages().Bitmap(0).GetScanline(0)[0], uint8_t(10));
    model.data(index, TPageListModel::ThumbnailRole);
    model.WaitForThumbnails();
    QImage after = model.data(index, TPageListModel::ThumbnailRole).value<QImage>();
    QCOMPARE(after.pixelColor(0, 0).red(), 10);
    form.StorePage(5);  // past the end: nothing
    QCOMPARE(form.Pages().PageCount(), 1);
  }

  void bilevelThumbnailsAverageTheirArea() {
    // Left half black, right half white: the thumbnail goes from black to white.
    TIEBitmap page(400, 200, ie1g);
    page.Fill(1);
    for (int y = 0; y < 200; ++y) std::memset(page.GetScanline(y), 0, 25);
    QImage t = MakeThumbnail(page, 100);
    QCOMPARE(t.size(), QSize(100, 50));
    QCOMPARE(qGray(t.pixel(10, 20)), 0);
    QCOMPARE(qGray(t.pixel(90, 20)), 255);
    // A page that fits is not enlarged.
    TIEBitmap small(30, 20, ie8g);
    QCOMPARE(MakeThumbnail(small, 100).size(), QSize(30, 20));
  }

  void userSelectionIsReportedInOrderAndOnlyForTheUser() {
    TMainForm form({}, Ini());
    form.resize(900, 1400);
    form.show();
    AddPages(form, {10, 11, 12, 13});
    TPageListView& list = form.PageListView();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    list.doItemsLayout();
    std::vector<int> selects, deselects;
    connect(&list, &TPageListView::ImageSelect, [&](int p) { selects.push_back(p); });
    connect(&list, &TPageListView::ImageDeselect, [&](int p) { deselects.push_back(p); });
    form.Pages().Select(0);  // the editor's own call: no signal
    QVERIFY(selects.empty());
    auto click = [&](int page, Qt::KeyboardModifiers m) {
      QTest::mouseClick(list.viewport(), Qt::LeftButton, m, list.CellRect(page).center());
    };
    click(3, Qt::NoModifier);
    click(1, Qt::ControlModifier);
    click(2, Qt::ControlModifier);
    QCOMPARE(form.Pages().Selection(), (std::vector<int>{3, 1, 2}));
    QCOMPARE(form.ViewState().Bitmap.Width(), 12);  // the select event shows the page
    click(1, Qt::ControlModifier);
    QCOMPARE(form.Pages().Selection(), (std::vector<int>{3, 2}));
    QCOMPARE(deselects, (std::vector<int>{1}));
    click(0, Qt::NoModifier);
    click(2, Qt::ShiftModifier);
    QCOMPARE(form.Pages().Selection(), (std::vector<int>{0, 1, 2}));
    QCOMPARE(selects, (std::vector<int>{3, 1, 2, 0, 2}));
    // A rubber band from the empty area takes effect when the button is released.
    const QPoint empty = list.CellRect(3).bottomLeft() + QPoint(5, 30);
    QVERIFY(!list.indexAt(empty).isValid());
    QTest::mousePress(list.viewport(), Qt::LeftButton, {}, empty);
    QTest::mouseMove(list.viewport(), list.CellRect(2).center());
    QCOMPARE(form.Pages().Selection(), (std::vector<int>{0, 1, 2}));
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, list.CellRect(2).center());
    QCOMPARE(form.Pages().Selection(), (std::vector<int>{2, 3}));
    QCOMPARE(form.Pages().CurrentPage(), 3);
  }

  void copyAndPaste() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    TMainForm form({}, Ini());
    clipboard->setText("not an image");
    form.mnCopyImageClick();  // the 1 x 1 view of start-up: nothing
    QCOMPARE(clipboard->text(), QString("not an image"));
    QVERIFY(!form.StatusPanels().MessageMode());
    form.mnPasteImageClick();
    QCOMPARE(form.StatusPanels().MessageText(), U("剪切板内容非图像格式，无法粘贴。"));
    QCOMPARE(form.Pages().PageCount(), 0);

    // After empty-all the view still holds a blank of the last page's size.
    AddPages(form, {37});
    form.Pages().Select(0);
    form.ShowPage(0);
    form.sbEmptyAllClick();
    form.mnCopyImageClick();
    QCOMPARE(form.StatusPanels().MessageText(), U("图象复制完成"));
    QVERIFY(clipboard->mimeData()->hasFormat(kRawMimeType));
    QCOMPARE(clipboard->image().size(), QSize(37, 5));

    // A 1 x 1 image blanks the view and adds no page.
    clipboard->setImage(QImage(1, 1, QImage::Format_RGB32));
    form.mnPasteImageClick();
    QCOMPARE(form.Pages().PageCount(), 0);

    // The private format wins over the plain image: a 1-bit page stays 1-bit.
    TIEBitmap bw(9, 3, ie1g);
    bw.Fill(1);
    bw.GetScanline(1)[0] = 0x7F;
    auto* data = new QMimeData;
    data->setData(kRawMimeType, SerializeBitmap(bw));
    QImage other(5, 5, QImage::Format_RGB32);
    other.fill(Qt::red);
    data->setImageData(other);
    clipboard->setMimeData(data);
    form.mnPasteImageClick();
    QCOMPARE(form.Pages().PageCount(), 1);
    QCOMPARE(form.Pages().CurrentPage(), 0);
    QCOMPARE(form.Pages().Bitmap(0).PixelFormat(), ie1g);
    QCOMPARE(form.Pages().Bitmap(0).GetScanline(1)[0], uint8_t(0x7F));
    QCOMPARE(form.Pages().Params(0).BitsPerSample, 1);

    // A plain image becomes a page too.
    clipboard->setImage(other);
    form.mnPasteImageClick();
    QCOMPARE(Widths(form), (std::vector<int>{9, 5}));
  }

  void rawClipboardDataIsCheckedBeforeUse() {
    TIEBitmap page(6, 4, ie8p);
    page.SetPaletteLength(256);
    page.SetPaletteColor(3, TColorTriple{1, 2, 3});
    page.GetScanline(2)[5] = 3;
    page.AlphaChannel()->GetScanline(1)[1] = 7;
    const QByteArray good = SerializeBitmap(page);
    TIEBitmap back;
    QVERIFY(DeserializeBitmap(good, back));
    QCOMPARE(back.PixelFormat(), ie8p);
    QCOMPARE(back.GetScanline(2)[5], uint8_t(3));
    QVERIFY(back.GetPaletteColor(3) == (TColorTriple{1, 2, 3}));
    QCOMPARE(back.AlphaChannelIfAny()->GetScanline(1)[1], uint8_t(7));
    QByteArray huge = good;
    huge[10] = char(0xFF);  // width grows past the data
    huge[11] = char(0xFF);
    QByteArray cut = good.left(good.size() - 1);
    QByteArray format = good;
    format[18] = char(99);
    for (const QByteArray& bad : {huge, cut, format, QByteArray("FOLIVO")}) {
      TIEBitmap untouched(2, 2, ie8g);
      QVERIFY(!DeserializeBitmap(bad, untouched));
      QCOMPARE(untouched.Width(), 2);
    }
  }

  void zoomNavigatorAndCrop() {
    TMainForm form({}, Ini());
    form.resize(900, 700);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    int i = form.Pages().Append();
    form.Pages().Bitmap(i).Allocate(3000, 4000, ie8g);
    form.Pages().Bitmap(i).Fill(255);
    form.Pages().Select(0);
    form.ShowPage(0);
    TImageView& view = form.PageView();
    const double fit = view.Zoom();
    QVERIFY(fit < 100);
    QCOMPARE(form.FitZoom(), fit);
    form.sbZoomInClick(1);  // from the drawn size, not from 100
    QVERIFY(qAbs(view.Zoom() - fit * 1.2) < 1e-9);
    form.sbZoomInClick(2);
    QVERIFY(qAbs(view.Zoom() - fit) < 1e-9);
    form.sbZoomTo100Click();
    QCOMPARE(view.Zoom(), 100.0);
    QVERIFY(form.NavigatorPanel()->isVisible());  // the page is larger than the view
    QVERIFY(form.NavigatorPanel()->height() > form.NavigatorPanel()->width());
    form.ImageEVClick();
    QVERIFY(!form.NavigatorPanel()->isVisible());
    form.ImageEVNavDblClick();  // at 100 %: back to fit
    QVERIFY(view.Fit());
    QVERIFY(qAbs(view.Zoom() - fit) < 1e-9);

    QToolButton* crop = form.Button("sbCropPage");
    crop->click();
    QVERIFY(crop->isChecked());
    QVERIFY(view.SelectionMode());
    QCOMPARE(form.ViewState().Selection(), (TRect{0, 0, 3000, 4000}));
    crop->click();
    QVERIFY(!crop->isChecked());
    QVERIFY(!form.ViewState().HasSelection());
    QVERIFY(!view.SelectionMode());
  }

  // Flip then undo and redo through the buttons and the menu entries: the
  // page list follows each step and the four controls follow the two lists.
  void undoAndRedoRestoreThePageInTheList() {
    TMainForm form({}, Ini());
    AddPages(form, {7, 9});
    form.Pages().Select(1);
    form.ShowPage(1);
    auto enabled = [&form] {
      return QList<bool>{form.Button("sbUndo")->isEnabled(), form.Action("mnUndo")->isEnabled(),
                         form.Button("sbRedo")->isEnabled(), form.Action("mnRedo")->isEnabled()};
    };
    QCOMPARE(enabled(), (QList<bool>{false, false, false, false}));
    form.Proc().Rotate(90);
    form.StorePage(1);
    form.UpdateUndoButtons();
    QCOMPARE(form.Pages().FullWidth(1), 5);
    QCOMPARE(enabled(), (QList<bool>{true, true, false, false}));

    form.Button("sbUndo")->click();
    QCOMPARE(form.Pages().FullWidth(1), 9);
    QCOMPARE(form.Pages().FullHeight(1), 5);
    QCOMPARE(form.ViewState().Bitmap.Width(), 9);
    QCOMPARE(enabled(), (QList<bool>{false, false, true, true}));
    QCOMPARE(form.Pages().FullWidth(0), 7);  // only the current page is written

    form.Action("mnRedo")->trigger();
    QCOMPARE(form.Pages().FullWidth(1), 5);
    QCOMPARE(enabled(), (QList<bool>{true, true, false, false}));
    form.Action("mnUndo")->trigger();
    QCOMPARE(form.Pages().FullWidth(1), 9);
    form.sbUndoClick();  // empty undo list: nothing changes
    QCOMPARE(form.Pages().FullWidth(1), 9);
    QCOMPARE(form.Proc().History().RedoCount(), 1);
  }

  void undoLimitComesFromTheSettings_data() {
    QTest::addColumn<int>("setting");  // -1: key absent
    QTest::addColumn<int>("kept");
    QTest::newRow("default 5") << -1 << 5;
    QTest::newRow("2 keeps the last two") << 2 << 2;
    QTest::newRow("0 keeps none") << 0 << 0;
  }
  void undoLimitComesFromTheSettings() {
    QFETCH(int, setting);
    QFETCH(int, kept);
    if (setting >= 0) {
      TIniFile ini(Ini().toStdString());
      ini.WriteInteger("Parameter", "UndoCount", setting);
    }
    TMainForm form({}, Ini());
    AddPages(form, {10});
    form.Pages().Select(0);
    form.ShowPage(0);
    // Six 90-degree turns: snapshot i has width 10 for even i, 5 for odd.
    for (int i = 0; i < 6; ++i) form.Proc().Rotate(90);
    QCOMPARE(form.Proc().History().UndoCount(), kept);
    if (kept > 0) {
      // The newest snapshot is the one before the last turn, 5 wide.
      QCOMPARE(form.Proc().History().UndoEntry(kept - 1).Snapshot->Width(), 5);
      QCOMPARE(form.Proc().History().UndoEntry(0).Snapshot->Width(), kept % 2 ? 5 : 10);
    }
  }

  void historyBelongsToOnePageOfAnUnchangedList() {
    TMainForm form({}, Ini());
    AddPages(form, {10, 11, 12});
    form.Pages().Select(0);
    form.ShowPage(0);
    auto operate = [&form] {
      form.Proc().Flip(0);
      form.StorePage(form.Pages().CurrentPage());
    };
    operate();
    form.ShowPage(0);  // same page again: kept
    QCOMPARE(form.Proc().History().UndoCount(), 1);
    QVERIFY(form.Button("sbUndo")->isEnabled());

    form.ShowPage(1);  // another page: emptied
    QCOMPARE(form.Proc().History().UndoCount(), 0);
    QVERIFY(!form.Button("sbUndo")->isEnabled());

    operate();
    form.Proc().Undo();
    QCOMPARE(form.Proc().History().RedoCount(), 1);
    form.Pages().Append();  // the list changed under the same page
    form.ShowPage(1);
    QCOMPARE(form.Proc().History().RedoCount(), 0);
    QVERIFY(!form.Button("sbRedo")->isEnabled());

    operate();
    form.ImageEMVImageDeselect(1);
    QCOMPARE(form.Proc().History().UndoCount(), 0);
  }

  void doubleClickCropsToTheSelection() {
    TMainForm form({}, Ini());
    TImageView& view = form.PageView();
    emit view.DoubleClicked();  // no pages: nothing, no fault
    QCOMPARE(form.Pages().PageCount(), 0);

    AddPages(form, {100, 100});
    form.Pages().Bitmap(1).Allocate(100, 80, ie8g);
    form.Pages().Bitmap(1).Fill(40);
    form.Pages().Select(1);
    form.ShowPage(1);
    form.Button("sbCropPage")->click();
    emit view.DoubleClicked();  // the whole page is selected: same size, one snapshot
    QCOMPARE(form.Pages().FullWidth(1), 100);
    form.ViewState().Select(TRect{10, 20, 50, 60});
    emit view.DoubleClicked();
    QCOMPARE(form.Pages().FullWidth(1), 40);
    QCOMPARE(form.Pages().FullHeight(1), 40);
    QCOMPARE(form.Pages().FullWidth(0), 100);
    QVERIFY(view.SelectionMode());
    QVERIFY(form.Button("sbCropPage")->isChecked());
    QVERIFY(!form.ViewState().HasSelection());
    QVERIFY(form.Button("sbUndo")->isEnabled());
    QVERIFY(form.WaitForm() == nullptr);  // the busy window went again

    const int entries = form.Proc().History().UndoCount();
    emit view.DoubleClicked();  // no selection now: nothing
    QCOMPARE(form.Proc().History().UndoCount(), entries);
    QCOMPARE(form.Pages().FullWidth(1), 40);

    form.sbUndoClick();
    QCOMPARE(form.Pages().FullWidth(1), 100);
    QCOMPARE(form.Pages().FullHeight(1), 80);
  }

  void otherFormats_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<std::vector<int>>("widths");
    QTest::addColumn<int>("bits");
    // PCX, 1 bit: two rows of 10 pixels, FF FF (a run) and FF 00 (literals).
    QByteArray mono = PcxHeader(1, 1, 10, 2, 2);
    mono += QByteArray::fromHex(
        "c2ff"
        "c1ff00");
    // PCX, 8 bits × 3 planes, 2 × 1 pixels: planes red, green, blue.
    QByteArray rgb = PcxHeader(8, 3, 2, 1, 2) + QByteArray::fromHex(
                                                    "c2fa"
                                                    "0102"
                                                    "c1c4c1c5");
    QByteArray dcx;
    {
      auto u32 = [](QByteArray& b, uint32_t v) {
        for (int k = 0; k < 4; ++k) b += char((v >> (8 * k)) & 0xFF);
      };
      u32(dcx, 987654321);
      const uint32_t first = 4 + 3 * 4;
      u32(dcx, first);
      u32(dcx, first + uint32_t(mono.size()));
      u32(dcx, 0);
      dcx += mono + rgb;
    }
    QTest::newRow("pcx 1 bit") << "a.pcx" << mono << std::vector<int>{10} << 1;
    QTest::newRow("dcx, two pages") << "a.dcx" << dcx << std::vector<int>{10, 2} << 1;
    QTest::newRow("gif, two frames") << "a.gif" << FromHex(kGifHex) << std::vector<int>{3, 3} << 8;
    QTest::newRow("jpeg 2000") << "a.jp2" << FromHex(kJp2Hex) << std::vector<int>{4} << 8;
    QTest::newRow("a png named .jpg") << "a.jpg" << QByteArray() << std::vector<int>{7} << 8;
  }
  void otherFormats() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(std::vector<int>, widths);
    QFETCH(int, bits);
    const QString path = File(name.toUtf8().constData());
    if (bytes.isEmpty()) {
      QImage png(7, 2, QImage::Format_RGB32);
      png.fill(Qt::green);
      QVERIFY(png.save(path, "PNG"));
    } else {
      WriteBytes(path, bytes);
    }
    TPageList pages;
    TIOProgress progress;
    QCOMPARE(LoadImageFilePages(pages, path, progress), int(widths.size()));
    QVERIFY(!progress.Aborting());
    for (size_t k = 0; k < widths.size(); ++k) QCOMPARE(pages.FullWidth(int(k)), widths[k]);
    QCOMPARE(pages.Params(0).BitsPerSample, bits);
    QCOMPARE(CountImageFilePages(path), int(widths.size()));
  }

  void pixelsOfTheOtherReaders() {
    // 1-bit PCX: bit 1 is white, as in our pages.
    QByteArray mono = PcxHeader(1, 1, 10, 2, 2) + QByteArray::fromHex("c2ffc1ff00");
    TByteViewStream s(reinterpret_cast<const uint8_t*>(mono.constData()), size_t(mono.size()));
    TIEBitmap page;
    TIOParamsVals params;
    TIOProgress progress;
    ReadPcxStream(s, page, &params, progress);
    QVERIFY(!progress.Aborting());
    QCOMPARE(page.GetScanline(0)[1] & 0xC0, 0xC0);
    QCOMPARE(page.GetScanline(1)[0], uint8_t(0xFF));
    QCOMPARE(page.GetScanline(1)[1] & 0xC0, 0);
    QCOMPARE(params.DpiX(), 200);
    QByteArray rgb = PcxHeader(8, 3, 2, 1, 2) + QByteArray::fromHex("c2fa0102c1c4c1c5");
    TByteViewStream s2(reinterpret_cast<const uint8_t*>(rgb.constData()), size_t(rgb.size()));
    ReadPcxStream(s2, page, &params, progress);
    QVERIFY(!progress.Aborting());
    const uint8_t* row = page.GetScanline(0);
    QCOMPARE(QList<int>({row[0], row[1], row[2], row[3], row[4], row[5]}),
             QList<int>({0xc4, 0x01, 0xfa, 0xc5, 0x02, 0xfa}));  // blue, green, red
    // JPEG 2000: the colour survives the codec (within its rounding).
    const QString jp2 = File("c.jp2");
    WriteBytes(jp2, FromHex(kJp2Hex));
    QVERIFY(ReadJpeg2000File(jp2.toStdString(), page));
    QCOMPARE(page.PixelFormat(), ie24RGB);
    QVERIFY(qAbs(page.GetScanline(2)[3 * 3 + 2] - 0x33) <= 2);
    QVERIFY(qAbs(page.GetScanline(2)[3 * 3 + 0] - 0x99) <= 2);
  }

  void hostileOtherFilesStopCleanly_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("unsupported");
    QTest::newRow("pcx claiming 65536 x 65536")
        << "big.pcx" << PcxHeader(8, 3, 65536, 65536, 0xFF) + "ab" << false;
    QTest::newRow("pcx cut in a row")
        << "cut.pcx" << PcxHeader(8, 1, 40, 40, 40) + "\xC5\x01" << false;
    QTest::newRow("pcx with 3 bits per pixel") << "odd.pcx" << PcxHeader(3, 1, 4, 4, 2) << true;
    QTest::newRow("jp2 signature, nothing after") << "x.jp2" << FromHex(kJp2Hex).left(40) << false;
    QTest::newRow("gif header only") << "x.gif" << QByteArray("GIF89a") << false;
    QTest::newRow("camera raw name") << "x.nef" << QByteArray("not a raw file") << true;
  }
  void hostileOtherFilesStopCleanly() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, unsupported);
    const QString path = File(name.toUtf8().constData());
    WriteBytes(path, bytes);
    TPageList pages;
    TIOProgress progress;
    bool threw = false;
    try {
      LoadImageFilePages(pages, path, progress);
    } catch (const TImageFormatError&) {
      threw = true;
    }
    QCOMPARE(threw, unsupported);
    if (!unsupported) QVERIFY(progress.Aborting());
    QCOMPARE(pages.PageCount(), 0);
  }
};

QTEST_MAIN(TestDocument)
#include "tst_document.moc"
