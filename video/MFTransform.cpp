#include "video/MFTransform.h"

// clang-format off
#include <codecapi.h>
#include <strmif.h>
// clang-format on

#include <cstring>

namespace mirandel {

namespace {

// The sample duration of a unit: one thirtieth of a second in 100 ns units.
constexpr LONGLONG kSampleDuration = 333333;

// A function of a system library, as the type it has.
template <typename Fn>
Fn entryPoint(HMODULE module, const char* name) {
  // Through a generic function pointer: FARPROC and Fn differ in type.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const GUID& subtypeOf(CodecKind codec) {
  return codec == kCodecHevc ? MFVideoFormat_HEVC : MFVideoFormat_H264;
}

}  // namespace

const MediaFoundation& mediaFoundation() {
  static const MediaFoundation mf = [] {
    MediaFoundation m;
    const HMODULE dll = LoadLibraryExW(L"mfplat.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (dll == nullptr) return m;
    const auto startup = entryPoint<decltype(&MFStartup)>(dll, "MFStartup");
    m.enumTransforms = entryPoint<decltype(m.enumTransforms)>(dll, "MFTEnumEx");
    m.createMediaType = entryPoint<decltype(m.createMediaType)>(dll, "MFCreateMediaType");
    m.createSample = entryPoint<decltype(m.createSample)>(dll, "MFCreateSample");
    m.createMemoryBuffer = entryPoint<decltype(m.createMemoryBuffer)>(dll, "MFCreateMemoryBuffer");
    m.createAlignedMemoryBuffer =
        entryPoint<decltype(m.createAlignedMemoryBuffer)>(dll, "MFCreateAlignedMemoryBuffer");
    if (startup == nullptr || m.enumTransforms == nullptr || m.createMediaType == nullptr ||
        m.createSample == nullptr || m.createMemoryBuffer == nullptr ||
        m.createAlignedMemoryBuffer == nullptr) {
      return m;
    }
    m.started = startup(MF_VERSION, MFSTARTUP_LITE);
    return m;
  }();
  return mf;
}

void joinComApartment() {
  thread_local const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  (void)joined;
}

DecoderTransforms findDecoderTransforms(CodecKind codec) {
  DecoderTransforms out;
  const MediaFoundation& mf = mediaFoundation();
  if (FAILED(mf.started)) {
    out.result = mf.started;
    return out;
  }
  MFT_REGISTER_TYPE_INFO input{MFMediaType_Video, subtypeOf(codec)};
  IMFActivate** found = nullptr;
  UINT32 count = 0;
  out.result = mf.enumTransforms(MFT_CATEGORY_VIDEO_DECODER,
                                 MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_SORTANDFILTER, &input,
                                 nullptr, &found, &count);
  for (UINT32 i = 0; i < count; ++i) out.found.push_back(ComPtr<IMFActivate>::adopt(found[i]));
  CoTaskMemFree(found);
  return out;
}

LowLatencyAnswers requestLowLatency(IMFTransform& transform) {
  LowLatencyAnswers answers;
  ComPtr<IMFAttributes> attributes;
  if (SUCCEEDED(transform.GetAttributes(attributes.put())) && attributes) {
    answers.attributes = attributes->SetUINT32(CODECAPI_AVLowLatencyMode, TRUE);
  }
  ComPtr<ICodecAPI> codecApi;
  if (SUCCEEDED(transform.QueryInterface(IID_ICodecAPI, codecApi.putVoid())) && codecApi) {
    VARIANT on{};  // VT_EMPTY, as VariantInit leaves it
    on.vt = VT_BOOL;
    on.boolVal = VARIANT_TRUE;
    answers.codecApi = codecApi->SetValue(&CODECAPI_AVLowLatencyMode, &on);
  }
  return answers;
}

HRESULT setInputType(IMFTransform& transform, CodecKind codec) {
  ComPtr<IMFMediaType> type;
  HRESULT hr = mediaFoundation().createMediaType(type.put());
  if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, subtypeOf(codec));
  if (SUCCEEDED(hr)) hr = type->SetUINT64(MF_MT_FRAME_SIZE, (UINT64{1920} << 32) | 1080);
  if (SUCCEEDED(hr)) hr = type->SetUINT64(MF_MT_FRAME_RATE, (UINT64{30} << 32) | 1);
  if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
  if (SUCCEEDED(hr)) hr = transform.SetInputType(0, type.get(), 0);
  return hr;
}

ComPtr<IMFSample> inputSample(const AccessUnit& unit, bool key) {
  const MediaFoundation& mf = mediaFoundation();
  const auto size = static_cast<DWORD>(unit.bytes.size());
  ComPtr<IMFMediaBuffer> buffer;
  BYTE* data = nullptr;
  if (FAILED(mf.createMemoryBuffer(size, buffer.put())) ||
      FAILED(buffer->Lock(&data, nullptr, nullptr))) {
    return {};
  }
  std::memcpy(data, unit.bytes.data(), size);
  buffer->Unlock();
  ComPtr<IMFSample> sample;
  if (FAILED(buffer->SetCurrentLength(size)) || FAILED(mf.createSample(sample.put())) ||
      FAILED(sample->AddBuffer(buffer.get()))) {
    return {};
  }
  // The decoder carries the time through reordering to the picture, which
  // is how each picture finds its own unit's stamps again.
  if (unit.pts >= 0) sample->SetSampleTime(sampleTimeOf(unit.pts));
  sample->SetSampleDuration(kSampleDuration);
  if (key) sample->SetUINT32(MFSampleExtension_CleanPoint, TRUE);
  return sample;
}

OutputCall processOutput(IMFTransform& transform, IMFSample* given) {
  OutputCall call;
  MFT_OUTPUT_DATA_BUFFER output{};
  output.dwStreamID = 0;
  output.pSample = given;
  DWORD status = 0;
  call.result = transform.ProcessOutput(0, 1, &output, &status);
  if (output.pEvents != nullptr) output.pEvents->Release();
  // A sample the transform made is ours to release; the one given stays the
  // caller's.
  if (output.pSample != nullptr && output.pSample != given) {
    call.made = ComPtr<IMFSample>::adopt(output.pSample);
  }
  call.noSample = (output.dwStatus & MFT_OUTPUT_DATA_BUFFER_NO_SAMPLE) != 0;
  call.picture = call.made ? call.made.get() : given;
  return call;
}

}  // namespace mirandel
