// The Linux entry point: argv[1..] joined with single spaces becomes the
// device command line, and the program runs exactly as on the device.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/program.h"
#include "platform/text_conversion.h"

namespace {

// The same sections as the manual page, tovrin-unpacker(1); the packaging
// test checks that every entry below appears there too.
const char kUsage[] =
    "Usage: tovrin-unpacker [ARCHIVE]\n"
    "       tovrin-unpacker '#F(ARCHIVE)#P(FOLDER)[#S(PASSWORD)]'\n"
    "       tovrin-unpacker --help | --version\n"
    "\n"
    "Extracts TAR (plain, gzip, bzip2 or compress wrapped), LZH, ARJ, ZIP, cabinet,\n"
    "gzip, bzip2, compress (.Z), Base64/MIME, UUencoded, XXencoded and yEnc files.\n"
    "\n"
    "Forms:\n"
    "  (no arguments)      open the main dialog\n"
    "  ARCHIVE             open the main dialog with ARCHIVE filled in\n"
    "  #F(A)#P(D)[#S(PW)]  extract A into D without a dialog, with password PW\n"
    "  --help              print this help\n"
    "  --version           print the version\n"
    "\n"
    "The arguments are joined with single spaces. Keys ignore case, nested\n"
    "parentheses in a value are kept, and a value without its closing parenthesis\n"
    "counts as missing; quote the keyed form for the shell. Paths may be device\n"
    "paths (\\My Documents\\a.zip) or host paths (/home/me/a.zip).\n"
    "\n"
    "Exit status:\n"
    "  0  success, or the dialog was closed\n"
    "  1  a dialog was needed but no display is available\n"
    "  2  file not found, or a folder was named\n"
    "  3  format not supported\n"
    "  4  extraction failed\n"
    "\n"
    "Environment:\n"
    "  TOVRIN_ROOT      host folder that holds the device root (default /)\n"
    "  XDG_CONFIG_HOME  folder of the settings file (default ~/.config)\n"
    "\n"
    "Files:\n"
    "  $XDG_CONFIG_HOME/tovrin-unpacker/registry.reg  the extract folder and options\n";

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
