// Fuzz target for one image reader (chosen at build time by VANTOR_FUZZ_READER: 1 Intel HEX,
// 2 S-record, 3 ELF): any input ends in runs that ascend without touching, or in a message that
// names the file; text formats' runs come back unchanged through the writers.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "device/image_formats.h"

namespace {

using vantor::device::ImageRun;

bool Parse(std::span<const std::uint8_t> input, std::vector<ImageRun>& runs, std::string& error) {
#if VANTOR_FUZZ_READER == 1
  return vantor::device::ParseIntelHex(input, "fuzz", runs, error);
#elif VANTOR_FUZZ_READER == 2
  return vantor::device::ParseSrec(input, "fuzz", runs, error);
#else
  return vantor::device::ParseElf(input, "fuzz", runs, error);
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<ImageRun> runs;
  std::string error;
  if (!Parse({data, size}, runs, error)) {
    if (error.rfind("fuzz: ", 0) != 0)
      std::abort();
    return 0;
  }
  if (runs.empty())
    std::abort();
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (runs[i].bytes.empty() || runs[i].end() > (std::uint64_t{1} << 32))
      std::abort();
    if (i > 0 && runs[i].address <= runs[i - 1].end())
      std::abort();
  }
#if VANTOR_FUZZ_READER != 3
  for (const ImageRun& run : runs) {
    const std::string text = VANTOR_FUZZ_READER == 1
                                 ? vantor::device::FormatIntelHex(run.address, run.bytes)
                                 : vantor::device::FormatSrec(run.address, run.bytes);
    std::vector<ImageRun> again;
    if (!Parse({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, again, error) ||
        again.size() != 1 || again[0].address != run.address || again[0].bytes != run.bytes)
      std::abort();
  }
#endif
  return 0;
}
