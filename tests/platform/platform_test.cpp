// The platform layer on real files, the same cases on every backend.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <thread>

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

const os::DirEntry* entry(const std::vector<os::DirEntry>& list, const std::string& name) {
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& e) { return e.name == name; });
    return it == list.end() ? nullptr : &*it;
}

// Over two chunks of a copy, so progress and cancel fall between chunks.
std::string big_data() {
    std::string s(9u << 20, '\0');
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(i * 131 % 251);
    return s;
}

TEST(Platform, ListDirGivesKindsAndHidesOnlyTheCopiesInProgress) {
    TempDir dir;
    write(dir / "plain.txt", "p");
    mkdirs(dir / "sub");
    // A temporary copy of the engine is hidden on every backend.
    ASSERT_TRUE(sys().copy_file(dir / "plain.txt", dir / ".qm-0123abcd.part", nullptr, true));
    auto list = sys().list_dir(dir.path());
    ASSERT_TRUE(list) << list.error().message();
    ASSERT_EQ(list->size(), 3u);
    const auto* plain = entry(*list, "plain.txt");
    const auto* sub = entry(*list, "sub");
    const auto* part = entry(*list, ".qm-0123abcd.part");
    ASSERT_TRUE(plain && sub && part);
    EXPECT_EQ(plain->kind, os::Kind::file);
    EXPECT_FALSE(plain->hidden);
    EXPECT_FALSE(plain->system);
    EXPECT_EQ(sub->kind, os::Kind::dir);
    EXPECT_FALSE(sub->hidden);
    EXPECT_EQ(part->kind, os::Kind::file);
    EXPECT_TRUE(part->hidden);
    EXPECT_TRUE(sys().stat(dir / ".qm-0123abcd.part")->hidden);

    // Its final name is not hidden.
    ASSERT_TRUE(sys().rename_replace(dir / ".qm-0123abcd.part", dir / "final.txt"));
    auto fin = sys().stat(dir / "final.txt");
    ASSERT_TRUE(fin);
    EXPECT_FALSE(fin->hidden);
    EXPECT_EQ(read(dir / "final.txt"), "p");
}

TEST(Platform, DetailedListingGivesWhatStatGives) {
    TempDir dir;
    write(dir / "a.txt", "twelve bytes");
    ASSERT_TRUE(sys().set_mtime(dir / "a.txt", {1'400'000'000, 500'000'000}));
    write(dir / "empty", "");
    mkdirs(dir / "sub");
    ASSERT_TRUE(sys().copy_file(dir / "a.txt", dir / ".qm-00000001.part", nullptr, false));
    auto list = sys().list_dir_detailed(dir.path(), {});
    ASSERT_TRUE(list) << list.error().message();
    ASSERT_EQ(list->size(), 4u);
    for (const auto& e : *list) {
        auto st = sys().stat(dir / e.name);
        ASSERT_TRUE(st) << e.name;
        EXPECT_EQ(e.kind, st->kind) << e.name;
        EXPECT_EQ(e.hidden, st->hidden) << e.name;
        EXPECT_EQ(e.system, st->system) << e.name;
        if (e.kind == os::Kind::file) {
            EXPECT_EQ(e.size, st->size) << e.name;
            EXPECT_EQ(e.mtime, st->mtime) << e.name;
        }
    }
    EXPECT_EQ(entry(*list, "sub")->kind, os::Kind::dir);
    const auto* a = entry(*list, "a.txt");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->size, 12u);
    EXPECT_EQ(a->mtime.sec, 1'400'000'000);
    EXPECT_TRUE(entry(*list, ".qm-00000001.part")->hidden);
    int calls = 0;
    auto stopped = sys().list_dir_detailed(dir.path(), [&] { return ++calls < 2; });
    ASSERT_FALSE(stopped);
    EXPECT_EQ(stopped.error().code, os::Errc::cancelled);
    EXPECT_EQ(calls, 2);
    auto missing = sys().list_dir_detailed(dir / "nothing", {});
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, os::Errc::not_found);
}

// A large directory, its names read in full before their entries are made:
// every entry once, with its own kind and length.
TEST(Platform, DetailedListingOfALargeDirectoryHasEveryEntryOnce) {
    TempDir dir;
    std::map<std::string, std::uint64_t> files;
    std::set<std::string> dirs;
    for (int i = 0; i < 4500; ++i) {
        // Long names: the read fills its buffer many times over.
        const std::string name = std::string(80, 'n') + "-" + std::to_string(i);
        if (i % 6 == 5) {
            mkdirs(dir / name);
            dirs.insert(name);
        } else {
            write(dir / name, std::string(static_cast<std::size_t>(i % 97), 'x'));
            files[name] = static_cast<std::uint64_t>(i % 97);
        }
    }
    auto list = sys().list_dir_detailed(dir.path(), {});
    ASSERT_TRUE(list) << list.error().message();
    EXPECT_EQ(list->size(), 4500u);
    std::set<std::string> seen;
    for (const auto& e : *list) {
        EXPECT_TRUE(seen.insert(e.name).second) << e.name << " listed twice";
        if (e.kind == os::Kind::file) {
            ASSERT_TRUE(files.count(e.name)) << e.name;
            EXPECT_EQ(e.size, files[e.name]) << e.name;
        } else {
            EXPECT_EQ(e.kind, os::Kind::dir) << e.name;
            EXPECT_TRUE(dirs.count(e.name)) << e.name;
        }
    }
    EXPECT_EQ(seen.size(), files.size() + dirs.size());
}

TEST(Platform, FlushingFilesKeepsThemAsTheyAre) {
    TempDir dir;
    mkdirs(dir / "sub");
    std::vector<std::string> few, many;
    for (int i = 0; i < 8; ++i) {
        const std::string p = dir / ((i % 2 ? "sub/f" : "f") + std::to_string(i));
        write(p, std::to_string(i));
        (i < 2 ? few : many).push_back(p);
    }
    EXPECT_TRUE(sys().flush_files({}));
    EXPECT_TRUE(sys().flush_files(few));
    EXPECT_TRUE(sys().flush_files(many));
    EXPECT_EQ(read(dir / "sub/f7"), "7");
    auto gone = sys().flush_files({dir / "no-such-file"});
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().code, os::Errc::not_found);
    std::vector<std::string> nowhere;
    for (int i = 0; i < 8; ++i) nowhere.push_back(dir / ("nothing/f" + std::to_string(i)));
    EXPECT_FALSE(sys().flush_files(nowhere));
}

// A failure part way through does not keep the rest from their turn.
TEST(Platform, EachStepRunsAndTheFirstFailureIsReported) {
    std::vector<std::string> ran;
    auto r = os::each_first_failure({"a", "b", "c", "d"}, [&](const std::string& s) -> os::Status {
        ran.push_back(s);
        if (s == "b" || s == "d")
            return std::unexpected(os::make_error(os::Errc::io, "flush", s, "failed"));
        return {};
    });
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c", "d"}));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().path, "b");
    EXPECT_TRUE(os::each_first_failure({}, [](const std::string&) -> os::Status { return {}; }));
}

TEST(Platform, AFlushOfManyFilesReportsTheFirstThatFailsAndKeepsTheFiles) {
    TempDir dir;
    for (std::size_t n : {3u, 8u}) {
        std::vector<std::string> paths;
        for (std::size_t i = 0; i < n; ++i) {
            const std::string p = dir / ("f" + std::to_string(n) + "-" + std::to_string(i));
            if (i != 1 && i != 2) write(p, "x");
            paths.push_back(i == 2 ? dir / "gone/f" : p);
        }
        auto r = sys().flush_files(paths);
        ASSERT_FALSE(r) << n;
        // A whole volume may be flushed for many files: then only the
        // missing directory is seen.
        if (n == 3) {
            EXPECT_EQ(r.error().path, paths[1]);
        }
        EXPECT_EQ(read(paths[0]), "x");
    }
}

// The source's version comes back with the copy; one that changes while
// it is read fails the copy, and nothing is left under the new name.
TEST(Platform, ACopyReturnsTheSourcesVersionAndFailsWhenTheSourceChangesMeanwhile) {
    TempDir dir;
    write(dir / "src.bin", big_data());
    set_mtime(dir / "src.bin", 1'600'000'000);
    auto state = sys().file_state(dir / "src.bin");
    ASSERT_TRUE(state);
    auto copied = sys().copy_file(dir / "src.bin", dir / "dst.bin", nullptr, false);
    ASSERT_TRUE(copied);
    EXPECT_EQ(*copied, *state);
    EXPECT_EQ(copied->size, big_data().size());
    auto other = sys().file_state(dir / "dst.bin");
    ASSERT_TRUE(other);
    EXPECT_NE(other->id, state->id);
    EXPECT_EQ(other->mtime, state->mtime);

    // Appended to, and rewritten in place with its length and time put back.
    int step = 0;
    auto grow = sys().copy_file(
        dir / "src.bin", dir / "grown.bin",
        [&](std::uint64_t, std::uint64_t) {
            if (step++ == 1) {
                EXPECT_TRUE(sys().append_file(dir / "src.bin", "more"));
            }
            return true;
        },
        true);
    ASSERT_FALSE(grow);
    EXPECT_EQ(grow.error().code, os::Errc::changed);
    EXPECT_EQ(grow.error().path, dir / "src.bin");
    EXPECT_FALSE(exists(dir / "grown.bin"));

    write(dir / "small.txt", "one");
    set_mtime(dir / "small.txt", 1'600'000'000);
    auto same = sys().copy_file(
        dir / "small.txt", dir / "same.txt",
        [&](std::uint64_t, std::uint64_t) {
            if (!exists(dir / "same.txt") || read(dir / "small.txt") == "two") return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            write(dir / "small.txt", "two");
            set_mtime(dir / "small.txt", 1'600'000'000);
            return true;
        },
        false);
    ASSERT_FALSE(same);
    EXPECT_EQ(same.error().code, os::Errc::changed);
    EXPECT_FALSE(exists(dir / "same.txt"));
}

TEST(Platform, TheParentOfAPathIsItsDirectory) {
    const std::string sep(1, os::separator());
    EXPECT_EQ(os::parent_of(sep + "a" + sep + "b"), sep + "a");
    EXPECT_EQ(os::parent_of(sep + "a"), sep);
    EXPECT_EQ(os::parent_of("name"), ".");
#ifdef _WIN32
    EXPECT_EQ(os::parent_of("C:\\a"), "C:\\");
    EXPECT_EQ(os::parent_of("C:\\a/b"), "C:\\a");
#endif
}

// Only a definite "no such file or directory" is an absence.
TEST(Platform, ALookUpTellsPresentAbsentOrCannotTell) {
    TempDir t;
    mkdirs(t / "d");
    write(t / "f", "x");
    EXPECT_EQ(answer(sys().probe(t / "d")), "true");
    EXPECT_EQ(answer(sys().probe(t / "f")), "true");
    EXPECT_EQ(answer(sys().probe(t / "missing")), "false");
    EXPECT_EQ(answer(sys().probe(t / "missing/below")), "false");
    EXPECT_EQ(answer(sys().probe(t / "f/below")), "false") << "a name below a plain file";
}

// A copy of a file's permissions: a file without write permission makes
// another one without; a writable one makes it writable again.
TEST(Platform, PermissionsAreCopiedAndReadOnlyIsSeen) {
    TempDir t;
    write(t / "writable", "w");
    write(t / "other", "o");
    EXPECT_FALSE(sys().stat(t / "writable").value().read_only);
    ASSERT_TRUE(sys().copy_permissions(t / "writable", t / "other"));
    EXPECT_FALSE(sys().stat(t / "other").value().read_only);
    EXPECT_FALSE(sys().copy_permissions(t / "missing", t / "other"));
    EXPECT_FALSE(sys().copy_permissions(t / "writable", t / "missing"));
}

TEST(Platform, ListDirOfAMissingDirectoryIsNotFoundAndAnEmptyOneIsEmpty) {
    TempDir dir;
    auto missing = sys().list_dir(dir / "nothing");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, os::Errc::not_found);
    EXPECT_NE(missing.error().message().find("nothing"), std::string::npos);
    mkdirs(dir / "empty");
    auto empty = sys().list_dir(dir / "empty");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

TEST(Platform, CopyKeepsTheModificationTimeExactlyAndTheBytes) {
    TempDir dir;
    const std::string data = big_data();
    write(dir / "src.bin", data);
    // A time with a fraction finer than a second (100 ns is the finest
    // Windows keeps).
    const os::FileTime t{1'650'000'123, 456'789'300};
    ASSERT_TRUE(sys().set_mtime(dir / "src.bin", t));
    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    auto r = sys().copy_file(
        dir / "src.bin", dir / "dst.bin",
        [&](std::uint64_t d, std::uint64_t n) {
            calls.emplace_back(d, n);
            return true;
        },
        false);
    ASSERT_TRUE(r) << r.error().message();
    auto s = sys().stat(dir / "dst.bin");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->mtime, t);
    EXPECT_EQ(s->size, data.size());
    EXPECT_TRUE(read(dir / "dst.bin") == data);
    EXPECT_EQ(sys().stat(dir / "src.bin")->mtime, t);
    // Called between chunks, counting up, and once at the end with all done.
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front().first, 0u);
    EXPECT_EQ(calls.back().first, data.size());
    for (const auto& c : calls) EXPECT_EQ(c.second, data.size());
    EXPECT_TRUE(std::is_sorted(calls.begin(), calls.end()));
}

// Small files and large ones take different ways through a copy.
TEST(Platform, CopiesOfEverySizeAreByteForByte) {
    TempDir dir;
    for (std::size_t size : {0u, 1u, 4095u, 65535u, 65536u, 65537u, (1u << 20) + 3u}) {
        SCOPED_TRACE(size);
        std::string data(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            data[i] = static_cast<char>((i * 131 + i / 251) & 0xff);
        const std::string src = dir / ("src" + std::to_string(size));
        const std::string dst = dir / ("dst" + std::to_string(size));
        write(src, data);
        ASSERT_TRUE(sys().copy_file(src, dst, nullptr, false));
        EXPECT_EQ(sys().stat(dst)->size, size);
        EXPECT_TRUE(read(dst) == data);
        EXPECT_EQ(sys().stat(dst)->mtime, sys().stat(src)->mtime);
    }
}

TEST(Platform, CopyNeverOverwritesAndLeavesNothingWhenTheSourceIsMissing) {
    TempDir dir;
    write(dir / "a", "new");
    write(dir / "b", "old");
    auto over = sys().copy_file(dir / "a", dir / "b", nullptr, true);
    ASSERT_FALSE(over);
    EXPECT_EQ(over.error().code, os::Errc::exists);
    EXPECT_EQ(read(dir / "b"), "old");

    auto missing = sys().copy_file(dir / "gone", dir / "c", nullptr, true);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, os::Errc::not_found);
    EXPECT_FALSE(exists(dir / "c"));

    auto fromDir = sys().copy_file(dir.path(), dir / "d", nullptr, true);
    EXPECT_FALSE(fromDir);
    EXPECT_FALSE(exists(dir / "d"));
}

TEST(Platform, ACancelledCopyLeavesNothing) {
    TempDir dir;
    write(dir / "src.bin", big_data());
    int calls = 0;
    auto r = sys().copy_file(
        dir / "src.bin", dir / "mid.bin",
        [&](std::uint64_t, std::uint64_t) {
            return ++calls < 2;  // cancels after the first chunk
        },
        true);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, os::Errc::cancelled);
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(exists(dir / "mid.bin"));

    auto first = sys().copy_file(
        dir / "src.bin", dir / "none.bin", [](std::uint64_t, std::uint64_t) { return false; },
        false);
    ASSERT_FALSE(first);
    EXPECT_FALSE(exists(dir / "none.bin"));
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"src.bin"});
}

TEST(Platform, RenameReplaceTakesThePlaceOfAnExistingFile) {
    TempDir dir;
    write(dir / "new", "fresh contents");
    write(dir / "old", "stale");
    ASSERT_TRUE(sys().set_mtime(dir / "new", {1'500'000'000, 0}));
    auto r = sys().rename_replace(dir / "new", dir / "old");
    ASSERT_TRUE(r) << r.error().message();
    EXPECT_EQ(read(dir / "old"), "fresh contents");
    EXPECT_EQ(sys().stat(dir / "old")->mtime.sec, 1'500'000'000);
    EXPECT_FALSE(exists(dir / "new"));
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"old"});

    auto gone = sys().rename_replace(dir / "new", dir / "old");
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().code, os::Errc::not_found);
    EXPECT_EQ(read(dir / "old"), "fresh contents");
}

TEST(Platform, TwoSpellingsOfOneDirectoryHaveOneIdentity) {
    TempDir dir;
    mkdirs(dir / "a/b");
    write(dir / "f", "x");
    auto plain = sys().identity(dir / "a");
    auto dotted = sys().identity(dir / "a/b/..");
    auto trailing = sys().identity(os::with_separator(dir / "a"));
    auto other = sys().identity(dir / "a/b");
    auto file = sys().identity(dir / "f");
    ASSERT_TRUE(plain && dotted && trailing && other && file);
    EXPECT_EQ(*plain, *dotted);
    EXPECT_EQ(*plain, *trailing);
    EXPECT_NE(*plain, *other);
    EXPECT_NE(*plain, *file);
    EXPECT_FALSE(sys().identity(dir / "missing"));
}

TEST(Platform, WholeFilesWriteAppendAndReadBack) {
    TempDir dir;
    const std::string p = dir / "log.txt";
    ASSERT_TRUE(sys().append_file(p, "one\r\n"));
    ASSERT_TRUE(sys().append_file(p, "two\r\n"));
    EXPECT_EQ(read(p), "one\r\ntwo\r\n");
    ASSERT_TRUE(sys().write_file(p, "short", true));
    EXPECT_EQ(read(p), "short");
    auto st = sys().stat(p);
    ASSERT_TRUE(st);
    EXPECT_EQ(st->kind, os::Kind::file);
    EXPECT_EQ(st->size, 5u);
    EXPECT_FALSE(sys().read_file(dir.path()));
    ASSERT_TRUE(sys().remove_file(p));
    EXPECT_FALSE(exists(p));
    EXPECT_EQ(sys().remove_file(p).error().code, os::Errc::not_found);
}

TEST(Platform, LocksShareOrExcludeAndEndWithTheirHolder) {
    TempDir d;
    const std::string lock = d / "run.lock";
    auto first = sys().lock_file(lock, false, false);
    ASSERT_TRUE(first && *first);
    auto second = sys().lock_file(lock, false, false);
    ASSERT_TRUE(second && *second) << "shared with shared";
    auto alone = sys().lock_file(lock, true, false);
    ASSERT_TRUE(alone);
    EXPECT_FALSE(*alone) << "no exclusive lock beside shared ones";
    first->reset();
    second->reset();
    alone = sys().lock_file(lock, true, false);
    ASSERT_TRUE(alone && *alone);
    auto shared = sys().lock_file(lock, false, false);
    ASSERT_TRUE(shared);
    EXPECT_FALSE(*shared) << "no shared lock beside an exclusive one";
    alone->reset();
    EXPECT_TRUE(exists(lock));
}

TEST(Platform, AFileIsReadPieceByPieceFromAnyOffset) {
    TempDir d;
    std::string data;
    for (int i = 0; i < 300000; ++i) data += static_cast<char>('a' + i % 26);
    write(d / "big", data);
    std::string again;
    for (std::uint64_t at = 0;;) {
        auto part = sys().read_part(d / "big", at, 65536);
        ASSERT_TRUE(part);
        if (part->empty()) break;
        EXPECT_LE(part->size(), 65536u);
        at += part->size();
        again += *part;
    }
    EXPECT_EQ(again, data);
    EXPECT_EQ(sys().read_part(d / "big", 299990, 100).value(), data.substr(299990));
    EXPECT_EQ(sys().read_part(d / "big", 400000, 100).value(), "");
    EXPECT_FALSE(sys().read_part(d / "missing", 0, 10));
}

TEST(Platform, RootsAndParentsOfEveryKindOfPath) {
    if (os::separator() == '/') {
        EXPECT_EQ(os::root_length("/"), 1u);
        EXPECT_EQ(os::root_length("/a/b"), 1u);
        EXPECT_EQ(os::root_length("a/b"), 0u);
        EXPECT_EQ(os::parent_of("/a/b"), "/a");
        EXPECT_EQ(os::parent_of("/a"), "/");
        EXPECT_EQ(os::parent_of("/"), "/");
        EXPECT_EQ(os::parent_of("name"), ".");
        return;
    }
    EXPECT_EQ(os::root_length("C:\\"), 3u);
    EXPECT_EQ(os::root_length("C:\\data\\x"), 3u);
    EXPECT_EQ(os::root_length("C:"), 2u);
    EXPECT_EQ(os::root_length("\\\\server\\share\\dir"), 15u);
    EXPECT_EQ(os::root_length("\\\\server\\share\\"), 15u);
    EXPECT_EQ(os::root_length("\\\\server\\share"), 14u);
    EXPECT_EQ(os::root_length("\\\\?\\C:\\x"), 7u);
    EXPECT_EQ(os::root_length("\\\\?\\UNC\\server\\share\\x"), 21u);
    EXPECT_EQ(os::root_length("rel\\x"), 0u);
    EXPECT_EQ(os::parent_of("C:\\data\\x"), "C:\\data");
    EXPECT_EQ(os::parent_of("C:\\data"), "C:\\");
    EXPECT_EQ(os::parent_of("C:\\"), "C:\\");
    EXPECT_EQ(os::parent_of("\\\\server\\share\\dir\\x"), "\\\\server\\share\\dir");
    EXPECT_EQ(os::parent_of("\\\\server\\share\\dir"), "\\\\server\\share\\");
    EXPECT_EQ(os::parent_of("\\\\server\\share\\"), "\\\\server\\share\\");
}

TEST(Platform, DrivesAndTheirRoots) {
    TempDir dir;
    const std::string vol = sys().volume_of(dir.path());
    ASSERT_FALSE(vol.empty());
    auto vols = sys().volumes();
    EXPECT_NE(std::find(vols.begin(), vols.end(), vol), vols.end());
    EXPECT_TRUE(sys().volume_ready(vol));
    // The volume's own directory, whether it is the system's root or a
    // mount of its own (a tmpfs /tmp, say); a drive root keeps its "\".
    const std::string root = sys().volume_root(vol);
    EXPECT_EQ(sys().volume_of(root), vol);
    if (os::separator() == '\\') {
        EXPECT_EQ(root.back(), os::separator());
    }
    EXPECT_TRUE(sys().list_dir(root));
    EXPECT_EQ(sys().volume_of(os::placeholder_root()),
              sys().volume_of(os::placeholder_root() + "x"));
}

TEST(Platform, ProcessFacts) {
    auto prog = sys().program_dir();
    ASSERT_TRUE(prog);
    EXPECT_NE(prog->back(), os::separator());
    EXPECT_EQ(sys().stat(*prog)->kind, os::Kind::dir);
    const std::string tmp = sys().temp_dir();
    EXPECT_EQ(sys().stat(tmp)->kind, os::Kind::dir);
    EXPECT_FALSE(sys().env("QM_SURELY_UNSET_VARIABLE_42"));
    EXPECT_TRUE(sys().env("PATH"));
    auto t = sys().local_time();
    EXPECT_GE(t.year, 2024);
    EXPECT_TRUE(t.month >= 1 && t.month <= 12);
    // Text survives the way to a file and back.
    EXPECT_EQ(os::text_from_file(os::text_to_file("Source:C:\\data\r\n")), "Source:C:\\data\r\n");
}

}  // namespace
}  // namespace qm::test

namespace qm::test {
namespace {

// A volume that is not there leaves its mount point behind, empty, or
// takes it away: neither is a directory gone from a volume that is there.
TEST(MountPoints, APathIsOnAMissingVolumeOnlyBelowAMountPointWithNothingMounted) {
    const std::vector<std::string> listed{"/", "/boot", "/mnt/backup", "none"};
    const std::vector<std::string> mounted{"/", "/boot", "/media/ann/STICK", "/media/cdrom",
                                           "/run/media/bob/SD"};
    struct Case {
        const char* path;
        bool missing;
    };
    for (const Case& c : std::vector<Case>{
             {"/home/ann/photos", false},
             {"/boot/grub", false},
             {"/mnt/backup", true},
             {"/mnt/backup/photos", true},
             {"/mnt/backupx/photos", false},
             {"/mnt/other", false},
             {"/media/ann/STICK/photos", false},
             {"/media/ann/OLD/photos", true},
             {"/media/cdrom/x", false},
             {"/run/media/bob/SD/dcim", false},
             {"/run/media/bob/CARD/dcim", true},
             {"/run/media/bob", false},
         }) {
        EXPECT_EQ(os::below_missing_mount(c.path, listed, mounted), c.missing) << c.path;
    }
    // Mounted now: the same paths are on a volume that is there.
    EXPECT_FALSE(os::below_missing_mount("/mnt/backup/photos", listed, {"/", "/mnt/backup/"}));
}

}  // namespace
}  // namespace qm::test
