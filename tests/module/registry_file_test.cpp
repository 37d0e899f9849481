#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include "tests/module/module_fixture.h"

namespace tarvona::module::testing {
namespace {

using com::S_OK;

// The record's sections, each a key with its values.
std::set<std::string> Sections(const std::string& text) {
  std::set<std::string> sections;
  size_t start = text.find("\n\n") + 2;
  for (size_t end; (end = text.find("\n\n", start)) != std::string::npos; start = end + 2) {
    sections.insert(text.substr(start, end - start));
  }
  return sections;
}

// A module with the real registry file and categories manager, as a
// registering process has them.
class FileRegistration {
 public:
  explicit FileRegistration(const std::string& path)
      : registry_(path),
        classes_(registry_),
        resources_(com::ResourceSet::Parse(EmbeddedResources()).value()),
        environment_{platform::SystemLibraryLoader(),
                     tarvona::testing::NoStore(),
                     tarvona::testing::NoStore(),
                     resources_,
                     registry_,
                     type_libs_},
        module_(environment_) {}

  HRESULT Register() { return module_.DllRegisterServer(Services()); }
  HRESULT Unregister() { return module_.DllUnregisterServer(Services()); }

 private:
  RegistrationServices Services() { return {registry_, classes_, type_libs_, kModulePath}; }

  com::FileRegistry registry_;
  com::SystemClassCreator classes_;
  SourceTypeLibLoader type_libs_;
  com::ResourceSet resources_;
  ModuleEnvironment environment_;
  TarvonaModule module_;
};

class RegistryFileTest : public ::testing::Test {
 protected:
  RegistryFileTest() {
    char folder[] = "/tmp/tarvona-classes-XXXXXX";
    folder_ = mkdtemp(folder);
    path_ = folder_ + "/classes.reg";
  }
  ~RegistryFileTest() override { std::filesystem::remove_all(folder_); }

  // The record as one registration on an empty registry leaves it.
  static std::string CleanRecord() {
    com::MemoryRegistry registry;
    com::SystemClassCreator classes(registry);
    SourceTypeLibLoader type_libs;
    auto resources = com::ResourceSet::Parse(EmbeddedResources()).value();
    const ModuleEnvironment environment{platform::SystemLibraryLoader(),
                                        tarvona::testing::NoStore(),
                                        tarvona::testing::NoStore(),
                                        resources,
                                        registry,
                                        type_libs};
    TarvonaModule module(environment);
    EXPECT_EQ(module.DllRegisterServer({registry, classes, type_libs, kModulePath}), S_OK);
    return registry.ToText();
  }

  std::string FileText() const {
    com::MemoryRegistry read;
    EXPECT_EQ(com::FileRegistry(path_).Read(&read), com::ERROR_SUCCESS);
    return read.ToText();
  }

  std::string folder_;
  std::string path_;
};

TEST_F(RegistryFileTest, AProcessKilledWhileRegisteringLeavesAWholeFile) {
  com::FileRegistry registry(path_);
  ASSERT_EQ(registry.CreateKey("CLSID\\{FOREIGN}"), com::ERROR_SUCCESS);
  ASSERT_EQ(registry.SetValue("CLSID\\{FOREIGN}", "", "Another control"), com::ERROR_SUCCESS);

  auto foreign_intact = [&] {
    std::string name;
    return registry.QueryValue("CLSID\\{FOREIGN}", "", &name) == com::ERROR_SUCCESS &&
           name == "Another control";
  };
  for (int milliseconds : {2, 5, 9, 14, 20, 27, 35, 44}) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FileRegistration registration(path_);
      for (;;) {
        registration.Register();
        registration.Unregister();
      }
    }
    // Readers take no lock: each read meets a whole file, old or new.
    bool whole = true;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (whole && std::chrono::steady_clock::now() < until) whole = foreign_intact();
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(whole) << "while registering, round of " << milliseconds << " ms";
    EXPECT_TRUE(foreign_intact()) << "after the kill, round of " << milliseconds << " ms";
  }
  // Registering again completes whatever the kill interrupted.
  FileRegistration registration(path_);
  ASSERT_EQ(registration.Register(), S_OK);
  const std::set<std::string> sections = Sections(FileText());
  for (const std::string& section : Sections(CleanRecord())) {
    EXPECT_TRUE(sections.contains(section)) << section;
  }
}

TEST_F(RegistryFileTest, ConcurrentRegistrationsLoseNothing) {
  constexpr int kOtherKeys = 40;
  pid_t registering = fork();
  ASSERT_GE(registering, 0);
  if (registering == 0) {
    FileRegistration registration(path_);
    bool ok = true;
    for (int i = 0; i < 3; ++i) ok = registration.Register() == S_OK && ok;
    _exit(ok ? 0 : 1);
  }
  pid_t writing = fork();
  ASSERT_GE(writing, 0);
  if (writing == 0) {
    com::FileRegistry registry(path_);
    bool ok = true;
    for (int i = 0; i < kOtherKeys; ++i) {
      const std::string key = "Other.Class." + std::to_string(i) + "\\CLSID";
      ok = registry.CreateKey(key) == com::ERROR_SUCCESS &&
           registry.SetValue(key, "", std::to_string(i)) == com::ERROR_SUCCESS && ok;
    }
    _exit(ok ? 0 : 1);
  }
  for (pid_t child : {registering, writing}) {
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  const std::set<std::string> sections = Sections(FileText());
  for (const std::string& section : Sections(CleanRecord())) {
    EXPECT_TRUE(sections.contains(section)) << section;
  }
  for (int i = 0; i < kOtherKeys; ++i) {
    EXPECT_TRUE(sections.contains("[HKEY_CLASSES_ROOT\\Other.Class." + std::to_string(i) +
                                  "\\CLSID]\n@=\"" + std::to_string(i) + "\""))
        << i;
  }
}

}  // namespace
}  // namespace tarvona::module::testing
