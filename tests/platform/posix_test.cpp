// What only the POSIX backend has: links and FIFOs are system entries and
// are never followed; hidden is a matter of the name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "platform/platform.h"
#include "support/tempdir.h"

namespace qm::test {
namespace {

os::Os& sys() {
    return os::native();
}

// A look-up's answer as text, the error's message when it could not tell.
std::string answer(const os::Result<bool>& r) {
    return r ? (*r ? "true" : "false") : "error: " + r.error().message();
}

TEST(PosixLinks, LinksAndFifosAreListedAsSystemAndNotFollowed) {
    TempDir d, elsewhere;
    write(elsewhere / "real.txt", "outside");
    ASSERT_EQ(::symlink((elsewhere / "real.txt").c_str(), (d / "file-link").c_str()), 0);
    ASSERT_EQ(::symlink(elsewhere.path().c_str(), (d / "dir-link").c_str()), 0);
    ASSERT_EQ(::symlink((d / "nowhere").c_str(), (d / "dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo((d / "pipe").c_str(), 0600), 0);
    auto r = sys().list_dir(d.path());
    ASSERT_TRUE(r);
    ASSERT_EQ(r->size(), 4u);
    for (const auto& e : *r) {
        EXPECT_EQ(e.kind, os::Kind::other) << e.name;
        EXPECT_TRUE(e.system) << e.name;
        EXPECT_FALSE(e.hidden) << e.name;
    }
    for (const char* n : {"file-link", "dir-link", "dangling", "pipe"}) {
        auto st = sys().stat(d / n);
        ASSERT_TRUE(st) << n;
        EXPECT_EQ(st->kind, os::Kind::other) << n;
        EXPECT_TRUE(st->system) << n;
        EXPECT_TRUE(sys().exists(d / n)) << n;
    }
    // Identity is of what a path names, so a link to a directory is that
    // directory.
    EXPECT_EQ(*sys().identity(d / "dir-link"), *sys().identity(elsewhere.path()));
}

TEST(PosixLinks, ReadsCopiesAndWritesRefuseLinksAndFifos) {
    TempDir d, elsewhere;
    write(elsewhere / "real.txt", "outside");
    ASSERT_EQ(::symlink((elsewhere / "real.txt").c_str(), (d / "link").c_str()), 0);
    ASSERT_EQ(::mkfifo((d / "pipe").c_str(), 0600), 0);
    EXPECT_FALSE(sys().read_file(d / "link"));
    EXPECT_FALSE(sys().write_file(d / "link", "through", false));
    EXPECT_FALSE(sys().append_file(d / "link", "through"));
    EXPECT_EQ(read(elsewhere / "real.txt"), "outside");
    EXPECT_FALSE(sys().copy_file(d / "link", d / "copy1", nullptr, true));
    // Opening a FIFO for reading would wait for a writer for ever.
    auto fifo = sys().copy_file(d / "pipe", d / "copy2", nullptr, true);
    ASSERT_FALSE(fifo);
    EXPECT_EQ(fifo.error().code, os::Errc::invalid);
    EXPECT_FALSE(sys().exists(d / "copy1"));
    EXPECT_FALSE(sys().exists(d / "copy2"));
    EXPECT_FALSE(sys().read_file(d / "pipe"));
    EXPECT_FALSE(sys().read_part(d / "pipe", 0, 16));
    // Nor would opening one for writing without a reader.
    EXPECT_FALSE(sys().write_file(d / "pipe", "x", false));
    EXPECT_FALSE(sys().append_file(d / "pipe", "x"));
}

TEST(PosixLinks, SetMtimeOfALinkLeavesItsTargetAlone) {
    TempDir d, elsewhere;
    write(elsewhere / "real.txt", "outside");
    ASSERT_TRUE(sys().set_mtime(elsewhere / "real.txt", {1'500'000'000, 0}));
    ASSERT_EQ(::symlink((elsewhere / "real.txt").c_str(), (d / "link").c_str()), 0);
    ASSERT_TRUE(sys().set_mtime(d / "link", {1'600'000'000, 0}));
    EXPECT_EQ(sys().stat(elsewhere / "real.txt")->mtime.sec, 1'500'000'000);
}

// Copies by name in directories held open go to the directories that were
// opened, also after their paths came to name others; a name that is a
// link is refused as a path is.
TEST(PosixFiles, ACopyInOpenDirectoriesStaysInTheDirectoriesOpened) {
    TempDir d;
    ASSERT_TRUE(sys().make_dir(d / "src"));
    ASSERT_TRUE(sys().make_dir(d / "dst"));
    write(d / "src/a.txt", "alpha");
    const os::FileTime t{1'000'000'000, 0};
    ASSERT_TRUE(sys().set_mtime(d / "src/a.txt", t));
    ASSERT_EQ(::symlink((d / "src/a.txt").c_str(), (d / "src/link").c_str()), 0);
    auto from = sys().open_dir(d / "src");
    auto to = sys().open_dir(d / "dst");
    ASSERT_TRUE(from);
    ASSERT_TRUE(to);
    EXPECT_EQ(to->path, os::with_separator(d / "dst"));
    ASSERT_EQ(::rename((d / "dst").c_str(), (d / "moved").c_str()), 0);
    ASSERT_TRUE(sys().make_dir(d / "dst"));

    auto copied = sys().copy_file_in(*from, "a.txt", *to, ".part", nullptr, false);
    ASSERT_TRUE(copied) << copied.error().message();
    EXPECT_EQ(copied->size, 5u);
    ASSERT_TRUE(sys().rename_in(*to, ".part", "a.txt"));
    EXPECT_EQ(read(d / "moved/a.txt"), "alpha");
    EXPECT_EQ(sys().stat(d / "moved/a.txt")->mtime, t);
    EXPECT_TRUE(sys().list_dir(d / "dst")->empty());

    // Failures name whole paths and leave nothing behind.
    auto gone = sys().copy_file_in(*from, "gone.txt", *to, ".p1", nullptr, false);
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().code, os::Errc::not_found);
    EXPECT_EQ(gone.error().path, (d / "src") + "/gone.txt");
    auto link = sys().copy_file_in(*from, "link", *to, ".p2", nullptr, false);
    EXPECT_FALSE(link);
    auto taken = sys().copy_file_in(*from, "a.txt", *to, "a.txt", nullptr, false);
    ASSERT_FALSE(taken);
    EXPECT_EQ(taken.error().code, os::Errc::exists);
    EXPECT_EQ(read(d / "moved/a.txt"), "alpha");
    auto renamed = sys().rename_in(*to, ".p1", "b.txt");
    ASSERT_FALSE(renamed);
    EXPECT_EQ(renamed.error().path, (d / "dst") + "/.p1");
    EXPECT_EQ(sys().list_dir(d / "moved")->size(), 1u);
    EXPECT_FALSE(sys().open_dir(d / "src/a.txt"));

    // A removal, too, is made in the directory opened, never at its old path.
    write(d / "dst/a.txt", "other");
    ASSERT_TRUE(sys().remove_in(*to, "a.txt"));
    EXPECT_TRUE(sys().list_dir(d / "moved")->empty());
    EXPECT_EQ(read(d / "dst/a.txt"), "other");
    auto again = sys().remove_in(*to, "a.txt");
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().code, os::Errc::not_found);
}

// A directory below an open one is reached without following a link at
// any step: a link put in the place of a directory checked before is
// refused, not followed into what it points at.
TEST(PosixFiles, ADirectoryBelowAnOpenOneIsNeverReachedThroughALink) {
    TempDir d, outside;
    mkdirs(d / "root/a/b");
    write(outside / "secret.txt", "private");
    auto root = sys().open_dir(d / "root");
    ASSERT_TRUE(root);
    auto b = sys().open_dir_below(*root, "a/b");
    ASSERT_TRUE(b) << b.error().message();
    EXPECT_EQ(b->path, (d / "root/a/b") + "/");
    write(d / "root/a/b/f.txt", "f");
    EXPECT_EQ(sys().stat_in(*b, "f.txt")->size, 1u);
    EXPECT_EQ(sys().file_state_in(*b, "f.txt")->size, 1u);
    EXPECT_TRUE(sys().open_dir_below(*root, ""));

    // "a" swapped for a link, at the first step and at the last.
    ASSERT_EQ(::rename((d / "root/a").c_str(), (d / "root/a.old").c_str()), 0);
    ASSERT_EQ(::symlink(outside.path().c_str(), (d / "root/a").c_str()), 0);
    for (const char* rel : {"a", "a/b"}) {
        auto through = sys().open_dir_below(*root, rel);
        ASSERT_FALSE(through) << rel;
        EXPECT_EQ(through.error().code, os::Errc::not_dir) << rel;
    }
    // The one opened before stays the directory it was.
    EXPECT_EQ(sys().stat_in(*b, "f.txt")->size, 1u);
    // Made in an open directory, a new directory never lands behind a link.
    auto a = sys().open_dir_below(*root, "a.old");
    ASSERT_TRUE(a);
    ASSERT_TRUE(sys().make_dir_like_in(*a, "c", d / "root"));
    EXPECT_TRUE(exists(d / "root/a.old/c"));
    EXPECT_FALSE(exists(outside / "c"));
}

// A move's delete removes only the very version copied, and none that
// another program holds open.
TEST(PosixFiles, ARemovalOfAnUnchangedFileChecksItAsItRemovesIt) {
    TempDir d;
    write(d / "a.txt", "alpha");
    auto dir = sys().open_dir(d.path());
    ASSERT_TRUE(dir);
    auto copied = sys().file_state(d / "a.txt");
    ASSERT_TRUE(copied);

    // Rewritten since: kept.
    write(d / "a.txt", "alphA");
    auto changed = sys().remove_unchanged(*dir, "a.txt", *copied);
    ASSERT_FALSE(changed);
    EXPECT_EQ(changed.error().code, os::Errc::changed);
    EXPECT_EQ(read(d / "a.txt"), "alphA");

    // Open for writing elsewhere: kept, as its writer may not be done.
    copied = sys().file_state(d / "a.txt");
    const int writer = ::open((d / "a.txt").c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(writer, 0);
    auto busy = sys().remove_unchanged(*dir, "a.txt", *copied);
    ::close(writer);
    ASSERT_FALSE(busy);
    EXPECT_EQ(busy.error().code, os::Errc::busy) << busy.error().message();
    EXPECT_TRUE(exists(d / "a.txt"));

    // Another file renamed into its place: kept, and so is the newcomer.
    write(d / "b.txt", "other");
    ASSERT_EQ(::rename((d / "b.txt").c_str(), (d / "a.txt").c_str()), 0);
    auto replaced = sys().remove_unchanged(*dir, "a.txt", *copied);
    ASSERT_FALSE(replaced);
    EXPECT_EQ(replaced.error().code, os::Errc::changed);
    EXPECT_EQ(read(d / "a.txt"), "other");

    // Unchanged and closed: removed.
    copied = sys().file_state(d / "a.txt");
    ASSERT_TRUE(sys().remove_unchanged(*dir, "a.txt", *copied));
    EXPECT_FALSE(exists(d / "a.txt"));
}

TEST(PosixFiles, ALookUpThatFailsOtherwiseIsNoAbsence) {
    TempDir t;
    const auto r = sys().probe(t / std::string(300, 'n'));
    ASSERT_FALSE(r) << "a name too long is not a name that is absent";
    EXPECT_EQ(r.error().code, os::Errc::invalid);
    EXPECT_NE(r.error().message().find("look up"), std::string::npos);
    // A link to nothing is a name that exists.
    ASSERT_EQ(::symlink((t / "nothing").c_str(), (t / "dangling").c_str()), 0);
    EXPECT_EQ(answer(sys().probe(t / "dangling")), "true");
}

TEST(PosixFiles, ThePermissionBitsAreCopiedAndNoWriteBitIsReadOnly) {
    TempDir t;
    write(t / "from", "f");
    write(t / "to", "t");
    for (mode_t mode : {0600, 0640, 0444, 0400, 0755, 0200}) {
        ASSERT_EQ(::chmod((t / "from").c_str(), mode), 0);
        ASSERT_TRUE(sys().copy_permissions(t / "from", t / "to"));
        struct stat st {};
        ASSERT_EQ(::stat((t / "to").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode);
        EXPECT_EQ(sys().stat(t / "to").value().read_only, (mode & 0222) == 0) << std::oct << mode;
    }
    ASSERT_EQ(::chmod((t / "to").c_str(), 0600), 0);
}

TEST(PosixNames, HiddenIsALeadingDotAndCannotBeSetOtherwise) {
    TempDir d;
    write(d / "visible", "v");
    write(d / ".dot", "h");
    auto r = sys().make_hidden(d / "visible");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, os::Errc::invalid);
    EXPECT_FALSE(sys().stat(d / "visible")->hidden);
    EXPECT_TRUE(sys().stat(d / ".dot")->hidden);
    // Names differ by case here.
    write(d / "BATCH.INI", "upper");
    EXPECT_FALSE(sys().exists(d / "batch.ini"));
    EXPECT_FALSE(os::case_insensitive_names());
}

TEST(PosixSystem, VolumesAreMountPointsWithoutKernelFileSystems) {
    auto vols = sys().volumes();
    EXPECT_NE(std::find(vols.begin(), vols.end(), "/"), vols.end());
    for (const auto& v : vols) {
        EXPECT_EQ(v.front(), '/') << v;
        EXPECT_NE(v.rfind("/proc", 0), 0u) << v;
        EXPECT_NE(v.rfind("/sys", 0), 0u) << v;
    }
    EXPECT_EQ(sys().volume_root("/"), "/");
    EXPECT_FALSE(sys().volume_ready("/no/such/mount/point"));
    EXPECT_EQ(os::placeholder_root(), "/");
}

// A volume whose root others may pass through but not list is ready: the
// directories below it are theirs to use. Checked as a user other than
// root, whom no permission stops.
TEST(PosixSystem, AVolumeRootThatCannotBeListedIsReady) {
    TempDir dir;
    mkdirs(dir / "root/below");
    write(dir / "not-a-directory", "x");
    ASSERT_EQ(::chmod(dir.path().c_str(), 0711), 0);
    ASSERT_EQ(::chmod((dir / "root").c_str(), 0711), 0);
    auto ready_for_others = [&](const std::string& volume) {
        if (::geteuid() != 0) return sys().volume_ready(volume);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
            ::_exit(!dropped ? 2 : sys().volume_ready(volume) ? 0 : 1);
        }
        int st = 0;
        ::waitpid(pid, &st, 0);
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) != 2) << "could not become another user";
        return WIFEXITED(st) && WEXITSTATUS(st) == 0;
    };
    EXPECT_TRUE(ready_for_others(dir / "root"));
    EXPECT_FALSE(ready_for_others(dir / "not-a-directory"));
    EXPECT_FALSE(ready_for_others(dir / "gone"));
}

mode_t mode_of(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return 07777;
    return st.st_mode & 07777;
}

// Sets the process's umask for a test and restores it.
struct Umask {
    explicit Umask(mode_t m) : old(::umask(m)) {}
    ~Umask() { ::umask(old); }
    mode_t old;
};

TEST(PosixModes, ACopyHasItsSourcesPermissionBitsAndIsPrivateWhileWritten) {
    TempDir d;
    Umask wide(0);  // a umask never widens a copy, nor narrows it
    for (mode_t m : {0600, 0640, 0755, 0444, 0700}) {
        const std::string from = d / ("src" + std::to_string(m));
        const std::string to = d / ("dst" + std::to_string(m));
        write(from, std::string(200000, 'x'));
        ASSERT_EQ(::chmod(from.c_str(), m), 0);
        mode_t during = 07777;
        ASSERT_TRUE(sys().copy_file(
            from, to,
            [&](std::uint64_t, std::uint64_t) {
                during = mode_of(to);
                return true;
            },
            false));
        EXPECT_EQ(during, 0600u) << std::oct << m;
        EXPECT_EQ(mode_of(to), m) << std::oct << m;
    }
}

TEST(PosixModes, ADirectoryMadeLikeAnotherHasItsBitsAndStaysFillable) {
    TempDir d;
    Umask wide(0);
    for (mode_t m : {0700, 0750, 0755, 0555, 0711}) {
        const std::string model = d / ("model" + std::to_string(m));
        const std::string made = d / ("made" + std::to_string(m));
        ASSERT_EQ(::mkdir(model.c_str(), m), 0);
        ASSERT_TRUE(sys().make_dir_like(made, model));
        EXPECT_EQ(mode_of(made), m | 0700) << std::oct << m;
    }
    EXPECT_EQ(sys()
                  .make_dir_like(d / ("made" + std::to_string(0700)),
                                 d / ("model" + std::to_string(0700)))
                  .error()
                  .code,
              os::Errc::exists);
    EXPECT_FALSE(sys().make_dir_like(d / "x", d / "no-such-model"));
    EXPECT_FALSE(exists(d / "x")) << "nothing made without a model";
}

TEST(PosixModes, APrivateDirectoryIsMadeOrTakenOnlyWhenItIsTrulyPrivate) {
    TempDir d, elsewhere;
    // Made.
    ASSERT_TRUE(sys().make_private_dir(d / "own"));
    EXPECT_EQ(mode_of(d / "own"), 0700u);
    EXPECT_TRUE(sys().make_private_dir(d / "own")) << "taken again";
    // Ours but opened to others: closed again.
    ASSERT_EQ(::chmod((d / "own").c_str(), 0777), 0);
    EXPECT_TRUE(sys().make_private_dir(d / "own"));
    EXPECT_EQ(mode_of(d / "own"), 0700u);
    // A link to somewhere else is refused, and that place left alone.
    ASSERT_EQ(::chmod(elsewhere.path().c_str(), 0755), 0);
    ASSERT_EQ(::symlink(elsewhere.path().c_str(), (d / "link").c_str()), 0);
    auto link = sys().make_private_dir(d / "link");
    ASSERT_FALSE(link);
    EXPECT_EQ(link.error().code, os::Errc::access);
    EXPECT_EQ(mode_of(elsewhere.path()), 0755u);
    // So is a file.
    write(d / "file", "x");
    EXPECT_FALSE(sys().make_private_dir(d / "file"));
    // And a directory of another user, where this process may change
    // owners (as root) to make one.
    ASSERT_EQ(::mkdir((d / "theirs").c_str(), 0700), 0);
    if (::chown((d / "theirs").c_str(), 65534, 65534) == 0) {
        auto theirs = sys().make_private_dir(d / "theirs");
        ASSERT_FALSE(theirs);
        EXPECT_NE(theirs.error().reason.find("another user"), std::string::npos);
    }
}

TEST(PosixModes, APrivateFileIsNewAndNeverWrittenThroughALink) {
    TempDir d, elsewhere;
    Umask wide(0);
    ASSERT_TRUE(sys().create_private(d / "list"));
    EXPECT_EQ(mode_of(d / "list"), 0600u);
    EXPECT_EQ(sys().create_private(d / "list").error().code, os::Errc::exists);
    write(elsewhere / "victim", "keep");
    ASSERT_EQ(::symlink((elsewhere / "victim").c_str(), (d / "planted").c_str()), 0);
    EXPECT_FALSE(sys().create_private(d / "planted"));
    EXPECT_EQ(read(elsewhere / "victim"), "keep");
}

TEST(PosixModes, AFileWithoutAnyWriteBitIsReadOnly) {
    TempDir d;
    write(d / "f", "x");
    for (auto [m, ro] : {std::pair{0444, true},
                         {0400, true},
                         {0000, true},
                         {0644, false},
                         {0464, false},
                         {0446, false}}) {
        ASSERT_EQ(::chmod((d / "f").c_str(), static_cast<mode_t>(m)), 0);
        EXPECT_EQ(sys().stat(d / "f")->read_only, ro) << std::oct << m;
    }
}

TEST(PosixSystem, AnEmptyVariableIsSetButEmpty) {
    ASSERT_EQ(::setenv("QM_TEST_EMPTY", "", 1), 0);
    ASSERT_EQ(::setenv("QM_TEST_TEXT", "Grüße", 1), 0);
    EXPECT_EQ(sys().env("QM_TEST_EMPTY"), std::optional<std::string>(""));
    EXPECT_EQ(sys().env("QM_TEST_TEXT"), std::optional<std::string>("Grüße"));
    ::unsetenv("QM_TEST_EMPTY");
    ::unsetenv("QM_TEST_TEXT");
}

}  // namespace
}  // namespace qm::test
