#include "tools/host/Report.h"

#include <cstdio>
#include <sstream>

namespace mirandel::host {

std::string typeName(std::uint32_t type) {
  switch (type) {
    case kTypeBoolean:
      return "boolean";
    case kTypeEvent:
      return "event";
    case kTypeStandard:
      return "standard";
    case kTypeOption:
      return "option";
    case kTypeFile:
      return "file";
    case kTypeText:
      return "text";
    case kFail:
      return "undefined";
    default:
      return "type " + std::to_string(type);
  }
}

std::string eventFlagsText(std::uint64_t flags) {
  static const struct {
    std::uint64_t bit;
    const char* name;
  } kNames[] = {{kEventVisibility, "visibility"},
                {kEventDisplayName, "display-name"},
                {kEventValue, "value"},
                {kEventElements, "elements"}};
  std::string out;
  for (const auto& n : kNames) {
    if ((flags & n.bit) == 0) continue;
    if (!out.empty()) out += '|';
    out += n.name;
    flags &= ~n.bit;
  }
  if (flags != 0) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(flags));
    if (!out.empty()) out += '|';
    out += buf;
  }
  return out.empty() ? "none" : out;
}

std::string formatInfo(const InfoRecord& info) {
  std::ostringstream s;
  const char* kinds[] = {"effect", "source", "mixer"};
  s << "name:        " << info.name << "\n"
    << "id:          " << info.id << "\n"
    << "type:        " << info.type << " (" << (info.type < 3 ? kinds[info.type] : "unknown")
    << ")\n"
    << "API version: " << info.apiMajor << "." << info.apiMinor << "\n"
    << "version:     " << info.pluginMajor << "." << info.pluginMinor << "\n"
    << "description: " << info.description << "\n"
    << "about:       " << info.about << "\n";
  return s.str();
}

std::string formatParameterTable(const std::vector<ParameterRow>& rows) {
  std::ostringstream s;
  char line[128];
  std::snprintf(line, sizeof line, "%5s  %-12s %-9s %-8s %-11s %-7s %s\n", "index", "name", "type",
                "visible", "group", "default", "elements");
  s << line;
  for (const auto& r : rows) {
    // Texts are UTF-8: pad by hand rather than with printf widths, which count bytes.
    auto padded = [](const std::string& t, std::size_t width) {
      std::size_t chars = 0;
      for (unsigned char c : t) chars += (c & 0xC0) != 0x80;
      return t + std::string(chars < width ? width - chars : 0, ' ');
    };
    std::snprintf(line, sizeof line, "%5u  ", r.index);
    s << line << padded(r.name, 12) << ' ' << padded(typeName(r.type), 9) << ' '
      << padded(r.visible == 1   ? "yes"
                : r.visible == 0 ? "no"
                                 : "?",
                8)
      << ' ' << padded(r.group.empty() ? "-" : r.group, 11) << ' '
      << padded(r.defaultText.empty() ? "\"\"" : r.defaultText, 7) << ' ';
    for (std::size_t k = 0; k < r.elements.size(); ++k) {
      char value[32];
      std::snprintf(value, sizeof value, "%g", static_cast<double>(r.elements[k].value));
      s << (k ? ", " : "") << '"' << r.elements[k].name << "\"=" << value;
    }
    if (!r.displayName.empty()) s << "  (shown as \"" << r.displayName << "\")";
    s << "\n";
  }
  return s.str();
}

std::string formatEvents(const std::vector<ParamEvent>& events,
                         const std::vector<ParameterRow>& rows) {
  std::ostringstream s;
  for (const auto& e : events) {
    s << "  " << e.id;
    if (e.id < rows.size()) s << " " << rows[e.id].name;
    s << ": " << eventFlagsText(e.flags) << "\n";
  }
  return s.str();
}

}  // namespace mirandel::host
