// The journal command: what was done to the devices, as recorded in journal.jsonl.
#include <QDateTime>
#include <cstdio>
#include <memory>
#include <string>

#include "Cli.h"
#include "store/Journal.h"

namespace orvana::cli {

namespace {

struct JournalOptions {
  bool json = false;
  std::string since;
};

// A date ("2026-12-11") or a date and time in ISO 8601; times without a zone are UTC.
bool parseSince(const std::string& text, QDateTime& out) {
  out = QDateTime::fromString(QString::fromStdString(text), Qt::ISODateWithMs);
  if (!out.isValid()) {
    const QDate day = QDate::fromString(QString::fromStdString(text), Qt::ISODate);
    if (!day.isValid()) return false;
    out = QDateTime(day, QTime(0, 0), Qt::UTC);
  }
  if (out.timeSpec() == Qt::LocalTime) out.setTimeSpec(Qt::UTC);
  return true;
}

std::string chipsText(const std::vector<int>& chips) {
  std::string text;
  for (int c : chips) text += (text.empty() ? "" : ",") + std::to_string(c);
  return text;
}

int showJournal(const JournalOptions& o) {
  QDateTime since;
  if (!o.since.empty() && !parseSince(o.since, since)) {
    std::fprintf(stderr, "--since: expected a date such as 2026-12-11, got %s.\n", o.since.c_str());
    return 2;
  }
  std::vector<std::string> warnings;
  const std::vector<JournalEntry> entries = ReadJournal(&warnings);
  for (const std::string& w : warnings) std::fprintf(stderr, "%s\n", w.c_str());
  if (o.json) std::printf("[");
  bool first = true;
  for (const JournalEntry& e : entries) {
    if (since.isValid()) {
      const QDateTime t = QDateTime::fromString(QString::fromStdString(e.Time), Qt::ISODateWithMs);
      if (t.isValid() && t < since) continue;
    }
    if (o.json) {
      std::printf("%s%s", first ? "" : ",", JournalLine(e).c_str());
    } else {
      std::string what = e.Operation + " " + e.Channel + " (chips " + chipsText(e.Chips) + ")";
      if (e.Clip > 0) what += ", clip " + std::to_string(e.Clip);
      if (e.Frames > 0) what += ", " + std::to_string(e.Frames) + " frames";
      if (!e.Comment.empty()) what += ", \"" + e.Comment + "\"";
      std::printf("%s  %s  %s: %s in %.1f s\n", e.Time.c_str(), e.Device.c_str(), what.c_str(),
                  e.Result.c_str(), e.Seconds);
    }
    first = false;
  }
  if (o.json) std::printf("]\n");
  return 0;
}

}  // namespace

void addJournalCommands(CLI::App& app, Globals& /*g*/, int& exitCode) {
  auto o = std::make_shared<JournalOptions>();
  auto* j = app.add_subcommand("journal",
                               "Show the journal of writes, deletes, formats, "
                               "restores and copies made with this program");
  j->add_flag("--json", o->json, "one JSON array of the entries");
  j->add_option("--since", o->since, "only entries from this date or time on (ISO 8601)");
  j->callback([&exitCode, o] { exitCode = showJournal(*o); });
}

}  // namespace orvana::cli
