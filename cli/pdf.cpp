// Folivo — multi-page TIFF editor.
// pdf: TIFF pages into one PDF with the options of the PDF output dialog.
#include <ostream>
#include <string>

#include "cli/commands.h"
#include "formats/pagelist.h"
#include "formats/params.h"
#include "formats/pdfoptions.h"
#include "formats/pdfwriter.h"
#include "formats/tiffpages.h"

namespace folivo::cli {

int RunPdf(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TPdfOptions options;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--", 0) != 0) {
      files.push_back(a);
      continue;
    }
    if (a == "--no-autorotate") {
      options.AutoRotate = false;
      continue;
    }
    std::string* text = a == "--title"      ? &options.Title
                        : a == "--author"   ? &options.Author
                        : a == "--subject"  ? &options.Subject
                        : a == "--keywords" ? &options.Keywords
                        : a == "--creator"  ? &options.Creator
                                            : nullptr;
    const bool known = text != nullptr || a == "--compression" || a == "--paper";
    if (!known) {
      err << "usage: unknown option \"" << a << "\"\n";
      return 2;
    }
    if (i + 1 >= args.size()) {
      err << "usage: " << a << " needs a value\n";
      return 2;
    }
    const std::string& value = args[++i];
    if (text != nullptr) {
      *text = value;
    } else if (a == "--compression" ? !PdfCompressionFromName(value, options.Compression)
                                    : !PdfPageSizeFromName(value, options.PageSize)) {
      err << "usage: " << a << " does not take \"" << value << "\"\n";
      return 2;
    }
  }
  if (files.size() < 2) {
    err << "usage: folivo-tool pdf IN... OUT.pdf [options]\n";
    return 2;
  }
  const std::string target = files.back();
  files.pop_back();

  TPageList pages;
  for (const std::string& file : files) {
    TIOProgress progress;
    pages.SetCurrentPage(-1);  // append after the pages of earlier inputs
    const int loaded = LoadTiffPages(pages, file, progress);
    if (progress.Aborting() || loaded == 0) {
      err << "error: " << file << ": cannot be read as TIFF\n";
      return 1;
    }
  }
  ApplyPdfOptions(options, pages);
  TIOProgress progress;
  if (!SavePdfPages(pages, target, progress)) {
    err << "error: " << target << ": the PDF could not be written\n";
    return 1;
  }
  out << "pages=" << pages.PageCount() << '\n';
  return 0;
}

}  // namespace folivo::cli
