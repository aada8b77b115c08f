// The end records of an archive, as minizip is to read them.
#pragma once

#include "formats/zip/zip_byte_source.h"

// Some writers put 0xFFFF / 0xFFFFFFFF in every field of the classic end
// record, its disk numbers included, keep the true values in the Zip64 end
// record, and count no disks in the Zip64 locator. minizip reads the Zip64
// record only through a locator that counts one disk, and otherwise takes
// the classic disk numbers at their word (a spanned archive, refused). When
// a classic field is at its maximum and the locator leads to a Zip64 record
// (inside the file, before the locator) that describes a single-disk
// archive, minizip is shown a locator that counts one disk. Anything else
// is left as it is, for minizip to accept or refuse.
void mendZip64EndRecords(ZipByteSource* source);
