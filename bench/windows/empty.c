/* An empty program: the start-up cost of any program, built without the C
   runtime. */

#include <windows.h>

void Start(void) {
  ExitProcess(0);
}
