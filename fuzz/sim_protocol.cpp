// Fuzzes zdsim's conversation handlers with any sequence of messages on one session: each
// message is a code byte, a 2-byte little-endian length and that many payload bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Protocol.h"
#include "Transcript.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

size_t CountLines(const std::string& text) {
    size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines;
}

const zdsim::TemplateCatalogue& Catalogue() {
    static zdsim::TemplateCatalogue* catalogue = [] {
        auto* made = new zdsim::TemplateCatalogue;
        std::string error;
        made->Add(
            "DECLARE TEMPLATE\n{\nSET TEMPLATE_NAME \"Fuzz\"\nSET TEMPLATE_DESC \"d\"\n"
            "SET TEMPLATE_UID 7\nSET TEMPLATE_LOGIC SINGLE\n}\n"
            "DECLARE SINGLE\n{\nSET COMMAND run\n}\n",
            "fuzz.template", error);
        return made;
    }();
    return *catalogue;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zdsim::Farm farm;
    farm.users = {{"ann", "pw", 0}, {"odd", "", 1}};
    zdsim::ProtocolSettings settings;
    size_t at = 0;
    if (size > 0) {
        // The first byte picks the faults, so they meet every conversation.
        const uint8_t faults = data[at++];
        farm.allowGuests = faults & 1;
        if (faults & 2) settings.forcedLoginResult = faults >> 4;
        if (faults & 4) settings.badTemplateUid = 7;
        if (faults & 8) settings.templateOverrides[7] = "override\n";
    }
    const zdsim::Context context{&farm, &Catalogue(), &settings};
    zdsim::Session session;
    session.client = 1;

    while (at + 3 <= size) {
        const unsigned char code = data[at];
        size_t length = data[at + 1] | size_t{data[at + 2]} << 8;
        at += 3;
        if (length > size - at) length = size - at;
        const std::string payload(reinterpret_cast<const char*>(data + at), length);
        at += length;

        const std::string line = zdsim::TranscriptLine(session.client, code, payload);
        Check(CountLines(line) == 1 && line.back() == '\n');
        bool known = false;
        const zdsim::Replies replies =
            zdsim::HandleMessage(context, session, code, payload, &known);
        Check(replies.size() == (known ? 1u : 0u));
        for (const zdsim::Reply& reply : replies) {
            switch (code) {
                case zdsim::Code::kLogin:
                    Check(reply.code == zdsim::Code::kLoginResult);
                    Check(reply.text == std::to_string(session.loginResult) + "\n");
                    break;
                case zdsim::Code::kStatusRequest:
                    Check(reply.code == zdsim::Code::kStatus && CountLines(reply.text) == 12);
                    break;
                case zdsim::Code::kHashesRequest:
                    Check(reply.code == zdsim::Code::kHashes);
                    break;
                case zdsim::Code::kTemplateRequest:
                    Check(reply.code == zdsim::Code::kTemplate && CountLines(reply.text) == 4);
                    break;
                default:
                    Check(false);
            }
        }
    }
    return 0;
}
