// Folivo — multi-page TIFF editor.
// The subcommands of folivo-tool, one function each, listed in one table.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace folivo::cli {

// What a subcommand returns: 0 success, 1 failure (message already on err).
using TCommandFn = int (*)(const std::vector<std::string>& args, std::ostream& out,
                           std::ostream& err);

struct TCommand {
  const char* name;
  const char* usage;  // the arguments, for the usage text
  int minArgs;
  int maxArgs;  // -1: no limit
  TCommandFn run;
};

int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunCount(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunSplit(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunRender(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunPdf(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// process IN OUT OP...: operations on every page, written back as TIFF.
int RunProcess(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunConvert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Output name of page index (from 0) of source in folder: folder/base_0001.tif.
std::string SplitOutputName(const std::string& folder, const std::string& source, int index);

}  // namespace folivo::cli
