// ReadEach: drives an entry reader of these formats (the vCard reader, the
// iCalendar reader) to the end of its input. Such a reader's Next(entry, error)
// gives Result::kEnd at the end, Result::kError with error filled, and any other
// result with entry filled; ReadEach hands each entry to onEntry and each error to
// onError, in the order of the input. The entry and the error are reused from one
// call to the next.
//
// Thread use: the thread that owns the reader.
#pragma once

namespace vcard {

template <typename Entry, typename Error, typename Reader, typename OnEntry, typename OnError>
void ReadEach(Reader& reader, OnEntry&& onEntry, OnError&& onError) {
    Entry entry;
    Error error;
    for (;;) {
        const typename Reader::Result r = reader.Next(entry, error);
        if (r == Reader::Result::kEnd) return;
        if (r == Reader::Result::kError)
            onError(static_cast<const Error&>(error));
        else
            onEntry(static_cast<const Entry&>(entry));
    }
}

}  // namespace vcard
