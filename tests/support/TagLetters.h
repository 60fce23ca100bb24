#pragma once
// Control arguments written by their tag letters, so that tables of messages read like the wire:
// I(1), F(0.5f), S("rack"), and the data-less kinds.
#include <cstdint>
#include <string>
#include <utility>

#include "link/ControlMessage.h"

namespace mirandel::test {

inline ControlArg I(std::int32_t v) { return ControlArg::ofInt(v); }
inline ControlArg F(float v) { return ControlArg::ofFloat(v); }
inline ControlArg S(std::string v) { return ControlArg::ofText(std::move(v)); }
inline const ControlArg kTrue = ControlArg::ofKind(ArgKind::True),
                        kFalse = ControlArg::ofKind(ArgKind::False),
                        kNil = ControlArg::ofKind(ArgKind::Nil),
                        kImpulse = ControlArg::ofKind(ArgKind::Impulse);

}  // namespace mirandel::test
