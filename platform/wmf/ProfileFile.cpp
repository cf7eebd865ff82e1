// Profile files (.prx): the XML text of a profile, read with Qt's
// QXmlStreamReader and written with QXmlStreamWriter.
//
//   <profile version="589824" name="..." description="...">
//     <streamconfig majortype="{GUID}" streamnumber="1" streamname="..."
//                   inputname="..." bitrate="64000" bufferwindow="3000">
//       <videomediaprops maxkeyframespacing="80000000" quality="75"/>   (video, optional)
//       <wmmediatype subtype="{GUID}" bfixedsizesamples="0"
//                    btemporalcompression="1" lsamplesize="0">
//         <videoinfoheader dwbitrate="..." dwbiterrorrate="0" avgtimeperframe="...">
//           <rcsource left top right bottom/> <rctarget .../>
//           <bitmapinfoheader biwidth biheight biplanes bibitcount
//                             bicompression="WMV2" bisizeimage .../>
//         </videoinfoheader>
//         or <waveformatex wFormatTag nChannels nSamplesPerSec nAvgBytesPerSec
//                          nBlockAlign wBitsPerSample codecdata="hex"/>
//       </wmmediatype>
//     </streamconfig>
//   </profile>
//
// Attribute names are matched without regard to case; elements we do not
// use (stream prioritisation, language lists...) are skipped. The text is
// outside data: every number is range-checked, required attributes must be
// present, and the finished profile must pass CheckProfile, so a malformed or
// impossible file gives NS_E_INVALID_PROFILE.
#include <QString>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <charconv>
#include <optional>

#include "platform/com/Guid.h"
#include "platform/wmf/ProfileModel.h"

namespace reel::wmf {
namespace {

constexpr std::size_t kMaximumCodecData = 1024;  // bytes

class ProfileReader {
 public:
  explicit ProfileReader(const QString& text) : xml_(text) {}

  HRESULT Read(ProfileDefinition* profile, std::string* problem) {
    bool read = ReadDocument(profile);
    if (read && xml_.hasError()) read = Error(xml_.errorString().toStdString());
    if (!read) {
      if (problem) *problem = problem_;
      return NS_E_INVALID_PROFILE;
    }
    return CheckProfile(*profile, problem);
  }

 private:
  bool Error(const std::string& text) {
    if (problem_.empty()) problem_ = text;
    return false;
  }

  std::optional<QString> Attribute(const char* name) {
    for (const QXmlStreamAttribute& attribute : xml_.attributes())
      if (attribute.name().compare(QLatin1String(name), Qt::CaseInsensitive) == 0) return attribute.value().toString();
    return std::nullopt;
  }

  // An integer attribute within [minimum, maximum]; fallback when absent
  // and not required.
  bool Number(const char* name, int64_t minimum, int64_t maximum, int64_t* value, bool required,
              int64_t fallback = 0) {
    std::optional<QString> text = Attribute(name);
    if (!text) {
      if (required) return Error(std::string("missing attribute ") + name);
      *value = fallback;
      return true;
    }
    std::string digits = text->trimmed().toStdString();
    int64_t parsed = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
      return Error(std::string("attribute ") + name + " is not a number");
    if (parsed < minimum || parsed > maximum) return Error(std::string("attribute ") + name + " is out of range");
    *value = parsed;
    return true;
  }
  template <typename Target>
  bool Number(const char* name, int64_t minimum, int64_t maximum, Target* target, bool required,
              int64_t fallback = 0) {
    int64_t value = 0;
    if (!Number(name, minimum, maximum, &value, required, fallback)) return false;
    *target = static_cast<Target>(value);
    return true;
  }

  bool Guid(const char* name, GUID* value) {
    std::optional<QString> text = Attribute(name);
    if (!text) return Error(std::string("missing attribute ") + name);
    std::optional<GUID> parsed = GuidFromString(text->trimmed().toStdString());
    if (!parsed) return Error(std::string("attribute ") + name + " is not a GUID");
    *value = *parsed;
    return true;
  }

  bool Text(const char* name, std::u16string* value, bool required) {
    std::optional<QString> text = Attribute(name);
    if (!text) return required ? Error(std::string("missing attribute ") + name) : true;
    if (static_cast<std::size_t>(text->size()) > kMaximumNameLength)
      return Error(std::string("attribute ") + name + " is too long");
    *value = text->toStdU16String();
    return true;
  }

  // A FOURCC as four characters ("WMV2") or as a number.
  bool Fourcc(const char* name, DWORD* value) {
    std::optional<QString> text = Attribute(name);
    if (!text) return Error(std::string("missing attribute ") + name);
    QString trimmed = text->trimmed();
    bool allDigits = !trimmed.isEmpty() && std::all_of(trimmed.begin(), trimmed.end(), [](QChar c) { return c.isDigit(); });
    if (allDigits) return Number(name, 0, 0xFFFFFFFFll, value, true);
    if (trimmed.size() != 4) return Error(std::string("attribute ") + name + " is not a FOURCC");
    DWORD code = 0;
    for (int index = 3; index >= 0; --index) {
      char16_t character = trimmed.at(index).unicode();
      if (character < 0x20 || character > 0x7E) return Error(std::string("attribute ") + name + " is not a FOURCC");
      code = (code << 8) | character;
    }
    *value = code;
    return true;
  }

  bool HexBytes(const char* name, std::vector<BYTE>* bytes) {
    std::optional<QString> text = Attribute(name);
    if (!text) return true;
    std::string hex = text->trimmed().toStdString();
    if (hex.size() % 2 != 0 || hex.size() / 2 > kMaximumCodecData)
      return Error(std::string("attribute ") + name + " is not hexadecimal codec data");
    for (std::size_t index = 0; index < hex.size(); index += 2) {
      unsigned value = 0;
      auto [end, error] = std::from_chars(hex.data() + index, hex.data() + index + 2, value, 16);
      if (error != std::errc() || end != hex.data() + index + 2)
        return Error(std::string("attribute ") + name + " is not hexadecimal codec data");
      bytes->push_back(static_cast<BYTE>(value));
    }
    return true;
  }

  bool IsElement(const char* name) const { return xml_.name().compare(QLatin1String(name), Qt::CaseInsensitive) == 0; }

  bool ReadDocument(ProfileDefinition* profile) {
    if (!xml_.readNextStartElement()) return Error("the text holds no XML element");
    if (!IsElement("profile")) return Error("the root element is not <profile>");
    int64_t version = 0;
    if (!Number("version", 0, 0xFFFFFFFFll, &version, false, WMT_VER_8_0)) return false;
    if (version != WMT_VER_4_0 && version != WMT_VER_7_0 && version != WMT_VER_8_0 && version != WMT_VER_9_0)
      return Error("the profile version is not one we know");
    profile->version = static_cast<WMT_VERSION>(version);
    if (!Text("name", &profile->name, true) || !Text("description", &profile->description, false)) return false;
    while (xml_.readNextStartElement()) {
      if (!IsElement("streamconfig")) {
        xml_.skipCurrentElement();
        continue;
      }
      if (profile->streams.size() >= kMaximumStreams) return Error("the profile has too many streams");
      StreamDefinition stream;
      if (!ReadStream(&stream)) return false;
      profile->streams.push_back(std::move(stream));
    }
    return !xml_.hasError() || Error(xml_.errorString().toStdString());
  }

  bool ReadStream(StreamDefinition* stream) {
    if (!Guid("majortype", &stream->streamType)) return false;
    if (stream->streamType != WMMEDIATYPE_Video && stream->streamType != WMMEDIATYPE_Audio)
      return Error("a stream is neither video nor audio");
    if (!Number("streamnumber", 1, kMaximumStreamNumber, &stream->number, true) ||
        !Text("streamname", &stream->name, false) || !Text("inputname", &stream->connectionName, false) ||
        !Number("bitrate", kMinimumBitrate, kMaximumBitrate, &stream->bitrate, true) ||
        !Number("bufferwindow", 0, 600000, &stream->bufferWindow, false, kDefaultBufferWindow))
      return false;
    bool typed = false;
    while (xml_.readNextStartElement()) {
      if (IsElement("videomediaprops")) {
        if (!Number("maxkeyframespacing", 0, 3600 * UNITS, &stream->maxKeyFrameSpacing, false) ||
            !Number("quality", 0, 100, &stream->quality, false))
          return false;
        xml_.skipCurrentElement();
      } else if (IsElement("wmmediatype")) {
        if (typed) return Error("a stream has two media types");
        if (!ReadMediaType(stream)) return false;
        typed = true;
      } else {
        xml_.skipCurrentElement();
      }
    }
    if (xml_.hasError()) return Error(xml_.errorString().toStdString());
    return typed || Error("a stream has no <wmmediatype>");
  }

  bool ReadMediaType(StreamDefinition* stream) {
    CMediaType& type = stream->mediaType;
    type.InitMediaType();
    type.SetType(&stream->streamType);
    GUID subtype = GUID_NULL;
    int64_t fixed = 0;
    int64_t temporal = 0;
    int64_t sampleSize = 0;
    if (!Guid("subtype", &subtype) || !Number("bfixedsizesamples", 0, 1, &fixed, false, 0) ||
        !Number("btemporalcompression", 0, 1, &temporal, false, 0) ||
        !Number("lsamplesize", 0, 0x7FFFFFFF, &sampleSize, false, 0))
      return false;
    type.SetSubtype(&subtype);
    type.bFixedSizeSamples = fixed != 0;
    type.bTemporalCompression = temporal != 0;
    type.lSampleSize = static_cast<ULONG>(sampleSize);
    bool formatted = false;
    while (xml_.readNextStartElement()) {
      if (formatted) return Error("a media type has two format blocks");
      if (IsElement("videoinfoheader") && stream->streamType == WMMEDIATYPE_Video) {
        if (!ReadVideoInfo(&type)) return false;
        formatted = true;
      } else if (IsElement("waveformatex") && stream->streamType == WMMEDIATYPE_Audio) {
        if (!ReadWaveFormat(&type)) return false;
        xml_.skipCurrentElement();
        formatted = true;
      } else {
        return Error("unexpected <" + xml_.name().toString().toStdString() + "> in a media type");
      }
    }
    if (xml_.hasError()) return Error(xml_.errorString().toStdString());
    return formatted || Error("a media type has no format block");
  }

  bool ReadRect(RECT* rect) {
    constexpr int64_t kLimit = kMaximumPictureSize;
    return Number("left", 0, kLimit, &rect->left, false) && Number("top", 0, kLimit, &rect->top, false) &&
           Number("right", 0, kLimit, &rect->right, false) && Number("bottom", 0, kLimit, &rect->bottom, false);
  }

  bool ReadVideoInfo(CMediaType* type) {
    VIDEOINFOHEADER info{};
    if (!Number("dwbitrate", 0, kMaximumBitrate, &info.dwBitRate, false) ||
        !Number("dwbiterrorrate", 0, 0xFFFFFFFFll, &info.dwBitErrorRate, false) ||
        !Number("avgtimeperframe", kShortestFrameTime, kLongestFrameTime, &info.AvgTimePerFrame, true))
      return false;
    bool header = false;
    while (xml_.readNextStartElement()) {
      if (IsElement("rcsource")) {
        if (!ReadRect(&info.rcSource)) return false;
      } else if (IsElement("rctarget")) {
        if (!ReadRect(&info.rcTarget)) return false;
      } else if (IsElement("bitmapinfoheader")) {
        BITMAPINFOHEADER& bitmap = info.bmiHeader;
        bitmap.biSize = sizeof(BITMAPINFOHEADER);
        if (!Number("biwidth", kMinimumPictureSize, kMaximumPictureSize, &bitmap.biWidth, true) ||
            !Number("biheight", -kMaximumPictureSize, kMaximumPictureSize, &bitmap.biHeight, true) ||
            !Number("biplanes", 0, 1, &bitmap.biPlanes, false, 1) ||
            !Number("bibitcount", 0, 32, &bitmap.biBitCount, false, 24) || !Fourcc("bicompression", &bitmap.biCompression) ||
            !Number("bisizeimage", 0, 0x7FFFFFFF, &bitmap.biSizeImage, false) ||
            !Number("bixpelspermeter", 0, 0x7FFFFFFF, &bitmap.biXPelsPerMeter, false) ||
            !Number("biypelspermeter", 0, 0x7FFFFFFF, &bitmap.biYPelsPerMeter, false) ||
            !Number("biclrused", 0, 256, &bitmap.biClrUsed, false) ||
            !Number("biclrimportant", 0, 256, &bitmap.biClrImportant, false))
          return false;
        header = true;
      } else {
        return Error("unexpected <" + xml_.name().toString().toStdString() + "> in a video format");
      }
      xml_.skipCurrentElement();
    }
    if (xml_.hasError()) return Error(xml_.errorString().toStdString());
    if (!header) return Error("a video format has no <bitmapinfoheader>");
    type->SetFormatType(&WMFORMAT_VideoInfo);
    if (!type->SetFormat(reinterpret_cast<const BYTE*>(&info), sizeof info)) return Error("out of memory");
    return true;
  }

  bool ReadWaveFormat(CMediaType* type) {
    WAVEFORMATEX wave{};
    std::vector<BYTE> codecData;
    if (!Number("wFormatTag", 0, 0xFFFF, &wave.wFormatTag, true) ||
        !Number("nChannels", 1, 8, &wave.nChannels, true) ||
        !Number("nSamplesPerSec", 1, 384000, &wave.nSamplesPerSec, true) ||
        !Number("nAvgBytesPerSec", 1, kMaximumBitrate / 8, &wave.nAvgBytesPerSec, true) ||
        !Number("nBlockAlign", 1, 0xFFFF, &wave.nBlockAlign, true) ||
        !Number("wBitsPerSample", 0, 32, &wave.wBitsPerSample, true) || !HexBytes("codecdata", &codecData))
      return false;
    wave.cbSize = static_cast<WORD>(codecData.size());
    std::vector<BYTE> block(sizeof wave + codecData.size());
    std::memcpy(block.data(), &wave, sizeof wave);
    std::copy(codecData.begin(), codecData.end(), block.begin() + sizeof wave);
    type->SetFormatType(&WMFORMAT_WaveFormatEx);
    if (!type->SetFormat(block.data(), static_cast<ULONG>(block.size()))) return Error("out of memory");
    return true;
  }

  QXmlStreamReader xml_;
  std::string problem_;
};

QString Decimal(int64_t value) { return QString::number(value); }

QString FourccText(DWORD code) {
  QString text;
  for (int index = 0; index < 4; ++index) {
    char16_t character = static_cast<char16_t>((code >> (8 * index)) & 0xFF);
    if (character < 0x20 || character > 0x7E) return Decimal(code);
    text.append(QChar(character));
  }
  return text;
}

QString GuidText(REFGUID guid) { return QString::fromStdString(GuidToString(guid)); }

void WriteRect(QXmlStreamWriter& xml, const char* name, const RECT& rect) {
  xml.writeStartElement(QLatin1String(name));
  xml.writeAttribute("left", Decimal(rect.left));
  xml.writeAttribute("top", Decimal(rect.top));
  xml.writeAttribute("right", Decimal(rect.right));
  xml.writeAttribute("bottom", Decimal(rect.bottom));
  xml.writeEndElement();
}

void WriteMediaType(QXmlStreamWriter& xml, const CMediaType& type) {
  xml.writeStartElement("wmmediatype");
  xml.writeAttribute("subtype", GuidText(type.subtype));
  xml.writeAttribute("bfixedsizesamples", Decimal(type.bFixedSizeSamples ? 1 : 0));
  xml.writeAttribute("btemporalcompression", Decimal(type.bTemporalCompression ? 1 : 0));
  xml.writeAttribute("lsamplesize", Decimal(type.lSampleSize));
  if (const VIDEOINFOHEADER* info = VideoInfoOf(type)) {
    xml.writeStartElement("videoinfoheader");
    xml.writeAttribute("dwbitrate", Decimal(info->dwBitRate));
    xml.writeAttribute("dwbiterrorrate", Decimal(info->dwBitErrorRate));
    xml.writeAttribute("avgtimeperframe", Decimal(info->AvgTimePerFrame));
    WriteRect(xml, "rcsource", info->rcSource);
    WriteRect(xml, "rctarget", info->rcTarget);
    const BITMAPINFOHEADER& bitmap = info->bmiHeader;
    xml.writeStartElement("bitmapinfoheader");
    xml.writeAttribute("biwidth", Decimal(bitmap.biWidth));
    xml.writeAttribute("biheight", Decimal(bitmap.biHeight));
    xml.writeAttribute("biplanes", Decimal(bitmap.biPlanes));
    xml.writeAttribute("bibitcount", Decimal(bitmap.biBitCount));
    xml.writeAttribute("bicompression", FourccText(bitmap.biCompression));
    xml.writeAttribute("bisizeimage", Decimal(bitmap.biSizeImage));
    xml.writeAttribute("bixpelspermeter", Decimal(bitmap.biXPelsPerMeter));
    xml.writeAttribute("biypelspermeter", Decimal(bitmap.biYPelsPerMeter));
    xml.writeAttribute("biclrused", Decimal(bitmap.biClrUsed));
    xml.writeAttribute("biclrimportant", Decimal(bitmap.biClrImportant));
    xml.writeEndElement();
    xml.writeEndElement();
  } else if (const WAVEFORMATEX* wave = WaveFormatOf(type)) {
    xml.writeStartElement("waveformatex");
    xml.writeAttribute("wFormatTag", Decimal(wave->wFormatTag));
    xml.writeAttribute("nChannels", Decimal(wave->nChannels));
    xml.writeAttribute("nSamplesPerSec", Decimal(wave->nSamplesPerSec));
    xml.writeAttribute("nAvgBytesPerSec", Decimal(wave->nAvgBytesPerSec));
    xml.writeAttribute("nBlockAlign", Decimal(wave->nBlockAlign));
    xml.writeAttribute("wBitsPerSample", Decimal(wave->wBitsPerSample));
    std::size_t extra = std::min<std::size_t>(wave->cbSize, type.cbFormat - sizeof(WAVEFORMATEX));
    if (extra > 0) {
      QByteArray bytes(reinterpret_cast<const char*>(type.pbFormat + sizeof(WAVEFORMATEX)), static_cast<int>(extra));
      xml.writeAttribute("codecdata", QString::fromLatin1(bytes.toHex().toUpper()));
    }
    xml.writeEndElement();
  }
  xml.writeEndElement();
}

// Reinterprets a text that was UTF-8 bytes handed over as UTF-16 (a .prx
// saved as UTF-8 and read into a wide buffer): its first unit holds '<' or a
// byte-order mark in its low byte and a printable byte in its high one.
std::optional<QString> AsUtf8(std::u16string_view text) {
  if (text.empty()) return std::nullopt;
  unsigned first = text[0];
  bool startsLikeXml = (first & 0xFF) == '<' && (first >> 8) >= 0x20 && (first >> 8) < 0x7F;
  bool startsWithMark = first == 0xBBEF;  // EF BB (BF) read little-endian
  if (!startsLikeXml && !startsWithMark) return std::nullopt;
  std::string bytes;
  for (char16_t unit : text) {
    char low = static_cast<char>(unit & 0xFF);
    char high = static_cast<char>(unit >> 8);
    if (low == 0) break;
    bytes.push_back(low);
    if (high == 0) break;
    bytes.push_back(high);
  }
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

HRESULT ParseProfileText(std::u16string_view text, ProfileDefinition* profile, std::string* problem) {
  if (!profile) return E_POINTER;
  if (text.size() > kMaximumProfileText) {
    if (problem) *problem = "the profile text is too long";
    return NS_E_INVALID_PROFILE;
  }
  if (!text.empty() && text[0] == 0xFEFF) text.remove_prefix(1);
  QString document = AsUtf8(text).value_or(
      QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
  if (document.trimmed().isEmpty()) {
    if (problem) *problem = "the profile text is empty";
    return NS_E_INVALID_PROFILE;
  }
  ProfileDefinition read;
  ProfileReader reader(document);
  HRESULT result = reader.Read(&read, problem);
  if (FAILED(result)) return result;
  *profile = std::move(read);
  return S_OK;
}

std::u16string ProfileText(const ProfileDefinition& profile) {
  QString text;
  QXmlStreamWriter xml(&text);
  xml.setAutoFormatting(true);
  xml.setAutoFormattingIndent(2);
  xml.writeStartElement("profile");
  xml.writeAttribute("version", Decimal(profile.version));
  xml.writeAttribute("storageformat", "1");
  xml.writeAttribute("name", QString::fromStdU16String(profile.name));
  xml.writeAttribute("description", QString::fromStdU16String(profile.description));
  for (const StreamDefinition& stream : profile.streams) {
    xml.writeStartElement("streamconfig");
    xml.writeAttribute("majortype", GuidText(stream.streamType));
    xml.writeAttribute("streamnumber", Decimal(stream.number));
    xml.writeAttribute("streamname", QString::fromStdU16String(stream.name));
    xml.writeAttribute("inputname", QString::fromStdU16String(stream.connectionName));
    xml.writeAttribute("bitrate", Decimal(stream.bitrate));
    xml.writeAttribute("bufferwindow", Decimal(stream.bufferWindow));
    if (stream.streamType == WMMEDIATYPE_Video && (stream.maxKeyFrameSpacing > 0 || stream.quality > 0)) {
      xml.writeStartElement("videomediaprops");
      xml.writeAttribute("maxkeyframespacing", Decimal(stream.maxKeyFrameSpacing));
      xml.writeAttribute("quality", Decimal(stream.quality));
      xml.writeEndElement();
    }
    WriteMediaType(xml, stream.mediaType);
    xml.writeEndElement();
  }
  xml.writeEndElement();
  xml.writeEndDocument();
  return text.toStdU16String();
}

}  // namespace reel::wmf
