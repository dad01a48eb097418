// The commands of the vantor tool (ports, detect, download, write, read; sim and demo live in
// sim_*.cpp) and the parsing of the command line.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <system_error>

#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/images.h"
#include "cli/record.h"
#include "cli/several_ports.h"
#include "cli/station.h"
#include "cli/terminal.h"
#include "device/image_formats.h"
#include "device/port_tuning.h"
#include "device/result_codes.h"
#include "device/texts.h"
#include "protocol/files.h"
#include "protocol/frames.h"
#include "serial/debug_output.h"
#include "serial/port_enumeration.h"
#include "vantor_version.h"

namespace vantor::cli {

std::unique_ptr<Reporter> Env::MakeReporter(const std::string& port) const {
  if (json)
    return MakeJsonReporter(out, port);
  return MakeTextReporter(out, err, TextOptions{quiet, errIsTerminal && !quiet});
}

namespace {

// Routes DebugOutput to stderr while the run lasts (with --trace).
class TraceToStream {
 public:
  TraceToStream(bool enabled, std::ostream& err) : m_enabled(enabled) {
    if (!m_enabled)
      return;
    SetDebugSink([&err, this](std::string_view text) {
      std::lock_guard lock(m_mutex);
      err << text;
      if (!text.empty() && text.back() != '\n')
        err << '\n';
      err.flush();
    });
  }
  ~TraceToStream() {
    if (m_enabled)
      SetDebugSink({});
  }
  TraceToStream(const TraceToStream&) = delete;
  TraceToStream& operator=(const TraceToStream&) = delete;

 private:
  bool m_enabled;
  std::mutex m_mutex;
};

int UsageError(Env& env, const std::string& message) {
  env.err << "vantor: " << message << "\n";
  return kExitUsage;
}

bool ParseFlags(const std::string& text, std::uint32_t& flags) {
  try {
    std::size_t used = 0;
    const unsigned long long value = std::stoull(text, &used, 0);
    if (used != text.size() || value > 0xFFFFFFFFull)
      return false;
    flags = static_cast<std::uint32_t>(value);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

struct PortArgs {
  std::vector<std::string> requested;
  bool allPorts = false;
};

void AddRetriesOption(CLI::App* command, int& retries) {
  command
      ->add_option("--retries", retries,
                   "Try a failed session again from its start, the port reopened, up to N times")
      ->check(CLI::NonNegativeNumber);
}

void AddRecordOption(CLI::App* command, std::string& record) {
  command->add_option("--record", record,
                      "Append one JSON line for the device to this production record");
}

void AddPortOptions(CLI::App* command, PortArgs& ports, bool several) {
  if (several) {
    command
        ->add_option("-p,--port", ports.requested,
                     "Serial port (/dev/ttyUSB0, COM3, or usb:VID:PID[:SERIAL]); repeat for "
                     "several devices")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command->add_flag("--all-ports", ports.allPorts, "Every port that 'vantor ports' lists");
  } else {
    command
        ->add_option("-p,--port", ports.requested,
                     "Serial port (/dev/ttyUSB0, COM3, or usb:VID:PID[:SERIAL])")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  }
}

// The ports named by -p and --all-ports; false with a message when there are none or a
// usb: request matches no port or several.
bool ResolvePortArgs(Env& env, const PortArgs& args, std::vector<std::string>& ports,
                     bool several = false) {
  std::string error;
  if (!ResolvePorts(args.requested, args.allPorts, ports, error)) {
    env.err << "vantor: " << error << "\n";
    return false;
  }
  if (ports.size() > 1 && !several) {
    env.err << "vantor: one port only for this command\n";
    return false;
  }
  if (ports.empty()) {
    env.err << "vantor: no port given (-p PORT" << (args.allPorts ? "; no port is present" : "")
            << ")\n";
    return false;
  }
  return true;
}

int DetectCommand(Env& env, const PortArgs& portArgs) {
  std::vector<std::string> ports;
  if (!ResolvePortArgs(env, portArgs, ports))
    return kExitUsage;
  const std::string& name = ports.front();
  auto reporter = env.MakeReporter(name);
  std::int32_t error = 0;
  auto port = OpenDevicePort(name, env.trace, error, env.cancel);
  if (!port) {
    reporter->Result(error, OpenFailureText(name, error));
    return kExitFailure;
  }
  reporter->PortOpened(name);
  const DetectedState state = DetectDevice(*port);
  if (IsCancelled(env.cancel)) {
    reporter->Result(kErrorCancelled, kCancelledText);
    return kExitFailure;
  }
  reporter->Detected(state, "detect");
  if (!state.answered()) {
    reporter->Result(-1, WithoutLineBreak(kNoAnswerText));
    return kExitFailure;
  }
  reporter->Result(0, "");
  return kExitOk;
}

struct DownloadArgs {
  PortArgs ports;
  std::vector<std::string> images;
  std::string flags;
  bool noRedetect = false;
  bool verify = false;
  int retries = 0;
  std::string record;      // the production record's file, appended to
  std::string workerPort;  // internal: this run is one worker of a several-device run
};

int DownloadCommand(Env& env, const DownloadArgs& args, bool slots,
                    const std::vector<std::string>& commandLine) {
  LoadedImages images;
  std::string error;
  if (!LoadImages(slots ? device::SlotPlaces() : device::AreaPlaces(), args.images, images, error))
    return UsageError(env, error);

  std::uint32_t flags = images.flags;
  if (!args.flags.empty() && !ParseFlags(args.flags, flags))
    return UsageError(env, "--flags: not a 32-bit number: '" + args.flags + "'");

  std::vector<std::string> ports;
  if (!args.workerPort.empty()) {
    ports.push_back(args.workerPort);
  } else if (!ResolvePortArgs(env, args.ports, ports, true)) {
    return kExitUsage;
  }
  if (ports.size() > 1)
    return RunOnSeveralPorts(env, commandLine, ports);

  DownloadJob job;
  job.port = ports.front();
  job.segments = &images.segments;
  job.flags = flags;
  job.enterBootloader = !slots;
  job.redetect = !slots && !args.noRedetect;
  job.verify = args.verify;
  auto reporter = env.MakeReporter(job.port);

  DeviceRecord record;
  record.started = std::chrono::system_clock::now();
  const auto start = std::chrono::steady_clock::now();
  job.trace = env.trace;
  job.cancel = env.cancel;
  DownloadOutcome outcome;
  const int total = 1 + args.retries;
  for (record.attempts = 1;; ++record.attempts) {
    if (args.retries > 0)
      reporter->Attempt(record.attempts, total);
    // Every attempt opens the port afresh and starts the session from its beginning.
    outcome = RunDownloadFlow(job, *reporter);
    if (outcome.ok || record.attempts >= total || IsCancelled(env.cancel))
      break;
  }
  if (args.record.empty())
    return ExitCodeOf(outcome);

  record.finished = std::chrono::system_clock::now();
  record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  record.port = job.port;
  record.usb = UsbIdentityOf(job.port);
  record.before = outcome.first;
  record.after = outcome.after;
  record.images = DescribeImages(images);
  record.bytes = outcome.bytes;
  if (args.verify)
    record.verified = outcome.verified;
  record.code = outcome.code;
  record.message = outcome.message;
  std::string recordError;
  if (!AppendRecordLine(args.record, FormatRecord(record), recordError)) {
    // The device is flashed, but a line that is not in the record counts as a failure.
    reporter->Message(recordError);
    return kExitFailure;
  }
  return ExitCodeOf(outcome);
}

struct ReadArgs {
  PortArgs ports;
  std::vector<std::string> regions;
  std::string directory;
  std::string format = "bin";
  int retries = 0;
};

int ReadRegions(Env& env, const std::string& name, const std::vector<Region>& regions,
                const std::filesystem::path& directory, device::SaveFormat format,
                Reporter& reporter);

int ReadCommand(Env& env, const ReadArgs& args) {
  std::vector<Region> regions;
  std::string error;
  if (!SelectRegions(args.regions, regions, error))
    return UsageError(env, error);
  device::SaveFormat format = device::SaveFormat::kBin;
  if (!device::ParseSaveFormat(args.format, format))
    return UsageError(env, "--format: bin, hex or srec, not '" + args.format + "'");
  std::vector<std::string> ports;
  if (!ResolvePortArgs(env, args.ports, ports))
    return kExitUsage;
  const std::filesystem::path directory =
      args.directory.empty() ? DocumentsFolder() : std::filesystem::path(args.directory);
  std::error_code ec;
  std::filesystem::create_directories(directory, ec);
  if (!std::filesystem::is_directory(directory, ec))
    return UsageError(env, "not a folder: " + directory.string());

  const std::string& name = ports.front();
  auto reporter = env.MakeReporter(name);
  int exitCode = kExitFailure;
  for (int attempt = 1;
       attempt <= 1 + args.retries && exitCode != kExitOk && !IsCancelled(env.cancel); ++attempt) {
    if (args.retries > 0)
      reporter->Attempt(attempt, 1 + args.retries);
    exitCode = ReadRegions(env, name, regions, directory, format, *reporter);
  }
  return exitCode;
}

// One read session: opens the port, reads every region and saves each that came back whole.
int ReadRegions(Env& env, const std::string& name, const std::vector<Region>& regions,
                const std::filesystem::path& directory, device::SaveFormat format,
                Reporter& reporter) {
  std::int32_t openError = 0;
  auto port = OpenDevicePort(name, env.trace, openError, env.cancel);
  if (!port) {
    reporter.Result(openError, OpenFailureText(name, openError));
    return kExitFailure;
  }
  reporter.PortOpened(name);

  // Each region is read twice; only bytes that two read-backs agree on are saved.
  std::int64_t total = 0;
  for (const Region& r : regions)
    total += 2 * static_cast<std::int64_t>(r.length);
  std::int64_t before = 0;
  std::int32_t firstFailure = 0;
  std::string failures;
  for (std::size_t i = 0; i < regions.size(); ++i) {
    const Region& r = regions[i];
    reporter.SegmentStarted(i, regions.size(), r.address, r.length, r.name);
    std::vector<std::uint8_t> data;
    bool differed = false;
    const std::int32_t result = device::RunCheckedReadBack(*port, r.address, r.length, data,
                                                           differed, reporter, before, total);
    before += 2 * static_cast<std::int64_t>(r.length);
    reporter.SegmentDone(i, r.address, result);
    if (IsCancelled(env.cancel)) {
      // Nothing of the region being read is saved; regions read whole before stay saved.
      reporter.Result(kErrorCancelled, kCancelledText);
      return kExitFailure;
    }
    if (result != 0) {
      // No file for a region that did not come back whole.
      if (firstFailure == 0)
        firstFailure = result;
      failures += "\n" + std::string(r.name) + ": " + CommErrorMessage(result) +
                  (differed ? std::string("\n") + device::kReadBacksDifferText : "");
      continue;
    }
    const std::filesystem::path path = directory / device::SaveFileName(r.address, format);
    if (!WriteSegmentFile(path, device::EncodeSaved(r.address, data, format))) {
      if (firstFailure == 0)
        firstFailure = -1;
      failures += "\n" + std::string(r.name) + ": " + kCantSavedText + path.string();
      continue;
    }
    reporter.Saved(r.name, path.string(), data.size());
  }
  if (firstFailure != 0) {
    reporter.Result(firstFailure, "read failed:" + failures);
    return kExitFailure;
  }
  reporter.Result(0, "");
  return kExitOk;
}

// The meaning of each code given, or the whole table.
int CodesCommand(Env& env, const std::vector<std::int32_t>& codes) {
  if (codes.empty()) {
    for (const device::ResultCodeRow& row : device::ResultCodeTable())
      env.out << row.code << ": " << row.meaning << "\n";
  }
  for (const std::int32_t code : codes)
    env.out << device::ExplainResultCode(code) << "\n";
  env.out.flush();
  return kExitOk;
}

// Negative codes ("vantor codes -8540") would be read as options: a "--" goes before the first.
std::vector<std::string> CodesAsPositionals(std::vector<std::string> args) {
  // The command is the first word after the program's name and the global flags.
  auto command = std::find_if(args.begin() + std::min<std::size_t>(args.size(), 1), args.end(),
                              [](const std::string& arg) { return arg.empty() || arg[0] != '-'; });
  if (command == args.end() || *command != "codes")
    return args;
  const auto negative = std::find_if(command, args.end(), [](const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-' &&
           std::all_of(arg.begin() + 1, arg.end(), [](char c) { return c >= '0' && c <= '9'; });
  });
  if (negative != args.end())
    args.insert(negative, "--");
  return args;
}

int PortsCommand(Env& env, bool verbose) {
  if (verbose)
    return ListPortsVerbose(env);
  for (const std::string& name : EnumerateComPorts())
    env.out << name << "\n";
  env.out.flush();
  return kExitOk;
}

}  // namespace

int ExitCodeOf(const DownloadOutcome& outcome) {
  return outcome.ok ? kExitOk : kExitFailure;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool errIsTerminal, const CancelToken* cancel) {
  Env env{out, err, errIsTerminal};
  env.cancel = cancel;
  CLI::App app{
      "vantor: writes images into the device through its bootloader, reads memory "
      "back, and runs a simulated device",
      "vantor"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("vantor ") + kVersion,
                       "Print the version and exit");
  app.set_help_all_flag("--help-all", "Every command's help");
  app.add_flag("--trace", env.trace, "Print the byte trace and 'bytes left' lines on stderr");
  app.add_flag("-q,--quiet", env.quiet, "Only results and failures; no progress bar");
  app.add_flag("--json", env.json, "One JSON object per line on stdout for every step");
  app.footer(
      "Exit codes: 0 success, 1 device or transfer failure, 2 bad usage or bad input file, 130 "
      "or 143 cancelled by SIGINT or SIGTERM.");

  Action action;

  bool verbose = false;
  auto* ports = app.add_subcommand("ports", "List the serial ports present, one per line");
  ports->add_flag("-v,--verbose", verbose,
                  "Show driver, USB ids, serial number, description and latency timer");
  ports->callback([&] { action = [&] { return PortsCommand(env, verbose); }; });

  PortArgs detectPorts;
  auto* detect = app.add_subcommand(
      "detect", "Tell what answers on the port: 'boot vA.B.C.D' or the firmware's version text");
  AddPortOptions(detect, detectPorts, false);
  detect->callback([&] { action = [&] { return DetectCommand(env, detectPorts); }; });

  DownloadArgs downloadArgs;
  auto* download = app.add_subcommand(
      "download",
      "Download images into device areas (as Quorix): detect, switch a running firmware to its "
      "bootloader, download, detect again");
  AddPortOptions(download, downloadArgs.ports, true);
  char codeFlags[16];
  std::snprintf(codeFlags, sizeof codeFlags, "0x%08X", kCodeAreaFlags);
  download
      ->add_option("images", downloadArgs.images,
                   "AREA=FILE, AREA one of " + DescribeTargets(device::AreaPlaces()) +
                       "; sent in the order given. An Intel HEX, S-record or ELF file may come "
                       "without AREA=: each run of its data goes to the area that holds it")
      ->required();
  download->add_option(
      "--flags", downloadArgs.flags,
      "Download flags word (default " + std::string(codeFlags) + " with CODE, else 0)");
  download->add_flag("--no-redetect", downloadArgs.noRedetect,
                     "Do not wait 7 s and detect the device again after the download");
  download->add_flag("--verify", downloadArgs.verify,
                     "Read every segment back afterwards and compare it byte for byte");
  AddRetriesOption(download, downloadArgs.retries);
  AddRecordOption(download, downloadArgs.record);
  download->add_option("--worker-port", downloadArgs.workerPort)->group("");

  DownloadArgs writeArgs;
  auto* write = app.add_subcommand(
      "write",
      "Write image slots at their absolute addresses (as Pelion) into a running bootloader");
  AddPortOptions(write, writeArgs.ports, true);
  write
      ->add_option("slots", writeArgs.images,
                   "SLOT=FILE, SLOT one of " + DescribeTargets(device::SlotPlaces()) +
                       ". An Intel HEX, S-record or ELF file may come without SLOT=: each run of "
                       "its data goes to the slot that holds it")
      ->required();
  write->add_option(
      "--flags", writeArgs.flags,
      "Download flags word (default " + std::string(codeFlags) + " with firmware, else 0)");
  write->add_flag("--verify", writeArgs.verify,
                  "Read every segment back afterwards and compare it byte for byte");
  AddRetriesOption(write, writeArgs.retries);
  AddRecordOption(write, writeArgs.record);
  write->add_option("--worker-port", writeArgs.workerPort)->group("");

  ReadArgs readArgs;
  auto* read = app.add_subcommand(
      "read",
      "Read regions back, twice, and save each as vantor.<address>.bin (as Pelion's upload) "
      "when both read-backs agree");
  AddPortOptions(read, readArgs.ports, false);
  read->add_option("regions", readArgs.regions,
                   "binary (the whole 256 KiB window; alone), firmware, boot, parameter, oem")
      ->required();
  read->add_option("-o,--output", readArgs.directory,
                   "Folder for the files (default: the Documents folder)");
  read->add_option("--format", readArgs.format,
                   "bin (raw, vantor.<address>.bin; the default), hex (Intel HEX, .hex) or srec "
                   "(S-record, .srec), the last two at the device addresses");
  AddRetriesOption(read, readArgs.retries);
  read->callback([&] { action = [&] { return ReadCommand(env, readArgs); }; });

  AddStationCommand(app, env, action);

  std::vector<std::int32_t> codeArgs;
  auto* codes = app.add_subcommand(
      "codes", "Explain result codes (the number after '통신에러'); without one, list them all");
  codes->add_option("code", codeArgs, "A result code, for example -8540");
  codes->callback([&] { action = [&] { return CodesCommand(env, codeArgs); }; });

  AddSimCommands(app, env, action);

  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
    sub->fallthrough();

  std::vector<std::string> reversed(CodesAsPositionals(args));
  std::reverse(reversed.begin(), reversed.end());
  if (!reversed.empty())
    reversed.pop_back();  // the program's name
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return code == 0 ? kExitOk : kExitUsage;
  }
  if (download->parsed())
    action = [&] { return DownloadCommand(env, downloadArgs, false, args); };
  if (write->parsed())
    action = [&] { return DownloadCommand(env, writeArgs, true, args); };
  if (!action)
    return UsageError(env, "no command (see vantor --help)");
  // A worker's trace goes through the sink of the run that started it.
  const bool worker = !downloadArgs.workerPort.empty() || !writeArgs.workerPort.empty();
  TraceToStream trace(env.trace && !worker, err);
  return action();
}

int Main(int argc, char** argv) {
  PrepareConsole();
  static CancelToken cancel;
  CancelOnSignals(cancel);
  std::vector<std::string> args(argv, argv + argc);
  const int code = RunCli(args, std::cout, std::cerr, StderrIsTerminal(), &cancel);
  if (const int signo = CancelSignal(); signo != 0)
    return 128 + signo;
  return code;
}

}  // namespace vantor::cli
