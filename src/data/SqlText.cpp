#include "data/SqlText.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>

#include "ordalis/DateTime.h"

namespace ordalis::rdo {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool OneOf(std::string_view word, std::initializer_list<std::string_view> words) {
  for (auto w : words)
    if (EqualNoCase(word, w)) return true;
  return false;
}

// Index just past a quoted run starting at i ('..', "..", `..`, [..]);
// a doubled closing quote stays inside.
std::size_t SkipQuoted(std::string_view s, std::size_t i) {
  char close = s[i] == '[' ? ']' : s[i];
  for (std::size_t j = i + 1; j < s.size(); ++j) {
    if (s[j] == close) {
      if (close != ']' && j + 1 < s.size() && s[j + 1] == close) {
        ++j;
        continue;
      }
      return j + 1;
    }
  }
  return s.size();
}

bool IsQuote(char c) { return c == '\'' || c == '"' || c == '`' || c == '['; }

// The word starting at i (letters, digits, '_', '$').
std::string_view WordAt(std::string_view s, std::size_t i) {
  std::size_t j = i;
  while (j < s.size() && IsWordChar(s[j])) ++j;
  return s.substr(i, j - i);
}

std::size_t SkipSpace(std::string_view s, std::size_t i) {
  while (i < s.size() && IsSpace(s[i])) ++i;
  return i;
}

// An identifier at i: quoted, or words joined by '.' (schema.table).
std::size_t SkipIdentifier(std::string_view s, std::size_t i) {
  std::size_t start = i;
  for (;;) {
    if (i < s.size() && IsQuote(s[i]) && s[i] != '\'') {
      i = SkipQuoted(s, i);
    } else {
      std::size_t j = i;
      while (j < s.size() && IsWordChar(s[j])) ++j;
      if (j == i) return i == start ? start : i;
      i = j;
    }
    if (i < s.size() && s[i] == '.') {
      ++i;
      continue;
    }
    return i;
  }
}

}  // namespace

std::optional<std::string> ConnectValue(std::string_view connect, std::string_view key) {
  std::size_t pos = 0;
  while (pos <= connect.size()) {
    std::size_t end = connect.find(';', pos);
    if (end == std::string_view::npos) end = connect.size();
    std::string_view part = connect.substr(pos, end - pos);
    std::size_t eq = part.find('=');
    if (eq != std::string_view::npos && EqualNoCase(Trim(part.substr(0, eq)), key)) {
      std::string_view value = Trim(part.substr(eq + 1));
      if (value.size() >= 2 && value.front() == '{' && value.back() == '}') value = value.substr(1, value.size() - 2);
      return std::string(value);
    }
    pos = end + 1;
  }
  return std::nullopt;
}

std::string RewriteDateEscapes(std::string_view sql) {
  std::string out;
  out.reserve(sql.size());
  std::size_t i = 0;
  while (i < sql.size()) {
    char c = sql[i];
    if (c == '\'' || c == '"') {
      std::size_t j = SkipQuoted(sql, i);
      out.append(sql.substr(i, j - i));
      i = j;
      continue;
    }
    if (c == '{') {
      std::size_t j = SkipSpace(sql, i + 1);
      std::string_view kind = WordAt(sql, j);
      j = SkipSpace(sql, j + kind.size());
      if ((EqualNoCase(kind, "d") || EqualNoCase(kind, "ts") || EqualNoCase(kind, "t")) && j < sql.size() &&
          sql[j] == '\'') {
        std::size_t close = sql.find('\'', j + 1);
        if (close != std::string_view::npos) {
          std::string_view literal = sql.substr(j + 1, close - j - 1);
          std::size_t k = SkipSpace(sql, close + 1);
          if (k < sql.size() && sql[k] == '}') {
            if (auto d = dt::ParseStored(Trim(literal)); d && dt::InRange(*d)) {
              out += '\'';
              out += dt::ToIsoText(*d);
              out += '\'';
              i = k + 1;
              continue;
            }
          }
        }
      }
    }
    out += c;
    ++i;
  }
  return out;
}

std::string StripComments(std::string_view sql) {
  std::string out;
  out.reserve(sql.size());
  for (std::size_t i = 0; i < sql.size();) {
    const char c = sql[i];
    if (IsQuote(c)) {
      const std::size_t end = SkipQuoted(sql, i);
      out.append(sql.substr(i, end - i));
      i = end;
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      const std::size_t eol = sql.find('\n', i);
      out += ' ';
      i = eol == std::string_view::npos ? sql.size() : eol;
    } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      const std::size_t close = sql.find("*/", i + 2);
      out += ' ';
      i = close == std::string_view::npos ? sql.size() : close + 2;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

std::optional<SingleTableSelect> ParseSingleTableSelect(std::string_view text) {
  // The layer adds its own text after the statement's: a comment at its end
  // must not swallow it.
  const std::string stripped = StripComments(text);
  std::string_view sql = Trim(stripped);
  while (!sql.empty() && sql.back() == ';') sql = Trim(sql.substr(0, sql.size() - 1));
  std::size_t i = 0;
  if (!EqualNoCase(WordAt(sql, i), "select")) return std::nullopt;
  i += 6;
  std::size_t list_start = i;
  int depth = 0;
  std::size_t from = std::string_view::npos;
  while (i < sql.size()) {
    char c = sql[i];
    if (IsQuote(c)) {
      i = SkipQuoted(sql, i);
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')') --depth;
    if (IsWordChar(c)) {
      std::string_view w = WordAt(sql, i);
      if (depth == 0 && EqualNoCase(w, "from")) {
        from = i;
        break;
      }
      i += w.size();
      continue;
    }
    ++i;
  }
  if (from == std::string_view::npos) return std::nullopt;
  SingleTableSelect out;
  out.list = std::string(Trim(sql.substr(list_start, from - list_start)));
  if (out.list.empty() || EqualNoCase(WordAt(out.list, 0), "distinct")) return std::nullopt;
  i = SkipSpace(sql, from + 4);
  std::size_t table_end = SkipIdentifier(sql, i);
  if (table_end == i) return std::nullopt;
  out.table = std::string(sql.substr(i, table_end - i));
  i = SkipSpace(sql, table_end);
  std::string_view word = WordAt(sql, i);
  if (EqualNoCase(word, "as")) {
    i = SkipSpace(sql, i + 2);
    std::size_t alias_end = SkipIdentifier(sql, i);
    if (alias_end == i) return std::nullopt;
    out.alias = std::string(sql.substr(i, alias_end - i));
    i = SkipSpace(sql, alias_end);
  } else if ((!word.empty() || (i < sql.size() && (sql[i] == '"' || sql[i] == '[' || sql[i] == '`'))) &&
             !OneOf(word, {"where", "order", "group", "having", "limit", "offset", "union", "except", "intersect",
                           "join", "inner", "left", "right", "cross", "natural", "full", "outer", "for", "window"})) {
    std::size_t alias_end = SkipIdentifier(sql, i);
    out.alias = std::string(sql.substr(i, alias_end - i));
    i = SkipSpace(sql, alias_end);
  }
  std::string_view rest = Trim(sql.substr(i));
  if (!rest.empty() && rest.front() == ',') return std::nullopt;
  std::string_view first = WordAt(rest, 0);
  if (OneOf(first, {"join", "inner", "left", "right", "cross", "natural", "full", "outer"})) return std::nullopt;
  out.rest = std::string(rest);
  return out;
}

std::optional<std::string> WrittenTable(std::string_view text) {
  const std::string stripped = StripComments(text);
  std::string_view sql = Trim(stripped);
  std::size_t i = 0;
  std::string_view verb = WordAt(sql, i);
  std::string_view then;
  if (EqualNoCase(verb, "update")) then = "";
  else if (EqualNoCase(verb, "insert")) then = "into";
  else if (EqualNoCase(verb, "delete")) then = "from";
  else return std::nullopt;
  i = SkipSpace(sql, verb.size());
  if (!then.empty()) {
    if (!EqualNoCase(WordAt(sql, i), then)) return std::nullopt;
    i = SkipSpace(sql, i + then.size());
  }
  if (EqualNoCase(WordAt(sql, i), "only")) i = SkipSpace(sql, i + 4);
  const std::size_t end = SkipIdentifier(sql, i);
  if (end == i) return std::nullopt;
  return std::string(sql.substr(i, end - i));
}

std::string TableNameKey(std::string_view name) {
  std::string key;
  for (std::size_t i = 0; i < name.size();) {
    if (IsQuote(name[i])) {
      const std::size_t end = SkipQuoted(name, i);
      std::string_view quoted = name.substr(i + 1, end - i - 1);
      if (!quoted.empty() && (quoted.back() == '"' || quoted.back() == '`' || quoted.back() == ']'))
        quoted.remove_suffix(1);
      for (char c : quoted) key += Lower(c);
      i = end;
    } else if (name[i] == '.') {
      key.clear();
      ++i;
    } else {
      key += Lower(name[i++]);
    }
  }
  return key;
}

DeclaredType ParseDeclaredType(std::string_view declared) {
  std::string up;
  for (char c : Trim(declared)) up += Upper(c);
  std::string_view s = up;
  std::string_view base = s;
  int arg1 = 0, arg2 = -1;
  if (std::size_t p = s.find('('); p != std::string_view::npos) {
    base = Trim(s.substr(0, p));
    std::string_view args = s.substr(p + 1);
    int* target = &arg1;
    int value = 0;
    bool any = false;
    for (char c : args) {
      if (c >= '0' && c <= '9') {
        value = value * 10 + (c - '0');
        any = true;
        if (value > 100000000) value = 100000000;
      } else if (c == ',' || c == ')') {
        if (any) *target = value;
        if (c == ')' || target == &arg2) break;
        target = &arg2;
        value = 0;
        any = false;
      }
    }
  }
  using K = Variant::Kind;
  DeclaredType t;
  auto has = [&](std::string_view part) { return base.find(part) != std::string_view::npos; };
  if (has("DATE") || has("TIME")) {
    t.kind = K::Date;
  } else if (OneOf(base, {"MONEY", "CURRENCY", "SMALLMONEY"}) ||
             (OneOf(base, {"DECIMAL", "NUMERIC"}) && arg2 == 4)) {
    t.kind = K::Money;
  } else if (OneOf(base, {"BIT", "BOOL", "BOOLEAN", "YESNO", "LOGICAL"})) {
    t.kind = K::Bool;
  } else if (OneOf(base, {"SINGLE", "FLOAT4"})) {
    t.kind = K::Single;
  } else if (OneOf(base, {"REAL", "DOUBLE", "DOUBLE PRECISION", "FLOAT", "FLOAT8", "NUMERIC", "DECIMAL",
                          "NUMBER"})) {
    t.kind = K::Double;
  } else if (has("INT") || OneOf(base, {"LONG", "BYTE", "SHORT", "COUNTER", "AUTOINCREMENT"})) {
    t.kind = K::Integer;
  } else if (has("CHAR") || has("TEXT") || has("CLOB") || has("MEMO") || has("STRING")) {
    t.kind = K::Text;
    t.size = arg1;
  }
  return t;
}

std::string QuoteIdentifierIfNeeded(std::string_view name) {
  bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name.front()));
  for (char c : name) plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
  if (plain) return std::string(name);
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

std::size_t NoCaseHash::operator()(std::string_view s) const noexcept {
  std::size_t h = 1469598103934665603ull;
  for (char c : s) h = (h ^ static_cast<unsigned char>(Lower(c))) * 1099511628211ull;
  return h;
}

bool NoCaseEqual::operator()(std::string_view a, std::string_view b) const noexcept { return EqualNoCase(a, b); }

}  // namespace ordalis::rdo
