/* An empty program with the C runtime that the setup program uses (msvcrt):
   the start-up cost of the runtime, against empty.c. */

int main(void) {
  return 0;
}
