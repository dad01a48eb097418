// The Win32 backend against real COM ports: simulated devices on pseudo-terminals, mapped to COM
// names by scripts/wine_tests.sh and named here through VANTOR_TEST_PORT (downloads, read-back,
// trace) and VANTOR_TEST_PORT_2 (settings, sharing, waits). Without them the tests skip.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "protocol/download.h"
#include "protocol/text_commands.h"
#include "serial/debug_output.h"
#include "serial/port_enumeration.h"
#include "serial/port_identity.h"
#include "serial/serial_port.h"

namespace vantor {
namespace {

std::string PortFromEnvironment(const char* variable) {
  const char* value = std::getenv(variable);
  return value ? std::string(value) : std::string();
}

#define REQUIRE_PORT(var, name)                      \
  const std::string var = PortFromEnvironment(name); \
  if (var.empty())                                   \
  GTEST_SKIP() << name " is not set (run scripts/wine_tests.sh)"

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

HANDLE AsHandle(const serial::SerialPort& port) {
  return reinterpret_cast<HANDLE>(port.handle);
}

std::uint32_t FlagWord(const DCB& dcb) {
  std::uint32_t flags = 0;
  std::memcpy(&flags, reinterpret_cast<const unsigned char*>(&dcb) + 8, sizeof flags);
  return flags;
}

// Collects the trace lines while alive.
struct TraceCapture {
  std::vector<std::string> lines;
  TraceCapture() {
    serial::SetDebugSink([this](std::string_view text) { lines.emplace_back(text); });
  }
  ~TraceCapture() { serial::SetDebugSink({}); }
};

TEST(Win32PortTest, OpenAppliesTheLineSettings) {
  REQUIRE_PORT(name, "VANTOR_TEST_PORT_2");
  auto port = serial::CreatePort(name, false);
  ASSERT_TRUE(port->IsOpen()) << "error " << serial::SerialPort::LastOpenError();
  EXPECT_EQ(port->portName, name);
  EXPECT_EQ(port->reopenPort, name);
  EXPECT_EQ(serial::SerialPort::LastOpenError(), 0);

  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  ASSERT_TRUE(GetCommState(AsHandle(*port), &dcb)) << GetLastError();
  EXPECT_EQ(dcb.BaudRate, 115200u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  // fBinary, DTR on, RTS on; parity check, flow control, error and null handling all off.
  EXPECT_EQ(FlagWord(dcb) & 0x7FFF, 0x1011u) << std::hex << FlagWord(dcb);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
  EXPECT_FALSE(dcb.fOutxCtsFlow || dcb.fOutxDsrFlow || dcb.fOutX || dcb.fInX);

  COMMTIMEOUTS timeouts{};
  ASSERT_TRUE(GetCommTimeouts(AsHandle(*port), &timeouts));
  EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 0u);
  port->Close();
  EXPECT_FALSE(port->IsOpen());
}

TEST(Win32PortTest, MissingPortFailsWithTheSystemReason) {
  auto port = serial::CreatePort("COM250", false);
  EXPECT_FALSE(port->IsOpen());
  EXPECT_EQ(port->handle, serial::kInvalidHandle);
  EXPECT_EQ(port->reopenPort, "COM250");
  EXPECT_EQ(serial::SerialPort::LastOpenError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(serial::SystemErrorText(serial::SerialPort::LastOpenError()).empty());
}

// Windows refuses a second open of a port held with share mode 0. Wine 8 lets it succeed (its
// serial driver does not enforce the share mode on COM ports); the native backend's refusal is
// tested in the POSIX serial tests.
TEST(Win32PortTest, SecondOpenOfAHeldPort) {
  REQUIRE_PORT(name, "VANTOR_TEST_PORT_2");
  auto first = serial::CreatePort(name, false);
  ASSERT_TRUE(first->IsOpen());
  auto second = serial::CreatePort(name, false);
  if (RunningUnderWine()) {
    RecordProperty("wine_second_open", second->IsOpen() ? "succeeds" : "refused");
    std::printf("[ wine     ] second CreateFileW of a held %s: %s (error %d)\n", name.c_str(),
                second->IsOpen() ? "succeeds" : "refused", serial::SerialPort::LastOpenError());
  } else {
    EXPECT_FALSE(second->IsOpen());
    EXPECT_EQ(serial::SerialPort::LastOpenError(), ERROR_ACCESS_DENIED);
  }
}

TEST(Win32PortTest, ReadWithoutInputReturnsAtOnceAndTracesNothing) {
  REQUIRE_PORT(name, "VANTOR_TEST_PORT_2");
  auto port = serial::CreatePort(name, true);
  ASSERT_TRUE(port->IsOpen());
  TraceCapture trace;
  std::uint8_t buffer[64];
  std::uint32_t count = sizeof buffer;
  EXPECT_EQ(port->Read(buffer, count), 0);
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(trace.lines.empty());
}

// Waiting on an idle device must sleep, not spin: the process's CPU time over a 2 s wait is
// reported, and a spinning wait (about 2 s of CPU) fails the generous bound.
TEST(Win32PortTest, WaitReadableOnAnIdleLineSleeps) {
  REQUIRE_PORT(name, "VANTOR_TEST_PORT_2");
  auto port = serial::CreatePort(name, false);
  ASSERT_TRUE(port->IsOpen());
  auto cpu = [] {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) {
      return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return std::make_pair(ticks(kernel), ticks(user));  // 100 ns units
  };
  const auto before = cpu();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port->WaitReadable(std::chrono::milliseconds(2000)), 0);
  const auto wall = std::chrono::steady_clock::now() - start;
  const auto after = cpu();
  const double kernelMs = static_cast<double>(after.first - before.first) / 1e4;
  const double userMs = static_cast<double>(after.second - before.second) / 1e4;
  const double wallMs = std::chrono::duration<double, std::milli>(wall).count();
  std::printf(
      "[ cpu      ] WaitReadable(2000 ms) idle: wall %.1f ms, user %.1f ms, kernel %.1f ms\n",
      wallMs, userMs, kernelMs);
  RecordProperty("wait_cpu_ms", std::to_string(userMs + kernelMs));
  EXPECT_GE(wallMs, 1900.0);  // the wait does not end early
  EXPECT_LT(userMs + kernelMs, 500.0);
}

// A cancel from another thread ends a long wait at once, and the port stays usable.
TEST(Win32PortTest, CancelEndsTheWaitAtOnce) {
  REQUIRE_PORT(name, "VANTOR_TEST_PORT_2");
  auto port = serial::CreatePort(name, false);
  ASSERT_TRUE(port->IsOpen());
  serial::CancelToken token;
  port->cancel = &token;
  std::thread canceller([&token] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    token.Cancel();
  });
  const auto start = std::chrono::steady_clock::now();
  const std::int32_t result = port->WaitReadable(std::chrono::milliseconds(10000));
  const double waitedMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  canceller.join();
  EXPECT_EQ(result, serial::kErrorCancelled);
  std::printf("[ cancel   ] WaitReadable(10000 ms) cancelled after 300 ms: ended at %.1f ms\n",
              waitedMs);
  EXPECT_GE(waitedMs, 250.0);
  EXPECT_LT(waitedMs, 1500.0);
  port->cancel = nullptr;
  std::uint8_t buffer[16];
  std::uint32_t count = sizeof buffer;
  EXPECT_EQ(port->Read(buffer, count), 0);
}

// A short time-out ends close to its deadline (the wait runs with the 1 ms system timer), not at
// the next 15.6 ms tick or much later.
TEST(Win32PortTest, ShortTimeOutEndsOnTime) {
  REQUIRE_PORT(name, "VANTOR_TEST_PORT_2");
  auto port = serial::CreatePort(name, false);
  ASSERT_TRUE(port->IsOpen());
  for (const int ms : {5, 20, 50}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port->WaitReadable(std::chrono::milliseconds(ms)), 0);
    const double waitedMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waitedMs, ms - 1.0) << ms;
    EXPECT_LT(waitedMs, ms + 40.0) << ms;
  }
}

// Ports that the system describes without a device of the Ports class (Wine maps them so) are
// still described by their name; any USB identity it does give is well formed.
TEST(Win32PortTest, DescriptionOfAMappedPort) {
  REQUIRE_PORT(name, "VANTOR_TEST_PORT");
  const serial::PortInfo info = serial::DescribeSystemPort(name);
  EXPECT_EQ(info.path, name);
  std::printf("[ describe ] %s\n", serial::FormatPortInfo(info).c_str());
  if (!info.vendorId.empty()) {
    EXPECT_EQ(info.vendorId.size(), 4u);
    EXPECT_EQ(info.productId.size(), 4u);
  }
}

// The wait ends when the device answers, and the answer is there for the next Read.
TEST(Win32PortTest, WaitReadableEndsWhenTheDeviceAnswers) {
  REQUIRE_PORT(name, "VANTOR_TEST_PORT_2");
  auto port = serial::CreatePort(name, false);
  ASSERT_TRUE(port->IsOpen());
  protocol::BootLink link{port.get()};
  std::uint32_t version = 0;
  ASSERT_EQ(protocol::QueryBootVersion(link, version), 0);
  EXPECT_EQ(version, 0x01020304u);

  const std::string command = "~du00100000,02\r\n";
  std::uint32_t count = static_cast<std::uint32_t>(command.size());
  ASSERT_EQ(port->Write(reinterpret_cast<const std::uint8_t*>(command.data()), count), 0);
  ASSERT_EQ(port->WaitReadable(std::chrono::milliseconds(10000)), 0);
  std::uint8_t buffer[64];
  count = sizeof buffer;
  ASSERT_EQ(port->Read(buffer, count), 0);
  EXPECT_GT(count, 0u) << "the wait ended without input";
}

// A 16-byte text command is traced as one "Tx : " line; the reply's bytes as "Rx : " lines.
TEST(Win32PortTest, ReadAndWriteTraceTheBytesMoved) {
  REQUIRE_PORT(name, "VANTOR_TEST_PORT");
  auto port = serial::CreatePort(name, true);
  ASSERT_TRUE(port->IsOpen());
  TraceCapture trace;
  const std::string command = "~du00100000,04\r\n";
  std::uint32_t count = static_cast<std::uint32_t>(command.size());
  ASSERT_EQ(port->Write(reinterpret_cast<const std::uint8_t*>(command.data()), count), 0);
  EXPECT_EQ(count, 16u);
  ASSERT_EQ(trace.lines.size(), 1u);
  EXPECT_EQ(trace.lines[0], "Tx : 7e 64 75 30 30 31 30 30 30 30 30 2c 30 34 0d 0a \n");

  trace.lines.clear();
  std::string reply;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (reply.find("\r\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    ASSERT_EQ(port->WaitReadable(std::chrono::milliseconds(5000)), 0);
    std::uint8_t buffer[64];
    std::uint32_t got = sizeof buffer;
    ASSERT_EQ(port->Read(buffer, got), 0);
    reply.append(reinterpret_cast<const char*>(buffer), got);
  }
  EXPECT_EQ(reply.rfind("~Du0000", 0), 0u) << reply;
  std::string traced;
  for (const auto& line : trace.lines) {
    ASSERT_EQ(line.rfind("Rx : ", 0), 0u);
    traced += line.substr(5, line.size() - 6);
  }
  std::string expected;
  for (unsigned char c : reply) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02x ", c);
    expected += hex;
  }
  EXPECT_EQ(traced, expected);
}

std::int32_t RecordPercent(void* userData, std::int32_t percent) {
  static_cast<std::vector<std::int32_t>*>(userData)->push_back(percent);
  return 0;
}

// A whole download session and the read-back of what it wrote, through the real protocol code.
TEST(Win32PortTest, DownloadThenReadBackThroughTheProtocol) {
  REQUIRE_PORT(name, "VANTOR_TEST_PORT");
  auto port = serial::CreatePort(name, false);
  ASSERT_TRUE(port->IsOpen());

  protocol::SegmentList image;
  const std::pair<std::uint32_t, std::int32_t> pieces[] = {{0x100000, 1500}, {0x13F000, 301}};
  for (const auto& [address, length] : pieces) {
    protocol::Segment segment;
    segment.address = address;
    segment.length = length;
    for (std::int32_t i = 0; i < length; ++i) {
      segment.data.push_back(static_cast<std::uint8_t>((i * 7 + address / 0x1000) & 0xFF));
    }
    protocol::InsertSegment(image, std::move(segment));
  }
  std::vector<std::int32_t> percents;
  protocol::TransferContext context;
  context.link.port = port.get();
  ASSERT_EQ(protocol::DownloadSegments(image, context, RecordPercent, &percents, 0), 0);
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.back(), 100);

  protocol::SegmentList readBack;
  for (const auto& [address, length] : pieces) {
    protocol::Segment segment;
    segment.address = address;
    segment.length = length;
    segment.data.assign(static_cast<std::size_t>(length), 0xEE);
    protocol::InsertSegment(readBack, std::move(segment));
  }
  protocol::TransferContext readContext;
  readContext.link.port = port.get();
  protocol::ReadBackReport report;
  percents.clear();
  ASSERT_EQ(protocol::ReadBackSegments(readContext, readBack, RecordPercent, &percents, report), 0)
      << report.result;
  auto sent = image.begin();
  for (const protocol::Segment& got : readBack) {
    EXPECT_EQ(got.address, sent->address);
    EXPECT_EQ(got.data, sent->data) << std::hex << got.address;
    ++sent;
  }
}

// Without an installed sink, diagnostics go to the debugger: OutputDebugStringW raises the
// debug-print exception that a debugger (or this vectored handler) receives.
std::wstring g_debuggerText;
LONG CALLBACK CatchDebugPrint(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD& record = *info->ExceptionRecord;
  if (record.ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C && record.NumberParameters >= 2) {
    g_debuggerText += reinterpret_cast<const wchar_t*>(record.ExceptionInformation[1]);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (record.ExceptionCode == DBG_PRINTEXCEPTION_C && record.NumberParameters >= 2) {
    for (const char* c = reinterpret_cast<const char*>(record.ExceptionInformation[1]); *c; ++c) {
      g_debuggerText += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    }
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

TEST(Win32DebugOutputTest, DefaultSinkIsTheDebugger) {
  g_debuggerText.clear();
  void* handler = AddVectoredExceptionHandler(1, CatchDebugPrint);
  ASSERT_NE(handler, nullptr);
  const std::uint8_t bytes[] = {0x7e, 0x72, 0x76};
  serial::TraceBytes("Tx : ", bytes, sizeof bytes);
  RemoveVectoredExceptionHandler(handler);
  // Either the wide text itself, or (without a wide-aware debugger) its ANSI form, arrives.
  EXPECT_NE(g_debuggerText.find(L"Tx : 7e 72 76 \n"), std::wstring::npos);

  // An installed sink takes the text instead.
  std::string sunk;
  serial::SetDebugSink([&](std::string_view text) { sunk += text; });
  g_debuggerText.clear();
  handler = AddVectoredExceptionHandler(1, CatchDebugPrint);
  serial::TraceBytes("Rx : ", bytes, 1);
  RemoveVectoredExceptionHandler(handler);
  serial::SetDebugSink({});
  EXPECT_EQ(sunk, "Rx : 7e \n");
  EXPECT_TRUE(g_debuggerText.empty());
}

TEST(Win32PortTest, EnumerationListsTheMappedPortsInOrder) {
  REQUIRE_PORT(first, "VANTOR_TEST_PORT");
  REQUIRE_PORT(second, "VANTOR_TEST_PORT_2");
  serial::AddVirtualPort("COM250");  // registered ports follow the system's
  const auto ports = serial::EnumerateComPorts();
  serial::RemoveVirtualPort("COM250");
  std::string listed;
  for (const auto& p : ports)
    listed += p + " ";
  ASSERT_TRUE(std::find(ports.begin(), ports.end(), first) != ports.end()) << listed;
  ASSERT_TRUE(std::find(ports.begin(), ports.end(), second) != ports.end()) << listed;
  EXPECT_EQ(ports.back(), "COM250") << listed;
  std::vector<int> numbers;
  for (std::size_t i = 0; i + 1 < ports.size(); ++i)
    numbers.push_back(std::stoi(ports[i].substr(3)));
  EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end())) << listed;
  EXPECT_TRUE(
      std::all_of(numbers.begin(), numbers.end(), [](int n) { return n >= 0 && n <= 254; }));
}

}  // namespace
}  // namespace vantor
