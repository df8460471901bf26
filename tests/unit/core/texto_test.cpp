#include "core/texto.h"

#include <gtest/gtest.h>

namespace velorin {
namespace {

TEST(Texto, Utf8Utf16IdaEVolta) {
    const std::string amostra = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
    const std::u16string u = Utf8ParaUtf16(amostra);
    EXPECT_EQ(u, u"a\u00e9\u20ac\U0001F600z");
    EXPECT_EQ(Utf16ParaUtf8(u), amostra);
    EXPECT_EQ(ContarUnidadesUtf16(amostra), 6u);
    EXPECT_EQ(ContarCodepoints(amostra), 5u);
}

TEST(Texto, Utf8InvalidoViraSubstituto) {
    struct Caso {
        std::string entrada;
        std::u16string esperado;
    };
    const Caso casos[] = {
        {"\xFF", u"\uFFFD"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},          // overlong "/"
        {"\xED\xA0\x80", u"\uFFFD"},  // encoded surrogate
        {"\xE2\x82", u"\uFFFD"},                // cut short at the end
        {"\xE2\x82x", u"\uFFFDx"},              // cut short before ASCII
        {"\xF4\x90\x80\x80", u"\uFFFD"},        // above U+10FFFF
    };
    for (const auto& c : casos) EXPECT_EQ(Utf8ParaUtf16(c.entrada), c.esperado) << c.entrada;
    EXPECT_EQ(Utf16ParaUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
}

TEST(Texto, AparaCodigosAte32) {
    EXPECT_EQ(Aparar(std::string("\x01\t  a b\r\n\x00 ", 10)), "a b");
    EXPECT_EQ(Aparar("   "), "");
    EXPECT_EQ(Aparar("\xC2\xA0x"), "\xC2\xA0x");  // no-break space is not trimmed
}

TEST(Texto, Minusculas) {
    EXPECT_EQ(MinusculasAscii("AbC\xC3\x89"), "abc\xC3\x89");
    EXPECT_EQ(MinusculasUnicode("/HOME/JOS\xC3\x89/\xC3\x84\xCE\xA3"), "/home/jos\xC3\xA9/\xC3\xA4\xCF\x83");
}

TEST(Texto, TextoParaLog) {
    EXPECT_EQ(TextoParaLog("a\r\nb\tc", 120), "a??b?c");
    const std::string n130(130, 'x');
    EXPECT_EQ(TextoParaLog(n130, 120), std::string(120, 'x') + "...");
    EXPECT_EQ(TextoParaLog(std::string(120, 'x'), 120), std::string(120, 'x'));
    // A cut never splits a surrogate pair: the emoji takes two units and does not fit.
    EXPECT_EQ(TextoParaLog("ab\xF0\x9F\x98\x80", 3), "ab...");
    EXPECT_EQ(TextoParaLog("\xFF", 10), "\xEF\xBF\xBD");
}

TEST(Texto, LerInteiro) {
    long long v = 0;
    EXPECT_TRUE(LerInteiro("8765", v));
    EXPECT_EQ(v, 8765);
    EXPECT_TRUE(LerInteiro("-5", v));
    EXPECT_EQ(v, -5);
    for (const char* ruim : {"", " 1", "1 ", "abc", "1e3", "++1", "99999999999999999999"})
        EXPECT_FALSE(LerInteiro(ruim, v)) << ruim;
}

}  // namespace
}  // namespace velorin
