#include "ui/string_table.h"

namespace {

struct StringEntry {
    UINT id;
    const WCHAR* text;
};

constexpr StringEntry kStringTable[] = {
    {IDS_ERROR_CAPTION, u"Error"},
    {IDS_FILE_NOT_EXIST, u"File not exist!"},
    {IDS_FORMAT_NOT_SUPPORTED, u"Format of file not supported!"},
    {IDS_UNKNOWN_ERROR, u"Unknown error!"},
    {IDS_PROGRAM_NAME, u"Tovrin UnPacker"},
    {IDS_UNPACKED_TO, u"%s unpacked to %s"},
    {IDS_ASSOCIATE_QUESTION, u"Associate selected file type to Tovrin UnPacker?"},
    {IDS_ABOUT_TEXT,
     u"Tovrin UnPacker 1.1.\n\nSupported formats:\nLZH / ZIP / GZIP / TAR / BZIP2 / Compress / "
     u"MS CAB/ Ync / ARJ / IMP / BASE64 / UUencode / XXencode"},
};

}  // namespace

const WCHAR* stringResource(UINT id) {
    for (const StringEntry& entry : kStringTable) {
        if (entry.id == id) return entry.text;
    }
    return nullptr;
}
