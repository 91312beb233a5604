/// \file
/// What the XRQ5 libraries export. They are built with hidden visibility: only the
/// calls and classes marked XRQ5_API here and in the other installed headers are part
/// of their dynamic interface; everything else stays inside the library that holds it.
/// The event-utility calls of event_util.h are not marked: they come from
/// libXRQ5evutl, or from the framework's own library in its place.
#ifndef XRQ5_EXPORT_H
#define XRQ5_EXPORT_H

/// Marks a call or class as part of a library's dynamic interface.
#define XRQ5_API __attribute__((visibility("default")))
/// A private member of an exported class that callers cannot reach anyway.
#define XRQ5_LOCAL __attribute__((visibility("hidden")))

#endif  // XRQ5_EXPORT_H
