// The unit-number options of download, write and station (see unit_options.h).
#include "cli/unit_options.h"

namespace vantor::cli {

using production::UnitArgs;

void AddUnitOptions(CLI::App* command, UnitArgs& args) {
  command->add_option("--serial", args.place,
                      "Write each unit's number into its image: SIZE bytes at device address "
                      "ADDR, little-endian (le, the default), big-endian (be) or zero-padded "
                      "decimal (ascii); ADDR:SIZE[:le|be|ascii]");
  command->add_option("--serial-start", args.start,
                      "The first unit number when the counter holds none yet");
  command->add_option("--serial-step", args.step, "Added to the unit number per unit (default 1)");
  command->add_option("--serial-counter", args.counter,
                      "File that keeps the next unit number, locked and synced before a number "
                      "is used");
  command->add_option("--serial-list", args.list,
                      "File of unit numbers, one a line, used in order; the position is kept "
                      "in FILE.position");
}

}  // namespace vantor::cli
