// What a copy may not do to the user's files: replace one the user made
// read-only; and how times are judged on volumes that cannot store them
// exactly. List files stay private and do not outlive a run cut short.
#include <filesystem>

#include "engine/names.h"
#include "fixture.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;
using engine::detail::TimeRule;

using PrivacyTest = EngineTest;

void make_read_only(const std::string& path) {
    fs::permissions(fs::u8path(path),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

TEST_F(PrivacyTest, AReadOnlyTargetIsNeitherReplacedNorCountedAndTheLogSaysSo) {
    for (bool move : {false, true}) {
        SCOPED_TRACE(move ? "move mode" : "copy mode");
        load({{"s", "t", "NO"}});
        if (move) form->Movefiles_Click();
        file("s/kept.txt", "new content");
        file("s/other.txt", "other");
        file("t/kept.txt", "the user's own", kTime - 60);
        make_read_only(data / "t/kept.txt");
        run();
        // Held also when the program runs with every right (root, or an
        // administrator): the read-only mark is the user's wish.
        EXPECT_EQ(at("t/kept.txt"), "the user's own");
        EXPECT_EQ(mtime("t/kept.txt"), kTime - 60);
        EXPECT_TRUE(os::native().stat(data / "t/kept.txt")->read_only);
        EXPECT_EQ(at("s/kept.txt"), "new content") << "its source stays";
        EXPECT_EQ(at("t/other.txt"), "other");
        EXPECT_EQ(has("s/other.txt"), !move);
        const auto said = logWith("read-only");
        ASSERT_EQ(said.size(), 1u);
        EXPECT_NE(said[0].find(data / "s/kept.txt"), std::string::npos) << said[0];
        EXPECT_NE(said[0].find(data / "t/kept.txt"), std::string::npos) << said[0];
        EXPECT_EQ(logWith("files copied/moved"), std::vector<std::string>{copiedLine(1)})
            << "the refused copy is not counted";
        EXPECT_TRUE(temporaries("t").empty());
        remove_tree(data / "s");
        remove_tree(data / "t");
        remove_tree(prog / "syncfile.log");
    }
}

// The copy keeps the source's mark, which the run's own later steps (the
// rename into place, the flush, the move's delete) take in their stride;
// later runs then leave the copy as the user's own read-only file.
TEST_F(PrivacyTest, AReadOnlySourceMakesAReadOnlyCopy) {
    for (bool move : {false, true}) {
        SCOPED_TRACE(move ? "move mode" : "copy mode");
        load({{"s", "t", "YES"}});
        if (move) form->Movefiles_Click();
        file("s/ro.txt", "read-only");
        file("s/sub/deep.txt", "deep");
        file("t/old.txt", "the target's own");
        file("s/old.txt", "read-only over a writable one", kTime + 10);
        make_read_only(data / "s/ro.txt");
        make_read_only(data / "s/sub/deep.txt");
        make_read_only(data / "s/old.txt");
        run();
        for (const char* f : {"ro.txt", "sub/deep.txt", "old.txt"}) {
            SCOPED_TRACE(f);
            const auto st = os::native().stat(data / (std::string("t/") + f));
            ASSERT_TRUE(st);
            EXPECT_TRUE(st->read_only);
            EXPECT_FALSE(st->hidden);
            EXPECT_EQ(has(std::string("s/") + f), !move);
        }
        EXPECT_EQ(at("t/ro.txt"), "read-only");
        EXPECT_EQ(mtime("t/ro.txt"), kTime);
        EXPECT_EQ(at("t/old.txt"), "read-only over a writable one");
        EXPECT_EQ(log(), (std::vector<std::string>{copiedLine(2), copiedLine(1)}));
        EXPECT_TRUE(temporaries("t").empty());
        EXPECT_TRUE(temporaries("t/sub").empty());

        // Nothing to do while the source stays as it is.
        run();
        EXPECT_EQ(log().size(), 2u);
        remove_tree(data / "s");
        remove_tree(data / "t");
        remove_tree(prog / "syncfile.log");
    }
}

TEST_F(PrivacyTest, AWritableTargetIsReplacedAsBefore) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "new");
    file("t/a.txt", "old", kTime - 1);
    run();
    EXPECT_EQ(at("t/a.txt"), "new");
    EXPECT_EQ(mtime("t/a.txt"), kTime);
    EXPECT_TRUE(logWith("read-only").empty());
}

// -- times on volumes that round them -------------------------------------------

TEST(TimeRules, EachRuleStoresItsOwnSecond) {
    using R = TimeRule::Round;
    const os::FileTime odd{1'000'001, 400'000'000}, oddLate{1'000'001, 600'000'000},
        whole{1'000'001, 0}, even{1'000'000, 0};
    EXPECT_EQ(stored_second(TimeRule{}, odd), 1'000'001);
    EXPECT_EQ(stored_second(TimeRule{1, R::up}, odd), 1'000'002);
    EXPECT_EQ(stored_second(TimeRule{1, R::up}, whole), 1'000'001);
    EXPECT_EQ(stored_second(TimeRule{1, R::nearest}, odd), 1'000'001);
    EXPECT_EQ(stored_second(TimeRule{1, R::nearest}, oddLate), 1'000'002);
    EXPECT_EQ(stored_second(TimeRule{2, R::down}, odd), 1'000'000);
    EXPECT_EQ(stored_second(TimeRule{2, R::down}, even), 1'000'000);
    EXPECT_EQ(stored_second(TimeRule{2, R::up}, odd), 1'000'002);
    EXPECT_EQ(stored_second(TimeRule{2, R::up}, even), 1'000'000);
    EXPECT_EQ(stored_second(TimeRule{2, R::nearest}, whole), 1'000'002);
    EXPECT_EQ(stored_second(TimeRule{2, R::nearest}, {1'000'000, 900'000'000}), 1'000'000);
    // Before 1970 too.
    EXPECT_EQ(stored_second(TimeRule{2, R::down}, {-3, 0}), -4);
    EXPECT_EQ(stored_second(TimeRule{2, R::up}, {-3, 0}), -2);
}

TEST(TimeRules, TheProbeTellsEveryRuleApartAndNothingElseFits) {
    using R = TimeRule::Round;
    for (int step : {1, 2}) {
        for (R round : {R::down, R::up, R::nearest}) {
            const TimeRule rule{step, round};
            std::vector<os::FileTime> stored;
            for (const auto& t : engine::detail::probe_times())
                stored.push_back({stored_second(rule, t), 0});
            EXPECT_EQ(engine::detail::infer_rule(stored), rule) << step << " " << int(round);
        }
    }
    // A volume that kept nothing, or kept a time far off, has no rule.
    EXPECT_FALSE(engine::detail::infer_rule({}));
    EXPECT_FALSE(engine::detail::infer_rule({{0, 0}, {0, 0}, {0, 0}}));
}

TEST_F(PrivacyTest, OnAVolumeOfEvenSecondsASecondRunCopiesNothing) {
    load({{"s", "t", "YES"}});
    eos.evenSeconds = true;
    file("s/odd.txt", "odd", kTime + 1);
    file("s/even.txt", "even", kTime);
    file("s/sub/deep.txt", "deep", kTime + 3);
    run();
    EXPECT_EQ(mtime("t/odd.txt"), kTime) << "the volume kept its own time";
    EXPECT_EQ(mtime("t/sub/deep.txt"), kTime + 2);
    eos.copied.clear();
    run();
    EXPECT_TRUE(eos.copied.empty()) << eos.copied.front();
    // Every probe file is gone again.
    EXPECT_TRUE(temporaries("t").empty());
    EXPECT_TRUE(temporaries("t/sub").empty());
}

TEST_F(PrivacyTest, OnAVolumeOfEvenSecondsOnlyItsOwnRoundingIsAllowed) {
    load({{"s", "t", "NO"}});
    eos.evenSeconds = true;
    // Same lengths; the target times are not what the volume stores for
    // the source's: one second later, and two seconds earlier.
    file("s/later.txt", "AAAA", kTime + 1);
    file("t/later.txt", "BBBB", kTime + 2);
    file("s/earlier.txt", "CCCC", kTime + 3);
    file("t/earlier.txt", "DDDD", kTime);
    run();
    EXPECT_EQ(at("t/later.txt"), "AAAA");
    EXPECT_EQ(at("t/earlier.txt"), "CCCC");
}

TEST_F(PrivacyTest, OnAnExactVolumeOneSecondStillMakesADifference) {
    load({{"s", "t", "NO"}});
    file("s/a.txt", "AAAA", kTime + 1);
    file("t/a.txt", "BBBB", kTime);
    run();
    EXPECT_EQ(at("t/a.txt"), "AAAA");
    EXPECT_EQ(mtime("t/a.txt"), kTime + 1);
}

TEST_F(PrivacyTest, InMoveModeASourceOnAVolumeOfEvenSecondsIsDeletedOnceItsCopyIsChecked) {
    load({{"s", "t", "YES"}});
    form->Movefiles_Click();
    eos.evenSeconds = true;
    file("s/odd.txt", "odd", kTime + 1);
    file("s/sub/deep.txt", "deep", kTime + 3);
    run();
    EXPECT_EQ(at("t/odd.txt"), "odd");
    EXPECT_EQ(at("t/sub/deep.txt"), "deep");
    EXPECT_FALSE(has("s/odd.txt"));
    EXPECT_FALSE(has("s/sub/deep.txt"));
    EXPECT_TRUE(logWith("kept").empty()) << logWith("kept").front();
}

// -- list files ---------------------------------------------------------------------

TEST_F(PrivacyTest, ListFilesLeftByARunCutShortAreRemovedByTheNextRun) {
    TempDir temp;
    eos.temp = temp.path();
    eos.lists = std::nullopt;
    load({{"s", "t", "NO"}});
    const std::string own = temp / os::own_temp_name();
    mkdirs(own);
    write(os::join(own, "01234567.DIR"), "C:\\left\\behind\r\n");
    write(os::join(own, "notes.txt"), "not a list");
    file("s/a.txt", "a");
    run();
    EXPECT_EQ(at("t/a.txt"), "a");
    auto left = names(own);
    EXPECT_EQ(std::count(left.begin(), left.end(), "01234567.DIR"), 0);
    EXPECT_EQ(std::count(left.begin(), left.end(), "notes.txt"), 1) << "only lists are removed";
    remove_tree(own);
}

TEST_F(PrivacyTest, TheListsOfARunStillGoingAreLeftAlone) {
    TempDir temp;
    eos.temp = temp.path();
    eos.lists = std::nullopt;
    load({{"s", "t", "NO"}});
    const std::string own = temp / os::own_temp_name();
    ASSERT_TRUE(os::native().make_private_dir(own));
    // Another instance, in the middle of its run, holds its share.
    auto other = os::native().lock_file(os::join(own, "run.lock"), false, true);
    ASSERT_TRUE(other && *other);
    write(os::join(own, "76543210.DIR"), "theirs\r\n");
    file("s/a.txt", "a");
    run();
    EXPECT_EQ(at("t/a.txt"), "a");
    EXPECT_EQ(read(os::join(own, "76543210.DIR")), "theirs\r\n");
    other->reset();
    remove_tree(own);
}

TEST_F(PrivacyTest, NamesOutsideAnyCodePageSurviveTheListFiles) {
    load({{"s", "t", "YES"}});
    file("s/\xC5\x81ukasz/\xE6\x97\xA5\xE6\x9C\xAC/a.txt", "a");
    file("s/caf\xC3\xA9/b.txt", "b");
    std::string sourceList;
    runWith([&] { sourceList = read(lists / form->engine().SourceListName); },
            [&] { return inFileLoop(); });
    EXPECT_EQ(at("t/\xC5\x81ukasz/\xE6\x97\xA5\xE6\x9C\xAC/a.txt"), "a");
    EXPECT_EQ(at("t/caf\xC3\xA9/b.txt"), "b");
    // UTF-8 in the file, on every system.
    EXPECT_NE(sourceList.find("\xC5\x81ukasz" + std::string(1, os::separator()) +
                              "\xE6\x97\xA5\xE6\x9C\xAC\r\n"),
              std::string::npos)
        << sourceList;
    EXPECT_TRUE(logWith("skipped").empty());
}

}  // namespace
}  // namespace qm::test
