// Rates one call through the installed library: rate_call DATABASE SITE
// EXTENSION NUMBER "YYYY-MM-DD HH:MM:SS" SECONDS
#include <ordalis/RateCall.h>
#include <ordalis/clsChiamate.h>

#include <chrono>
#include <cstdio>
#include <iostream>

int main(int argc, char** argv) {
  if (argc != 7) {
    std::cerr << "usage: rate_call DATABASE SITE EXTENSION NUMBER \"YYYY-MM-DD HH:MM:SS\" SECONDS\n";
    return 2;
  }
  ordalis::clsChiamate engine;
  engine.Init(argv[1]);  // an SQLite file; ODBC: set_TipoDb(dbSql) and a DSN
  if (!engine.Errore().empty()) {
    std::cerr << "cannot open " << argv[1] << ": " << engine.Errore() << "\n";
    return 1;
  }
  int y, mo, d, h, mi, s;
  if (std::sscanf(argv[5], "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6) return 2;
  using namespace std::chrono;
  ordalis::CallToRate call{.site = argv[2], .extension = argv[3], .number = argv[4]};
  call.start = local_days(year(y) / mo / d) + hours(h) + minutes(mi) + seconds(s);
  call.duration = seconds(std::stoll(argv[6]));
  ordalis::RatedCall rated = ordalis::RateCall(engine, call);
  if (!rated.ok()) {
    std::cerr << "not rated: " << rated.error << "\n";
    return 1;
  }
  for (const std::string& warning : rated.warnings) std::cerr << "warning: " << warning << "\n";
  std::cout << "cost " << rated.cost.ToText() << " " << rated.currency << ", carrier " << rated.carrier
            << ", destination " << rated.destination_type << " " << rated.country << " " << rated.area << "\n";
  return 0;
}
