// The program item of the benchmark setup: the setup starts it with /Install
// after the copy, and it ends at once so that the run goes on to its report.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
