// Asterisk's cdr_csv Master.csv: accountcode, src, dst, dcontext, clid,
// channel, dstchannel, lastapp, lastdata, start, answer, end, duration,
// billsec, disposition, amaflags, then uniqueid and userfield when the
// module logs them.
#include "import/CallFormat.h"

namespace ordalis::import {
namespace {

enum Column { kAccount, kSrc, kDst, kContext, kClid, kChannel, kDstChannel, kLastApp, kLastData, kStart, kAnswer,
              kEnd, kDuration, kBillsec, kDisposition, kAmaFlags, kUniqueId, kUserField };
constexpr std::size_t kColumns = kAmaFlags + 1;

// The peer a channel belongs to: "SIP/trunk-0000001a" is "trunk",
// "PJSIP/201-00000005" is "201", "DAHDI/1-1" is "1".
std::string_view ChannelPeer(std::string_view channel) {
  std::size_t slash = channel.find('/');
  if (slash == std::string_view::npos) return {};
  std::string_view peer = channel.substr(slash + 1);
  std::size_t dash = peer.rfind('-');
  return dash == std::string_view::npos ? peer : peer.substr(0, dash);
}

class AsteriskFormat final : public CallFormat {
 public:
  AsteriskFormat(const ImportOptions& options, ExtensionRule& extensions)
      : site_(options.site), extensions_(extensions) {}

  bool Header(const std::vector<std::string_view>& fields) override {
    return fields.size() > kStart && fields[kAccount] == "accountcode" && fields[kStart] == "start";
  }

  void Read(const std::vector<std::string_view>& f, ImportedCall& call) override {
    if (f.size() < kColumns)
      throw BadRow("a Master.csv row has at least 16 fields, this one " + std::to_string(f.size()));
    call.site = site_;
    call.start = ParseStart(f[kStart], "start");
    const std::int64_t duration = ParseSeconds(f[kDuration], "duration");
    const std::int64_t billsec = ParseSeconds(f[kBillsec], "billsec");
    const std::string_view disposition = f[kDisposition];
    call.status = disposition == "ANSWERED" ? 0 : disposition == "NO ANSWER" ? 1 : disposition == "BUSY" ? 2 : 3;
    call.duration = call.status == 0 ? billsec : 0;
    call.answer_delay = call.status == 0 && duration > billsec ? duration - billsec : 0;
    call.pulses = 0;
    AssignSides(extensions_, f[kSrc], ChannelPeer(f[kChannel]), f[kDst], ChannelPeer(f[kDstChannel]), call);
    // The trunk: the channel the call left by, or came in on.
    call.line.assign(call.type == "O" ? ChannelPeer(f[kDstChannel]) : call.type == "I" ? ChannelPeer(f[kChannel])
                                                                                       : std::string_view());
    call.job_code.assign(f[kAccount]);
    call.call_id.assign(f.size() > kUniqueId ? f[kUniqueId] : std::string_view());
  }

 private:
  std::string site_;
  ExtensionRule& extensions_;
};

}  // namespace

std::unique_ptr<CallFormat> MakeAsteriskFormat(const ImportOptions& options, ExtensionRule& extensions) {
  return std::make_unique<AsteriskFormat>(options, extensions);
}

}  // namespace ordalis::import
