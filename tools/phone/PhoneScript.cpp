#include "tools/phone/PhoneScript.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "tools/phone/PhoneApp.h"

namespace mirandel::phone {
namespace {

// A whole finite decimal number, or nullopt.
std::optional<double> number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<int> flag(const std::string& text) {
  if (text == "0") return 0;
  if (text == "1") return 1;
  return std::nullopt;
}

}  // namespace

std::optional<ScriptStep> parseScriptStep(const std::string& text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  const auto seconds = number(text.substr(0, colon));
  if (!seconds || *seconds < 0 || *seconds > 86400) return std::nullopt;
  ScriptStep step;
  step.at = std::chrono::milliseconds(static_cast<long long>(std::llround(*seconds * 1000)));
  const std::string rest = text.substr(colon + 1);
  const std::size_t c2 = rest.find(':');
  step.action = rest.substr(0, c2);
  const std::string args = c2 == std::string::npos ? std::string() : rest.substr(c2 + 1);
  if (step.action == "patch") {
    const auto index = number(args);
    if (!index || *index < 0 || *index > 1e6 || std::floor(*index) != *index) return std::nullopt;
    step.target = args;
    return step;
  }
  if (step.action == "rec" || step.action == "pause") {
    if (!flag(args)) return std::nullopt;
    step.target = args;
    return step;
  }
  if (step.action == "set" || step.action == "mode") {
    const std::size_t c3 = args.find(':');
    if (c3 == std::string::npos) return std::nullopt;
    step.target = args.substr(0, c3);
    step.value = args.substr(c3 + 1);
    const std::size_t slash = step.target.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == step.target.size() ||
        step.value.empty()) {
      return std::nullopt;
    }
    if (step.action == "set" && step.value != "true" && step.value != "false" &&
        !number(step.value)) {
      return std::nullopt;
    }
    return step;
  }
  return std::nullopt;
}

bool runScriptStep(PhoneApp& phone, const ScriptStep& step) {
  if (step.action == "patch") return phone.patchTo(std::atoi(step.target.c_str()));
  if (step.action == "rec") {
    phone.setRecording(step.target == "1");
    return true;
  }
  if (step.action == "pause") {
    phone.stream().pause(step.target == "1");
    return true;
  }
  const std::size_t slash = step.target.find('/');
  const std::string effect = step.target.substr(0, slash);
  const std::string field = step.target.substr(slash + 1);
  if (step.action == "mode") return phone.setMode(effect, field, step.value);
  ControlArg value;
  if (step.value == "true" || step.value == "false") {
    value = ControlArg::ofInt(step.value == "true" ? 1 : 0);
  } else {
    value = ControlArg::ofFloat(static_cast<float>(*number(step.value)));
  }
  return phone.setControl(effect, field, value);
}

std::string describeStep(const ScriptStep& step) {
  std::string text = step.action + " " + step.target;
  if (!step.value.empty()) text += " " + step.value;
  return text;
}

}  // namespace mirandel::phone
