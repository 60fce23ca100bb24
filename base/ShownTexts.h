#pragma once
// Every text a clip shows in its "Status", "Picture" and "FPS" parameters, in
// the form the user's guide (GUIDE.md) lists and explains them: a {name} is
// filled in at run time, in order, by fillText (the guide writes it ⟨name⟩).
// A test holds the guide to these lists, so a text changed here must be
// explained there. UTF-8: U+2026 ELLIPSIS, U+2014 EM DASH, U+00B7 MIDDLE DOT.
#include <initializer_list>
#include <string>
#include <string_view>

namespace mirandel::text {

// "Status": the phone.
inline constexpr const char* kSearching = "Searching\xE2\x80\xA6";
inline constexpr const char* kConnectingTo = "Connecting to {address}\xE2\x80\xA6";
inline constexpr const char* kPhoneLine = "{app}  {version}  {address}";
inline constexpr const char* kBadDescribeReply = "Bad describe reply";

// "Picture": the video stream, and "FPS" before the phone reports.
inline constexpr const char* kDash = "\xE2\x80\x94";
inline constexpr const char* kUnusableAddress = "\xE2\x80\x94 {reason}";
inline constexpr const char* kVideoCannotStart = "video cannot start ({reason})";
inline constexpr const char* kLinkConnecting = "connecting";
inline constexpr const char* kLinkConnectingTo = "connecting to {address}:{port}";
inline constexpr const char* kLinkCannotResolve = "cannot resolve {name}";
inline constexpr const char* kLinkSocket = "socket: {error}";
inline constexpr const char* kLinkNoAnswer = "no answer from {address}:{port} ({reason})";
inline constexpr const char* kLinkConnected = "connected";
inline constexpr const char* kLinkReconnecting = "reconnecting ({reason})";
inline constexpr const char* kLinkStopped = "stopped";
inline constexpr const char* kLive =
    "{width}x{height} {codec} {rate} fps \xC2\xB7 {delay} ms transport \xC2\xB7 {decoder}";
inline constexpr const char* kNoFrames = "{live line} \xC2\xB7 no frames";
inline constexpr const char* kRefused = "{link} \xC2\xB7 {refusal}";
inline constexpr const char* kGlLimit = "{width}x{height} larger than the GL limit {limit}";
inline constexpr const char* kGlRefused = "{width}x{height} not accepted by GL";

// "FPS": the phone's camera.
inline constexpr const char* kCamera = "{measured} / {target} fps \xC2\xB7 {health}";
inline constexpr const char* kCameraRecording =
    "{measured} / {target} fps \xC2\xB7 {health} \xC2\xB7 REC {minutes}:{seconds}";

// The parts that fill a {reason}, {refusal} or {health} above.
inline constexpr const char* kNoAddress = "no address";
inline constexpr const char* kNoHost = "no host";
inline constexpr const char* kPortOutOfRange = "port out of range (1 to 65535)";
inline constexpr const char* kClosedBySender = "closed by the sender";
inline constexpr const char* kConnectionLost = "connection lost";
inline constexpr const char* kUnsupportedFormat = "unsupported picture format: {format}";
inline constexpr const char* kPictureTooLarge = "picture too large: {width}x{height}";
inline constexpr const char* kNoMediaFoundation = "no Media Foundation";
inline constexpr const char* kNoDecoder = "no {codec} decoder";
inline constexpr const char* kDecoderDidNotStart = "{codec} decoder did not start";
inline constexpr const char* kDecoderRefused = "{codec} decoder refused the stream";
inline constexpr const char* kDecoderNoOutput = "{codec} decoder offers neither NV12 nor P010";
inline constexpr const char* kHealthOk = "ok";
inline constexpr const char* kHealthDegraded = "degraded";
inline constexpr const char* kHealthDropping = "DROPPING";

// The lists the guide is held to: each line of a table, and each part.
inline constexpr const char* kStatusTexts[] = {kSearching, kConnectingTo, kPhoneLine,
                                               kBadDescribeReply};
inline constexpr const char* kPictureTexts[] = {kDash,
                                                kUnusableAddress,
                                                kVideoCannotStart,
                                                kLinkConnecting,
                                                kLinkConnectingTo,
                                                kLinkConnected,
                                                kLinkCannotResolve,
                                                kLinkSocket,
                                                kLinkNoAnswer,
                                                kLinkReconnecting,
                                                kLinkStopped,
                                                kLive,
                                                kNoFrames,
                                                kRefused,
                                                kGlLimit,
                                                kGlRefused};
inline constexpr const char* kFpsTexts[] = {kDash, kCamera, kCameraRecording};
inline constexpr const char* kParts[] = {
    kNoAddress,         kNoHost,          kPortOutOfRange,    kClosedBySender, kConnectionLost,
    kUnsupportedFormat, kPictureTooLarge, kNoMediaFoundation, kNoDecoder,      kDecoderDidNotStart,
    kDecoderRefused,    kDecoderNoOutput, kHealthOk,          kHealthDegraded, kHealthDropping};

// `pattern` with each {name} replaced by the next of `values`; a {name} left
// without a value stays as it is. Any thread.
std::string fillText(std::string_view pattern, std::initializer_list<std::string_view> values);

}  // namespace mirandel::text
