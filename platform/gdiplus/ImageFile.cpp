#include "platform/gdiplus/ImageFile.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace reel {

namespace {

struct FormatDeleter {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecDeleter {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerDeleter {
  void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};
// The I/O context and the buffer libavformat reads through.
struct IoDeleter {
  void operator()(AVIOContext* io) const {
    if (!io) return;
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// Reads from a file held in memory, so that libavformat never interprets
// the path (protocols, frame-number patterns) and probes only by content.
struct MemoryReader {
  const std::vector<std::uint8_t>* bytes;
  std::size_t position = 0;

  static int Read(void* opaque, std::uint8_t* target, int size) {
    auto* reader = static_cast<MemoryReader*>(opaque);
    std::size_t left = reader->bytes->size() - reader->position;
    if (left == 0) return AVERROR_EOF;
    std::size_t count = std::min<std::size_t>(left, static_cast<std::size_t>(size));
    std::memcpy(target, reader->bytes->data() + reader->position, count);
    reader->position += count;
    return static_cast<int>(count);
  }
  static std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
    auto* reader = static_cast<MemoryReader*>(opaque);
    std::int64_t size = static_cast<std::int64_t>(reader->bytes->size());
    if (whence & AVSEEK_SIZE) return size;
    std::int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
      case SEEK_SET: base = 0; break;
      case SEEK_CUR: base = static_cast<std::int64_t>(reader->position); break;
      case SEEK_END: base = size; break;
      default: return AVERROR(EINVAL);
    }
    if (offset > size - base || base + offset < 0) return AVERROR(EINVAL);
    reader->position = static_cast<std::size_t>(base + offset);
    return base + offset;
  }
};

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error) {
  std::error_code failure;
  if (!std::filesystem::is_regular_file(path, failure)) return Fail(error, "not a file: " + path);
  std::uintmax_t size = std::filesystem::file_size(path, failure);
  if (failure) return Fail(error, "cannot read " + path);
  if (size == 0) return Fail(error, "empty file: " + path);
  if (size > kMaximumImageFileBytes) return Fail(error, "image file too large: " + path);
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(error, "cannot open " + path);
  bytes->resize(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes->data()), static_cast<std::streamsize>(size));
  if (in.gcount() != static_cast<std::streamsize>(size)) return Fail(error, "cannot read " + path);
  return true;
}

// Converts a decoded frame to straight-alpha RGBA.
bool FrameToRgba(const AVFrame* frame, RgbaPicture* picture, std::string* error) {
  if (frame->width <= 0 || frame->height <= 0 ||
      static_cast<std::int64_t>(frame->width) * frame->height > kMaximumImagePixels)
    return Fail(error, "picture size out of range");
  std::unique_ptr<SwsContext, ScalerDeleter> scaler(
      sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
                     frame->height, AV_PIX_FMT_RGBA, SWS_POINT, nullptr, nullptr, nullptr));
  if (!scaler) return Fail(error, "unsupported picture format");
  RgbaPicture result;
  result.width = frame->width;
  result.height = frame->height;
  result.pixels.assign(result.Stride() * static_cast<std::size_t>(result.height), 0);
  std::uint8_t* planes[4] = {result.pixels.data(), nullptr, nullptr, nullptr};
  int strides[4] = {static_cast<int>(result.Stride()), 0, 0, 0};
  if (sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides) != frame->height)
    return Fail(error, "picture conversion failed");
  *picture = std::move(result);
  return true;
}

}  // namespace

bool LoadImageFile(const std::string& path, RgbaPicture* picture, std::string* error) {
  if (!picture) return Fail(error, "no picture to fill");
  std::vector<std::uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes, error)) return false;

  MemoryReader reader{&bytes};
  constexpr int kBufferSize = 64 * 1024;
  auto* buffer = static_cast<std::uint8_t*>(av_malloc(kBufferSize));
  if (!buffer) return Fail(error, "out of memory");
  std::unique_ptr<AVIOContext, IoDeleter> io(
      avio_alloc_context(buffer, kBufferSize, 0, &reader, &MemoryReader::Read, nullptr, &MemoryReader::Seek));
  if (!io) {
    av_free(buffer);
    return Fail(error, "out of memory");
  }
  AVFormatContext* opened = avformat_alloc_context();
  if (!opened) return Fail(error, "out of memory");
  opened->pb = io.get();
  opened->flags |= AVFMT_FLAG_CUSTOM_IO;
  // avformat_open_input frees the context itself when it fails.
  if (avformat_open_input(&opened, nullptr, nullptr, nullptr) < 0) return Fail(error, "not an image: " + path);
  std::unique_ptr<AVFormatContext, FormatDeleter> format(opened);
  if (avformat_find_stream_info(format.get(), nullptr) < 0) return Fail(error, "not an image: " + path);
  int streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (streamIndex < 0) return Fail(error, "no picture in " + path);
  const AVCodecParameters* parameters = format->streams[streamIndex]->codecpar;
  const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
  if (!decoder) return Fail(error, "no decoder for " + path);
  std::unique_ptr<AVCodecContext, CodecDeleter> codec(avcodec_alloc_context3(decoder));
  if (!codec || avcodec_parameters_to_context(codec.get(), parameters) < 0)
    return Fail(error, "cannot set up the decoder");
  codec->max_pixels = kMaximumImagePixels;
  codec->thread_count = 1;
  if (avcodec_open2(codec.get(), decoder, nullptr) < 0) return Fail(error, "cannot open the decoder");

  std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
  std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
  if (!packet || !frame) return Fail(error, "out of memory");
  // A picture file needs few packets; the bound keeps a hostile stream of
  // undecodable packets from running on.
  for (int packets = 0; packets < 4096 && av_read_frame(format.get(), packet.get()) >= 0; ++packets) {
    bool ours = packet->stream_index == streamIndex;
    if (ours) avcodec_send_packet(codec.get(), packet.get());
    av_packet_unref(packet.get());
    if (ours && avcodec_receive_frame(codec.get(), frame.get()) == 0)
      return FrameToRgba(frame.get(), picture, error);
  }
  avcodec_send_packet(codec.get(), nullptr);
  if (avcodec_receive_frame(codec.get(), frame.get()) == 0) return FrameToRgba(frame.get(), picture, error);
  return Fail(error, "no decodable picture in " + path);
}

bool SaveImageFile(const std::string& path, const RgbaPicture& picture, std::string* error) {
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.pixels.size() < picture.Stride() * static_cast<std::size_t>(picture.height))
    return Fail(error, "empty picture");
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  AVCodecID codecId = AV_CODEC_ID_NONE;
  AVPixelFormat format = AV_PIX_FMT_NONE;
  if (extension == ".png") codecId = AV_CODEC_ID_PNG, format = AV_PIX_FMT_RGBA;
  else if (extension == ".bmp") codecId = AV_CODEC_ID_BMP, format = AV_PIX_FMT_BGR24;
  else if (extension == ".tif" || extension == ".tiff") codecId = AV_CODEC_ID_TIFF, format = AV_PIX_FMT_RGBA;
  else if (extension == ".jpg" || extension == ".jpeg") codecId = AV_CODEC_ID_MJPEG, format = AV_PIX_FMT_YUVJ444P;
  else return Fail(error, "unknown image type: " + path);

  const AVCodec* encoder = avcodec_find_encoder(codecId);
  if (!encoder) return Fail(error, "no encoder for " + path);
  std::unique_ptr<AVCodecContext, CodecDeleter> codec(avcodec_alloc_context3(encoder));
  if (!codec) return Fail(error, "out of memory");
  codec->width = picture.width;
  codec->height = picture.height;
  codec->pix_fmt = format;
  codec->time_base = {1, 25};
  if (codecId == AV_CODEC_ID_MJPEG) {
    codec->flags |= AV_CODEC_FLAG_QSCALE;
    codec->global_quality = FF_QP2LAMBDA * 2;
  }
  if (avcodec_open2(codec.get(), encoder, nullptr) < 0) return Fail(error, "cannot open the encoder");

  std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
  if (!frame) return Fail(error, "out of memory");
  frame->width = picture.width;
  frame->height = picture.height;
  frame->format = format;
  if (av_frame_get_buffer(frame.get(), 0) < 0) return Fail(error, "out of memory");
  std::unique_ptr<SwsContext, ScalerDeleter> scaler(sws_getContext(picture.width, picture.height, AV_PIX_FMT_RGBA,
                                                                    picture.width, picture.height, format,
                                                                    SWS_POINT, nullptr, nullptr, nullptr));
  if (!scaler) return Fail(error, "unsupported picture format");
  const std::uint8_t* source[4] = {picture.pixels.data(), nullptr, nullptr, nullptr};
  int sourceStrides[4] = {static_cast<int>(picture.Stride()), 0, 0, 0};
  sws_scale(scaler.get(), source, sourceStrides, 0, picture.height, frame->data, frame->linesize);

  std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
  if (!packet) return Fail(error, "out of memory");
  if (avcodec_send_frame(codec.get(), frame.get()) < 0 || avcodec_send_frame(codec.get(), nullptr) < 0)
    return Fail(error, "encoding failed");
  if (avcodec_receive_packet(codec.get(), packet.get()) < 0) return Fail(error, "encoding failed");

  // A single picture's packet is the whole file for these formats.
  std::string temporary = path + ".partial";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(packet->data), packet->size);
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return Fail(error, "cannot write " + path);
    }
  }
  std::error_code failure;
  std::filesystem::rename(temporary, path, failure);
  if (failure) {
    std::filesystem::remove(temporary, failure);
    return Fail(error, "cannot write " + path);
  }
  return true;
}

}  // namespace reel
