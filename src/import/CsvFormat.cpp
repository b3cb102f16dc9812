// The documented CSV layout: a header naming the columns (in any order)
// site, extension, type, number, line, start, duration, answer_delay,
// pulses, status, job_code and id; extension, number, start and duration
// are required, site too unless the import names one.
#include <array>
#include <optional>

#include "import/CallFormat.h"
#include "ordalis/KeyedCollection.h"

namespace ordalis::import {
namespace {

enum Column { kSite, kExtension, kType, kNumber, kLine, kStart, kDuration, kAnswerDelay, kPulses, kStatus, kJobCode,
              kId, kCount };
constexpr std::array<const char*, kCount> kNames = {"site",  "extension", "type",         "number",
                                                    "line",  "start",     "duration",     "answer_delay",
                                                    "pulses", "status",   "job_code",     "id"};

class CsvFormat final : public CallFormat {
 public:
  explicit CsvFormat(const ImportOptions& options) : site_(options.site) {}

  bool Header(const std::vector<std::string_view>& fields) override {
    index_.fill(std::nullopt);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      std::size_t c = 0;
      while (c < kCount && !EqualsNoCase(fields[i], kNames[c])) ++c;
      if (c == kCount) throw BadRow("unknown column \"" + std::string(fields[i]) + "\" in the header" + Expected());
      if (index_[c]) throw BadRow("column \"" + std::string(kNames[c]) + "\" appears twice in the header");
      index_[c] = i;
    }
    for (Column c : {kExtension, kNumber, kStart, kDuration})
      if (!index_[c]) throw BadRow("the header has no column \"" + std::string(kNames[c]) + "\"" + Expected());
    if (!index_[kSite] && site_.empty())
      throw BadRow("the header has no column \"site\" and no site was given for the calls");
    columns_ = fields.size();
    return true;
  }

  void Read(const std::vector<std::string_view>& f, ImportedCall& call) override {
    if (f.size() != columns_)
      throw BadRow("the header has " + std::to_string(columns_) + " columns, this row " + std::to_string(f.size()));
    call.site.assign(Field(f, kSite));
    if (call.site.empty()) call.site = site_;
    if (call.site.empty()) throw BadRow("no site");
    call.extension.assign(Field(f, kExtension));
    if (call.extension.empty()) throw BadRow("no extension");
    call.number.assign(Field(f, kNumber));
    call.type.assign(Field(f, kType));
    if (call.type.empty()) call.type = "O";
    for (char& c : call.type) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (call.type.size() > 5) throw BadRow("a call type has at most 5 characters: \"" + call.type + "\"");
    if (call.number.empty() && call.type != "I") throw BadRow("no number");
    call.line.assign(Field(f, kLine));
    call.start = ParseStart(Field(f, kStart), "start");
    call.duration = ParseSeconds(Field(f, kDuration), "duration");
    std::string_view delay = Field(f, kAnswerDelay);
    call.answer_delay = delay.empty() ? 0 : ParseSeconds(delay, "answer_delay");
    std::string_view pulses = Field(f, kPulses);
    call.pulses = pulses.empty() ? 0 : static_cast<std::int32_t>(ParseWhole(pulses, "pulses", 0, INT32_MAX));
    std::string_view status = Field(f, kStatus);
    call.status = status.empty() ? 0 : static_cast<std::int16_t>(ParseWhole(status, "status", INT16_MIN, INT16_MAX));
    call.job_code.assign(Field(f, kJobCode));
    call.call_id.assign(Field(f, kId));
  }

 private:
  std::string_view Field(const std::vector<std::string_view>& f, Column c) const {
    return index_[c] ? f[*index_[c]] : std::string_view();
  }
  static std::string Expected() {
    std::string names;
    for (const char* n : kNames) names += names.empty() ? n : std::string(", ") + n;
    return " (the columns are " + names + ")";
  }

  std::string site_;
  std::array<std::optional<std::size_t>, kCount> index_{};
  std::size_t columns_ = 0;
};

}  // namespace

std::unique_ptr<CallFormat> MakeCsvFormat(const ImportOptions& options) { return std::make_unique<CsvFormat>(options); }

}  // namespace ordalis::import
