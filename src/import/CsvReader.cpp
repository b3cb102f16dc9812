#include "import/CsvReader.h"

#include "ordalis/ComponentError.h"

namespace ordalis::import {

CsvReader::CsvReader(std::istream& in) : in_(in), buffer_(1 << 20) {}

bool CsvReader::Refill() {
  if (!in_) return false;
  in_.read(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  if (in_.bad()) throw ComponentError(kErrInvalidCall, "the input cannot be read");
  pos_ = 0;
  end_ = static_cast<std::size_t>(in_.gcount());
  return end_ > 0;
}

void CsvReader::Take(bool quoted) {
  const char* begin = buffer_.data() + pos_;
  const char* end = buffer_.data() + end_;
  const char* p = begin;
  if (quoted)
    while (p < end && *p != '"' && *p != '\n') ++p;
  else
    while (p < end && *p != ',' && *p != '\n' && *p != '"') ++p;
  text_.append(begin, p);
  pos_ += static_cast<std::size_t>(p - begin);
}

bool CsvReader::Next() {
  for (;;) {
    text_.clear();
    bounds_.clear();
    problem_.clear();
    record_line_ = line_;
    int c = Get();
    if (c < 0) return false;
    bool record_end = false;
    while (!record_end) {
      const std::size_t field_start = text_.size();
      // An unquoted field, up to the separator; it turns into a quoted one
      // when a quote follows nothing but blanks.
      bool quoted = false;
      while (c >= 0 && c != ',' && c != '\n') {
        if (c == '"' && text_.find_first_not_of(' ', field_start) == std::string::npos) {
          text_.resize(field_start);
          quoted = true;
          break;
        }
        text_ += static_cast<char>(c);
        Take(false);
        c = Get();
      }
      if (quoted) {
        for (;;) {
          Take(true);
          c = Get();
          if (c < 0) {
            problem_ = "a quoted field is not closed before the end of the file";
            break;
          }
          if (c == '"') {
            c = Get();
            if (c == '"') {
              text_ += '"';
              continue;
            }
            break;
          }
          if (c == '\n') ++line_;  // a line break inside the field
          text_ += static_cast<char>(c);
        }
        // After the closing quote only the separator may follow.
        while (c >= 0 && c != ',' && c != '\n') {
          if (c != '\r' && problem_.empty()) problem_ = "text after the closing quote of a field";
          c = Get();
        }
      } else if (text_.size() > field_start && text_.back() == '\r' && c != ',') {
        text_.pop_back();
      }
      bounds_.push_back(text_.size());
      if (c == ',') {
        c = Get();
      } else {
        if (c == '\n') ++line_;
        record_end = true;
      }
    }
    if (bounds_.size() == 1 && bounds_[0] == 0 && problem_.empty()) continue;  // a blank line
    fields_.clear();
    std::size_t begin = 0;
    for (std::size_t end : bounds_) {
      fields_.emplace_back(text_.data() + begin, end - begin);
      begin = end;
    }
    return true;
  }
}

}  // namespace ordalis::import
