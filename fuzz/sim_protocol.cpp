// Fuzzes zdsim's conversation handlers with any sequence of messages on one session: each
// message is a code byte, a 2-byte little-endian length and that many payload bytes. Commands
// and submissions change a copy of a small generated farm; listing requests start a listing
// over the original that the acknowledgements drive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <memory>

#include "Listings.h"
#include "PayloadText.h"
#include "Protocol.h"
#include "Records.h"
#include "Transcript.h"
#include "ZRSocket.h"

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

const zdsim::Farm& ListedFarm() {
    static const zdsim::Farm* farm = [] {
        zdsim::GeneratorSpec spec;
        spec.jobs = 30;
        spec.nodes = 8;
        spec.chunksPerJob = 3;
        spec.logs = 5;
        return new zdsim::Farm(zdsim::GenerateFarm(spec));
    }();
    return *farm;
}

// Checks what a listing produced: whole frames, in the order start, records, end, and in
// lockstep never more than the acknowledgements allow.
struct ListingCheck {
    std::unique_ptr<zdsim::ListingConversation> listing;
    size_t frames = 0;

    void Produce(size_t budget, bool lockstep) {
        std::string out;
        listing->Produce(out, budget, false);
        const zdsim::ListingCodes& codes = listing->Codes();
        size_t at = 0;
        while (at < out.size()) {
            uint64_t size = 0;
            Check(ZRFramework::ZRSocket::ScanFrame(out.data() + at, out.size() - at, &size) ==
                  ZRFramework::ZRSocket::FrameStatus::kComplete);
            const unsigned char code = static_cast<unsigned char>(out[at + 5]);
            const size_t index = frames++;
            const unsigned char wanted = index == 0                        ? codes.start
                                         : index <= listing->RecordCount() ? codes.record
                                                                           : codes.end;
            Check(code == wanted);
            at += size;
        }
        if (lockstep) Check(frames <= listing->AcksReceived() + 1);
        Check(listing->Sent() == (frames == listing->RecordCount() + 2));
    }
};

void CheckStatistics(const std::string& reply) {
    Check(CountLines(reply) == 1);
    std::string text;
    Check(zdProtocol::DecodeBase64(reply.substr(0, reply.size() - 1), text));
    Check(CountLines(text) == zdsim::kStatisticsLines);
}

// An accepted submission names a job now on the farm, whose record has all its lines.
void CheckSubmission(const zdsim::Farm& farm, const zdsim::Reply& reply) {
    Check(CountLines(reply.text) == 1);
    if (reply.code != zdsim::Code::kSubmitted) {
        Check(reply.code == zdsim::Code::kRefused || reply.code == zdsim::Code::kRefusedContent);
        return;
    }
    const zdsim::Job* job = farm.FindJob(std::atol(reply.text.c_str()));
    Check(job != nullptr && job->attributes.size() <= zdsim::kMaxAttributes);
    Check(CountLines(zdsim::JobRecord(*job)) == zdsim::kJobLines);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zdsim::Farm farm = ListedFarm();
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
        settings.checkEngines = faults & 16;
        settings.refuseSubmissions = faults & 32;
    }
    const zdsim::Context context{&farm, &Catalogue(), &settings};
    zdsim::Session session;
    session.client = 1;
    const bool lockstep = size > 0 && (data[0] & 0x80) != 0;
    zdsim::RecordCache cache(ListedFarm());
    ListingCheck listing;

    while (at + 3 <= size) {
        const unsigned char code = data[at];
        size_t length = data[at + 1] | size_t{data[at + 2]} << 8;
        at += 3;
        if (length > size - at) length = size - at;
        const std::string payload(reinterpret_cast<const char*>(data + at), length);
        at += length;

        const std::string line = zdsim::TranscriptLine(session.client, code, payload);
        Check(CountLines(line) == 1 && line.back() == '\n');
        // The payload's length doubles as the batch budget, so batches of every size occur.
        const size_t budget = 1 + length * 16;
        if (const auto kind = zdsim::ListingRequested(code)) {
            listing.listing = std::make_unique<zdsim::ListingConversation>(*kind, payload, cache,
                                                                           ListedFarm(), lockstep);
            listing.frames = 0;
            listing.Produce(budget, lockstep);
            continue;
        }
        if (listing.listing != nullptr && code == listing.listing->Codes().ack) {
            const size_t before = listing.listing->AcksUnexpected();
            const bool expected = listing.listing->Acknowledge(payload);
            Check(listing.listing->AcksUnexpected() == before + (expected ? 0 : 1));
            listing.Produce(budget, lockstep);
            continue;
        }
        bool known = false;
        const zdsim::Replies replies =
            zdsim::HandleMessage(context, session, code, payload, &known);
        // Node, job and chunk commands and the soft restart are never answered.
        const bool answered = code == zdsim::Code::kSelectionLogic ||
                              code == zdsim::Code::kStatisticsReset ||
                              code == zdsim::Code::kPasswordChange ||
                              code == zdsim::Code::kNewJob || code == zdsim::Code::kEditedJob ||
                              code == zdsim::Code::kNewFolder || !zdsim::ChangesFarm(code);
        const bool silent = code == zdsim::Code::kSoftRestart || !answered;
        Check(replies.size() == (known && !silent ? 1u : 0u));
        for (const zdsim::Reply& reply : replies) {
            switch (code) {
                case zdsim::Code::kLogin:
                    Check(reply.code == zdsim::Code::kLoginResult);
                    Check(reply.text == std::to_string(session.loginResult) + "\n");
                    break;
                case zdsim::Code::kStatusRequest:
                case zdsim::Code::kSelectionLogic:
                case zdsim::Code::kStatisticsReset:
                    Check(reply.code == zdsim::Code::kStatus && CountLines(reply.text) == 12);
                    break;
                case zdsim::Code::kPasswordChange:
                    Check(reply.code == zdsim::Code::kPasswordResult &&
                          (reply.text == "0\n" || reply.text == "1\n"));
                    break;
                case zdsim::Code::kNewJob:
                case zdsim::Code::kEditedJob:
                case zdsim::Code::kNewFolder:
                    CheckSubmission(farm, reply);
                    break;
                case zdsim::Code::kHashesRequest:
                    Check(reply.code == zdsim::Code::kHashes);
                    break;
                case zdsim::Code::kTemplateRequest:
                    Check(reply.code == zdsim::Code::kTemplate && CountLines(reply.text) == 4);
                    break;
                case zdsim::Code::kStatisticsRequest:
                    Check(reply.code == zdsim::Code::kStatistics);
                    CheckStatistics(reply.text);
                    break;
                default:
                    Check(false);
            }
        }
    }
    return 0;
}
