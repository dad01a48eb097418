// "vantor station": its command line, the checks made before anything starts, and the worker's
// command line that flashes one device.
#include "cli/station.h"

#include "cli/cli.h"
#include "cli/images.h"
#include "cli/port_info.h"

namespace vantor::cli {

std::vector<std::string> StationWorkerArguments(const StationOptions& options,
                                                const std::string& port) {
  std::vector<std::string> args{"vantor", "--json", "--quiet",
                                options.write ? "write" : "download"};
  if (options.verify)
    args.push_back("--verify");
  if (options.noRedetect && !options.write)
    args.push_back("--no-redetect");
  if (options.retries > 0)
    args.insert(args.end(), {"--retries", std::to_string(options.retries)});
  if (!options.record.empty())
    args.insert(args.end(), {"--record", options.record});
  args.insert(args.end(), {"--worker-port", port, "--"});
  args.insert(args.end(), options.images.begin(), options.images.end());
  return args;
}

void AddStationCommand(CLI::App& app, Env& env, Action& action) {
  auto options = std::make_shared<StationOptions>();
  auto* station = app.add_subcommand(
      "station",
      "Flash every device that appears on the matching ports, each in its own worker; run until "
      "--count devices finished or until SIGINT/SIGTERM (the first stops taking new devices, the "
      "second cancels the running ones)");
  station
      ->add_option("--match", options->match,
                   "Ports to watch: usb:VID:PID[:SERIAL] or a path glob such as "
                   "'/dev/serial/by-id/usb-*'")
      ->required();
  station->add_flag("--write", options->write,
                    "Write slots into a running bootloader (as 'write') instead of downloading "
                    "areas (as 'download')");
  station->add_flag("--verify", options->verify, "Read every segment back and compare it");
  station->add_flag("--no-redetect", options->noRedetect,
                    "Do not detect the device again after a download");
  station->add_option("--retries", options->retries, "Try a failed device again up to N times")
      ->check(CLI::NonNegativeNumber);
  station->add_option("--record", options->record,
                      "Append one JSON line per device to this production record");
  station->add_option("--count", options->count, "Exit once N devices have finished")
      ->check(CLI::PositiveNumber);
  station->add_option("images", options->images, "TARGET=FILE: areas, or slots with --write")
      ->required();
  station->callback([&env, &action, options] {
    action = [&env, options] {
      // Every file is checked before a port is watched.
      LoadedImages images;
      std::string error;
      if (!LoadImages(options->write ? device::SlotPlaces() : device::AreaPlaces(), options->images,
                      images, error)) {
        env.err << "vantor: " << error << "\n";
        return kExitUsage;
      }
      std::vector<const PortInfo*> none;
      if (IsUsbName(options->match) && !MatchUsbPorts(options->match, {}, none, error)) {
        env.err << "vantor: " << error << "\n";
        return kExitUsage;
      }
      options->totalBytes = images.segments.TotalBytes();
      return RunStation(env, *options);
    };
  });
}

}  // namespace vantor::cli
