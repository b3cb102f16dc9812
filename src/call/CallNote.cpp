#include "call/CallNote.h"

#include "call/clsChiamata.h"
#include "data/RdoResultset.h"
#include "reference/clsDerivati.h"
#include "reference/clsDerivato.h"
#include "reference/clsSiti.h"
#include "reference/clsSito.h"
#include "support/Text.h"

namespace ordalis {

std::shared_ptr<const NotedExtensions> NoteExtensions(const clsDerivati* extensions) {
  auto noted = std::make_shared<NotedExtensions>();
  if (extensions)
    for (const std::shared_ptr<clsDerivato>& d : extensions->Derivati())
      if (d->Privacy > 0 || d->Swing) (*noted)[UpperAscii(d->Key)] = {d->Privacy, d->Swing};
  return noted;
}

rdo::RowPreparer CallNotePreparer(std::shared_ptr<const clsSiti> sites, std::shared_ptr<const NotedExtensions> extensions,
                                  const rdo::RdoResultset& calls) {
  const int site = calls.ColumnIndex("SSITO"), number = calls.ColumnIndex("SNUMERO"),
            line = calls.ColumnIndex("SLINEA"), date = calls.ColumnIndex("dData"), time = calls.ColumnIndex("DORA"),
            extension = calls.ColumnIndex("SDERIVATO"), type = calls.ColumnIndex("STIPO"),
            day_name = calls.ColumnIndex("sGiorno_c");
  if (!sites || site < 0 || number < 0 || line < 0 || date < 0 || time < 0) return {};
  const bool know_extensions = extensions && !extensions->empty() && extension >= 0 && type >= 0 && day_name >= 0;
  return [=, code = std::string(), text = std::string()](const std::vector<Variant>& row,
                                                          std::unique_ptr<rdo::RowNote>& slot) mutable {
    if (!slot) slot = std::make_unique<CallNote>();
    auto& note = static_cast<CallNote&>(*slot);
    for (int k = 0; k < 2; ++k) note.search[k].asked = note.masked[k].asked = false;
    note.swing = false;
    // Dates as the rating loads them; a text that is not a date is left to it.
    const Variant& d = row[date];
    const Variant& t = row[time];
    if ((!d.IsNull() && d.kind() != Variant::Kind::Date) || (!t.IsNull() && t.kind() != Variant::Kind::Date)) return;
    const DateTime day = dt::DatePart(d.IsNull() ? 0.0 : d.ToDate());
    clsChiamata::LoadText(row[site], code);
    std::shared_ptr<clsSito> found = sites->GetSito(TrimSpaces(code));
    if (!found) return;
    // The extension as the rating identifies it; a call other than an
    // internal one, rated for the first time, stores its number hidden.
    std::int16_t privacy = 0;
    if (know_extensions) {
      clsChiamata::LoadText(row[extension], text);
      auto noted = extensions->find(
          UpperAscii(clsDerivati::MakeKey(text, found->DerivatiPerTutteLeSedi ? "*" : found->Codice)));
      if (noted != extensions->end()) {
        note.swing = noted->second.swing;
        clsChiamata::LoadText(row[day_name], text);
        const bool first = text.empty();
        clsChiamata::LoadText(row[type], text);
        if (first && !EqualsNoCase(text, "E")) privacy = noted->second.privacy;
      }
    }
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
      if (privacy <= 0) continue;
      CallNote::Search& masked = note.masked[k];
      masked.question = q;
      clsChiamata::Mask(masked.question.number, privacy);
      if (masked.question.number == q.number) continue;
      SearchLcr(masked.question, masked.answer);
      masked.asked = true;
    }
  };
}

}  // namespace ordalis
