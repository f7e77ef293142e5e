// Key look-ups against reading the list in its order: a key names the first
// entry of its section whose name it spells (letter case ignored, or kept for
// the entries that keep it), and nothing else.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "settings/settingstable.h"

namespace {

const SettingSection kSections[] = {SectionGeneral, SectionBarcode, SectionCardReader};

const SettingInfo* readingTheList(SettingSection section, const WCHAR* key, bool keepCase) {
    for (int i = 0; i < kSettingsCount; ++i) {
        const SettingInfo& s = kSettingsTable[i];
        if (s.section != section) continue;
        std::u16string name(s.name, s.name + std::char_traits<char>::length(s.name));
        bool same = keepCase && s.exactCase ? name == key : textEqualsNoCaseAW(key, s.name);
        if (same) return &s;
    }
    return nullptr;
}

// Every name as written, in other letter cases, cut, lengthened, with a
// letter changed or a space in it, and a few keys no name resembles.
std::vector<std::u16string> keys() {
    std::vector<std::u16string> out = {u"", u"=", u"[Settings]", u"\u00E9", u"Enable\u0131", u"x"};
    out.push_back(std::u16string(80, u'E'));
    for (int i = 0; i < kSettingsCount; ++i) {
        std::u16string name(kSettingsTable[i].name,
                            kSettingsTable[i].name + std::char_traits<char>::length(kSettingsTable[i].name));
        std::u16string lower = name, upper = name, changed = name;
        for (auto& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char16_t>(c + 32) : c;
        for (auto& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char16_t>(c - 32) : c;
        changed[changed.size() / 2] = changed[changed.size() / 2] == u'q' ? u'r' : u'q';
        out.insert(out.end(), {name, lower, upper, changed, name.substr(0, name.size() - 1), name + u"s",
                               u" " + name, name + u"\u00E9"});
    }
    return out;
}

TEST(SettingsTable, KeysNameTheEntryThatReadingTheListInOrderFinds) {
    int found = 0;
    for (const std::u16string& key : keys()) {
        for (SettingSection section : kSections) {
            const SettingInfo* matched = matchSetting(section, key.c_str());
            EXPECT_EQ(matched, readingTheList(section, key.c_str(), true)) << "match, section " << section;
            EXPECT_EQ(findSetting(section, key.c_str()), readingTheList(section, key.c_str(), false))
                << "find, section " << section;
            if (matched != nullptr) ++found;
        }
    }
    // Each name at least as written, and its other cases where case is free.
    EXPECT_GE(found, kSettingsCount);
    EXPECT_EQ(matchSetting(SectionGeneral, nullptr), nullptr);
}

}  // namespace
