#include "ordalis/clsTimeZones.h"

#include "data/RdoConnection.h"
#include "data/RdoResultset.h"
#include "ordalis/ComponentError.h"
#include "ordalis/clsChiamate.h"
#include "support/CommonLib.h"

namespace ordalis {

namespace {

constexpr std::int32_t kErrInvalidUseOfNull = 94;

// An offset column assigned to a 16-bit property: NULL is an error, not 0.
std::int16_t OffsetColumn(const Variant& value) {
  if (value.IsNull()) throw ComponentError(kErrInvalidUseOfNull, "Invalid use of Null");
  std::string text = value.ToText();
  if (text.empty()) throw ComponentError(kErrTypeMismatch, "Type mismatch");
  return clsTimeZone::ParseInt(text);
}

}  // namespace

clsTimeZones::clsTimeZones() : zones_(std::make_shared<Collection>()) {}

clsTimeZones::clsTimeZones(clsChiamate* engine, rdo::RdoConnection* connection)
    : Connection(connection), Chiamate(engine), zones_(std::make_shared<Collection>()) {}

clsTimeZones::~clsTimeZones() = default;

void clsTimeZones::set_TimeZones(std::shared_ptr<Collection> zones) {
  zones_ = zones ? std::move(zones) : std::make_shared<Collection>();
}

void clsTimeZones::Cache() {
  auto rs = Connection->OpenResultset("SELECT * FROM TimeZone");
  zones_ = std::make_shared<Collection>();
  const int c_id = rs->ColumnIndex("sID");
  const int c_name = rs->ColumnIndex("sName");
  const int c_comments = rs->ColumnIndex("sComments");
  const int c_utc = rs->ColumnIndex("iDeltaUTC");
  const int c_dst = rs->ColumnIndex("iDeltaDST");
  const int c_start = rs->ColumnIndex("sStartDST");
  const int c_end = rs->ColumnIndex("sStartSTD");
  for (; !rs->Eof(); rs->MoveNext()) {
    auto zone = std::make_shared<clsTimeZone>();
    zone->iD = rs->Value(c_id).ToText();
    zone->Name = rs->Value(c_name).ToText();
    zone->Description = rs->Value(c_comments).ToText();
    zone->set_UTC_bias(OffsetColumn(rs->Value(c_utc)));
    zone->set_DST_bias(OffsetColumn(rs->Value(c_dst)));
    zone->SetDST(rs->Value(c_start).ToText());
    zone->SetSTD(rs->Value(c_end).ToText());
    const std::string key = zone->iD;
    AddToCollection(*zones_, std::move(zone), key, Chiamate->ErrorSink());
  }
  rs->Close();
}

std::shared_ptr<clsTimeZone> clsTimeZones::GetTimeZone(std::string_view id) const {
  for (const auto& zone : *zones_)
    if (zone->iD == id) return zone;
  return nullptr;
}

}  // namespace ordalis
