// Folivo — multi-page TIFF editor.
// folivo-tool pdf: options, defaults, the files written and the failures.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct TResult {
  int code;
  std::string out;
};

TResult Sh(const std::string& command) {
  TResult r{-1, {}};
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return r;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int status = pclose(pipe);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

bool HaveTools() {
  return std::system(
             "command -v qpdf >/dev/null && command -v pdfinfo >/dev/null && "
             "command -v pdfimages >/dev/null && command -v mutool >/dev/null") == 0;
}

void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(v & 0xFF);
  b.push_back((v >> 8) & 0xFF);
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// One uncompressed page: 1-bit WhiteIsZero (1 = black) or 8-bit RGB.
struct TPage {
  int width, height;
  bool bilevel;
};

uint8_t Sample(const TPage& p, size_t i) {
  return static_cast<uint8_t>(i * 37 + i / 11);
}

std::vector<uint8_t> MakeTiff(const std::vector<TPage>& pages) {
  std::vector<uint8_t> b = {'I', 'I', 42, 0, 0, 0, 0, 0};
  size_t link = 4;
  for (const TPage& p : pages) {
    const size_t rowBytes = p.bilevel ? (p.width + 7) / 8 : 3 * p.width;
    const uint32_t dataAt = static_cast<uint32_t>(b.size());
    for (size_t i = 0; i < rowBytes * p.height; ++i) b.push_back(Sample(p, i));
    const uint32_t bitsAt = static_cast<uint32_t>(b.size());
    for (int i = 0; i < 3; ++i) Put16(b, 8);
    const uint32_t ifd = static_cast<uint32_t>(b.size());
    for (int i = 0; i < 4; ++i) b[link + i] = static_cast<uint8_t>(ifd >> (8 * i));
    const uint32_t entries[][4] = {
        {256, 3, 1, static_cast<uint32_t>(p.width)},
        {257, 3, 1, static_cast<uint32_t>(p.height)},
        {258, 3, p.bilevel ? 1u : 3u, p.bilevel ? 1u : bitsAt},
        {259, 3, 1, 1},
        {262, 3, 1, p.bilevel ? 0u : 2u},
        {273, 4, 1, dataAt},
        {277, 3, 1, p.bilevel ? 1u : 3u},
        {278, 3, 1, static_cast<uint32_t>(p.height)},
        {279, 4, 1, static_cast<uint32_t>(rowBytes * p.height)},
    };
    Put16(b, static_cast<uint16_t>(std::size(entries)));
    for (const auto& e : entries) {
      Put16(b, e[0]);
      Put16(b, e[1]);
      Put32(b, e[2]);
      if (e[1] == 3 && e[2] == 1) {
        Put16(b, e[3]);
        Put16(b, 0);
      } else {
        Put32(b, e[3]);
      }
    }
    link = b.size();
    Put32(b, 0);
  }
  return b;
}

class TPdfCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("folivo_pdfcli_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }
  TResult Tool(const std::string& args) { return Sh(std::string(FOLIVO_TOOL) + " pdf " + args); }
  fs::path dir_;
};

bool Has(const std::string& text, const std::string& pattern) {
  return std::regex_search(text, std::regex(pattern));
}

TEST_F(TPdfCli, WritesEveryPageOfEveryInputWithTheOptions) {
  if (!HaveTools()) GTEST_SKIP() << "qpdf, poppler-utils and mupdf-tools are needed";
  const std::string a = Write("a.tif", MakeTiff({{90, 40, true}}));
  const std::string b = Write("b.tif", MakeTiff({{30, 50, false}, {60, 20, false}}));
  const std::string out = (dir_ / "out.pdf").string();
  const TResult r = Tool(a + " " + b + " " + out +
                         " --compression g4 --paper letter --title 'My (scan)' --author Ann "
                         "--subject S --keywords 'k w' --creator C");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out, "pages=3\n");
  EXPECT_EQ(Sh("qpdf --check " + out).code, 0);
  const std::string info = Sh("pdfinfo -f 1 -l 3 " + out).out;
  for (const char* line : {"Title:\\s+My \\(scan\\)\\n", "Author:\\s+Ann\\n", "Subject:\\s+S\\n",
                           "Keywords:\\s+k w\\n", "Creator:\\s+C\\n", "Producer:\\s+Folivo\\n",
                           "Pages:\\s+3\\n", "Page\\s+1 size:\\s+792 x 612 pts",
                           "Page\\s+2 size:\\s+612 x 792 pts", "Page\\s+3 size:\\s+792 x 612 pts"})
    EXPECT_TRUE(Has(info, line)) << line << "\n" << info;
  const std::string images = Sh("pdfimages -list " + out).out;
  EXPECT_TRUE(Has(images, "\\n\\s+1\\s+0\\s+image\\s+90\\s+40\\s+gray\\s+1\\s+1\\s+ccitt"))
      << images;
  EXPECT_TRUE(Has(images, "\\n\\s+2\\s+1\\s+image\\s+30\\s+50\\s+rgb\\s+3\\s+8\\s+image"))
      << images;
  EXPECT_TRUE(Has(images, "\\n\\s+3\\s+2\\s+image\\s+60\\s+20\\s+rgb\\s+3\\s+8\\s+image"))
      << images;
}

TEST_F(TPdfCli, DefaultsAreTheDialogsFirstUse) {
  if (!HaveTools()) GTEST_SKIP() << "qpdf, poppler-utils and mupdf-tools are needed";
  const std::string in = Write("wide.tif", MakeTiff({{80, 30, false}}));
  const struct {
    const char* options;
    const char* size;
  } cases[] = {{"", "842 x 595"}, {"--no-autorotate", "595 x 842"}, {"--paper auto", "80 x 30"}};
  for (const auto& c : cases) {
    const std::string out = (dir_ / "d.pdf").string();
    ASSERT_EQ(Tool(in + " " + out + " " + c.options).code, 0) << c.options;
    EXPECT_TRUE(Has(Sh("pdfinfo " + out).out, std::string("Page size:\\s+") + c.size)) << c.options;
    EXPECT_TRUE(Has(Sh("pdfimages -list " + out).out, "rgb\\s+3\\s+8\\s+image")) << "LZW";
    EXPECT_TRUE(Has(Sh("qpdf --show-object=3 " + out).out, "/LZWDecode")) << c.options;
  }
}

TEST_F(TPdfCli, BilevelPageRendersBackBitForBit) {
  if (!HaveTools()) GTEST_SKIP() << "qpdf, poppler-utils and mupdf-tools are needed";
  const TPage page{37, 9, true};
  const std::string in = Write("bw.tif", MakeTiff({page}));
  for (const char* compression : {"none", "rle", "g4", "g3", "jpeg", "lzw"}) {
    const std::string out = (dir_ / "bw.pdf").string(), pgm = (dir_ / "bw.pgm").string();
    ASSERT_EQ(Tool(in + " " + out + " --paper auto --compression " + compression).code, 0);
    ASSERT_EQ(Sh("mutool draw -q -r 72 -c gray -o " + pgm + " " + out).code, 0);
    std::ifstream f(pgm, std::ios::binary);
    const std::string b(std::istreambuf_iterator<char>(f), {});
    const std::string header = "P5\n37 9\n255\n";
    ASSERT_EQ(b.substr(0, header.size()), header) << compression;
    int wrong = 0;
    for (int y = 0; y < page.height; ++y)
      for (int x = 0; x < page.width; ++x) {
        const bool black = (Sample(page, y * 5 + x / 8) >> (7 - x % 8)) & 1;
        wrong += static_cast<uint8_t>(b[header.size() + y * page.width + x]) != (black ? 0 : 255);
      }
    EXPECT_EQ(wrong, 0) << compression;
  }
}

TEST_F(TPdfCli, FailuresLeaveTheTargetAlone) {
  const std::string in = Write("a.tif", MakeTiff({{8, 8, true}}));
  const std::string bad = Write("bad.tif", {'n', 'o', 't', ' ', 't', 'i', 'f', 'f'});
  const std::string out = Write("keep.pdf", {'o', 'l', 'd'});
  const struct {
    std::string args;
    int code;
  } cases[] = {
      {in + " " + (dir_ / "missing.tif").string() + " " + out, 1},
      {in + " " + bad + " " + out, 1},
      {in + " " + out + " --compression zip", 2},
      {in + " " + out + " --paper a7", 2},
      {in + " " + out + " --colour red", 2},
      {in + " " + out + " --title", 2},
      {out, 2},
  };
  for (const auto& c : cases) {
    const TResult r = Tool(c.args);
    EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.out;
    EXPECT_NE(r.out, "") << c.args;
    std::ifstream f(out, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(f), {}), "old") << c.args;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
}

}  // namespace
