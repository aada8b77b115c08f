// Where the registry file lives and how it is read and replaced: every call
// reads the file afresh, so several running copies (and people editing the
// file by hand) always agree on what it holds. Writers serialise on an
// flock()ed lock file beside it, re-read the file under that lock, and
// replace it by rename, so a reader sees either the old or the new file and a
// crash leaves one of them.
#pragma once

#include <functional>

#include "platform/registry_format.h"

namespace registry {

// The store as the file holds it now; a missing file is an empty store, an
// unreadable one is set aside and the store starts empty.
LONG loadStore(Store& store);

// One write: lock, re-read, change, replace. `change` returns an error code
// and sets `changed` when the store differs afterwards; an unchanged store is
// not rewritten.
LONG modifyStore(const std::function<LONG(Store& store, bool& changed)>& change);

}  // namespace registry
