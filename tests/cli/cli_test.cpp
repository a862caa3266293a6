// Folivo — multi-page TIFF editor.
// folivo-tool as a user runs it: output lines, files written, exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct TRun {
  int code;
  std::string out, err;
};

TRun Tool(const std::string& args, const fs::path& dir) {
  const std::string out = (dir / "stdout.txt").string(), err = (dir / "stderr.txt").string();
  const std::string cmd = std::string(FOLIVO_TOOL) + " " + args + " >" + out + " 2>" + err;
  const int status = std::system(cmd.c_str());
  auto slurp = [](const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
}

// A little-endian uncompressed TIFF: pages of (width, height, bits, samples,
// photometric), rows filled by pattern.
struct TPage {
  uint16_t width, height, bits, samples, photometric;
};

void Put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(v & 0xFF);
  b.push_back(v >> 8);
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> PageData(const TPage& p) {
  const size_t rowBytes = (size_t{p.width} * p.samples * p.bits + 7) / 8;
  std::vector<uint8_t> data(rowBytes * p.height);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / rowBytes);
  return data;
}

std::vector<uint8_t> MakeTiff(const std::vector<TPage>& pages) {
  std::vector<uint8_t> b = {'I', 'I', 42, 0, 0, 0, 0, 0};
  size_t link = 4;
  for (const TPage& p : pages) {
    const std::vector<uint8_t> data = PageData(p);
    const uint32_t dataAt = static_cast<uint32_t>(b.size());
    b.insert(b.end(), data.begin(), data.end());
    if (b.size() & 1) b.push_back(0);
    const uint32_t resAt = static_cast<uint32_t>(b.size());
    Put32(b, 200);
    Put32(b, 1);
    const uint32_t ifd = static_cast<uint32_t>(b.size());
    for (int i = 0; i < 4; ++i) b[link + i] = static_cast<uint8_t>(ifd >> (8 * i));
    struct E {
      uint16_t tag, type;
      uint32_t count, value;
    };
    const E entries[] = {{256, 3, 1, p.width},
                         {257, 3, 1, p.height},
                         {258, 3, 1, p.bits},
                         {259, 3, 1, 1},
                         {262, 3, 1, p.photometric},
                         {273, 4, 1, dataAt},
                         {277, 3, 1, p.samples},
                         {278, 3, 1, p.height},
                         {279, 4, 1, static_cast<uint32_t>(data.size())},
                         {282, 5, 1, resAt},
                         {283, 5, 1, resAt}};
    Put16(b, static_cast<uint16_t>(std::size(entries)));
    for (const E& e : entries) {
      Put16(b, e.tag);
      Put16(b, e.type);
      Put32(b, e.count);
      if (e.type == 3) {
        Put16(b, static_cast<uint16_t>(e.value));
        Put16(b, 0);
      } else {
        Put32(b, e.value);
      }
    }
    link = b.size();
    Put32(b, 0);
  }
  return b;
}

class TCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("folivo_cli_" + std::to_string(getpid()) + "_" +
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
  std::vector<uint8_t> Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }
  fs::path dir_;
};

const std::vector<TPage> kThreePages = {{10, 4, 1, 1, 0}, {5, 3, 8, 3, 2}, {7, 2, 8, 1, 1}};

TEST_F(TCli, InfoListsEveryPage) {
  const std::string f = Write("doc.tif", MakeTiff(kThreePages));
  const TRun r = Tool("info " + f, dir_);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "pages=3\n"
            "page=0 width=10 height=4 bits=1 samples=1 photometric=0 compression=\"UNCOMPRESSED\" "
            "dpix=200 dpiy=200\n"
            "page=1 width=5 height=3 bits=8 samples=3 photometric=2 compression=\"UNCOMPRESSED\" "
            "dpix=200 dpiy=200\n"
            "page=2 width=7 height=2 bits=8 samples=1 photometric=1 compression=\"UNCOMPRESSED\" "
            "dpix=200 dpiy=200\n");
}

TEST_F(TCli, CountPrintsPerFileAndTotal) {
  const std::string a = Write("a.tif", MakeTiff(kThreePages));
  const std::string b = Write("b.tif", MakeTiff({kThreePages[1]}));
  const std::string c = Write("c.txt", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r'});
  const TRun r = Tool("count " + a + " " + b + " " + c, dir_);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "3\t" + a + "\n1\t" + b + "\n0\t" + c + "\ntotal\t4\n");
}

TEST_F(TCli, SplitWritesOneFilePerPageThatRendersTheSame) {
  const std::string f = Write("scan.tif", MakeTiff(kThreePages));
  fs::create_directories(dir_ / "out");
  const TRun r = Tool("split " + f + " " + (dir_ / "out").string(), dir_);
  ASSERT_EQ(r.code, 0) << r.err;
  std::string expected;
  for (int i = 1; i <= 3; ++i)
    expected += (dir_ / "out" / ("scan_000" + std::to_string(i) + ".tif")).string() + "\n";
  EXPECT_EQ(r.out, expected);
  for (int i = 0; i < 3; ++i) {
    const std::string part =
        (dir_ / "out" / ("scan_000" + std::to_string(i + 1) + ".tif")).string();
    ASSERT_EQ(Tool("render " + part + " 0 " + (dir_ / "a.pnm").string(), dir_).code, 0);
    ASSERT_EQ(
        Tool("render " + f + " " + std::to_string(i) + " " + (dir_ / "b.pnm").string(), dir_).code,
        0);
    EXPECT_EQ(Read(dir_ / "a.pnm"), Read(dir_ / "b.pnm")) << "page " << i;
  }
}

TEST_F(TCli, RenderWritesPbmAndPpm) {
  const std::string f = Write("doc.tif", MakeTiff(kThreePages));
  ASSERT_EQ(Tool("render " + f + " 0 " + (dir_ / "p.pbm").string(), dir_).code, 0);
  // WhiteIsZero data: a 1 bit in the file is black, as in PBM; padding bits are 0.
  std::vector<uint8_t> pbm = Read(dir_ / "p.pbm");
  const std::vector<uint8_t> data = PageData(kThreePages[0]);
  std::string header = "P4\n10 4\n";
  ASSERT_EQ(std::string(pbm.begin(), pbm.begin() + header.size()), header);
  for (size_t i = 0; i < data.size(); ++i)
    EXPECT_EQ(pbm[header.size() + i], (i % 2) ? (data[i] & 0xC0) : data[i]) << i;

  ASSERT_EQ(Tool("render " + f + " 1 " + (dir_ / "p.ppm").string(), dir_).code, 0);
  std::vector<uint8_t> ppm = Read(dir_ / "p.ppm");
  header = "P6\n5 3\n255\n";
  ASSERT_EQ(std::string(ppm.begin(), ppm.begin() + header.size()), header);
  EXPECT_EQ(std::vector<uint8_t>(ppm.begin() + header.size(), ppm.end()), PageData(kThreePages[1]));

  // Gray becomes equal red, green and blue.
  ASSERT_EQ(Tool("render " + f + " 2 " + (dir_ / "g.ppm").string(), dir_).code, 0);
  ppm = Read(dir_ / "g.ppm");
  const std::vector<uint8_t> gray = PageData(kThreePages[2]);
  const size_t h = std::string("P6\n7 2\n255\n").size();
  for (size_t i = 0; i < gray.size(); ++i)
    for (int k = 0; k < 3; ++k) ASSERT_EQ(ppm[h + 3 * i + k], gray[i]);
}

TEST_F(TCli, FailuresAndUsage) {
  const std::string f = Write("doc.tif", MakeTiff(kThreePages));
  std::vector<uint8_t> cut = MakeTiff(kThreePages);
  cut[3] = 42;
  cut[0] = cut[1] = 'X';
  const std::string bad = Write("bad.tif", cut);
  struct TCase {
    std::string args;
    int code;
  };
  const TCase cases[] = {
      {"", 2},
      {"frobnicate x", 2},
      {"info", 2},
      {"info a b", 2},
      {"render " + f + " 1", 2},
      {"render " + f + " one out.pnm", 2},
      {"render " + f + " 3 " + (dir_ / "o.pnm").string(), 1},
      {"render " + bad + " 0 " + (dir_ / "o.pnm").string(), 1},
      {"info " + bad, 1},
      {"info " + (dir_ / "missing.tif").string(), 1},
      {"split " + f + " " + (dir_ / "nowhere").string(), 1},
  };
  for (const TCase& c : cases) {
    const TRun r = Tool(c.args, dir_);
    EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.err;
    if (c.code == 1) {
      EXPECT_EQ(r.err.rfind("error: ", 0), 0u) << c.args << ": " << r.err;
    }
  }
}

TEST_F(TCli, ConvertWritesEveryPageOfEveryInputWithTheChosenCompression) {
  const std::string a = Write("a.tif", MakeTiff(kThreePages));
  const std::string b = Write("b.tif", MakeTiff({kThreePages[1]}));
  // Lossless compressions keep every page's pixels; the pages keep their depth.
  for (const char* compression : {"none", "lzw", "packbits", "zip", "deflate"}) {
    SCOPED_TRACE(compression);
    const std::string out = (dir_ / "out.tif").string();
    const TRun r = Tool(
        "convert " + a + " " + b + " " + out + " --compression " + compression + " --zip-level 2",
        dir_);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, out + ": 4 pages\n");
    const TRun info = Tool("info " + out, dir_);
    ASSERT_EQ(info.code, 0);
    EXPECT_EQ(info.out.substr(0, 8), "pages=4\n");
    EXPECT_NE(info.out.find("page=3 width=5 height=3 bits=8 samples=3 photometric=2"),
              std::string::npos)
        << info.out;
    const std::string sources[] = {a, a, a, b};
    const int indexes[] = {0, 1, 2, 0};
    for (int i = 0; i < 4; ++i) {
      ASSERT_EQ(
          Tool("render " + out + " " + std::to_string(i) + " " + (dir_ / "x.pnm").string(), dir_)
              .code,
          0);
      ASSERT_EQ(Tool("render " + sources[i] + " " + std::to_string(indexes[i]) + " " +
                         (dir_ / "y.pnm").string(),
                     dir_)
                    .code,
                0);
      EXPECT_EQ(Read(dir_ / "x.pnm"), Read(dir_ / "y.pnm")) << "page " << i;
    }
  }
  // --depth 1 with G4 makes every page a fax page that libtiff's tools accept.
  const std::string fax = (dir_ / "out.g3f").string();
  ASSERT_EQ(Tool("convert " + a + " " + fax + " --depth 1 --compression g4", dir_).code, 0);
  const TRun info = Tool("info " + fax, dir_);
  for (int i = 0; i < 3; ++i)
    EXPECT_NE(info.out.find("page=" + std::to_string(i) +
                            " width=" + std::to_string(kThreePages[i].width) +
                            " height=" + std::to_string(kThreePages[i].height) +
                            " bits=1 samples=1 photometric=0"),
              std::string::npos)
        << info.out;
  EXPECT_EQ(
      std::system(("tiffinfo -D " + fax + " >/dev/null 2>" + (dir_ / "e.txt").string()).c_str()),
      0);
  EXPECT_TRUE(Read(dir_ / "e.txt").empty());
}

TEST_F(TCli, ConvertFailuresLeaveTheOutputAlone) {
  const std::string a = Write("a.tif", MakeTiff(kThreePages));
  const std::string text = Write("notes.txt", {'h', 'e', 'l', 'l', 'o'});
  const std::string out = Write("out.tif", {'o', 'l', 'd'});
  struct TCase {
    std::string args;
    int code;
  };
  const TCase cases[] = {
      {"convert " + a, 2},
      {"convert " + a + " " + (dir_ / "out.png").string(), 2},
      {"convert " + a + " " + out + " --compression lzma", 2},
      {"convert " + a + " " + out + " --depth 4", 2},
      {"convert " + a + " " + out + " --jpeg-quality 0", 2},
      {"convert " + a + " " + out + " --zip-level 3", 2},
      {"convert " + a + " " + out + " --depth", 2},
      {"convert " + a + " " + text + " " + out, 1},
      {"convert " + (dir_ / "missing.tif").string() + " " + out, 1},
  };
  for (const TCase& c : cases) {
    const TRun r = Tool(c.args, dir_);
    EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.err;
    if (c.code == 1) {
      EXPECT_EQ(r.err.rfind("error: ", 0), 0u) << c.args << ": " << r.err;
    }
    EXPECT_EQ(Read(dir_ / "out.tif"), (std::vector<uint8_t>{'o', 'l', 'd'})) << c.args;
  }
  EXPECT_NE(Tool("convert " + a + " " + text + " " + out, dir_).err.find("not a TIFF file"),
            std::string::npos);
}

}  // namespace
