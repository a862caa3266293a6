// Folivo — multi-page TIFF editor.
// folivo-tool: batch command line over the core. Exit codes: 0 success,
// 1 failure ("error: ..." on stderr), 2 usage.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "formats/lzw.h"

namespace {

using folivo::cli::TCommand;

// Later subcommands are added here.
constexpr TCommand kCommands[] = {
    {"info", "FILE", 1, 1, folivo::cli::RunInfo},
    {"count", "FILE...", 1, -1, folivo::cli::RunCount},
    {"split", "FILE DIR", 2, 2, folivo::cli::RunSplit},
    {"render", "FILE PAGE OUT", 3, 3, folivo::cli::RunRender},
    {"convert",
     "IN... OUT [--compression none|huffman|g3|g3-2d|g4|lzw|packbits|zip|deflate|jpeg|old-jpeg] "
     "[--depth 1|8|24] [--jpeg-quality Q] [--zip-level 0|1|2]",
     2, -1, folivo::cli::RunConvert},
    {"pdf",
     "IN... OUT.pdf [--compression none|rle|g4|g3|jpeg|lzw] [--paper "
     "a0|a1|a2|a3|a4|a5|a6|b5|letter|legal|ledger|tabloid|auto] [--no-autorotate] [--title T] "
     "[--author A] [--subject S] [--keywords K] [--creator C]",
     2, -1, folivo::cli::RunPdf},
    {"process",
     "IN OUT OP... (rotate:ANGLE flip:0|1 resize-canvas:W:H:HALIGN:VALIGN resample:W:H:FILTER "
     "fit:SIDE:OPTION:SIZE:FILTERINDEX deskew[:RANGE[:STEP]])",
     3, -1, folivo::cli::RunProcess},
};

int Usage() {
  std::cerr << "usage:\n";
  for (const TCommand& c : kCommands)
    std::cerr << "  folivo-tool " << c.name << ' ' << c.usage << '\n';
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string name = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  for (const TCommand& c : kCommands) {
    if (name != c.name) continue;
    const int n = static_cast<int>(args.size());
    if (n < c.minArgs || (c.maxArgs >= 0 && n > c.maxArgs)) return Usage();
    folivo::InstallDefaultLzwRoutines();
    try {
      return c.run(args, std::cout, std::cerr);
    } catch (const std::exception& e) {
      std::cerr << "error: " << e.what() << '\n';
      return 1;
    }
  }
  return Usage();
}
