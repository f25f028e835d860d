// The installation script reader: a sound script reads as it stands, and
// each thing it does not take is refused with its line.
#include <string>

#include <gtest/gtest.h>

#include "CabControlFile.h"
#include "InfScript.h"

namespace {

using handheld::detail::InfScript;

const char kScript[] =
    "; a package\n"                                          // 1
    "[Version]\n"                                            // 2
    "Signature = \"$Windows NT$\"\n"                         // 3
    "Provider =\t\"Dovrin\" ; the maker\n"                  // 4
    "CESignature = \"$Windows CE$\"\n"                       // 5
    "[CEStrings]\n"                                          // 6
    "AppName = \"GpsSleeve\"\n"                              // 7
    "InstallDir = %CE1%\\%AppName%\n"                        // 8
    "[DefaultInstall]\n"                                     // 9
    "CESetupDLL = Kolvane.so\n"                              // 10
    "CopyFiles = Files.Windows, Files.App\n"                 // 11
    "AddReg = Reg\n"                                         // 12
    "[SourceDisksNames]\n"                                   // 13
    "1 = ,\"Modules\",,\n"                                   // 14
    "[SourceDisksFiles]\n"                                   // 15
    "Tessiv.so = 1\n"                                        // 16
    "Kolvane.so = 1\n"                                       // 17
    "[DestinationDirs]\n"                                    // 18
    "Files.Windows = 0, %CE2%\n"                             // 19
    "DefaultDestDir = 0, %InstallDir%\n"                     // 20
    "[Files.Windows]\n"                                      // 21
    "\"Tessiv.dll\",\"Tessiv.so\",,0x80000000\n"             // 22
    "[Files.App]\n"                                          // 23
    "\"Read me, 1.txt\",\"Tessiv.so\",,0\n"                  // 24
    "[Reg]\n"                                                // 25
    "HKLM,Drivers\\BuiltIn\\Tessiv,DLL,0x00000000,\"Tessiv.dll\"\n"  // 26
    "HKLM,Drivers\\BuiltIn\\Tessiv,Order,0x00010001,20\n"           // 27
    "HKLM,Software\\%AppName%,Home,0x00000000,\"%AppName% \"\"1\"\"\"\n";  // 28

std::string Replaced(const std::string& from, const std::string& to) {
  std::string text = kScript;
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(InfScriptTest, ReadsTheScriptAsItStands) {
  InfScript script;
  std::string reason;
  ASSERT_TRUE(script.Parse(kScript, &reason).ok()) << reason;
  EXPECT_EQ(script.appName(), "GpsSleeve");
  EXPECT_EQ(script.provider(), "Dovrin");
  EXPECT_EQ(script.installDir(), "%CE1%\\GpsSleeve");
  EXPECT_EQ(script.setupSource(), "Kolvane.so");
  ASSERT_EQ(script.files().size(), 2u);
  EXPECT_EQ(script.files()[0].name, "Tessiv.dll");
  EXPECT_EQ(script.files()[0].flags, 0x80000000u);
  EXPECT_EQ(handheld::detail::CabControlFile::DevicePath(script.files()[0].folder), "\\Windows");
  EXPECT_EQ(script.files()[1].name, "Read me, 1.txt");
  EXPECT_EQ(handheld::detail::CabControlFile::DevicePath(script.files()[1].folder),
            "\\Program Files\\GpsSleeve");
  ASSERT_EQ(script.values().size(), 3u);
  EXPECT_EQ(script.values()[1].key, "Drivers\\BuiltIn\\Tessiv");
  EXPECT_EQ(script.values()[1].number, 20u);
  EXPECT_EQ(script.values()[2].key, "Software\\GpsSleeve");
  EXPECT_EQ(script.values()[2].text, "GpsSleeve \"1\"");
}

struct RefusedCase {
  const char* from;
  const char* to;
  const char* reason;  // starts with the line
};

const RefusedCase kRefused[] = {
    {"Signature = \"$Windows NT$\"", "Signature = \"$Chicago$\"", "3: [Version] needs Signature"},
    {"Provider =\t\"Dovrin\"", "Maker = \"Dovrin\"", "4: key Maker is not one [Version] may hold"},
    {"CESignature = \"$Windows CE$\"\n", "CESignature = \"$Windows CE$\"\nCESignature = x\n",
     "6: key CESignature given twice"},
    {"AppName = \"GpsSleeve\"", "AppName = \"..\"", "7: [CEStrings] needs an AppName"},
    {"InstallDir = %CE1%", "InstallDir = %CE3%", "8: %CE3% is not a string or folder"},
    {"InstallDir = %CE1%\\%AppName%", "InstallDir = \\Program Files", "8: a folder starts with %CEn%"},
    {"CESetupDLL = Kolvane.so", "CESetupDLL = Missing.so", "10: CESetupDLL names no file"},
    {"AddReg = Reg", "CEShortcuts = Links", "12: key CEShortcuts is not one [DefaultInstall]"},
    {"1 = ,\"Modules\",,", "1 = ,\"Modules\",,..\\..", "14: a disk's folder is a relative folder"},
    {"Tessiv.so = 1", "Tessiv.so = 2", "16: expected <source file> = <disk number"},
    {"Tessiv.so = 1", "/etc/passwd = 1", "16: source file /etc/passwd is not a plain file name"},
    {"Files.Windows = 0, %CE2%", "Files.Windows = 0, %CE2%\\..", "19: the folder names the folder itself"},
    {"Files.Windows = 0, %CE2%", "Files.Windows = 1, %CE2%", "19: expected <section> = 0,<folder>"},
    {"\"Tessiv.dll\",\"Tessiv.so\"", "\"..\\Tessiv.dll\",\"Tessiv.so\"", "22: the installed file has a name with one of"},
    {"\"Tessiv.dll\",\"Tessiv.so\"", "\"Tessiv.dll\",\"Other.so\"", "22: the source file is not in [SourceDisksFiles]"},
    {",,0x80000000", ",,0x00000100", "22: flags that are not understood"},
    {",,0x80000000", ",,0x80000000,9", "22: expected \"<installed name>\""},
    {"[Files.App]\n", "\"tessiv.DLL\",\"Tessiv.so\"\n[Files.App]\n",
     "23: the installed file tessiv.DLL is copied twice"},
    {"HKLM,Drivers\\BuiltIn\\Tessiv,DLL", "HKCU,Drivers\\BuiltIn\\Tessiv,DLL", "26: only HKLM keys"},
    {",0x00000000,\"Tessiv.dll\"", ",0x00010000,\"Tessiv.dll\"", "26: type is 0x00000000 (string)"},
    {",0x00000000,\"Tessiv.dll\"", ",0x00000000,\"Tessiv.dll", "26: a quote left open"},
    {",0x00000000,\"Tessiv.dll\"", ",0x00000000,\"Tessiv\".dll", "26: text after a closing quote"},
    {",0x00000000,\"Tessiv.dll\"", ",0x00000000,%CE2%\\Tessiv.dll", "26: %CE2% is not a string or folder"},
    {"Drivers\\BuiltIn\\Tessiv,DLL", "Drivers\\\\Tessiv,DLL", "26: a key path of names"},
    {"Order,0x00010001,20", "Order,0x00010001,4294967296", "27: a number is decimal or 0x"},
    {"Home,0x00000000,\"%AppName%", "Home,0x00000000,\"%AppName", "28: a '%' without its closing '%'"},
    {"[Reg]\n", "[Reg]\n[Strings]\nX=1\n", "26: section [Strings] is not one this script may use"},
    {"[Reg]\n", "[Reg\n", "25: a section header without its name"},
    {"; a package\n", "loose line\n", "1: a line before the first section"},
    {"[Files.App]\n", "[Files.windows]\n", "23: section [Files.windows] given twice"},
    {"Provider =\t\"Dovrin\"", "Provider = \"Dovr\x01in\"", "4: a character that is not printable"},
};

TEST(InfScriptTest, RefusesWhatItDoesNotTakeWithItsLine) {
  for (const RefusedCase& test : kRefused) {
    InfScript script;
    std::string reason;
    EXPECT_FALSE(script.Parse(Replaced(test.from, test.to), &reason).ok()) << test.to;
    EXPECT_EQ(reason.rfind(test.reason, 0), 0u)
        << "for \"" << test.to << "\" the reason given was \"" << reason << "\"";
    EXPECT_TRUE(script.files().empty());
  }
}

TEST(InfScriptTest, RefusesALineTooLongAndAMissingFile) {
  InfScript script;
  std::string reason;
  EXPECT_FALSE(script.Parse(Replaced("Dovrin", std::string(2000, 'D')), &reason).ok());
  EXPECT_EQ(reason, "4: line longer than 1024 characters");
  EXPECT_EQ(script.Load("/nonexistent/GpsSleeve.inf", &reason).code(),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_NE(reason.find("/nonexistent/GpsSleeve.inf"), std::string::npos);
}

}  // namespace
