#include "support/StringTable.h"

#include <unordered_map>

namespace ordalis {

const std::string& LoadResString(int id) {
  static const std::unordered_map<int, std::string> kTable = {
      {51, "Warning"},
      // Failure messages of the caches.
      {20501, "No connection open"},
      {20502, "There are no tariffs for the carrier"},
      {20503, "There is no tariff database"},
      {20504, " for the carrier"},
      {20505, "You have not indicated the tariff database for the carrier"},
      {20506, "There are no carriers"},
      {20507, "There are no extensions"},
      {20508, "There are no accounts"},
      {20509, "There are no destinations"},
      {20510, "There is no calendar"},
      {20511, "There are no tariffs for the sites"},
      {20512, "There are no destinations groups"},
      {20513, "The destinations group"},
      {20514, " includes a destination which is not in the destinations table"},
      {20515, "There are no sites"},
      {20516, "There are no numbers for swing"},
      {20517, "There are no names in the phone book"},
      {20518, "There are no statistics"},
      {20519, "Error during opening DSN "},
      // Warnings of the call record.
      {20602, "Impossible to add extension automatically: "},
      {20604, "There is no extension shown for call number:  "},
      {20605, "Account not found, code: "},
      {20606, "Site not found in file: "},
      {20607, "Tariff 1 not identified for the number: "},
      {20608, ", (Date - Time - Duration - Site - Extension):"},
      // Query-timeout warnings.
      {20701, "Impossible to access the register for the QueryTimeout, the default value will be used ("},
      {20702, " sec.)."},
      {20703, "Wrong value for the Query Timeout, the default value will be used ("},
      // Extensions added automatically, day names, the wildcard line.
      {20801, "<Added automatically>"},
      {20802, "Error in adding extension: "},
      {20804, "Sun"},
      {20805, "Mon"},
      {20806, "Tue"},
      {20807, "Wed"},
      {20808, "Thu"},
      {20809, "Fri"},
      {20810, "Sat"},
      {20811, "All"},
      // Display names of the caches.
      {21000, "Calendar"},
      {21001, "Destinations"},
      {21002, "Sites"},
      {21003, "Destination groups"},
      {21004, "Carriers"},
      {21005, "Lcr"},
      {21006, "Phonebook"},
      {21007, "Swing"},
      {21008, "Extensions"},
      {21009, "Account"},
      {21010, "Stat"},
      // Destination types.
      {23011, "Local"},
      {23012, "National"},
      {23013, "Adiacenti"},
      {23014, "Regional"},
      {23015, "International"},
      {23016, "Mobile"},
      {23017, "Distrettuali"},
      {23018, "Internal"},
      {23019, "Currency"},
      {23020, "TimeZone"},
  };
  static const std::string kEmpty;
  auto it = kTable.find(id);
  return it == kTable.end() ? kEmpty : it->second;
}

}  // namespace ordalis
