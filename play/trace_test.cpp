#include "play/trace.h"
#include "testing/trace_fields_for_tests.h"

#include <gtest/gtest.h>

#include <sstream>

namespace hopshot {
namespace {

using testing::traceArray;
using testing::traceField;
using testing::traceFields;

TEST(TraceJson, StringsEscapeWhatJsonNeedsAndPassUtf8Through) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"TARO", "\"TARO\""},
        {"", "\"\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"a\nb\rc\td", "\"a\\nb\\rc\\td\""},
        {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
        {"太郎 ＭＳ", "\"太郎 ＭＳ\""},
        {"\xf0\x9f\x8e\xaf", "\"\xf0\x9f\x8e\xaf\""},
        {"a\xff", "\"a\\ufffd\""},                // not UTF-8: replaced, the line stays JSON
        {"\xe5\xa4", "\"\\ufffd\\ufffd\""},       // a sequence cut off
        {"\xc0\xaf", "\"\\ufffd\\ufffd\""},       // overlong
        {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},   // a surrogate
    };
    for (const Case& c : cases) EXPECT_EQ(jsonString(c.in), c.out) << c.in;
}

TEST(TraceStepObject, HasEveryFieldInOrderWithFullTables) {
    World w;
    w.running = -1;
    w.timeLeft = 59;
    w.score = -1501;
    w.bombX = -5000;
    w.playerIn = {1, 0, 0, 1};
    w.tankHeading[3] = 160;
    w.hopperVY[20] = -7;
    w.bloodVZ[100] = 32767;
    w.bloodX[0] = -32768;
    std::ostringstream out;
    writeStepObject(out, 2, 17, w, 123456789012ULL, {0, 7});

    const std::string text = out.str();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\n'), text.size() - 1);   // one line
    EXPECT_EQ(text.find(' '), std::string::npos);
    const auto fields = traceFields(text.substr(0, text.size() - 1));

    const std::vector<std::pair<std::string, size_t>> expected = {
        {"game", 0}, {"step", 0}, {"running", 0}, {"timeLeft", 0}, {"score", 0},
        {"bloodBudget", 0}, {"flashTimer", 0}, {"flickerTimer", 0}, {"bombX", 0},
        {"bombZ", 0}, {"bombSpin", 0}, {"playerIn", 4}, {"tankHeading", 4},
        {"gunElevation", 4}, {"shellX", 4}, {"shellY", 4}, {"shellZ", 4}, {"shellVX", 4},
        {"shellVY", 4}, {"shellVZ", 4}, {"shellKind", 4}, {"steerX", 4}, {"steerY", 4},
        {"fireState", 4}, {"charge", 4}, {"damageTimer", 4}, {"hopperX", 21},
        {"hopperY", 21}, {"hopperZ", 21}, {"hopperVY", 21}, {"bloodX", 101}, {"bloodY", 101},
        {"bloodZ", 101}, {"bloodVX", 101}, {"bloodVY", 101}, {"bloodVZ", 101}, {"sounds", 2},
        {"draws", 0}};
    ASSERT_EQ(fields.size(), expected.size()) << text;
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(fields[i].first, expected[i].first);
        if (expected[i].second > 0) {
            EXPECT_EQ(traceArray(fields[i].second).size(), expected[i].second) << fields[i].first;
        }
    }
    EXPECT_EQ(traceField(fields, "game"), "2");
    EXPECT_EQ(traceField(fields, "step"), "17");
    EXPECT_EQ(traceField(fields, "running"), "-1");
    EXPECT_EQ(traceField(fields, "timeLeft"), "59");
    EXPECT_EQ(traceField(fields, "score"), "-1501");
    EXPECT_EQ(traceField(fields, "bombX"), "-5000");
    EXPECT_EQ(traceField(fields, "playerIn"), "[1,0,0,1]");
    EXPECT_EQ(traceArray(traceField(fields, "tankHeading"))[3], 160);
    EXPECT_EQ(traceArray(traceField(fields, "hopperVY"))[20], -7);
    EXPECT_EQ(traceArray(traceField(fields, "bloodVZ"))[100], 32767);
    EXPECT_EQ(traceArray(traceField(fields, "bloodX"))[0], -32768);
    EXPECT_EQ(traceField(fields, "sounds"), "[0,7]");
    EXPECT_EQ(traceField(fields, "draws"), "123456789012");
}

TEST(TraceEndObject, ShowsTheResultAndTheRecords) {
    World w;
    w.score = 1234;
    w.hiScoreSolo = 1234;
    w.hiNameSolo = "TARO";
    w.hiScoreCoop = -751;
    w.hiNameCoop = "花子 \"2\"";
    std::ostringstream out;
    writeEndObject(out, 1, 3000, w, {7});
    EXPECT_EQ(out.str(),
              "{\"game\":1,\"end\":true,\"steps\":3000,\"score\":1234,\"timeLeft\":0,"
              "\"sounds\":[7],\"hiScoreSolo\":1234,\"hiNameSolo\":\"TARO\","
              "\"hiScoreCoop\":-751,\"hiNameCoop\":\"花子 \\\"2\\\"\"}\n");

    std::ostringstream none;
    writeEndObject(none, 3, 0, World{}, {});
    EXPECT_NE(none.str().find("\"sounds\":[],"), std::string::npos) << none.str();
}

}  // namespace
}  // namespace hopshot
