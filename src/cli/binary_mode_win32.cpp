// Every open() and fopen() of kestal-cli.exe is binary, so no byte of a transferred file is
// taken for a line end or an end-of-file mark. MinGW's start-up code hands this default to the
// C runtime before main().
#include <fcntl.h>

extern "C" {
int _fmode = _O_BINARY;
}
