#include "linux/com/classes_root.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace tarvona::linux_com {
namespace {

// The user's and the machine's records in a folder of their own.
class ClassesRootTest : public ::testing::Test {
 protected:
  ClassesRootTest() {
    char folder[] = "/tmp/tarvona-root-XXXXXX";
    folder_ = mkdtemp(folder);
    user_ = folder_ + "/user.reg";
    machine_ = folder_ + "/machine.reg";
  }
  ~ClassesRootTest() override { std::filesystem::remove_all(folder_); }

  static void Put(const std::string& path, const char* key, const char* name, const char* data) {
    FileRegistry file(path);
    ASSERT_EQ(file.CreateKey(key), ERROR_SUCCESS);
    ASSERT_EQ(file.SetValue(key, name, data), ERROR_SUCCESS);
  }

  std::string folder_, user_, machine_;
};

TEST_F(ClassesRootTest, UserKeysShadowTheMachinesAndListsMergeUserFirst) {
  Put(machine_, "CLSID\\{1}\\InprocServer32", "", "/usr/lib/tarvona/TarvonaActiveX.ocx");
  Put(machine_, "CLSID\\{1}\\InprocServer32", "ThreadingModel", "Apartment");
  Put(machine_, "CLSID\\{2}", "", "machine only");
  Put(machine_, "A.Machine", "", "m");
  Put(machine_, "P\\Shared", "", "m");
  Put(user_, "clsid\\{1}\\InprocServer32", "", "/home/u/build/bin/TarvonaActiveX.ocx");
  Put(user_, "A.User", "", "u");
  Put(user_, "p\\SHARED", "", "u");
  const ClassesRoot root(user_, machine_);

  struct Case {
    const char* key;
    const char* name;
    LSTATUS status;
    const char* data;
  } cases[] = {
      // The user's registration overrides, the whole key with it.
      {"CLSID\\{1}\\InprocServer32", "", ERROR_SUCCESS, "/home/u/build/bin/TarvonaActiveX.ocx"},
      {"CLSID\\{1}\\InprocServer32", "ThreadingModel", ERROR_FILE_NOT_FOUND, ""},
      {"CLSID\\{2}", "", ERROR_SUCCESS, "machine only"},
      {"A.User", "", ERROR_SUCCESS, "u"},
      {"A.Machine", "", ERROR_SUCCESS, "m"},
      {"Nowhere", "", ERROR_FILE_NOT_FOUND, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " / " + c.name);
    std::string data;
    EXPECT_EQ(root.QueryValue(c.key, c.name, &data), c.status);
    if (c.status == ERROR_SUCCESS) {
      EXPECT_EQ(data, c.data);
    }
  }
  EXPECT_EQ(root.KeyExists("CLSID\\{2}"), ERROR_SUCCESS);
  EXPECT_EQ(root.KeyExists("CLSID\\{3}"), ERROR_FILE_NOT_FOUND);

  std::vector<std::string> names;
  ASSERT_EQ(root.EnumKeys("CLSID", &names), ERROR_SUCCESS);
  EXPECT_EQ(names, (std::vector<std::string>{"{1}", "{2}"}));
  ASSERT_EQ(root.EnumKeys("P", &names), ERROR_SUCCESS);
  EXPECT_EQ(names, (std::vector<std::string>{"SHARED"}));
  Put(machine_, "P\\Machine", "", "m");
  Put(user_, "P\\User", "", "u");
  ASSERT_EQ(root.EnumKeys("P", &names), ERROR_SUCCESS);
  EXPECT_EQ(names, (std::vector<std::string>{"SHARED", "User", "Machine"}));
  EXPECT_EQ(root.EnumKeys("Nowhere", &names), ERROR_FILE_NOT_FOUND);
}

TEST_F(ClassesRootTest, ChangesReachTheUsersRecordAlone) {
  Put(machine_, "A.B", "", "machine");
  ClassesRoot root(user_, machine_);
  ASSERT_EQ(root.CreateKey("A.B"), ERROR_SUCCESS);
  ASSERT_EQ(root.SetValue("A.B", "", "user"), ERROR_SUCCESS);
  std::string data;
  ASSERT_EQ(FileRegistry(machine_).QueryValue("A.B", "", &data), ERROR_SUCCESS);
  EXPECT_EQ(data, "machine");
  ASSERT_EQ(root.QueryValue("A.B", "", &data), ERROR_SUCCESS);
  EXPECT_EQ(data, "user");
  // Removing the user's key uncovers the machine's again.
  ASSERT_EQ(root.DeleteTree("A.B"), ERROR_SUCCESS);
  ASSERT_EQ(root.QueryValue("A.B", "", &data), ERROR_SUCCESS);
  EXPECT_EQ(data, "machine");
  EXPECT_EQ(root.DeleteTree("A.B"), ERROR_FILE_NOT_FOUND);
}

TEST_F(ClassesRootTest, MissingRecordsReadEmptyAndADamagedOneFails) {
  const ClassesRoot nothing(user_, machine_);
  std::string data;
  EXPECT_EQ(nothing.QueryValue("A.B", "", &data), ERROR_FILE_NOT_FOUND);

  Put(user_, "A.User", "", "u");
  std::ofstream(machine_) << "not a registry file\n";
  const ClassesRoot root(user_, machine_);
  EXPECT_EQ(root.QueryValue("A.User", "", &data), ERROR_SUCCESS);
  EXPECT_EQ(root.QueryValue("A.Machine", "", &data), ERROR_BADDB);
  std::vector<std::string> names;
  EXPECT_EQ(root.EnumKeys("A.User", &names), ERROR_BADDB);
}

}  // namespace
}  // namespace tarvona::linux_com
