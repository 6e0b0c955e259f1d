#include "records/records.h"

#include <gtest/gtest.h>

#include <random>

#include <csignal>
#include <cstring>
#include <iterator>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hopshot {
namespace {

namespace fs = std::filesystem;

TEST(RecordsFile, WritesFourLinesEndedByCrLf) {
    EXPECT_EQ(formatRecords({"TARO", 12345, "HANAKO", 800}), "TARO\r\n 12345\r\nHANAKO\r\n 800\r\n");
    EXPECT_EQ(formatRecords({"", 0, "", -751}), "\r\n 0\r\n\r\n-751\r\n");
}

TEST(RecordsFile, ReadsFieldsByTheFilesRules) {
    struct Case { const char* name; std::string text; Records expected; };
    const Case cases[] = {
        {"plain", "TARO\r\n 12345\r\nHANAKO\r\n 800\r\n", {"TARO", 12345, "HANAKO", 800}},
        {"bare line feeds", "A\n1\nB\n2\n", {"A", 1, "B", 2}},
        {"leading blanks of a name are skipped", "   TARO\r\n5\r\nX\r\n6\r\n", {"TARO", 5, "X", 6}},
        {"a name ends at its first comma; the rest is the score", "TA,RO\r\n 7\r\n",
         {"TA", 0, "7", 0}},
        {"quoted names keep commas and leading blanks", "\"  A, B\"\r\n 9\r\n\"C\"\r\n-3\r\n",
         {"  A, B", 9, "C", -3}},
        {"blanks around a score are ignored", "N\r\n   42   \r\nM\r\n-7 \r\n", {"N", 42, "M", -7}},
        {"a score that is not a whole number reads as 0, the rest still loads",
         "N\r\n12abc\r\nM\r\n 99\r\n", {"N", 0, "M", 99}},
        {"an overlong score reads as 0", "N\r\n99999999999\r\nM\r\n1\r\n", {"N", 0, "M", 1}},
        {"empty names", "\r\n 0\r\n\r\n 10\r\n", {"", 0, "", 10}},
        {"a short file keeps the missing fields empty", "ONLY\r\n 5\r\n", {"ONLY", 5, "", 0}},
        {"Japanese names", "たろう\r\n 100\r\n花子\r\n 50\r\n", {"たろう", 100, "花子", 50}},
        {"empty file", "", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(parseRecords(c.text), c.expected) << c.name;
}

TEST(RecordsFile, NamesComeBackAsTypedAfterSaveAndLoad) {
    const std::string names[] = {"TARO", "", "  spaced", "a,b,c", "trailing  ", "日本語 の 名前",
                                 "x,", ",", "TA\"RO"};
    for (const std::string& n : names) {
        const Records r{n, -12, n, 2147483647};
        EXPECT_EQ(parseRecords(formatRecords(r)), r) << n;
    }
}

// Any name the prompt takes and any score come back from the file as they went in.
TEST(RecordsFile, SaveThenLoadGivesBackEveryNameAndScore) {
    const std::vector<std::string> pieces = {
        "A", "z", "0", " ", "  ", ",", ", ", "'", "#", "\t", "-", "たろう", "花子", "ー", "！",
        "Ｓｃｏｒｅ", "é", "😀", "\\", ";", "TARO", "  lead", "trail  "};
    std::mt19937 gen(2024);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(gen); };
    auto name = [&] {
        std::string n;
        for (size_t k = pick(6); k > 0; --k) n += pieces[pick(pieces.size())];
        return n;
    };
    auto score = [&] {
        return std::uniform_int_distribution<int32_t>(INT32_MIN, INT32_MAX)(gen);
    };
    for (int i = 0; i < 2000; ++i) {
        const Records r{name(), score(), name(), i % 7 == 0 ? 0 : score()};
        ASSERT_TRUE(nameRoundTrips(r.nameSolo) && nameRoundTrips(r.nameCoop));
        const Records back = parseRecords(formatRecords(r));
        ASSERT_EQ(back, r) << "[" << r.nameSolo << "] [" << r.nameCoop << "]";
    }
}

// Whatever the file holds, loading gives four values and never fails or crashes.
TEST(RecordsFile, BadFilesLoadWithoutTrouble) {
    std::string binary;
    for (int b = 0; b < 256; ++b) binary += char(b);
    struct Case { const char* name; std::string text; Records expected; };
    const Case cases[] = {
        {"empty", "", {}},
        {"one name, no line end", "TARO", {"TARO", 0, "", 0}},
        {"short", "TARO\r\n 5\r\n", {"TARO", 5, "", 0}},
        {"garbage scores", "A\r\nabc\r\nB\r\n1e5\r\n", {"A", 0, "B", 0}},
        {"a quote never closed", "\"TARO\r\n 5\r\n", {"TARO\r\n 5\r\n", 0, "", 0}},
        {"only line ends", "\r\n\r\n\r\n\r\n\r\n\r\n", {}},
        {"extra lines are ignored", "A\r\n1\r\nB\r\n2\r\nC\r\n3\r\n", {"A", 1, "B", 2}},
    };
    for (const Case& c : cases) EXPECT_EQ(parseRecords(c.text), c.expected) << c.name;
    // No expectations on the values here, only that nothing breaks.
    const std::string huge(2'000'000, 'x');
    for (const std::string& text : {huge, huge + "\r\n 1\r\n" + huge + "\r\n 2\r\n", binary,
                                    binary + binary + "\r\n"}) {
        const Records r = parseRecords(text);
        EXPECT_LE(r.nameSolo.size(), text.size());
    }
    const Records hugeName = parseRecords(huge + "\r\n 1\r\nB\r\n 2\r\n");
    EXPECT_EQ(hugeName.nameSolo.size(), huge.size());
    EXPECT_EQ(hugeName.scoreCoop, 2);
}

TEST(RecordsFile, ThePromptRefusesWhatCannotComeBack) {
    EXPECT_TRUE(nameRoundTrips("TARO, JR"));
    EXPECT_TRUE(nameRoundTrips(" lead"));
    EXPECT_FALSE(nameRoundTrips("\"quoted\""));
    EXPECT_FALSE(nameRoundTrips("TA\"RO"));
}

class RecordsDir : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("hopshot-records-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }
    std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path dir_;
};

TEST_F(RecordsDir, AMissingFileGivesEmptyRecords) {
    Records r{"X", 1, "Y", 2};
    std::string error;
    EXPECT_TRUE(loadRecords((dir_ / "gun3.x").string(), r, error));
    EXPECT_EQ(r, Records{});
}

TEST_F(RecordsDir, AFileThatCannotBeReadIsAnErrorNamingIt) {
    // A directory by the file's name opens but cannot be read: no empty records in its place.
    const std::string path = (dir_ / "gun3.x").string();
    fs::create_directory(path);
    Records r{"X", 1, "Y", 2};
    std::string error;
    EXPECT_FALSE(loadRecords(path, r, error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
}

TEST_F(RecordsDir, SaveReplacesTheFileWhole) {
    const std::string path = (dir_ / "gun3.x").string();
    std::ofstream(path) << "OLD\r\n 1\r\nOLD\r\n 1\r\nmore junk\r\n";
    std::string error;
    ASSERT_TRUE(saveRecords(path, {"TARO", 12345, "HANAKO", 800}, error)) << error;
    EXPECT_EQ(read(path), "TARO\r\n 12345\r\nHANAKO\r\n 800\r\n");
    Records back;
    ASSERT_TRUE(loadRecords(path, back, error));
    EXPECT_EQ(back, (Records{"TARO", 12345, "HANAKO", 800}));
    // Nothing else is left in the directory: the temporary file was renamed over the old one.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

// The old file is never written in place: whoever still reads it (a save cut short by a crash
// or a power cut leaves just that) finds the old records whole.
TEST_F(RecordsDir, SavingNeverTouchesTheOldFilesContent) {
    const std::string path = (dir_ / "gun3.x").string();
    const std::string old = "OLD\r\n 1\r\nOLD\r\n 2\r\n";
    std::ofstream(path) << old;
    std::ifstream held(path, std::ios::binary);   // the old file, as it was
    std::string error;
    ASSERT_TRUE(saveRecords(path, {"NEW", 9, "NEW", 9}, error)) << error;
    std::ostringstream seen;
    seen << held.rdbuf();
    EXPECT_EQ(seen.str(), old);
    EXPECT_EQ(read(path), "NEW\r\n 9\r\nNEW\r\n 9\r\n");
}

TEST_F(RecordsDir, AFailedSaveNamesThePathAndLeavesTheOldFileWhole) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
    const std::string path = (dir_ / "gun3.x").string();
    std::ofstream(path) << "OLD\r\n 1\r\nOLD\r\n 2\r\n";
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    std::string error;
    EXPECT_FALSE(saveRecords(path, {"NEW", 9, "NEW", 9}, error));
    EXPECT_NE(error.find(path), std::string::npos);
    EXPECT_EQ(read(path), "OLD\r\n 1\r\nOLD\r\n 2\r\n");
}

TEST_F(RecordsDir, AFailedSaveIntoAMissingPlaceIsReported) {
    // A file where the directory should be: nothing can be created below it.
    std::ofstream(dir_ / "blocker") << "x";
    const std::string path = (dir_ / "blocker" / "gun3.x").string();
    std::string error;
    EXPECT_FALSE(saveRecords(path, {"A", 1, "B", 2}, error));
    EXPECT_NE(error.find(path), std::string::npos);
}

TEST_F(RecordsDir, AWritableProgramDirectoryKeepsTheFile) {
    const RecordsPlace place = recordsPlace(dir_.string());
    EXPECT_EQ(place.readPath, (dir_ / "gun3.x").string());
    EXPECT_EQ(place.writePath, place.readPath);
}

TEST_F(RecordsDir, AnUnwritableProgramDirectoryUsesTheDataDirectory) {
    const fs::path program = dir_ / "program";
    const fs::path data = dir_ / "data";
    fs::create_directories(program);
    std::ofstream(program / "gun3.x") << "SHIPPED\r\n 5\r\n\r\n 0\r\n";
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    RecordsPlace place = recordsPlace(program.string(), false);
    EXPECT_EQ(place.readPath, (program / "gun3.x").string());   // until the data one exists
    EXPECT_EQ(place.writePath, (data / "hopshot" / "gun3.x").string());
    std::string error;
    ASSERT_TRUE(saveRecords(place.writePath, {"NEW", 7, "", 0}, error)) << error;   // makes the folder
    place = recordsPlace(program.string(), false);
    EXPECT_EQ(place.readPath, place.writePath);
    ::unsetenv("XDG_DATA_HOME");
}

TEST_F(RecordsDir, AFailedRenameLeavesNoTemporaryFileBehind) {
    const fs::path target = dir_ / "gun3.x";
    fs::create_directories(target / "occupied");   // a directory stands where the file should go
    std::string error;
    EXPECT_FALSE(saveRecords(target.string(), {"A", 1, "B", 2}, error));
    EXPECT_NE(error.find(target.string()), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

// Whatever name the game holds (the headless `name` line takes any text), the file it writes
// reads back as the same two records, the name cleaned only where quoting cannot carry it.
TEST(RecordsFile, AnyHeldNameReadsBackAndNeverCostsTheOtherRecord) {
    struct Case { std::string held, stored; };
    const Case cases[] = {
        {"TA\nRO", "TA RO"},         {"TA\rRO", "TA RO"},      {"\r\n", "  "},
        {"\"TARO", "'TARO"},         {"\"", "'"},              {"\"a,b\"", "'a,b'"},
        {" \"x\"", " 'x'"},          {"a,\"b", "a,'b"},        {"TA\"RO", "TA\"RO"},
        {"x\"\r\n,y", "x'  ,y"},      {"a\n\"b", "a \"b"},      {"plain", "plain"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(storedName(c.held), c.stored) << c.held;
        const Records solo{c.held, 1234, "COOP", -751};
        EXPECT_EQ(parseRecords(formatRecords(solo)), (Records{c.stored, 1234, "COOP", -751})) << c.held;
        const Records coop{"SOLO", 99, c.held, 800};
        EXPECT_EQ(parseRecords(formatRecords(coop)), (Records{"SOLO", 99, c.stored, 800})) << c.held;
    }
    // Names the prompt takes are never changed.
    for (const char* n : {"TARO", " lead", "a,b", "日本語", "trail "})
        EXPECT_EQ(storedName(n), n);
}

// A kill during a save leaves mkstemp's file beside the intact old one; the next start removes
// such leftovers, and only those.
TEST_F(RecordsDir, LeftoversOfCutOffSavesAreRemovedAtTheNextStart) {
    const fs::path target = dir_ / "gun3.x";
    std::ofstream(target) << "OLD\r\n 5\r\n\r\n 0\r\n";
    const char* leftovers[] = {"gun3.x.AbC123", "gun3.x.000000"};
    const char* kept[] = {"gun3.x.bak", "gun3.x.AbC12", "gun3.x.AbC1234", "gun3.y.AbC123", "other"};
    for (const char* n : leftovers) std::ofstream(dir_ / n) << "half";
    for (const char* n : kept) std::ofstream(dir_ / n) << "keep";
    fs::create_directories(dir_ / "gun3.x.Dir123");   // not a file: left alone
    EXPECT_EQ(removeSaveLeftovers(target.string()), 2);
    for (const char* n : leftovers) EXPECT_FALSE(fs::exists(dir_ / n)) << n;
    for (const char* n : kept) EXPECT_TRUE(fs::exists(dir_ / n)) << n;
    Records r;
    std::string error;
    ASSERT_TRUE(loadRecords(target.string(), r, error));
    EXPECT_EQ(r, (Records{"OLD", 5, "", 0}));
}

// A save cut short by the file size limit (as by a full disk) says what stopped it, never
// "Success", and the old file stays whole.
TEST_F(RecordsDir, ASaveThatWrotePartOfTheFileSaysWhatWentWrong) {
    const fs::path target = dir_ / "gun3.x";
    const std::string old = "OLD\r\n 5\r\n\r\n 0\r\n";
    std::ofstream(target) << old;
    struct rlimit before {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    struct rlimit small = before;
    small.rlim_cur = 8;   // bytes: the first write stops part way
    auto* const oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool saved = saveRecords(target.string(), {"A LONG NAME", 123456, "COOP", 7}, error);
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_EQ(error.find("Success"), std::string::npos) << error;
    EXPECT_NE(error.find(std::strerror(EFBIG)), std::string::npos) << error;
    EXPECT_NE(error.find("8 of 32 bytes written"), std::string::npos) << error;
    std::ifstream in(target, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace hopshot
