// Wide text helpers and the wide formatter.
#include <gtest/gtest.h>

#include <string>

#include "windows.h"

namespace {

std::u16string Format(LPCWSTR fmt, ...) {
  WCHAR buf[1100];
  va_list args;
  va_start(args, fmt);
  int n = wvsprintfW(buf, fmt, args);
  va_end(args);
  EXPECT_EQ(static_cast<size_t>(n), wcslen(buf));
  return std::u16string(buf);
}

TEST(CoreText, LengthCopyConcatenate) {
  WCHAR buf[32];
  EXPECT_EQ(wcslen(u""), 0u);
  EXPECT_EQ(wcslen(u"COM3:"), 5u);
  EXPECT_EQ(wcscpy(buf, u"Drivers"), buf);
  EXPECT_EQ(wcscat(buf, u"\\Active"), buf);
  EXPECT_EQ(std::u16string(buf), u"Drivers\\Active");
  EXPECT_EQ(lstrlenW(buf), 14);
  EXPECT_EQ(lstrlenW(nullptr), 0);
  lstrcpyW(buf, u"GPS ");
  lstrcatW(buf, u"COM1:");
  EXPECT_EQ(std::u16string(buf), u"GPS COM1:");
}

TEST(CoreText, BoundedCopiesNeverOverrun) {
  WCHAR buf[8];
  for (WCHAR& c : buf) c = u'#';
  lstrcpynW(buf, u"abcdefghijk", 5);
  EXPECT_EQ(std::u16string(buf), u"abcd");
  EXPECT_EQ(buf[5], u'#');  // nothing written past the limit
  lstrcpynW(buf, u"xy", 5);
  EXPECT_EQ(std::u16string(buf), u"xy");
  lstrcpynW(buf, u"zzz", 1);
  EXPECT_EQ(buf[0], 0);
  lstrcpynW(buf, nullptr, 4);
  EXPECT_EQ(buf[0], 0);

  // wcsncpy pads with terminators up to n and does not terminate a long source.
  for (WCHAR& c : buf) c = u'#';
  wcsncpy(buf, u"ab", 5);
  EXPECT_EQ(buf[1], u'b');
  EXPECT_EQ(buf[2], 0);
  EXPECT_EQ(buf[4], 0);
  EXPECT_EQ(buf[5], u'#');
  wcsncpy(buf, u"abcdefgh", 3);
  EXPECT_EQ(buf[2], u'c');
  EXPECT_EQ(buf[3], 0);  // left from before
}

TEST(CoreText, Comparisons) {
  EXPECT_EQ(wcscmp(u"abc", u"abc"), 0);
  EXPECT_LT(wcscmp(u"abc", u"abd"), 0);
  EXPECT_GT(wcscmp(u"abcd", u"abc"), 0);
  EXPECT_LT(wcscmp(u"", u"a"), 0);
  // Characters compare as unsigned 16-bit values.
  EXPECT_GT(wcscmp(u"\u00e9", u"z"), 0);
  EXPECT_EQ(wcsncmp(u"COM3:", u"COM4:", 3), 0);
  EXPECT_NE(wcsncmp(u"COM3:", u"COM4:", 4), 0);
  EXPECT_EQ(wcsncmp(u"ab", u"ab", 10), 0);

  EXPECT_EQ(_wcsicmp(u"Drivers\\Active", u"DRIVERS\\active"), 0);
  EXPECT_LT(_wcsicmp(u"abc", u"ABD"), 0);
  EXPECT_GT(_wcsicmp(u"abc", u"AB"), 0);
  // Letters fold to lower case, so '[' (0x5B) sorts before 'A' as before 'a'.
  EXPECT_LT(_wcsicmp(u"[", u"A"), 0);
  EXPECT_LT(_wcsicmp(u"[", u"a"), 0);
  EXPECT_NE(_wcsicmp(u"\u00e9", u"\u00c9"), 0);
  EXPECT_EQ(_wcsnicmp(u"COM3:", u"com9:", 3), 0);
  EXPECT_NE(_wcsnicmp(u"COM3:", u"com9:", 4), 0);

  EXPECT_EQ(lstrcmpW(u"a", u"b"), -1);
  EXPECT_EQ(lstrcmpW(u"b", u"a"), 1);
  EXPECT_EQ(lstrcmpW(nullptr, u""), 0);
  EXPECT_EQ(lstrcmpiW(u"Tessiv.DLL", u"tessiv.dll"), 0);
  EXPECT_EQ(lstrcmpiW(u"abc", u"ABD"), -1);
}

TEST(CoreText, Searching) {
  const WCHAR* text = u"Drivers\\Tessiv\\0100\\0001";
  EXPECT_EQ(wcsstr(text, u"Tessiv"), text + 8);
  EXPECT_EQ(wcsstr(text, u"tessiv"), nullptr);
  EXPECT_EQ(wcsstr(text, u""), text);
  const WCHAR* overlap = u"aab";
  EXPECT_EQ(wcsstr(overlap, u"ab"), overlap + 1);
  EXPECT_EQ(wcsstr(u"ab", u"abc"), nullptr);
  EXPECT_EQ(wcschr(text, u'\\'), text + 7);
  EXPECT_EQ(wcschr(text, u'x'), nullptr);
  EXPECT_EQ(wcschr(text, 0), text + wcslen(text));  // the terminator is found

  WCHAR buf[16] = u"COM3:";
  WCHAR* colon = wcschr(buf, u':');  // writable overloads
  ASSERT_NE(colon, nullptr);
  *colon = 0;
  EXPECT_EQ(std::u16string(buf), u"COM3");
  EXPECT_EQ(wcsstr(buf, u"M3"), buf + 2);
}

TEST(CoreFormat, TheConversionsTheSystemUses) {
  EXPECT_EQ(Format(u"GPS %s(%d)", u"COM3:", 57600), u"GPS COM3:(57600)");
  EXPECT_EQ(Format(u"  Unable to open the port %s, Last Error %d", u"COM9:", 55),
            u"  Unable to open the port COM9:, Last Error 55");
  EXPECT_EQ(Format(u"Drivers\\Tessiv\\%04X\\%04X", 0x0100, 0x0001), u"Drivers\\Tessiv\\0100\\0001");
  EXPECT_EQ(Format(u"%04X", 0xABCD), u"ABCD");
  EXPECT_EQ(Format(u"%04X", 0x12345), u"12345");  // width is a minimum
  EXPECT_EQ(Format(u"%02X %02X", 0x0A, 0xB3), u"0A B3");
  EXPECT_EQ(Format(u"%02d:%02d:%02d", 7, 5, 59), u"07:05:59");
  EXPECT_EQ(Format(u"%u", 4294967295u), u"4294967295");
  EXPECT_EQ(Format(u"%c%c", u'O', u'K'), u"OK");
  EXPECT_EQ(Format(u"%c", u'\u00b0'), u"\u00b0");
  EXPECT_EQ(Format(u"100%%"), u"100%");
}

TEST(CoreFormat, NumbersSignsAndFlags) {
  EXPECT_EQ(Format(u"%d", 0), u"0");
  EXPECT_EQ(Format(u"%d", -42), u"-42");
  EXPECT_EQ(Format(u"%i", 2147483647), u"2147483647");
  EXPECT_EQ(Format(u"%d", static_cast<int>(0x80000000u)), u"-2147483648");
  EXPECT_EQ(Format(u"%05d", -42), u"-0042");
  EXPECT_EQ(Format(u"%5d|%-5d|", 42, 42), u"   42|42   |");
  EXPECT_EQ(Format(u"%-05d|", 42), u"42   |");  // '-' wins over '0'
  EXPECT_EQ(Format(u"%x %X", 0xbeefu, 0xbeefu), u"beef BEEF");
  EXPECT_EQ(Format(u"%#x %#06X", 0x2au, 0x2au), u"0x2a 0X002A");
  EXPECT_EQ(Format(u"%.3d", 7), u"007");
  EXPECT_EQ(Format(u"%ld %lu %lx %lX", -1, 3000000000u, 0xabu, 0xabu), u"-1 3000000000 ab AB");
  EXPECT_EQ(Format(u"%hd %hu", 0x18000, 0x18000), u"-32768 32768");
  EXPECT_EQ(Format(u"%u", static_cast<unsigned>(-1)), u"4294967295");
}

TEST(CoreFormat, TextConversions) {
  EXPECT_EQ(Format(u"[%s]", u""), u"[]");
  EXPECT_EQ(Format(u"[%8s][%-8s]", u"COM1:", u"COM1:"), u"[   COM1:][COM1:   ]");
  EXPECT_EQ(Format(u"[%.3s]", u"abcdef"), u"[abc]");
  EXPECT_EQ(Format(u"[%S]", "GPS"), u"[GPS]");
  EXPECT_EQ(Format(u"[%hs][%ls]", "narrow", u"wide"), u"[narrow][wide]");
  EXPECT_EQ(Format(u"[%S]", "\xe9"), u"[\u00e9]");  // narrow bytes widen one to one
  EXPECT_EQ(Format(u"[%C]", 'A'), u"[A]");
  EXPECT_EQ(Format(u"[%s]", static_cast<const WCHAR*>(nullptr)), u"[(null)]");
  EXPECT_EQ(Format(u"[%S]", static_cast<const char*>(nullptr)), u"[(null)]");
  EXPECT_EQ(Format(u"%s", u"\u263a\U0001F600"), u"\u263a\U0001F600");
}

TEST(CoreFormat, OddFormatsStaySafe) {
  EXPECT_EQ(Format(u"50%"), u"50");  // a lone '%' at the end is dropped
  EXPECT_EQ(Format(u"%q|"), u"q|");
  EXPECT_EQ(Format(u""), u"");
  WCHAR buf[8] = u"junk";
  EXPECT_EQ(wsprintfW(buf, nullptr), 0);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(wsprintfW(nullptr, u"x"), 0);
}

TEST(CoreFormat, OutputIsLimitedTo1024CharactersWithTerminator) {
  // A guard band after the 1024 characters must stay untouched whatever the
  // length of the text, the width or the number of conversions.
  constexpr int kGuard = 64;
  WCHAR buf[1024 + kGuard];
  std::u16string longText(3000, u'x');
  auto check = [&](int n) {
    EXPECT_EQ(n, 1023);
    EXPECT_EQ(buf[1023], 0);
    EXPECT_EQ(wcslen(buf), 1023u);
    for (int i = 1024; i < 1024 + kGuard; ++i) ASSERT_EQ(buf[i], u'#') << i;
  };
  auto reset = [&] {
    for (WCHAR& c : buf) c = u'#';
  };

  reset();
  check(wsprintfW(buf, u"%s", longText.c_str()));
  reset();
  check(wsprintfW(buf, u"%5000d", 1));
  reset();
  check(wsprintfW(buf, u"%-5000s|", u"a"));
  reset();
  check(wsprintfW(buf, u"%099999999999d", 5));  // absurd widths are clamped
  reset();
  std::u16string longFormat(2000, u'f');
  check(wsprintfW(buf, longFormat.c_str()));
  reset();
  std::u16string many;
  for (int i = 0; i < 256; ++i) many += u"%04X";  // 1024 characters, one too many
  check(wsprintfW(buf, many.c_str(), 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18,
                  19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38,
                  39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58,
                  59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78,
                  79, 80, 81, 82, 83, 84, 85, 86, 87, 88, 89, 90, 91, 92, 93, 94, 95, 96, 97, 98,
                  99, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114,
                  115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127, 128, 129, 130,
                  131, 132, 133, 134, 135, 136, 137, 138, 139, 140, 141, 142, 143, 144, 145, 146,
                  147, 148, 149, 150, 151, 152, 153, 154, 155, 156, 157, 158, 159, 160, 161, 162,
                  163, 164, 165, 166, 167, 168, 169, 170, 171, 172, 173, 174, 175, 176, 177, 178,
                  179, 180, 181, 182, 183, 184, 185, 186, 187, 188, 189, 190, 191, 192, 193, 194,
                  195, 196, 197, 198, 199, 200, 201, 202, 203, 204, 205, 206, 207, 208, 209, 210,
                  211, 212, 213, 214, 215, 216, 217, 218, 219, 220, 221, 222, 223, 224, 225, 226,
                  227, 228, 229, 230, 231, 232, 233, 234, 235, 236, 237, 238, 239, 240, 241, 242,
                  243, 244, 245, 246, 247, 248, 249, 250, 251, 252, 253, 254, 255, 256));
  EXPECT_EQ(std::u16string(buf, 8), u"00010002");

  // Exactly 1023 characters fit; a text of 1022 keeps its last character.
  reset();
  std::u16string fits(1022, u'y');
  EXPECT_EQ(wsprintfW(buf, u"%sz", fits.c_str()), 1023);
  EXPECT_EQ(buf[1022], u'z');
}

}  // namespace
