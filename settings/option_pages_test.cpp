#include "settings/option_pages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host_link.h"
#include "tests/fake_host.h"

namespace plumeta {
namespace {

using testing::FakeHost;
using testing::RecordedCall;

const char kAuthor[] = "<author>";  // free wording, checked apart

struct Step {
    uint16_t size;
    uint32_t parent;
    uint32_t id;
    uint32_t kind;
    const char* text;  // null: no text
    uint32_t param;
    uint16_t w1, w2, x1;
};

const Step kStep1 = {74, 71, 267003, 0x10, "Plumeta", 267100, 0, 0, 0};
const Step kStep2 = {74, 267003, 0, 0xF0000, "Dodatkowe opcje Plumeta", 20, 0, 0, 0};
const Step kHistoryBox = {78, 267003, 0x13000000, 0x60000,
                          "Zapisuj zmiany opisu do historii\x01", 267600, 50, 0, 10};
const std::vector<Step> kMainPageHead = {
    {74, 46, 267000, 0x10, "Plumeta", 267100, 0, 0, 0},
    {74, 267000, 0, 0xF0000, "Informacje o wtyczce", 20, 0, 0, 0},
    {78, 267000, 0, 0x80000,
     "Wtyczka zapisuje zmiany status\xF3w oraz opis\xF3w uzytkownik\xF3w na li\x9C" "cie (oraz "
     "w\xB3" "asne) do historii.",
     267100, 0, 25, 0},
    {74, 267000, 0, 0x100000, nullptr, 0, 0, 0, 0},
    {74, 267000, 0, 0xF0000, "Opcje", 20, 0, 0, 0},
    {78, 267000, 0x11000000, 0x60000,
     "Zapisuj do historii\x01Po zaznaczeniu tej opcji zmiany status\xF3w zapisywane s\xB9 do "
     "historii",
     267602, 50, 0, 10},
    {78, 267000, 0x11000000, 0x60000,
     "Zapisuj do pliku\x01Po zaznaczeniu tej opcji zmiany status\xF3w zapisywane s\xB9 do pliku",
     267603, 50, 0, 10},
    {78, 267000, 0x11000000, 0x80B0040,
     "\x01Tutaj wpisz nazw\xEA pliku do kt\xF3rego b\xEA" "d\xB9 zapisywane statusy. UWAGA! Nie "
     "pisa\xE6 rozszerzenia, zostanie samo doklejone.",
     267604, 100, 0, 10},
    {74, 267000, 0, 0x90000, "Nazwa pliku (np statusy)", 0, 0, 0, 0},
    {78, 267000, 0x11000000, 0x80B0040, "\x01", 267605, 100, 0, 10},
    {74, 267000, 0, 0x90000, "Nazwa wy\x9Cwietlana w historii (np !Twoje opisy!)", 0, 0, 0, 0},
};
const std::vector<Step> kSpeechBoxes = {
    {78, 267000, 0x11000000, 0x60000,
     "Czytaj zmiany status\xF3w/opis\xF3w\x01Przy w\xB3\xB9" "czonej opcji wtyczka wsp\xF3pracuje "
     "z Gadacz'em by Tamberin",
     267607, 50, 0, 10},
    {78, 267003, 0x13000000, 0x60000, "Czytaj zmiany status\xF3w\x01", 267608, 100, 0, 10},
};
const std::vector<Step> kTail = {
    {74, 267000, 0, 0x100000, nullptr, 0, 0, 0, 0},
    {74, 267000, 0, 0xF0000, "Informacje", 40, 0, 0, 0},
    {78, 267000, 0, 0x80000, kAuthor, 0, 0, 40, 0},
    {74, 267000, 0, 0x100000, nullptr, 0, 0, 0, 0},
    {74, 267003, 0, 0x100000, nullptr, 0, 0, 0, 0},
};

std::vector<Step> Pages(const std::vector<Step>& recordingBox, bool speech) {
    std::vector<Step> steps = {kStep1, kStep2};
    steps.insert(steps.end(), recordingBox.begin(), recordingBox.end());
    steps.insert(steps.end(), kMainPageHead.begin(), kMainPageHead.end());
    if (speech) steps.insert(steps.end(), kSpeechBoxes.begin(), kSpeechBoxes.end());
    steps.insert(steps.end(), kTail.begin(), kTail.end());
    return steps;
}

void ExpectPages(const FakeHost& host, const std::vector<Step>& expected) {
    const std::vector<RecordedCall> items = host.Sent(10101);
    ASSERT_EQ(items.size(), expected.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE("element " + std::to_string(i));
        const OptionItem& item = items[i].item;
        const Step& step = expected[i];
        EXPECT_EQ(+item.size, step.size);
        EXPECT_EQ(+item.parent, step.parent);
        EXPECT_EQ(+item.id, step.id);
        EXPECT_EQ(+item.kind, step.kind);
        EXPECT_EQ(+item.param, step.param);
        EXPECT_EQ(+item.w1, step.w1);
        EXPECT_EQ(+item.w2, step.w2);
        EXPECT_EQ(+item.param2, 0u);
        EXPECT_EQ(+item.param3, 0u);
        EXPECT_EQ(+item.fixed10, 0xFFFFFFFEu);
        EXPECT_EQ(+item.fixed14, 0xFFFFFFFFu);
        EXPECT_EQ(+item.fixed30, 863u);
        EXPECT_EQ(+item.fixed38, 0xFFFFFFFFu);
        EXPECT_EQ(+item.fixed46, 0u);
        if (step.size == 78) {
            EXPECT_EQ(+item.x1, step.x1);
            EXPECT_EQ(+item.x2, 0);
        }
        if (!step.text) {
            EXPECT_TRUE(items[i].textNull);
        } else if (step.text == kAuthor) {
            EXPECT_NE(items[i].text.find("Plumeta"), std::string::npos) << items[i].text;
            EXPECT_NE(items[i].text.find("2026"), std::string::npos) << items[i].text;
        } else {
            EXPECT_EQ(items[i].text, step.text);
        }
    }
}

struct Switches {
    int32_t saveToHistory;
    int32_t saveToFile;
    int32_t speechAnswer;
};
void Build(FakeHost& host, const Switches& setup) {
    host.SetSetting(267602, setup.saveToHistory);
    host.SetSetting(267603, setup.saveToFile);
    host.onSend = [answer = setup.speechAnswer](const MessageRecord& m) {
        return m.header.id == 30010 && m.header.net == 78 ? answer : 1;
    };
    EXPECT_EQ(BuildOptionPages(), 1);
}

TEST(OptionPages, WholeSequenceWithSpeech) {
    FakeHost host;
    Build(host, {1, 0, 78});
    ExpectPages(host, Pages({kHistoryBox}, true));

    // The speech question is asked once, just before the main page's speech box.
    const std::vector<uint32_t> ids = host.SentIds();
    const std::vector<uint32_t> expectedIds = [] {
        std::vector<uint32_t> v(14, 10101);  // steps 1 to 14
        v.push_back(30010);
        v.insert(v.end(), 7, 10101);  // steps 15 to 21
        return v;
    }();
    EXPECT_EQ(ids, expectedIds);
    const RecordedCall question = host.Sent(30010)[0];
    EXPECT_EQ(+question.message.header.type, 0xFFFFFFFFu);
    EXPECT_EQ(+question.message.p1, 0u);
}

TEST(OptionPages, SpeechBoxesOnlyWhenTheSpeechPluginAnswers78) {
    for (int32_t answer : {0, 12, 267, 79}) {
        SCOPED_TRACE(answer);
        FakeHost host;
        Build(host, {1, 0, answer});
        ExpectPages(host, Pages({kHistoryBox}, false));
        EXPECT_EQ(host.Sent(30010).size(), 1u);
    }
}

TEST(OptionPages, RecordingBoxFollowsTheSwitches) {
    struct Row {
        Switches setup;
        std::vector<Step> box;
        std::vector<std::string> step3Reads;
    };
    const std::string H = "GetCell 0/0/267602", F = "GetCell 0/0/267603";
    const Step allZero = {78, 0, 0, 0, nullptr, 0, 0, 0, 0};
    Step fileBox = kHistoryBox;
    fileBox.text = "Zapisuj zmiany opisu do pliku\x01";
    Step bothBox = kHistoryBox;
    bothBox.text = "Zapisuj zmiany opisu do historii i pliku\x01";
    const Row rows[] = {
        {{0, 0, 78}, {allZero}, {H, F, H, F, H, H}},
        {{0, 1, 78}, {fileBox}, {H, F, H, F, H, H}},
        {{1, 0, 78}, {kHistoryBox}, {H, H, H, F, H, F}},
        {{1, 1, 78}, {bothBox}, {H, H, H, F, H, F}},
        {{2, 0, 78}, {}, {H, H, H, H}},
        {{1, 2, 78}, {}, {H, H, H, F, H, F}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.setup.saveToHistory) + "/" +
                     std::to_string(row.setup.saveToFile));
        FakeHost host;
        Build(host, row.setup);
        ExpectPages(host, Pages(row.box, true));
        std::vector<std::string> reads;
        for (const std::string& call : host.Trace()) {
            if (call.rfind("GetCell", 0) == 0) reads.push_back(call);
        }
        EXPECT_EQ(reads, row.step3Reads);
    }
}

}  // namespace
}  // namespace plumeta
