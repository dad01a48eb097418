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
#include "cli/several_ports.h"
#include "cli/terminal.h"
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
  std::string workerPort;  // internal: this process is one worker of a several-device run
};

int DownloadCommand(Env& env, const DownloadArgs& args, bool slots,
                    const std::vector<std::string>& commandLine) {
  LoadedImages images;
  std::string error;
  if (!LoadImages(
          slots ? std::span<const ImageTarget>(kSlots) : std::span<const ImageTarget>(kAreas),
          args.images, images, error))
    return UsageError(env, error);

  const char* codeName = slots ? "firmware" : "CODE";
  std::uint32_t flags = 0;
  for (const std::string& n : images.names) {
    if (n == codeName)
      flags = kCodeAreaFlags;
  }
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
  job.trace = env.trace;
  job.cancel = env.cancel;
  return ExitCodeOf(RunDownloadFlow(job, *reporter));
}

struct ReadArgs {
  PortArgs ports;
  std::vector<std::string> regions;
  std::string directory;
};

int ReadCommand(Env& env, const ReadArgs& args) {
  std::vector<Region> regions;
  std::string error;
  if (!SelectRegions(args.regions, regions, error))
    return UsageError(env, error);
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
  std::int32_t openError = 0;
  auto port = OpenDevicePort(name, env.trace, openError, env.cancel);
  if (!port) {
    reporter->Result(openError, OpenFailureText(name, openError));
    return kExitFailure;
  }
  reporter->PortOpened(name);

  std::int64_t total = 0;
  for (const Region& r : regions)
    total += r.length;
  std::int64_t before = 0;
  std::int32_t firstFailure = 0;
  std::string failures;
  for (std::size_t i = 0; i < regions.size(); ++i) {
    const Region& r = regions[i];
    reporter->SegmentStarted(i, regions.size(), r.address, r.length, r.name);
    std::vector<std::uint8_t> data;
    const std::int32_t result =
        RunReadBack(*port, r.address, r.length, data, *reporter, before, total);
    before += r.length;
    reporter->SegmentDone(i, r.address, result);
    if (IsCancelled(env.cancel)) {
      // Nothing of the region being read is saved; regions read whole before stay saved.
      reporter->Result(kErrorCancelled, kCancelledText);
      return kExitFailure;
    }
    if (result != 0) {
      // No file for a region that did not come back whole.
      if (firstFailure == 0)
        firstFailure = result;
      failures += "\n" + std::string(r.name) + ": " + CommErrorMessage(result);
      continue;
    }
    const std::filesystem::path path = directory / ReadBackFileName(r.address);
    if (!WriteSegmentFile(path, data)) {
      if (firstFailure == 0)
        firstFailure = -1;
      failures += "\n" + std::string(r.name) + ": Can't saved\n\n" + path.string();
      continue;
    }
    reporter->Saved(r.name, path.string(), data.size());
  }
  if (firstFailure != 0) {
    reporter->Result(firstFailure, "read failed:" + failures);
    return kExitFailure;
  }
  reporter->Result(0, "");
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
           bool errIsTerminal, const std::string& executable, const CancelToken* cancel) {
  Env env{out, err, errIsTerminal, executable};
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
  download
      ->add_option("images", downloadArgs.images,
                   "AREA=FILE, AREA one of CODE (up to 98304 bytes at 0x108000), OEM "
                   "(13312 at 0x13cc00), BOOT (any size at 0x100000), PARAMETER (3072 at "
                   "0x13c000); sent in the order given")
      ->required();
  download->add_option("--flags", downloadArgs.flags,
                       "Download flags word (default 0x3C690000 with CODE, else 0)");
  download->add_flag("--no-redetect", downloadArgs.noRedetect,
                     "Do not wait 7 s and detect the device again after the download");
  download->add_flag("--verify", downloadArgs.verify,
                     "Read every segment back afterwards and compare it byte for byte");
  download->add_option("--worker-port", downloadArgs.workerPort)->group("");

  DownloadArgs writeArgs;
  auto* write = app.add_subcommand(
      "write",
      "Write image slots at their absolute addresses (as Pelion) into a running bootloader");
  AddPortOptions(write, writeArgs.ports, true);
  write
      ->add_option("slots", writeArgs.images,
                   "SLOT=FILE, SLOT one of firmware (any size at 0x100000), boot (16384 at "
                   "0x138000), oem (13312 at 0x13cc00), parameter (3072 at 0x13c000)")
      ->required();
  write->add_option("--flags", writeArgs.flags,
                    "Download flags word (default 0x3C690000 with firmware, else 0)");
  write->add_flag("--verify", writeArgs.verify,
                  "Read every segment back afterwards and compare it byte for byte");
  write->add_option("--worker-port", writeArgs.workerPort)->group("");

  ReadArgs readArgs;
  auto* read = app.add_subcommand(
      "read", "Read regions back and save each as vantor.<address>.bin (as Pelion's upload)");
  AddPortOptions(read, readArgs.ports, false);
  read->add_option("regions", readArgs.regions,
                   "binary (the whole 256 KiB window; alone), firmware, boot, parameter, oem")
      ->required();
  read->add_option("-o,--output", readArgs.directory,
                   "Folder for the files (default: the Documents folder)");
  read->callback([&] { action = [&] { return ReadCommand(env, readArgs); }; });

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
  TraceToStream trace(env.trace, err);
  return action();
}

int Main(int argc, char** argv) {
  PrepareConsole();
  static CancelToken cancel;
  CancelOnSignals(cancel);
  std::vector<std::string> args(argv, argv + argc);
  const int code = RunCli(args, std::cout, std::cerr, StderrIsTerminal(),
                          ExecutablePath(argc > 0 ? argv[0] : ""), &cancel);
  if (const int signo = CancelSignal(); signo != 0)
    return 128 + signo;
  return code;
}

}  // namespace vantor::cli
