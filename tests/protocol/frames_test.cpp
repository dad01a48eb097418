// Frame layouts, the CRC-32 and the frame writers.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "protocol/frames.h"
#include "support/pty_pair.h"

namespace vantor::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Crc32Test, CheckValueAndTable) {
  EnsureCrcTable();
  EXPECT_FALSE(g_crcTableDirty.load());
  const std::string digits = "123456789";
  EXPECT_EQ(Crc32Update(0, reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()),
            0x89A1897Fu);
  EXPECT_EQ(g_crcTable[0], 0u);
  EXPECT_EQ(g_crcTable[1], 0x04C11DB7u);
  EXPECT_EQ(g_crcTable[255], 0xB1F740B4u);
}

TEST(DataFrameTest, ExampleFrameByteForByte) {
  const Bytes payload = {1, 2, 3, 4};
  Bytes frame(64, 0xEE);
  const std::size_t size =
      EncodeDataFrame(frame.data(), DataFrameLengthWords(payload.size()), 0x1000, payload, 0);
  frame.resize(size);
  const Bytes expected = {0x0D, 0xF0, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00,
                          0x3D, 0x29, 0xB9, 0x10, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(frame, expected);
}

TEST(DataFrameTest, PadAndLengthForShortPayloads) {
  struct Case {
    std::size_t len;
    std::size_t pad;
    std::uint16_t lengthWords;
    std::uint32_t flags;  // with bit 0 of the flags word clear
  };
  const Case cases[] = {{1, 3, 4, 6}, {2, 2, 4, 4}, {3, 1, 4, 2}, {4, 0, 4, 0},
                        {5, 3, 5, 6}, {6, 2, 5, 4}, {7, 1, 5, 2}, {8, 0, 5, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.len);
    Bytes payload(c.len, 0x5A);
    EXPECT_EQ(PadBytes(c.len), c.pad);
    EXPECT_EQ(DataFrameLengthWords(c.len), c.lengthWords);
    for (std::uint32_t flagsWord : {0u, kCodeDownloadFlags | 1u}) {
      Bytes frame(40, 0xEE);
      const std::size_t size =
          EncodeDataFrame(frame.data(), DataFrameLengthWords(c.len), 0x108000, payload, flagsWord);
      EXPECT_EQ(size, 20 + c.len + c.pad);
      EXPECT_EQ(size, 8u + 4u * c.lengthWords);
      EXPECT_EQ(GetU16(&frame[4]), c.lengthWords);
      EXPECT_EQ(GetU32(&frame[16]), c.flags | (flagsWord & 1u));
      for (std::size_t i = 0; i < c.pad; ++i)
        EXPECT_EQ(frame[20 + c.len + i], 0);
    }
  }
}

TEST(DataFrameTest, CrcIgnoresPadBytesAndTheCrcField) {
  const Bytes payload = {9, 8, 7, 6, 5};
  Bytes frame(28, 0);
  EncodeDataFrame(frame.data(), DataFrameLengthWords(5), 0x13C000, payload, 1);
  const std::uint32_t crc = GetU32(&frame[12]);
  Bytes changed = frame;
  changed[25] = changed[26] = changed[27] = 0xFF;  // pad
  changed[12] ^= 0xFF;                             // the crc field itself
  EXPECT_EQ(DataFrameCrc(changed.data(), payload.size()), crc);
  changed[20] ^= 1;  // a payload byte
  EXPECT_NE(DataFrameCrc(changed.data(), payload.size()), crc);
}

TEST(FrameLayoutTest, CommandAndEndFrames) {
  const auto end = EndFrame();
  EXPECT_EQ(Bytes(end.begin(), end.end()), (Bytes{0x0D, 0xF0, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00}));
  const auto open = CommandFrame{kKindCommand, CMD_OPEN_SESSION, 0}.Encode();
  EXPECT_EQ(Bytes(open.begin(), open.end()), (Bytes{1, 0, 0x0E, 0, 0, 0, 0, 0}));
  const auto start = CommandFrame{kKindCommand, CMD_START_SEGMENT, 1}.Encode();
  EXPECT_EQ(Bytes(start.begin(), start.end()), (Bytes{1, 0, 0x00, 0xF0, 1, 0, 0, 0}));
  const auto query = CommandFrame{kKindVersionQuery, CMD_GET_VERSION, 0}.Encode();
  EXPECT_EQ(Bytes(query.begin(), query.end()), (Bytes{0, 0, 0x0F, 0, 0, 0, 0, 0}));
  const auto decoded = CommandFrame::Decode(open.data());
  EXPECT_EQ(decoded.code, CMD_OPEN_SESSION);
}

TEST(FrameWriterTest, SendCommandAndSendBufferPutTheBytesOnTheLine) {
  testing::PtyPair pty;
  auto port = serial::CreatePort(pty.path(), false);
  ASSERT_TRUE(port->IsOpen());
  BootLink link{port.get()};
  ASSERT_EQ(SendCommand(link, CMD_OPEN_SESSION, kCodeDownloadFlags), 0);
  EXPECT_EQ(pty.Read(8), (Bytes{1, 0, 0x0E, 0, 0x00, 0x00, 0x69, 0x3C}));

  Bytes big(3000);
  for (std::size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<std::uint8_t>(i * 7);
  std::int32_t count = static_cast<std::int32_t>(big.size());
  std::vector<std::uint8_t> received;
  std::thread reader([&] { received = pty.Read(big.size(), std::chrono::seconds(5)); });
  EXPECT_EQ(SendBuffer(link, big.data(), count), 0);
  reader.join();
  EXPECT_EQ(count, 3000);
  EXPECT_EQ(received, big);
}

TEST(FrameWriterTest, SendBufferWithNothingToSendTouchesNoPort) {
  BootLink link{nullptr};  // would crash if used
  for (std::int32_t start : {0, -5}) {
    std::int32_t count = start;
    EXPECT_EQ(SendBuffer(link, nullptr, count), 0);
    EXPECT_EQ(count, 0);
  }
}

}  // namespace
}  // namespace vantor::protocol
