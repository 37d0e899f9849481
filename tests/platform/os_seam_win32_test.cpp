#include <windows.h>
//
#include <fcntl.h>
#include <io.h>

#include <filesystem>
#include <string>
#include <utility>

#include "gtest/gtest.h"
#include "platform/dynamic_library.h"
#include "platform/hangup.h"
#include "platform/own_path.h"
#include "platform/user_folders.h"

namespace tarvona::platform {
namespace {

namespace fs = std::filesystem;

// Built into planted/ beside the test program (cmake/windows_core.cmake).
constexpr char kPlanted[] = "tarvona_planted.dll";

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::wstring Environment(const wchar_t* name) {
  wchar_t value[32768];
  const DWORD length = GetEnvironmentVariableW(name, value, 32768);
  return std::wstring(value, length);
}

// Sets an environment variable (null: removes it) for one scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const wchar_t* value)
      : name_(name), had_(GetEnvironmentVariableW(name, nullptr, 0) != 0), old_(Environment(name)) {
    SetEnvironmentVariableW(name, value);
  }
  ~ScopedEnvironment() { SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }

 private:
  const wchar_t* name_;
  bool had_;
  std::wstring old_;
};

TEST(Win32SeamTest, OwnPathIsTheRunningProgram) {
  const fs::path own = OwnBinaryPath();
  EXPECT_TRUE(own.is_absolute()) << own;
  EXPECT_TRUE(fs::is_regular_file(own)) << own;
  EXPECT_EQ(own.stem(), "tarvona_core_test");
  EXPECT_EQ(OwnFolder(), own.parent_path());
}

TEST(Win32SeamTest, BareNamesLoadOnlyFromOwnAndSystemFolders) {
  const LibraryLoader& loader = SystemLibraryLoader();
  const fs::path planted_folder = OwnFolder() / "planted";
  const fs::path beside = OwnFolder() / kPlanted;
  ASSERT_TRUE(fs::is_regular_file(planted_folder / kPlanted));
  fs::remove(beside);

  {
    // In the current folder and on PATH a planted module is never found.
    const fs::path previous = fs::current_path();
    fs::current_path(planted_folder);
    const ScopedEnvironment path(L"PATH", (planted_folder.wstring() + L";" + Environment(L"PATH")).c_str());
    EXPECT_EQ(loader.Load(kPlanted), nullptr);
    fs::current_path(previous);
  }

  // By its full path it loads, and resolves what it exports and only that.
  {
    auto library = loader.Load(Utf8(planted_folder / kPlanted));
    ASSERT_NE(library, nullptr);
    EXPECT_NE(library->Symbol("TarvonaPlantedProbe"), nullptr);
    EXPECT_EQ(library->Symbol("TarvonaMissing"), nullptr);
  }

  // Installed beside the program, the bare name finds it.
  fs::copy_file(planted_folder / kPlanted, beside);
  EXPECT_NE(loader.Load(kPlanted), nullptr);
  fs::remove(beside);

  // The system folder's modules load by bare name.
  auto kernel = loader.Load("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_NE(kernel->Symbol("GetProcAddress"), nullptr);

  for (const std::string& name : {std::string(), std::string("kernel32.dll\0x", 14),
                                 std::string("tarvona-no-such-module.dll")}) {
    EXPECT_EQ(loader.Load(name), nullptr) << name;
  }
}

TEST(Win32SeamTest, UserFoldersComeFromTheSessionEnvironment) {
  const fs::path home = HomeFolder();
  ASSERT_TRUE(home.is_absolute()) << home;
  const struct {
    const wchar_t* variable;
    fs::path (*folder)();
    const wchar_t* under_home;
  } cases[] = {{L"LOCALAPPDATA", UserDataFolder, L"AppData\\Local"},
               {L"APPDATA", UserConfigFolder, L"AppData\\Roaming"}};
  for (const auto& c : cases) {
    {
      const ScopedEnvironment set(c.variable, L"C:\\Elsewhere");
      EXPECT_EQ(c.folder(), fs::path(L"C:\\Elsewhere"));
    }
    // A relative or missing setting is ignored.
    for (const wchar_t* value : {L"relative\\folder", static_cast<const wchar_t*>(nullptr)}) {
      const ScopedEnvironment set(c.variable, value);
      EXPECT_EQ(c.folder(), home / c.under_home);
    }
  }
  const ScopedEnvironment no_profile(L"USERPROFILE", nullptr);
  EXPECT_EQ(HomeFolder(), fs::path());
  const ScopedEnvironment no_data(L"LOCALAPPDATA", nullptr);
  EXPECT_EQ(UserDataFolder(), fs::path());
}

}  // namespace
}  // namespace tarvona::platform

// A pipe's reading end as a descriptor, and its writing end.
struct TestPipe {
  int fd = -1;
  HANDLE writer = nullptr;
  TestPipe() {
    HANDLE reader = nullptr;
    if (CreatePipe(&reader, &writer, nullptr, 0)) {
      fd = _open_osfhandle(reinterpret_cast<intptr_t>(reader), _O_RDONLY);
    }
  }
  void HangUp() { CloseHandle(std::exchange(writer, nullptr)); }
};

TEST(Win32SeamTest, AWatchEndsTheProcessAtAHangUpAndNothingOnceItEnds) {
  // While watched: the process ends, with status 0, long before the sleep.
  EXPECT_EXIT(
      {
        TestPipe pipe;
        const tarvona::platform::EndOnHangup watch(pipe.fd);
        pipe.HangUp();
        Sleep(20000);
        std::exit(3);
      },
      ::testing::ExitedWithCode(0), "");
  // Watches that have ended, nested ones too, leave the process alone.
  TestPipe pipe;
  ASSERT_GE(pipe.fd, 0);
  {
    const tarvona::platform::EndOnHangup outer(pipe.fd);
    { const tarvona::platform::EndOnHangup inner(pipe.fd); }
    Sleep(250);
  }
  pipe.HangUp();
  Sleep(500);
  EXPECT_TRUE(tarvona::platform::HungUp(pipe.fd));
  _close(pipe.fd);
}
