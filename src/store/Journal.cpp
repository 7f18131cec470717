#include "store/Journal.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <fstream>

#include "common/Paths.h"
#include "store/ChipLayout.h"

namespace orvana {

namespace {

QString q(const std::string& s) {
  return QString::fromStdString(s);
}

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::filesystem::path journalFile() {
  return paths::dataFolder() / "journal.jsonl";
}

std::string JournalLine(const JournalEntry& e) {
  QJsonObject o;
  o["time"] = q(e.Time);
  o["device"] = q(e.Device);
  o["operation"] = q(e.Operation);
  o["channel"] = q(e.Channel);
  QJsonArray chips;
  for (int c : e.Chips) chips.append(c);
  o["chips"] = chips;
  o["clip"] = e.Clip;
  o["frames"] = e.Frames;
  o["chain_frames"] = e.ChainFrames;
  o["comment"] = q(e.Comment);
  o["result"] = q(e.Result);
  o["seconds"] = e.Seconds;
  QJsonObject digests;
  for (const auto& [chip, hex] : e.Digests) digests[QString::number(chip)] = q(hex);
  o["sha256"] = digests;
  return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
}

bool ParseJournalLine(const std::string& line, JournalEntry& e) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return false;
  const QJsonObject o = doc.object();
  if (!o["operation"].isString() || !o["time"].isString()) return false;
  e = JournalEntry{};
  e.Time = o["time"].toString().toStdString();
  e.Device = o["device"].toString().toStdString();
  e.Operation = o["operation"].toString().toStdString();
  e.Channel = o["channel"].toString().toStdString();
  for (const QJsonValue v : o["chips"].toArray()) e.Chips.push_back(v.toInt());
  e.Clip = o["clip"].toInt();
  e.Frames = o["frames"].toInt();
  e.ChainFrames = o["chain_frames"].toInt();
  e.Comment = o["comment"].toString().toStdString();
  e.Result = o["result"].toString().toStdString();
  e.Seconds = o["seconds"].toDouble();
  const QJsonObject digests = o["sha256"].toObject();
  for (auto it = digests.begin(); it != digests.end(); ++it) {
    bool ok = false;
    const int chip = it.key().toInt(&ok);
    if (ok && chip >= 0 && chip < kChipCount) e.Digests[chip] = it.value().toString().toStdString();
  }
  return true;
}

bool AppendJournal(JournalEntry entry) {
  if (entry.Time.empty())
    entry.Time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
  const std::filesystem::path file = journalFile();
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  const int fd = ::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::string line = JournalLine(entry) + "\n";
  // A line cut short by a crash stays as it is; the new one must not be glued onto it.
  const off_t size = ::lseek(fd, 0, SEEK_END);
  if (size > 0) {
    char last = '\n';
    if (::pread(fd, &last, 1, size - 1) == 1 && last != '\n') line.insert(line.begin(), '\n');
  }
  bool ok = writeAll(fd, line);
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  return ok;
}

std::vector<JournalEntry> ReadJournal(std::vector<std::string>* warnings) {
  std::vector<JournalEntry> entries;
  std::ifstream in(journalFile(), std::ios::binary);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty()) continue;
    JournalEntry e;
    if (ParseJournalLine(line, e))
      entries.push_back(std::move(e));
    else if (warnings != nullptr)
      warnings->push_back("Journal line " + std::to_string(number) +
                          " is damaged and was skipped.");
  }
  return entries;
}

bool FindRecordedClip(const std::vector<JournalEntry>& entries, const std::string& device,
                      const std::string& channel, int clip, RecordedClip& out, std::string& why) {
  out = RecordedClip{};
  const std::string name = "clip " + std::to_string(clip) + " of " + channel + " on " + device;
  bool completed = false;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    const JournalEntry& e = *it;
    if (e.Device != device || e.Channel != channel) continue;
    const bool gone =
        e.Result == "completed" && ((e.Operation == "delete" && e.Clip == clip) ||
                                    e.Operation == "format" || e.Operation == "quick format");
    if (!completed && gone) {
      why = "the journal shows " + name + " taken away by a " + e.Operation + " at " + e.Time + ".";
      return false;
    }
    const bool written = e.Clip == clip && (e.Operation == "write" || e.Operation == "continue" ||
                                            e.Operation == "copy");
    if (!written) continue;
    if (!completed) {
      if (e.Result != "completed") continue;  // a stop after the last completed write
      completed = true;
      out.Time = e.Time;
      out.ChainFrames = e.ChainFrames;
    } else if (e.ChainFrames != out.ChainFrames) {
      break;
    }
    // Chips done by a later run of the same write keep the digest of that run.
    for (const auto& [chip, hex] : e.Digests)
      if (!hex.empty()) out.Digests.emplace(chip, hex);
    if (e.Operation != "continue") break;  // the start of this write
  }
  if (!completed) {
    why = "the journal has no completed write of " + name + ".";
    return false;
  }
  return true;
}

struct PageDigest::State {
  struct Freer {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
  };
  std::unique_ptr<EVP_MD_CTX, Freer> ctx{EVP_MD_CTX_new()};
};

PageDigest::PageDigest() : state_(std::make_unique<State>()) {
  Reset();
}

PageDigest::~PageDigest() = default;

void PageDigest::AddPayload(const std::uint8_t* payload) {
  if (state_->ctx)
    EVP_DigestUpdate(state_->ctx.get(), payload, static_cast<std::size_t>(kPayloadSize));
  ++pages_;
}

std::string PageDigest::Hex() const {
  // Finished on a copy, so more pages can still follow.
  State done;
  unsigned char sum[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!done.ctx || EVP_MD_CTX_copy_ex(done.ctx.get(), state_->ctx.get()) != 1 ||
      EVP_DigestFinal_ex(done.ctx.get(), sum, &size) != 1) {
    return {};
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * size);
  for (unsigned int i = 0; i < size; ++i) {
    hex += kHex[sum[i] >> 4];
    hex += kHex[sum[i] & 15];
  }
  return hex;
}

void PageDigest::Reset() {
  if (state_->ctx) EVP_DigestInit_ex(state_->ctx.get(), EVP_sha256(), nullptr);
  pages_ = 0;
}

}  // namespace orvana
