#pragma once
// Plain-text reports of what a host sees of a plug-in, for the CLI.
#include <string>
#include <vector>

#include "tools/host/FfglHost.h"

namespace mirandel::host {

std::string typeName(std::uint32_t type);
std::string eventFlagsText(std::uint64_t flags);

std::string formatInfo(const InfoRecord& info);
std::string formatParameterTable(const std::vector<ParameterRow>& rows);
// `rows` supplies the names of the ids it covers; other ids print bare.
std::string formatEvents(const std::vector<ParamEvent>& events,
                         const std::vector<ParameterRow>& rows);

}  // namespace mirandel::host
