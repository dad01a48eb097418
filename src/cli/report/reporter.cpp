// The text and JSON reporters of the vantor tool, and the progress bar drawn on a terminal.
#include "cli/report/reporter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include <nlohmann/json.hpp>

#include "device/flows.h"
#include "device/result_codes.h"
#include "device/texts.h"
#include "production/json_string.h"

namespace vantor::cli {

using device::DetectedState;
using nlohmann::ordered_json;
using production::RoundedTo;
using production::Utf8Text;

namespace {

// One line redrawn in place on the terminal: "label [#####.....]  42%".
class ProgressBar {
 public:
  explicit ProgressBar(std::ostream& err) : m_err(err) {}
  ~ProgressBar() { End(); }

  void SetLabel(std::string label) {
    m_label = std::move(label);
    Draw(m_percent < 0 ? 0 : m_percent, true);
  }
  void Draw(std::int32_t percent, bool force = false) {
    if (percent == m_percent && !force)
      return;
    m_percent = percent;
    constexpr int kWidth = 30;
    const int filled = std::clamp(percent, 0, 100) * kWidth / 100;
    m_err << "\r\033[K" << m_label << " [" << std::string(static_cast<std::size_t>(filled), '#')
          << std::string(static_cast<std::size_t>(kWidth - filled), '.') << "] ";
    char number[8];
    std::snprintf(number, sizeof number, "%3d%%", percent);
    m_err << number << std::flush;
    m_drawn = true;
  }
  // Ends the line so that other output starts on a fresh one.
  void End() {
    if (m_drawn)
      m_err << "\n" << std::flush;
    m_drawn = false;
    m_percent = -1;
  }

 private:
  std::ostream& m_err;
  std::string m_label;
  std::int32_t m_percent = -1;
  bool m_drawn = false;
};

class TextReporter final : public Reporter {
 public:
  TextReporter(std::ostream& out, std::ostream& err, TextOptions options)
      : m_out(out), m_err(err), m_options(options), m_bar(err) {}

  void PortOpened(const std::string&) override {}
  void Detected(const DetectedState& state, std::string_view) override {
    if (state.answered())
      Line(device::DescribeState(state));
  }
  void BootRequested(protocol::BootModeOutcome outcome) override {
    if (!m_options.quiet)
      Line(std::string("~dboot: ") + device::BootOutcomeName(outcome));
  }
  void BootloaderEntered(std::uint32_t version) override {
    if (!m_options.quiet)
      Line(device::FormatBootVersion(version));
  }
  void SegmentStarted(std::size_t index, std::size_t count, std::uint32_t address,
                      std::int32_t length, std::string_view what) override {
    if (m_options.quiet)
      return;
    std::ostringstream label;
    label << what << " " << index + 1 << "/" << count << " " << device::Hex(address) << " ("
          << length << " bytes)";
    if (m_options.progressBar)
      m_bar.SetLabel(label.str());
    else
      Line(label.str());
  }
  void Progress(std::int32_t percent) override {
    if (m_options.progressBar && !m_options.quiet)
      m_bar.Draw(percent);
  }
  void SegmentDone(std::size_t, std::uint32_t, std::int32_t) override {}
  void Message(std::string_view text) override {
    if (!m_options.quiet)
      Line(std::string(text));
  }
  void Saved(std::string_view region, const std::string& path, std::size_t bytes) override {
    std::ostringstream line;
    line << region << ": " << bytes << " bytes -> " << path;
    Line(line.str());
  }
  void Verify(std::int32_t result, std::optional<std::uint32_t> firstDifference,
              double seconds) override {
    char text[160];
    if (result == 0 && !firstDifference)
      std::snprintf(text, sizeof text, "verified in %.1f s", seconds);
    else if (firstDifference)
      std::snprintf(text, sizeof text, "verify failed: first difference at 0x%06x (%.1f s)",
                    *firstDifference, seconds);
    else
      std::snprintf(text, sizeof text, "verify failed: read-back %d (%.1f s)", result, seconds);
    Line(text);
  }
  void Attempt(int number, int total) override {
    if (!m_options.quiet)
      Line("attempt " + std::to_string(number) + " of " + std::to_string(total));
  }
  void Result(std::int32_t code, std::string_view message) override {
    m_bar.End();
    if (message.empty())
      return;
    if (code == 0) {
      m_out << message << "\n" << std::flush;
      return;
    }
    m_err << message << "\n";
    if (const auto meaning = device::CodeMeaning(code, message))
      m_err << *meaning << "\n";
    m_err << std::flush;
  }

 private:
  void Line(const std::string& text) {
    m_bar.End();
    m_out << text << "\n" << std::flush;
  }

  std::ostream& m_out;
  std::ostream& m_err;
  TextOptions m_options;
  ProgressBar m_bar;
};

class JsonReporter final : public Reporter {
 public:
  JsonReporter(std::ostream& out, std::string port) : m_out(out), m_port(std::move(port)) {}

  void PortOpened(const std::string& port) override {
    m_port = port;
    Emit(Event("port_opened"));
  }
  void Detected(const DetectedState& state, std::string_view purpose) override {
    ordered_json e = Event("detected");
    e["purpose"] = Utf8Text(purpose);
    if (state.bootVersion) {
      e["state"] = "bootloader";
      e["version"] = Utf8Text(device::DescribeState(state));
      e["word"] = *state.bootVersion;
    } else if (state.firmwareVersion) {
      e["state"] = "firmware";
      e["version"] = Utf8Text(*state.firmwareVersion);
    } else {
      e["state"] = "none";
    }
    Emit(e);
  }
  void BootRequested(protocol::BootModeOutcome outcome) override {
    ordered_json e = Event("boot_request");
    e["outcome"] = device::BootOutcomeName(outcome);
    Emit(e);
  }
  void BootloaderEntered(std::uint32_t version) override {
    ordered_json e = Event("bootloader");
    e["version"] = Utf8Text(device::FormatBootVersion(version));
    e["word"] = version;
    Emit(e);
  }
  void SegmentStarted(std::size_t index, std::size_t count, std::uint32_t address,
                      std::int32_t length, std::string_view what) override {
    ordered_json e = Event("segment_started");
    e["what"] = Utf8Text(what);
    e["index"] = index;
    e["count"] = count;
    e["address"] = address;
    e["length"] = length;
    Emit(e);
  }
  void Progress(std::int32_t percent) override {
    if (percent == m_lastPercent)
      return;
    m_lastPercent = percent;
    ordered_json e = Event("progress");
    e["percent"] = percent;
    Emit(e);
  }
  void SegmentDone(std::size_t index, std::uint32_t address, std::int32_t result) override {
    ordered_json e = Event("segment_done");
    e["index"] = index;
    e["address"] = address;
    e["result"] = result;
    Emit(e);
  }
  void Message(std::string_view text) override {
    ordered_json e = Event("message");
    e["text"] = Utf8Text(text);
    Emit(e);
  }
  void Saved(std::string_view region, const std::string& path, std::size_t bytes) override {
    ordered_json e = Event("saved");
    e["region"] = Utf8Text(region);
    e["path"] = Utf8Text(path);
    e["bytes"] = bytes;
    Emit(e);
  }
  void Verify(std::int32_t result, std::optional<std::uint32_t> firstDifference,
              double seconds) override {
    ordered_json e = Event("verify");
    e["result"] = result;
    e["ok"] = result == 0 && !firstDifference;
    if (firstDifference)
      e["first_difference"] = *firstDifference;
    e["seconds"] = RoundedTo(seconds, 3);
    Emit(e);
  }
  void Attempt(int number, int total) override {
    ordered_json e = Event("attempt");
    e["attempt"] = number;
    e["of"] = total;
    Emit(e);
  }
  void Result(std::int32_t code, std::string_view message) override {
    ordered_json e = Event("result");
    e["code"] = code;
    e["message"] = Utf8Text(message);
    // Every failure says what its code means, also where the message says it in words.
    if (code != 0)
      e["meaning"] = Utf8Text(device::ExplainResultCode(code));
    Emit(e);
  }

 private:
  // Every object starts with "port" and "event".
  ordered_json Event(const char* event) const {
    return ordered_json{{"port", Utf8Text(m_port)}, {"event", event}};
  }
  void Emit(const ordered_json& e) { m_out << e.dump() << "\n" << std::flush; }

  std::ostream& m_out;
  std::string m_port;
  std::int32_t m_lastPercent = -1;
};

}  // namespace

std::unique_ptr<Reporter> MakeTextReporter(std::ostream& out, std::ostream& err,
                                           TextOptions options) {
  return std::make_unique<TextReporter>(out, err, options);
}

std::unique_ptr<Reporter> MakeJsonReporter(std::ostream& out, std::string port) {
  return std::make_unique<JsonReporter>(out, std::move(port));
}

}  // namespace vantor::cli
