// Folivo — multi-page TIFF editor.
// Opening a 500-page A4 G4 fax in the main window under the offscreen
// platform: time to page 0 and the window's event latency while thumbnails
// are made, total load time, against the pure decode of the same file by our
// reader and by libtiff; peak memory against decoded pages plus thumbnails.
#include <tiffio.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/mainfrm.h"
#include "bench/benchutil.h"
#include "formats/pagelist.h"
#include "formats/tiffpages.h"
#include "platform/widgets/imageview.h"
#include "platform/widgets/pagelistview.h"

namespace {

using namespace folivo;
using namespace folivo::bench;
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// The one page is encoded once by libtiff; every page of the file carries
// that strip, so making the file costs no 500 encodings.
bool WriteFax(const std::string& path, int pageCount) {
  const std::string one = path + ".one.tif";
  const std::vector<uint8_t> bits = TextPage(kA4WidthPx, kA4HeightPx);
  const size_t rowBytes = (kA4WidthPx + 7) / 8;
  auto header = [](TIFF* t) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kA4WidthPx);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, kA4HeightPx);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, kA4HeightPx);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 300.0);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 300.0);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  };
  TIFF* t = TIFFOpen(one.c_str(), "w");
  if (!t) return false;
  header(t);
  for (uint32_t y = 0; y < kA4HeightPx; ++y)
    TIFFWriteScanline(t, const_cast<uint8_t*>(&bits[y * rowBytes]), y, 0);
  TIFFClose(t);
  t = TIFFOpen(one.c_str(), "r");
  if (!t) return false;
  std::vector<uint8_t> strip(TIFFRawStripSize(t, 0));
  TIFFReadRawStrip(t, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
  TIFFClose(t);
  std::remove(one.c_str());

  t = TIFFOpen(path.c_str(), "w");
  if (!t) return false;
  for (int p = 0; p < pageCount; ++p) {
    header(t);
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(t, TIFFTAG_PAGENUMBER, p, pageCount);
    TIFFWriteRawStrip(t, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
    TIFFWriteDirectory(t);
  }
  TIFFClose(t);
  return true;
}

// VmHWM or VmRSS of this process, in MiB.
double ProcMiB(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(key);
  while (std::getline(in, line))
    if (line.compare(0, n, key) == 0) return std::atof(line.c_str() + n + 1) / 1024.0;
  return 0;
}

double LibtiffDecode(const std::string& path) {
  TIFF* t = TIFFOpen(path.c_str(), "r");
  if (!t) return 0;
  std::vector<uint8_t> buf(TIFFStripSize(t));
  const auto start = Clock::now();
  do {
    buf.resize(TIFFStripSize(t));
    TIFFReadEncodedStrip(t, 0, buf.data(), static_cast<tmsize_t>(buf.size()));
  } while (TIFFReadDirectory(t));
  const double s = Since(start);
  TIFFClose(t);
  return s;
}

double OurDecode(const std::string& path, int& pages) {
  TPageList list;
  TIOProgress progress;
  const auto start = Clock::now();
  pages = LoadTiffPages(list, path, progress);
  return Since(start);
}

}  // namespace

int main(int argc, char** argv) {
  bool smoke = false;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--smoke") == 0) smoke = true;
  const int pageCount = smoke ? 10 : 500;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QTemporaryDir dir;
  const std::string fax = dir.filePath("fax.tif").toStdString();
  if (!WriteFax(fax, pageCount)) {
    std::fprintf(stderr, "cannot write %s\n", fax.c_str());
    return 1;
  }
  TIFFSetWarningHandler(nullptr);

  // The window first, so that its peak memory is not the decode runs'.
  const double baseMiB = ProcMiB("VmRSS:");
  TMainForm form({}, dir.filePath("folivo.ini"));
  form.show();
  QCoreApplication::processEvents();
  const double windowMiB = ProcMiB("VmRSS:");

  // Event latency: a 5 ms ping whose largest lateness is the longest time a
  // click would wait.
  double worstGap = 0;
  auto last = Clock::now();
  bool pinging = false;
  QTimer ping;
  ping.setInterval(5);
  QObject::connect(&ping, &QTimer::timeout, [&] {
    const double gap = Since(last);
    if (pinging) worstGap = std::max(worstGap, gap);
    last = Clock::now();
  });

  const auto start = Clock::now();
  form.LoadDocumentFile(QString::fromStdString(fax));
  const double pageZero = Since(start);
  const bool shown = form.ViewState().Bitmap.Width() == static_cast<int>(kA4WidthPx);
  // The first click after the load: how long until the event loop runs it.
  bool answered = false;
  const auto posted = Clock::now();
  QTimer::singleShot(0, &form, [&] { answered = true; });
  while (!answered) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  const double firstResponse = Since(posted);

  // Showing a page alone: the drawing share of the time to page 0.
  const auto reshow = Clock::now();
  form.ShowPage(0);
  const double showPage = Since(reshow);

  TPageListModel& model = form.PageListView().PageModel();
  ping.start();
  last = Clock::now();
  pinging = true;
  while (model.Loading()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  const double visibleThumbs = Since(start);
  // Every thumbnail, as scrolling through the whole list would ask for them.
  int probes = 0;
  for (int i = 0; i < model.rowCount(); ++i) {
    model.data(model.index(i, 0), TPageListModel::ThumbnailRole);
    if (++probes % 25 == 0) QCoreApplication::processEvents();
  }
  while (model.Loading()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  const double allThumbs = Since(start);
  pinging = false;
  ping.stop();
  const double peakMiB = ProcMiB("VmHWM:");

  int64_t pageBytes = 0;
  for (int i = 0; i < form.Pages().PageCount(); ++i)
    pageBytes += int64_t(form.Pages().Bitmap(i).RowLength()) * form.Pages().Bitmap(i).Height();
  int64_t thumbBytes = 0;
  for (int i = 0; i < model.rowCount(); ++i)
    thumbBytes +=
        model.data(model.index(i, 0), TPageListModel::ThumbnailRole).value<QImage>().sizeInBytes();
  const int loaded = form.Pages().PageCount();
  form.hide();  // closing would ask the quit question

  int ourPages = 0;
  const int runs = smoke ? 1 : 3;
  double ours = 1e9, peer = 1e9;
  for (int r = 0; r < runs; ++r) {
    ours = std::min(ours, OurDecode(fax, ourPages));
    peer = std::min(peer, LibtiffDecode(fax));
  }

  const double mib = 1024.0 * 1024.0;
  std::printf("open %d-page A4 G4 fax (%dx%d, 300 dpi) in the main window, offscreen\n", pageCount,
              kA4WidthPx, kA4HeightPx);
  std::printf("  pages loaded                 %d (page 0 shown: %s)\n", loaded,
              shown ? "yes" : "NO");
  std::printf("  page 0 on screen             %8.3f s\n", pageZero);
  std::printf("  of which ShowPage alone       %8.3f s (measured again after the load)\n",
              showPage);
  std::printf("  first event answered after   %8.3f s more\n", firstResponse);
  std::printf("  visible thumbnails done      %8.3f s\n", visibleThumbs);
  std::printf("  all thumbnails done          %8.3f s\n", allThumbs);
  std::printf("  longest event-loop stall     %8.3f s (while thumbnails were made)\n", worstGap);
  std::printf("pure decode of the same file (best of %d)\n", runs);
  std::printf("  ours LoadTiffPages           %8.3f s (%d pages)\n", ours, ourPages);
  std::printf("  libtiff strips               %8.3f s\n", peer);
  std::printf("  page 0 on screen / ours      %8.2f x\n", pageZero / ours);
  std::printf("  page 0 on screen / libtiff   %8.2f x\n", pageZero / peer);
  std::printf("memory\n");
  std::printf("  process before the window    %8.1f MiB, with the empty window %.1f MiB\n", baseMiB,
              windowMiB);
  std::printf("  peak (VmHWM) with document   %8.1f MiB\n", peakMiB);
  std::printf("  decoded pages                %8.1f MiB\n", pageBytes / mib);
  std::printf("  thumbnails                   %8.1f MiB\n", thumbBytes / mib);
  std::printf("  peak - empty window          %8.1f MiB\n", peakMiB - windowMiB);
  return loaded == pageCount && shown ? 0 : 1;
}
