#include "platform/Registry.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include "ordalis/KeyedCollection.h"
#include "platform/FileSystem.h"
#include "platform/TextLines.h"

namespace ordalis::platform {

namespace {

constexpr char kDefaultRegistryFile[] = "/etc/ordalis/registry.reg";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses 1..max_digits hex digits; nothing else allowed.
std::optional<std::uint32_t> ParseHex(std::string_view s, std::size_t max_digits) {
  if (s.empty() || s.size() > max_digits) return std::nullopt;
  std::uint32_t v = 0;
  for (char c : s) {
    int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  return v;
}

// Reads a quoted text starting at s[0] == '"'. Returns the text and moves
// `s` past the closing quote; nothing when there is no closing quote.
std::optional<std::string> ReadQuoted(std::string_view& s) {
  std::string out;
  for (std::size_t i = 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      out += s[++i];
    } else if (c == '"') {
      s.remove_prefix(i + 1);
      return out;
    } else {
      out += c;
    }
  }
  return std::nullopt;
}

// Comma-separated bytes of a hex: form ("31,00,ff"); empty text is no bytes.
std::optional<std::string> ParseHexBytes(std::string_view s) {
  std::string out;
  s = TrimBlanks(s);
  if (s.empty()) return out;
  for (;;) {
    std::size_t comma = s.find(',');
    auto byte = ParseHex(TrimBlanks(s.substr(0, comma)), 2);
    if (!byte) return std::nullopt;
    out += static_cast<char>(*byte);
    if (comma == std::string_view::npos) break;
    s.remove_prefix(comma + 1);
  }
  return out;
}

// The data side of a value line (after '='). Nothing when the line is to be
// skipped.
std::optional<RegValue> ParseData(std::string_view data) {
  data = TrimBlanks(data);
  if (data.empty()) return std::nullopt;
  if (data.front() == '"') {
    auto text = ReadQuoted(data);
    if (!text || !TrimBlanks(data).empty()) return std::nullopt;
    text->push_back('\0');
    return RegValue{REG_SZ, std::move(*text)};
  }
  if (data == "-") return std::nullopt;  // a deletion, meaningless in a read-only file
  std::size_t colon = data.find(':');
  if (colon == std::string_view::npos) return RegValue{REG_NONE, {}};
  std::string_view kind = TrimBlanks(data.substr(0, colon));
  std::string_view body = data.substr(colon + 1);
  if (EqualsNoCase(kind, "dword")) {
    auto v = ParseHex(TrimBlanks(body), 8);
    if (!v) return std::nullopt;
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>((*v >> (8 * i)) & 0xFF);
    return RegValue{REG_DWORD, std::move(bytes)};
  }
  std::optional<std::uint32_t> type;
  if (EqualsNoCase(kind, "hex")) {
    type = REG_BINARY;
  } else if (StartsWithNoCase(kind, "hex(") && kind.back() == ')') {
    type = ParseHex(kind.substr(4, kind.size() - 5), 8);
    if (!type) return std::nullopt;
    // Only the quoted form is a string and only dword: a number.
    if (*type == REG_SZ || *type == REG_DWORD) type = REG_BINARY;
  }
  if (!type) return RegValue{REG_NONE, {}};
  auto bytes = ParseHexBytes(body);
  if (!bytes) return std::nullopt;
  return RegValue{*type, std::move(*bytes)};
}

struct FileState {
  std::mutex mu;
  std::shared_ptr<const Registry> override_registry;
  std::shared_ptr<const Registry> file_registry;
  std::string path;
  bool loaded = false;
  bool existed = false;
  struct timespec mtime {};
  off_t size = 0;
  std::string problem;  // why an existing file was not read
};

FileState& State() {
  static FileState state;
  return state;
}

}  // namespace

std::string Registry::NormalizePath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '\\' || c == '/') {
      if (!out.empty() && out.back() != '\\') out += '\\';
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() == '\\') out.pop_back();
  return FoldKey(out);
}

void Registry::AddKey(std::string_view path) {
  std::string norm = NormalizePath(path);
  for (;;) {
    keys_.try_emplace(norm);
    if (norm.empty()) break;
    std::size_t cut = norm.rfind('\\');
    norm.resize(cut == std::string::npos ? 0 : cut);
  }
}

void Registry::SetValue(std::string_view path, std::string_view name, std::uint32_t type, std::string data) {
  AddKey(path);
  keys_[NormalizePath(path)].values[FoldKey(name)] = RegValue{type, std::move(data)};
}

void Registry::SetString(std::string_view path, std::string_view name, std::string_view text) {
  std::string data(text);
  data.push_back('\0');
  SetValue(path, name, REG_SZ, std::move(data));
}

void Registry::SetDword(std::string_view path, std::string_view name, std::uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
  SetValue(path, name, REG_DWORD, std::move(bytes));
}

const Registry::Key* Registry::FindKey(std::string_view path) const {
  auto it = keys_.find(NormalizePath(path));
  return it == keys_.end() ? nullptr : &it->second;
}

const RegValue* Registry::FindValue(std::string_view path, std::string_view name) const {
  const Key* key = FindKey(path);
  if (key == nullptr) return nullptr;
  auto it = key->values.find(FoldKey(name));
  return it == key->values.end() ? nullptr : &it->second;
}

Registry Registry::Parse(std::string_view raw) {
  Registry reg;
  std::string text = DecodeTextFile(raw);
  std::vector<std::string_view> lines = SplitLines(text);
  std::optional<std::string> current;  // the key values are added to

  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = TrimBlanks(lines[i]);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      current.reset();
      std::size_t close = line.rfind(']');
      if (close == std::string_view::npos) continue;
      std::string_view path = TrimBlanks(line.substr(1, close - 1));
      if (path.empty() || path.front() == '-') continue;
      std::size_t sep = path.find('\\');
      std::string_view hive = path.substr(0, sep);
      if (!EqualsNoCase(hive, "HKEY_LOCAL_MACHINE") && !EqualsNoCase(hive, "HKLM")) continue;
      std::string_view sub = sep == std::string_view::npos ? std::string_view{} : path.substr(sep + 1);
      reg.AddKey(sub);
      current = NormalizePath(sub);
      continue;
    }
    if (!current) continue;  // header line, values of a skipped key, stray text

    // Value name.
    std::string_view rest = line;
    std::string name;
    if (rest.front() == '@') {
      rest.remove_prefix(1);
    } else if (rest.front() == '"') {
      auto quoted = ReadQuoted(rest);
      if (!quoted) continue;
      name = std::move(*quoted);
    } else {
      continue;
    }
    rest = TrimBlanks(rest);
    if (rest.empty() || rest.front() != '=') continue;
    rest.remove_prefix(1);

    // hex forms continue over lines ending in a backslash.
    std::string joined;
    std::string_view data = TrimBlanks(rest);
    if (StartsWithNoCase(data, "hex") && !data.empty() && data.back() == '\\') {
      joined.assign(data.substr(0, data.size() - 1));
      while (i + 1 < lines.size()) {
        std::string_view next = TrimBlanks(lines[++i]);
        bool more = !next.empty() && next.back() == '\\';
        if (more) next.remove_suffix(1);
        joined.append(next);
        if (!more) break;
      }
      data = joined;
    }
    auto value = ParseData(data);
    if (!value) continue;
    reg.keys_[*current].values[FoldKey(name)] = std::move(*value);
  }
  return reg;
}

Registry Registry::LoadFile(const std::string& path, std::string* problem) {
  auto bytes = ReadWholeFile(path, problem);
  return bytes ? Parse(*bytes) : Registry{};
}

std::string Registry::DefaultPath() {
  const char* env = std::getenv("ORDALIS_REGISTRY");
  return env != nullptr && *env != '\0' ? std::string(env) : std::string(kDefaultRegistryFile);
}

std::shared_ptr<const Registry> Registry::Current() {
  FileState& st = State();
  std::lock_guard<std::mutex> lock(st.mu);
  if (st.override_registry) return st.override_registry;

  std::string path = DefaultPath();
  struct stat sb;
  bool exists = ::stat(path.c_str(), &sb) == 0;
  bool same = st.loaded && path == st.path && exists == st.existed &&
              (!exists || (sb.st_size == st.size && sb.st_mtim.tv_sec == st.mtime.tv_sec &&
                           sb.st_mtim.tv_nsec == st.mtime.tv_nsec));
  if (!same) {
    st.problem.clear();
    st.file_registry = std::make_shared<const Registry>(exists ? LoadFile(path, &st.problem) : Registry{});
    if (!st.problem.empty()) st.problem = "registry file " + path + ": " + st.problem;
    st.path = path;
    st.loaded = true;
    st.existed = exists;
    st.mtime = exists ? sb.st_mtim : timespec{};
    st.size = exists ? sb.st_size : 0;
  }
  return st.file_registry;
}

std::string Registry::FileProblem() {
  Current();
  FileState& st = State();
  std::lock_guard<std::mutex> lock(st.mu);
  return st.override_registry ? std::string() : st.problem;
}

void Registry::SetForTesting(std::shared_ptr<const Registry> registry) {
  FileState& st = State();
  std::lock_guard<std::mutex> lock(st.mu);
  st.override_registry = std::move(registry);
}

long RegKey::Query(std::string_view name, std::uint32_t* type, void* data, std::uint32_t* size) const {
  if (key_ == nullptr) return kRegInvalidHandle;
  auto it = key_->values.find(FoldKey(name));
  if (it == key_->values.end()) return kRegNotFound;
  const RegValue& v = it->second;
  auto needed = static_cast<std::uint32_t>(v.data.size());
  if (type != nullptr) *type = v.type;
  if (data == nullptr) {
    *size = needed;
    return kRegOk;
  }
  if (*size < needed) {
    *size = needed;
    return kRegMoreData;
  }
  if (needed != 0) std::memcpy(data, v.data.data(), needed);
  *size = needed;
  return kRegOk;
}

long RegOpenKey(HKEY root, std::string_view subkey, RegKey* out) {
  out->Close();
  if (root != HKEY_LOCAL_MACHINE) return kRegInvalidHandle;
  auto registry = Registry::Current();
  const Registry::Key* key = registry->FindKey(subkey);
  if (key == nullptr) return kRegNotFound;
  out->registry_ = std::move(registry);
  out->key_ = key;
  return kRegOk;
}

}  // namespace ordalis::platform
