// The cabinet's control file: hostile files are refused with a clear reason
// and a written file reads back the same. The bytes are laid out here, by
// the test's own little-endian writes, not by the code under test.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CabControlFile.h"

namespace {

using handheld::detail::CabControlFile;
using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void PutText(Bytes& b, const std::string& text) {
  b.insert(b.end(), text.begin(), text.end());
  b.push_back(0);
}
void Set16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Set32(Bytes& b, size_t at, uint32_t v) {
  Set16(b, at, v & 0xFFFF);
  Set16(b, at + 2, v >> 16);
}

// A control file in pieces: the names, each section's entries, and the
// header fields a case may want to lie about.
struct Control {
  std::string appName = "GpsSleeve", provider = "Dovrin";
  std::vector<std::pair<uint16_t, std::string>> strings = {
      {1, "%CE2%"}, {2, "Drivers"}, {3, "BuiltIn"}, {4, "Tessiv"}};
  std::vector<std::vector<uint16_t>> dirs = {{1}};  // string ids; the dir's id is its place
  struct FileEntry {
    uint16_t id, dir;
    uint32_t flags;
    std::string name;
  };
  std::vector<FileEntry> files = {{1, 1, 0x80000000, "Tessiv.dll"}, {2, 1, 0, "Serial.dll"}};
  uint16_t root = 3;
  std::vector<uint16_t> hive = {2, 3, 4};
  std::string valueName = "Order";
  Bytes valueData = {20, 0, 0, 0};
  uint32_t valueType = 0x00010001;
  int countBonus[6] = {};  // added to the true counts
  bool dropTerminator = false;  // the last string loses its NUL
  long lengthBonus = 0;         // added to the header's length field
  int appLengthBonus = 0;       // added to the application name's length
  size_t cutTo = 0;             // keep only this many bytes (0: all)

  Bytes Build() const {
    Bytes b(100, 0);
    Set32(b, 0, 0x4543534D);
    Set32(b, 16, 1);
    Set16(b, 84, b.size()), Set16(b, 86, appName.size() + 1 + appLengthBonus), PutText(b, appName);
    Set16(b, 88, b.size()), Set16(b, 90, provider.size() + 1), PutText(b, provider);
    size_t offsets[6];
    offsets[0] = b.size();
    for (size_t i = 0; i < strings.size(); ++i) {
      Put16(b, strings[i].first), Put16(b, strings[i].second.size() + 1), PutText(b, strings[i].second);
      if (dropTerminator && i + 1 == strings.size()) b.back() = 'x';
    }
    offsets[1] = b.size();
    for (size_t i = 0; i < dirs.size(); ++i) {
      Put16(b, i + 1), Put16(b, 2 * dirs[i].size() + 2);
      for (uint16_t id : dirs[i]) Put16(b, id);
      Put16(b, 0);
    }
    offsets[2] = b.size();
    for (const FileEntry& f : files) {
      Put16(b, f.id), Put16(b, f.dir), Put16(b, f.id), Put32(b, f.flags);
      Put16(b, f.name.size() + 1), PutText(b, f.name);
    }
    offsets[3] = b.size();
    Put16(b, 1), Put16(b, root), Put16(b, 0), Put16(b, 2 * hive.size() + 2);
    for (uint16_t id : hive) Put16(b, id);
    Put16(b, 0);
    offsets[4] = b.size();
    Put16(b, 1), Put16(b, 1), Put16(b, 0), Put32(b, valueType);
    Put16(b, valueName.size() + 1 + valueData.size()), PutText(b, valueName);
    b.insert(b.end(), valueData.begin(), valueData.end());
    offsets[5] = b.size();
    const size_t counts[6] = {strings.size(), dirs.size(), files.size(), 1, 1, 0};
    for (int s = 0; s < 6; ++s) {
      Set16(b, 48 + 2 * s, counts[s] + countBonus[s]);
      Set32(b, 60 + 4 * s, offsets[s]);
    }
    Set32(b, 8, b.size() + lengthBonus);
    if (cutTo) b.resize(cutTo);
    return b;
  }
};

std::string ReadReason(const Bytes& bytes) {
  CabControlFile::Contents contents;
  std::string reason;
  if (CabControlFile::Read(bytes.data(), bytes.size(), &contents, &reason).ok()) return "read";
  EXPECT_TRUE(contents.files.empty()) << "a refused file leaves nothing behind";
  return reason;
}

TEST(CabControlFileTest, ReadsWhatTheBytesSay) {
  Bytes bytes = Control().Build();
  CabControlFile::Contents c;
  std::string reason;
  ASSERT_TRUE(CabControlFile::Read(bytes.data(), bytes.size(), &c, &reason).ok()) << reason;
  EXPECT_EQ(c.appName, "GpsSleeve");
  EXPECT_EQ(c.provider, "Dovrin");
  ASSERT_EQ(c.directories.size(), 1u);
  EXPECT_EQ(CabControlFile::DevicePath(c.directories[0].parts), "\\Windows");
  ASSERT_EQ(c.files.size(), 2u);
  EXPECT_EQ(c.files[0].name, "Tessiv.dll");
  EXPECT_EQ(c.files[0].flags, CabControlFile::kFileShared);
  ASSERT_EQ(c.hives.size(), 1u);
  EXPECT_EQ(c.hives[0].parts, (std::vector<std::string>{"Drivers", "BuiltIn", "Tessiv"}));
  ASSERT_EQ(c.values.size(), 1u);
  EXPECT_EQ(c.values[0].name, "Order");
  EXPECT_EQ(c.values[0].number, 20u);
}

struct HostileCase {
  const char* what;
  std::function<void(Control&)> spoil;
  const char* reason;  // a part of the reason given
};

const HostileCase kHostile[] = {
    {"cut inside the header", [](Control& c) { c.cutTo = 60; }, "cut short: 60 bytes"},
    {"cut short of its stated length", [](Control& c) { c.lengthBonus = 7; }, "cut short or padded"},
    {"a FILES count past its end", [](Control& c) { c.countBonus[2] = 1; }, "FILES entry 3 of 3"},
    {"a huge STRINGS count", [](Control& c) { c.countBonus[0] = 60000; }, "STRINGS entry"},
    {"a string without its terminator", [](Control& c) { c.dropTerminator = true; },
     "has no terminator"},
    {"an application name without its terminator", [](Control& c) { c.appLengthBonus = -1; },
     "application name has no terminator"},
    {"an application name running past the end", [](Control& c) { c.appLengthBonus = 9000; },
     "application name runs past the end"},
    {"a file named ..", [](Control& c) { c.files[1].name = ".."; }, "the one above it"},
    {"a file named ..\\..\\etc\\passwd", [](Control& c) { c.files[1].name = "..\\..\\etc\\passwd"; },
     "one of \\ / :"},
    {"a file named by an absolute host path", [](Control& c) { c.files[1].name = "/etc/passwd"; },
     "one of \\ / :"},
    {"a file name with a control character", [](Control& c) { c.files[1].name = "a\tb"; },
     "not printable ASCII"},
    {"a file name ending in a dot", [](Control& c) { c.files[1].name = "Tessiv."; },
     "ending in a dot"},
    {"a folder part ..", [](Control& c) { c.strings.push_back({5, ".."}), c.dirs[0] = {1, 5}; },
     "DIRS entry 1 of 1 names the folder itself or the one above it"},
    {"a folder on a host drive", [](Control& c) { c.strings[0].second = "C:"; }, "one of \\ / :"},
    {"a folder macro that names no folder", [](Control& c) { c.strings[0].second = "%CE3%"; },
     "names no folder"},
    {"a file in a folder not in DIRS", [](Control& c) { c.files[1].dir = 9; },
     "names a directory that is not in DIRS"},
    {"a folder naming a string not in STRINGS", [](Control& c) { c.dirs[0] = {1, 77}; },
     "not in STRINGS"},
    {"two files with one id", [](Control& c) { c.files[1].id = 1; }, "is taken"},
    {"a file id of 999", [](Control& c) { c.files[1].id = 999; }, "not 1-998"},
    {"unknown file flags", [](Control& c) { c.files[1].flags = 0x00000100; }, "not understood"},
    {"a number of three bytes", [](Control& c) { c.valueData = {1, 2, 3}; }, "not 4 bytes"},
    {"a binary value", [](Control& c) { c.valueType = 1; }, "other than string or 32-bit"},
    {"a key below HKEY_CLASSES_ROOT", [](Control& c) { c.root = 1; }, "HKEY_LOCAL_MACHINE"},
    {"a string value without its terminator",
     [](Control& c) { c.valueType = 0, c.valueData = {'O', 'P', 'T'}; }, "has no terminator"},
};

TEST(CabControlFileTest, RefusesHostileFilesWithTheirReason) {
  for (const HostileCase& test : kHostile) {
    Control control;
    test.spoil(control);
    std::string reason = ReadReason(control.Build());
    EXPECT_NE(reason.find(test.reason), std::string::npos)
        << test.what << ": the reason given was \"" << reason << "\"";
  }
}

TEST(CabControlFileTest, RefusesEveryCutOfASoundFile) {
  Bytes whole = Control().Build();
  for (size_t size = 0; size < whole.size(); ++size) {
    Bytes cut(whole.begin(), whole.begin() + static_cast<long>(size));
    EXPECT_NE(ReadReason(cut), "read") << "cut to " << size << " bytes";
  }
}

TEST(CabControlFileTest, WritesWhatReadsBackTheSame) {
  Bytes bytes = Control().Build();
  CabControlFile::Contents first, second;
  std::string reason;
  ASSERT_TRUE(CabControlFile::Read(bytes.data(), bytes.size(), &first, &reason).ok()) << reason;
  first.versionMin[0] = 3, first.versionMax[0] = 3, first.versionMax[1] = 99;
  first.unsupported = {"HPC", "PALM PC"};
  Bytes written;
  ASSERT_TRUE(CabControlFile::Write(first, &written, &reason).ok()) << reason;
  ASSERT_TRUE(CabControlFile::Read(written.data(), written.size(), &second, &reason).ok()) << reason;
  EXPECT_EQ(second.appName, first.appName);
  EXPECT_EQ(second.unsupported, first.unsupported);
  EXPECT_EQ(second.versionMax[1], 99u);
  ASSERT_EQ(second.files.size(), first.files.size());
  for (size_t i = 0; i < first.files.size(); ++i) {
    EXPECT_EQ(second.files[i].name, first.files[i].name);
    EXPECT_EQ(second.files[i].flags, first.files[i].flags);
  }
  ASSERT_EQ(second.hives.size(), 1u);
  EXPECT_EQ(second.hives[0].parts, first.hives[0].parts);
  ASSERT_EQ(second.values.size(), 1u);
  EXPECT_EQ(second.values[0].number, 20u);
  // The header's length is the file's.
  EXPECT_EQ(written[8] | written[9] << 8 | written[10] << 16, static_cast<int>(written.size()));
}

TEST(CabControlFileTest, WritesNothingItWouldRefuseToRead) {
  CabControlFile::Contents contents;
  contents.appName = "A", contents.provider = "P";
  contents.directories = {{1, {"%CE2%"}}};
  contents.files = {{1, 1, 0, ".."}};
  Bytes written;
  std::string reason;
  EXPECT_FALSE(CabControlFile::Write(contents, &written, &reason).ok());
  EXPECT_NE(reason.find("the one above it"), std::string::npos) << reason;
  EXPECT_TRUE(written.empty());
}

}  // namespace
