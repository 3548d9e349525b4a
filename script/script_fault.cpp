#include "script/script_fault.h"

ScriptStop LastScriptStop;

bool Stop(const char* at, ScriptFault fault) {
  LastScriptStop = ScriptStop{at, fault};
  return fault == kFaultNone;
}
