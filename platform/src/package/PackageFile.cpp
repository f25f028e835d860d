#include "PackageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "DeviceFolder.h"
#include "HandheldPath.h"
#include "NameFold.h"

namespace handheld::detail {

namespace {

constexpr off_t kMaxPackageBytes = off_t(64) << 20;

std::string Trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

bool SameFolded(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// A quoted .reg string starting at text[*at] ('"'), with \\ and \" escaped;
// *at ends past the closing quote.
bool Quoted(const std::string& text, size_t* at, std::string* out) {
  if (*at >= text.size() || text[*at] != '"') return false;
  out->clear();
  for (size_t i = *at + 1; i < text.size(); ++i) {
    if (text[i] == '"') {
      *at = i + 1;
      return true;
    }
    if (text[i] == '\\') {
      if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) return false;
      ++i;
    }
    *out += text[i];
  }
  return false;
}


// The whole file, read without waiting on anything that is not a regular
// file (a FIFO would wait for a writer for ever).
bool ReadText(const std::string& path, std::string* text, std::string* reason) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *reason = "cannot read package file " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = fstat(fd, &st) == 0;
  if (!ok || !S_ISREG(st.st_mode) || st.st_size > kMaxPackageBytes) {
    *reason = "cannot read package file " + path + ": " +
              (!ok                     ? std::string(std::strerror(errno))
               : S_ISDIR(st.st_mode)   ? std::string("it is a folder")
               : !S_ISREG(st.st_mode)  ? std::string("it is not a regular file")
                                       : "it is larger than " +
                                             std::to_string(kMaxPackageBytes >> 20) + " MB");
    close(fd);
    return false;
  }
  text->resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (ok && done < text->size()) {
    ssize_t n = read(fd, text->data() + done, text->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;  // it shrank meanwhile
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  close(fd);
  if (!ok) *reason = "cannot read package file " + path + ": " + std::strerror(errno);
  text->resize(done);
  return ok;
}

// Text in UTF-16, with its byte order mark or as ASCII with every other
// byte zero.
bool LooksUtf16(const std::string& text) {
  if (text.size() < 2) return false;
  const auto b0 = static_cast<unsigned char>(text[0]), b1 = static_cast<unsigned char>(text[1]);
  return (b0 == 0xFF && b1 == 0xFE) || (b0 == 0xFE && b1 == 0xFF) || (b0 != 0 && b1 == 0) ||
         (b0 == 0 && b1 != 0);
}

// Whether `line` is well-formed UTF-8 without NUL characters; else why not.
bool IsUtf8Line(const std::string& line, std::string* reason) {
  for (size_t i = 0; i < line.size();) {
    const auto b = static_cast<unsigned char>(line[i]);
    if (b == 0) {
      *reason = "a NUL character";
      return false;
    }
    const size_t extra = b < 0x80             ? 0
                         : (b & 0xE0) == 0xC0   ? 1
                         : (b & 0xF0) == 0xE0   ? 2
                         : (b & 0xF8) == 0xF0   ? 3
                                                : 4;
    bool ok = extra < 4 && b != 0xC0 && b != 0xC1;
    for (size_t k = 1; ok && k <= extra; ++k)
      ok = i + k < line.size() && (static_cast<unsigned char>(line[i + k]) & 0xC0) == 0x80;
    if (!ok) {
      *reason = "not UTF-8 text";
      return false;
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace

bool PackageFile::Load(const std::string& path, const std::string& sourceFolder,
                       std::string* reason) {
  path_ = path;
  std::string text;
  if (!ReadText(path, &text, reason)) return false;
  if (LooksUtf16(text)) {
    *reason = path + ": the package file is UTF-16 text, not UTF-8 text";
    return false;
  }
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);  // a UTF-8 byte order mark
  int number = 0;
  for (size_t start = 0; start < text.size(); ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    line_ = number + 1;
    if (!IsUtf8Line(line, reason) || !ParseLine(Trimmed(line), sourceFolder, reason)) {
      *reason = path + ":" + std::to_string(number + 1) + ": " + *reason;
      return false;
    }
  }
  if (name_.empty()) {
    *reason = path + ": no package name";
    return false;
  }
  return true;
}

bool PackageFile::ParseLine(const std::string& line, const std::string& sourceFolder,
                            std::string* reason) {
  if (line.empty() || line[0] == ';') return true;
  if (line.front() == '[') {
    if (line.back() != ']' || line.size() < 3) {
      *reason = "section without its ']'";
      return false;
    }
    section_ = Trimmed(line.substr(1, line.size() - 2));
    return true;
  }
  if (SameFolded(section_, "Package")) return ParsePackageLine(line, sourceFolder, reason);
  if (SameFolded(section_, "Files")) return ParseFileLine(line, sourceFolder, reason);
  if (section_.empty()) {
    *reason = "a line outside every section";
    return false;
  }
  return ParseValueLine(line, reason);
}

bool PackageFile::ParsePackageLine(const std::string& line, const std::string& sourceFolder,
                                   std::string* reason) {
  size_t equals = line.find('=');
  std::string field = Trimmed(line.substr(0, equals));
  std::string value = equals == std::string::npos ? "" : Trimmed(line.substr(equals + 1));
  if (SameFolded(field, "Name") && !value.empty()) {
    // The name makes a registry key and the file name of the plug-in's copy.
    std::string why;
    if (SameFolded(value, "Shared") || !HandheldPath::IsPartName(FromUtf8(value), &why)) {
      *reason = "the package name " + value + " is not allowed" +
                (why.empty() ? std::string() : ": " + why);
      return false;
    }
    name_ = FromUtf8(value);
    return true;
  }
  if (SameFolded(field, "Setup") && !value.empty()) {
    setup_ = value[0] == '/' ? value : sourceFolder + "/" + value;
    return true;
  }
  *reason = "expected Name=<name> or Setup=<library>";
  return false;
}

bool PackageFile::ParseFileLine(const std::string& line, const std::string& sourceFolder,
                                std::string* reason) {
  size_t arrow = line.find("->");
  std::string source = Trimmed(line.substr(0, arrow));
  std::string rest = arrow == std::string::npos ? "" : Trimmed(line.substr(arrow + 2));
  File file;
  if (size_t space = rest.find_last_of(" \t");
      space != std::string::npos && SameFolded(rest.substr(space + 1), "shared")) {
    file.shared = true;
    rest = Trimmed(rest.substr(0, space));
  }
  if (source.empty() || rest.size() < 2 || rest[0] != '\\') {
    *reason = "expected <library> -> \\<handheld path> [shared]";
    return false;
  }
  const HandheldPath target(FromUtf8(rest));
  if (!target.ok() || target.parts().empty()) {
    *reason = "the target " + rest + " is no file the handheld can hold: " +
              (target.ok() ? std::string("it is the root") : target.reason());
    return false;
  }
  // One file, one source: a second listing would be copied, counted and
  // removed twice.
  for (const File& listed : files_) {
    if (NameFold::Equal(listed.target, target.path())) {
      *reason = "the target " + rest + " is listed twice (first on line " +
                std::to_string(listed.line) + ")";
      return false;
    }
  }
  file.source = source[0] == '/' ? source : sourceFolder + "/" + source;
  file.target = target.path();
  file.line = line_;
  files_.push_back(file);
  return true;
}

bool PackageFile::ParseValueLine(const std::string& line, std::string* reason) {
  Value value;
  value.key = FromUtf8(section_);
  size_t at = 0;
  std::string name, data;
  if (!Quoted(line, &at, &name) || at >= line.size() || line[at] != '=') {
    *reason = "expected \"<name>\"=<data>";
    return false;
  }
  value.name = FromUtf8(name);
  ++at;
  std::string rest = line.substr(at);
  if (rest.compare(0, 6, "dword:") == 0) {
    std::string digits = rest.substr(6);
    if (digits.empty() || digits.size() > 8 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      *reason = "expected dword:<up to 8 hexadecimal digits>";
      return false;
    }
    value.type = REG_DWORD;
    value.number = static_cast<DWORD>(std::stoul(digits, nullptr, 16));
  } else if (Quoted(line, &at, &data) && at == line.size()) {
    value.type = REG_SZ;
    value.text = FromUtf8(data);
  } else {
    *reason = "expected \"<text>\" or dword:<hex> after '='";
    return false;
  }
  values_.push_back(value);
  return true;
}

}  // namespace handheld::detail
