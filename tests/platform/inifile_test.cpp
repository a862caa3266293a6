// Folivo — multi-page TIFF editor.
// Settings files: Windows profile semantics, encodings, atomic writes.
#include "platform/inifile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>
#include <fstream>
#include <sstream>

#include "platform/colortext.h"
#include "platform/settingspath.h"

namespace folivo {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("folivo-ini-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "folivo.ini").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  void WriteRaw(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
  std::string ReadRaw() {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  fs::path dir_;
  std::string path_;
};

TEST_F(IniFileTest, MissingFileReadsDefaultsAndWritesNothing) {
  {
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("Parameter", "LastOpen", "x"), "x");
    EXPECT_EQ(ini.ReadInteger("Parameter", "UndoCount", 5), 5);
    EXPECT_TRUE(ini.ReadBool("Parameter", "QuitConfirm", true));
  }
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(IniFileTest, SectionsAndKeysCompareWithoutCase) {
  WriteRaw("[parameter]\r\nundocount = 7 \r\n[Other]\r\nUndoCount=9\r\n");
  TIniFile ini(path_);
  EXPECT_EQ(ini.ReadInteger("Parameter", "UndoCount", 5), 7);
  EXPECT_EQ(ini.ReadInteger("OTHER", "undocount", 5), 9);
}

TEST_F(IniFileTest, IntegerAndBooleanRules) {
  WriteRaw(
      "[P]\nDec=42\nNeg=-3\nHex=$1F\nBad=12abc\nEmpty=\nFloat=1.5\nBoolTwo=2\nBoolZero=0\n"
      "Big=99999999999\nHexAll=$FFFFFFFF\n");
  TIniFile ini(path_);
  struct {
    const char* key;
    int expected;
  } cases[] = {{"Dec", 42}, {"Neg", -3}, {"Hex", 31}, {"Bad", -1}, {"Empty", -1},
               {"Float", -1}, {"Big", -1}, {"HexAll", -1}, {"Missing", -1}};
  for (const auto& c : cases) EXPECT_EQ(ini.ReadInteger("P", c.key, -1), c.expected) << c.key;
  EXPECT_TRUE(ini.ReadBool("P", "BoolTwo", false));
  EXPECT_FALSE(ini.ReadBool("P", "BoolZero", true));
  EXPECT_TRUE(ini.ReadBool("P", "Bad", true));  // not an integer: the default
}

TEST_F(IniFileTest, WritesKeepOtherContentAndRoundTrip) {
  WriteRaw("; comment\n[HistoryMenu]\nFile0=/a.tif\n\n[Parameter]\nQuitConfirm=0\n");
  {
    TIniFile ini(path_);
    ini.WriteString("Parameter", "LastOpen", "/scan/页面.tif");
    ini.WriteInteger("parameter", "QUITCONFIRM", 1);
    ini.WriteBool("PDF", "AutoRotate", true);
  }
  std::string text = ReadRaw();
  EXPECT_NE(text.find("; comment"), std::string::npos);
  EXPECT_NE(text.find("File0=/a.tif"), std::string::npos);
  TIniFile again(path_);
  EXPECT_EQ(again.ReadString("Parameter", "LastOpen", ""), "/scan/页面.tif");
  EXPECT_EQ(again.ReadInteger("Parameter", "QuitConfirm", 0), 1);
  EXPECT_TRUE(again.ReadBool("PDF", "AutoRotate", false));
  EXPECT_EQ(again.ReadSection("Parameter"), (std::vector<std::string>{"QuitConfirm", "LastOpen"}));
}

TEST_F(IniFileTest, Gb18030FileFromWindowsReadsAsChinese) {
  // "LastOpen=D:\扫描.tif" in GB18030 (扫 = C9 A8, 描 = C3 E8).
  WriteRaw("[Parameter]\r\nLastOpen=D:\\\xC9\xA8\xC3\xE8.tif\r\n");
  TIniFile ini(path_);
  EXPECT_EQ(ini.ReadString("Parameter", "LastOpen", ""), "D:\\扫描.tif");
}

TEST_F(IniFileTest, Utf8ByteOrderMarkIsSkipped) {
  WriteRaw("\xEF\xBB\xBF[Parameter]\nUndoCount=3\n");
  TIniFile ini(path_);
  EXPECT_EQ(ini.ReadInteger("Parameter", "UndoCount", 5), 3);
}

TEST_F(IniFileTest, FailedWriteKeepsTheOldFileAndLeavesNoLitter) {
  WriteRaw("[Parameter]\nUndoCount=3\n");
  // A file-size limit makes the write fail even for root, like a full disk.
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 100;
  bool threw = false;
  setrlimit(RLIMIT_FSIZE, &small);
  {
    TIniFile ini(path_);
    ini.WriteString("Parameter", "LastOpen", std::string(1000, 'x'));
    try {
      ini.Flush();
    } catch (const std::exception&) {
      threw = true;
    }
  }  // the destructor fails again, silently
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_TRUE(threw);
  EXPECT_EQ(ReadRaw(), "[Parameter]\nUndoCount=3\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST(ColorTextTest, NamesBothWaysAndHexForOthers) {
  struct {
    uint32_t color;
    const char* text;
  } cases[] = {{0x000000, "clBlack"},  {0x0000FF, "clRed"},    {0xA4A0A0, "clMedGray"},
               {0xF0CAA6, "clSkyBlue"}, {0xC0DCC0, "clMoneyGreen"}, {0xF0FBFF, "clCream"},
               {0xFFFFFF, "clWhite"},  {0x123456, "$00123456"}};
  for (const auto& c : cases) {
    EXPECT_EQ(ColorToText(c.color), c.text);
    uint32_t back = 1;
    ASSERT_TRUE(TextToColor(c.text, back)) << c.text;
    EXPECT_EQ(back, c.color) << c.text;
  }
  uint32_t v = 7;
  EXPECT_TRUE(TextToColor("16711680", v));
  EXPECT_EQ(v, 0xFF0000u);
  EXPECT_TRUE(TextToColor("clmedgray", v));
  EXPECT_EQ(v, 0xA4A0A0u);
  v = 7;
  EXPECT_FALSE(TextToColor("pink", v));
  EXPECT_FALSE(TextToColor("", v));
  EXPECT_EQ(v, 7u);
}

TEST(SettingsPathTest, EnvironmentOverridesAndNameFollowsProgram) {
  fs::path dir = fs::temp_directory_path() / ("folivo-cfg-" + std::to_string(::getpid()));
  setenv("FOLIVO_CONFIG_DIR", dir.c_str(), 1);
  EXPECT_EQ(SettingsFilePath("/opt/x/bin/folivo"), dir.string() + "/folivo.ini");
  EXPECT_TRUE(fs::is_directory(dir));
  unsetenv("FOLIVO_CONFIG_DIR");
  // An unwritable program folder sends settings to the XDG folder.
  setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  if (::geteuid() != 0) {
    EXPECT_EQ(SettingsFilePath("/usr/bin/folivo"), dir.string() + "/folivo/folivo.ini");
  }
  EXPECT_EQ(SettingsFilePath(dir.string() + "/folivo"), dir.string() + "/folivo.ini");
  unsetenv("XDG_CONFIG_HOME");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace folivo
