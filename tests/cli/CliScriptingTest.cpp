// orvana-cli as a script sees it: exit codes, global options on either side of the command,
// --json output, --version and the bash completion. The program runs as built, against an
// in-process simulated device on loopback.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/Operator.h"
#include "devsim/DeviceSimulator.h"
#include "link/TimingTable.h"
#include "media/AviFixture.h"
#include "store/StoreFixture.h"
#include "store/StoreStack.h"
#include "support/RunCommand.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

// A clip comment with a quote, a backslash, a tab and two Windows-1252 letters, as stored.
const std::string kStoredComment = "say \"hi\"\\\t\x80\xe9";
const QString kShownComment = QString::fromUtf8("say \"hi\"\\\t\xe2\x82\xac\xc3\xa9");

struct Output {
  int code = -1;
  std::string out;  // stdout
  std::string err;  // stderr
};

// The one JSON document of `out`, which must hold nothing else: a single line.
QJsonDocument jsonOf(const std::string& out) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(out), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
  EXPECT_TRUE(!out.empty() && out.back() == '\n') << out;
  return doc;
}

class CliScriptingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    devsim::DeviceSimulatorOptions options;
    options.replyPort = hostPort;
    options.recordTraffic = false;
    sim = std::make_unique<devsim::DeviceSimulator>(options);
    ASSERT_TRUE(sim->start()) << sim->error();
    // The clip1 channel's chips (0 and 1) formatted, clip 5 on both; the link is gone again
    // before the command line takes the same reply port.
    ResetTimingTable();
    SilentOperator op;
    StoreStack stack("127.0.0.1", sim->port(), op, hostPort);
    for (int chip : {0, 1}) {
      stack.store.SelectChip(chip);
      ASSERT_TRUE(stack.store.FormatChip(false));
      ASSERT_EQ(test::writeClip(stack.store, 4, 0, 1, true, kStoredComment, 1), 0);
    }
    sim->setRegister(816, 9);  // chip 8's clip select
  }

  // The global options that reach the simulated device.
  std::string device() const {
    return "--device 127.0.0.1:" + std::to_string(sim->port()) + " --host-port " +
           std::to_string(hostPort);
  }

  // Runs orvana-cli with `args`. The environment names a device that never answers and another
  // reply port, so a command reaches the simulated device only through the options it was given.
  Output cli(const std::string& args) {
    const auto errFile = home.path() / "stderr.txt";
    const auto r =
        test::runCommand("ORVANA_DEVICE=127.0.0.1:" + std::to_string(silent.port()) +
                         " ORVANA_HOST_PORT=" + std::to_string(otherHost.port()) + " timeout 120 " +
                         ORVANA_CLI + " " + args + " 2>" + errFile.string());
    std::ifstream in(errFile);
    std::stringstream err;
    err << in.rdbuf();
    return {r.exitCode, r.out, err.str()};
  }

  test::TempHome home;
  test::HostSocket hostSocket;  // inherited by the commands, which receive on it
  std::uint16_t hostPort = hostSocket.port();
  test::HostSocket otherHost;   // a reply port nothing answers on
  test::LoopbackSocket silent;  // a device address that never answers
  std::unique_ptr<devsim::DeviceSimulator> sim;
};

TEST_F(CliScriptingTest, ExitCodes) {
  const std::string file = (home.path() / "out.bin").string();
  struct Case {
    std::string args;
    int code;
    const char* stdoutHas;  // null: stdout stays empty
  };
  const Case cases[] = {
      // Success.
      {device() + " info", 0, "connected:     yes"},
      {device() + " list --chip 0", 0, "frames"},
      {"--version", 0, "orvana-cli " ORVANA_VERSION "\n"},
      {"--help", 0, "Exit codes:"},
      {"page read --help", 0, "Usage: orvana-cli page read"},
      {"--list-commands", 0, "page read\t"},
      // Failure: no answer, no such clip, a question answered No, no such file.
      {"--device 127.0.0.1:" + std::to_string(silent.port()) + " --host-port " +
           std::to_string(hostPort) + " list --chip 0",
       1, nullptr},
      {device() + " read --chip 0 --number 7 -o " + file, 1, nullptr},
      {device() + " delete --channel clip1 --number 5", 1, nullptr},
      {"probe " + (home.path() / "none.avi").string(), 1, nullptr},
      // Usage, whatever kind of error CLI11 or the command found.
      {"", 2, nullptr},
      {"bogus", 2, nullptr},
      {"info --bogus", 2, nullptr},
      {device() + " list", 2, nullptr},
      {device() + " list --chip 12", 2, nullptr},
      {device() + " list --chip 0 --channel clip1", 2, nullptr},
      {device() + " format --channel clip9", 2, nullptr},
      {device() + " page read --chip 0", 2, nullptr},
      {"--host-port many info", 2, nullptr},
      {"demo-clip --seconds 0 -o " + file, 2, nullptr},
      {device() + " export --number 1 -o " + file, 2, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const Output r = cli(c.args);
    EXPECT_EQ(r.code, c.code) << r.err;
    if (c.stdoutHas != nullptr)
      EXPECT_NE(r.out.find(c.stdoutHas), std::string::npos) << r.out;
    else
      EXPECT_EQ(r.out, "");
    if (c.code == 2) {
      EXPECT_NE(r.err, "") << "a usage error says what was wrong";
    }
  }
  EXPECT_FALSE(std::filesystem::exists(file));
  // Nothing a failure or usage error did removed the clip.
  EXPECT_EQ(jsonOf(cli(device() + " list --chip 1 --json").out).array().size(), 1);
}

// The global options after the command (and after a nested one), in both spellings, mixed with
// the command's own options. The environment's device never answers, so each case passes only
// when the options given after the command were taken.
TEST_F(CliScriptingTest, GlobalOptionsAfterTheCommand) {
  const std::string port = std::to_string(sim->port());
  const std::string host = std::to_string(hostPort);
  const std::string page = (home.path() / "page.bin").string();
  const std::string cases[] = {
      "info --json --device 127.0.0.1:" + port + " --host-port " + host,
      "--device 127.0.0.1:" + port + " list --chip 0 --host-port " + host,
      "page read --chip 0 --row 0 --device=127.0.0.1:" + port + " -o " + page +
          " --host-port=" + host,
      "status --chip 2 -y --device 127.0.0.1:" + port + " --json --host-port " + host,
      // --yes after the command answers the question: the clip is gone from both chips.
      "format --channel clip1 --quick --device 127.0.0.1:" + port + " --host-port " + host +
          " --yes",
  };
  for (const std::string& args : cases) {
    SCOPED_TRACE(args);
    const Output r = cli(args);
    EXPECT_EQ(r.code, 0) << r.err;
  }
  EXPECT_EQ(std::filesystem::file_size(page), 8192u);
  for (const char* chip : {"0", "1"})
    EXPECT_EQ(cli(device() + " list --json --chip " + chip).out, "[]\n");
}

TEST_F(CliScriptingTest, JsonOutputIsOneDocumentWithTheExpectedFields) {
  // 64 x 36 pictures, 25 frames, with the sound at `rate` (0: none).
  const auto fixture = [](const std::string& name, int rate) {
    return test::Fixtures::Get(name, {.Width = 64,
                                      .Height = 36,
                                      .Frames = 25,
                                      .AudioRate = rate,
                                      .AudioChannels = 2,
                                      .AudioBits = 16,
                                      .Gop = 10,
                                      .Codec = "ffv1",
                                      .BFrames = 0,
                                      .Options = ""})
        .string();
  };
  const std::string wrongRateFile = fixture("json_44k", 44100);
  const std::string usableFile = fixture("json_48k", 48000);
  const std::string muteFile = fixture("json_mute", 0);

  const auto probeFields = [](const QJsonObject& o) {
    EXPECT_EQ(o.value("width").toInt(), 64);
    EXPECT_EQ(o.value("height").toInt(), 36);
    EXPECT_EQ(o.value("frame_rate").toInt(), 25);
    EXPECT_EQ(o.value("frames").toInt(), 25);
    EXPECT_EQ(o.value("blocks").toInt(), 50);
  };
  const std::string silentDevice = "--device 127.0.0.1:" + std::to_string(silent.port()) +
                                   " --host-port " + std::to_string(hostPort);
  struct Case {
    std::string args;
    int code;
    std::function<void(const QJsonDocument&)> check;  // null: nothing on stdout
    const char* stderrHas = "";
  };
  const Case cases[] = {
      {device() + " info --json", 0,
       [&](const QJsonDocument& d) {
         const QJsonObject o = d.object();
         EXPECT_EQ(o.value("device").toString(), "127.0.0.1");
         EXPECT_EQ(o.value("port").toInt(), sim->port());
         EXPECT_EQ(o.value("host_port").toInt(), hostPort);
         EXPECT_EQ(o.value("connected"), QJsonValue(true));
         EXPECT_EQ(o.value("link_dead"), QJsonValue(false));
         EXPECT_EQ(o.value("control").toString(), "taken");
         for (const char* k : {"device_control_byte", "board_number", "board_kind", "last_failed",
                               "poll_confirms", "write_failures", "read_failures"})
           EXPECT_TRUE(o.value(k).isDouble()) << k;
         EXPECT_TRUE(o.contains("board_name"));
         const QJsonArray selects = o.value("clip_select").toArray();
         ASSERT_EQ(selects.size(), 5);
         EXPECT_EQ(selects.at(3).toObject().value("chip").toInt(), 8);
         EXPECT_EQ(selects.at(3).toObject().value("clip").toInt(), 9);
         EXPECT_TRUE(selects.at(3).toObject().value("strobe").isDouble());
       }},
      {silentDevice + " info --json", 1,
       [](const QJsonDocument& d) { EXPECT_EQ(d.object().value("connected"), QJsonValue(false)); },
       "No answer"},
      {device() + " list --chip 0 --json", 0,
       [](const QJsonDocument& d) {
         ASSERT_TRUE(d.isArray());
         ASSERT_EQ(d.array().size(), 1);
         const QJsonObject clip = d.array().at(0).toObject();
         EXPECT_EQ(clip.value("number").toInt(), 5);
         EXPECT_EQ(clip.value("frames").toInt(), 1);
         EXPECT_EQ(clip.value("source_frames").toInt(), 6);
         EXPECT_EQ(clip.value("kind").toInt(), 0);
         EXPECT_EQ(clip.value("has_audio"), QJsonValue(true));
         EXPECT_EQ(clip.value("comment").toString(), kShownComment);
         EXPECT_EQ(clip.value("start_page").toInt(), 768);
       }},
      {silentDevice + " list --channel clip1 --json", 1, nullptr, "No answer"},
      {device() + " status --chip 2 --json", 0,
       [](const QJsonDocument& d) {
         const QJsonObject o = d.object();
         EXPECT_EQ(o.value("chip").toInt(), 2);
         EXPECT_EQ(o.value("status").toInt(), 0xe0);
         EXPECT_EQ(o.value("ready"), QJsonValue(true));
         EXPECT_EQ(o.value("busy"), QJsonValue(false));
         EXPECT_EQ(o.value("failed"), QJsonValue(false));
         EXPECT_EQ(o.value("meaning").toString(), "ready");
       }},
      {silentDevice + " status --chip 2 --json", 1, nullptr, "No answer"},
      // The sound's problem is told on stderr and kept in the document.
      {"probe --json " + wrongRateFile, 0,
       [&](const QJsonDocument& d) {
         const QJsonObject o = d.object();
         probeFields(o);
         EXPECT_EQ(o.value("file").toString().toStdString(), wrongRateFile);
         const QJsonObject audio = o.value("audio").toObject();
         EXPECT_EQ(audio.value("rate").toInt(), 44100);
         EXPECT_EQ(audio.value("bits").toInt(), 16);
         EXPECT_EQ(audio.value("channels").toInt(), 2);
         EXPECT_EQ(audio.value("format_tag").toInt(), 1);
         EXPECT_EQ(audio.value("block_align").toInt(), 4);
         EXPECT_EQ(audio.value("usable"), QJsonValue(false));
         EXPECT_EQ(audio.value("problem").toString(),
                   "AUDIO: Incorrect audio rate, must be 48000 hz.");
       },
       "AUDIO: Incorrect audio rate"},
      {"probe " + usableFile + " --json", 0,
       [&](const QJsonDocument& d) {
         probeFields(d.object());
         const QJsonObject audio = d.object().value("audio").toObject();
         EXPECT_EQ(audio.value("rate").toInt(), 48000);
         EXPECT_EQ(audio.value("usable"), QJsonValue(true));
         EXPECT_TRUE(audio.value("problem").isNull());
       }},
      {"probe --json " + muteFile, 0,
       [&](const QJsonDocument& d) {
         probeFields(d.object());
         EXPECT_TRUE(d.object().value("audio").isNull());
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const Output r = cli(c.args);
    EXPECT_EQ(r.code, c.code) << r.err;
    if (c.check)
      c.check(jsonOf(r.out));
    else
      EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.stderrHas), std::string::npos) << r.err;
  }
}

// What the completion offers for the words typed so far (the last one being completed).
std::vector<std::string> complete(const std::vector<std::string>& typed) {
  std::string words = std::string("'") + ORVANA_CLI + "'";
  for (const auto& w : typed) words += " '" + w + "'";
  const auto r = test::runCommand(
      "bash -c 'source \"$0\"; COMP_WORDS=(\"$@\"); "
      "COMP_CWORD=$(($# - 1)); _orvana_cli; "
      "printf \"%s\\n\" \"${COMPREPLY[@]}\"' " +
      std::string(ORVANA_CLI_COMPLETION) + " " + words);
  EXPECT_EQ(r.exitCode, 0);
  std::vector<std::string> offered;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) offered.push_back(line);
  std::sort(offered.begin(), offered.end());
  return offered;
}

TEST(CliCompletionTest, OffersCommandsOptionsAndValues) {
  test::TempHome home;
  const auto mapFile = home.path() / "channel-map.png";
  std::ofstream(mapFile) << "x";
  using Words = std::vector<std::string>;
  struct Case {
    Words typed;
    Words offered;  // exactly, sorted
  };
  const Case cases[] = {
      {{"fo"}, {"format"}},
      {{"page", ""}, {"read", "write"}},
      {{"--device", "127.0.0.1", "page", "r"}, {"read"}},
      {{"-y", "list", "--c"}, {"--channel", "--chip"}},
      {{"page", "read", "--chip", "3", "--e"}, {"--ecc"}},
      {{"format", "--channel", ""}, {"clip1", "clip2", "logo", "wipe"}},
      {{"list", "--channel", "=", "cl"}, {"clip1", "clip2"}},
      {{"export", "--codec", "u"}, {"utvideo"}},
      {{"list", "--chip", ""}, {}},
      {{"map", "--chip", "0", "-o", (home.path() / "channel-").string()}, {mapFile.string()}},
      // The global options follow the command, and a command's words end at its options.
      {{"status", "--ho"}, {"--host-port"}},
      {{"info", "--js"}, {"--json"}},
      {{"info", "--q"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.typed));
    EXPECT_EQ(complete(c.typed), c.offered);
  }

  // Every command the program's own help lists is offered, and nothing else.
  const auto help = test::runCommand(std::string(ORVANA_CLI) + " --help");
  std::istringstream lines(help.out.substr(help.out.find("Subcommands:")));
  std::vector<std::string> listed;
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line) && !line.empty())
    listed.push_back(line.substr(2, line.find(' ', 2) - 2));
  std::sort(listed.begin(), listed.end());
  EXPECT_GT(listed.size(), 15u) << help.out;
  EXPECT_EQ(complete({""}), listed);
}

}  // namespace
}  // namespace orvana
