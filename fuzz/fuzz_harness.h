// Shared scaffolding of the libFuzzer targets: a private device file system
// per process and one probe-then-extract pass per input, with a check that
// nothing was written outside the output folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/lzh/lzh_member_decoder.h"

class FormatHandler;

namespace fuzzing {

// Device path of the folder every extraction writes into.
constexpr const char* kOutFolder = "\\out";

// Sets up the process once (idempotent): a temporary device root (in
// /dev/shm where there is one, so files cost no disk work) holding
// \in and \out, a private registry home, the lead table and the SniffBuffer.
void initOnce();

// Writes data to the device file "\in\<inputName>" and returns its device
// path (valid until the next call).
const char* writeInput(const char* inputName, const std::uint8_t* data, std::size_t size);

// One request as the driver makes it, without detection short-cuts: the
// SniffBuffer gets the file's head, probe runs, and extract runs whatever
// probe answered (extract must be safe on input probe would have refused).
// Afterwards the tree is checked and the output folder emptied.
void probeAndExtract(FormatHandler& handler, const char* inputName, const std::uint8_t* data,
                     std::size_t size);

// Aborts when anything other than the current input file and the contents of
// \out exists below the device root; then empties \out.
void checkConfinementAndClean(const char* inputName);

// A sink for the decoder targets: counts what a member gave and reads every
// byte of it, so that the sanitizers see a write of bytes never produced.
class CountingSink : public LzhSink {
public:
    bool write(const std::uint8_t* data, std::size_t size) override {
        for (std::size_t i = 0; i < size; ++i) sum += data[i];
        total += size;
        return true;
    }
    std::uint64_t total = 0;
    unsigned sum = 0;
};

}  // namespace fuzzing

#define TOVRIN_FUZZ_INIT \
    extern "C" int LLVMFuzzerInitialize(int*, char***) { \
        fuzzing::initOnce(); \
        return 0; \
    }

// A whole target for one handler. The file's name takes part in the probe
// and in naming the outputs; the input's length picks one of the names, so
// each input behaves the same on every run.
#define TOVRIN_HANDLER_FUZZ_TARGET(Handler, ...) \
    TOVRIN_FUZZ_INIT \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
        static Handler handler; \
        static const char* const names[] = {__VA_ARGS__}; \
        fuzzing::probeAndExtract(handler, names[size % (sizeof names / sizeof names[0])], data, size); \
        return 0; \
    }
