#include <fstream>

#include "data/RdoConnection.h"
#include "import/CallFormat.h"
#include "import/CallWriter.h"
#include "import/CsvReader.h"
#include "import/ExtensionRule.h"
#include "ordalis/CallImport.h"
#include "ordalis/ComponentError.h"

namespace ordalis {

struct CallImporter::Impl {
  ImportOptions options;
  rdo::RdoConnection connection;
  std::unique_ptr<import::CallWriter> writer;
  import::ExtensionRule extensions;
  std::unique_ptr<import::CallFormat> format;
  std::function<void(const ImportProblem&)> on_problem;
  ImportCounts counts;

  explicit Impl(ImportOptions o) : options(std::move(o)), extensions(options.extension_pattern) {
    switch (options.format) {
      case ImportFormat::Csv: format = import::MakeCsvFormat(options); break;
      case ImportFormat::Asterisk: format = import::MakeAsteriskFormat(options, extensions); break;
      case ImportFormat::FreeSwitch: format = import::MakeFreeSwitchFormat(options, extensions); break;
    }
  }

  void Report(const std::string& file, std::int64_t line, const std::string& reason) {
    if (on_problem) on_problem(ImportProblem{file, line, reason});
  }
};

CallImporter::CallImporter(const std::string& connect, ImportOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {
  if (impl_->options.format != ImportFormat::Csv && impl_->options.site.empty())
    throw ComponentError(kErrInvalidCall, "the calls of an exchange's records need the site they belong to");
  impl_->connection.SetConnect(connect);
  impl_->connection.EstablishConnection();
  impl_->writer = std::make_unique<import::CallWriter>(impl_->connection);
}

CallImporter::~CallImporter() {
  try {
    Commit();
  } catch (const ComponentError&) {
    // Close still tries to commit; a failure leaves the rows out, as after a crash.
  }
  impl_->connection.Close();
}

void CallImporter::OnProblem(std::function<void(const ImportProblem&)> handler) {
  impl_->on_problem = std::move(handler);
}

bool CallImporter::ImportFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ComponentError(kErrInvalidCall, "cannot open " + path);
  return Import(in, path);
}

bool CallImporter::Import(std::istream& in, const std::string& name) {
  Impl& m = *impl_;
  import::CsvReader reader(in);
  import::ImportedCall call;
  bool first = true;
  while (reader.Next()) {
    if (first) {
      first = false;
      try {
        if (m.format->Header(reader.Fields())) continue;
      } catch (const import::BadRow& e) {
        m.Report(name, reader.Line(), e.what());
        return false;  // without its header the file cannot be read
      }
    }
    ++m.counts.rows;
    try {
      if (!reader.Problem().empty()) throw import::BadRow(reader.Problem());
      m.format->Read(reader.Fields(), call);
    } catch (const import::BadRow& e) {
      m.Report(name, reader.Line(), e.what());
      ++m.counts.rejected;
      if (m.options.strict) return false;
      continue;
    }
    if (!m.writer->Append(call))
      ++m.counts.duplicates;
    else if (call.Internal())
      ++m.counts.added_internal;
    else
      ++m.counts.added;
  }
  return true;
}

void CallImporter::Commit() { impl_->connection.Flush(); }

const ImportCounts& CallImporter::Counts() const { return impl_->counts; }

}  // namespace ordalis
