// The commands of the vantor tool (ports, detect, download, write, read, codes; station in
// station/, sim and demo in posix/sim_posix.cpp) and the parsing of the command line.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <system_error>

#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/images.h"
#include "cli/ports.h"
#include "cli/production_options.h"
#include "cli/report_command.h"
#include "cli/several_ports.h"
#include "cli/station_command.h"
#include "cli/terminal.h"
#include "device/files.h"
#include "device/image_formats.h"
#include "device/job.h"
#include "device/port_tuning.h"
#include "device/result_codes.h"
#include "device/texts.h"
#include "production/record.h"
#include "protocol/frames.h"
#include "serial/debug_output.h"
#include "serial/number_text.h"
#include "serial/port_enumeration.h"
#include "vantor_version.h"

namespace vantor::cli {

using production::LoadedImages;
using production::ProductionArgs;

using device::DetectedState;
using device::DownloadOutcome;
using device::IsCancelled;
using device::Region;

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
    serial::SetDebugSink([&err, this](std::string_view text) {
      std::lock_guard lock(m_mutex);
      err << text;
      if (!text.empty() && text.back() != '\n')
        err << '\n';
      err.flush();
    });
  }
  ~TraceToStream() {
    if (m_enabled)
      serial::SetDebugSink({});
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
  const auto value = serial::ParseNumber<std::uint32_t>(text, serial::NumberSyntax::kPrefixed);
  if (value)
    flags = static_cast<std::uint32_t>(*value);
  return value.has_value();
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
  auto port = device::OpenDevicePort(name, env.trace, error, env.cancel);
  if (!port) {
    reporter->Result(error, device::OpenFailureText(name, error));
    return kExitFailure;
  }
  reporter->PortOpened(name);
  const DetectedState state = device::DetectDevice(*port);
  if (IsCancelled(env.cancel)) {
    reporter->Result(serial::kErrorCancelled, device::kCancelledText);
    return kExitFailure;
  }
  reporter->Detected(state, "detect");
  if (!state.answered()) {
    reporter->Result(-1, device::WithoutLineBreak(device::kNoAnswerText));
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
  ProductionArgs production;  // record, unit numbers, database
};

// download (areas) or write (slots, with `slots`): the images read and checked once, then one
// port, or a worker per port.
int DownloadCommand(Env& env, const DownloadArgs& args, bool slots) {
  LoadedImages images;
  std::string error;
  if (!LoadImages(slots ? device::SlotPlaces() : device::AreaPlaces(), args.images, images, error))
    return UsageError(env, error);
  device::Job job = MakeJob(images, slots);
  if (!args.flags.empty() && !ParseFlags(args.flags, job.flags))
    return UsageError(env, "--flags: not a 32-bit number: '" + args.flags + "'");
  job.redetect = !slots && !args.noRedetect;
  job.verify = args.verify;
  job.retries = args.retries;
  job.trace = env.trace;
  std::vector<std::string> ports;
  if (!ResolvePortArgs(env, args.ports, ports, true))
    return kExitUsage;
  if (!ApplyProductionOptions(env, args.production, images, args.verify, job, error))
    return UsageError(env, error);

  if (ports.size() > 1)
    return RunOnSeveralPorts(env, ports, job);
  auto reporter = env.MakeReporter(ports.front());
  return device::RunJob(ports.front(), job, env.cancel, *reporter).ok() ? kExitOk : kExitFailure;
}

struct ReadArgs {
  PortArgs ports;
  std::vector<std::string> regions;
  std::string directory;
  std::string format = "bin";
  int retries = 0;
};

int ReadCommand(Env& env, const ReadArgs& args) {
  device::ReadJob job;
  std::string error;
  if (!SelectRegions(args.regions, job.regions, error))
    return UsageError(env, error);
  if (!device::ParseSaveFormat(args.format, job.format))
    return UsageError(env, "--format: bin, hex or srec, not '" + args.format + "'");
  std::vector<std::string> ports;
  if (!ResolvePortArgs(env, args.ports, ports))
    return kExitUsage;
  job.directory =
      args.directory.empty() ? device::DocumentsFolder() : std::filesystem::path(args.directory);
  std::error_code ec;
  std::filesystem::create_directories(job.directory, ec);
  if (!std::filesystem::is_directory(job.directory, ec))
    return UsageError(env, "not a folder: " + job.directory.string());
  job.port = ports.front();
  job.trace = env.trace;
  job.cancel = env.cancel;
  job.portWait = device::PortWaitForRetries(args.retries);

  auto reporter = env.MakeReporter(job.port);
  std::int32_t result = 0;
  device::RunWithRetries(args.retries, env.cancel, *reporter, [&] {
    result = device::RunReadFlow(job, *reporter);
    return result == 0;
  });
  return result == 0 ? kExitOk : kExitFailure;
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
  for (const std::string& name : serial::EnumerateComPorts())
    env.out << name << "\n";
  env.out.flush();
  return kExitOk;
}

}  // namespace

int ExitCodeOf(const DownloadOutcome& outcome) {
  return outcome.ok ? kExitOk : kExitFailure;
}

device::Job MakeJob(const LoadedImages& images, bool slots) {
  device::Job job;
  job.segments = std::make_shared<const protocol::SegmentList>(images.segments);
  job.flags = images.flags;
  job.enterBootloader = !slots;
  return job;
}

namespace {

// What the command line chose: every command's arguments, filled by the parser.
struct Choices {
  bool verbose = false;
  PortArgs detectPorts;
  DownloadArgs download;
  DownloadArgs write;
  ReadArgs read;
  std::vector<std::int32_t> codes;
};

void AddGlobalFlags(CLI::App& app, Env& env) {
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("vantor ") + kVersion,
                       "Print the version and exit");
  app.set_help_all_flag("--help-all", "Every command's help");
  app.add_flag("--trace", env.trace, "Print the byte trace and 'bytes left' lines on stderr");
  app.add_flag("-q,--quiet", env.quiet, "Only results and failures; no progress bar");
  app.add_flag("--json", env.json, "One JSON object per line on stdout for every step");
  app.footer(
      "Exit codes: 0 success, 1 device or transfer failure, 2 bad usage or bad input file, 130, "
      "143 or 129 cancelled by SIGINT, SIGTERM or SIGHUP.");
}

void AddPortsAndDetect(CLI::App& app, Env& env, Choices& c, Action& action) {
  auto* ports = app.add_subcommand("ports", "List the serial ports present, one per line");
  ports->add_flag("-v,--verbose", c.verbose,
                  "Show driver, USB ids, serial number, description and latency timer");
  ports->callback([&] { action = [&] { return PortsCommand(env, c.verbose); }; });

  auto* detect = app.add_subcommand(
      "detect", "Tell what answers on the port: 'boot vA.B.C.D' or the firmware's version text");
  AddPortOptions(detect, c.detectPorts, false);
  detect->callback([&] { action = [&] { return DetectCommand(env, c.detectPorts); }; });
}

// "download" (areas, as Quorix) and "write" (slots, as Pelion).
void AddDownloadCommands(CLI::App& app, Env& env, Choices& c, Action& action) {
  char codeFlags[16];
  std::snprintf(codeFlags, sizeof codeFlags, "0x%08X", device::kCodeAreaFlags);
  auto* download = app.add_subcommand(
      "download",
      "Download images into device areas (as Quorix): detect, switch a running firmware to its "
      "bootloader, download, detect again");
  AddPortOptions(download, c.download.ports, true);
  download
      ->add_option("images", c.download.images,
                   "AREA=FILE, AREA one of " + DescribeTargets(device::AreaPlaces()) +
                       "; sent in the order given. An Intel HEX, S-record or ELF file may come "
                       "without AREA=: each run of its data goes to the area that holds it")
      ->required();
  download->add_option(
      "--flags", c.download.flags,
      "Download flags word (default " + std::string(codeFlags) + " with CODE, else 0)");
  download->add_flag("--no-redetect", c.download.noRedetect,
                     "Do not wait 7 s and detect the device again after the download");
  download->add_flag("--verify", c.download.verify,
                     "Read every segment back afterwards and compare it byte for byte");
  AddRetriesOption(download, c.download.retries);
  AddProductionOptions(download, c.download.production, true);
  download->callback([&] { action = [&] { return DownloadCommand(env, c.download, false); }; });

  auto* write = app.add_subcommand(
      "write",
      "Write image slots at their absolute addresses (as Pelion) into a running bootloader");
  AddPortOptions(write, c.write.ports, true);
  write
      ->add_option("slots", c.write.images,
                   "SLOT=FILE, SLOT one of " + DescribeTargets(device::SlotPlaces()) +
                       ". An Intel HEX, S-record or ELF file may come without SLOT=: each run of "
                       "its data goes to the slot that holds it")
      ->required();
  write->add_option(
      "--flags", c.write.flags,
      "Download flags word (default " + std::string(codeFlags) + " with firmware, else 0)");
  write->add_flag("--verify", c.write.verify,
                  "Read every segment back afterwards and compare it byte for byte");
  AddRetriesOption(write, c.write.retries);
  AddProductionOptions(write, c.write.production, true);
  write->callback([&] { action = [&] { return DownloadCommand(env, c.write, true); }; });
}

void AddReadAndCodes(CLI::App& app, Env& env, Choices& c, Action& action) {
  auto* read = app.add_subcommand(
      "read",
      "Read regions back, twice, and save each as vantor.<address>.bin (as Pelion's upload) "
      "when both read-backs agree");
  AddPortOptions(read, c.read.ports, false);
  read->add_option("regions", c.read.regions,
                   "binary (the whole 256 KiB window; alone), firmware, boot, parameter, oem")
      ->required();
  read->add_option("-o,--output", c.read.directory,
                   "Folder for the files (default: the Documents folder)");
  read->add_option("--format", c.read.format,
                   "bin (raw, vantor.<address>.bin; the default), hex (Intel HEX, .hex) or srec "
                   "(S-record, .srec), the last two at the device addresses");
  AddRetriesOption(read, c.read.retries);
  read->callback([&] { action = [&] { return ReadCommand(env, c.read); }; });

  auto* codes = app.add_subcommand(
      "codes", "Explain result codes (the number after '통신에러'); without one, list them all");
  codes->add_option("code", c.codes, "A result code, for example -8540");
  codes->callback([&] { action = [&] { return CodesCommand(env, c.codes); }; });
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool errIsTerminal, const serial::CancelToken* cancel, int outColumns) {
  Env env{out, err, errIsTerminal};
  env.cancel = cancel;
  env.outColumns = outColumns;
  CLI::App app{
      "vantor: writes images into the device through its bootloader, reads memory "
      "back, and runs a simulated device",
      "vantor"};
  Choices choices;
  Action action;
  AddGlobalFlags(app, env);
  AddPortsAndDetect(app, env, choices, action);
  AddDownloadCommands(app, env, choices, action);
  AddReadAndCodes(app, env, choices, action);
  AddStationCommand(app, env, action);
  AddReportCommand(app, env, action);
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
  if (!action)
    return UsageError(env, "no command (see vantor --help)");
  TraceToStream trace(env.trace, err);
  return action();
}

int Main(int argc, char** argv) {
  PrepareConsole();
  static serial::CancelToken cancel;
  CancelOnSignals(cancel);
  std::vector<std::string> args(argv, argv + argc);
  const int code =
      RunCli(args, std::cout, std::cerr, StderrIsTerminal(), &cancel, StdoutTerminalColumns());
  if (const int signo = CancelSignal(); signo != 0)
    return 128 + signo;
  return code;
}

}  // namespace vantor::cli
