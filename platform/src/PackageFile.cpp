#include "PackageFile.h"

#include <fstream>

#include "DeviceFolder.h"

namespace handheld::detail {

namespace {

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

}  // namespace

bool PackageFile::Load(const std::string& path, const std::string& sourceFolder,
                       std::string* reason) {
  std::ifstream in(path);
  if (!in) {
    *reason = "cannot read package file " + path;
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!ParseLine(Trimmed(line), sourceFolder, reason)) {
      *reason = path + ":" + std::to_string(number) + ": " + *reason;
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
  if (SameFolded(section_, "Package")) {
    size_t equals = line.find('=');
    std::string field = Trimmed(line.substr(0, equals));
    std::string value = equals == std::string::npos ? "" : Trimmed(line.substr(equals + 1));
    if (SameFolded(field, "Name") && !value.empty() && value.find('\\') == std::string::npos &&
        !SameFolded(value, "Shared")) {
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
  if (SameFolded(section_, "Files")) {
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
    file.source = source[0] == '/' ? source : sourceFolder + "/" + source;
    file.target = FromUtf8(rest);
    files_.push_back(file);
    return true;
  }
  if (section_.empty()) {
    *reason = "a line outside every section";
    return false;
  }
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
