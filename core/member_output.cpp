#include "core/member_output.h"

#include <cstring>

#include "core/member_path.h"
#include "core/narrow_text.h"
#include "core/progress.h"
#include "platform/file_times.h"
#include "platform/files.h"
#include "platform/text_conversion.h"

namespace {

// Large writes keep system calls few on big members; small members go out
// in one write at close.
constexpr std::size_t kBufferSize = 256 * 1024;

bool mayNameFile(unsigned char byte) {
    return byte >= 0x20 && byte != 0x7F && std::strchr(":*?\"<>|", byte) == nullptr;
}

std::int64_t unitsOf(const FILETIME& t) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

bool zoneOffsetAt(const SYSTEMTIME& calendar, std::int64_t& localToUtc) {
    FILETIME local{};
    FILETIME utc{};
    if (!SystemTimeToFileTime(&calendar, &local) || !LocalFileTimeToFileTime(&local, &utc)) return false;
    localToUtc = unitsOf(utc) - unitsOf(local);
    return true;
}

ssize_t writeToOutput(void* cookie, const char* data, std::size_t count) {
    return static_cast<MemberOutput*>(cookie)->write(data, count) ? static_cast<ssize_t>(count) : -1;
}

}  // namespace

MemberOutput::MemberOutput(const char* destFolder, MemberNames names)
    : destFolder_(memberNameToUtf16(destFolder)), names_(names) {}

MemberOutput::~MemberOutput() { abandon(); }

MemberStart MemberOutput::confine(const std::u16string& name, bool wantsFolder) {
    // Confined as UTF-8, where a separator is only ever a separator.
    std::string utf8;
    if (!utf16ToUtf8(name, utf8)) return MemberStart::Failed;
    std::string joined(utf8.size() + 3, '\0');
    if (!joinMemberPath(&joined[0], joined.size(), "", utf8.c_str(), false)) return MemberStart::NothingUsable;
    joined.resize(std::strlen(joined.c_str()));
    if (names_ == MemberNames::Sanitized) {
        for (char& c : joined) {
            if (c != '\\' && !mayNameFile(static_cast<unsigned char>(c))) c = '_';
        }
    }
    std::u16string confined;
    if (!utf8ToUtf16(joined, confined)) return MemberStart::Failed;
    path_ = destFolder_ + confined;
    bool folder = wantsFolder;
    if (path_.back() == u'\\') {
        path_.pop_back();
        folder = true;
    }
    if (path_.size() >= MAX_PATH) return MemberStart::Failed;
    if (folder) {
        if (!makeFolders(path_)) return MemberStart::Failed;
        return wantsFolder ? MemberStart::Opened : MemberStart::FolderMade;
    }
    const std::size_t last = path_.rfind(u'\\');
    if (last != std::u16string::npos && last > destFolder_.size() && !makeFolders(path_.substr(0, last))) {
        return MemberStart::Failed;
    }
    return MemberStart::Opened;
}

bool MemberOutput::makeFolders(const std::u16string& folder) {
    if (foldersMade_.count(folder)) return true;
    // Members of one folder follow each other: the deepest folder is tried
    // first, and only when its parent is missing are the levels above made.
    if (!CreateDirectoryW(folder.c_str(), nullptr)) {
        const DWORD error = GetLastError();
        if (error == ERROR_PATH_NOT_FOUND) {
            const std::size_t last = folder.rfind(u'\\');
            if (last == std::u16string::npos || last < destFolder_.size() || !makeFolders(folder.substr(0, last)) ||
                !CreateDirectoryW(folder.c_str(), nullptr)) {
                return false;
            }
        } else if (error != ERROR_ALREADY_EXISTS) {
            return false;
        } else {
            const DWORD attributes = GetFileAttributesW(folder.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
        }
    }
    foldersMade_.insert(folder);
    return true;
}

MemberStart MemberOutput::makeFolder(const char* storedName, UINT claimedCodePage) {
    abandon();
    return confine(memberNameToUtf16(storedName, claimedCodePage), true);
}

MemberStart MemberOutput::makeFolder(const WCHAR* name) {
    abandon();
    return confine(name, true);
}

MemberStart MemberOutput::open(const char* storedName, UINT claimedCodePage) {
    return start(memberNameToUtf16(storedName, claimedCodePage), nullptr);
}

MemberStart MemberOutput::open(const WCHAR* name) { return start(name, nullptr); }

MemberStart MemberOutput::openAt(const char* storedName, std::uint64_t size) {
    return start(memberNameToUtf16(storedName), &size);
}

MemberStart MemberOutput::start(const std::u16string& name, const std::uint64_t* size) {
    abandon();
    const MemberStart confined = confine(name, false);
    if (confined != MemberStart::Opened) return confined;
    replaced_ = false;
    descriptor_ = size ? openMemberFileAt(path_.c_str(), *size) : openMemberFile(path_.c_str(), replaced_);
    if (descriptor_ < 0) return MemberStart::Failed;
    // The one place that tells the progress display about a member.
    if (!size) reportOutputCreated(path_.c_str());
    if (buffer_.empty()) buffer_.resize(kBufferSize);
    buffered_ = 0;
    failed_ = false;
    position_ = writtenEnd_ = size ? *size : 0;
    return MemberStart::Opened;
}

bool MemberOutput::flush() {
    if (buffered_ == 0) return !failed_;
    const std::uint64_t at = position_ - buffered_;
    if (!failed_ && !writeMemberFile(descriptor_, at, buffer_.data(), buffered_)) failed_ = true;
    buffered_ = 0;
    writtenEnd_ = position_;
    reportOutputWritten();
    return !failed_;
}

bool MemberOutput::write(const void* data, std::size_t count) {
    if (descriptor_ < 0 || failed_) return false;
    const char* in = static_cast<const char*>(data);
    if (buffered_ + count > buffer_.size()) {
        if (!flush()) return false;
        if (count >= buffer_.size()) {
            if (!writeMemberFile(descriptor_, position_, in, count)) return !(failed_ = true);
            position_ += count;
            writtenEnd_ = position_;
            reportOutputWritten();
            return true;
        }
    }
    std::memcpy(buffer_.data() + buffered_, in, count);
    buffered_ += count;
    position_ += count;
    return true;
}

bool MemberOutput::skip(std::uint64_t count) {
    if (descriptor_ < 0 || !flush()) return false;
    position_ += count;
    return true;
}

std::FILE* MemberOutput::stream() {
    if (stream_ == nullptr && descriptor_ >= 0) {
        cookie_io_functions_t functions{};
        functions.write = writeToOutput;
        stream_ = fopencookie(this, "w", functions);
        if (stream_) std::setvbuf(stream_, nullptr, _IONBF, 0);
    }
    return stream_;
}

bool MemberOutput::close(const FILETIME* lastWrite, const FILETIME* lastAccess, DWORD attributes) {
    if (descriptor_ < 0) return false;
    if (stream_ && std::fclose(stream_) != 0) failed_ = true;
    stream_ = nullptr;
    const bool flushed = flush();
    const bool finished = finishMemberFile(descriptor_, position_, position_ > writtenEnd_, lastWrite, lastAccess,
                                           attributes, replaced_);
    descriptor_ = -1;
    return flushed && finished;
}

void MemberOutput::abandon() {
    if (stream_) std::fclose(stream_);
    stream_ = nullptr;
    if (descriptor_ >= 0) {
        flush();
        abandonMemberFile(descriptor_);
    }
    descriptor_ = -1;
}

FILETIME MemberOutput::fileTimeFromDos(std::uint32_t dosDateTime) {
    const std::uint32_t date = dosDateTime >> 16;
    const std::uint32_t time = dosDateTime & 0xFFFF;
    SYSTEMTIME calendar{};
    calendar.wYear = static_cast<WORD>((date >> 9) + 1980);
    calendar.wMonth = static_cast<WORD>((date >> 5) & 15);
    calendar.wDay = static_cast<WORD>(date & 31);
    calendar.wHour = static_cast<WORD>(time >> 11);
    calendar.wMinute = static_cast<WORD>((time >> 5) & 63);
    calendar.wSecond = static_cast<WORD>((time & 31) * 2);
    FILETIME local{};
    if (!SystemTimeToFileTime(&calendar, &local)) return FILETIME{};
    // Asking the system for the zone costs file system calls; a day without
    // a change of offset is asked about once.
    if (!zoneValid_ || zoneDay_ != date) {
        SYSTEMTIME dayStart = calendar;
        dayStart.wHour = dayStart.wMinute = dayStart.wSecond = 0;
        SYSTEMTIME dayEnd = calendar;
        dayEnd.wHour = 23;
        dayEnd.wMinute = dayEnd.wSecond = 59;
        std::int64_t atEnd = 0;
        zoneValid_ = zoneOffsetAt(dayStart, localToUtc_) && zoneOffsetAt(dayEnd, atEnd);
        zoneUniform_ = zoneValid_ && atEnd == localToUtc_;
        zoneDay_ = date;
    }
    std::int64_t localToUtc = localToUtc_;
    if (!zoneUniform_ && !zoneOffsetAt(calendar, localToUtc)) return FILETIME{};
    const std::int64_t utc = unitsOf(local) + localToUtc;
    if (utc <= 0) return FILETIME{};
    return FILETIME{static_cast<DWORD>(static_cast<std::uint64_t>(utc) & 0xFFFFFFFFu),
                    static_cast<DWORD>(static_cast<std::uint64_t>(utc) >> 32)};
}
