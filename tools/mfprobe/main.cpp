// mirandel-mfprobe: what this machine's Media Foundation decoder does with a
// transport stream, for the questions only a real Windows machine answers:
// which decoders there are, whether the codec interface and low latency
// take, which output types it offers at each change and with which frame
// size, display aperture, stride and range, how many pictures it keeps
// before the first comes out, whether output times come back, and how long
// the plug-in's decoder takes per picture.
//
//   mirandel-mfprobe stream.ts
#include <windows.h>
// clang-format off
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>
#include <strmif.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "video/AnnexB.h"
#include "video/ComPtr.h"
#include "video/Decoder.h"
#include "video/MFTransform.h"
#include "video/TsDemuxer.h"

namespace mirandel {
namespace {

std::vector<AccessUnit> readUnits(const char* path, CodecKind& codec) {
  std::ifstream in(path, std::ios::binary);
  return unitsOfRecording({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()},
                          &codec);
}

void listDecoders(CodecKind codec, const char* name) {
  const DecoderTransforms decoders = findDecoderTransforms(codec);
  std::printf("%s decoders (synchronous): %zu (%08lx)\n", name, decoders.found.size(),
              decoders.result);
  for (const ComPtr<IMFActivate>& found : decoders.found) {
    WCHAR* friendly = nullptr;
    UINT32 length = 0;
    if (SUCCEEDED(found->GetAllocatedString(MFT_FRIENDLY_NAME_Attribute, &friendly, &length))) {
      std::printf("  %ls\n", friendly);
      CoTaskMemFree(friendly);
    }
  }
}

std::string fourCc(const GUID& g) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>((g.Data1 >> (8 * i)) & 0xFF);
  return s;
}

void printArea(IMFMediaType& type, const GUID& key, const char* name) {
  MFVideoArea a{};
  UINT32 size = 0;
  if (SUCCEEDED(type.GetBlob(key, reinterpret_cast<UINT8*>(&a), sizeof a, &size))) {
    std::printf(" %s %d,%d %ldx%ld", name, a.OffsetX.value, a.OffsetY.value, a.Area.cx, a.Area.cy);
  }
}

void printType(IMFMediaType& type) {
  GUID subtype{};
  type.GetGUID(MF_MT_SUBTYPE, &subtype);
  std::printf("    %s", fourCc(subtype).c_str());
  UINT64 size = 0;
  if (SUCCEEDED(type.GetUINT64(MF_MT_FRAME_SIZE, &size))) {
    std::printf(" %ux%u", static_cast<UINT32>(size >> 32), static_cast<UINT32>(size));
  }
  UINT32 value = 0;
  if (SUCCEEDED(type.GetUINT32(MF_MT_DEFAULT_STRIDE, &value))) {
    std::printf(" stride %d", static_cast<INT32>(value));
  }
  if (SUCCEEDED(type.GetUINT32(MF_MT_VIDEO_NOMINAL_RANGE, &value))) {
    std::printf(" nominal range %u", value);
  }
  printArea(type, MF_MT_MINIMUM_DISPLAY_APERTURE, "minimum display aperture");
  printArea(type, MF_MT_GEOMETRIC_APERTURE, "geometric aperture");
  std::printf("\n");
}

// Lists the output types and takes the first NV12 or P010 one.
MFT_OUTPUT_STREAM_INFO chooseOutput(IMFTransform& transform) {
  bool chosen = false;
  for (DWORD i = 0;; ++i) {
    ComPtr<IMFMediaType> type;
    if (FAILED(transform.GetOutputAvailableType(0, i, type.put()))) break;
    printType(*type.get());
    GUID subtype{};
    type->GetGUID(MF_MT_SUBTYPE, &subtype);
    if (!chosen && (subtype == MFVideoFormat_NV12 || subtype == MFVideoFormat_P010)) {
      chosen = SUCCEEDED(transform.SetOutputType(0, type.get(), 0));
    }
  }
  MFT_OUTPUT_STREAM_INFO info{};
  transform.GetOutputStreamInfo(0, &info);
  std::printf("  %s; stream info flags %08lx, size %lu, alignment %lu\n",
              chosen ? "chose NV12 or P010" : "NO NV12 OR P010", info.dwFlags, info.cbSize,
              info.cbAlignment);
  return info;
}

double msSince(LARGE_INTEGER start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

// Drives the first decoder by hand and reports each step.
void probeTransform(const std::vector<AccessUnit>& units, CodecKind codec) {
  DecoderTransforms decoders = findDecoderTransforms(codec);
  ComPtr<IMFTransform> transform;
  if (!decoders.found.empty()) {
    decoders.found[0]->ActivateObject(IID_IMFTransform, transform.putVoid());
  }
  decoders.found.clear();
  if (!transform) {
    std::printf("no decoder for this stream\n");
    return;
  }
  const LowLatencyAnswers lowLatency = requestLowLatency(*transform.get());
  if (lowLatency.attributes) {
    std::printf("low latency through the attributes: %08lx\n", *lowLatency.attributes);
  }
  if (lowLatency.codecApi) {
    std::printf("low latency through ICodecAPI: %08lx\n", *lowLatency.codecApi);
  } else {
    std::printf("no ICodecAPI\n");
  }
  std::printf("input type: %08lx\noutput types at open:\n", setInputType(*transform.get(), codec));
  MFT_OUTPUT_STREAM_INFO info = chooseOutput(*transform.get());
  transform->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
  transform->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);

  std::size_t pictures = 0;
  for (std::size_t k = 0; k < units.size(); ++k) {
    const AccessUnit& u = units[k];
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const ComPtr<IMFSample> sample =
        inputSample(u, holdsKeyPicture(u.bytes.data(), u.bytes.size(), codec));
    std::printf("unit %zu pts %lld: input %08lx\n", k, static_cast<long long>(u.pts),
                transform->ProcessInput(0, sample.get(), 0));
    for (int pass = 0; pass < 8; ++pass) {
      const bool provides = (info.dwFlags & (MFT_OUTPUT_STREAM_PROVIDES_SAMPLES |
                                             MFT_OUTPUT_STREAM_CAN_PROVIDE_SAMPLES)) != 0;
      ComPtr<IMFSample> given;
      if (!provides) {
        ComPtr<IMFMediaBuffer> out;
        MFCreateMemoryBuffer(info.cbSize, out.put());
        MFCreateSample(given.put());
        given->AddBuffer(out.get());
      }
      const OutputCall call = processOutput(*transform.get(), given.get());
      if (call.result == MF_E_TRANSFORM_NEED_MORE_INPUT) break;
      if (call.result == MF_E_TRANSFORM_STREAM_CHANGE) {
        std::printf("  stream change, output types:\n");
        info = chooseOutput(*transform.get());
        continue;
      }
      if (FAILED(call.result)) {
        std::printf("  output %08lx\n", call.result);
        break;
      }
      IMFSample* picture = call.picture;
      LONGLONG time = -1;
      const bool timed = SUCCEEDED(picture->GetSampleTime(&time));
      ComPtr<IMFMediaBuffer> contiguous;
      picture->ConvertToContiguousBuffer(contiguous.put());
      DWORD length = 0;
      contiguous->GetCurrentLength(&length);
      LONG pitch = 0;
      if (auto twoD = contiguous.as<IMF2DBuffer>(IID_IMF2DBuffer)) {
        BYTE* scan0 = nullptr;
        if (SUCCEEDED(twoD->Lock2D(&scan0, &pitch))) twoD->Unlock2D();
      }
      std::printf(
          "  picture %zu (after %zu units in): pts %s%lld, %lu bytes, %s, 2D pitch %ld, "
          "%.2f ms\n",
          pictures++, k + 1, timed ? "" : "none ", static_cast<long long>(ptsOf(time)), length,
          call.made ? "sample made by the decoder" : "our sample", pitch, msSince(start));
    }
  }
  transform->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
  transform->ProcessMessage(MFT_MESSAGE_NOTIFY_END_STREAMING, 0);
}

// The plug-in's own decoder over the same units.
void runDecoder(std::vector<AccessUnit> units, CodecKind codec) {
  std::size_t pictures = 0;
  std::uint32_t width = 0, height = 0;
  auto decoder = makeDecoder([&](const Frame& f) {
    ++pictures;
    width = f.width;
    height = f.height;
  });
  double total = 0;
  for (std::size_t k = 0; k < units.size(); ++k) {
    decoder->decode(units[k], codec);
    if (k > 0) total += decoder->info().lastDecodeMs;
  }
  const DecoderInfo info = decoder->info();
  std::printf(
      "plug-in decoder: %zu pictures of %ux%u from %zu units, %llu errors, "
      "refusal \"%s\", %.2f ms per decode call after the first\n",
      pictures, width, height, units.size(), static_cast<unsigned long long>(info.errors),
      info.refusal.c_str(), units.size() > 1 ? total / static_cast<double>(units.size() - 1) : 0.0);
}

}  // namespace
}  // namespace mirandel

int main(int argc, char** argv) {
  using namespace mirandel;
  if (argc != 2) {
    std::fprintf(stderr, "usage: mirandel-mfprobe stream.ts\n");
    return 2;
  }
  CodecKind codec = kCodecNone;
  std::vector<AccessUnit> units = readUnits(argv[1], codec);
  std::printf("%zu units of %s\n", units.size(),
              codec == kCodecHevc   ? "HEVC"
              : codec == kCodecH264 ? "H.264"
                                    : "no video");
  if (units.empty()) return 1;
  joinComApartment();
  std::printf("MFStartup: %08lx\n", mediaFoundation().started);
  listDecoders(kCodecH264, "H.264");
  listDecoders(kCodecHevc, "HEVC");
  probeTransform(units, codec);
  runDecoder(std::move(units), codec);
  return 0;
}
