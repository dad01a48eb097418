// The vantor command-line tool.
#include "cli/cli.h"

int main(int argc, char** argv) {
  return vantor::cli::Main(argc, argv);
}
