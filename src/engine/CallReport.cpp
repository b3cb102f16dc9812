#include "ordalis/CallReport.h"

#include <algorithm>
#include <map>
#include <memory>

#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "ordalis/ComponentError.h"
#include "ordalis/clsChiamate.h"
#include "ordalis/clsValuta.h"
#include "ordalis/clsValute.h"
#include "reference/clsSiti.h"
#include "reference/clsSito.h"

namespace ordalis {
namespace {

enum Column { kSite, kDepartment, kCostCentre, kExtension, kUserName, kType, kCarrier, kDate, kDuration, kCost,
              kCurrency, kDayName, kColumns };
constexpr const char* kColumnNames[kColumns] = {"SSITO", "SREPARTO_C", "SCENTRODICOSTO_C", "SDERIVATO",
                                                "SNOMEDERIVATO_C", "STIPODESTINAZIONE_C", "SCARRIER1_C", "dData",
                                                "DDURATA", "CCOSTO1_C", "sValuta", "sGiorno_c"};

struct Totals {
  ReportCurrency currency;
  std::map<std::string, ReportGroup> groups, days;
};

void Count(ReportGroup& g, std::int64_t seconds, Money cost) {
  ++g.calls;
  g.seconds += seconds;
  g.cost += cost;
}

std::vector<ReportGroup> Values(std::map<std::string, ReportGroup>& groups) {
  std::vector<ReportGroup> out;
  out.reserve(groups.size());
  for (auto& [name, g] : groups) out.push_back(std::move(g));
  return out;
}

}  // namespace

const char* ReportByName(ReportBy by) {
  switch (by) {
    case ReportBy::Site: return "site";
    case ReportBy::Department: return "department";
    case ReportBy::CostCentre: return "cost-centre";
    case ReportBy::Extension: return "extension";
    case ReportBy::DestinationType: return "destination-type";
    case ReportBy::Carrier: return "carrier";
    case ReportBy::Day: return "day";
  }
  return "";
}

std::string FormatAmount(Money amount, int decimals) {
  decimals = std::clamp(decimals, 0, 4);
  std::int64_t unit = 1;
  for (int i = decimals; i < 4; ++i) unit *= 10;
  std::int64_t q = amount.Raw() / unit, r = amount.Raw() % unit;
  // Halves to even, on both sides of zero.
  if (2 * r > unit || (2 * r == unit && q % 2 != 0)) ++q;
  else if (2 * r < -unit || (2 * r == -unit && q % 2 != 0)) --q;
  std::int64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  const std::uint64_t magnitude = q < 0 ? 0 - static_cast<std::uint64_t>(q) : static_cast<std::uint64_t>(q);
  std::string text = (q < 0 ? "-" : "") + std::to_string(magnitude / scale);
  if (decimals > 0) {
    std::string fraction = std::to_string(magnitude % scale);
    text += "." + std::string(static_cast<std::size_t>(decimals) - fraction.size(), '0') + fraction;
  }
  return text;
}

CallReport ReportCalls(clsChiamate& engine, const ReportRequest& request) {
  if (request.to < request.from)
    throw ComponentError(kErrInvalidCall, "The period ends before it starts", "ReportCalls");
  rdo::RdoConnection* connection = engine.Connection();
  if (!connection || !connection->IsOpen())
    throw ComponentError(kErrInvalidCall, "The engine has no open connection", "ReportCalls");

  std::string sql = "SELECT ";
  for (int c = 0; c < kColumns; ++c) sql += std::string(c ? ", " : "") + kColumnNames[c];
  // The period's bounds are dates the caller gave as values, not data: the
  // date escapes read the same on every backend.
  sql += " FROM CHIAMATE WHERE dData >= {d '" + dt::ToIsoText(dt::DatePart(request.from)).substr(0, 10) +
         "'} AND dData < {d '" + dt::ToIsoText(dt::DatePart(request.to) + 1).substr(0, 10) + "'}";
  std::vector<std::string_view> values;
  if (!request.site.empty()) {
    sql += " AND SSITO = ?";
    values.push_back(request.site);
  }
  auto rs = connection->OpenResultset(sql, values);
  int at[kColumns];
  for (int c = 0; c < kColumns; ++c) at[c] = rs->ColumnIndex(kColumnNames[c]);

  CallReport report;
  report.request = request;
  std::map<std::string, Totals> by_currency;
  // The currency each stored text names, resolved once.
  std::map<std::string, std::string> code_of;
  auto currency_of = [&](const std::string& stored, const std::string& site) -> Totals& {
    std::string text = stored;
    if (text.empty() && engine.Siti)
      if (auto s = engine.Siti->GetSito(site)) text = s->Valuta;
    if (text.empty()) text = engine.OpzioneValuta();
    auto known = code_of.find(text);
    if (known == code_of.end()) {
      ReportCurrency c;
      c.code = text;
      std::shared_ptr<clsValuta> v;
      if (engine.Valute) {
        v = engine.Valute->GetValuta(text);
        if (!v) v = engine.Valute->GetValutaByName(text);
      }
      if (v) {
        c.code = v->Codice;
        c.name = v->Nome;
        c.symbol = v->Simbolo;
        c.decimals = std::clamp<int>(v->NumeroDecimali, 0, 4);
        c.known = true;
      }
      known = code_of.emplace(text, c.code).first;
      by_currency.try_emplace(c.code, Totals{c, {}, {}});
    }
    return by_currency.at(known->second);
  };

  std::string site, key;
  for (; !rs->Eof(); rs->MoveNext()) {
    auto text = [&](Column c) { return rs->Value(at[c]).ToText(); };
    if (text(kDayName).empty()) {
      ++report.unrated;
      continue;
    }
    site = text(kSite);
    const Variant& date = rs->Value(at[kDate]);
    const std::string day = date.IsNull() ? std::string() : dt::ToIsoText(date.ToDate()).substr(0, 10);
    const Variant& duration = rs->Value(at[kDuration]);
    const std::int64_t seconds = duration.IsNull() ? 0 : dt::DurationSeconds(duration.ToDate());
    const Variant& amount = rs->Value(at[kCost]);
    const Money cost = amount.IsNull() ? Money() : amount.ToMoney();
    Totals& totals = currency_of(text(kCurrency), site);
    std::string label;
    switch (request.by) {
      case ReportBy::Site: key = site; break;
      case ReportBy::Department: key = text(kDepartment); break;
      case ReportBy::CostCentre: key = text(kCostCentre); break;
      case ReportBy::Extension:
        key = site + "/" + text(kExtension);
        label = text(kUserName);
        break;
      case ReportBy::DestinationType: key = text(kType); break;
      case ReportBy::Carrier: key = text(kCarrier); break;
      case ReportBy::Day: key = day; break;
    }
    ReportGroup& group = totals.groups[key];
    group.name = key;
    if (!label.empty()) group.label = label;
    Count(group, seconds, cost);
    ReportGroup& per_day = totals.days[day];
    per_day.name = day;
    Count(per_day, seconds, cost);
    Count(totals.currency.total, seconds, cost);
  }
  rs->Close();

  for (auto& [code, totals] : by_currency) {
    ReportCurrency c = std::move(totals.currency);
    c.total.name = "total";
    c.groups = Values(totals.groups);
    c.days = Values(totals.days);
    if (request.by != ReportBy::Day)
      std::stable_sort(c.groups.begin(), c.groups.end(),
                       [](const ReportGroup& a, const ReportGroup& b) { return a.cost > b.cost; });
    report.currencies.push_back(std::move(c));
  }
  return report;
}

}  // namespace ordalis
