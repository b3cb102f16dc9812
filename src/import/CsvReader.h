#pragma once
// CsvReader: the records of a comma-separated text, read as a stream.
// Fields may be quoted with '"' (a doubled quote inside stands for one, and
// line breaks inside are kept); blanks before an opening quote are dropped,
// as FreeSWITCH writes them. Lines end in LF or CR LF; blank lines are
// skipped.
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace ordalis::import {

class CsvReader {
 public:
  explicit CsvReader(std::istream& in);

  // Reads the next record; false at the end of the input. The fields stay
  // valid until the next call. Throws ComponentError when the stream fails.
  bool Next();
  const std::vector<std::string_view>& Fields() const { return fields_; }
  // The line the record starts on, from 1.
  std::int64_t Line() const { return record_line_; }
  // Why the record is malformed (a quote left open, text after a closing
  // quote); empty when it is well formed.
  const std::string& Problem() const { return problem_; }

 private:
  int Get() {
    if (pos_ == end_ && !Refill()) return -1;
    return static_cast<unsigned char>(buffer_[pos_++]);
  }
  bool Refill();
  // Appends to the field the characters up to the first that ends or
  // changes a field (or the end of the buffered input): a separator, a line
  // break or a quote outside quotes, a quote or a line break inside.
  void Take(bool quoted);

  std::istream& in_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0, end_ = 0;
  std::int64_t line_ = 1, record_line_ = 0;
  std::string text_;                 // the record's unquoted fields, one after the other
  std::vector<std::size_t> bounds_;  // end of each field in text_
  std::vector<std::string_view> fields_;
  std::string problem_;
};

}  // namespace ordalis::import
