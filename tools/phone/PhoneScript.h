#pragma once
// Scripted own changes for the CLI: "--at SECONDS:ACTION" steps that make the
// emulated phone change something by itself at a given time after start.
//   patch:INDEX                  the phone switches to effect INDEX
//   set:EFFECT/FIELD:VALUE       a control change (a number, true or false)
//   mode:EFFECT/FIELD:CHOICE     an option control set to one of its choices
//   rec:0|1                      recording off / on
//   pause:0|1                    the stream pauses / resumes
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace mirandel::phone {

class PhoneApp;

struct ScriptStep {
  std::chrono::milliseconds at{0};
  std::string action;  // patch, set, mode, rec, pause
  std::string target;  // EFFECT/FIELD, or the whole argument for patch, rec and pause
  std::string value;
};

// Parses one step; nullopt when it does not follow the forms above.
std::optional<ScriptStep> parseScriptStep(const std::string& text);

// Performs one step on `phone`; false when the phone refused it (unknown
// effect, control or choice). Owner's thread.
bool runScriptStep(PhoneApp& phone, const ScriptStep& step);

// Readable form for the CLI's event lines.
std::string describeStep(const ScriptStep& step);

}  // namespace mirandel::phone
