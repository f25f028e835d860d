// Cabinets for the installer tests, made from the build's with Debian's own
// tools: cabextract unpacks one into the draft's folder, the test changes
// its members there -- the control file through its contents, or byte by
// byte where it is to be broken -- and gcab packs them again, the control
// file first.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CabControlFile.h"

namespace bustest {

// Runs `argv` with its output thrown away; its exit status, or -1.
inline int RunQuietly(const std::vector<std::string>& argv) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (!freopen("/dev/null", "w", stdout)) _exit(127);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
}
inline void Put16(std::vector<uint8_t>* b, size_t at, uint16_t value) {
  b->at(at) = static_cast<uint8_t>(value);
  b->at(at + 1) = static_cast<uint8_t>(value >> 8);
}

class CabinetDraft {
 public:
  using Control = handheld::detail::CabControlFile;
  struct Member {
    std::string name;
    std::vector<uint8_t> bytes;
  };

  // `cabinet` unpacked into `folder` (made when missing).
  CabinetDraft(const std::string& cabinet, const std::filesystem::path& folder) : folder_(folder) {
    std::filesystem::create_directories(folder_ / "in");
    EXPECT_EQ(RunQuietly({"/usr/bin/cabextract", "-q", "-d", (folder_ / "in").string(), cabinet}), 0)
        << "cabextract could not unpack " << cabinet;
    // cabextract lists the members as the cabinet holds them.
    for (const auto& entry : std::filesystem::directory_iterator(folder_ / "in"))
      members_.push_back({entry.path().filename().string(), ReadBytes(entry.path())});
    // The control file first, the others in descending order.
    auto order = [](const Member& member) {
      const int number = Number(member.name);
      return number == 0 ? 1000 : number;
    };
    std::sort(members_.begin(), members_.end(),
              [&](const Member& a, const Member& b) { return order(a) > order(b); });
    std::filesystem::remove_all(folder_ / "in");
  }

  static int Number(const std::string& name) { return std::stoi(name.substr(name.rfind('.') + 1)); }

  std::vector<Member>& members() { return members_; }
  // The control file's bytes (member .000).
  std::vector<uint8_t>& control() { return members_.front().bytes; }

  // The control file's contents, to be changed and put back with SetContents.
  Control::Contents Contents() {
    Control::Contents contents;
    std::string reason;
    EXPECT_TRUE(Control::Read(control().data(), control().size(), &contents, &reason).ok()) << reason;
    return contents;
  }
  void SetContents(const Control::Contents& contents) {
    std::string reason;
    EXPECT_TRUE(Control::Write(contents, &control(), &reason).ok()) << reason;
  }

  void Remove(int number) {
    std::erase_if(members_, [&](const Member& member) { return Number(member.name) == number; });
  }
  void Add(const std::string& name, std::vector<uint8_t> bytes) {
    members_.push_back({name, std::move(bytes)});
  }

  // The members packed by gcab into `name` in the draft's folder, in their
  // order; its path.
  std::string Pack(const std::string& name) {
    const std::filesystem::path out = folder_ / name, in = folder_ / (name + ".members");
    std::filesystem::create_directories(in);
    std::vector<std::string> argv{"/usr/bin/gcab", "--create", "--nopath", out.string()};
    for (const Member& member : members_) {
      WriteBytes(in / member.name, member.bytes);
      argv.push_back((in / member.name).string());
    }
    EXPECT_EQ(RunQuietly(argv), 0) << "gcab could not pack " << out;
    std::filesystem::remove_all(in);
    return out.string();
  }

 private:
  std::filesystem::path folder_;
  std::vector<Member> members_;
};

}  // namespace bustest
