// Fuzzes zdsim's farm loader: any bytes either load into a consistent farm or give an error,
// never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "FarmModel.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    zdsim::Farm farm;
    farm.host = "before";
    std::string error;
    if (!zdsim::LoadFarm(text, farm, error)) {
        Check(!error.empty());
        Check(farm.host == "before");
        return 0;
    }
    std::set<long> ids;
    for (const zdsim::Job& job : farm.jobs) {
        Check(job.id > 0 && ids.insert(job.id).second);
        Check(!job.name.empty());
        std::set<long> chunkIds;
        for (const zdsim::Chunk& chunk : job.chunks)
            Check(chunk.id > 0 && chunkIds.insert(chunk.id).second);
    }
    ids.clear();
    std::set<std::string> names;
    for (const zdsim::Node& node : farm.nodes) {
        Check(node.id > 0 && ids.insert(node.id).second);
        Check(names.insert(node.name).second);
    }
    for (const zdsim::Pool& pool : farm.pools)
        for (const std::string& member : pool.members)
            Check(farm.FindNodeByName(member) != nullptr);
    for (const zdsim::User& user : farm.users)
        Check(farm.FindUser(user.name) == &user);
    return 0;
}
