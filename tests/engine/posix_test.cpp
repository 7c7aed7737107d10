// Hostile trees that only POSIX makes easy: links, FIFOs, devices,
// sockets, names with line breaks, dot names.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "fixture.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

using PosixTest = EngineTest;

// A socket file that outlives its descriptor.
bool make_socket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (FILE* f = ::fdopen(fd, "r")) std::fclose(f);
    return ok;
}

TEST_F(PosixTest, LinksFifosDevicesAndSocketsAreNeitherFollowedNorCopied) {
    load({{"s", "t", "YES"}});
    TempDir outside;
    write(outside / "secret.txt", "outside");
    mkdirs(outside / "tree/deep");
    write(outside / "tree/deep/x.txt", "x");
    fs::create_symlink(outside / "secret.txt", data / "s/link.txt");
    fs::create_directory_symlink(outside / "tree", data / "s/linkdir");
    ASSERT_EQ(::mkfifo((data / "s/pipe").c_str(), 0600), 0);
    // An endless device, where the system lets us make one.
    const bool device = ::mknod((data / "s/zero").c_str(), S_IFCHR | 0600, ::makedev(1, 5)) == 0;
    const bool socket = make_socket(data / "s/sock");
    file("s/real.txt", "real");
    form->Movefiles_Click();
    run();  // a FIFO or the device opened for reading would hang here
    EXPECT_EQ(at("t/real.txt"), "real");
    EXPECT_EQ(names(data / "t"), (std::vector<std::string>{"real.txt"}));
    // Nothing behind the links was touched, nor the links themselves.
    EXPECT_EQ(read(outside / "secret.txt"), "outside");
    EXPECT_EQ(read(outside / "tree/deep/x.txt"), "x");
    EXPECT_TRUE(fs::is_symlink(data / "s/link.txt"));
    EXPECT_TRUE(fs::is_symlink(data / "s/linkdir"));
    EXPECT_TRUE(fs::is_fifo(data / "s/pipe"));
    if (device) {
        EXPECT_TRUE(fs::is_character_file(data / "s/zero"));
    }
    if (socket) {
        EXPECT_TRUE(fs::is_socket(data / "s/sock"));
    }
    EXPECT_EQ(eos.copied, (std::vector<std::string>{data / "s/real.txt"}));
}

TEST_F(PosixTest, ALinkInThePlaceOfATargetSubdirectoryIsNotFollowed) {
    load({{"s", "t", "YES"}});
    file("s/sub/a.txt", "a");
    // The target's sub is a link back into the source: following it would
    // copy the file onto itself and, in move mode, delete it.
    fs::create_directory_symlink(data / "s/sub", data / "t/sub");
    form->Movefiles_Click();
    run();
    EXPECT_EQ(at("s/sub/a.txt"), "a");
    EXPECT_TRUE(fs::is_symlink(data / "t/sub"));
    EXPECT_EQ(logWith("is not a directory").size(), 1u);
}

TEST_F(PosixTest, ATargetThatIsTheSourceUnderAnotherNameIsCaught) {
    load({{"s", "t", "YES"}});
    file("s/a.txt", "a");
    file("s/sub/b.txt", "b");
    fs::create_directory_symlink(data / "s", data / "alias");
    mkdirs(data / "x");
    form->Movefiles_Click();
    for (const std::string& target : {data / "alias", data / "x/../s", data / "s/."}) {
        SCOPED_TRACE(target);
        write(prog / "BATCH.INI", batch::join_lines({"[batch]", "Source:" + (data / "s"),
                                                     "Target:" + target, "Subs:YES"}));
        eos.copied.clear();
        run();
        EXPECT_TRUE(eos.copied.empty());
        EXPECT_EQ(names(data / "s"), (std::vector<std::string>{"a.txt", "sub"}));
        EXPECT_EQ(at("s/a.txt"), "a");
        EXPECT_EQ(at("s/sub/b.txt"), "b");
    }
}

// A source directory swapped for a link while a question is open: the
// copy and the delete use the directory that was checked, never the one
// the link points at.
TEST_F(PosixTest, ALinkSwappedInDuringARunIsNotFollowed) {
    for (bool move : {false, true}) {
        SCOPED_TRACE(move ? "move" : "copy");
        remove_tree(data / "s");
        remove_tree(data / "t");
        TempDir secret;
        write(secret / "a.txt", "private");
        write(secret / "b.txt", "private too");
        file("s/sub/a.txt", "a");
        file("s/sub/b.txt", "b");
        load({{"s", "t", "YES"}});
        form->CC_Click();
        if (move) form->Movefiles_Click();
        dialogs.answers = {true, true};
        bool swapped = false;
        dialogs.onBox = [&] {
            if (swapped) return;
            swapped = true;
            fs::rename(data / "s/sub", data / "s/sub.old");
            fs::create_directory_symlink(secret.path(), data / "s/sub");
        };
        run();
        dialogs.onBox = nullptr;
        ASSERT_TRUE(swapped);
        EXPECT_EQ(read(secret / "a.txt"), "private");
        EXPECT_EQ(read(secret / "b.txt"), "private too");
        EXPECT_FALSE(has("t/sub/a.txt"));
        EXPECT_FALSE(has("t/sub/b.txt"));
        EXPECT_EQ(at("s/sub.old/a.txt"), "a");
        EXPECT_FALSE(logWith((data / "s/sub") + "/a.txt: not copied").empty());
        fs::remove(data / "s/sub");
    }
}

// A source another program still has open for writing is copied, but
// not deleted: the writer's next bytes would be lost with it.
TEST_F(PosixTest, AMoveKeepsASourceThatAnotherProgramHasOpen) {
    load({{"s", "t", "NO"}});
    file("s/busy.log", "first lines");
    file("s/done.txt", "done");
    form->Movefiles_Click();
    int writer = -1;
    pump.hook = [&] {
        if (writer < 0 && has("t/busy.log"))
            writer = ::open((data / "s/busy.log").c_str(), O_WRONLY | O_APPEND);
    };
    run();
    pump.hook = nullptr;
    ASSERT_GE(writer, 0);
    ::close(writer);
    EXPECT_EQ(at("s/busy.log"), "first lines");
    EXPECT_EQ(at("t/busy.log"), "first lines");
    EXPECT_FALSE(has("s/done.txt"));
    EXPECT_EQ(logWith((data / "s/busy.log") + ": kept, it is open in another program").size(), 1u);
}

// A bind mount of a source directory inside the target, met by the walk
// before the directory it shows: its files would land in the source.
TEST_F(PosixTest, ABindMountOfTheSourceInsideTheTargetIsNotWrittenInto) {
    if (::geteuid() != 0) GTEST_SKIP() << "a bind mount needs root";
    load({{"s", "t", "YES"}});
    file("s/x/mine.txt", "the source's own");
    file("s/b/mine.txt", "from b");
    mkdirs(data / "t/b");
    if (::mount((data / "s/x").c_str(), (data / "t/b").c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "no bind mount here: " << std::strerror(errno);
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{data / "t/b"};
    run();
    EXPECT_EQ(at("s/x/mine.txt"), "the source's own");
    EXPECT_EQ(at("t/x/mine.txt"), "the source's own");
    EXPECT_EQ(at("s/b/mine.txt"), "from b");
    EXPECT_EQ(logWith((data / "t/b") + " is a directory of the source").size(), 1u);
}

TEST_F(PosixTest, ASubdirectoryNameWithALineBreakIsSkippedAndLogged) {
    load({{"s", "t", "YES"}});
    mkdirs(data / "s/bad\nname");
    write(data / "s/bad\nname/x.txt", "x");
    file("s/good/y.txt", "y");
    run();
    EXPECT_EQ(at("t/good/y.txt"), "y");
    EXPECT_EQ(names(data / "t"), (std::vector<std::string>{"good"}));
    EXPECT_EQ(logWith("its name holds a line break").size(), 1u);
}

// Every log record is one CR LF line: a break in a name is written escaped;
// the ordinary line keeps its form.
TEST_F(PosixTest, ANameWithALineBreakIsLoggedOnOneLine) {
    load({{"s", "t", "YES"}});
    mkdirs(data / "s/bad\nname");
    write(data / "s/two\r\nlines.txt", "x");
    file("s/ok.txt", "ok");
    eos.copyFault = Fault{"lines.txt", -1, os::Errc::access, "injected denial"};
    run();
    const std::string raw = read(prog / "syncfile.log");
    std::vector<std::string> records;
    for (std::size_t at = 0, end; at < raw.size(); at = end + 2) {
        end = raw.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "a record without its CR LF";
        records.push_back(raw.substr(at, end - at));
    }
    ASSERT_EQ(records.size(), 3u) << raw;
    for (const auto& r : records) {
        EXPECT_EQ(r.find('\n'), std::string::npos) << r;
        EXPECT_EQ(r.find('\r'), std::string::npos) << r;
    }
    EXPECT_NE(raw.find(data / "s/bad\\nname: skipped, its name holds a line break"),
              std::string::npos)
        << raw;
    EXPECT_NE(raw.find(data / "s/two\\r\\nlines.txt: not copied"), std::string::npos) << raw;
    EXPECT_EQ(records.back(), copiedLine(1));
}

TEST_F(PosixTest, DotFilesAreHiddenAndNeitherCopiedNorMatched) {
    load({{"s", "t", "YES"}});
    file("s/.profile", "hidden");
    file("s/plain.txt", "plain");
    file("t/.plain-but-hidden", "theirs");
    run();
    EXPECT_FALSE(has("t/.profile"));
    EXPECT_EQ(at("t/plain.txt"), "plain");
    EXPECT_EQ(form->Text2.text().substr(0, 10), "0 File(s)\r");
}

mode_t mode_of(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return 07777;
    return st.st_mode & 07777;
}

TEST_F(PosixTest, CopiesAndTheDirectoriesMadeForThemAreNoMoreOpenThanTheirSources) {
    load({{"s", "t", "YES"}});
    const mode_t old = ::umask(022);
    file("s/secret.txt", "secret");
    file("s/shared.txt", "shared");
    file("s/private/deep.txt", "deep");
    file("s/group/g.txt", "g");
    ASSERT_EQ(::chmod((data / "s/secret.txt").c_str(), 0600), 0);
    ASSERT_EQ(::chmod((data / "s/shared.txt").c_str(), 0664), 0);
    ASSERT_EQ(::chmod((data / "s/private").c_str(), 0700), 0);
    ASSERT_EQ(::chmod((data / "s/group").c_str(), 0750), 0);
    ASSERT_EQ(::chmod((data / "s/private/deep.txt").c_str(), 0400), 0);
    run();
    ::umask(old);
    EXPECT_EQ(at("t/secret.txt"), "secret");
    EXPECT_EQ(mode_of(data / "t/secret.txt"), 0600u);
    EXPECT_EQ(mode_of(data / "t/shared.txt"), 0664u) << "the same bits, not the umask's";
    EXPECT_EQ(mode_of(data / "t/private"), 0700u);
    EXPECT_EQ(mode_of(data / "t/group"), 0750u);
    EXPECT_EQ(mode_of(data / "t/private/deep.txt"), 0400u);
    EXPECT_EQ(at("t/private/deep.txt"), "deep");
}

TEST_F(PosixTest, ListFilesArePrivateInADirectoryOfTheProgramsOwn) {
    TempDir temp;
    eos.temp = temp.path();
    eos.lists = std::nullopt;
    load({{"s", "t", "YES"}});
    file("s/sub/a.txt", "a");
    const std::string own = temp / os::own_temp_name();
    mode_t dirMode = 0, sourceMode = 0, targetMode = 0;
    runWith(
        [&] {
            dirMode = mode_of(own);
            sourceMode = mode_of(os::join(own, form->engine().SourceListName));
            targetMode = mode_of(os::join(own, form->engine().TargetListName));
        },
        [&] { return has("t/sub/a.txt"); });
    EXPECT_EQ(dirMode, 0700u);
    EXPECT_EQ(sourceMode, 0600u);
    EXPECT_EQ(targetMode, 0600u);
    remove_tree(own);
}

TEST_F(PosixTest, AListDirectoryPlantedByOthersIsNeverUsed) {
    TempDir temp, elsewhere;
    eos.temp = temp.path();
    eos.lists = std::nullopt;
    load({{"s", "t", "YES"}});
    file("s/a.txt", "a");
    const std::string own = temp / os::own_temp_name();
    // A link where the directory would be, to a directory others can read.
    ASSERT_EQ(::chmod(elsewhere.path().c_str(), 0777), 0);
    fs::create_directory_symlink(elsewhere.path(), own);
    run();
    EXPECT_TRUE(names(elsewhere.path()).empty()) << "nothing written through the link";
    EXPECT_EQ(mode_of(elsewhere.path()), 0777u);
    EXPECT_FALSE(has("t/a.txt"));
    const auto said = logWith("not replicated, the directory list could not be written");
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find(own), std::string::npos) << said[0];
    // Another user's directory of that name is refused the same way.
    ASSERT_EQ(::unlink(own.c_str()), 0);
    ASSERT_EQ(::mkdir(own.c_str(), 0700), 0);
    if (::chown(own.c_str(), 65534, 65534) == 0) {
        run();
        EXPECT_FALSE(has("t/a.txt"));
        EXPECT_EQ(logWith("owned by another user").size(), 1u);
        EXPECT_TRUE(names(own).empty());
    }
    remove_tree(own);
}

}  // namespace
}  // namespace qm::test
