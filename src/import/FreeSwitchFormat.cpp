// FreeSWITCH's mod_cdr_csv default template: caller_id_name,
// caller_id_number, destination_number, context, start_stamp, answer_stamp,
// end_stamp, duration, billsec, hangup_cause, uuid, bleg_uuid, accountcode
// (the shipped "example" template adds read_codec and write_codec).
#include "import/CallFormat.h"

namespace ordalis::import {
namespace {

enum Column { kCallerName, kCallerNumber, kDestination, kContext, kStart, kAnswer, kEnd, kDuration, kBillsec,
              kHangupCause, kUuid, kBlegUuid, kAccount };
constexpr std::size_t kColumns = kAccount + 1;

std::int16_t UnansweredStatus(std::string_view cause) {
  if (cause == "USER_BUSY") return 2;
  if (cause == "NO_ANSWER" || cause == "NO_USER_RESPONSE" || cause == "ORIGINATOR_CANCEL" ||
      cause == "NORMAL_CLEARING")
    return 1;
  return 3;
}

class FreeSwitchFormat final : public CallFormat {
 public:
  FreeSwitchFormat(const ImportOptions& options, ExtensionRule& extensions)
      : site_(options.site), extensions_(extensions) {}

  bool Header(const std::vector<std::string_view>& fields) override {
    return fields.size() > kStart && fields[kCallerName] == "caller_id_name" && fields[kStart] == "start_stamp";
  }

  void Read(const std::vector<std::string_view>& f, ImportedCall& call) override {
    if (f.size() < kColumns)
      throw BadRow("a cdr_csv row of the default template has at least 13 fields, this one " +
                   std::to_string(f.size()));
    call.site = site_;
    call.start = ParseStart(f[kStart], "start_stamp");
    const std::int64_t duration = ParseSeconds(f[kDuration], "duration");
    const std::int64_t billsec = ParseSeconds(f[kBillsec], "billsec");
    const bool answered = billsec > 0 || !f[kAnswer].empty();
    call.status = answered ? 0 : UnansweredStatus(f[kHangupCause]);
    call.duration = answered ? billsec : 0;
    call.answer_delay = answered && duration > billsec ? duration - billsec : 0;
    call.pulses = 0;
    AssignSides(extensions_, f[kCallerNumber], {}, f[kDestination], {}, call);
    call.line.clear();  // the template names no trunk
    call.job_code.assign(f[kAccount]);
    call.call_id.assign(f[kUuid]);
  }

 private:
  std::string site_;
  ExtensionRule& extensions_;
};

}  // namespace

std::unique_ptr<CallFormat> MakeFreeSwitchFormat(const ImportOptions& options, ExtensionRule& extensions) {
  return std::make_unique<FreeSwitchFormat>(options, extensions);
}

}  // namespace ordalis::import
