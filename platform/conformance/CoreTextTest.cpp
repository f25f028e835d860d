// Wide text helpers and the wide formatter.

#include <string>

#include "Conformance.h"

namespace {

using conformance::Thread;
using conformance::WString;

WString Format(LPCWSTR fmt, ...) {
  WCHAR buf[1100];
  va_list args;
  va_start(args, fmt);
  int n = wvsprintfW(buf, fmt, args);
  va_end(args);
  EXPECT_EQ(static_cast<size_t>(n), wcslen(buf));
  return WString(buf);
}

TEST(CoreText, LengthCopyConcatenate) {
  WCHAR buf[32];
  EXPECT_EQ(wcslen(TEXT("")), 0u);
  EXPECT_EQ(wcslen(TEXT("COM3:")), 5u);
  EXPECT_EQ(wcscpy(buf, TEXT("Drivers")), buf);
  EXPECT_EQ(wcscat(buf, TEXT("\\Active")), buf);
  EXPECT_EQ(WString(buf), TEXT("Drivers\\Active"));
  EXPECT_EQ(lstrlenW(buf), 14);
  EXPECT_EQ(lstrlenW(nullptr), 0);
  lstrcpyW(buf, TEXT("GPS "));
  lstrcatW(buf, TEXT("COM1:"));
  EXPECT_EQ(WString(buf), TEXT("GPS COM1:"));
}

TEST(CoreText, BoundedCopiesNeverOverrun) {
  WCHAR buf[8];
  for (WCHAR& c : buf) c = TEXT('#');
  lstrcpynW(buf, TEXT("abcdefghijk"), 5);
  EXPECT_EQ(WString(buf), TEXT("abcd"));
  EXPECT_EQ(buf[5], TEXT('#'));  // nothing written past the limit
  lstrcpynW(buf, TEXT("xy"), 5);
  EXPECT_EQ(WString(buf), TEXT("xy"));
  lstrcpynW(buf, TEXT("zzz"), 1);
  EXPECT_EQ(buf[0], 0);
  lstrcpynW(buf, nullptr, 4);
  EXPECT_EQ(buf[0], 0);

  // wcsncpy pads with terminators up to n and does not terminate a long source.
  for (WCHAR& c : buf) c = TEXT('#');
  wcsncpy(buf, TEXT("ab"), 5);
  EXPECT_EQ(buf[1], TEXT('b'));
  EXPECT_EQ(buf[2], 0);
  EXPECT_EQ(buf[4], 0);
  EXPECT_EQ(buf[5], TEXT('#'));
  wcsncpy(buf, TEXT("abcdefgh"), 3);
  EXPECT_EQ(buf[2], TEXT('c'));
  EXPECT_EQ(buf[3], 0);  // left from before
}

TEST(CoreText, Comparisons) {
  EXPECT_EQ(wcscmp(TEXT("abc"), TEXT("abc")), 0);
  EXPECT_LT(wcscmp(TEXT("abc"), TEXT("abd")), 0);
  EXPECT_GT(wcscmp(TEXT("abcd"), TEXT("abc")), 0);
  EXPECT_LT(wcscmp(TEXT(""), TEXT("a")), 0);
  // Characters compare as unsigned 16-bit values.
  EXPECT_GT(wcscmp(TEXT("\u00e9"), TEXT("z")), 0);
  EXPECT_EQ(wcsncmp(TEXT("COM3:"), TEXT("COM4:"), 3), 0);
  EXPECT_NE(wcsncmp(TEXT("COM3:"), TEXT("COM4:"), 4), 0);
  EXPECT_EQ(wcsncmp(TEXT("ab"), TEXT("ab"), 10), 0);

  EXPECT_EQ(_wcsicmp(TEXT("Drivers\\Active"), TEXT("DRIVERS\\active")), 0);
  EXPECT_LT(_wcsicmp(TEXT("abc"), TEXT("ABD")), 0);
  EXPECT_GT(_wcsicmp(TEXT("abc"), TEXT("AB")), 0);
  // Letters fold to lower case, so '[' (0x5B) sorts before 'A' as before 'a'.
  EXPECT_LT(_wcsicmp(TEXT("["), TEXT("A")), 0);
  EXPECT_LT(_wcsicmp(TEXT("["), TEXT("a")), 0);
  EXPECT_NE(_wcsicmp(TEXT("\u00e9"), TEXT("\u00c9")), 0);
  EXPECT_EQ(_wcsnicmp(TEXT("COM3:"), TEXT("com9:"), 3), 0);
  EXPECT_NE(_wcsnicmp(TEXT("COM3:"), TEXT("com9:"), 4), 0);

  EXPECT_EQ(lstrcmpW(TEXT("a"), TEXT("b")), -1);
  EXPECT_EQ(lstrcmpW(TEXT("b"), TEXT("a")), 1);
  // No string sorts before every string, the empty one too.
  EXPECT_EQ(lstrcmpW(nullptr, TEXT("")), -1);
  EXPECT_EQ(lstrcmpW(TEXT(""), nullptr), 1);
  EXPECT_EQ(lstrcmpW(nullptr, nullptr), 0);
  EXPECT_EQ(lstrcmpiW(nullptr, TEXT("a")), -1);
  EXPECT_EQ(lstrcmpiW(TEXT("Tessiv.DLL"), TEXT("tessiv.dll")), 0);
  EXPECT_EQ(lstrcmpiW(TEXT("abc"), TEXT("ABD")), -1);
}

TEST(CoreText, Searching) {
  const WCHAR* text = TEXT("Drivers\\Tessiv\\0100\\0001");
  EXPECT_EQ(wcsstr(text, TEXT("Tessiv")), text + 8);
  EXPECT_EQ(wcsstr(text, TEXT("tessiv")), nullptr);
  EXPECT_EQ(wcsstr(text, TEXT("")), text);
  const WCHAR* overlap = TEXT("aab");
  EXPECT_EQ(wcsstr(overlap, TEXT("ab")), overlap + 1);
  EXPECT_EQ(wcsstr(TEXT("ab"), TEXT("abc")), nullptr);
  EXPECT_EQ(wcschr(text, TEXT('\\')), text + 7);
  EXPECT_EQ(wcschr(text, TEXT('x')), nullptr);
  EXPECT_EQ(wcschr(text, 0), text + wcslen(text));  // the terminator is found

  WCHAR buf[16] = TEXT("COM3:");
  WCHAR* colon = wcschr(buf, TEXT(':'));  // writable overloads
  ASSERT_NE(colon, nullptr);
  *colon = 0;
  EXPECT_EQ(WString(buf), TEXT("COM3"));
  EXPECT_EQ(wcsstr(buf, TEXT("M3")), buf + 2);
}

TEST(CoreFormat, TheConversionsTheSystemUses) {
  EXPECT_EQ(Format(TEXT("GPS %s(%d)"), TEXT("COM3:"), 57600), TEXT("GPS COM3:(57600)"));
  EXPECT_EQ(Format(TEXT("  Unable to open the port %s, Last Error %d"), TEXT("COM9:"), 55),
            TEXT("  Unable to open the port COM9:, Last Error 55"));
  EXPECT_EQ(Format(TEXT("Drivers\\Tessiv\\%04X\\%04X"), 0x0100, 0x0001),
            TEXT("Drivers\\Tessiv\\0100\\0001"));
  EXPECT_EQ(Format(TEXT("%04X"), 0xABCD), TEXT("ABCD"));
  EXPECT_EQ(Format(TEXT("%04X"), 0x12345), TEXT("12345"));  // width is a minimum
  EXPECT_EQ(Format(TEXT("%02X %02X"), 0x0A, 0xB3), TEXT("0A B3"));
  EXPECT_EQ(Format(TEXT("%02d:%02d:%02d"), 7, 5, 59), TEXT("07:05:59"));
  EXPECT_EQ(Format(TEXT("%u"), 4294967295u), TEXT("4294967295"));
  EXPECT_EQ(Format(TEXT("%c%c"), TEXT('O'), TEXT('K')), TEXT("OK"));
  EXPECT_EQ(Format(TEXT("%c"), TEXT('\u00b0')), TEXT("\u00b0"));
  EXPECT_EQ(Format(TEXT("100%%")), TEXT("100%"));
}

TEST(CoreFormat, NumbersSignsAndFlags) {
  EXPECT_EQ(Format(TEXT("%d"), 0), TEXT("0"));
  EXPECT_EQ(Format(TEXT("%d"), -42), TEXT("-42"));
  EXPECT_EQ(Format(TEXT("%i"), 2147483647), TEXT("2147483647"));
  EXPECT_EQ(Format(TEXT("%d"), static_cast<int>(0x80000000u)), TEXT("-2147483648"));
  EXPECT_EQ(Format(TEXT("%05d"), -42), TEXT("-0042"));
  EXPECT_EQ(Format(TEXT("%5d|%-5d|"), 42, 42), TEXT("   42|42   |"));
  EXPECT_EQ(Format(TEXT("%-05d|"), 42), TEXT("42   |"));  // '-' wins over '0'
  EXPECT_EQ(Format(TEXT("%x %X"), 0xbeefu, 0xbeefu), TEXT("beef BEEF"));
  // Zeros pad the digits to the width; the prefix comes in front of them.
  EXPECT_EQ(Format(TEXT("%#x %#06X"), 0x2au, 0x2au), TEXT("0x2a 0X00002A"));
  EXPECT_EQ(Format(TEXT("%.3d"), 7), TEXT("007"));
  EXPECT_EQ(Format(TEXT("%ld %lu %lx %lX"), -1, 3000000000u, 0xabu, 0xabu),
            TEXT("-1 3000000000 ab AB"));
  EXPECT_EQ(Format(TEXT("%u"), static_cast<unsigned>(-1)), TEXT("4294967295"));
}

TEST(CoreFormat, TextConversions) {
  EXPECT_EQ(Format(TEXT("[%s]"), TEXT("")), TEXT("[]"));
  EXPECT_EQ(Format(TEXT("[%8s][%-8s]"), TEXT("COM1:"), TEXT("COM1:")),
            TEXT("[   COM1:][COM1:   ]"));
  EXPECT_EQ(Format(TEXT("[%.3s]"), TEXT("abcdef")), TEXT("[abc]"));
  EXPECT_EQ(Format(TEXT("[%S]"), "GPS"), TEXT("[GPS]"));
  EXPECT_EQ(Format(TEXT("[%hs][%ls]"), "narrow", TEXT("wide")), TEXT("[narrow][wide]"));
  EXPECT_EQ(Format(TEXT("[%S]"), "\xe9"), TEXT("[\u00e9]"));  // narrow bytes widen one to one
  EXPECT_EQ(Format(TEXT("[%C]"), 'A'), TEXT("[A]"));
  EXPECT_EQ(Format(TEXT("[%s]"), static_cast<const WCHAR*>(nullptr)), TEXT("[(null)]"));
  EXPECT_EQ(Format(TEXT("[%S]"), static_cast<const char*>(nullptr)), TEXT("[(null)]"));
  EXPECT_EQ(Format(TEXT("%s"), TEXT("\u263a\U0001F600")), TEXT("\u263a\U0001F600"));
}

TEST(CoreFormat, OutputIsLimitedTo1024CharactersWithTerminator) {
  // A guard band after the 1024 characters must stay untouched whatever the
  // length of the text, the width or the number of conversions.
  constexpr int kGuard = 64;
  WCHAR buf[1024 + kGuard];
  WString longText(3000, TEXT('x'));
  auto check = [&](int n) {
    EXPECT_GE(n, 1023);  // what it counts for a cut text is the stand-in's own
    EXPECT_EQ(buf[1023], 0);
    EXPECT_EQ(wcslen(buf), 1023u);
    for (int i = 1024; i < 1024 + kGuard; ++i) ASSERT_EQ(buf[i], TEXT('#')) << i;
  };
  auto reset = [&] {
    for (WCHAR& c : buf) c = TEXT('#');
  };

  reset();
  check(wsprintfW(buf, TEXT("%s"), longText.c_str()));
  reset();
  check(wsprintfW(buf, TEXT("%5000d"), 1));
  reset();
  check(wsprintfW(buf, TEXT("%-5000s|"), TEXT("a")));
  reset();
  check(wsprintfW(buf, TEXT("%099999999999d"), 5));  // absurd widths are clamped
  reset();
  WString longFormat(2000, TEXT('f'));
  check(wsprintfW(buf, longFormat.c_str()));
  reset();
  WString many;
  for (int i = 0; i < 256; ++i) many += TEXT("%04X");  // 1024 characters, one too many
  check(wsprintfW(
      buf, many.c_str(), 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
      22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44,
      45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64, 65, 66, 67,
      68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85, 86, 87, 88, 89, 90,
      91, 92, 93, 94, 95, 96, 97, 98, 99, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110,
      111, 112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127, 128, 129,
      130, 131, 132, 133, 134, 135, 136, 137, 138, 139, 140, 141, 142, 143, 144, 145, 146, 147, 148,
      149, 150, 151, 152, 153, 154, 155, 156, 157, 158, 159, 160, 161, 162, 163, 164, 165, 166, 167,
      168, 169, 170, 171, 172, 173, 174, 175, 176, 177, 178, 179, 180, 181, 182, 183, 184, 185, 186,
      187, 188, 189, 190, 191, 192, 193, 194, 195, 196, 197, 198, 199, 200, 201, 202, 203, 204, 205,
      206, 207, 208, 209, 210, 211, 212, 213, 214, 215, 216, 217, 218, 219, 220, 221, 222, 223, 224,
      225, 226, 227, 228, 229, 230, 231, 232, 233, 234, 235, 236, 237, 238, 239, 240, 241, 242, 243,
      244, 245, 246, 247, 248, 249, 250, 251, 252, 253, 254, 255, 256));
  EXPECT_EQ(WString(buf, 8), TEXT("00010002"));

  // Exactly 1023 characters fit; a text of 1022 keeps its last character.
  reset();
  WString fits(1022, TEXT('y'));
  EXPECT_GE(wsprintfW(buf, TEXT("%sz"), fits.c_str()), 1023);
  EXPECT_EQ(buf[1023], 0);
  EXPECT_EQ(buf[1022], TEXT('z'));
}

}  // namespace
