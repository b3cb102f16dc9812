#include "call/CallNote.h"

#include "call/clsChiamata.h"
#include "data/RdoResultset.h"
#include "reference/clsSiti.h"
#include "reference/clsSito.h"
#include "support/Text.h"

namespace ordalis {

rdo::RowPreparer CallNotePreparer(std::shared_ptr<const clsSiti> sites, const rdo::RdoResultset& calls) {
  const int site = calls.ColumnIndex("SSITO"), number = calls.ColumnIndex("SNUMERO"),
            line = calls.ColumnIndex("SLINEA"), date = calls.ColumnIndex("dData"), time = calls.ColumnIndex("DORA");
  if (!sites || site < 0 || number < 0 || line < 0 || date < 0 || time < 0) return {};
  return [=, code = std::string()](const std::vector<Variant>& row, std::unique_ptr<rdo::RowNote>& slot) mutable {
    if (!slot) slot = std::make_unique<CallNote>();
    auto& note = static_cast<CallNote&>(*slot);
    note.search[0].asked = note.search[1].asked = false;
    // Dates as the rating loads them; a text that is not a date is left to it.
    const Variant& d = row[date];
    const Variant& t = row[time];
    if ((!d.IsNull() && d.kind() != Variant::Kind::Date) || (!t.IsNull() && t.kind() != Variant::Kind::Date)) return;
    const DateTime day = dt::DatePart(d.IsNull() ? 0.0 : d.ToDate());
    clsChiamata::LoadText(row[site], code);
    std::shared_ptr<clsSito> found = sites->GetSito(TrimSpaces(code));
    if (!found) return;
    const std::int16_t day_type = DayTypeOf(found->Calendario.get(), day);
    for (int k = 0; k < 2; ++k) {
      const std::shared_ptr<clsLcrs>& lcrs = k == 0 ? found->Lcrs() : found->LcrsCarrier2();
      if (!lcrs) continue;
      CallNote::Search& search = note.search[k];
      LcrQuestion& q = search.question;
      q.site = found;
      q.lcrs = lcrs;
      clsChiamata::LoadText(row[number], q.number);
      clsChiamata::LoadText(row[line], q.line);
      q.day = dt::ToSeconds(day);
      q.time = dt::SecondOfDay(t.IsNull() ? 0.0 : t.ToDate());
      q.day_type = day_type;
      q.carrier2 = k == 1;
      SearchLcr(q, search.answer);
      search.asked = true;
    }
  };
}

}  // namespace ordalis
