// The DeviceUDID identifier: one 40-hexadecimal-digit device identifier that every app of the
// device agrees on, kept in a store that all of them read and write.
//
// The store is one record per app in its user defaults (key "DeviceUDID") and up to 100 shared
// copies on the named pasteboards "org.DeviceUDID.slot.0" to "org.DeviceUDID.slot.99", each a
// keyed archive of an app's record under the pasteboard type "org.DeviceUDID". A record is a
// dictionary:
//
//     "DeviceUDID"            the identifier, 40 lowercase hexadecimal digits
//     "DeviceUDID_appUID"     the unique id of the app that wrote it (a UUID text)
//     "DeviceUDID_slot"       the name of that app's pasteboard
//     "DeviceUDID_createdTS"  when the record was made (a date)
//     "DeviceUDID_optOutTS"   while the app is opted out: since when (a date)
//
// Other copies of this routine read and write the same store, so the format is fixed.
//
// Every call may come from any thread. Walks of the store are serialised within the process
// and, through a lock file beside the pasteboards, across the processes that share them, so
// that apps started together still agree on one identifier.
#pragma once

#include <string>

#include "platform/Error.h"
#include "platform/Pasteboard.h"
#include "platform/Value.h"

class DUdUdirodDeviceUDID {
  public:
    static constexpr const char* kErrorDomain = "org.DeviceUDID";
    static constexpr const char* kDescriptionKey = "description";
    enum ErrorCode : long {
        kDelivered = 0,
        kOptedOut = 1,
        kCompromised = 2,  // the local record differs from the most frequent shared copy
    };

    static constexpr const char* kRecordKey = "DeviceUDID";
    static constexpr const char* kAppUIDKey = "DeviceUDID_appUID";
    static constexpr const char* kSlotKey = "DeviceUDID_slot";
    static constexpr const char* kCreatedKey = "DeviceUDID_createdTS";
    static constexpr const char* kOptOutKey = "DeviceUDID_optOutTS";
    static constexpr const char* kSlotPrefix = "org.DeviceUDID.slot.";
    static constexpr const char* kPasteboardType = "org.DeviceUDID";
    static constexpr int kSlotCount = 100;

    // valueWithError without the error.
    static std::string value();

    // The identifier, or 40 zeros while this app is opted out. The first answer of the
    // process is kept and given again (code 0, "in cache") until setOptOut.
    static std::string valueWithError(platform::Error* error);

    // Records or clears this app's opt-out, in its own record and in its shared copy, and
    // lets the next call walk the store again.
    static void setOptOut(bool optOut);

    // The record on a pasteboard; empty when there is none or it is not a keyed archive of a
    // dictionary.
    static platform::Map getDictFromPasteboard(const platform::Pasteboard& pasteboard);
    static bool setDictForPasteboard(const platform::Map& dict, platform::Pasteboard& pasteboard);

    // MD5 of a new UUID's text (32 lowercase digits) and a random 32-bit number (8 digits).
    static std::string generateFreshDeviceUDID();

    // Forgets the process's answer, so that the next call walks the store again: for a store
    // changed behind the process's back (tests).
    static void clearProcessCache();
};
