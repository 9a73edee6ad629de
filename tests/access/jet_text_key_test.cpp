#include "access/jet_index_key.h"
#include "access/jet_text_key.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

namespace velmora::jet {
namespace {

std::string hex(const std::vector<unsigned char>& bytes) {
    std::string out;
    for (const unsigned char b : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", b);
        out += digits;
    }
    return out;
}

std::u16string everyLatin1Character() {
    std::u16string text;
    for (char16_t c = 1; c <= 0xFF; ++c) {
        text += c;
    }
    return text;
}

// A text value and the key an index holds for it, as our page reader read
// it: "Access" rows from files Access wrote, the others from files the
// reference library for the format wrote, for what no Access file shows.
struct TextKeyCase {
    const char* name;
    std::u16string text;
    bool ascending;
    const char* key;
    friend void PrintTo(const TextKeyCase& c, std::ostream* out) { *out << c.name; }
};

class TextKeyTest : public ::testing::TestWithParam<TextKeyCase> {};

TEST_P(TextKeyTest, IsTheKeyTheEngineWrote) {
    const TextKeyCase& c = GetParam();
    std::vector<unsigned char> key;
    EXPECT_EQ(appendTextKeyColumn(key, c.text, c.ascending), std::nullopt);
    EXPECT_EQ(hex(key), c.key);
}

INSTANTIATE_TEST_SUITE_P(
    Measured, TextKeyTest,
    ::testing::Values(
        TextKeyCase{"AccessPlain", u"a", true, "7f4a0100"},
        TextKeyCase{"AccessDigits", u"row10", true, "7f69647338360100"},
        TextKeyCase{"AccessSpace", u"another row", true, "7f4a62646d575169076964730100"},
        TextKeyCase{"AccessUmlauts", u"\u00E4\u00E4kk\u00F6si\u00E4", true,
                    "7f4a4a5c5c646b594a01131302021302021300"},
        TextKeyCase{"AccessUmlautFirst", u"\u00FCmlaut", true, "7f6f605e4a6f6d011300"},
        TextKeyCase{"AccessGreekWithApostrophe",
                    u"\u03F0\u03B1\u1F76 \u03C4\u1F79\u03C4' \u1F10\u03B3\u1F7C "
                    u"\u039A\u1F7B\u03F0\u03BB\u03C9\u03C0\u03B1",
                    true,
                    "7f7915790c07791e791e07790e077915791579167923791b790c01030202020202020202030101"
                    "01801b068000"},
        TextKeyCase{"AccessCyrillic", u"\u041C\u0438\u0440", true, "7f7943793b79480100"},
        TextKeyCase{"AccessControlCharacters",
                    u"3L9\x1D"
                    u"52\x02"
                    u"_AB(\u00A5\x05"
                    u"!!V",
                    true, "7f3c5e48403a2b034a4c1434a9090971010101018013061a801b0604802f060700"},
        TextKeyCase{"AccessLongName", u"MSysNavPaneGroupCategoriesMSysNavPaneGroups", true,
                    "7f606b766b624a71664a62515569646f664d4a6d5155646959516b606b766b624a71664a625155"
                    "69646f666b0100"},
        TextKeyCase{
            "AccessEveryLatin1Character", everyLatin1Character(), true,
            "7f0803080408050806080707090a0c0e10121416182c1a1c1e36383a3c3e404244464820222e303224264a"
            "4c4d4f51535557595b5c5e6062646668696b6d6f717375767827292a2b022b032b074a4c4d4f5153555759"
            "5b5c5e6062646668696b6d6f71737576782b092b0b2b0d2b0f08022b1034a634a734a834a92b1134aa2b12"
            "34ab4a330534ac34ad2b1334ae33043a3c2b1434af34b034b12b153864330737123716371a2b164a4a4a4a"
            "4a4a4a514d51515151595959594f6264646464643309646f6f6f6f766d576b6b4a4a4a4a4a4a4a514d5151"
            "5151595959594f626464646464330a646f6f6f6f766d577601020202020202020202020202020202020202"
            "02020202020202020202020202020202020202020202020202020202020202020202020202020202020202"
            "02020202020202020202020202020202020202020202020202020202020202020202020202020202020202"
            "020202020302020202020202020202020202020302020202020f0e1219131a021c0f0e12130f0e12136819"
            "0f0e12191302210f0e12130e02020f0e1219131a021c0f0e12130f0e121368190f0e12191302210f0e1213"
            "0e0213010101800706038007060480070605800706068007060780070608800706098007060a801b060b80"
            "1b060c801b060d801b060e801b060f801b0610801b0611801b0612801b0613801b0614801b0615801b0616"
            "801b0617801b0618801b0619801b061a801b061b801b061c80370680804b0682818f061d818f061e818f06"
            "1f818f0620818f0621818f0622818f0623818f0624818f0625818f0626818f0627818f0628818f0629818f"
            "062a818f062b818f062c818f062d818f062e818f062f818f0630818f0631818f0632818f0633818f063481"
            "8f0635818f0636818f0637818f0638818f0639818f063a818f063b818f063c818f063d81c3068300"},
        TextKeyCase{"CaseIsNotKeyed", u"Ab", true, "7f4a4c0100"},
        TextKeyCase{"LigatureAsTwoLetters", u"\u01C6-", true, "7f4f78010214010101800f068200"},
        TextKeyCase{"SharpS", u"\u00DF", true, "7f6b6b0100"},
        TextKeyCase{"CombiningMarkAfterApostrophe", u"a'\u0301", true, "7f4a010e010101800b068000"},
        TextKeyCase{"TrailingSpaces", u"a  ", true, "7f4a0100"},
        TextKeyCase{"NoBreakSpaceIsKept", u"a\u00A0", true, "7f4a08020100"},
        TextKeyCase{"Empty", u"", true, "7f0100"},
        TextKeyCase{"Descending", u"ae", false, "80b5aefeff00"},
        TextKeyCase{"DescendingApostrophe", u"a'", false, "80b5fefefefe7ff4f97fff00"},
        TextKeyCase{"MemoCutAt255", std::u16string(254, u'a') + u"-b", true,
                    "7f4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a"
                    "4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a"
                    "4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a"
                    "4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a"
                    "4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a"
                    "4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a"
                    "4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a4a0101010183ff068200"},
        TextKeyCase{"Croatian", u"\u0111a", true, "7f4f4a011e00"},
        TextKeyCase{"SerbianCyrillic", u"\u0402a", true, "7f79354a0100"},
        TextKeyCase{"VietnameseTwoMarks", u"\u1EBF", true, "7f51011e00"}),
    [](const auto& info) { return std::string(info.param.name); });

// Keys of a number and a text together, as Access wrote them in its catalogue
// (a parent's number, then a name) and in an index of a text and a number.
TEST(TextKeyTest, JoinsOtherKindsInACompositeKey) {
    std::vector<unsigned char> key;
    appendKeyColumn(key, kLong, FieldValue::of({0x00, 0x00, 0x00, 0x0F}), true);
    EXPECT_EQ(appendTextKeyColumn(key, u"Forms", true), std::nullopt);
    EXPECT_EQ(hex(key), "7f8f0000007f536469606b0100");
    key.clear();
    EXPECT_EQ(appendTextKeyColumn(key, u"lots of stuff", true), std::nullopt);
    appendKeyColumn(key, kLong, FieldValue::of({0x7F, 0x23, 0x00, 0x00}), true);
    EXPECT_EQ(hex(key), "7f5e646d6b076453076b6d6f535301007f8000237f");
    key.clear();
    EXPECT_EQ(appendTextKeyColumn(key, u"more", true), std::nullopt);
    appendKeyColumn(key, kLong, FieldValue{}, true);
    EXPECT_EQ(hex(key), "7f60646951010000");
    key.clear();
    // NULL, descending (the reference library's file).
    EXPECT_EQ(appendTextKeyColumn(key, std::nullopt, false), std::nullopt);
    EXPECT_EQ(hex(key), "ff");
}

// A character whose weights were not measured (kana) or that has nothing to
// add to (a combining mark first) gives no key rather than a wrong one.
TEST(TextKeyTest, NamesACharacterItCannotWeigh) {
    EXPECT_EQ(generalTextKey(u"Program \u3058").unknown, u'\u3058');
    EXPECT_EQ(generalTextKey(u"\u0301a").unknown, u'\u0301');
    EXPECT_EQ(generalTextKey(u"Emoji \xD83D\xDE00").unknown, u'\xD83D');
}

} // namespace
} // namespace velmora::jet
