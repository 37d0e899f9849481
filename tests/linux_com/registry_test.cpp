#include "linux/com/registry_model.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tarvona::linux_com {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(RegistryTextTest, WritesTheExportFormatAndReadsItBack) {
  MemoryRegistry registry;
  ASSERT_EQ(registry.CreateKey("CLSID\\{1}\\InprocServer32"), ERROR_SUCCESS);
  ASSERT_EQ(registry.SetValue("CLSID\\{1}\\InprocServer32", "", "C:\\path \"quoted\""),
            ERROR_SUCCESS);
  ASSERT_EQ(registry.SetValue("CLSID\\{1}\\InprocServer32", "ThreadingModel", "Apartment"),
            ERROR_SUCCESS);
  ASSERT_EQ(registry.CreateKey("A.B"), ERROR_SUCCESS);
  ASSERT_EQ(registry.SetValue("A.B", "", ""), ERROR_SUCCESS);
  const std::string text = registry.ToText();
  EXPECT_EQ(text,
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\CLSID]\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{1}]\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{1}\\InprocServer32]\n"
            "@=\"C:\\\\path \\\"quoted\\\"\"\n"
            "\"ThreadingModel\"=\"Apartment\"\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\A.B]\n"
            "@=\"\"\n"
            "\n");
  auto parsed = MemoryRegistry::FromText(text);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->ToText(), text);
  std::string data;
  ASSERT_EQ(parsed->QueryValue("CLSID\\{1}\\InprocServer32", "", &data), ERROR_SUCCESS);
  EXPECT_EQ(data, "C:\\path \"quoted\"");
}

TEST(RegistryTextTest, ReadsCrlfAndRefusesWhatItCannotHold) {
  auto crlf = MemoryRegistry::FromText(
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\K]\r\n\"v\"=\"1\"\r\n");
  ASSERT_TRUE(crlf.has_value());
  std::string data;
  EXPECT_EQ(crlf->QueryValue("K", "v", &data), ERROR_SUCCESS);
  EXPECT_EQ(data, "1");

  const std::string header = "Windows Registry Editor Version 5.00\n\n";
  for (const std::string& bad : {
           std::string("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\K]\n"),
           header + "@=\"value before any key\"\n",
           header + "[HKEY_LOCAL_MACHINE\\K]\n",
           header + "[HKEY_CLASSES_ROOT\\K]\n\"n\"=dword:00000001\n",
           header + "[HKEY_CLASSES_ROOT\\K]\n@=\"bad \\escape\"\n",
           header + "[HKEY_CLASSES_ROOT\\K]\n@=\"unterminated\n",
           header + "[HKEY_CLASSES_ROOT\\K\\\\L]\n",
       }) {
    EXPECT_FALSE(MemoryRegistry::FromText(bad).has_value()) << bad;
  }

  MemoryRegistry registry;
  ASSERT_EQ(registry.CreateKey("K"), ERROR_SUCCESS);
  EXPECT_EQ(registry.SetValue("K", "", "two\nlines"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(registry.SetValue("Missing", "", "x"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(registry.CreateKey("K\\\\L"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(registry.CreateKey(""), ERROR_INVALID_PARAMETER);
}

TEST(RegistryTest, KeysAndValueNamesIgnoreCaseAndKeepTheirFirstSpelling) {
  MemoryRegistry registry;
  ASSERT_EQ(registry.CreateKey("CLSID\\{AbC}\\InprocServer32"), ERROR_SUCCESS);
  ASSERT_EQ(registry.SetValue("clsid\\{ABC}\\inprocserver32", "ThreadingModel", "Both"),
            ERROR_SUCCESS);
  ASSERT_EQ(registry.SetValue("CLSID\\{abc}\\InprocServer32", "threadingmodel", "Apartment"),
            ERROR_SUCCESS);
  ASSERT_EQ(registry.CreateKey("Clsid\\{ABC}\\Other"), ERROR_SUCCESS);

  std::string data;
  EXPECT_EQ(registry.QueryValue("CLSID\\{ABC}\\INPROCSERVER32", "THREADINGMODEL", &data),
            ERROR_SUCCESS);
  EXPECT_EQ(data, "Apartment");
  std::vector<std::string> names;
  ASSERT_EQ(registry.EnumKeys("CLSID\\{abc}", &names), ERROR_SUCCESS);
  EXPECT_EQ(names, (std::vector<std::string>{"InprocServer32", "Other"}));
  EXPECT_NE(registry.ToText().find("[HKEY_CLASSES_ROOT\\CLSID\\{AbC}\\InprocServer32]\n"
                                   "\"ThreadingModel\"=\"Apartment\"\n"),
            std::string::npos);

  EXPECT_EQ(registry.DeleteTree("clsid\\{ABC}"), ERROR_SUCCESS);
  EXPECT_EQ(registry.KeyExists("CLSID\\{AbC}\\Other"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(registry.KeyExists("CLSID"), ERROR_SUCCESS);
  EXPECT_EQ(registry.DeleteTree("CLSID\\{ABC}"), ERROR_FILE_NOT_FOUND);
}

class FileRegistryTest : public ::testing::Test {
 protected:
  FileRegistryTest() {
    char folder[] = "/tmp/tarvona-registry-XXXXXX";
    folder_ = mkdtemp(folder);
  }
  ~FileRegistryTest() override { std::filesystem::remove_all(folder_); }
  std::string folder_;
};

TEST_F(FileRegistryTest, IsFoundUnderTheUsersDataFolder) {
  const char* saved_home = getenv("HOME");
  const std::string home = saved_home != nullptr ? saved_home : "";
  setenv("HOME", "/home/someone", 1);
  setenv("XDG_DATA_HOME", (folder_ + "/data").c_str(), 1);
  EXPECT_EQ(UserClassesPath(), folder_ + "/data/tarvona/classes.reg");
  setenv("XDG_DATA_HOME", "relative/data", 1);  // not absolute: ignored
  EXPECT_EQ(UserClassesPath(), "/home/someone/.local/share/tarvona/classes.reg");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(UserClassesPath(), "/home/someone/.local/share/tarvona/classes.reg");
  setenv("HOME", home.c_str(), 1);

  // The folders are made on the first write, private to the user.
  setenv("XDG_DATA_HOME", (folder_ + "/data").c_str(), 1);
  FileRegistry registry;
  MemoryRegistry empty;
  EXPECT_EQ(registry.Read(&empty), ERROR_SUCCESS);
  ASSERT_EQ(registry.CreateKey("K"), ERROR_SUCCESS);
  unsetenv("XDG_DATA_HOME");
  struct stat st {};
  ASSERT_EQ(stat((folder_ + "/data/tarvona").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(ReadText(folder_ + "/data/tarvona/classes.reg"),
            "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\K]\n\n");
}

TEST_F(FileRegistryTest, EveryCallIsATransactionOnTheFile) {
  const std::string path = folder_ + "/classes.reg";
  FileRegistry first(path), second(path);
  ASSERT_EQ(first.CreateKey("K"), ERROR_SUCCESS);
  ASSERT_EQ(second.SetValue("K", "a", "1"), ERROR_SUCCESS);  // sees what the other wrote
  ASSERT_EQ(first.SetValue("K", "b", "2"), ERROR_SUCCESS);
  std::string data;
  EXPECT_EQ(second.QueryValue("K", "b", &data), ERROR_SUCCESS);
  EXPECT_EQ(data, "2");
  EXPECT_EQ(second.SetValue("Missing", "a", "1"), ERROR_FILE_NOT_FOUND);

  // A file that is no registry file is reported, and left alone.
  std::ofstream(path) << "garbage\n";
  EXPECT_EQ(first.SetValue("K", "a", "3"), ERROR_BADDB);
  EXPECT_EQ(first.QueryValue("K", "a", &data), ERROR_BADDB);
  EXPECT_EQ(ReadText(path), "garbage\n");
}

}  // namespace
}  // namespace tarvona::linux_com
