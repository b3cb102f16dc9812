#include "DataSource.h"

#include <cctype>
#include <utility>
#include <vector>

namespace ordalis::host {
namespace {

// A connect string starts with KEY=; anything else starts with the name of
// a data source (maybe followed by ";KEY=value" attributes, as the engine
// takes it).
bool IsConnectString(const std::string& text) {
  std::size_t eq = text.find('='), semi = text.find(';');
  return eq != std::string::npos && (semi == std::string::npos || eq < semi);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// The KEY=value attributes of a connect string, values as written ({braced}
// values may hold ';').
std::vector<std::pair<std::string, std::string>> Attributes(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t eq = text.find('=', i), semi = text.find(';', i);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      i = semi == std::string::npos ? text.size() : semi + 1;  // a piece without '=' is dropped
      continue;
    }
    std::string key = Trim(text.substr(i, eq - i));
    std::size_t v = eq + 1;
    while (v < text.size() && text[v] == ' ') ++v;
    std::size_t end;
    if (v < text.size() && text[v] == '{') {
      end = v + 1;
      while (end < text.size() && !(text[end] == '}' && (end + 1 >= text.size() || text[end + 1] != '}'))) {
        end += text[end] == '}' ? 2 : 1;  // "}}" is a brace inside the value
      }
      end = std::min(end + 1, text.size());
      std::size_t next = text.find(';', end);
      out.emplace_back(key, text.substr(v, end - v));
      i = next == std::string::npos ? text.size() : next + 1;
      continue;
    }
    end = text.find(';', v);
    if (end == std::string::npos) end = text.size();
    out.emplace_back(key, Trim(text.substr(v, end - v)));
    i = end + 1;
  }
  return out;
}

// A value as a connect string holds it: braced when it could be misread.
std::string Value(const std::string& value) {
  if (value.find_first_of(";{}= ") == std::string::npos) return value;
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

}  // namespace

std::string EngineDataSource(const std::string& dsn) {
  if (!IsConnectString(dsn)) return dsn;
  std::string name, rest;
  for (const auto& [key, value] : Attributes(dsn)) {
    if (Upper(key) == "DSN")
      name = value;
    else
      rest += ";" + key + "=" + value;
  }
  return name + rest;
}

std::string DataSourceConnect(const std::string& dsn, const std::string& user, const std::string& pwd) {
  std::string connect = IsConnectString(dsn)                     ? dsn
                        : dsn.find(';') == std::string::npos ? "DSN=" + Value(dsn)
                                                             : "DSN=" + dsn;
  if (!connect.empty() && connect.back() != ';') connect += ';';
  bool has_uid = false, has_pwd = false;
  for (const auto& [key, value] : Attributes(connect)) {
    has_uid = has_uid || Upper(key) == "UID";
    has_pwd = has_pwd || Upper(key) == "PWD";
  }
  if (!user.empty() && !has_uid) connect += "UID=" + Value(user) + ";";
  if (!pwd.empty() && !has_pwd) connect += "PWD=" + Value(pwd) + ";";
  return connect;
}

}  // namespace ordalis::host
