// Stands in for a release of the program that cannot start (built against a DLL the machine
// lacks, crashing in its start-up, ...): it carries the next version's version resource, so it
// passes every check of its file, and ends at once with exit code 3, whatever it is asked.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return 3;
}
