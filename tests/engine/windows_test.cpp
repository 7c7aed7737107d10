// What only Windows makes possible: a source that another program holds
// open without leave to read it.
#include <windows.h>

#include "fixture.h"

namespace qm::test {
namespace {

using WindowsEngineTest = EngineTest;

std::wstring wide(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// An editor or a database may keep its file open sharing nothing. (A part
// of a file locked with LockFileEx fails the read the same way on Windows;
// Wine does not hold reads to such locks.)
TEST_F(WindowsEngineTest, AFileHeldByAnotherProgramIsNamedInTheLogAndCopiedByTheNextRun) {
    for (bool move : {false, true}) {
        SCOPED_TRACE(move ? "move mode" : "copy mode");
        load({{"s", "t", "NO"}});
        if (move) form->Movefiles_Click();
        file("s/held.txt", "held by another program");
        file("s/free.txt", "free");
        HANDLE h = CreateFileW(wide(data / "s/held.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
        run();
        EXPECT_EQ(at("t/free.txt"), "free");
        EXPECT_EQ(has("s/free.txt"), !move);
        EXPECT_FALSE(has("t/held.txt"));
        EXPECT_TRUE(temporaries("t").empty());
        const auto said = logWith(data / "s/held.txt");
        ASSERT_EQ(said.size(), 1u) << ::testing::PrintToString(log());
        EXPECT_NE(said[0].find(": not copied: open "), std::string::npos) << said[0];
        CloseHandle(h);

        run();
        EXPECT_EQ(at("t/held.txt"), "held by another program");
        EXPECT_EQ(mtime("t/held.txt"), kTime);
        EXPECT_EQ(has("s/held.txt"), !move);
        EXPECT_EQ(logWith(data / "s/held.txt").size(), 1u) << "the next run copied it";
        remove_tree(data / "s");
        remove_tree(data / "t");
        remove_tree(prog / "syncfile.log");
    }
}

}  // namespace
}  // namespace qm::test
