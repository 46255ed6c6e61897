// COM apartments, shell items as paths, the typed name's extension and the folder watch
// that the Windows file dialog is built on.
#include "win32face/shell_dialog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

namespace win32face {
namespace {

// The thread's apartment, as a join into the multithreaded one answers.
HRESULT JoinMultithreaded() {
  const HRESULT result = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(result)) ::CoUninitialize();
  return result;
}

// The error's text, empty when `call` throws none.
template <class F>
std::string ErrorOf(F call) {
  try {
    call();
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return {};
}

const wchar_t kComputer[] = L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}";  // no path

TEST(ComApartmentTest, SingleThreadedForItsLifeOnlyAndMultithreadedKept) {
  std::thread([] {
    {
      const TComApartment outer;
      const TComApartment inner;  // already in: counted, and undone alike
      EXPECT_TRUE(outer.Joined() && inner.Joined());
      EXPECT_EQ(JoinMultithreaded(), RPC_E_CHANGED_MODE);
    }
    EXPECT_EQ(JoinMultithreaded(), S_OK);
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_FALSE(TComApartment().Joined());
    EXPECT_EQ(JoinMultithreaded(), S_FALSE);
    ::CoUninitialize();
  }).join();
}

TEST(FileDialogErrorTest, NamesTheHresult) {
  EXPECT_EQ(ErrorOf([] { CheckDialogCall(S_FALSE); }), "");
  EXPECT_EQ(ErrorOf([] { CheckDialogCall(HRESULT_FROM_WIN32(ERROR_CANCELLED)); }),
            "Cannot show the file dialog (error 0x800704C7)");
  std::thread([] {  // no COM on this thread
    EXPECT_EQ(ErrorOf([] { CreateOpenDialog(); }),
              "Cannot show the file dialog (error 0x800401F0)");
  })
      .join();
}

TEST(DefaultExtensionTest, AppendedWhenTheSystemKnowsNone) {
  for (const auto& [typed, chosen] : {std::pair{L"C:\\f\\x", L"C:\\f\\x.hex"},
                                      {L"C:\\f\\X.HEX", L"C:\\f\\X.HEX"},
                                      {L"C:\\f\\x.ini", L"C:\\f\\x.ini"},
                                      {L"C:\\f\\x.nosuch", L"C:\\f\\x.nosuch.hex"},
                                      {L"C:\\d.d\\x", L"C:\\d.d\\x.hex"},
                                      {L"C:\\прошивка\\образ", L"C:\\прошивка\\образ.hex"}}) {
    EXPECT_EQ(WithDefaultExtension(typed, L"hex"), chosen);
  }
}

TEST(ShellFolderTest, PathsOfFileSystemItemsAndTheLastFolderShown) {
  const TComApartment com;
  const std::filesystem::path made = std::filesystem::temp_directory_path() /
                                     (L"папка-" + std::to_wstring(::GetCurrentProcessId()));
  std::filesystem::create_directory(made);
  const std::wstring folder = made.wstring();
  EXPECT_EQ(ItemPath(PathItem(folder).Get()), folder);
  EXPECT_FALSE(PathItem(folder + L"\\нет"));
  EXPECT_EQ(ItemPath(nullptr), L"");
  const TComRef<IShellItem> computer = PathItem(kComputer);
  ASSERT_TRUE(computer);
  EXPECT_EQ(ItemPath(computer.Get()), L"");

  TFolderWatch watch;
  TComRef<IFileOpenDialog> dialog = CreateOpenDialog();
  dialog->SetFolder(PathItem(folder).Get());
  watch.OnFolderChange(dialog.Get());
  EXPECT_EQ(watch.Folder(), folder);
  dialog->SetFolder(computer.Get());  // outside the file system: the last stays
  watch.OnFolderChange(dialog.Get());
  EXPECT_EQ(watch.Folder(), folder);
  std::filesystem::remove(made);
}

}  // namespace
}  // namespace win32face
