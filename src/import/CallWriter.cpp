#include "import/CallWriter.h"

#include "data/RdoConnection.h"
#include "ordalis/ComponentError.h"

namespace ordalis::import {
namespace {

constexpr const char* kTables[] = {"CHIAMATE", "CHIAMATEINTERNE"};

std::string InsertInto(const char* table) {
  return std::string("INSERT INTO ") + table +
         " (dData, DORA, DRISPOSTA, DDURATA, LSCATTI, SSITO, SDERIVATO, STIPO, SLINEA, ISTATO, SNUMERO, SCOMMESSA,"
         " sIdImport) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING";
}
const std::string kInsertCall = InsertInto("CHIAMATE");
const std::string kInsertInternal = InsertInto("CHIAMATEINTERNE");

// An empty text is stored as NULL, as the engine stores it.
void SetText(Variant& slot, const std::string& text) {
  if (text.empty())
    slot = Variant();
  else
    slot.AssignText(text);
}

void AppendPart(std::string& to, std::string_view part) {
  // The separator cannot be confused with a part's own text: '|' and '\'
  // inside a part are escaped.
  for (std::size_t special; (special = part.find_first_of("|\\")) != std::string_view::npos;) {
    to.append(part.substr(0, special));
    to += '\\';
    to += part[special];
    part.remove_prefix(special + 1);
  }
  to.append(part);
  to += '|';
}

}  // namespace

CallWriter::CallWriter(rdo::RdoConnection& connection) : connection_(connection), values_(13) {
  for (const char* table : kTables) {
    if (!connection_.TableExists(table))
      throw ComponentError(kErrInvalidCall, std::string("the database has no table ") + table);
    if (!connection_.ColumnExists(table, "sIdImport"))
      connection_.Execute(std::string("ALTER TABLE ") + table + " ADD COLUMN sIdImport VARCHAR(255)");
    connection_.Execute(std::string("CREATE UNIQUE INDEX IF NOT EXISTS ") + table + "_sIdImport ON " + table +
                        " (sIdImport)");
  }
}

std::string CallWriter::Identity(const ImportedCall& call) {
  // The start first: an exchange writes its records in time order, so the
  // identities of a file go into the index one after the other.
  char start[32];
  std::string id;
  id.reserve(96);
  id.append(start, static_cast<std::size_t>(dt::FormatIso(call.start, start)));
  id += '|';
  id += std::to_string(call.duration);
  id += '|';
  AppendPart(id, call.site);
  AppendPart(id, call.extension);
  AppendPart(id, call.number);
  if (!call.call_id.empty()) AppendPart(id, call.call_id);
  return id;
}

bool CallWriter::Append(const ImportedCall& call) {
  values_[0] = Variant::FromDate(dt::DatePart(call.start));
  values_[1] = Variant::FromDate(dt::TimePart(call.start));
  values_[2] = Variant::FromDate(dt::FromSeconds(call.answer_delay));
  values_[3] = Variant::FromDate(dt::FromSeconds(call.duration));
  values_[4] = Variant(static_cast<std::int64_t>(call.pulses));
  SetText(values_[5], call.site);
  SetText(values_[6], call.extension);
  SetText(values_[7], call.type);
  SetText(values_[8], call.line);
  values_[9] = Variant(static_cast<std::int64_t>(call.status));
  SetText(values_[10], call.number);
  SetText(values_[11], call.job_code);
  identity_ = Identity(call);
  values_[12].AssignText(identity_);
  return connection_.ExecuteWith(call.Internal() ? kInsertInternal : kInsertCall, values_) > 0;
}

}  // namespace ordalis::import
