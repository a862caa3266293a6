// Folivo — multi-page TIFF editor.
#include "app/openfilter.h"

#include <QStringList>

namespace folivo {

const QString& OpenFilterText() {
  static const QString text =
      QStringList{
          QString::fromUtf8("一般图像文件"),
          "*.tif;*.gif;*.jpg;*.pcx;*.bmp;*.ico;*.cur;*.png;*.wmf;*.emf;*.tga;*.pxm;*.wbmp;*.jp2;*."
          "j2k;*.dcx;*.crw;*.psd",
          QString::fromUtf8("TIFF文件"),
          "*.tif;*.tiff;*.fax;*.g3n;*.g3f;*.xif",
          "CompuServe Bitmap (*.gif)",
          "*.gif",
          "JPEG Bitmap (*.jpg;*.jpeg;*.jpe;*.jif)",
          "*.jpg;*.jpeg;*.jpe;*.jif",
          "PaintBrush (*.pcx)",
          "*.pcx",
          "Windows Bitmap (*.bmp;*.dib;*.rle)",
          "*.bmp;*.dib;*.rle",
          "Windows Icon (*.ico)",
          "*.ico",
          "Windows Cursor (*.cur)",
          "*.cur",
          "Portable Network Graphics (*.png)",
          "*.png",
          "Windows Metafile (*.wmf)",
          "*.wmf",
          "Enhanced Windows Metafile (*.emf)",
          "*.emf",
          "Targa Bitmap (*.tga;*.targa;*.vda;*.icb;*.vst;*.pix)",
          "*.tga;*.targa;*.vda;*.icb;*.vst;*.pix",
          "Portable Pixmap, GrayMap, BitMap (*.pxm;*.ppm;*.pgm;*.pbm)",
          "*.pxm;*.ppm;*.pgm;*.pbm",
          "Wireless Bitmap (*.wbmp)",
          "*.wbmp",
          "JPEG2000 (*.jp2)",
          "*.jp2",
          "JPEG2000 Code Stream (*.j2k;*.jpc;*.j2c)",
          "*.j2k;*.jpc;*.j2c",
          "Multipage PCX (*.dcx)",
          "*.dcx",
          "Camera RAW",
          "*.crw;*.cr2;*.nef;*.raw;*.pef;*.raf;*.x3f;*.bay;*.orf;*.srf;*.mrw;*.dcr;*.sr2",
          "Photoshop PSD (*.psd)",
          "*.psd",
          QString::fromUtf8("所有文件 (*.*)"),
          "*.*",
      }
          .join('|');
  return text;
}

bool IsImageFileName(const QString& fileName) {
  // The extension is what follows the last dot of the last path component.
  const int slash = fileName.lastIndexOf('/');
  const int dot = fileName.lastIndexOf('.');
  const QString ext = dot > slash ? fileName.mid(dot) : QString();
  return OpenFilterText().contains(("*" + ext).toLower());
}

}  // namespace folivo
