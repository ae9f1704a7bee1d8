// Fuzzes utmp decoding and the session rules over whatever records the bytes make: counts never
// exceed the records and the console user always fits its field.
#include <utmp.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "../ZRFramework/platform/posix/UtmpSessions.h"

namespace SS = ZRFramework::ZRPlatform;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<struct utmp> records = SS::DecodeUtmpRecords(data, size);
    Check(records.size() == size / sizeof(struct utmp));

    const SS::SessionCounts counts = SS::CountSessions(records);
    Check(counts.console >= 0 && counts.remote >= 0);
    Check(static_cast<size_t>(counts.console) + static_cast<size_t>(counts.remote) <=
          records.size());

    std::string user = "unchanged";
    const bool found = SS::FindConsoleUser(records, user);
    Check(found == (counts.console > 0));
    if (found) {
        Check(!user.empty() && user.size() <= sizeof records[0].ut_user);
        Check(user.find('\0') == std::string::npos);
    } else {
        Check(user == "unchanged");
    }
    return 0;
}
