#include <gtest/gtest.h>

#include "platform/com/OleInterfaces.h"

namespace {

LARGE_INTEGER Offset(LONGLONG value) {
  LARGE_INTEGER offset{};
  offset.QuadPart = value;
  return offset;
}

TEST(MemoryStream, ReadsWritesSeeksAndGrows) {
  reel::ComPtr<IStream> stream;
  ASSERT_EQ(reel::CreateMemoryStream("abcdef", 6, &stream), S_OK);
  char buffer[8] = {};
  ULONG count = 0;
  ASSERT_EQ(stream->Read(buffer, 4, &count), S_OK);
  EXPECT_EQ(std::string(buffer, count), "abcd");
  EXPECT_EQ(stream->Read(buffer, 8, &count), S_FALSE);  // only two were left
  EXPECT_EQ(std::string(buffer, count), "ef");

  // A write past the end leaves zeros in the gap.
  ULARGE_INTEGER position{};
  ASSERT_EQ(stream->Seek(Offset(2), STREAM_SEEK_END, &position), S_OK);
  EXPECT_EQ(position.QuadPart, 8u);
  ASSERT_EQ(stream->Write("XY", 2, &count), S_OK);
  std::string bytes;
  ASSERT_EQ(reel::ReadWholeStream(stream.Get(), &bytes), S_OK);
  EXPECT_EQ(bytes, std::string("abcdef\0\0XY", 10));
  ASSERT_EQ(stream->Seek(Offset(0), STREAM_SEEK_CUR, &position), S_OK);
  EXPECT_EQ(position.QuadPart, 10u);  // ReadWholeStream put the position back

  EXPECT_EQ(stream->Seek(Offset(-11), STREAM_SEEK_CUR, &position), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(stream->Seek(Offset(0), 7, &position), STG_E_INVALIDFUNCTION);
  ULARGE_INTEGER size{};
  size.QuadPart = 3;
  ASSERT_EQ(stream->SetSize(size), S_OK);
  STATSTG statistics{};
  ASSERT_EQ(stream->Stat(&statistics, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(statistics.cbSize.QuadPart, 3u);
  EXPECT_EQ(stream->Read(buffer, 1, &count), S_FALSE);  // the position is past the new end
  EXPECT_EQ(count, 0u);
}

TEST(MemoryStream, ClonesShareBytesAndKeepTheirPosition) {
  reel::ComPtr<IStream> stream;
  ASSERT_EQ(reel::CreateMemoryStream(nullptr, 0, &stream), S_OK);
  ASSERT_EQ(stream->Write("12345", 5, nullptr), S_OK);
  ASSERT_EQ(stream->Seek(Offset(1), STREAM_SEEK_SET, nullptr), S_OK);
  reel::ComPtr<IStream> clone;
  ASSERT_EQ(stream->Clone(&clone), S_OK);
  char buffer[4] = {};
  ULONG count = 0;
  ASSERT_EQ(clone->Read(buffer, 2, &count), S_OK);
  EXPECT_EQ(std::string(buffer, count), "23");
  ASSERT_EQ(stream->Write("ab", 2, nullptr), S_OK);  // seen by the clone
  ASSERT_EQ(clone->Seek(Offset(1), STREAM_SEEK_SET, nullptr), S_OK);
  ASSERT_EQ(clone->Read(buffer, 2, &count), S_OK);
  EXPECT_EQ(std::string(buffer, count), "ab");

  reel::ComPtr<ISequentialStream> sequential;
  EXPECT_EQ(stream.As(&sequential), S_OK);  // the base interface is answered too
  EXPECT_EQ(stream->Read(nullptr, 1, &count), STG_E_INVALIDPOINTER);
}

}  // namespace
