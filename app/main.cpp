// The Linux entry point: argv[1..] joined with single spaces becomes the
// device command line, and the program runs exactly as on the device.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/program.h"
#include "platform/text_conversion.h"

namespace {

const char kUsage[] =
    "Usage: tovrin-unpacker [ARCHIVE | '#F(ARCHIVE)#P(FOLDER)[#S(PASSWORD)]']\n"
    "\n"
    "Extracts TAR, LZH, ARJ, ZIP, cabinet, gzip, bzip2, compress (.Z), Base64/MIME,\n"
    "UUencoded and yEnc files.\n"
    "\n"
    "  (no arguments)      open the main dialog\n"
    "  ARCHIVE             open the main dialog on ARCHIVE\n"
    "  #F(A)#P(D)[#S(PW)]  extract A into D without a dialog, with password PW;\n"
    "                      quote the argument for the shell, keys ignore case\n"
    "  --help, --version   print this help or the version\n"
    "\n"
    "Paths may be device paths (\\My Documents\\a.zip, below $TOVRIN_ROOT) or host\n"
    "paths (/home/me/a.zip). Settings live in $XDG_CONFIG_HOME/tovrin-unpacker/registry.reg.\n"
    "\n"
    "Exit status: 0 success, 1 a dialog was needed but none can be shown,\n"
    "2 file not found, 3 format not supported, 4 extraction failed.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tovrin-unpacker %s\n", TOVRIN_VERSION);
        return 0;
    }
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) joined += ' ';
        joined += argv[i];
    }
    std::u16string commandLine;
    if (!utf8ToUtf16(joined, commandLine)) {
        std::fputs("File not exist!\n", stderr);
        return 2;
    }
    return runProgram(commandLine.c_str());
}
