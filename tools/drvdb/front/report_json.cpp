#include "tools/drvdb/front/report_json.h"

#include <stdio.h>

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof(escaped), "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void PrintJson(std::ostream& out, const SourceScript& script,
               const CheckReport& report, const Gate& gate) {
  out << "  {\"file\": " << JsonString(script.path)
      << ", \"ok\": " << (Fails(report, gate) ? "false" : "true")
      << ", \"outcome\": " << report.outcome << ", \"version\": ";
  if (report.hasVersion)
    out << report.version << ", \"version_text\": "
        << JsonString(report.versionText);
  else
    out << "null";
  out << ", \"lines\": " << report.lines << ", \"headers\": "
      << report.headers << ", \"keys\": " << report.keys
      << ", \"values\": " << report.values << ", \"findings\": [";
  bool first = true;
  for (const Finding* f : ReportOrder(report)) {
    out << (first ? "" : ", ");
    first = false;
    if (!f) {  // the run's stop: an error that has no kind
      out << "{\"severity\": \"error\", \"allowed\": false, \"line\": "
          << report.stop.line << ", \"column\": " << report.stop.column
          << ", \"message\": " << JsonString(report.stop.message) << "}";
      continue;
    }
    out << "{\"severity\": \"" << Label(gate, *f) << "\""
        << ", \"allowed\": " << (Allowed(gate, *f) ? "true" : "false")
        << ", \"line\": " << f->line << ", \"column\": " << f->column
        << ", \"kind\": " << JsonString(KindName(f->kind))
        << ", \"message\": " << JsonString(f->message) << "}";
  }
  out << "]}";
}
