#include "settings/workservicesettings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "log/logoperations.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace tarvo {
namespace {

using testing::TempDir;
using Lines = std::vector<std::string>;

DateTime Noon() {
  DateTimeParts p;
  p.year = 2026;
  p.month = 3;
  p.day = 14;
  p.hour = 12;
  return DateTime::FromParts(p);
}

class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest()
      : clock_(Noon()),
        exe_(dir_.File("app/tarvo-scale-server")),
        log_({slNumber}, clock_, Process()),
        settings_(exe_, log_, clock_) {
    settings_.IniFileName = exe_ + ".ini";
  }

  LogProcessInfo Process() const {
    LogProcessInfo p;
    p.ExePath = dir_.File("app/tarvo-scale-server");
    return p;
  }

  void WriteIni(const std::string& text) { dir_.Write("app/tarvo-scale-server.ini", text); }
  std::string ReadIni() const { return dir_.Read("app/tarvo-scale-server.ini"); }
  std::string Prog() const { return dir_.path() + "/app/"; }
  std::string LogText() const { return dir_.Read("app//Log/tarvo-scale-server.log"); }

  TempDir dir_;
  ManualClock clock_;
  std::string exe_;
  TSystemLog log_;
  MServiceSettings settings_;
};

TEST_F(SettingsTest, ConstructionValues) {
  MSettingsValues v = settings_.Snapshot();
  EXPECT_TRUE(v.EnableLogFile);
  EXPECT_EQ(5, v.MaxLogLevelEvent);
  EXPECT_FALSE(v.ReWriteLog);
  EXPECT_FALSE(v.FieldConfigError);
  EXPECT_FALSE(v.ScaleListError);
  EXPECT_EQ(0, v.SendThreadsCount);
  EXPECT_EQ("", v.QueryPath);
  EXPECT_EQ(Prog(), settings_.ProgramFolder());
  EXPECT_EQ(Prog() + kPathDelim + "Query",
            settings_.DefaultQueryPath());  // the doubled delimiter is kept
  EXPECT_EQ(Prog() + kPathDelim + "Import", settings_.DefaultImportPath());
  EXPECT_EQ(Prog() + kPathDelim + "Log", settings_.DefaultJournalsPath());
}

TEST_F(SettingsTest, MissingFileGivesDefaultsAndIsRewrittenWithAll18KeysSorted) {
  settings_.LoadSettings();
  const std::string journals = Prog() + kPathDelim + "Log";
  const std::string query = Prog() + kPathDelim + "Query";
  const std::string import = Prog() + kPathDelim + "Import";
  EXPECT_EQ(
      (Lines{"JournalsPath=" + journals, "LogFileName=tarvo-scale-server.log", "EnableLogFile=True",
             "MaxLogLevelEvent=5", "EnableQueryArchive=False", "ReWriteLog=False",
             "QueryPath=" + query, "ImportPath=" + import, "SendThreadsCount=5",
             "ImportInterval=20", "EnableJournals=True", "ImportExtraFormat=0",
             "ImportEncodingWindows=True", "ImportSimpleText=True", "ImportSimpleSeparator=,",
             "ImportFileFixField=False", "ClearDataBeforeDownload=False", "FileMask_DividerIP=#"}),
      settings_.GlobalSettingsList);
  MSettingsValues v = settings_.Snapshot();
  EXPECT_EQ(journals, v.JournalsPath);
  EXPECT_EQ(query, v.QueryPath);
  EXPECT_EQ(import, v.ImportPath);
  EXPECT_EQ(5, v.SendThreadsCount);
  EXPECT_EQ(20, v.ImportInterval);
  EXPECT_TRUE(v.EnableJournals);
  EXPECT_TRUE(v.ImportEncodingWindows);
  EXPECT_EQ(",", v.ImportSimpleSeparator);
  EXPECT_EQ("#", v.FileMask_DividerIP);
  EXPECT_TRUE(DirectoryExists(journals));
  EXPECT_TRUE(DirectoryExists(query));
  EXPECT_TRUE(DirectoryExists(import));
  EXPECT_EQ(journals + kPathDelim + "tarvo-scale-server.log", log_.FileName());
  EXPECT_EQ(5, log_.MinLevel());

  settings_.SaveSettings();
  EXPECT_EQ(
      "[GlobalSettings]\r\nClearDataBeforeDownload=False\r\nEnableJournals=True\r\n"
      "EnableLogFile=True\r\nEnableQueryArchive=False\r\nFileMask_DividerIP=#\r\n"
      "ImportEncodingWindows=True\r\nImportExtraFormat=0\r\nImportFileFixField=False\r\n"
      "ImportInterval=20\r\nImportPath=" +
          import +
          "\r\nImportSimpleSeparator=,\r\nImportSimpleText=True\r\nJournalsPath=" + journals +
          "\r\nLogFileName=tarvo-scale-server.log\r\nMaxLogLevelEvent=5\r\nQueryPath=" + query +
          "\r\nReWriteLog=False\r\nSendThreadsCount=5\r\n\r\n",
      ReadIni());
  EXPECT_EQ("ClearDataBeforeDownload=False", settings_.GlobalSettingsList.front());  // left sorted
}

TEST_F(SettingsTest, OutOfRangeCountsAndLevelsBecomeFive) {
  struct Case {
    std::string line;
    int32_t threads;
    int32_t level;
  };
  for (const Case& c : {Case{"SendThreadsCount=0", 5, 5}, Case{"SendThreadsCount=300", 5, 5},
                        Case{"SendThreadsCount=255", 255, 5}, Case{"MaxLogLevelEvent=9", 5, 5},
                        Case{"MaxLogLevelEvent=-1", 5, 5}, Case{"MaxLogLevelEvent=0", 5, 0},
                        Case{"MaxLogLevelEvent=6", 5, 6}}) {
    WriteIni("[GlobalSettings]\r\n" + c.line + "\r\n");
    settings_.LoadSettings();
    EXPECT_EQ(c.threads, settings_.SendThreadsCount) << c.line;
    EXPECT_EQ(c.level, settings_.MaxLogLevelEvent) << c.line;
    EXPECT_EQ(c.level, log_.MinLevel()) << c.line;
  }
}

TEST_F(SettingsTest, BooleansReadFromWordsInAnyCaseOrNumbers) {
  WriteIni(
      "[GlobalSettings]\r\nEnableQueryArchive=true\r\nReWriteLog=TRUE\r\nEnableJournals=0\r\n"
      "ImportEncodingWindows=fAlSe\r\nImportSimpleText=-2\r\nImportFileFixField=1\r\n"
      "ClearDataBeforeDownload=0.5\r\nImportInterval= 45\r\n");
  settings_.LoadSettings();
  MSettingsValues v = settings_.Snapshot();
  EXPECT_TRUE(v.EnableQueryArchive);
  EXPECT_TRUE(v.ReWriteLog);
  EXPECT_TRUE(log_.Options().Contains(slRewrite));
  EXPECT_FALSE(v.EnableJournals);
  EXPECT_FALSE(v.ImportEncodingWindows);
  EXPECT_TRUE(v.ImportSimpleText);
  EXPECT_TRUE(v.ImportFileFixField);
  EXPECT_TRUE(v.ClearDataBeforeDownload);
  EXPECT_EQ(45, v.ImportInterval);

  WriteIni("[GlobalSettings]\r\nReWriteLog=False\r\n");
  settings_.LoadSettings();
  EXPECT_FALSE(log_.Options().Contains(slRewrite));
}

// A key written twice counts by its first line; a save must not let a later
// line take over, whether the sort puts it first or it is written last.
TEST_F(SettingsTest, SaveKeepsTheValueInEffectOfARepeatedKey) {
  struct Case {
    std::string lines;  // the section's lines, CR LF each
    bool enable_log_file;
  };
  const Case cases[] = {
      {"enablelogfile=false\r\nEnableLogFile=True\r\n", false},  // later line sorts after
      {"EnableLogFile=True\r\nenablelogfile=False\r\n", true},   // later line sorts first
      {"EnableLogFile =True\r\nEnableLogFile=False\r\n", true},  // keys alike once trimmed
      {"EnableLogFile=False\r\nX=1\r\nENABLELOGFILE=True\r\nEnableLogFile=1\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    WriteIni("[GlobalSettings]\r\n" + c.lines);
    settings_.LoadSettings();
    ASSERT_EQ(c.enable_log_file, settings_.EnableLogFile);
    ASSERT_TRUE(settings_.SaveSettings());
    EXPECT_EQ(c.enable_log_file, settings_.ReadSettingValue("EnableLogFile", !c.enable_log_file));

    MServiceSettings reloaded(exe_, log_, clock_);
    reloaded.IniFileName = settings_.IniFileName;
    reloaded.LoadSettings();
    EXPECT_EQ(c.enable_log_file, reloaded.EnableLogFile);
    EXPECT_EQ(settings_.GlobalSettingsList.size(), reloaded.GlobalSettingsList.size());
  }
}

TEST_F(SettingsTest, BadValueStopsTheLoadAtThatKey) {
  WriteIni("[GlobalSettings]\r\nSendThreadsCount=7\r\nImportInterval=30\r\n");
  settings_.LoadSettings();
  ASSERT_EQ(7, settings_.SendThreadsCount);

  const std::string journals = dir_.File("journals");
  WriteIni("[GlobalSettings]\r\nJournalsPath=" + journals +
           "\r\nEnableLogFile=yes\r\nMaxLogLevelEvent=2\r\nSendThreadsCount=9\r\n");
  settings_.EnableLogFile = false;
  settings_.LoadSettings();
  MSettingsValues v = settings_.Snapshot();
  EXPECT_EQ(journals, v.JournalsPath);  // before the bad key: new value
  EXPECT_EQ(journals + kPathDelim + "tarvo-scale-server.log", log_.FileName());
  EXPECT_FALSE(v.EnableLogFile);     // the bad key itself
  EXPECT_EQ(5, v.MaxLogLevelEvent);  // after it: previous values
  EXPECT_EQ(5, log_.MinLevel());
  EXPECT_EQ(7, v.SendThreadsCount);
  EXPECT_EQ(30, v.ImportInterval);
  EXPECT_EQ((Lines{"JournalsPath=" + journals, "EnableLogFile=yes", "MaxLogLevelEvent=2",
                   "SendThreadsCount=9", "LogFileName=tarvo-scale-server.log"}),
            settings_.GlobalSettingsList);

  WriteIni("[GlobalSettings]\r\nImportInterval=2O\r\nEnableJournals=False\r\n");
  settings_.LoadSettings();
  EXPECT_EQ(30, settings_.ImportInterval);
  EXPECT_EQ(5, settings_.SendThreadsCount);  // read before the bad key
}

TEST_F(SettingsTest, EmptyFoldersFallBackToTheirDefaults) {
  WriteIni(
      "[GlobalSettings]\r\nJournalsPath=\r\nMaxLogLevelEvent=0\r\nQueryPath=\r\nImportPath=\r\n");
  settings_.LoadSettings();
  MSettingsValues v = settings_.Snapshot();
  EXPECT_EQ(Prog() + kPathDelim + "Log", v.JournalsPath);
  EXPECT_EQ(Prog() + kPathDelim + "Query",
            v.QueryPath);  // the query folder, never the import folder
  EXPECT_EQ(Prog() + kPathDelim + "Import", v.ImportPath);
  EXPECT_TRUE(DirectoryExists(v.QueryPath));
  EXPECT_TRUE(DirectoryExists(v.ImportPath));
  const std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("{0} Create import path ().\r\n"));
  EXPECT_NE(std::string::npos, log.find("{5} Error create import path ("));
  // The list keeps what the file says; only the record falls back.
  EXPECT_EQ("QueryPath=", settings_.GlobalSettingsList[2]);
}

TEST_F(SettingsTest, UncreatableImportPathIsReportedAndKept) {
  dir_.Write("blocker", "x");
  const std::string bad = dir_.File("blocker/import");
  WriteIni("[GlobalSettings]\r\nMaxLogLevelEvent=0\r\nImportPath=" + bad + "\r\n");
  settings_.LoadSettings();
  EXPECT_EQ(bad, settings_.ImportPath);
  EXPECT_EQ(5, settings_.SendThreadsCount);  // the load went on
  const std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("{0} Create import path (" + bad + ").\r\n"));
  EXPECT_NE(std::string::npos, log.find("{5} Error create import path ("));
}

TEST_F(SettingsTest, LogFileNameKeepsOnlyItsNamePart) {
  const std::string journals = dir_.File("journals");
  WriteIni("[GlobalSettings]\r\nJournalsPath=" + journals +
           "\r\nLogFileName=/other/place/svc.log\r\n");
  settings_.LoadSettings();
  EXPECT_EQ("svc.log", settings_.LogFileName);
  EXPECT_EQ(journals + kPathDelim + "svc.log", log_.FileName());
  EXPECT_TRUE(DirectoryExists(journals));
  EXPECT_EQ("LogFileName=/other/place/svc.log", settings_.GlobalSettingsList[1]);
}

TEST_F(SettingsTest, ScaleListKeepsValidAddressesInFileOrder) {
  WriteIni(
      "[ListScales]\r\nScale1=10.0.0.5\r\nScale2=0.1.2.3\r\nAny=10.0.0.0\r\nX= \t10.0.0.6 \r\n"
      "Scale5=not an address\r\n");
  settings_.ScaleListError = true;
  settings_.LoadScaleList();
  std::vector<MScaleState> scales = settings_.ScaleListCopy();
  ASSERT_EQ(2u, scales.size());
  EXPECT_EQ("10.0.0.5", scales[0].IP);
  EXPECT_EQ("10.0.0.6", scales[1].IP);
  EXPECT_EQ(-1, scales[0].State);
  EXPECT_EQ(-1, scales[0].Operation);
  EXPECT_EQ(Noon(), scales[0].StateTime);
  EXPECT_FALSE(settings_.ScaleListError);
}

TEST_F(SettingsTest, ScaleListErrorOnlyWhenTheFileCannotBeRead) {
  settings_.LoadScaleList();  // no file: an empty list is no error here
  EXPECT_TRUE(settings_.ScaleList.empty());
  EXPECT_FALSE(settings_.ScaleListError);

  WriteIni("[ListScales]\r\nScale1=10.0.0.5\r\n");
  settings_.LoadScaleList();
  ASSERT_EQ(1u, settings_.ScaleList.size());

  settings_.IniFileName = dir_.File("app/a-folder.ini");
  ForceDirectories(settings_.IniFileName);
  settings_.LoadScaleList();
  EXPECT_TRUE(settings_.ScaleListError);
  EXPECT_EQ(1u, settings_.ScaleList.size());  // left as it was
}

TEST_F(SettingsTest, TenOrMoreScalesComeBackInTextOrderOfTheirKeys) {
  std::vector<MScaleState> scales;
  for (int i = 1; i <= 12; ++i) {
    MScaleState s;
    s.IP = "10.0.0." + std::to_string(i);
    scales.push_back(s);
  }
  settings_.ReplaceScaleList(scales);
  settings_.SaveScaleList();
  EXPECT_EQ(0u, ReadIni().find("[ListScales]\r\nScale1=10.0.0.1\r\nScale10=10.0.0.10\r\n"));
  settings_.LoadScaleList();
  Lines ips;
  for (const MScaleState& s : settings_.ScaleListCopy())
    ips.push_back(s.IP);
  EXPECT_EQ((Lines{"10.0.0.1", "10.0.0.10", "10.0.0.11", "10.0.0.12", "10.0.0.2", "10.0.0.3",
                   "10.0.0.4", "10.0.0.5", "10.0.0.6", "10.0.0.7", "10.0.0.8", "10.0.0.9"}),
            ips);
}

TEST_F(SettingsTest, FieldConfigErrorRequiresNumberAndNamePlaced) {
  struct Case {
    std::string fix;
    std::string fields;
    bool error;
  };
  for (const Case& c : {
           Case{"False", "FieldNumber_Pos=1\r\nFieldName_Pos=0\r\n", true},
           Case{"False", "FieldNumber_Pos=1\r\nFieldName_Pos=2\r\n", false},
           Case{"False", "FieldNumber_Pos=x\r\nFieldName_Pos=2\r\n", true},
           Case{"True", "FieldNumber_Pos=1\r\nFieldName_Pos=2\r\n", true},
           Case{"True",
                "FieldNumber_PosHome=1\r\nFieldNumber_PosEnd=6\r\nFieldName_PosHome=7\r\n"
                "FieldName_PosEnd=40\r\n",
                false},
           Case{"True", "FieldNumber_PosHome=1\r\nFieldNumber_PosEnd=6\r\nFieldName_PosHome=7\r\n",
                true},
       }) {
    WriteIni("[GlobalSettings]\r\nImportFileFixField=" + c.fix + "\r\n[FieldsConfig]\r\n" +
             c.fields);
    settings_.LoadSettings();
    settings_.LoadFieldsConfig();
    EXPECT_EQ(c.error, settings_.FieldConfigError) << c.fix << " " << c.fields;
  }
}

TEST_F(SettingsTest, MissingFileLeavesFieldsUnplaced) {
  settings_.LoadSettings();
  settings_.LoadFieldsConfig();
  EXPECT_TRUE(settings_.FieldConfigError);
  EXPECT_EQ(0, settings_.FieldsConfig[0].Pos);
}

TEST_F(SettingsTest, FieldsConfigReadsAndSavesAll128KeysInEntryOrder) {
  WriteIni(
      "[FieldsConfig]\r\nFIELDNUMBER_POS=1\r\nFieldName_Pos=2\r\nFieldPrice_DefVal=9.99\r\n"
      "FieldMessageString16_PosEnd=80\r\nFieldTare_Pos=abc\r\n\r\n[Keep]\r\nk=v\r\n");
  settings_.LoadFieldsConfig();
  EXPECT_FALSE(settings_.FieldConfigError);
  EXPECT_EQ(1, settings_.FieldsConfig[kFieldNumber].Pos);
  EXPECT_EQ("9.99", settings_.FieldsConfig[kFieldPrice].DefVal);
  EXPECT_EQ(80, settings_.FieldsConfig[kFieldMessageString1 + 15].PosEnd);
  EXPECT_EQ(0, settings_.FieldsConfig[kFieldTare].Pos);

  settings_.SaveFieldsConfig();
  const std::string text = ReadIni();
  EXPECT_EQ(0u, text.find("[Keep]\r\nk=v\r\n\r\n[FieldsConfig]\r\n"
                          "FieldNumber_DefVal=\r\nFieldNumber_Pos=1\r\nFieldNumber_PosHome=0\r\n"
                          "FieldNumber_PosEnd=0\r\nFieldName_DefVal=\r\nFieldName_Pos=2\r\n"));
  EXPECT_NE(std::string::npos, text.find("FieldShlefTime_DefVal=\r\nFieldShlefTime_Pos=0\r\n"));
  EXPECT_NE(std::string::npos, text.find("FieldMessageString16_PosEnd=80\r\n\r\n"));
  size_t keys = 0;
  for (size_t at = text.find("\r\nField"); at != std::string::npos;
       at = text.find("\r\nField", at + 1)) {
    ++keys;
  }
  EXPECT_EQ(128u, keys);
}

TEST_F(SettingsTest, UnknownKeysAndSectionsSurviveASaveWithNoTemporaryFilesLeft) {
  WriteIni(
      "[Other]\r\n; operator's note\r\nx=1\r\n\r\n[GlobalSettings]\r\nZetaCustom=keep\r\n"
      "SendThreadsCount=3\r\n\r\n[ListScales]\r\nScale1=10.0.0.1\r\n");
  settings_.LoadSettings();
  EXPECT_EQ(3, settings_.SendThreadsCount);
  settings_.SaveSettings();
  const std::string text = ReadIni();
  EXPECT_EQ(0u, text.find("[Other]\r\n; operator's note\r\nx=1\r\n\r\n[ListScales]\r\n"
                          "Scale1=10.0.0.1\r\n\r\n[GlobalSettings]\r\nClearDataBeforeDownload="));
  EXPECT_NE(std::string::npos, text.find("SendThreadsCount=3\r\nZetaCustom=keep\r\n\r\n"));

  Lines names;
  for (const FileEntry& e : ListFolder(dir_.File("app")))
    names.push_back(e.Name);
  EXPECT_EQ((Lines{"Import", "Log", "Query", "tarvo-scale-server.ini"}), names);
}

TEST_F(SettingsTest, UnreadableFileIsNeitherLoadedNorOverwritten) {
  settings_.IniFileName = dir_.File("app/folder.ini");
  ForceDirectories(settings_.IniFileName);
  settings_.LoadSettings();
  EXPECT_TRUE(settings_.GlobalSettingsList.empty());
  EXPECT_EQ(0, settings_.SendThreadsCount);
  settings_.GlobalSettingsList = {"A=1"};
  settings_.SaveSettings();
  settings_.SaveFieldsConfig();
  EXPECT_TRUE(DirectoryExists(settings_.IniFileName));
  std::vector<std::string> lines = {"A=1"};
  EXPECT_FALSE(WriteIniSection(settings_.IniFileName, "S", lines));
}

TEST_F(SettingsTest, SaveMessagesGoToTheLogFile) {
  WriteIni("[GlobalSettings]\r\nMaxLogLevelEvent=0\r\n");
  settings_.LoadSettings();
  settings_.SaveSettings();
  settings_.SaveScaleList();
  settings_.SaveFieldsConfig();
  const std::string log = LogText();
  const size_t a = log.find("{1} Service: Save settings.\r\n");
  const size_t b = log.find("{1} Service: Save list scales.\r\n");
  const size_t c = log.find("{1} Service: Save field config.\r\n");
  ASSERT_NE(std::string::npos, a);
  ASSERT_NE(std::string::npos, b);
  ASSERT_NE(std::string::npos, c);
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
}

TEST_F(SettingsTest, ChangeGlobalSettingSetsOrRemovesAnExistingLine) {
  settings_.GlobalSettingsList = {"ImportInterval=20", "QueryPath=/q"};
  EXPECT_FALSE(settings_.ChangeGlobalSetting("Missing", "1"));
  EXPECT_TRUE(settings_.ChangeGlobalSetting("importinterval", "30"));
  EXPECT_TRUE(settings_.ChangeGlobalSetting("QueryPath", ""));
  EXPECT_EQ((Lines{"importinterval=30"}), settings_.GlobalSettingsCopy());
}

TEST_F(SettingsTest, SnapshotsStayConsistentWhileLoadsRun) {
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done.load()) {
      MSettingsValues v = settings_.Snapshot();
      if (v.ImportInterval != v.SendThreadsCount * 10)
        ++torn;
      settings_.ScaleListCopy();
    }
  });
  for (int i = 0; i < 60; ++i) {
    const int threads = i % 2 == 0 ? 7 : 9;
    WriteIni("[GlobalSettings]\r\nSendThreadsCount=" + std::to_string(threads) +
             "\r\nImportInterval=" + std::to_string(threads * 10) + "\r\n");
    settings_.LoadSettings();
    settings_.LoadScaleList();
  }
  done = true;
  reader.join();
  EXPECT_EQ(0, torn.load());
}

TEST(ReadSettingValueTest, TypedLookupAddsMissingKeysWithTheirDefaults) {
  Lines list = {"Text=abc", "Number=42", "Flag=true", "Bad=x1", "Spaced=a b=c"};
  EXPECT_EQ("abc", ReadSettingValue(list, "TEXT", "def"));
  EXPECT_EQ(42, ReadSettingValue(list, "number", 0));
  EXPECT_TRUE(ReadSettingValue(list, "flag", false));
  EXPECT_EQ("a b=c", ReadSettingValue(list, "Spaced", std::string()));
  EXPECT_THROW(ReadSettingValue(list, "Bad", 1), SettingValueError);
  EXPECT_THROW(ReadSettingValue(list, "Bad", true), SettingValueError);
  EXPECT_EQ(5u, list.size());

  EXPECT_EQ(",", ReadSettingValue(list, "Sep", ","));
  EXPECT_EQ(-3, ReadSettingValue(list, "Neg", -3));
  EXPECT_FALSE(ReadSettingValue(list, "Off", false));
  EXPECT_TRUE(ReadSettingValue(list, "On", true));
  EXPECT_EQ((Lines{"Text=abc", "Number=42", "Flag=true", "Bad=x1", "Spaced=a b=c", "Sep=,",
                   "Neg=-3", "Off=False", "On=True"}),
            list);
}

TEST(ReadSettingValueTest, Conversions) {
  int32_t n = 0;
  EXPECT_TRUE(TryParseSettingInt("2147483647", &n));
  EXPECT_EQ(2147483647, n);
  EXPECT_TRUE(TryParseSettingInt("-2147483648", &n));
  EXPECT_FALSE(TryParseSettingInt("2147483648", &n));
  EXPECT_FALSE(TryParseSettingInt("", &n));
  EXPECT_FALSE(TryParseSettingInt("-", &n));
  EXPECT_FALSE(TryParseSettingInt("1.0", &n));
  EXPECT_FALSE(TryParseSettingInt("0x10", &n));
  bool b = false;
  EXPECT_FALSE(TryParseSettingBool("yes", &b));
  EXPECT_FALSE(TryParseSettingBool("", &b));
  EXPECT_FALSE(TryParseSettingBool("inf", &b));
  EXPECT_TRUE(TryParseSettingBool("0", &b));
  EXPECT_FALSE(b);
  EXPECT_TRUE(TryParseSettingBool("TrUe", &b));
  EXPECT_TRUE(b);
}

}  // namespace
}  // namespace tarvo
