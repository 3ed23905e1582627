#include "settings/option_pages.h"

#include "host/host_link.h"
#include "settings/columns.h"

namespace plumeta {
namespace {

constexpr uint32_t kMainNode = 46;
constexpr uint32_t kContactNode = 71;

enum class SentWith : uint8_t { Group, Item, ItemEx };
enum class When : uint8_t {
    Always,
    RecordingBox,   // the contact page's check box, worded after the switches
    SpeechPresent,  // only when the speech plug-in answers
};

struct Element {
    When when;
    SentWith with;
    uint32_t parent;
    uint32_t id;
    uint32_t kind;
    const char* text;  // caption 0x01 hint
    uint32_t param;
    uint16_t w1;
    uint16_t w2;
    uint16_t x1;
};

constexpr char kAuthorText[] =
    "Autor: zespół Plumeta. Uwagi i zgłoszenia błędów przyjmujemy przez system "
    "zgłoszeń projektu Plumeta. 2026";

// The pages in the order the host receives them. The host files each element
// into the group open on its page at that moment, so the contact page's group
// stays open to the end and also takes the speech box.
constexpr Element kElements[] = {
    {When::Always, SentWith::Group, kContactNode, kContactPage, 0, kPluginName, kIconId, 0, 0, 0},
    {When::Always, SentWith::Item, kContactPage, 0, kGroupStart, "Dodatkowe opcje Plumeta", 20, 0, 0, 0},
    {When::RecordingBox, SentWith::ItemEx, kContactPage, kContactControl, kCheckBox, nullptr,
     ContactRecordChanges, 50, 0, 10},
    {When::Always, SentWith::Group, kMainNode, kMainPage, 0, kPluginName, kIconId, 0, 0, 0},
    {When::Always, SentWith::Item, kMainPage, 0, kGroupStart, "Informacje o wtyczce", 20, 0, 0, 0},
    {When::Always, SentWith::ItemEx, kMainPage, 0, kInfoText,
     "Wtyczka zapisuje zmiany statusów oraz opisów uzytkowników na liście (oraz własne) do "
     "historii.",
     kIconId, 0, 25, 0},
    {When::Always, SentWith::Item, kMainPage, 0, kGroupEnd, nullptr, 0, 0, 0, 0},
    {When::Always, SentWith::Item, kMainPage, 0, kGroupStart, "Opcje", 20, 0, 0, 0},
    {When::Always, SentWith::ItemEx, kMainPage, kSettingsControl, kCheckBox,
     "Zapisuj do historii\x01"
     "Po zaznaczeniu tej opcji zmiany statusów zapisywane są do historii",
     SaveToHistory, 50, 0, 10},
    {When::Always, SentWith::ItemEx, kMainPage, kSettingsControl, kCheckBox,
     "Zapisuj do pliku\x01"
     "Po zaznaczeniu tej opcji zmiany statusów zapisywane są do pliku",
     SaveToFile, 50, 0, 10},
    {When::Always, SentWith::ItemEx, kMainPage, kSettingsControl, kTextField,
     "\x01"
     "Tutaj wpisz nazwę pliku do którego będą zapisywane statusy. UWAGA! Nie pisać "
     "rozszerzenia, zostanie samo doklejone.",
     LogFileName, 100, 0, 10},
    {When::Always, SentWith::Item, kMainPage, 0, kLabel, "Nazwa pliku (np statusy)", 0, 0, 0, 0},
    {When::Always, SentWith::ItemEx, kMainPage, kSettingsControl, kTextField, "\x01",
     HistoryDisplayName, 100, 0, 10},
    {When::Always, SentWith::Item, kMainPage, 0, kLabel,
     "Nazwa wyświetlana w historii (np !Twoje opisy!)", 0, 0, 0, 0},
    {When::SpeechPresent, SentWith::ItemEx, kMainPage, kSettingsControl, kCheckBox,
     "Czytaj zmiany statusów/opisów\x01"
     "Przy włączonej opcji wtyczka wspópracuje z Gadacz'em by Tamberin",
     ReadAloud, 50, 0, 10},
    {When::SpeechPresent, SentWith::ItemEx, kContactPage, kContactControl, kCheckBox,
     "Czytaj zmiany statusów\x01", ContactReadAloud, 100, 0, 10},
    {When::Always, SentWith::Item, kMainPage, 0, kGroupEnd, nullptr, 0, 0, 0, 0},
    {When::Always, SentWith::Item, kMainPage, 0, kGroupStart, "Informacje", 40, 0, 0, 0},
    {When::Always, SentWith::ItemEx, kMainPage, 0, kInfoText, kAuthorText, 0, 0, 40, 0},
    {When::Always, SentWith::Item, kMainPage, 0, kGroupEnd, nullptr, 0, 0, 0, 0},
    {When::Always, SentWith::Item, kContactPage, 0, kGroupEnd, nullptr, 0, 0, 0, 0},
};

// The recording box's caption by (SaveToHistory, SaveToFile). Null caption:
// both off, and an element with every argument 0 goes in its place.
struct RecordingCaption {
    int32_t saveToHistory;
    int32_t saveToFile;
    const char* caption;
};
constexpr RecordingCaption kRecordingCaptions[] = {
    {0, 0, nullptr},
    {0, 1, "Zapisuj zmiany opisu do pliku\x01"},
    {1, 0, "Zapisuj zmiany opisu do historii\x01"},
    {1, 1, "Zapisuj zmiany opisu do historii i pliku\x01"},
};

void Send(const Element& element, const char* text) {
    switch (element.with) {
        case SentWith::Group:
            AddOptionGroup(element.parent, element.id, 0, text, element.param, element.w1,
                           element.w2, 0, 0);
            break;
        case SentWith::Item:
            AddOptionItem(element.parent, element.id, element.kind, text, element.param,
                          element.w1, element.w2, 0, 0);
            break;
        case SentWith::ItemEx:
            AddOptionItemEx(element.parent, element.id, element.kind, text, element.param,
                            element.x1, 0, element.w1, element.w2, 0, 0);
            break;
    }
}

// Four tests, each reading the switches afresh; at most one holds.
void SendRecordingBox(const Element& box) {
    for (const RecordingCaption& choice : kRecordingCaptions) {
        if (GetSettingInt(SaveToHistory) != choice.saveToHistory) continue;
        if (GetSettingInt(SaveToFile) != choice.saveToFile) continue;
        if (choice.caption) {
            Send(box, choice.caption);
        } else {
            AddOptionItemEx(0, 0, 0, nullptr, 0, 0, 0, 0, 0, 0, 0);
        }
    }
}

bool SpeechPluginPresent() {
    return SendToNet(kMsgNetNumber, kSpeechNetwork, kAnyType, 0, 0) ==
           static_cast<int32_t>(kSpeechNetwork);
}

}  // namespace

int32_t BuildOptionPages() {
    enum class Speech { Unasked, Present, Absent } speech = Speech::Unasked;
    for (const Element& element : kElements) {
        switch (element.when) {
            case When::Always:
                Send(element, element.text);
                break;
            case When::RecordingBox:
                SendRecordingBox(element);
                break;
            case When::SpeechPresent:
                if (speech == Speech::Unasked) {
                    speech = SpeechPluginPresent() ? Speech::Present : Speech::Absent;
                }
                if (speech == Speech::Present) Send(element, element.text);
                break;
        }
    }
    return 1;
}

}  // namespace plumeta
