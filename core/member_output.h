// The one way archive handlers write their members. A MemberOutput lives for
// one extraction request: it confines each stored name below the destination
// folder, makes the folders (each at most once per request), creates the
// file, writes it in large pieces, then gives it its time and attributes and
// reports it to the progress display.
//
// Safety: a name never leads outside the destination (joinMemberPath); a
// symbolic link, folder, FIFO, device or read-only file is never written
// into; an existing file is replaced only once it is known to be writable.
// A name is read in the encoding it claims (the OEM code page unless said
// otherwise); names whose bytes do not decode are written all the same, with
// the bytes made visible (memberNameToUtf16).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/text_conversion.h"
#include "platform/win_types.h"

// How stored names are turned into file names.
enum class MemberNames {
    // Bytes a file name may not hold (controls and ":*?\"<>|") become `_`.
    Sanitized,
    // The name is used as stored, once confined.
    AsStored,
};

enum class MemberStart {
    Opened,
    // open() of a name that ends in a separator made that folder instead.
    FolderMade,
    // Nothing usable is left of the name ("/", "..", an empty name).
    NothingUsable,
    // Too long for a path, or the folder or file cannot be made.
    Failed,
};

class MemberOutput {
public:
    MemberOutput(const char* destFolder, MemberNames names);
    ~MemberOutput();
    MemberOutput(const MemberOutput&) = delete;
    MemberOutput& operator=(const MemberOutput&) = delete;

    // Creates the file for storedName, its folders first. claimedCodePage:
    // CP_UTF8 for a name that says it is UTF-8, else the OEM code page.
    MemberStart open(const char* storedName, UINT claimedCodePage = CP_OEMCP);
    // The same for a name already decoded (the ZIP reader layer's names).
    MemberStart open(const WCHAR* name);
    // Opens the existing file for storedName to go on at its end, which
    // must be at size (a member continued from the previous volume).
    MemberStart openAt(const char* storedName, std::uint64_t size);
    // Makes the folder storedName names (a folder entry).
    MemberStart makeFolder(const char* storedName, UINT claimedCodePage = CP_OEMCP);
    MemberStart makeFolder(const WCHAR* name);

    bool write(const void* data, std::size_t count);
    // Moves forward without writing: the skipped bytes read as zeros (a
    // hole where the file system keeps them).
    bool skip(std::uint64_t count);
    // A stdio stream that writes through this output (for decoders that
    // write to a FILE*); closed by close() or abandon().
    std::FILE* stream();

    // Ends the member at its current position, sets the times that are not
    // null and the attribute bits (0x01 read-only, 0x02 hidden, 0x04
    // system; others are ignored) and closes it. False when any write or
    // the close failed.
    bool close(const FILETIME* lastWrite, const FILETIME* lastAccess, DWORD attributes);
    // Closes a member that failed; no time or attributes are set.
    void abandon();

    // A DOS date and time (date in the high 16 bits) is local time; an
    // invalid one gives the zero time, which close() leaves alone.
    FILETIME fileTimeFromDos(std::uint32_t dosDateTime);

private:
    MemberStart confine(const std::u16string& name, bool folder);
    bool makeFolders(const std::u16string& folder);
    MemberStart start(const std::u16string& name, const std::uint64_t* size);
    bool flush();

    std::u16string destFolder_;
    MemberNames names_;
    std::u16string path_;  // of the open (or last) member
    std::unordered_set<std::u16string> foldersMade_;
    std::vector<char> buffer_;
    std::size_t buffered_ = 0;
    int descriptor_ = -1;
    bool replaced_ = false;
    bool failed_ = false;
    std::uint64_t position_ = 0;  // where the next byte goes
    std::uint64_t writtenEnd_ = 0;
    std::FILE* stream_ = nullptr;
    // The zone's offset for the last local day asked about, when it holds
    // all day long: the items of one archive mostly share a few days.
    bool zoneValid_ = false;
    bool zoneUniform_ = false;
    std::uint32_t zoneDay_ = 0;
    std::int64_t localToUtc_ = 0;
};
