// What an operation of the ZIP reader layer came to.
#pragma once

enum class ZipResult {
    Ok,
    // The archive cannot be opened, an item's target cannot be created, or
    // an item's name cannot be a path on the device (too long).
    NoFile,
    NoMemory,
    // Writing an item's target failed.
    Write,
    // The central directory ends before the item asked for.
    NotFound,
    // A local header disagrees with its central entry, or an item's data
    // fails its CRC-32 or size.
    Corrupt,
    // The archive cannot be read where it should be.
    Read,
    // A method or an encryption this reader cannot decode (bzip2, LZMA,
    // AES, ...): refused rather than written as garbage.
    Unsupported,
    // The password is wrong or missing.
    Password,
    // The caller's arguments do not fit the handle.
    Args,
    // Deflated data is damaged.
    Flate,
};
