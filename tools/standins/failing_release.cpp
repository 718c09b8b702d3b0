// Stands in for a release of the program that never gets to its start (one that misreads its
// command line, or ends before it looks at it): it carries the next version's version resource,
// so it passes every check of its file, and ends at once with exit code 0, whatever it is asked,
// as every start that is not the self-test ends.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return 0;
}
